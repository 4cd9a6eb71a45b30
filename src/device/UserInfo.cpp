#include "device/UserInfo.h"

#include "osc/OSCMessage.h"

namespace zelto {

namespace {

struct Reader {
    const OSCValueList& values;
    bool ok = true;

    std::string text(std::size_t index) {
        auto v = values[index].asString();
        if (!v) ok = false;
        return v ? std::string(*v) : std::string();
    }
    std::int32_t integer(std::size_t index) {
        auto v = values[index].asInt32();
        if (!v) ok = false;
        return v.value_or(0);
    }
};

}  // namespace

std::optional<UserInfo> UserInfo::fromMessage(const OSCMessage& message) {
    const auto& values = message.values();
    if (values.size() < minimumArgumentCount) return std::nullopt;
    Reader read{values};
    UserInfo info;
    info.userName = read.text(0);
    info.userIcon = read.text(1);
    std::int32_t userNumber = read.integer(2);
    info.serialNumber = read.text(4);
    info.version = read.text(8);
    info.name = read.text(11);
    info.numberOfInputs = read.integer(12);
    info.numberOfOutputs = read.integer(13);
    info.userHideMix = read.integer(15);
    info.userPhaseInvert = read.text(16);
    info.uid = read.text(uidIndex(values.size()));
    if (!read.ok || userNumber < 0) return std::nullopt;
    info.userNumber = static_cast<std::uint32_t>(userNumber);
    auto typeText = values[7].asString();
    auto type = zeltoDeviceTypeFromRawValue(typeText.value_or(std::string_view()));
    if (!type) return std::nullopt;
    info.deviceType = *type;
    return info;
}

}  // namespace zelto
