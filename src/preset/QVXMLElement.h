#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <iterator>
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

    static QVXMLDecodingError attributeValueConversion() noexcept {
        return QVXMLDecodingError(Kind::attributeValueConversion);
    }
    static QVXMLDecodingError attributeNotFound() noexcept {
        return QVXMLDecodingError(Kind::attributeNotFound);
    }
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

// Attribute name -> value. Unordered as far as meaning goes (equality ignores order). All attributes
// of an element share one buffer, each stored as its name and value with their lengths: reading a
// preset creates tens of thousands of attributes, and one allocation per element instead of two
// strings per attribute is most of what separates building a tree from the bare parse.
class QVXMLAttributes {
  public:
    struct Attribute {
        std::string_view name;
        std::string_view value;
    };

    class const_iterator {
      public:
        using value_type = Attribute;
        using reference = Attribute;
        using pointer = void;
        using difference_type = std::ptrdiff_t;
        using iterator_category = std::forward_iterator_tag;

        const_iterator() = default;
        Attribute operator*() const noexcept;
        const_iterator& operator++() noexcept;
        const_iterator operator++(int) noexcept {
            const_iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const const_iterator&) const = default;

      private:
        friend class QVXMLAttributes;
        explicit const_iterator(const char* at) noexcept : at_(at) {}
        const char* at_ = nullptr;
    };

    QVXMLAttributes() = default;
    QVXMLAttributes(std::initializer_list<std::pair<std::string_view, std::string_view>> attributes);

    std::optional<std::string_view> find(std::string_view name) const noexcept;
    bool contains(std::string_view name) const noexcept { return find(name).has_value(); }
    // Inserts or replaces.
    void set(std::string_view name, std::string_view value);
    // Returns whether an attribute was removed.
    bool erase(std::string_view name);
    void eraseAll(std::span<const std::string_view> names);
    void clear() noexcept;

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    const_iterator begin() const noexcept { return const_iterator(text_.data()); }
    const_iterator end() const noexcept { return const_iterator(text_.data() + text_.size()); }

    // Appends without looking for an existing attribute of that name; the caller guarantees there is none.
    void appendUnique(std::string_view name, std::string_view value);
    // The same for `count` attributes at once: texts[2i] and texts[2i+1] are the name and value of the
    // i-th, of lengths[2i] and lengths[2i+1] bytes.
    void appendUnique(const char* const* texts, const std::size_t* lengths, std::size_t count);

    friend bool operator==(const QVXMLAttributes& a, const QVXMLAttributes& b);

  private:
    std::string text_;
    std::size_t count_ = 0;
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

    void setAttribute(std::string_view name, std::string_view value) { attributes.set(name, value); }
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
