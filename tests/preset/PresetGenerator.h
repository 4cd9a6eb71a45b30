#pragma once

// Builds realistic preset documents as text, in exactly the layout the writer produces (declaration,
// tabs, sorted attributes, channels in group order with indices from 0, maps sorted with local 0), so
// that reading and writing one back must reproduce it byte for byte. Unknown attributes and child
// elements are sprinkled in at every level.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace zelto::testing {

struct PresetShape {
    int users = 48;
    int groupsPerUser = 8;
    int channelsPerUser = 64;
    int mapEntries = 64;
    bool unknownContent = true;
    // Names with markup characters, quotes and non-ASCII letters.
    bool awkwardNames = false;
    std::uint32_t seed = 1;
};

class PresetGenerator {
  public:
    explicit PresetGenerator(PresetShape shape) : shape_(shape), random_(shape.seed) {}

    std::string generate() {
        out_ = R"(<?xml version="1.0" encoding="UTF-8"?>)";
        Attributes root{{"Name", name("Show")}, {"Version", "2.1.0"}};
        if (shape_.unknownContent) root["Venue"] = "Hall & Stage";
        open(0, "Preset", root);
        if (shape_.unknownContent) textElement(1, "Notes", {{"Author", "FOH"}}, "Line check at 5 <pm>");
        open(1, "UserList", shape_.unknownContent ? Attributes{{"Layout", "grid"}} : Attributes{});
        if (shape_.unknownContent) leaf(2, "Template", {{"Kind", "band"}});
        for (int u = 0; u < shape_.users; ++u) user(u);
        remoteSettings();
        close(1, "UserList");
        close(0, "Preset");
        return out_;
    }

  private:
    using Attributes = std::map<std::string, std::string>;

    void user(int u) {
        Attributes a{{"Name", name("Mix " + std::to_string(u + 1))},
                     {"Icon", "icon" + std::to_string(u % 5)},
                     {"MixHide", std::to_string(static_cast<int>(random_() % 3) - 1)},
                     {"PhaseInvert", std::to_string(random_() % 65536)}};
        if (shape_.unknownContent && u % 3 == 0) a["Extra"] = "user-" + std::to_string(u);
        open(2, "User", a);
        if (shape_.unknownContent && u % 2 == 0) leaf(3, "Meta", {{"Key", "k" + std::to_string(u)}});

        // Group ids are a shuffled 0..n-1, so list order differs from id order.
        std::vector<int> ids(static_cast<std::size_t>(shape_.groupsPerUser));
        for (int g = 0; g < shape_.groupsPerUser; ++g) ids[static_cast<std::size_t>(g)] = g;
        std::shuffle(ids.begin(), ids.end(), random_);
        if (ids.empty()) {
            leaf(3, "Groups", {});
        } else {
            open(3, "Groups", {});
            for (int id : ids) {
                Attributes g{{"ID", std::to_string(id)},
                             {"Name", name("Group " + std::to_string(id))},
                             {"Icon", "g" + std::to_string(id)},
                             {"Colour", colour()}};
                if (shape_.unknownContent && id % 4 == 1) g["Color"] = "legacy";
                if (shape_.unknownContent && id % 4 == 2) {
                    open(4, "Group", g);
                    leaf(5, "Badge", {{"Shape", "round"}});
                    close(4, "Group");
                } else {
                    leaf(4, "Group", g);
                }
            }
            close(3, "Groups");
        }

        const bool csExtra = shape_.unknownContent && u % 4 == 0;
        std::vector<std::vector<int>> byGroup(ids.size());
        for (int c = 0; c < shape_.channelsPerUser && !ids.empty(); ++c)
            byGroup[random_() % ids.size()].push_back(c);
        if (shape_.channelsPerUser == 0 || ids.empty()) {
            leaf(3, "ChannelSettingsList", csExtra ? Attributes{{"Sort", "index"}} : Attributes{});
        } else {
            open(3, "ChannelSettingsList", csExtra ? Attributes{{"Sort", "index"}} : Attributes{});
            if (csExtra) leaf(4, "Hint", {});
            int index = 0;
            for (std::size_t g = 0; g < ids.size(); ++g)
                for (int c : byGroup[g]) channel(c, index++, ids[g]);
            close(3, "ChannelSettingsList");
        }
        close(2, "User");
    }

