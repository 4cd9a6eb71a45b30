// Every datagram a device may send, through the device decoder and the
// parsers that read its messages: UserInfo, preset segments and list names.
#include <cstddef>
#include <cstdint>

#include "device/PresetSegmentHandler.h"
#include "device/RemoteZeltoPreset.h"
#include "device/UserInfo.h"
#include "device/ZeltoOSCDecoder.h"
#include "osc/OSCBundle.h"

namespace {

zelto::PresetSegmentAssembler assembler;

void visit(const zelto::OSCObject& object) {
    if (const auto* bundle = object.bundle()) {
        for (const auto& element : bundle->elements()) visit(element);
        return;
    }
    const auto& message = *object.message();
    (void)zelto::UserInfo::fromMessage(message);
    const auto& v = message.values();
    for (const auto& value : v) {
        if (auto text = value.asString()) (void)zelto::RemoteZeltoPreset(std::string(*text)).extendedName();
    }
    if (v.size() == 6 && v[0].asString() && v[1].asData() && v[2].asInt32() && v[3].asInt32()) {
        zelto::PresetSegment segment;
        segment.presetName = std::string(*v[0].asString());
        segment.bytes.assign(v[1].asData()->begin(), v[1].asData()->end());
        segment.index = *v[2].asInt32();
        segment.totalCount = *v[3].asInt32();
        (void)assembler.add(std::move(segment));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        auto object = zelto::ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(data, size));
        if (object) visit(*object);
    } catch (const std::exception&) {
    }
    return 0;
}
