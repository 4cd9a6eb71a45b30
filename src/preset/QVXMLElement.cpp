#include "preset/QVXMLElement.h"

#include <locale.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "preset/ElementWriting.h"

namespace zelto {

const char* QVXMLDecodingError::what() const noexcept {
    switch (kind_) {
        case Kind::attributeValueConversion:
            return "attributeValueConversion";
        case Kind::attributeNotFound:
            return "attributeNotFound";
        case Kind::childNotFound:
            return "childNotFound";
    }
    return "QVXMLDecodingError";
}

const char* QVXMLEncodingError::what() const noexcept {
    return "encodingFailed";
}

// ---- attributes

namespace {

std::uint32_t readLength(const char* at) noexcept {
    std::uint32_t n;
    std::memcpy(&n, at, sizeof n);
    return n;
}

void appendLength(std::string& text, std::size_t n) {
    if (n > UINT32_MAX) throw std::length_error("attribute text too long");
    const auto length = static_cast<std::uint32_t>(n);
    text.append(reinterpret_cast<const char*>(&length), sizeof length);
}

}  // namespace

QVXMLAttributes::Attribute QVXMLAttributes::const_iterator::operator*() const noexcept {
    const std::uint32_t nameLength = readLength(at_);
    const char* name = at_ + 4;
    const std::uint32_t valueLength = readLength(name + nameLength);
    return {{name, nameLength}, {name + nameLength + 4, valueLength}};
}

QVXMLAttributes::const_iterator& QVXMLAttributes::const_iterator::operator++() noexcept {
    const std::uint32_t nameLength = readLength(at_);
    at_ += 8 + nameLength + readLength(at_ + 4 + nameLength);
    return *this;
}

QVXMLAttributes::QVXMLAttributes(
    std::initializer_list<std::pair<std::string_view, std::string_view>> attributes) {
    for (const auto& [name, value] : attributes) set(name, value);
}

std::optional<std::string_view> QVXMLAttributes::find(std::string_view name) const noexcept {
    for (const Attribute a : *this)
        if (a.name == name) return a.value;
    return std::nullopt;
}

void QVXMLAttributes::appendUnique(std::string_view name, std::string_view value) {
    // Growing the buffer would pull it from under a name or value that is a view into it.
    const auto inside = [this](std::string_view v) {
        return !v.empty() && v.data() >= text_.data() && v.data() < text_.data() + text_.capacity();
    };
    if (inside(name) || inside(value)) {
        const std::string ownName(name), ownValue(value);
        appendUnique(std::string_view(ownName), std::string_view(ownValue));
        return;
    }
    text_.reserve(text_.size() + 8 + name.size() + value.size());
    appendLength(text_, name.size());
    text_.append(name);
    appendLength(text_, value.size());
    text_.append(value);
    ++count_;
}

void QVXMLAttributes::appendUnique(const char* const* texts, const std::size_t* lengths, std::size_t count) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < 2 * count; ++i) {
        if (lengths[i] > UINT32_MAX) throw std::length_error("attribute text too long");
        total += 4 + lengths[i];
    }
    const std::size_t start = text_.size();
    text_.resize(start + total);
    char* out = text_.data() + start;
    for (std::size_t i = 0; i < 2 * count; ++i) {
        const auto length = static_cast<std::uint32_t>(lengths[i]);
        std::memcpy(out, &length, 4);
        std::memcpy(out + 4, texts[i], lengths[i]);
        out += 4 + lengths[i];
    }
    count_ += count;
}

void QVXMLAttributes::set(std::string_view name, std::string_view value) {
    if (!contains(name)) {
        appendUnique(name, value);
        return;
    }
    QVXMLAttributes replaced;
    replaced.text_.reserve(text_.size() + value.size());
    for (const Attribute a : *this) replaced.appendUnique(a.name, a.name == name ? value : a.value);
    *this = std::move(replaced);
}

bool QVXMLAttributes::erase(std::string_view name) {
    if (!contains(name)) return false;
    const std::string_view names[] = {name};
    eraseAll(names);
    return true;
}

void QVXMLAttributes::eraseAll(std::span<const std::string_view> names) {
    if (names.empty() || empty()) return;
    QVXMLAttributes kept;
    for (const Attribute a : *this)
        if (std::find(names.begin(), names.end(), a.name) == names.end()) kept.appendUnique(a.name, a.value);
    if (kept.empty()) {
        clear();
    } else {
        *this = std::move(kept);
    }
}

void QVXMLAttributes::clear() noexcept {
    std::string().swap(text_);
    count_ = 0;
}

