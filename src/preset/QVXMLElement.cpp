#include "preset/QVXMLElement.h"

#include "preset/ElementWriting.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace zelto {

const char* QVXMLDecodingError::what() const noexcept {
    switch (kind_) {
        case Kind::attributeValueConversion: return "attributeValueConversion";
        case Kind::attributeNotFound: return "attributeNotFound";
        case Kind::childNotFound: return "childNotFound";
    }
    return "QVXMLDecodingError";
}

const char* QVXMLEncodingError::what() const noexcept { return "encodingFailed"; }

// ---- attributes

QVXMLAttributes::QVXMLAttributes(std::initializer_list<Entry> entries) {
    for (const auto& e : entries) set(e.first, e.second);
}

const std::string* QVXMLAttributes::find(std::string_view name) const noexcept {
    for (const auto& e : entries_)
        if (e.first == name) return &e.second;
    return nullptr;
}

std::string* QVXMLAttributes::find(std::string_view name) noexcept {
    for (auto& e : entries_)
        if (e.first == name) return &e.second;
    return nullptr;
}

void QVXMLAttributes::set(std::string name, std::string value) {
    if (std::string* existing = find(name)) {
        *existing = std::move(value);
    } else {
        entries_.emplace_back(std::move(name), std::move(value));
    }
}

bool QVXMLAttributes::erase(std::string_view name) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == name; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

void QVXMLAttributes::eraseAll(std::span<const std::string_view> names) {
    if (names.empty() || entries_.empty()) return;
    std::erase_if(entries_, [&](const Entry& e) {
        return std::find(names.begin(), names.end(), std::string_view(e.first)) != names.end();
    });
}

bool operator==(const QVXMLAttributes& a, const QVXMLAttributes& b) {
    if (a.size() != b.size()) return false;
    for (const auto& e : a.entries_) {
        const std::string* other = b.find(e.first);
        if (!other || *other != e.second) return false;
    }
    return true;
}

// ---- element

namespace {

void removeChildren(std::vector<QVXMLElement>& children, std::span<const std::string_view> names) {
    if (names.empty() || children.empty()) return;
    std::erase_if(children, [&](const QVXMLElement& c) {
        return std::find(names.begin(), names.end(), std::string_view(c.elementName)) != names.end();
    });
}

}  // namespace

QVXMLElement::QVXMLElement(const QVXMLElement& element, std::span<const std::string_view> removingAttributes,
                           std::span<const std::string_view> removingChildren)
    : elementName(element.elementName), stringValue(element.stringValue) {
    attributes.reserve(element.attributes.size());
    for (const auto& e : element.attributes)
        if (std::find(removingAttributes.begin(), removingAttributes.end(), std::string_view(e.first)) ==
            removingAttributes.end())
            attributes.appendUnique(e.first, e.second);
    for (const auto& c : element.children)
        if (std::find(removingChildren.begin(), removingChildren.end(), std::string_view(c.elementName)) ==
            removingChildren.end())
            children.push_back(c);
}

QVXMLElement::QVXMLElement(QVXMLElement&& element, std::span<const std::string_view> removingAttributes,
                           std::span<const std::string_view> removingChildren)
    : elementName(std::move(element.elementName)),
      stringValue(std::move(element.stringValue)),
      attributes(std::move(element.attributes)),
      children(std::move(element.children)) {
    attributes.eraseAll(removingAttributes);
    removeChildren(children, removingChildren);
}

std::vector<const QVXMLElement*> QVXMLElement::findChildren(std::string_view name) const {
    std::vector<const QVXMLElement*> found;
    for (const auto& c : children)
        if (c.elementName == name) found.push_back(&c);
    return found;
}

const QVXMLElement* QVXMLElement::findFirstChild(std::string_view name) const noexcept {
    for (const auto& c : children)
        if (c.elementName == name) return &c;
    return nullptr;
}

QVXMLElement* QVXMLElement::findFirstChild(std::string_view name) noexcept {
    for (auto& c : children)
        if (c.elementName == name) return &c;
    return nullptr;
}

namespace {

const std::string& requireAttribute(const QVXMLAttributes& attributes, std::string_view name) {
    const std::string* value = attributes.find(name);
    if (!value) throw QVXMLDecodingError::attributeNotFound();
    return *value;
}

template <typename T>
T convertOrThrow(std::optional<T> value) {
    if (!value) throw QVXMLDecodingError::attributeValueConversion();
    return *value;
}

}  // namespace

std::string QVXMLElement::readString(std::string_view name) const { return requireAttribute(attributes, name); }

std::int64_t QVXMLElement::readInt64(std::string_view name) const {
    return convertOrThrow(parseXMLInt64(requireAttribute(attributes, name)));
}

std::uint64_t QVXMLElement::readUInt64(std::string_view name) const {
    return convertOrThrow(parseXMLUInt64(requireAttribute(attributes, name)));
}

