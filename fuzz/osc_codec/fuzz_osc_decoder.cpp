// Decodes arbitrary datagrams. Codec errors are the expected outcome of bad
// input; anything else escaping, a sanitizer report, or a decoded object that
// does not survive encode -> decode -> encode unchanged is a fault.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "osc/OSCAddressPattern.h"
#include "osc/OSCDecoder.h"

using namespace zelto;

namespace {

template <class Decode>
std::shared_ptr<OSCObject> decodeOrNull(Decode&& decode) {
    try {
        return decode();
    } catch (const OSCDecoderError&) {
    } catch (const OSCMessageError&) {
    } catch (const OSCBundleError&) {
    } catch (const OSCTypeTagStringError&) {
    } catch (const OSCValueError&) {
    }
    return nullptr;
}

void matchStringsAsPatterns(const OSCObject& object) {
    if (const auto* message = object.message()) {
        for (const auto& value : message->values()) {
            auto text = value.asString();
            if (!text) continue;
            if (auto pattern = OSCAddressPattern::make(*text)) (void)pattern->matches(message->address());
        }
    } else {
        for (const auto& element : object.bundle()->elements()) matchStringsAsPatterns(element);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    auto first = decodeOrNull([&] { return OSCStandardDecoder::parse(bytes); });
    // In place over a received datagram's buffer: the same outcome, and the
    // object outlives the datagram's handle.
    auto datagram = OSCDatagram::copyOf(bytes);
    auto inPlace = decodeOrNull([&] { return OSCStandardDecoder::parseDatagram(datagram); });
    datagram = OSCDatagram();
    if (!first != !inPlace) std::abort();
    if (!first) return 0;
    if (inPlace->encode() != first->encode()) std::abort();
    // Weighed by every receive queue: never less than the bytes it holds.
    if (inPlace->memoryFootprint() < bytes.size() || first->memoryFootprint() < sizeof(OSCObject))
        std::abort();
    inPlace.reset();
    (void)first->description();
    matchStringsAsPatterns(*first);

    // A decoded object is always encodable, and its encoding is canonical.
    auto encoded = first->encode();
    if (encoded.size() != first->oscSize()) std::abort();
    auto second = OSCStandardDecoder::parse(std::span<const std::uint8_t>(encoded));
    if (!second || second->encode() != encoded) std::abort();
    if (second->description() != first->description()) std::abort();
    return 0;
}
