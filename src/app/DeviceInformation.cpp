#include "app/DeviceInformation.h"

#include "device/ZeltoDevice.h"
#include "preset/ZeltoPreset.h"

namespace zelto {

DeviceInformation DeviceInformation::of(const DevicePtr& device) {
    DeviceInformation info;
    if (!device) return info;
    info.name = device->name().value_or("");
    info.serialNumber = device->serialNumber().value_or("");
    if (const auto type = device->type()) info.type = rawValue(*type);
    info.version = device->version().value_or("");
    info.uid = device->uid().value_or("");
    for (const auto& [number, user] : device->users())
        info.mixes += std::to_string(number) + " " + user.name + "\n";
    return info;
}

}  // namespace zelto