float QVXMLElement::readFloat(std::string_view name) const {
    return convertOrThrow(parseXMLFloat(requireAttribute(attributes, name)));
}

bool QVXMLElement::readBool(std::string_view name) const {
    return convertOrThrow(parseXMLBool(requireAttribute(attributes, name)));
}

bool QVXMLElement::sameContent(const QVXMLElement& other) const {
    if (elementName != other.elementName || stringValue != other.stringValue ||
        !(attributes == other.attributes) || children.size() != other.children.size())
        return false;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (!children[i].sameContent(other.children[i])) return false;
    return true;
}

// ---- writing

namespace {

// 0: copy as is; 1: needs a look (markup, control or non-ASCII byte).
constexpr std::array<std::uint8_t, 256> makeSpecialTable() {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 1;
    for (int c = 0x80; c < 0x100; ++c) t[c] = 1;
    t['&'] = t['<'] = t['>'] = t['"'] = 1;
    return t;
}
constexpr auto kSpecial = makeSpecialTable();

// Length of the valid UTF-8 sequence at p that XML 1.0 allows (no surrogates, no U+FFFE/U+FFFF,
// nothing beyond U+10FFFF), or 0.
std::size_t xmlCharLength(const unsigned char* p, const unsigned char* end) noexcept {
    unsigned char c = p[0];
    std::size_t n;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return n;
}

}  // namespace

namespace detail {

// Attribute values lose tabs and line breaks to normalisation unless they are character references;
// text keeps tabs and line feeds but a carriage return would come back as a line feed.
void appendEscaped(std::string& out, std::string_view value, bool attribute) {
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const auto* end = p + value.size();
    const auto* run = p;
    while (p < end) {
        if (!kSpecial[*p]) {
            ++p;
            continue;
        }
        if (*p >= 0x80) {
            std::size_t n = xmlCharLength(p, end);
            if (n == 0) throw QVXMLEncodingError::encodingFailed();
            p += n;
            continue;
        }
        std::string_view replacement;
        switch (*p) {
            case '&': replacement = "&amp;"; break;
            case '<': replacement = "&lt;"; break;
            case '>': replacement = "&gt;"; break;
            case '"': replacement = "&quot;"; break;
            case '\r': replacement = "&#13;"; break;
            case '\t':
                if (attribute) replacement = "&#9;";
                break;
            case '\n':
                if (attribute) replacement = "&#10;";
                break;
            default: throw QVXMLEncodingError::encodingFailed();
        }
        if (replacement.empty()) {
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        out.append(replacement);
        run = ++p;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
}


namespace {

// Names that were not read from a document could hold anything; refuse those that would break the
// markup around them. (Not the full name production: parsed names already passed that.)
void checkName(std::string_view name) {
    if (name.empty()) throw QVXMLEncodingError::encodingFailed();
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'' || c == '=' || c == '/' ||
            c == 0x7F)
            throw QVXMLEncodingError::encodingFailed();
    }
}

}  // namespace

void writeStartTag(std::string& out, int level, const QVXMLElement& residual, std::span<const KnownAttribute> known) {
    checkName(residual.elementName);
    out.append(static_cast<std::size_t>(std::max(level, 0)), '\t');
    out += '<';
    out += residual.elementName;

    // Residual attributes, sorted (documents we wrote are sorted already), minus those `known` replaces.
    const auto& entries = residual.attributes.entries();
    const QVXMLAttributes::Entry* small[32];
    std::vector<const QVXMLAttributes::Entry*> large;
    const QVXMLAttributes::Entry** order = small;
    if (entries.size() > std::size(small)) {
        large.resize(entries.size());
        order = large.data();
    }
    std::size_t count = 0;
    bool sorted = true;
    for (const auto& entry : entries) {
        bool replaced = false;
        for (const auto& k : known) replaced = replaced || k.name == entry.first;
        if (replaced) continue;
        checkName(entry.first);
        if (count > 0 && entry.first < order[count - 1]->first) sorted = false;
        order[count++] = &entry;
    }
    if (!sorted)
        std::sort(order, order + count, [](const auto* a, const auto* b) { return a->first < b->first; });

    auto emit = [&out](std::string_view name, std::string_view value) {
        out += ' ';
        out += name;
        out += "=\"";
        appendEscaped(out, value, true);
        out += '"';
    };
    std::size_t r = 0, k = 0;
    while (r < count || k < known.size()) {
        if (k == known.size() || (r < count && std::string_view(order[r]->first) < known[k].name)) {
            emit(order[r]->first, order[r]->second);
            ++r;
        } else {
            emit(known[k].name, known[k].value);
            ++k;
        }
    }
}

bool writeBodyStart(std::string& out, int level, const QVXMLElement& residual, bool hasKnownChildren) {
    if (residual.children.empty() && !hasKnownChildren) {
        if (!residual.stringValue) {
            out += "/>";
        } else {
            out += '>';
            appendEscaped(out, *residual.stringValue, false);
            writeEndTag(out, 0, residual.elementName);
        }
        return false;
    }
    out += ">\n";
    for (const auto& child : residual.children) {
        child.serializeTo(out, level + 1);
        out += '\n';
    }
    return true;
}

void writeEndTag(std::string& out, int level, std::string_view name) {
    out.append(static_cast<std::size_t>(std::max(level, 0)), '\t');
    out += "</";
    out += name;
    out += '>';
}

std::string_view NumberTexts::integer(std::int64_t value) noexcept {
    char* start = buffer_ + used_;
    const auto result = std::to_chars(start, buffer_ + sizeof buffer_, value);
    used_ = static_cast<std::size_t>(result.ptr - buffer_);
    return {start, static_cast<std::size_t>(result.ptr - start)};
}

std::string_view NumberTexts::unsignedInteger(std::uint64_t value) noexcept {
    char* start = buffer_ + used_;
    const auto result = std::to_chars(start, buffer_ + sizeof buffer_, value);
    used_ = static_cast<std::size_t>(result.ptr - buffer_);
    return {start, static_cast<std::size_t>(result.ptr - start)};
}

std::string_view NumberTexts::floating(float value) noexcept {
    char* start = buffer_ + used_;
    const std::size_t n = formatFloat(value, start);
    used_ += n;
    return {start, n};
}

}  // namespace detail

