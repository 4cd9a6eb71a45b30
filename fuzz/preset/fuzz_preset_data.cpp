// Arbitrary bytes as preset XML: reading must fail cleanly, or give a preset whose written form reads
// back. (Writing twice need not give the same bytes: groups sharing an id duplicate their channels
// on every write.)

#include <cstdint>
#include <cstdlib>
#include <span>

#include "preset/ZeltoPreset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelto;
    std::optional<ZeltoPreset> preset;
    try {
        preset.emplace(ZeltoPreset::fromData(std::span<const std::uint8_t>(data, size)));
    } catch (const QVXMLParserError&) {
        return 0;
    } catch (const QVXMLDecodingError&) {
        return 0;
    }
    std::vector<std::uint8_t> written;
    try {
        written = preset->toData();
    } catch (const QVXMLEncodingError&) {
        return 0;
    }
    try {
        ZeltoPreset again = ZeltoPreset::fromData(written);
        if (again.name != preset->name || again.userList.users.size() != preset->userList.users.size())
            std::abort();
    } catch (const std::exception&) {
        std::abort();
    }
    return 0;
}
