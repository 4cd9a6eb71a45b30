#include "preset/PresetReader.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "preset/ExpatSupport.h"
#include "preset/QVXMLParser.h"

namespace zelto::detail {

namespace {

// What is known about an attribute name, keyed by the parser's pointer to it: the parser keeps one
// stored copy per distinct attribute name for the whole document, and a preset repeats a few dozen
// names tens of thousands of times.
struct NameInfo {
    const XML_Char* key = nullptr;
    std::size_t length = 0;
    std::size_t channelSlot = 16;  // position in kChannelAttributes; 16 when not one of them
};

class NameCache {
  public:
    NameInfo lookup(const XML_Char* key) noexcept {
        const std::size_t start = (reinterpret_cast<std::uintptr_t>(key) >> 4) % slots_.size();
        for (std::size_t probe = 0; probe < 8; ++probe) {
            NameInfo& slot = slots_[(start + probe) % slots_.size()];
            if (slot.key == key) return slot;
            if (!slot.key) {
                slot = describe(key);
                return slot;
            }
        }
        return describe(key);
    }

  private:
    static NameInfo describe(const XML_Char* key) noexcept {
        NameInfo info{key, std::strlen(key), 16};
        const std::string_view name(key, info.length);
        for (std::size_t i = 0; i < 16; ++i)
            if (kChannelAttributes.names[i] == name) info.channelSlot = i;
        return info;
    }

    std::array<NameInfo, 128> slots_{};
};

// Values are a few bytes long; a plain loop beats a call to strlen for each of them.
std::size_t valueLength(const char* text) noexcept {
    const char* end = text;
    while (*end) ++end;
    return static_cast<std::size_t>(end - text);
}

// Which preset class an open element is read as. Children of a typed element are typed only where
// the element constructors would take them; everything else is residual content, built generically.
enum class Kind : std::uint8_t { generic, preset, userList, user, groups, channelList, channel, remote };

struct Frame {
    Kind kind;
    QVXMLElement* element;
};

}  // namespace

struct PresetReader::State {
    ExpatParser parser;
    bool failed = false;  // a parse error, a limit, a decoding error or a shape left to the tree path

    std::optional<ZeltoPreset> preset;
    std::vector<Frame> stack;
    std::vector<std::string> texts;  // one per open element; buffers are reused
    std::size_t nodes = 0;
    NameCache names;
    // The names last seen at each attribute position: elements of one kind list theirs in one order.
    std::array<NameInfo, 24> namesAt{};
    std::vector<const char*> residualTexts;
    std::vector<std::size_t> residualLengths;

    ZeltoUser* user = nullptr;         // the open User
    std::size_t lastChannelCount = 0;  // users of one preset mostly have as many channels
    bool userHasGroups = false;
    bool userHasChannels = false;
    bool hasUserList = false;
    bool hasRemote = false;
    QVXMLElement groups;  // the open Groups: its Group children are typed when it closes
    QVXMLElement remote;  // the open RemoteSettings, typed when it closes

    void giveUp() {
        failed = true;
        XML_StopParser(parser.get(), XML_FALSE);
    }

    // Splits the attributes into the values of `known` (by `slotOf`) and residual ones appended to
    // `element`.
    template <std::size_t N, typename SlotOf>
    void readAttributes(const XML_Char** atts, ValueSlots<N>& slots, QVXMLElement& element, SlotOf slotOf) {
        residualTexts.clear();
        residualLengths.clear();
        for (std::size_t i = 0; atts[i]; i += 2) {
            const std::size_t position = i / 2;
            NameInfo name;
            if (position < namesAt.size()) {
                if (namesAt[position].key != atts[i]) namesAt[position] = names.lookup(atts[i]);
                name = namesAt[position];
            } else {
                name = names.lookup(atts[i]);
            }
            const std::string_view value(atts[i + 1], valueLength(atts[i + 1]));
            const std::size_t slot = slotOf(name);
            if (slot < N) {
                slots.set(slot, value);
            } else {
                residualTexts.push_back(atts[i]);
                residualLengths.push_back(name.length);
                residualTexts.push_back(value.data());
                residualLengths.push_back(value.size());
            }
        }
        // The parser refuses duplicate attribute names, so no lookup is needed.
        if (!residualTexts.empty())
            element.attributes.appendUnique(residualTexts.data(), residualLengths.data(),
                                            residualTexts.size() / 2);
    }

