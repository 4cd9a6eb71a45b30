#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/ZeltoDeviceType.h"

namespace zelto {

class OSCMessage;

// One "/ZELTOapp/control/UserInfo" message: the device's identity and one of its users.
struct UserInfo {
    std::string serialNumber;
    ZeltoDeviceType deviceType = ZeltoDeviceType::orvel;
    std::string version;
    std::string name;
    std::int64_t numberOfInputs = 0;
    std::int64_t numberOfOutputs = 0;
    std::string uid;
    std::uint32_t userNumber = 0;
    std::string userName;
    std::string userIcon;
    std::int64_t userHideMix = 0;
    std::string userPhaseInvert;

    // None when the message is too short, an argument has the wrong kind, the
    // type text is unknown, or the user number is negative.
    static std::optional<UserInfo> fromMessage(const OSCMessage& message);

    static constexpr std::size_t minimumArgumentCount = 18;
    // The uid sits at 18 in a 19-argument message and at 17 otherwise.
    static std::size_t uidIndex(std::size_t argumentCount) { return argumentCount == 19 ? 18 : 17; }
};

}  // namespace zelto
