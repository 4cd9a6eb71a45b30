#include "preset/ZeltoPreset.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "async/Log.h"
#include "preset/ElementReading.h"
#include "preset/ElementWriting.h"
#include "preset/PresetReader.h"

namespace zelto {

namespace {

constexpr detail::AttributeNames<4> kGroupAttributes({"ID", "Name", "Icon", "Colour"});

constexpr float kPi = ZeltoChannelSettings::pi;

const char* boolText(bool value) noexcept {
    return value ? "1" : "0";
}

}  // namespace

std::string_view rawValue(ZeltoChannelMode mode) noexcept {
    switch (mode) {
        case ZeltoChannelMode::mono:
            return "1";
        case ZeltoChannelMode::stereo:
            return "2";
        case ZeltoChannelMode::threeD:
            return "3";
        case ZeltoChannelMode::iThreeD:
            return "4";
    }
    return "1";
}

std::optional<ZeltoChannelMode> channelModeFromRawValue(std::string_view raw) noexcept {
    if (raw == "1") return ZeltoChannelMode::mono;
    if (raw == "2") return ZeltoChannelMode::stereo;
    if (raw == "3") return ZeltoChannelMode::threeD;
    if (raw == "4") return ZeltoChannelMode::iThreeD;
    return std::nullopt;
}

// ---- ZeltoGroup

ZeltoGroup::ZeltoGroup(std::int64_t id, std::string name, std::string icon, std::string colour)
    : QVXMLElement("Group"),
      id(id),
      name(std::move(name)),
      icon(std::move(icon)),
      colour(std::move(colour)) {}

ZeltoGroup::ZeltoGroup(const QVXMLElement& element) : ZeltoGroup(QVXMLElement(element)) {}

ZeltoGroup::ZeltoGroup(QVXMLElement&& element) {
    detail::AttributeSlots slots(element.attributes, kGroupAttributes);
    id = slots.int64(0);
    name = slots.string(1);
    icon = slots.string(2);
    colour = slots.string(3);
    slots.removeTaken();
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

QVXMLElement ZeltoGroup::toElement() const {
    QVXMLElement element(*this, {}, {});
    element.setAttribute("ID", std::to_string(id));
    element.setAttribute("Name", name);
    element.setAttribute("Icon", icon);
    element.setAttribute("Colour", colour);
    return element;
}

void ZeltoGroup::writeXML(std::string& out, int level) const {
    detail::NumberTexts numbers;
    const detail::KnownAttribute known[] = {
        {"Colour", colour}, {"ID", numbers.integer(id)}, {"Icon", icon}, {"Name", name}};
    detail::writeStartTag(out, level, *this, known);
    if (detail::writeBodyStart(out, level, *this, false)) detail::writeEndTag(out, level, elementName);
}

// ---- ZeltoChannelSettings

ZeltoChannelSettings::ZeltoChannelSettings() : QVXMLElement("ChannelSettings") {}

ZeltoChannelSettings::ZeltoChannelSettings(const QVXMLElement& element)
    : ZeltoChannelSettings(QVXMLElement(element)) {}

ZeltoChannelSettings::ZeltoChannelSettings(QVXMLElement&& element) {
    detail::AttributeSlots slots(element.attributes, detail::kChannelAttributes);
    detail::readChannelFields(slots, *this);
    slots.removeTaken();
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

void detail::readChannelFields(const ValueSlots<16>& slots, ZeltoChannelSettings& c) {
    c.inputChannel = slots.uint64(0);
    c.index = slots.uint64(1);
    c.name.assign(slots.require(2));
    c.icon.assign(slots.require(3));
    c.color.assign(slots.require(4));
    c.visible = slots.boolean(5);
    c.linkedStereoChannel = slots.int64(6);
    c.r = slots.float32(7);
    c.theta = slots.float32(8);
    c.phi = slots.float32(9);
    c.widthOffset = slots.float32(10);
    const auto mode = channelModeFromRawValue(slots.require(11));
    if (!mode) throw QVXMLDecodingError::attributeValueConversion();
    c.channelMode = *mode;
    c.channelGaindB = slots.float32(12);
    c.solo = slots.boolean(13);
    c.mute = slots.boolean(14);
    c.groupID = slots.uint64(15);
}

float ZeltoChannelSettings::elevation() const noexcept {
    return 90.0f - theta * 180.0f / kPi;
}

void ZeltoChannelSettings::setElevation(float degrees) noexcept {
    theta = (90.0f - degrees) * kPi / 180.0f;
}

float ZeltoChannelSettings::azimuth() const noexcept {
    return phi * 180.0f / kPi;
}

void ZeltoChannelSettings::setAzimuth(float degrees) noexcept {
    phi = degrees * kPi / 180.0f;
}

QVXMLElement ZeltoChannelSettings::toElement() const {
    QVXMLElement element(*this, {}, {});
    element.setAttribute("InputChannel", std::to_string(inputChannel));
    element.setAttribute("Index", std::to_string(index));
    element.setAttribute("Name", name);
    element.setAttribute("Icon", icon);
    element.setAttribute("Color", color);
    element.setAttribute("Visible", boolText(visible));
    element.setAttribute("LinkedStereoChannel", std::to_string(linkedStereoChannel));
    element.setAttribute("R", formatXMLFloat(r));
    element.setAttribute("Theta", formatXMLFloat(theta));
    element.setAttribute("Phi", formatXMLFloat(phi));
    element.setAttribute("WidthOffset", formatXMLFloat(widthOffset));
    element.setAttribute("ChannelMode", std::string(rawValue(channelMode)));
    element.setAttribute("ChannelGaindB", formatXMLFloat(channelGaindB));
    element.setAttribute("Solo", boolText(solo));
    element.setAttribute("Mute", boolText(mute));
    element.setAttribute("GroupID", std::to_string(groupID));
    return element;
}

void ZeltoChannelSettings::writeXML(std::string& out, int level) const {
    detail::NumberTexts numbers;
    // Sorted by name, as they are written.
    const detail::KnownAttribute known[] = {
        {"ChannelGaindB", numbers.floating(channelGaindB)},
        {"ChannelMode", rawValue(channelMode)},
        {"Color", color},
        {"GroupID", numbers.unsignedInteger(groupID)},
        {"Icon", icon},
        {"Index", numbers.unsignedInteger(index)},
        {"InputChannel", numbers.unsignedInteger(inputChannel)},
        {"LinkedStereoChannel", numbers.integer(linkedStereoChannel)},
        {"Mute", boolText(mute)},
        {"Name", name},
        {"Phi", numbers.floating(phi)},
        {"R", numbers.floating(r)},
        {"Solo", boolText(solo)},
        {"Theta", numbers.floating(theta)},
        {"Visible", boolText(visible)},
        {"WidthOffset", numbers.floating(widthOffset)},
    };
    detail::writeStartTag(out, level, *this, known);
    if (detail::writeBodyStart(out, level, *this, false)) detail::writeEndTag(out, level, elementName);
}

// ---- ZeltoChannelSettingsList

ZeltoChannelSettingsList::ZeltoChannelSettingsList() : QVXMLElement("ChannelSettingsList") {}

ZeltoChannelSettingsList::ZeltoChannelSettingsList(const QVXMLElement& element)
    : ZeltoChannelSettingsList(QVXMLElement(element)) {}

ZeltoChannelSettingsList::ZeltoChannelSettingsList(QVXMLElement&& element) {
    // Channels are read where they stand and the rest closes up behind them: a list holds dozens.
    auto& children = element.children;
    std::size_t count = 0;
    for (const auto& child : children) count += child.elementName == "ChannelSettings";
    channelSettings.reserve(count);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i].elementName == "ChannelSettings") {
            channelSettings.emplace_back(std::move(children[i]));
        } else {
            if (kept != i) children[kept] = std::move(children[i]);
            ++kept;
        }
    }
    children.resize(kept);
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

QVXMLElement ZeltoChannelSettingsList::toElement() const {
    QVXMLElement element(*this, {}, {});
    std::vector<const ZeltoChannelSettings*> sorted;
    sorted.reserve(channelSettings.size());
    for (const auto& c : channelSettings) sorted.push_back(&c);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto* a, const auto* b) { return a->index < b->index; });
    element.children.reserve(element.children.size() + sorted.size());
    for (const auto* c : sorted) element.children.push_back(c->toElement());
    return element;
}

