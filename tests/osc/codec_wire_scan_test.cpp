// The codec's text scanners (vector code where the target has it) against
// plain byte-by-byte references, on every length up to a few vector widths,
// every alignment of the buffer's end, and every position of an awkward byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "osc/OSCWire.h"

namespace zelto {
namespace {

struct Reference {
    std::size_t length;
    bool highBit;
    bool validAddress;
    std::size_t firstUnknownTag;
};

bool allowedInPart(std::uint8_t c) {
    return c > 32 && c < 127 && !std::strchr("#*,?[]{}/", c);
}

bool knownTag(std::uint8_t c) {
    return std::strchr("ifsbhtdScrmTFNI", c) && c != 0;
}

Reference reference(const std::uint8_t* p, std::size_t n) {
    Reference r{0, false, false, 0};
    while (r.length < n && p[r.length] != 0) r.highBit |= p[r.length++] >= 0x80;
    r.validAddress = r.length > 0 && p[0] == '/' && p[r.length - 1] != '/';
    for (std::size_t i = 1; i < r.length; ++i)
        if (p[i] == '/' ? p[i - 1] == '/' : !allowedInPart(p[i])) r.validAddress = false;
    for (std::size_t i = 1; i < r.length && !r.firstUnknownTag; ++i)
        if (!knownTag(p[i])) r.firstUnknownTag = i;
    return r;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool referenceUtf8(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t c = p[i];
        std::size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2
                                     : c >= 0xF0 && c <= 0xF4      ? 3
                                                                   : 9;
        if (extra == 9 || n - i <= extra) return extra == 0;
        std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

const auto tagTable = [] {
    std::array<std::uint8_t, 256> t{};
    for (const char* c = "ifsbhtdScrmTFNI"; *c; ++c) t[static_cast<std::uint8_t>(*c)] = 1;
    return t;
}();

// Runs every scanner on `text` placed so that it ends exactly where its
// allocation ends (a read past it is a sanitizer error), for each alignment.
void expectScannersAgree(const std::vector<std::uint8_t>& text) {
    const std::size_t n = text.size();
    for (std::size_t align = 0; align < 16; align += 5) {
        std::vector<std::uint8_t> storage(align + n);
        std::copy(text.begin(), text.end(), storage.begin() + static_cast<std::ptrdiff_t>(align));
        const std::uint8_t* p = storage.data() + align;
        const Reference want = reference(p, n);
        const auto scan = wire::scanText(p, n);
        bool valid = !want.validAddress;
        const std::size_t addressLength = wire::scanAddress(p, n, valid);
        const auto tags = wire::scanTags(p, n, tagTable);
        const bool agree =
            scan.length == want.length && scan.highBit == want.highBit && wire::findNul(p, n) == want.length &&
            addressLength == want.length && valid == want.validAddress &&
            wire::isValidAddress(std::string_view(reinterpret_cast<const char*>(p), want.length)) ==
                want.validAddress &&
            tags.length == want.length && tags.highBit == want.highBit &&
            tags.firstUnknown == want.firstUnknownTag &&
            wire::isValidUTF8(p, want.length) == referenceUtf8(p, want.length);
        // Built only on a failure: the message costs more than the scans.
        ASSERT_TRUE(agree) << "bytes " << testing::PrintToString(text) << " align " << align << ": text "
                           << scan.length << "/" << scan.highBit << " address " << addressLength << "/"
                           << valid << " tags " << tags.firstUnknown << " want " << want.length << "/"
                           << want.highBit << "/" << want.validAddress << "/" << want.firstUnknownTag;
    }
}

// Bytes at the edges of every class the scanners tell apart.
constexpr std::uint8_t kAwkward[] = {0,    1,    ' ',  '!',  '#',  '*',  ',',  '/',  '?',  '[',  ']',
                                     '{',  '}',  '~',  0x7F, 0x80, 0xBF, 0xC2, 0xE0, 0xED, 0xF4, 0xFF,
                                     0x03, 0x0A, 0x0C, 0x1F, 0x5B, 0x5D, 0x3B, 0x3D, 0xA0, 0xDF, 'i'};

TEST(WireScanners, AgreeWithPlainReferencesOnEveryLengthAndPositionOfAnAwkwardByte) {
    for (std::size_t n = 0; n <= 100; ++n) {
        // A valid address, and the same text as tags and as UTF-8 text.
        std::vector<std::uint8_t> base(n, 'a');
        if (n) base[0] = '/';
        for (std::size_t i = 5; i + 1 < n; i += 6) base[i] = '/';
        expectScannersAgree(base);
        for (std::size_t at = 0; at < n; ++at) {
            for (std::uint8_t b : kAwkward) {
                auto text = base;
                text[at] = b;
                expectScannersAgree(text);
            }
        }
    }
}

TEST(WireScanners, AgreeWithPlainReferencesOnRandomText) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int round = 0; round < 40; ++round) {
        for (std::size_t n = 0; n <= 100; ++n) {
            std::vector<std::uint8_t> text(n);
            const int nulChance = round % 4 == 0 ? 0 : 3;
            for (auto& b : text) {
                const int r = pick(rng);
                b = r < nulChance ? 0
                    : r < 30      ? static_cast<std::uint8_t>("abcifs/"[r % 7])
                    : r < 60      ? kAwkward[static_cast<std::size_t>(r) % sizeof kAwkward]
                    : r < 80      ? static_cast<std::uint8_t>(anyByte(rng))
                                  : static_cast<std::uint8_t>("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"[r % 9]);
            }
            if (n && round % 2) text[0] = '/';
            expectScannersAgree(text);
        }
    }
}

}  // namespace
}  // namespace zelto
