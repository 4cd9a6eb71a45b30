#include "WireRules.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace zelto::sim {

namespace {

// Everything an application may send to a mixer, as the protocol's tables give
// it. '?' in the tags stands for T or F.
struct Rule {
    std::string_view address;
    std::string_view tags;
    bool inBundle;  // travels in a bundle, and only there
};
constexpr Rule kRules[] = {
    {"/ZELTOorvel/control/ConnectRequest", ",iis", false},
    {"/Zo/Ping", ",is", false},
    {"/ZELTOorvel/control/SwitchUser", ",iss", false},
    {"/ZELTOorvel/control/RequestListOfPresets", ",Ts", true},
    {"/ZELTOorvel/control/presetCopyToUSB", ",ss", false},
    {"/ZELTOorvel/control/presetSeg", ",sbiis?s", false},
    {"/ZELTOorvel/control/presetSelect", ",ss", false},
    {"/ZELTOorvel/control/presetDelete", ",Tss", false},
    {"/ZELTOorvel/Hardware/DisplayBlink", ",s", false},
};
constexpr std::string_view kSessionTag = "qv42";
constexpr std::string_view kDiscoveryTag = "qv69";
constexpr std::int32_t kConnectMagic = 50414;
constexpr std::int32_t kDiscoveryPort = 9999;
constexpr std::size_t kSegmentSize = 1000;
constexpr std::string_view kFileSuffix = ".ZELTOshow";
constexpr std::uint64_t kTimeTagImmediately = 1;
constexpr std::string_view kBundlePrefix{"#bundle\0", 8};

struct Refused {
    std::string why;
};

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// One message's bytes, read strictly: NUL-terminated texts padded with NULs to
// four bytes, big-endian integers, nothing left over.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    bool atEnd() const { return pos_ == data_.size(); }

    std::int32_t integer() {
        if (data_.size() - pos_ < 4) throw Refused{"integer argument runs past the end"};
        auto value = static_cast<std::int32_t>(bigEndian32(data_.data() + pos_));
        pos_ += 4;
        return value;
    }

    std::string text(const char* what) {
        const auto* start = data_.data() + pos_;
        const auto* nul = static_cast<const std::uint8_t*>(std::memchr(start, 0, data_.size() - pos_));
        if (!nul) throw Refused{std::string(what) + " without NUL"};
        std::size_t length = static_cast<std::size_t>(nul - start);
        std::size_t padded = (length / 4 + 1) * 4;
        if (padded > data_.size() - pos_) throw Refused{std::string(what) + " padding runs past the end"};
        for (std::size_t i = length; i < padded; ++i) {
            if (start[i] != 0) throw Refused{std::string(what) + " padding is not NUL"};
        }
        pos_ += padded;
        return std::string(reinterpret_cast<const char*>(start), length);
    }

