#include "preset/QVXMLParser.h"

#include <expat.h>

#include <climits>
#include <memory>
#include <optional>
#include <vector>

namespace zelto {

QVXMLParserError::QVXMLParserError(int code, std::uint64_t line, std::uint64_t column, const std::string& message)
    : std::runtime_error("XML parse error at line " + std::to_string(line) + ", column " + std::to_string(column) +
                         ": " + message),
      code_(code),
      line_(line),
      column_(column) {}

namespace {

struct ParserDeleter {
    void operator()(XML_ParserStruct* p) const noexcept { XML_ParserFree(p); }
};

bool isBlank(const std::string& text) noexcept {
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

// The state behind the three event handlers. Text of one element is joined across the chunks the
// parser reports (it splits at entity references and buffer ends) and kept when it is not blank.
struct TreeBuilder {
    XML_Parser parser = nullptr;
    std::vector<QVXMLElement> stack;
    std::vector<std::string> texts;  // one per open element; buffers are reused
    std::optional<QVXMLElement> root;
    std::optional<std::string> refusal;

    void refuse(std::string why) {
        if (!refusal) refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }

    static void XMLCALL start(void* user, const XML_Char* name, const XML_Char** atts) {
        auto* self = static_cast<TreeBuilder*>(user);
        if (self->stack.size() >= QVXMLParser::maxDepth) {
            self->refuse("elements nested deeper than " + std::to_string(QVXMLParser::maxDepth) + " levels");
            return;
        }
        std::size_t count = 0;
        while (atts[count]) count += 2;
        QVXMLElement& element = self->stack.emplace_back(std::string(name));
        element.attributes.reserve(count / 2);
        // The parser refuses duplicate attribute names, so no lookup is needed.
        for (std::size_t i = 0; i < count; i += 2) element.attributes.appendUnique(atts[i], atts[i + 1]);
        if (self->texts.size() < self->stack.size()) self->texts.emplace_back();
        self->texts[self->stack.size() - 1].clear();
    }

    static void XMLCALL characters(void* user, const XML_Char* s, int len) {
        auto* self = static_cast<TreeBuilder*>(user);
        if (self->stack.empty() || len <= 0) return;
        self->texts[self->stack.size() - 1].append(s, static_cast<std::size_t>(len));
    }

    static void XMLCALL end(void* user, const XML_Char*) {
        auto* self = static_cast<TreeBuilder*>(user);
        const std::size_t depth = self->stack.size();
        std::string& text = self->texts[depth - 1];
        QVXMLElement element = std::move(self->stack.back());
        self->stack.pop_back();
        if (!text.empty() && !isBlank(text)) element.stringValue = text;
        if (self->stack.empty()) {
            self->root = std::move(element);
        } else {
            self->stack.back().children.push_back(std::move(element));
        }
    }

    static void XMLCALL doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<TreeBuilder*>(user)->refuse("document type declarations are not accepted");
    }
};

}  // namespace

QVXMLElement QVXMLParser::parse() {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
    if (!parser) throw QVXMLParserError(XML_ERROR_NO_MEMORY, 0, 0, XML_ErrorString(XML_ERROR_NO_MEMORY));
    TreeBuilder builder;
    builder.parser = parser.get();
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), &TreeBuilder::start, &TreeBuilder::end);
    XML_SetCharacterDataHandler(parser.get(), &TreeBuilder::characters);
    XML_SetStartDoctypeDeclHandler(parser.get(), &TreeBuilder::doctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

    constexpr std::size_t chunk = std::size_t{1} << 30;
    std::span<const std::uint8_t> rest = data_;
    bool ok = true;
    do {
        const std::size_t n = std::min(rest.size(), chunk);
        const bool last = n == rest.size();
        if (XML_Parse(parser.get(), reinterpret_cast<const char*>(rest.data()), static_cast<int>(n),
                      last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            ok = false;
            break;
        }
        rest = rest.subspan(n);
    } while (!rest.empty());

    const auto line = static_cast<std::uint64_t>(XML_GetCurrentLineNumber(parser.get()));
    const auto column = static_cast<std::uint64_t>(XML_GetCurrentColumnNumber(parser.get()));
    if (builder.refusal) throw QVXMLParserError(0, line, column, *builder.refusal);
    if (!ok) {
        const XML_Error code = XML_GetErrorCode(parser.get());
        throw QVXMLParserError(code, line, column, XML_ErrorString(code));
    }
    if (!builder.root) throw QVXMLParserError(XML_ERROR_NO_ELEMENTS, line, column, XML_ErrorString(XML_ERROR_NO_ELEMENTS));
    return std::move(*builder.root);
}

}  // namespace zelto
