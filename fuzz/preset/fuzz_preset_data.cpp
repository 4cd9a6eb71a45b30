// Arbitrary bytes as preset XML: reading must fail cleanly, or give a preset whose written form reads
// back; either way as reading through the element tree does. (Writing twice need not give the same
// bytes: groups sharing an id duplicate their channels on every write.)

#include <cstdint>
#include <cstdlib>
#include <span>

#include "preset/ZeltoPreset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelto;
    const std::span<const std::uint8_t> bytes(data, size);
    std::optional<ZeltoPreset> preset;
    try {
        preset.emplace(ZeltoPreset::fromData(bytes));
    } catch (const QVXMLParserError&) {
    } catch (const QVXMLDecodingError&) {
    }
    // The direct reader and the element tree read the same documents the same way.
    std::optional<ZeltoPreset> tree;
    try {
        tree.emplace(QVXMLParser(bytes).parse());
    } catch (const QVXMLParserError&) {
    } catch (const QVXMLDecodingError&) {
    }
    if (preset.has_value() != tree.has_value()) std::abort();
    if (!preset) return 0;
    std::vector<std::uint8_t> written;
    try {
        written = preset->toData();
    } catch (const QVXMLEncodingError&) {
        return 0;
    }
    if (tree->toData() != written) std::abort();
    try {
        ZeltoPreset again = ZeltoPreset::fromData(written);
        if (again.name != preset->name || again.userList.users.size() != preset->userList.users.size())
            std::abort();
    } catch (const std::exception&) {
        std::abort();
    }
    return 0;
}
