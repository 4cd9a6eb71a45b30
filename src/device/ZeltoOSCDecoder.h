#pragma once

#include <cstddef>
#include <memory>

#include "osc/OSCDecoder.h"

namespace zelto {

// Decodes a device's datagram: a zlib stream (header 78 01 or 78 DA) is
// inflated first, XML is dropped (no object), anything else goes to the
// standard decoder.
struct ZeltoOSCDecoder {
    // A datagram may not inflate past this.
    static constexpr std::size_t maxInflatedSize = std::size_t{4} << 20;

    // Throws OSCDecoderError (also for a zlib stream that does not inflate,
    // so one corrupt datagram is dropped like any non-OSC datagram) and the
    // standard decoder's errors.
    static std::shared_ptr<OSCObject> parse(OSCDataView data);
};

}  // namespace zelto
