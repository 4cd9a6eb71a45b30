#include "compare/PresetDiff.h"

#include <algorithm>
#include <bit>
#include <map>
#include <unordered_map>

namespace zelto {

namespace {

constexpr std::string_view kSeparator = " / ";

std::string join(const std::string& prefix, std::string_view segment) {
    std::string path;
    path.reserve(prefix.size() + kSeparator.size() + segment.size());
    path += prefix;
    if (!prefix.empty()) path += kSeparator;
    path += segment;
    return path;
}

std::string quoted(std::string_view text) {
    std::string q = "\"";
    q += text;
    q += '"';
    return q;
}

const char* onOff(bool value) {
    return value ? "on" : "off";
}

std::string floatText(float value) {
    return formatXMLFloat(value);
}

const char* modeText(ZeltoChannelMode mode) {
    switch (mode) {
        case ZeltoChannelMode::mono:
            return "mono";
        case ZeltoChannelMode::stereo:
            return "stereo";
        case ZeltoChannelMode::threeD:
            return "3D";
        case ZeltoChannelMode::iThreeD:
            return "i3D";
    }
    return "mono";
}

std::string routeText(std::uint64_t remote) {
    return remote == ZeltoChannelMap::notRouted ? std::string("not routed") : std::to_string(remote);
}

// Pairs the items of two lists by key: the n-th item of a key on the left
// with the n-th of that key on the right, in the left's order, then the
// right's unpaired ones. Keys are small (ids, names).
template <class T, class KeyOf>
std::vector<std::pair<const T*, const T*>> pairUp(const std::vector<T>& left, const std::vector<T>& right,
                                                  KeyOf keyOf) {
    using Key = std::decay_t<decltype(keyOf(left.front()))>;
    std::map<Key, std::vector<std::size_t>> rightByKey;
    for (std::size_t i = 0; i < right.size(); ++i) rightByKey[keyOf(right[i])].push_back(i);
    std::map<Key, std::size_t> taken;
    std::vector<bool> used(right.size(), false);
    std::vector<std::pair<const T*, const T*>> pairs;
    pairs.reserve(std::max(left.size(), right.size()));
    for (const auto& item : left) {
        const Key key = keyOf(item);
        auto& n = taken[key];
        auto it = rightByKey.find(key);
        if (it != rightByKey.end() && n < it->second.size()) {
            used[it->second[n]] = true;
            pairs.emplace_back(&item, &right[it->second[n]]);
        } else {
            pairs.emplace_back(&item, nullptr);
        }
        ++n;
    }
    for (std::size_t i = 0; i < right.size(); ++i)
        if (!used[i]) pairs.emplace_back(nullptr, &right[i]);
    return pairs;
}

// Floats are the same when they were read from the same text: bit for bit.
template <class T>
bool same(const T& a, const T& b) {
    return a == b;
}
template <>
bool same<float>(const float& a, const float& b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

class Differ {
  public:
    explicit Differ(bool all) : all_(all) {}

    std::vector<DiffRow> rows;

    // A typed value: formatted only when it goes into a row.
    template <class T, class Format>
    void value(DiffSection section, const std::string& prefix, std::string_view label, const T& a, const T& b,
               Format format) {
        if (!all_ && same(a, b)) return;
        rows.push_back({section, join(prefix, label), std::optional<std::string>(format(a)),
                        std::optional<std::string>(format(b))});
    }
    void text(DiffSection section, const std::string& prefix, std::string_view label, const std::string& a,
              const std::string& b) {
        value(section, prefix, label, a, b, [](const std::string& s) { return s; });
    }
    // An item held by one side only (or both, in "all" mode).
    void presence(DiffSection section, const std::string& path, bool left, bool right) {
        if (!all_ && left == right) return;
        auto side = [](bool held) { return held ? std::optional<std::string>("present") : std::nullopt; };
        rows.push_back({section, path, side(left), side(right)});
    }

    // What the model does not read: attributes by name, text, child elements
    // by name and order.
    void residual(const std::string& prefix, const QVXMLElement& a, const QVXMLElement& b) {
        std::map<std::string_view,
                 std::pair<std::optional<std::string_view>, std::optional<std::string_view>>>
            attributes;
        for (auto attribute : a.attributes) attributes[attribute.name].first = attribute.value;
        for (auto attribute : b.attributes) attributes[attribute.name].second = attribute.value;
        for (const auto& [name, sides] : attributes) {
            if (!all_ && sides.first == sides.second) continue;
            auto text = [](std::optional<std::string_view> v) {
                return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
            };
            rows.push_back({DiffSection::residual, join(prefix, "@" + std::string(name)), text(sides.first),
                            text(sides.second)});
        }
        if (all_ || a.stringValue != b.stringValue) {
            if (a.stringValue || b.stringValue)
                rows.push_back({DiffSection::residual, join(prefix, "text"), a.stringValue, b.stringValue});
        }
        auto pairs = pairUp(a.children, b.children, [](const QVXMLElement& e) { return e.elementName; });
        std::map<std::string, int> seen;
        for (const auto& [l, r] : pairs) {
            const std::string& name = (l ? l : r)->elementName;
            const int n = ++seen[name];
            if (!all_ && l && r && l->sameContent(*r)) continue;
            auto serialized = [](const QVXMLElement* e) {
                if (!e) return std::optional<std::string>();
                try {
                    return std::optional<std::string>(e->serialize());
                } catch (const std::exception&) {
                    return std::optional<std::string>("(not writable as XML)");
                }
            };
            std::string label = "<" + name + ">";
            if (n > 1) label += " " + std::to_string(n);
            rows.push_back({DiffSection::residual, join(prefix, label), serialized(l), serialized(r)});
        }
    }

    void channel(const std::string& prefix, const ZeltoChannelSettings& a, const ZeltoChannelSettings& b) {
        constexpr auto s = DiffSection::channel;
        auto f = floatText;
        auto n = [](std::uint64_t v) { return std::to_string(v); };
        text(s, prefix, "Name", a.name, b.name);
        text(s, prefix, "Icon", a.icon, b.icon);
        text(s, prefix, "Colour", a.color, b.color);
        value(s, prefix, "Visible", a.visible, b.visible, onOff);
        value(s, prefix, "Linked stereo channel", a.linkedStereoChannel, b.linkedStereoChannel,
              [](std::int64_t v) { return std::to_string(v); });
        value(s, prefix, "Distance", a.r, b.r, f);
        // Compared as stored (radians), shown in degrees.
        if (all_ || !same(a.theta, b.theta))
            rows.push_back({s, join(prefix, "Elevation (°)"), f(a.elevation()), f(b.elevation())});
        if (all_ || !same(a.phi, b.phi))
            rows.push_back({s, join(prefix, "Pan (azimuth °)"), f(a.azimuth()), f(b.azimuth())});
        value(s, prefix, "Width offset", a.widthOffset, b.widthOffset, f);
        value(s, prefix, "Mode", a.channelMode, b.channelMode, modeText);
        value(s, prefix, "Gain (dB)", a.channelGaindB, b.channelGaindB, f);
        value(s, prefix, "Solo", a.solo, b.solo, onOff);
        value(s, prefix, "Mute", a.mute, b.mute, onOff);
        value(s, prefix, "Group", a.groupID, b.groupID, n);
        value(s, prefix, "Position", a.index, b.index, n);
        residual(prefix, a, b);
    }

    void group(const std::string& prefix, const ZeltoGroup& a, const ZeltoGroup& b) {
        text(DiffSection::group, prefix, "Name", a.name, b.name);
        text(DiffSection::group, prefix, "Icon", a.icon, b.icon);
        text(DiffSection::group, prefix, "Colour", a.colour, b.colour);
        residual(prefix, a, b);
    }

    void mix(const std::string& prefix, const ZeltoUser& a, const ZeltoUser& b) {
        text(DiffSection::mix, prefix, "Icon", a.icon, b.icon);
        value(DiffSection::mix, prefix, "Hide mix", a.hideMix, b.hideMix,
              [](std::int64_t v) { return std::to_string(v); });
        text(DiffSection::mix, prefix, "Phase invert", a.phaseInvert, b.phaseInvert);
        residual(prefix, a, b);
        for (const auto& [l, r] : pairUp(a.groups, b.groups, [](const ZeltoGroup& g) { return g.id; })) {
            const std::string path = join(prefix, "Group " + std::to_string((l ? l : r)->id));
            if (l && r)
                group(path, *l, *r);
            else
                presence(DiffSection::group, path, l, r);
        }
        const auto& la = a.channelSettingsList;
        const auto& lb = b.channelSettingsList;
        residual(join(prefix, "Channels"), la, lb);
        for (const auto& [l, r] : pairUp(la.channelSettings, lb.channelSettings,
                                         [](const ZeltoChannelSettings& c) { return c.inputChannel; })) {
            const std::string path = join(prefix, "Input " + std::to_string((l ? l : r)->inputChannel));
            if (l && r)
                channel(path, *l, *r);
            else
                presence(DiffSection::channel, path, l, r);
        }
    }

    void map(const std::string& prefix, const std::vector<ZeltoChannelMap>& a,
             const std::vector<ZeltoChannelMap>& b) {
        for (const auto& [l, r] : pairUp(a, b, [](const ZeltoChannelMap& m) { return m.local; })) {
            const std::string path = join(prefix, "Local " + std::to_string((l ? l : r)->local));
            if (!all_ && l && r && l->remote == r->remote && l->sameContent(*r)) continue;
            rows.push_back({DiffSection::routing, path,
                            l ? std::optional(routeText(l->remote)) : std::nullopt,
                            r ? std::optional(routeText(r->remote)) : std::nullopt});
            if (l && r) residual(path, *l, *r);
        }
    }

    void preset(const ZeltoPreset& a, const ZeltoPreset& b) {
        text(DiffSection::preset, "", "Name", a.name, b.name);
        text(DiffSection::preset, "", "Version", a.version, b.version);
        residual("Preset", a, b);
        residual("Mixes", a.userList, b.userList);
        for (const auto& [l, r] :
             pairUp(a.userList.users, b.userList.users, [](const ZeltoUser& u) { return u.name; })) {
            const std::string path = "Mix " + quoted((l ? l : r)->name);
            if (l && r)
                mix(path, *l, *r);
            else
                presence(DiffSection::mix, path, l, r);
        }
        const auto& ra = a.userList.remoteSettings;
        const auto& rb = b.userList.remoteSettings;
        map("Routing / Input map", ra.inputMap(), rb.inputMap());
        map("Routing / Output map", ra.outputMap(), rb.outputMap());
        residual("Routing", ra, rb);
    }

  private:
    bool all_;
};

}  // namespace

const char* diffSectionName(DiffSection section) noexcept {
    switch (section) {
        case DiffSection::preset:
            return "preset";
        case DiffSection::mix:
            return "mix";
        case DiffSection::channel:
            return "channel";
        case DiffSection::group:
            return "group";
        case DiffSection::routing:
            return "routing";
        case DiffSection::residual:
            return "residual";
    }
    return "preset";
}

std::vector<DiffRow> diffPresets(const ZeltoPreset& left, const ZeltoPreset& right, DiffRows which) {
    Differ differ(which == DiffRows::all);
    differ.preset(left, right);
    return std::move(differ.rows);
}

}  // namespace zelto
