#include "sync/MixerRig.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

namespace zelto::test {

MixerRig::~MixerRig() {
    for (auto& m : mixers) {
        if (m.device) m.device->disconnect();
        m.device.reset();
    }
    mixers.clear();
    pool_.stop();
}

MixerRig::Mixer& MixerRig::add(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& presets,
                               std::vector<std::string> simArgs) {
    Mixer mixer;
    mixer.address = "127.0.0." + std::to_string(mixers.size() + 2);
    mixer.folder = std::make_unique<TempFolder>();
    for (const auto& [name, bytes] : presets) {
        std::ofstream(mixer.folder->path() + name + ".ZELTOshow", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> args = {"--name",   "Sim" + std::to_string(mixers.size() + 1),
                                     "--serial", "SN" + std::to_string(mixers.size() + 1),
                                     "--uid",    "uid-" + std::to_string(mixers.size() + 1)};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    mixer.sim = std::make_unique<SimProcess>(mixer.address, mixer.folder->path(), args);
    mixers.push_back(std::move(mixer));
    return mixers.back();
}

void MixerRig::connectAll() {
    std::uint16_t port = 9112;
    for (auto& m : mixers) {
        if (m.device) continue;
        m.device = ZeltoDevice::make(pool_.context(), OSCEndpoint{m.address, 9110}, port++, std::nullopt);
        run(m.device->connect(5'000'000'000));
    }
}

std::vector<DevicePtr> MixerRig::devices() const {
    std::vector<DevicePtr> result;
    for (auto& m : mixers) result.push_back(m.device);
    return result;
}

std::vector<std::string> MixerRig::presetNames(
    Mixer& mixer, const std::function<bool(const std::vector<std::string>&)>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<std::string> names;
    do {
        names.clear();
        try {
            for (auto& p : run(mixer.device->requestPresetList(1'000'000'000))) names.push_back(p.name);
        } catch (const std::exception&) {
            continue;
        }
        std::sort(names.begin(), names.end());
    } while (!done(names) && std::chrono::steady_clock::now() < deadline);
    return names;
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace zelto::test