    std::vector<std::uint8_t> blob() {
        std::int32_t size = integer();
        if (size < 0) throw Refused{"negative blob size"};
        std::size_t n = static_cast<std::size_t>(size);
        std::size_t padded = (n + 3) / 4 * 4;
        if (padded > data_.size() - pos_) throw Refused{"blob runs past the end"};
        const auto* start = data_.data() + pos_;
        for (std::size_t i = n; i < padded; ++i) {
            if (start[i] != 0) throw Refused{"blob padding is not NUL"};
        }
        pos_ += padded;
        return std::vector<std::uint8_t>(start, start + n);
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

const Rule* ruleFor(std::string_view address) {
    for (const auto& rule : kRules) {
        if (rule.address == address) return &rule;
    }
    return nullptr;
}

bool tagsMatch(std::string_view pattern, std::string_view tags) {
    if (pattern.size() != tags.size()) return false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        bool ok = pattern[i] == '?' ? (tags[i] == 'T' || tags[i] == 'F') : tags[i] == pattern[i];
        if (!ok) return false;
    }
    return true;
}

WireMessage readMessage(std::span<const std::uint8_t> data, bool inBundle, std::string& subject) {
    Reader reader(data);
    WireMessage m;
    m.inBundle = inBundle;
    m.address = reader.text("address");
    subject = m.address;
    const Rule* rule = ruleFor(m.address);
    if (!rule) throw Refused{"unknown address"};
    if (rule->inBundle != inBundle)
        throw Refused{inBundle ? "message in a bundle" : "message outside a bundle"};
    m.tags = reader.text("type tag string");
    subject = m.address + " " + m.tags;
    if (!tagsMatch(rule->tags, m.tags))
        throw Refused{"type tags " + m.tags + ", not " + std::string(rule->tags)};
    for (char tag : std::string_view(m.tags).substr(1)) {
        switch (tag) {
            case 'i':
                m.values.emplace_back(reader.integer());
                break;
            case 's':
                m.values.emplace_back(reader.text("string argument"));
                break;
            case 'b':
                m.values.emplace_back(reader.blob());
                break;
            default:
                m.values.emplace_back(tag == 'T');
                break;
        }
    }
    if (!reader.atEnd()) throw Refused{"bytes after the last argument"};
    return m;
}

void readBundle(std::span<const std::uint8_t> data, WireDatagram& out) {
    if (data.size() < 16 || std::memcmp(data.data(), kBundlePrefix.data(), kBundlePrefix.size()) != 0)
        throw Refused{"no \"#bundle\" prefix"};
    std::uint64_t timeTag = std::uint64_t{bigEndian32(data.data() + 8)} << 32 | bigEndian32(data.data() + 12);
    if (timeTag != kTimeTagImmediately)
        throw Refused{"bundle time tag " + std::to_string(timeTag) + ", not 1 (immediately)"};
    for (std::size_t pos = 16; pos < data.size();) {
        if (data.size() - pos == 4) throw Refused{"size field without an element"};
        auto size = static_cast<std::int32_t>(bigEndian32(data.data() + pos));
        if (size <= 0 || size % 4 != 0 || static_cast<std::size_t>(size) > data.size() - pos - 4)
            throw Refused{"element size " + std::to_string(size) + " does not frame an element"};
        auto element = data.subspan(pos + 4, static_cast<std::size_t>(size));
        if (element[0] != '/') throw Refused{"nested bundle"};
        out.messages.push_back(readMessage(element, true, out.subject));
        pos += 4 + static_cast<std::size_t>(size);
    }
    if (out.messages.size() != 1)
        throw Refused{"bundle of " + std::to_string(out.messages.size()) + " messages, not one"};
}

// "*[2021-05-01T10:00:00.000Z]" or with an offset such as "+02:00", at the end.
bool hasDateSuffix(std::string_view name) {
    auto fits = [](std::string_view text, std::string_view shape) {
        if (text.size() != shape.size()) return false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            bool ok = shape[i] == 'd' ? (text[i] >= '0' && text[i] <= '9') : text[i] == shape[i];
            if (!ok) return false;
        }
        return true;
    };
    for (std::string_view zone : {"Z]", "+dd:dd]", "-dd:dd]"}) {
        std::size_t length = 2 + 23 + zone.size();
        if (name.size() >= length &&
            fits(name.substr(name.size() - length), "*[dddd-dd-ddTdd:dd:dd.ddd" + std::string(zone)))
            return true;
    }
    return false;
}

// A request may name a preset whose own name ends like a date (the mixer
// lists it with its date appended once more); a sent preset never carries
// the date in its name.
void checkPresetName(std::string_view name, bool dateAllowed = true) {
    if (name.empty()) throw Refused{"empty preset name"};
    if (name.ends_with(kFileSuffix)) throw Refused{"preset name with the file suffix"};
    if (!dateAllowed && hasDateSuffix(name)) throw Refused{"preset name with a date suffix"};
}

