// Arbitrary bytes as a compressed preset: inflating and reading must fail cleanly, within the
// inflated size bound. Inputs whose first byte is odd are compressed first and then damaged as the
// next bytes say, so that the XML behind the compression gets explored as well as the stream.

#include <cstdint>
#include <span>
#include <vector>

#include "preset/ZeltoPreset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelto;
    std::vector<std::uint8_t> input(data, data + size);
    if (size >= 4 && (data[0] & 1)) {
        const std::size_t cut = data[1];   // bytes dropped from the end
        const std::size_t flip = data[2];  // position of a damaged byte, 0 for none
        std::vector<std::uint8_t> stream = gzip::compress(std::span<const std::uint8_t>(data + 3, size - 3));
        if (cut < stream.size()) stream.resize(stream.size() - cut);
        if (flip > 0 && flip < stream.size()) stream[flip] ^= 0x5A;
        input = std::move(stream);
    }
    try {
        ZeltoPreset preset = ZeltoPreset::fromCompressedData(input);
        (void)preset.toCompressedData();
    } catch (const GzipError&) {
    } catch (const QVXMLParserError&) {
    } catch (const QVXMLDecodingError&) {
    } catch (const QVXMLEncodingError&) {
    }
    return 0;
}