void QVXMLElement::serializeTo(std::string& out, int level) const {
    detail::writeStartTag(out, level, *this, {});
    if (detail::writeBodyStart(out, level, *this, false)) detail::writeEndTag(out, level, elementName);
}

std::string QVXMLElement::serialize(int level) const {
    std::string out;
    serializeTo(out, level);
    return out;
}

std::string QVXMLElement::description() const {
    std::string text = elementName + " [";
    std::vector<const QVXMLAttributes::Entry*> order;
    for (const auto& e : attributes) order.push_back(&e);
    std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    if (order.empty()) text += ':';
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i) text += ", ";
        text += '"' + order[i]->first + "\": \"" + order[i]->second + '"';
    }
    text += "] ";
    if (stringValue) {
        text += *stringValue;
    } else {
        text += '[';
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (i) text += ", ";
            text += children[i].description();
        }
        text += ']';
    }
    return text;
}

// ---- conversions

namespace {

template <typename T>
std::optional<T> parseDecimal(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (char c : text) {
        const unsigned digit = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
        if (digit > 9) return std::nullopt;
        if (magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if constexpr (std::is_signed_v<T>) {
        constexpr std::uint64_t limit = std::uint64_t{1} << 63;
        if (negative) {
            if (magnitude > limit) return std::nullopt;
            return magnitude == limit ? std::numeric_limits<T>::min() : -static_cast<T>(magnitude);
        }
        if (magnitude >= limit) return std::nullopt;
        return static_cast<T>(magnitude);
    } else {
        if (negative && magnitude != 0) return std::nullopt;
        return magnitude;
    }
}

locale_t cLocale() noexcept {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

bool isSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::optional<std::int64_t> parseXMLInt64(std::string_view text) noexcept { return parseDecimal<std::int64_t>(text); }

std::optional<std::uint64_t> parseXMLUInt64(std::string_view text) noexcept {
    return parseDecimal<std::uint64_t>(text);
}

std::optional<float> parseXMLFloat(std::string_view text) noexcept {
    if (text.empty() || isSpace(text.front())) return std::nullopt;
    float value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc() && ptr == end) return value;
    // The rest of the strtof syntax: a leading '+', hexadecimal forms, and magnitudes beyond the
    // float range (which strtof rounds to infinity or zero).
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    std::string copy(text);
    char* stop = nullptr;
    value = strtof_l(copy.c_str(), &stop, cLocale());
    if (stop != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

std::optional<bool> parseXMLBool(std::string_view text) noexcept {
    auto equalsIgnoringCase = [&](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            char c = text[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (text == "1" || equalsIgnoringCase("yes") || equalsIgnoringCase("true")) return true;
    if (text == "0" || equalsIgnoringCase("no") || equalsIgnoringCase("false")) return false;
    return std::nullopt;
}

std::size_t detail::formatFloat(float value, char* buffer) noexcept {
    char* const end = buffer + 64;
    const float magnitude = std::fabs(value);
    if (std::isfinite(value) && magnitude != 0 && (magnitude < 1e-4f || magnitude >= 1e16f))
        return static_cast<std::size_t>(
            std::to_chars(buffer, end, value, std::chars_format::scientific).ptr - buffer);
    char* stop = std::to_chars(buffer, end, value, std::chars_format::fixed).ptr;
    if (std::isfinite(value) && std::find(buffer, stop, '.') == stop) {
        *stop++ = '.';
        *stop++ = '0';
    }
    return static_cast<std::size_t>(stop - buffer);
}

std::string formatXMLFloat(float value) {
    char buffer[64];
    return std::string(buffer, detail::formatFloat(value, buffer));
}

}  // namespace zelto
