#pragma once

#include <string>

#include "sync/ZeltoPresetManager.h"

namespace zelto {

// What the device information sheet shows of a mixer: each field is the empty
// text until the mixer has reported it (and for no device at all).
struct DeviceInformation {
    std::string name;
    std::string serialNumber;
    // The model's type text, such as "ZELTO:orvel".
    std::string type;
    std::string version;
    std::string uid;
    // One line per mix: the user number, a space and the mix's name, each
    // followed by a line feed, by ascending user number.
    std::string mixes;

    static DeviceInformation of(const DevicePtr& device);
};

}  // namespace zelto
