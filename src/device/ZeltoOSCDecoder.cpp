#include "device/ZeltoOSCDecoder.h"

#include <cstring>
#include <vector>

#include "async/Log.h"
#include "preset/Gzip.h"

namespace zelto {

namespace {

bool looksLikeDeviceZlib(std::span<const std::uint8_t> data) {
    return data.size() >= 2 && data[0] == 0x78 && (data[1] == 0x01 || data[1] == 0xDA);
}

}  // namespace

std::shared_ptr<OSCObject> ZeltoOSCDecoder::parse(OSCDataView data) {
    std::vector<std::uint8_t> inflated;
    if (data && looksLikeDeviceZlib(*data)) {
        try {
            inflated = gzip::decompress(*data, 0, maxInflatedSize);
        } catch (const GzipError&) {
            throw OSCDecoderError(OSCDecoderError::Case::dataIsNotOSC);
        }
        data = std::span<const std::uint8_t>(inflated);
    }
    if (data && data->size() >= 5 && std::memcmp(data->data(), "<?xml", 5) == 0) {
        logLine(LogCategory::device, LogLevel::debug, "found XML");
        return nullptr;
    }
    return OSCStandardDecoder::parse(data);
}

}  // namespace zelto
