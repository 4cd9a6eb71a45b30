#include "preset/QVXMLParser.h"

#include <expat.h>

#include "preset/ExpatSupport.h"

// Older versions expand entity references without limit.
#if XML_MAJOR_VERSION < 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION < 4)
#error "expat 2.4 or later is required"
#endif

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace zelto {

QVXMLParserError::QVXMLParserError(int code, std::uint64_t line, std::uint64_t column,
                                   const std::string& message)
    : std::runtime_error("XML parse error at line " + std::to_string(line) + ", column " +
                         std::to_string(column) + ": " + message),
      code_(code),
      line_(line),
      column_(column) {}

namespace {

// Lengths of attribute names, keyed by the parser's pointer to the name: the parser keeps one stored
// copy per distinct attribute name for the whole document, and a preset repeats a few dozen names
// tens of thousands of times.
class AttributeNameLengths {
  public:
    std::size_t length(const XML_Char* key) noexcept {
        const std::size_t start = (reinterpret_cast<std::uintptr_t>(key) >> 4) % slots_.size();
        for (std::size_t probe = 0; probe < 8; ++probe) {
            Slot& slot = slots_[(start + probe) % slots_.size()];
            if (slot.key == key) return slot.length;
            if (!slot.key) {
                slot.key = key;
                slot.length = std::strlen(key);
                return slot.length;
            }
        }
        return std::strlen(key);
    }

  private:
    struct Slot {
        const XML_Char* key = nullptr;
        std::size_t length = 0;
    };
    std::array<Slot, 128> slots_{};
};

// The state behind the three event handlers. Text of one element is joined across the chunks the
// parser reports (it splits at entity references and buffer ends) and kept when it is not blank.
struct TreeBuilder {
    XML_Parser parser = nullptr;
    // Open elements. Each is the last child of the one below it (or the root), and a parent gains no
    // other child while one is open, so these pointers stay valid.
    std::vector<QVXMLElement*> stack;
    std::vector<std::string> texts;  // one per open element; buffers are reused
    std::optional<QVXMLElement> root;
    std::optional<std::string> refusal;
    std::size_t nodes = 0;
    AttributeNameLengths nameLengths;
    std::vector<std::size_t> lengths;  // of the current element's attribute names and values

    void refuse(std::string why) {
        if (!refusal) refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }

    static void XMLCALL start(void* user, const XML_Char* name, const XML_Char** atts) {
        auto* self = static_cast<TreeBuilder*>(user);
        // Once refused, the parser may still report the end of an empty element; nothing more is built.
        if (self->refusal) return;
        if (self->stack.size() >= QVXMLParser::maxDepth) {
            self->refuse("elements nested deeper than " + std::to_string(QVXMLParser::maxDepth) + " levels");
            return;
        }
        std::size_t count = 0;
        while (atts[count]) count += 2;
        self->nodes += 1 + count / 2;
        if (self->nodes > QVXMLParser::maxNodes) {
            self->refuse("more than " + std::to_string(QVXMLParser::maxNodes) + " elements and attributes");
            return;
        }
        QVXMLElement* element;
        if (self->stack.empty()) {
            element = &self->root.emplace(name);
        } else {
            element = &self->stack.back()->children.emplace_back(name);
        }
        self->stack.push_back(element);
        if (count > 0) {
            auto& lengths = self->lengths;
            lengths.resize(count);
            for (std::size_t i = 0; i < count; i += 2) {
                lengths[i] = self->nameLengths.length(atts[i]);
                lengths[i + 1] = std::strlen(atts[i + 1]);
            }
            // The parser refuses duplicate attribute names, so no lookup is needed.
            element->attributes.appendUnique(atts, lengths.data(), count / 2);
        }
        if (self->texts.size() < self->stack.size()) self->texts.emplace_back();
        self->texts[self->stack.size() - 1].clear();
    }

    static void XMLCALL characters(void* user, const XML_Char* s, int len) {
        auto* self = static_cast<TreeBuilder*>(user);
        if (self->refusal || self->stack.empty() || len <= 0) return;
        self->texts[self->stack.size() - 1].append(s, static_cast<std::size_t>(len));
    }

    static void XMLCALL end(void* user, const XML_Char*) {
        auto* self = static_cast<TreeBuilder*>(user);
        if (self->refusal || self->stack.empty()) return;
        const std::string& text = self->texts[self->stack.size() - 1];
        if (!text.empty() && !detail::isBlank(text)) self->stack.back()->stringValue = text;
        self->stack.pop_back();
    }

    static void XMLCALL doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<TreeBuilder*>(user)->refuse("document type declarations are not accepted");
    }
};

}  // namespace

struct QVXMLParser::State {
    detail::ExpatParser parser;
    TreeBuilder builder;
    bool failed = false;
};

QVXMLParser::QVXMLParser(std::span<const std::uint8_t> data) : data_(data) {}

QVXMLParser::QVXMLParser(std::string_view text)
    : data_(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) {}

QVXMLParser::QVXMLParser() = default;
QVXMLParser::~QVXMLParser() = default;

void QVXMLParser::start() {
    {
        state_ = std::make_unique<State>();
        state_->parser = detail::makeExpatParser(&state_->builder);
        if (!state_->parser)
            throw QVXMLParserError(XML_ERROR_NO_MEMORY, 0, 0, XML_ErrorString(XML_ERROR_NO_MEMORY));
        state_->builder.parser = state_->parser.get();
    }
}

std::span<std::uint8_t> QVXMLParser::buffer(std::size_t size) {
    if (!state_) start();
    return detail::expatBuffer(state_->parser.get(), size, state_->failed);
}

bool QVXMLParser::parseBuffer(std::size_t length) {
    if (!state_) return false;
    return detail::expatParseBuffer(state_->parser.get(), length, state_->failed);
}

bool QVXMLParser::feed(std::span<const std::uint8_t> piece) {
    if (!state_) start();
    if (state_->failed) return false;
    constexpr std::size_t chunk = std::size_t{1} << 30;
    while (!piece.empty()) {
        const std::size_t n = std::min(piece.size(), chunk);
        if (XML_Parse(state_->parser.get(), reinterpret_cast<const char*>(piece.data()), static_cast<int>(n),
                      XML_FALSE) != XML_STATUS_OK) {
            state_->failed = true;
            return false;
        }
        piece = piece.subspan(n);
    }
    return true;
}

QVXMLElement QVXMLParser::finish() {
    if (!state_) feed({});
    XML_Parser p = state_->parser.get();
    if (!state_->failed && XML_Parse(p, nullptr, 0, XML_TRUE) != XML_STATUS_OK) state_->failed = true;
    const auto line = static_cast<std::uint64_t>(XML_GetCurrentLineNumber(p));
    const auto column = static_cast<std::uint64_t>(XML_GetCurrentColumnNumber(p));
    TreeBuilder& builder = state_->builder;
    if (builder.refusal) throw QVXMLParserError(0, line, column, *builder.refusal);
    if (state_->failed) {
        const XML_Error code = XML_GetErrorCode(p);
        throw QVXMLParserError(code, line, column, XML_ErrorString(code));
    }
    if (!builder.root)
        throw QVXMLParserError(XML_ERROR_NO_ELEMENTS, line, column, XML_ErrorString(XML_ERROR_NO_ELEMENTS));
    QVXMLElement root = std::move(*builder.root);
    state_.reset();
    return root;
}

QVXMLElement QVXMLParser::parse() {
    state_.reset();
    feed(data_);
    return finish();
}

}  // namespace zelto
