#include "preset/ZeltoRemoteSettings.h"

#include <algorithm>

#include "preset/ElementReading.h"
#include "preset/ElementWriting.h"

namespace zelto {

namespace {

constexpr detail::AttributeNames<2> kChannelAttributes({"Local", "Remote"});

using Map = std::vector<ZeltoChannelMap>;

void setEntry(Map& map, std::uint64_t local, std::optional<std::uint64_t> remote) {
    const std::uint64_t r = remote.value_or(ZeltoChannelMap::notRouted);
    if (r != ZeltoChannelMap::notRouted)
        for (auto& entry : map)
            if (entry.remote == r) entry.remote = ZeltoChannelMap::notRouted;
    for (auto& entry : map)
        if (entry.local == local) {
            entry.remote = r;
            return;
        }
    map.emplace_back(local, r);
}

std::optional<std::uint64_t> localToRemote(const Map& map, std::uint64_t local) noexcept {
    for (const auto& entry : map)
        if (entry.local == local) {
            if (entry.remote == ZeltoChannelMap::notRouted) return std::nullopt;
            return entry.remote;
        }
    return std::nullopt;
}

std::optional<std::uint64_t> remoteToLocal(const Map& map, std::uint64_t remote) noexcept {
    for (const auto& entry : map)
        if (entry.remote == remote) return entry.local;
    return std::nullopt;
}

Map readMap(QVXMLElement& mapElement) {
    Map map;
    map.reserve(mapElement.children.size());
    for (auto& child : mapElement.children)
        if (child.elementName == "Channel") map.emplace_back(std::move(child));
    return map;
}

std::vector<const ZeltoChannelMap*> sortedByLocal(const Map& map) {
    std::vector<const ZeltoChannelMap*> sorted;
    sorted.reserve(map.size());
    for (const auto& entry : map) sorted.push_back(&entry);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto* a, const auto* b) { return a->local < b->local; });
    return sorted;
}

void writeMapXML(std::string& out, int level, std::string_view name, const Map& map) {
    out.append(static_cast<std::size_t>(level), '\t');
    out += '<';
    out += name;
    if (map.empty()) {
        out += "/>";
        return;
    }
    out += ">\n";
    for (const auto* entry : sortedByLocal(map)) {
        entry->writeXML(out, level + 1);
        out += '\n';
    }
    detail::writeEndTag(out, level, name);
}

QVXMLElement writeMap(std::string name, const Map& map) {
    QVXMLElement element(std::move(name));
    element.children.reserve(map.size());
    for (const auto* entry : sortedByLocal(map)) element.children.push_back(entry->toElement());
    return element;
}

}  // namespace

ZeltoChannelMap::ZeltoChannelMap(std::uint64_t local, std::uint64_t remote)
    : QVXMLElement("Channel"), local(local), remote(remote) {}

ZeltoChannelMap::ZeltoChannelMap(const QVXMLElement& element) : ZeltoChannelMap(QVXMLElement(element)) {}

ZeltoChannelMap::ZeltoChannelMap(QVXMLElement&& element) {
    detail::AttributeSlots slots(element.attributes, kChannelAttributes);
    local = slots.uint64(0);
    remote = slots.uint64(1);
    slots.removeTaken();
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

QVXMLElement ZeltoChannelMap::toElement() const {
    QVXMLElement element(*this, {}, {});
    element.setAttribute("Local", std::to_string(local));
    element.setAttribute("Remote", std::to_string(remote));
    return element;
}

void ZeltoChannelMap::writeXML(std::string& out, int level) const {
    detail::NumberTexts numbers;
    const detail::KnownAttribute known[] = {{"Local", numbers.unsignedInteger(local)},
                                            {"Remote", numbers.unsignedInteger(remote)}};
    detail::writeStartTag(out, level, *this, known);
    if (detail::writeBodyStart(out, level, *this, false)) detail::writeEndTag(out, level, elementName);
}

std::string ZeltoChannelMap::description() const {
    return std::to_string(local) + " -> " + std::to_string(remote);
}

ZeltoRemoteSettings::ZeltoRemoteSettings() : QVXMLElement("RemoteSettings") {}

ZeltoRemoteSettings::ZeltoRemoteSettings(const QVXMLElement& element) {
    read(QVXMLElement(element));
}

ZeltoRemoteSettings::ZeltoRemoteSettings(QVXMLElement&& element) {
    read(std::move(element));
}

void ZeltoRemoteSettings::read(QVXMLElement&& element) {
    auto maps = detail::extractChildren(element.children, {"InputMap", "OutputMap"});
    QVXMLElement* input = detail::firstNamed(maps, "InputMap");
    if (!input) throw QVXMLDecodingError::childNotFound();
    QVXMLElement* output = detail::firstNamed(maps, "OutputMap");
    if (!output) throw QVXMLDecodingError::childNotFound();
    inputMap_ = readMap(*input);
    outputMap_ = readMap(*output);
    static_cast<QVXMLElement&>(*this) = std::move(element);
}

void ZeltoRemoteSettings::setInputMap(std::uint64_t local, std::optional<std::uint64_t> remote) {
    setEntry(inputMap_, local, remote);
}

void ZeltoRemoteSettings::setOutputMap(std::uint64_t local, std::optional<std::uint64_t> remote) {
    setEntry(outputMap_, local, remote);
}

std::optional<std::uint64_t> ZeltoRemoteSettings::lin2rin(std::uint64_t local) const noexcept {
    return localToRemote(inputMap_, local);
}

std::optional<std::uint64_t> ZeltoRemoteSettings::rin2lin(std::uint64_t remote) const noexcept {
    return remoteToLocal(inputMap_, remote);
}

std::optional<std::uint64_t> ZeltoRemoteSettings::lout2rout(std::uint64_t local) const noexcept {
    return localToRemote(outputMap_, local);
}

std::optional<std::uint64_t> ZeltoRemoteSettings::rout2lout(std::uint64_t remote) const noexcept {
    return remoteToLocal(outputMap_, remote);
}

void ZeltoRemoteSettings::addLocalZero() {
    auto hasLocalZero = [](const Map& map) {
        return std::any_of(map.begin(), map.end(), [](const auto& e) { return e.local == 0; });
    };
    if (!inputMap_.empty() && !hasLocalZero(inputMap_)) setInputMap(0, std::nullopt);
    if (!outputMap_.empty() && !hasLocalZero(outputMap_)) setOutputMap(0, std::nullopt);
}

void ZeltoRemoteSettings::writeXML(std::string& out, int level) {
    addLocalZero();
    detail::writeStartTag(out, level, *this, {});
    detail::writeBodyStart(out, level, *this, true);
    writeMapXML(out, level + 1, "InputMap", inputMap_);
    out += '\n';
    writeMapXML(out, level + 1, "OutputMap", outputMap_);
    out += '\n';
    detail::writeEndTag(out, level, elementName);
}

QVXMLElement ZeltoRemoteSettings::toElement() {
    addLocalZero();
    QVXMLElement element(*this, {}, {});
    element.children.push_back(writeMap("InputMap", inputMap_));
    element.children.push_back(writeMap("OutputMap", outputMap_));
    return element;
}

}  // namespace zelto
