#include "osc/OSCDecoder.h"

#include "osc/OSCDecodeContext.h"

namespace zelto {

std::shared_ptr<OSCObject> OSCStandardDecoder::parse(OSCDataView data) {
    if (!data || data->empty()) throw OSCDecoderError(OSCDecoderError::Case::emptyDataProvided);
    const std::uint8_t first = (*data)[0];
    if (first != '/' && first != '#') throw OSCDecoderError(OSCDecoderError::Case::dataIsNotOSC);
    detail::OSCDecodeContext context(*data);
    if (first == '/') return std::make_shared<OSCObject>(context.decodeMessage(*data));
    return std::make_shared<OSCObject>(context.decodeBundle(*data, 1));
}

}  // namespace zelto
