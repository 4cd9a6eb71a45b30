#include "osc/OSCAddressPattern.h"

#include <bitset>

namespace zelto {

namespace {

bool validPart(std::string_view part) {
    if (part.empty()) return false;
    std::vector<std::size_t> openBrackets, closeBrackets, openBraces, closeBraces, commas;
    for (std::size_t i = 0; i < part.size(); ++i) {
        char c = part[i];
        if (c < 32 || c > 126 || c == ' ' || c == '#' || c == '/') return false;
        if (c == '[') openBrackets.push_back(i);
        if (c == ']') closeBrackets.push_back(i);
        if (c == '{') openBraces.push_back(i);
        if (c == '}') closeBraces.push_back(i);
        if (c == ',') commas.push_back(i);
    }
    if (openBrackets.size() != closeBrackets.size()) return false;
    for (std::size_t k = 0; k < openBrackets.size(); ++k) {
        if (closeBrackets[k] < openBrackets[k]) return false;
        if (k > 0 && openBrackets[k] < closeBrackets[k - 1]) return false;
    }
    if (openBraces.size() != closeBraces.size()) return false;
    for (std::size_t k = 1; k < openBraces.size(); ++k) {
        if (openBraces[k] < closeBraces[k - 1]) return false;
    }
    for (std::size_t comma : commas) {
        bool enclosed = false;
        for (std::size_t k = 0; k < openBraces.size() && !enclosed; ++k) {
            enclosed = openBraces[k] < comma && comma < closeBraces[k];
        }
        if (!enclosed) return false;
    }
    return true;
}

std::bitset<128> bracketSet(std::string_view text, bool negated) {
    std::bitset<128> set;
    if (negated) {
        for (int c = 32; c <= 126; ++c) set.set(static_cast<std::size_t>(c));
    }
    auto mark = [&](unsigned char c) {
        if (c < 128) set.set(c, !negated);
    };
    for (std::size_t k = 0; k < text.size(); ++k) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (c == '-' && k > 0 && k + 1 < text.size()) {
            unsigned char from = static_cast<unsigned char>(text[k - 1]);
            unsigned char to = static_cast<unsigned char>(text[k + 1]);
            if (from > to) std::swap(from, to);
            for (unsigned x = from; x <= to; ++x) mark(static_cast<unsigned char>(x));
        } else {
            mark(c);
        }
    }
    return set;
}

}  // namespace

bool OSCAddressPattern::isValid(std::string_view text) noexcept {
    if (text.empty() || text.front() != '/') return false;
    try {
        std::size_t start = 1;
        for (;;) {
            std::size_t slash = text.find('/', start);
            auto part = text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
            if (!validPart(part)) return false;
            if (slash == std::string_view::npos) return true;
            start = slash + 1;
        }
    } catch (...) {
        return false;  // out of memory while checking
    }
}

OSCAddressPattern::OSCAddressPattern(std::string_view text) : pattern_(text) {
    std::size_t start = 1;
    for (;;) {
        std::size_t slash = text.find('/', start);
        parts_.emplace_back(text.substr(start, slash == std::string_view::npos ? text.npos : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
}

std::optional<OSCAddressPattern> OSCAddressPattern::make(std::string_view text) {
    if (!isValid(text)) return std::nullopt;
    return OSCAddressPattern(text);
}

bool OSCAddressPattern::matches(const OSCAddress& address) const noexcept {
    std::string_view text = address.address();
    if (text.empty() || text.front() != '/') return false;
    std::size_t start = 1;
    for (std::size_t index = 0;; ++index) {
        std::size_t slash = text.find('/', start);
        if (index >= parts_.size()) return false;
        auto part = text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
        if (!matches(part, parts_[index])) return false;
        if (slash == std::string_view::npos) return index + 1 == parts_.size();
        start = slash + 1;
    }
}

bool OSCAddressPattern::matches(std::string_view a, std::string_view p) noexcept {
    if (a.empty()) return p.empty();
    if (p.empty()) return false;
    std::size_t i = 0, j = 0;
    for (;;) {
        const char c = p[j];
        if (c == '*') return true;
        if (c == '?') {
            ++i;
            ++j;
        } else if (c == '[') {
            bool negated = j + 1 < p.size() && p[j + 1] == '!';
            std::size_t setStart = j + (negated ? 2 : 1);
            std::size_t close = p.find(']', setStart);
            if (close == std::string_view::npos) return false;
            auto set = bracketSet(p.substr(setStart, close - setStart), negated);
            unsigned char x = static_cast<unsigned char>(a[i]);
            if (x >= 128 || !set.test(x)) return false;
            ++i;
            j = close + 1;
        } else if (c == '{') {
            std::size_t close = p.find('}', j + 1);
            // A part whose first "}" precedes its "{" matches nothing.
            if (close == std::string_view::npos) return false;
            std::string_view alternatives = p.substr(j + 1, close - j - 1);
            std::optional<std::size_t> taken;
            std::size_t from = 0;
            for (;;) {
                std::size_t comma = alternatives.find(',', from);
                auto alternative = alternatives.substr(
                    from, comma == std::string_view::npos ? alternatives.npos : comma - from);
                if (a.substr(i, alternative.size()) == alternative) {
                    taken = alternative.size();
                    break;
                }
                if (comma == std::string_view::npos) break;
                from = comma + 1;
            }
            if (!taken) return false;
            i += *taken;
            j = close + 1;
        } else {
            if (a[i] != c) return false;
            ++i;
            ++j;
        }
        if (i >= a.size()) return j >= p.size();
        if (j >= p.size()) return false;
    }
}

}  // namespace zelto
