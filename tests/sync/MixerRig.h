#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "async/Executor.h"
#include "device/ZeltoDevice.h"
#include "support/SimProcess.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto::test {

// Simulated mixers on loopback addresses (127.0.0.2, .3, ...), each with a
// preset folder of its own, and sessions with them from this process.
class MixerRig {
  public:
    struct Mixer {
        std::string address;
        std::unique_ptr<TempFolder> folder;
        std::unique_ptr<SimProcess> sim;
        DevicePtr device;
    };

    ~MixerRig();

    // Writes `presets` (name -> bytes) into a new mixer's folder and starts it.
    Mixer& add(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& presets,
               std::vector<std::string> simArgs = {});
    // Opens a session with every mixer added so far.
    void connectAll();
    std::vector<DevicePtr> devices() const;

    template <class T>
    T run(Task<T> task) {
        return blockOn(pool_.executor(), std::move(task));
    }
    void run(Task<void> task) { blockOn(pool_.executor(), std::move(task)); }
    Executor executor() { return pool_.executor(); }

    // The mixer's own list, asked until `done` holds it or 10 s pass (a
    // mixer stores received presets a little after the last datagram).
    std::vector<std::string> presetNames(Mixer& mixer,
                                         const std::function<bool(const std::vector<std::string>&)>& done);

    std::deque<Mixer> mixers;  // a deque: add() hands out references that stay valid

  private:
    IoPool pool_{2};
};

std::vector<std::uint8_t> fileBytes(const std::string& path);

}  // namespace zelto::test
