#pragma once

// Helpers for writing a preset class straight to text, producing exactly what serialising its
// toElement() tree would, without building that tree.

#include <span>
#include <string>
#include <string_view>

#include "preset/QVXMLElement.h"

namespace zelto::detail {

struct KnownAttribute {
    std::string_view name;
    std::string_view value;
};

// Escapes markup (and, in attributes, tabs and line breaks); throws QVXMLEncodingError on text that
// XML cannot carry.
void appendEscaped(std::string& out, std::string_view value, bool attribute);

// The float text of formatXMLFloat() into `buffer` (at least 64 bytes); returns its length.
std::size_t formatFloat(float value, char* buffer) noexcept;

// Indent, "<", the element's name, then its residual attributes merged with `known` (which must be
// sorted by name and wins over a residual attribute of the same name), all in name order.
void writeStartTag(std::string& out, int level, const QVXMLElement& residual,
                   std::span<const KnownAttribute> known);

// Ends the start tag. Without children of either kind, closes the element ("/>" or its text and end
// tag) and returns false. Otherwise writes ">", a line feed and the residual children (each followed by
// a line feed) and returns true: the caller writes its own children, then writeEndTag().
bool writeBodyStart(std::string& out, int level, const QVXMLElement& residual, bool hasKnownChildren);

void writeEndTag(std::string& out, int level, std::string_view name);

// A small arena for the texts of numbers, so attribute values can be views.
class NumberTexts {
  public:
    std::string_view integer(std::int64_t value) noexcept;
    std::string_view unsignedInteger(std::uint64_t value) noexcept;
    std::string_view floating(float value) noexcept;

  private:
    char buffer_[16 * 64];
    std::size_t used_ = 0;
};

}  // namespace zelto::detail