bool operator==(const QVXMLAttributes& a, const QVXMLAttributes& b) {
    if (a.size() != b.size()) return false;
    for (const QVXMLAttributes::Attribute x : a) {
        const auto other = b.find(x.name);
        if (!other || *other != x.value) return false;
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
    for (const QVXMLAttributes::Attribute a : element.attributes)
        if (std::find(removingAttributes.begin(), removingAttributes.end(), a.name) ==
            removingAttributes.end())
            attributes.appendUnique(a.name, a.value);
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

std::string_view requireAttribute(const QVXMLAttributes& attributes, std::string_view name) {
    const auto value = attributes.find(name);
    if (!value) throw QVXMLDecodingError::attributeNotFound();
    return *value;
}

template <typename T>
T convertOrThrow(std::optional<T> value) {
    if (!value) throw QVXMLDecodingError::attributeValueConversion();
    return *value;
}

}  // namespace

std::string QVXMLElement::readString(std::string_view name) const {
    return std::string(requireAttribute(attributes, name));
}

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
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = "&quot;";
                break;
            case '\r':
                replacement = "&#13;";
                break;
            case '\t':
                if (attribute) replacement = "&#9;";
                break;
            case '\n':
                if (attribute) replacement = "&#10;";
                break;
            default:
                throw QVXMLEncodingError::encodingFailed();
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

void writeStartTag(std::string& out, int level, const QVXMLElement& residual,
                   std::span<const KnownAttribute> known) {
    checkName(residual.elementName);
    out.append(static_cast<std::size_t>(std::max(level, 0)), '\t');
    out += '<';
    out += residual.elementName;

    // Residual attributes, sorted (documents we wrote are sorted already), minus those `known` replaces.
    using Attribute = QVXMLAttributes::Attribute;
    Attribute small[32];
    std::vector<Attribute> large;
    Attribute* order = small;
    if (residual.attributes.size() > std::size(small)) {
        large.resize(residual.attributes.size());
        order = large.data();
    }
    std::size_t count = 0;
    bool sorted = true;
    for (const Attribute a : residual.attributes) {
        bool replaced = false;
        for (const auto& k : known) replaced = replaced || k.name == a.name;
        if (replaced) continue;
        checkName(a.name);
        if (count > 0 && a.name < order[count - 1].name) sorted = false;
        order[count++] = a;
    }
    if (!sorted)
        std::sort(order, order + count,
                  [](const Attribute& a, const Attribute& b) { return a.name < b.name; });

    auto emit = [&out](std::string_view name, std::string_view value) {
        out += ' ';
        out += name;
        out += "=\"";
        appendEscaped(out, value, true);
        out += '"';
    };
    std::size_t r = 0, k = 0;
    while (r < count || k < known.size()) {
        if (k == known.size() || (r < count && order[r].name < known[k].name)) {
            emit(order[r].name, order[r].value);
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
    std::vector<QVXMLAttributes::Attribute> order(attributes.begin(), attributes.end());
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    if (order.empty()) text += ':';
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i) text += ", ";
        text += '"';
        text += order[i].name;
        text += "\": \"";
        text += order[i].value;
        text += '"';
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

bool isSpace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::optional<std::int64_t> parseXMLInt64(std::string_view text) noexcept {
    return parseDecimal<std::int64_t>(text);
}

std::optional<std::uint64_t> parseXMLUInt64(std::string_view text) noexcept {
    return parseDecimal<std::uint64_t>(text);
}

namespace {

// Preset values are short decimals such as "-12.5". With at most seven digits both the digits and the
// power of ten are exact floats, so one float division rounds the quotient correctly, as strtof does.
std::optional<float> parseShortDecimal(std::string_view text) noexcept {
    static constexpr float powersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    i += negative;
    std::uint32_t digits = 0;
    std::size_t count = 0, fraction = 0;
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        const unsigned digit = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
        if (digit > 9 || ++count > 7) return std::nullopt;
        digits = digits * 10 + digit;
        fraction += point;
        any = true;
    }
    if (!any || (point && fraction == 0)) return std::nullopt;
    const float value = static_cast<float>(digits) / powersOfTen[fraction];
    return negative ? -value : value;
}

}  // namespace

std::optional<float> parseXMLFloat(std::string_view text) noexcept {
    if (text.empty() || isSpace(text.front())) return std::nullopt;
    if (const auto value = parseShortDecimal(text)) return value;
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
        return static_cast<std::size_t>(std::to_chars(buffer, end, value, std::chars_format::scientific).ptr -
                                        buffer);
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
