#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelto {

// Thrown when a parsed tree does not fit what a reader expects. what() is the case name.
class QVXMLDecodingError : public std::exception {
public:
    enum class Kind { attributeValueConversion, attributeNotFound, childNotFound };

    explicit QVXMLDecodingError(Kind kind) noexcept : kind_(kind) {}
    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

    static QVXMLDecodingError attributeValueConversion() noexcept { return QVXMLDecodingError(Kind::attributeValueConversion); }
    static QVXMLDecodingError attributeNotFound() noexcept { return QVXMLDecodingError(Kind::attributeNotFound); }
    static QVXMLDecodingError childNotFound() noexcept { return QVXMLDecodingError(Kind::childNotFound); }

private:
    Kind kind_;
};

// Thrown when a document cannot be written as well-formed UTF-8 XML (invalid UTF-8 in a value, or a
// character that XML 1.0 cannot carry even as a character reference). what() is the case name.
class QVXMLEncodingError : public std::exception {
public:
    enum class Kind { encodingFailed };

    explicit QVXMLEncodingError(Kind kind = Kind::encodingFailed) noexcept : kind_(kind) {}
    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

    static QVXMLEncodingError encodingFailed() noexcept { return QVXMLEncodingError(Kind::encodingFailed); }

private:
    Kind kind_;
};

// Attribute name -> value. Unordered as far as meaning goes (equality ignores order); kept in a flat
// list because elements carry few attributes and documents are read and written far more often than
// attributes are looked up by name.
class QVXMLAttributes {
public:
    using Entry = std::pair<std::string, std::string>;
    using const_iterator = std::vector<Entry>::const_iterator;

    QVXMLAttributes() = default;
    QVXMLAttributes(std::initializer_list<Entry> entries);

    const std::string* find(std::string_view name) const noexcept;
    std::string* find(std::string_view name) noexcept;
    bool contains(std::string_view name) const noexcept { return find(name) != nullptr; }
    // Inserts or replaces.
    void set(std::string name, std::string value);
    // Returns whether an attribute was removed.
    bool erase(std::string_view name);
    void eraseAll(std::span<const std::string_view> names);
    void clear() noexcept { entries_.clear(); }
    void reserve(std::size_t n) { entries_.reserve(n); }

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }

    // Appends without looking for an existing entry of that name; the caller guarantees there is none.
    void appendUnique(std::string name, std::string value) { entries_.emplace_back(std::move(name), std::move(value)); }
    std::vector<Entry>& entries() noexcept { return entries_; }
    const std::vector<Entry>& entries() const noexcept { return entries_; }

    friend bool operator==(const QVXMLAttributes& a, const QVXMLAttributes& b);

private:
    std::vector<Entry> entries_;
};

// A generic XML element, and the base of every preset class: the content a preset class does not read
// stays in these fields and is written back.
class QVXMLElement {
public:
    std::string elementName;
    std::optional<std::string> stringValue;
    QVXMLAttributes attributes;
    std::vector<QVXMLElement> children;

    QVXMLElement() = default;
    explicit QVXMLElement(std::string name) : elementName(std::move(name)) {}
    QVXMLElement(std::string name, QVXMLAttributes attributes)
        : elementName(std::move(name)), attributes(std::move(attributes)) {}
    // Copies `element`, then drops every attribute named in `removingAttributes` and every child whose
    // name is in `removingChildren` (all of them, not only the first).
    QVXMLElement(const QVXMLElement& element, std::span<const std::string_view> removingAttributes,
                 std::span<const std::string_view> removingChildren);
    QVXMLElement(QVXMLElement&& element, std::span<const std::string_view> removingAttributes,
                 std::span<const std::string_view> removingChildren);

    QVXMLElement(const QVXMLElement&) = default;
    QVXMLElement(QVXMLElement&&) noexcept = default;
    QVXMLElement& operator=(const QVXMLElement&) = default;
    QVXMLElement& operator=(QVXMLElement&&) noexcept = default;
    virtual ~QVXMLElement() = default;

    void setAttribute(std::string name, std::string value) { attributes.set(std::move(name), std::move(value)); }
    void appendChild(QVXMLElement child) { children.push_back(std::move(child)); }

    std::vector<const QVXMLElement*> findChildren(std::string_view name) const;
    const QVXMLElement* findFirstChild(std::string_view name) const noexcept;
    QVXMLElement* findFirstChild(std::string_view name) noexcept;

    // Typed attribute readers: attributeNotFound when missing, attributeValueConversion when the
    // text does not convert. The element is never changed.
    std::string readString(std::string_view name) const;
    std::int64_t readInt64(std::string_view name) const;
    std::uint64_t readUInt64(std::string_view name) const;
    float readFloat(std::string_view name) const;
    bool readBool(std::string_view name) const;

    // The element and its subtree as tab-indented text, attributes sorted by name, values escaped.
    // No line feed follows the closing tag. Throws QVXMLEncodingError for values that XML cannot carry.
    std::string serialize(int level = 0) const;
    // Appends the serialised form to `out` (the fast path of serialize()).
    void serializeTo(std::string& out, int level = 0) const;

    // A one-line debugging text; not a file format.
    virtual std::string description() const;

    // Structural equality of the generic content (name, text, attributes, children).
    bool sameContent(const QVXMLElement& other) const;
};

// Conversions used by the typed readers; empty when the text is not accepted.
std::optional<std::int64_t> parseXMLInt64(std::string_view text) noexcept;
std::optional<std::uint64_t> parseXMLUInt64(std::string_view text) noexcept;
// The C-locale strtof syntax, no leading white space, whole text consumed.
std::optional<float> parseXMLFloat(std::string_view text) noexcept;
// "1", "0", or yes/true/no/false in any letter case.
std::optional<bool> parseXMLBool(std::string_view text) noexcept;

// Shortest text that reads back to the same float; integral values keep ".0".
std::string formatXMLFloat(float value);

}  // namespace zelto
