#pragma once

// Small pieces shared by the two expat-driven readers (not installed API).

#include <expat.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace zelto::detail {

struct ExpatParserDeleter {
    void operator()(XML_ParserStruct* p) const noexcept { XML_ParserFree(p); }
};
using ExpatParser = std::unique_ptr<XML_ParserStruct, ExpatParserDeleter>;

// A parser that hands its events to `handler`, through T's static start,
// end, characters and doctype (which refuses the document), and never reads
// parameter entities. Empty when out of memory.
template <class T>
ExpatParser makeExpatParser(T* handler) {
    ExpatParser parser(XML_ParserCreate(nullptr));
    if (!parser) return parser;
    XML_Parser p = parser.get();
    XML_SetUserData(p, handler);
    XML_SetElementHandler(p, &T::start, &T::end);
    XML_SetCharacterDataHandler(p, &T::characters);
    XML_SetStartDoctypeDeclHandler(p, &T::doctype);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    return parser;
}

// Text made only of XML white space carries no value.
inline bool isBlank(const std::string& text) noexcept {
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

// Room in the parser's own buffer for `size` bytes to be parsed in place,
// or none (and `failed` set) when it cannot have it.
inline std::span<std::uint8_t> expatBuffer(XML_Parser parser, std::size_t size, bool& failed) {
    if (failed || size > static_cast<std::size_t>(INT_MAX)) return {};
    void* b = XML_GetBuffer(parser, static_cast<int>(size));
    if (!b) {
        failed = true;
        return {};
    }
    return {static_cast<std::uint8_t*>(b), size};
}

// Parses `length` bytes written into expatBuffer's room; false once failed.
inline bool expatParseBuffer(XML_Parser parser, std::size_t length, bool& failed) {
    if (failed) return false;
    if (XML_ParseBuffer(parser, static_cast<int>(length), XML_FALSE) != XML_STATUS_OK) failed = true;
    return !failed;
}

}  // namespace zelto::detail
