#include "device/RemoteZeltoPreset.h"

#include <string_view>

#include "preset/ZeltoPreset.h"

namespace zelto {

namespace {

// "*[" + date + "]" at the very end: the date is 24 characters with "Z", 29
// with an offset. Parsed by hand: a pattern search over every name of every
// list showed in the profiles of a venue-sized sync.
constexpr std::size_t kDateLengths[] = {24, 29};

// Start of the UTF-8 character that ends just before `end`.
std::size_t previousCharacterStart(const std::string& text, std::size_t end) {
    std::size_t pos = end;
    while (pos > 0) {
        --pos;
        if ((static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80) break;
    }
    return pos;
}

}  // namespace

RemoteZeltoPreset::RemoteZeltoPreset(const std::string& text) : name(text) {
    const std::string_view view(text);
    if (!view.ends_with(']')) return;
    for (std::size_t length : kDateLengths) {
        if (view.size() < length + 3) continue;
        const std::size_t marker = view.size() - length - 3;
        if (view.substr(marker, 2) != "*[") continue;
        auto parsed = parseIsoDate(view.substr(marker + 2, length));
        if (!parsed) return;
        date = parsed;
        // Drop the date, "*[" and the one character (normally a blank) written before them.
        name = marker == 0 ? std::string() : text.substr(0, previousCharacterStart(text, marker));
        return;
    }
}

std::string RemoteZeltoPreset::extendedName() const {
    if (!date) return name;
    return name + " *[" + formatIsoDate(*date) + "]";
}

std::string RemoteZeltoPreset::description() const {
    return extendedName() + " " + std::to_string(bytes ? bytes->size() : 0) + " bytes";
}

std::optional<ZeltoPreset> RemoteZeltoPreset::parse() const {
    if (!bytes) return std::nullopt;
    // Mixers keep their presets compressed; plain XML is read as it is.
    const auto& b = *bytes;
    bool zlib = b.size() >= 2 && (b[0] & 0x0F) == 8 && ((b[0] << 8) | b[1]) % 31 == 0;
    if (zlib) return ZeltoPreset::fromCompressedData(std::span<const std::uint8_t>(b));
    return ZeltoPreset::fromData(std::span<const std::uint8_t>(b));
}

bool operator==(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b) {
    return a.name == b.name && a.date == b.date;
}

bool operator<(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b) {
    return a.name == b.name && a.date && b.date && *a.date < *b.date;
}

bool operator>(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b) {
    return a.name == b.name && a.date && b.date && *a.date > *b.date;
}

}  // namespace zelto