void ZeltoChannelSettingsList::writeXML(std::string& out, int level) const {
    detail::writeStartTag(out, level, *this, {});
    if (!detail::writeBodyStart(out, level, *this, !channelSettings.empty())) return;
    const bool inOrder = std::is_sorted(channelSettings.begin(), channelSettings.end(),
                                        [](const auto& a, const auto& b) { return a.index < b.index; });
    if (inOrder) {
        for (const auto& c : channelSettings) {
            c.writeXML(out, level + 1);
            out += '\n';
        }
    } else {
        std::vector<const ZeltoChannelSettings*> sorted;
        sorted.reserve(channelSettings.size());
        for (const auto& c : channelSettings) sorted.push_back(&c);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto* a, const auto* b) { return a->index < b->index; });
        for (const auto* c : sorted) {
            c->writeXML(out, level + 1);
            out += '\n';
        }
    }
    detail::writeEndTag(out, level, elementName);
}

// ---- ZeltoUser

ZeltoUser::ZeltoUser(std::string name, std::string icon, std::int64_t hideMix, std::string phaseInvert)
    : QVXMLElement("User"),
      name(std::move(name)),
      icon(std::move(icon)),
      hideMix(hideMix),
      phaseInvert(std::move(phaseInvert)) {}

ZeltoUser::ZeltoUser(const QVXMLElement& element) : ZeltoUser(QVXMLElement(element)) {}

