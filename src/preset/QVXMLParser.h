#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "preset/QVXMLElement.h"

namespace zelto {

// The XML parser's own error: malformed input, a document type declaration, nesting beyond
// QVXMLParser::maxDepth, or a document without a root element.
class QVXMLParserError : public std::runtime_error {
  public:
    // `code` is the parser library's error number; 0 for the limits this layer adds.
    QVXMLParserError(int code, std::uint64_t line, std::uint64_t column, const std::string& message);
    int code() const noexcept { return code_; }
    std::uint64_t line() const noexcept { return line_; }
    std::uint64_t column() const noexcept { return column_; }

  private:
    int code_;
    std::uint64_t line_;
    std::uint64_t column_;
};

// Turns document bytes into a QVXMLElement tree. Namespace processing is off; a DOCTYPE is refused,
// so no entity is ever declared and nothing external is loaded.
class QVXMLParser {
  public:
    // Preset documents nest about six levels; anything this deep is hostile or broken, and would
    // otherwise make the recursive writer and destructor run out of stack.
    static constexpr std::size_t maxDepth = 256;
    // Elements plus attributes. A tree takes tens of bytes per node however small its text, so this,
    // not the input size, is what bounds the memory a document can claim. Presets hold about 60000.
    static constexpr std::size_t maxNodes = std::size_t{1} << 21;

    explicit QVXMLParser(std::span<const std::uint8_t> data);
    explicit QVXMLParser(std::string_view text);
    // For a document that arrives in pieces: feed() each, then finish().
    QVXMLParser();
    ~QVXMLParser();
    QVXMLParser(const QVXMLParser&) = delete;
    QVXMLParser& operator=(const QVXMLParser&) = delete;

    // Parses the bytes given at construction. Throws QVXMLParserError.
    QVXMLElement parse();

    // Returns false once the document has failed; later pieces are ignored and finish() throws.
    bool feed(std::span<const std::uint8_t> piece);
    // Zero-copy feeding: fill up to `size` bytes of buffer(size), then hand `length` of them to
    // parseBuffer(). Returns false (and an empty buffer) once the document has failed.
    std::span<std::uint8_t> buffer(std::size_t size);
    bool parseBuffer(std::size_t length);
    // Ends the document and returns its root. Throws QVXMLParserError.
    QVXMLElement finish();

  private:
    void start();

    struct State;
    std::span<const std::uint8_t> data_;
    std::unique_ptr<State> state_;
};

}  // namespace zelto
