// Arbitrary bytes as a compressed preset: inflating and reading must fail cleanly, within the
// inflated size bound.

#include <cstdint>
#include <span>

#include "preset/ZeltoPreset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelto;
    try {
        ZeltoPreset preset = ZeltoPreset::fromCompressedData(std::span<const std::uint8_t>(data, size));
        (void)preset.toCompressedData();
    } catch (const GzipError&) {
    } catch (const QVXMLParserError&) {
    } catch (const QVXMLDecodingError&) {
    } catch (const QVXMLEncodingError&) {
    }
    return 0;
}