ZeltoUser::ZeltoUser(QVXMLElement&& element) {
    detail::AttributeSlots slots(element.attributes, detail::kUserAttributes);
    detail::readUserFields(slots, *this);
    auto known = detail::extractChildren(element.children, {"Groups", "ChannelSettingsList"});
    QVXMLElement* groupsElement = detail::firstNamed(known, "Groups");
    if (!groupsElement) throw QVXMLDecodingError::childNotFound();
    QVXMLElement* channelsElement = detail::firstNamed(known, "ChannelSettingsList");
    if (!channelsElement) throw QVXMLDecodingError::childNotFound();
    groups.reserve(groupsElement->children.size());
    for (auto& child : groupsElement->children)
        if (child.elementName == "Group") groups.emplace_back(std::move(child));
    channelSettingsList = ZeltoChannelSettingsList(std::move(*channelsElement));
    slots.removeTaken();
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

void detail::readUserFields(const ValueSlots<4>& slots, ZeltoUser& user) {
    user.name = slots.string(0);
    user.icon = slots.string(1);
    user.hideMix = slots.int64(2);
    user.phaseInvert = slots.string(3);
}

QVXMLElement ZeltoUser::toElement() const {
    QVXMLElement element(*this, {}, {});
    element.setAttribute("Name", name);
    element.setAttribute("Icon", icon);
    element.setAttribute("MixHide", std::to_string(hideMix));
    element.setAttribute("PhaseInvert", phaseInvert);
    QVXMLElement groupsElement("Groups");
    groupsElement.children.reserve(groups.size());
    for (const auto& group : groups) groupsElement.children.push_back(group.toElement());
    element.children.push_back(std::move(groupsElement));
    element.children.push_back(channelSettingsList.toElement());
    return element;
}

void ZeltoUser::writeXML(std::string& out, int level) const {
    detail::NumberTexts numbers;
    const detail::KnownAttribute known[] = {
        {"Icon", icon}, {"MixHide", numbers.integer(hideMix)}, {"Name", name}, {"PhaseInvert", phaseInvert}};
    detail::writeStartTag(out, level, *this, known);
    detail::writeBodyStart(out, level, *this, true);
    out.append(static_cast<std::size_t>(level + 1), '\t');
    if (groups.empty()) {
        out += "<Groups/>\n";
    } else {
        out += "<Groups>\n";
        for (const auto& group : groups) {
            group.writeXML(out, level + 2);
            out += '\n';
        }
        detail::writeEndTag(out, level + 1, "Groups");
        out += '\n';
    }
    channelSettingsList.writeXML(out, level + 1);
    out += '\n';
    detail::writeEndTag(out, level, elementName);
}

bool operator==(const ZeltoUser& a, const ZeltoUser& b) {
    return a.hideMix == b.hideMix && canonicallyEqual(a.name, b.name) && canonicallyEqual(a.icon, b.icon) &&
           canonicallyEqual(a.phaseInvert, b.phaseInvert);
}

// ---- ZeltoUserList

ZeltoUserList::ZeltoUserList() : QVXMLElement("UserList") {}

ZeltoUserList::ZeltoUserList(const QVXMLElement& element) : ZeltoUserList(QVXMLElement(element)) {}

ZeltoUserList::ZeltoUserList(QVXMLElement&& element) {
    auto known = detail::extractChildren(element.children, {"User", "RemoteSettings"});
    users.reserve(known.size());
    QVXMLElement* remote = nullptr;
    for (auto& child : known) {
        if (child.elementName == "User") {
            users.emplace_back(std::move(child));
        } else if (!remote) {
            remote = &child;
        }
    }
    if (!remote) throw QVXMLDecodingError::childNotFound();
    remoteSettings = ZeltoRemoteSettings(std::move(*remote));
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

QVXMLElement ZeltoUserList::toElement() {
    QVXMLElement element(*this, {}, {});
    element.children.reserve(element.children.size() + users.size() + 1);
    for (const auto& user : users) element.children.push_back(user.toElement());
    element.children.push_back(remoteSettings.toElement());
    return element;
}

void ZeltoUserList::writeXML(std::string& out, int level) {
    detail::writeStartTag(out, level, *this, {});
    detail::writeBodyStart(out, level, *this, true);
    for (const auto& user : users) {
        user.writeXML(out, level + 1);
        out += '\n';
    }
    remoteSettings.writeXML(out, level + 1);
    out += '\n';
    detail::writeEndTag(out, level, elementName);
}

// ---- ZeltoPreset

ZeltoPreset::ZeltoPreset(const QVXMLElement& element) : ZeltoPreset(QVXMLElement(element)) {}

ZeltoPreset::ZeltoPreset(QVXMLElement&& element) {
    detail::AttributeSlots slots(element.attributes, detail::kPresetAttributes);
    detail::readPresetFields(slots, *this);
    auto known = detail::extractChildren(element.children, {"UserList"});
    if (known.empty()) throw QVXMLDecodingError::childNotFound();
    userList = ZeltoUserList(std::move(known.front()));
    slots.removeTaken();
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

void detail::readPresetFields(const ValueSlots<2>& slots, ZeltoPreset& preset) {
    preset.name = slots.string(0);
    preset.version = slots.string(1);
}

ZeltoPreset::ZeltoPreset() = default;

namespace {

// Inflated pieces go straight into the reader's own buffer. Should the text fail to read, inflating
// still runs to the end so that a damaged stream reports its compression error first.
template <typename Reader>
void inflateInto(Reader& reader, std::span<const std::uint8_t> compressedData) {
    if (compressedData.empty()) return;
    constexpr std::size_t pieceSize = std::size_t{1} << 20;  // few pieces: the parser pays per piece
    gzip::Inflater inflater(compressedData, 0);
    std::vector<std::uint8_t> discard;
    std::size_t total = 0;
    while (!inflater.finished()) {
        std::span<std::uint8_t> target = reader.buffer(pieceSize);
        if (target.empty()) {
            discard.resize(pieceSize);
            target = discard;
        }
        const std::size_t n = inflater.inflateInto(target.data(), target.size());
        total += n;
        if (total > gzip::maxInflatedSize) throw GzipError::inflatedTooLarge(gzip::maxInflatedSize);
        if (target.data() != discard.data()) reader.parseBuffer(n);
    }
}

}  // namespace

// The direct reader gives up on any fault; reading again through the element tree then reports it.
ZeltoPreset ZeltoPreset::fromData(std::span<const std::uint8_t> data) {
    if (auto preset = detail::PresetReader::read(data)) return std::move(*preset);
    return ZeltoPreset(QVXMLParser(data).parse());
}

ZeltoPreset ZeltoPreset::fromData(std::string_view text) {
    return fromData(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

ZeltoPreset ZeltoPreset::fromCompressedData(std::span<const std::uint8_t> compressedData) {
    {
        detail::PresetReader reader;
        inflateInto(reader, compressedData);
        if (auto preset = reader.finish()) return std::move(*preset);
    }
    QVXMLParser parser;
    inflateInto(parser, compressedData);
    return ZeltoPreset(parser.finish());
}

ZeltoPreset ZeltoPreset::defaultOff() {
    try {
        return fromData(emptyPresetResource());
    } catch (const std::exception& error) {
        logFormat(LogCategory::preset, LogLevel::critical,
                  "built-in preset Resources/EmptyPreset.xml does not read: %s", error.what());
        std::abort();
    }
}

void ZeltoPreset::regroupChannels() {
    // For each user, the positions of its channels by group id, in list order; then the new order.
    // Built from buckets so the work grows with groups + channels, not their product.
    std::vector<std::vector<std::size_t>> orders(userList.users.size());
    std::size_t total = 0;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> byGroup;
    for (std::size_t u = 0; u < userList.users.size(); ++u) {
        const auto& user = userList.users[u];
        const auto& channels = user.channelSettingsList.channelSettings;
        byGroup.clear();
        for (std::size_t i = 0; i < channels.size(); ++i) byGroup[channels[i].groupID].push_back(i);
        for (const auto& group : user.groups) {
            if (group.id < 0) continue;
            auto it = byGroup.find(static_cast<std::uint64_t>(group.id));
            if (it == byGroup.end()) continue;
            // Groups sharing an id repeat their channels, so a small document can ask for a huge one.
            // Refuse, before changing anything, a result larger than a reader accepts.
            total += it->second.size();
            if (total > maxWrittenChannels) throw QVXMLEncodingError::encodingFailed();
            orders[u].insert(orders[u].end(), it->second.begin(), it->second.end());
        }
    }

    for (std::size_t u = 0; u < userList.users.size(); ++u) {
        auto& channels = userList.users[u].channelSettingsList.channelSettings;
        const auto& order = orders[u];
        bool unchanged = order.size() == channels.size();
        for (std::size_t i = 0; unchanged && i < order.size(); ++i) unchanged = order[i] == i;
        if (unchanged) {
            for (std::size_t i = 0; i < channels.size(); ++i) channels[i].index = i;
            continue;
        }
        std::vector<std::uint32_t> uses(channels.size(), 0);
        for (std::size_t i : order) ++uses[i];
        std::vector<ZeltoChannelSettings> regrouped;
        regrouped.reserve(order.size());
        for (std::size_t i : order) {
            // A channel in several groups is copied for all but its last place.
            if (--uses[i] == 0) {
                regrouped.push_back(std::move(channels[i]));
            } else {
                regrouped.push_back(channels[i]);
            }
            regrouped.back().index = regrouped.size() - 1;
        }
        channels = std::move(regrouped);
    }
}

QVXMLElement ZeltoPreset::toElement() {
    regroupChannels();
    QVXMLElement element(*this, {}, {});
    element.setAttribute("Name", name);
    element.setAttribute("Version", version);
    element.children.push_back(userList.toElement());
    return element;
}

std::string ZeltoPreset::toText() {
    regroupChannels();
    std::string text;
    text.reserve(lastDataSize_ + lastDataSize_ / 8 + 4096);
    text += xmlDeclaration;
    const detail::KnownAttribute known[] = {{"Name", name}, {"Version", version}};
    detail::writeStartTag(text, 0, *this, known);
    detail::writeBodyStart(text, 0, *this, true);
    userList.writeXML(text, 1);
    text += '\n';
    detail::writeEndTag(text, 0, elementName);
    lastDataSize_ = text.size();
    return text;
}

std::vector<std::uint8_t> ZeltoPreset::toData() {
    const std::string text = toText();
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> ZeltoPreset::toCompressedData() {
    const std::string text = toText();
    return gzip::compress(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), -1, 15);
}

void ZeltoPreset::applyGroupColorsToChannelColors() {
    for (auto& user : userList.users) {
        auto& channels = user.channelSettingsList.channelSettings;
        if (channels.empty()) continue;
        std::vector<const ZeltoGroup*> sorted;
        for (const auto& g : user.groups) sorted.push_back(&g);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto* a, const auto* b) { return a->id < b->id; });
        for (auto& channel : channels)
            if (channel.groupID < sorted.size()) channel.color = sorted[channel.groupID]->colour;
    }
}

}  // namespace zelto