void checkSegment(const WireMessage& m) {
    const std::string& name = m.text(0);
    if (!name.ends_with(kFileSuffix)) throw Refused{"segment name without \".ZELTOshow\""};
    checkPresetName(std::string_view(name).substr(0, name.size() - kFileSuffix.size()), false);
    std::int32_t index = m.integer(2), total = m.integer(3);
    std::size_t size = m.blob(1).size();
    if (total < 1) throw Refused{"segment total " + std::to_string(total)};
    if (index < 0 || index >= total)
        throw Refused{"segment index " + std::to_string(index) + " of " + std::to_string(total)};
    bool last = index == total - 1;
    if (last ? (size == 0 || size > kSegmentSize) : size != kSegmentSize) {
        throw Refused{"segment " + std::to_string(index) + " of " + std::to_string(total) + " holds " +
                      std::to_string(size) + " bytes"};
    }
    if (!m.text(4).empty()) throw Refused{"fifth segment argument is not empty"};
}

void checkValues(const WireMessage& m) {
    const std::string& tag = m.text(m.values.size() - 1);
    if (m.address == kRules[0].address) {
        if (m.integer(1) != kConnectMagic) throw Refused{"connect magic " + std::to_string(m.integer(1))};
        std::int32_t port = m.integer(0);
        if (port < 1 || port > 65535) throw Refused{"answer port " + std::to_string(port)};
        if (tag == kDiscoveryTag && port != kDiscoveryPort)
            throw Refused{"discovery answer port " + std::to_string(port) + ", not 9999"};
        if (tag != kDiscoveryTag && tag != kSessionTag) throw Refused{"client tag " + quoted(tag)};
        return;
    }
    if (tag != kSessionTag) throw Refused{"client tag " + quoted(tag)};
    if (m.address == "/Zo/Ping") {
        if (m.integer(0) < 1 || m.integer(0) > 65535)
            throw Refused{"ping port " + std::to_string(m.integer(0))};
    } else if (m.address == "/ZELTOorvel/control/SwitchUser") {
        if (!m.text(1).empty()) throw Refused{"second argument is not empty"};
    } else if (m.address == "/ZELTOorvel/control/presetSeg") {
        checkSegment(m);
    } else if (m.address == "/ZELTOorvel/control/presetCopyToUSB" ||
               m.address == "/ZELTOorvel/control/presetSelect") {
        checkPresetName(m.text(0));
    } else if (m.address == "/ZELTOorvel/control/presetDelete") {
        checkPresetName(m.text(1));
    }
}

std::string dump(std::span<const std::uint8_t> data) {
    std::string text = std::to_string(data.size()) + " bytes";
    for (std::size_t i = 0; i < data.size() && i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        text += hex;
    }
    return text;
}

}  // namespace

std::string WireMessage::description() const {
    if (values.empty()) return "OSCMessage(" + address + ")";
    std::string text = "OSCMessage(" + address + ", values: [";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) text += ", ";
        if (auto* n = std::get_if<std::int32_t>(&values[i])) {
            text += std::to_string(*n);
        } else if (auto* s = std::get_if<std::string>(&values[i])) {
            text += quoted(*s);
        } else if (auto* b = std::get_if<std::vector<std::uint8_t>>(&values[i])) {
            text += std::to_string(b->size()) + " bytes";
        } else {
            text += std::get<bool>(values[i]) ? "true" : "false";
        }
    }
    return text + "])";
}

WireDatagram readDatagram(std::span<const std::uint8_t> data) {
    WireDatagram datagram;
    try {
        if (data.empty()) throw Refused{"empty datagram"};
        if (data.size() % 4 != 0) throw Refused{"size not a multiple of 4"};
        if (data[0] == '/') {
            datagram.messages.push_back(readMessage(data, false, datagram.subject));
        } else if (data[0] == '#') {
            readBundle(data, datagram);
        } else {
            throw Refused{"not an OSC packet"};
        }
        for (const auto& m : datagram.messages) {
            datagram.subject = m.description();
            checkValues(m);
        }
    } catch (const Refused& refused) {
        datagram.refusal = refused.why;
        if (datagram.subject.empty()) datagram.subject = dump(data);
        datagram.messages.clear();
    }
    return datagram;
}

}  // namespace zelto::sim