    void channel(int input, int index, int group) {
        Attributes a{{"InputChannel", std::to_string(input)},
                     {"Index", std::to_string(index)},
                     {"Name", name("Ch " + std::to_string(input + 1))},
                     {"Icon", "mic"},
                     {"Color", colour()},
                     {"Visible", bit()},
                     {"LinkedStereoChannel", std::to_string(static_cast<int>(random_() % 65) - 1)},
                     {"R", decimal(0, 200)},
                     {"Theta", decimal(0, 314)},
                     {"Phi", decimal(-314, 314)},
                     {"WidthOffset", decimal(-100, 100)},
                     {"ChannelMode", std::to_string(1 + random_() % 4)},
                     {"ChannelGaindB", decimal(-12000, 1200)},
                     {"Solo", bit()},
                     {"Mute", bit()},
                     {"GroupID", std::to_string(group)}};
        if (shape_.unknownContent && input % 7 == 3) a["Colour"] = "residual";
        if (shape_.unknownContent && input % 11 == 5) {
            open(4, "ChannelSettings", a);
            textElement(5, "Comment", {}, "a & b");
            close(4, "ChannelSettings");
        } else if (shape_.unknownContent && input % 13 == 6) {
            textElement(4, "ChannelSettings", a, "  spare mic  ");
        } else {
            leaf(4, "ChannelSettings", a);
        }
    }

    void remoteSettings() {
        open(2, "RemoteSettings", shape_.unknownContent ? Attributes{{"Model", "XMI"}} : Attributes{});
        if (shape_.unknownContent) leaf(3, "Device", {{"Uid", "00:11:22"}});
        map("InputMap");
        map("OutputMap");
        close(2, "RemoteSettings");
    }

    void map(const char* mapName) {
        if (shape_.mapEntries == 0) {
            leaf(3, mapName, {});
            return;
        }
        open(3, mapName, {});
        // Distinct remotes for a permutation of locals 0..n-1; a few unrouted.
        std::vector<int> remotes(static_cast<std::size_t>(shape_.mapEntries));
        for (int i = 0; i < shape_.mapEntries; ++i) remotes[static_cast<std::size_t>(i)] = i;
        std::shuffle(remotes.begin(), remotes.end(), random_);
        for (int local = 0; local < shape_.mapEntries; ++local) {
            const int r = remotes[static_cast<std::size_t>(local)];
            Attributes a{{"Local", std::to_string(local)},
                         {"Remote", r % 9 == 4 ? "999" : std::to_string(r)}};
            if (shape_.unknownContent && local % 16 == 7) a["Label"] = "patch " + std::to_string(local);
            leaf(4, "Channel", a);
        }
        close(3, mapName);
    }

    std::string name(const std::string& plain) {
        if (!shape_.awkwardNames) return plain;
        static const char* decorations[] = {" & Co", " <L>", " \"quoted\"", " Grüße",
                                            " 日本", " a>b", " 'x'"};
        return plain + decorations[random_() % std::size(decorations)];
    }

    std::string colour() {
        static const char* colours[] = {"#FF0000", "#00FF00", "#0000FF", "#FFAA00", "#888888"};
        return colours[random_() % std::size(colours)];
    }

    std::string bit() { return random_() % 2 ? "1" : "0"; }

    // A value with at most two decimals, written as the shortest text that reads back to its float.
    std::string decimal(int lowUnits, int highUnits) {
        const int hundredths =
            lowUnits + static_cast<int>(random_() % static_cast<unsigned>(highUnits - lowUnits + 1));
        const int whole = std::abs(hundredths) / 100;
        const int frac = std::abs(hundredths) % 100;
        std::string text = (hundredths < 0 ? "-" : "") + std::to_string(whole);
        if (frac == 0) return text + ".0";
        text += '.';
        text += static_cast<char>('0' + frac / 10);
        if (frac % 10) text += static_cast<char>('0' + frac % 10);
        return text;
    }

    static std::string escape(const std::string& value) {
        std::string out;
        for (char c : value) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                default:
                    out += c;
            }
        }
        return out;
    }

    void startTag(int level, const std::string& tag, const Attributes& a) {
        out_.append(static_cast<std::size_t>(level), '\t');
        out_ += '<' + tag;
        for (const auto& [k, v] : a) out_ += ' ' + k + "=\"" + escape(v) + '"';
    }
    void leaf(int level, const std::string& tag, const Attributes& a) {
        startTag(level, tag, a);
        out_ += "/>\n";
    }
    void textElement(int level, const std::string& tag, const Attributes& a, const std::string& text) {
        startTag(level, tag, a);
        out_ += '>' + escape(text) + "</" + tag + ">\n";
    }
    void open(int level, const std::string& tag, const Attributes& a) {
        startTag(level, tag, a);
        out_ += ">\n";
    }
    void close(int level, const std::string& tag) {
        out_.append(static_cast<std::size_t>(level), '\t');
        out_ += "</" + tag + '>';
        if (level > 0) out_ += '\n';
    }

    PresetShape shape_;
    std::mt19937 random_;
    std::string out_;
};

inline std::string generatePreset(PresetShape shape = {}) {
    return PresetGenerator(shape).generate();
}

}  // namespace zelto::testing