    template <std::size_t N>
    void readAttributes(const XML_Char** atts, ValueSlots<N>& slots, QVXMLElement& element,
                        const AttributeNames<N>& known) {
        readAttributes(atts, slots, element, [&known](const NameInfo& name) {
            const std::string_view text(name.key, name.length);
            for (std::size_t i = 0; i < N; ++i)
                if (sameName(known.names[i], text)) return i;
            return N;
        });
    }

    void readAllAttributes(const XML_Char** atts, QVXMLElement& element) {
        ValueSlots<1> none;
        readAttributes(atts, none, element, [](const NameInfo&) { return std::size_t{1}; });
    }

    // Returns the kind of a new element named `name` under the open one, or gives up.
    Kind kindOf(const XML_Char* name) {
        if (stack.empty()) return Kind::preset;
        const std::string_view n(name);
        auto once = [this](bool& seen, Kind kind) {
            if (seen) giveUp();
            seen = true;
            return kind;
        };
        switch (stack.back().kind) {
            case Kind::preset:
                if (n == "UserList") return once(hasUserList, Kind::userList);
                break;
            case Kind::userList:
                if (n == "User") return Kind::user;
                if (n == "RemoteSettings") return once(hasRemote, Kind::remote);
                break;
            case Kind::user:
                if (n == "Groups") return once(userHasGroups, Kind::groups);
                if (n == "ChannelSettingsList") return once(userHasChannels, Kind::channelList);
                break;
            case Kind::channelList:
                if (n == "ChannelSettings") return Kind::channel;
                break;
            default:
                break;
        }
        return Kind::generic;
    }

    void open(const XML_Char* name, const XML_Char** atts) {
        const Kind kind = kindOf(name);
        if (failed) return;
        QVXMLElement* element = nullptr;
        switch (kind) {
            case Kind::generic:
                element = &stack.back().element->children.emplace_back(name);
                readAllAttributes(atts, *element);
                break;
            case Kind::preset: {
                preset.emplace(PresetReader::emptyPreset());
                element = &*preset;
                element->elementName = name;
                ValueSlots<2> slots;
                readAttributes(atts, slots, *element, kPresetAttributes);
                readPresetFields(slots, *preset);
                break;
            }
            case Kind::userList:
                element = &preset->userList;
                element->elementName = name;
                readAllAttributes(atts, *element);
                break;
            case Kind::user: {
                user = &preset->userList.users.emplace_back(std::string(), std::string(), 0, std::string());
                userHasGroups = userHasChannels = false;
                element = user;
                ValueSlots<4> slots;
                readAttributes(atts, slots, *element, kUserAttributes);
                readUserFields(slots, *user);
                break;
            }
            case Kind::groups:
                element = &groups;
                element->elementName = name;
                readAllAttributes(atts, *element);
                break;
            case Kind::channelList:
                element = &user->channelSettingsList;
                element->elementName = name;
                user->channelSettingsList.channelSettings.reserve(lastChannelCount);
                readAllAttributes(atts, *element);
                break;
            case Kind::channel: {
                auto& channel = user->channelSettingsList.channelSettings.emplace_back();
                element = &channel;
                ValueSlots<16> slots;
                readAttributes(atts, slots, *element, [](const NameInfo& n) { return n.channelSlot; });
                readChannelFields(slots, channel);
                break;
            }
            case Kind::remote:
                element = &remote;
                element->elementName = name;
                readAllAttributes(atts, *element);
                break;
        }
        stack.push_back({kind, element});
    }

