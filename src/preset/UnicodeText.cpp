#include "preset/UnicodeText.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace zelto {

namespace {

bool isAscii(std::string_view text) noexcept {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool isValidUtf8(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    if (static_cast<std::size_t>(length) != text.size()) return false;
    for (std::int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

}  // namespace

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    if (!isValidUtf8(a) || !isValidUtf8(b)) return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return false;
    const icu::UnicodeString x = nfd->normalize(
        icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<std::int32_t>(a.size()))),
        status);
    const icu::UnicodeString y = nfd->normalize(
        icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<std::int32_t>(b.size()))),
        status);
    return U_SUCCESS(status) && x == y;
}

}  // namespace zelto