    void close() {
        const Frame frame = stack.back();
        const std::string& text = texts[stack.size() - 1];
        if (!text.empty() && !isBlank(text)) frame.element->stringValue = text;
        stack.pop_back();
        switch (frame.kind) {
            case Kind::channelList:
                lastChannelCount = user->channelSettingsList.channelSettings.size();
                break;
            case Kind::user:
                if (!userHasGroups || !userHasChannels) giveUp();
                user = nullptr;
                break;
            case Kind::groups:
                user->groups.reserve(groups.children.size());
                for (auto& child : groups.children)
                    if (child.elementName == "Group") user->groups.emplace_back(std::move(child));
                groups = QVXMLElement();
                break;
            case Kind::remote:
                preset->userList.remoteSettings = ZeltoRemoteSettings(std::move(remote));
                remote = QVXMLElement();
                break;
            case Kind::userList:
                if (!hasRemote) giveUp();
                break;
            case Kind::preset:
                if (!hasUserList) giveUp();
                break;
            default:
                break;
        }
    }

    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char** atts) {
        auto* self = static_cast<State*>(data);
        if (self->failed) return;
        std::size_t count = 0;
        while (atts[count]) count += 2;
        self->nodes += 1 + count / 2;
        if (self->stack.size() >= QVXMLParser::maxDepth || self->nodes > QVXMLParser::maxNodes) {
            self->giveUp();
            return;
        }
        try {
            self->open(name, atts);
        } catch (...) {
            self->giveUp();
            return;
        }
        if (self->failed) return;
        if (self->texts.size() < self->stack.size()) self->texts.emplace_back();
        self->texts[self->stack.size() - 1].clear();
    }

    static void XMLCALL characters(void* data, const XML_Char* s, int len) {
        auto* self = static_cast<State*>(data);
        if (self->failed || self->stack.empty() || len <= 0) return;
        try {
            self->texts[self->stack.size() - 1].append(s, static_cast<std::size_t>(len));
        } catch (...) {
            self->giveUp();
        }
    }

    static void XMLCALL end(void* data, const XML_Char*) {
        auto* self = static_cast<State*>(data);
        if (self->failed || self->stack.empty()) return;
        try {
            self->close();
        } catch (...) {
            self->giveUp();
        }
    }

    static void XMLCALL doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<State*>(data)->giveUp();
    }
};

PresetReader::PresetReader() : state_(std::make_unique<State>()) {
    state_->parser = makeExpatParser(state_.get());
    if (!state_->parser) state_->failed = true;
}

PresetReader::~PresetReader() = default;

std::optional<ZeltoPreset> PresetReader::read(std::span<const std::uint8_t> data) {
    PresetReader reader;
    reader.feed(data);
    return reader.finish();
}

bool PresetReader::feed(std::span<const std::uint8_t> piece) {
    constexpr std::size_t chunk = std::size_t{1} << 30;
    while (!state_->failed && !piece.empty()) {
        const std::size_t n = std::min(piece.size(), chunk);
        if (XML_Parse(state_->parser.get(), reinterpret_cast<const char*>(piece.data()), static_cast<int>(n),
                      XML_FALSE) != XML_STATUS_OK)
            state_->failed = true;
        piece = piece.subspan(n);
    }
    return !state_->failed;
}

std::span<std::uint8_t> PresetReader::buffer(std::size_t size) {
    return expatBuffer(state_->parser.get(), size, state_->failed);
}

bool PresetReader::parseBuffer(std::size_t length) {
    return expatParseBuffer(state_->parser.get(), length, state_->failed);
}

std::optional<ZeltoPreset> PresetReader::finish() {
    if (!state_->failed && XML_Parse(state_->parser.get(), nullptr, 0, XML_TRUE) != XML_STATUS_OK)
        state_->failed = true;
    if (state_->failed || !state_->preset || !state_->stack.empty()) return std::nullopt;
    return std::move(state_->preset);
}

}  // namespace zelto::detail
