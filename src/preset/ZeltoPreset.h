#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "preset/Gzip.h"
#include "preset/QVXMLElement.h"
#include "preset/QVXMLParser.h"
#include "preset/UnicodeText.h"
#include "preset/ZeltoRemoteSettings.h"

namespace zelto {

namespace detail {
class PresetReader;
}

enum class ZeltoChannelMode { mono, stereo, threeD, iThreeD };

// The one-digit text of a mode: "1" .. "4".
std::string_view rawValue(ZeltoChannelMode mode) noexcept;
std::optional<ZeltoChannelMode> channelModeFromRawValue(std::string_view raw) noexcept;

// A channel group of one user, element "Group".
class ZeltoGroup : public QVXMLElement {
  public:
    std::int64_t id = 0;
    std::string name;
    std::string icon;
    std::string colour;

    ZeltoGroup(std::int64_t id, std::string name, std::string icon, std::string colour);
    explicit ZeltoGroup(const QVXMLElement& element);
    explicit ZeltoGroup(QVXMLElement&& element);

    QVXMLElement toElement() const;
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level) const;
};

// The settings of one input channel in one user's mix, element "ChannelSettings".
class ZeltoChannelSettings : public QVXMLElement {
  public:
    std::uint64_t inputChannel = 0;
    std::uint64_t index = 0;
    std::string name;
    std::string icon;
    std::string color;
    bool visible = true;
    std::int64_t linkedStereoChannel = -1;
    float r = 0;
    float theta = 0;  // radians
    float phi = 0;    // radians
    float widthOffset = 0;
    ZeltoChannelMode channelMode = ZeltoChannelMode::mono;
    float channelGaindB = 0;
    bool solo = false;
    bool mute = false;
    std::uint64_t groupID = 0;

    // An element "ChannelSettings" with the values above and no residual content.
    ZeltoChannelSettings();
    explicit ZeltoChannelSettings(const QVXMLElement& element);
    explicit ZeltoChannelSettings(QVXMLElement&& element);

    // The pi of the degree conversions: the float one step below the float nearest to pi.
    static constexpr float pi = 3.1415925f;

    // Degrees, derived from theta and phi (32-bit arithmetic).
    float elevation() const noexcept;
    void setElevation(float degrees) noexcept;
    float azimuth() const noexcept;
    void setAzimuth(float degrees) noexcept;

    QVXMLElement toElement() const;
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level) const;
};

// Element "ChannelSettingsList".
class ZeltoChannelSettingsList : public QVXMLElement {
  public:
    std::vector<ZeltoChannelSettings> channelSettings;

    ZeltoChannelSettingsList();
    explicit ZeltoChannelSettingsList(const QVXMLElement& element);
    explicit ZeltoChannelSettingsList(QVXMLElement&& element);

    // Channels written in ascending index (stable); the stored order is left alone.
    QVXMLElement toElement() const;
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level) const;
};

// One mix, element "User".
class ZeltoUser : public QVXMLElement {
  public:
    std::string name;
    std::string icon;
    std::int64_t hideMix = 0;
    std::string phaseInvert;
    std::vector<ZeltoGroup> groups;
    ZeltoChannelSettingsList channelSettingsList;

    ZeltoUser(std::string name, std::string icon, std::int64_t hideMix, std::string phaseInvert);
    explicit ZeltoUser(const QVXMLElement& element);
    explicit ZeltoUser(QVXMLElement&& element);

    QVXMLElement toElement() const;
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level) const;
    std::string description() const override { return name; }

    // Equal when name, icon, hideMix and phaseInvert are (texts by canonical equivalence); groups and
    // channels are not compared.
    friend bool operator==(const ZeltoUser& a, const ZeltoUser& b);
};

// Element "UserList".
class ZeltoUserList : public QVXMLElement {
  public:
    std::vector<ZeltoUser> users;
    ZeltoRemoteSettings remoteSettings;

    ZeltoUserList();
    explicit ZeltoUserList(const QVXMLElement& element);
    explicit ZeltoUserList(QVXMLElement&& element);

    QVXMLElement toElement();
    // Appends exactly what toElement().serialize(level) gives, without building the tree.
    void writeXML(std::string& out, int level);
};

// A preset document. Reading keeps everything it does not understand and writes it back.
class ZeltoPreset : public QVXMLElement {
  public:
    static constexpr std::string_view xmlDeclaration = R"(<?xml version="1.0" encoding="UTF-8"?>)";
    // Writing refuses (QVXMLEncodingError) a preset whose regrouped channels would exceed this, so that
    // whatever is written can be read back (each channel is 17 nodes of QVXMLParser::maxNodes).
    static constexpr std::size_t maxWrittenChannels = QVXMLParser::maxNodes / 17;

    std::string name;
    std::string version;
    ZeltoUserList userList;

    explicit ZeltoPreset(const QVXMLElement& element);
    explicit ZeltoPreset(QVXMLElement&& element);

    // XML bytes -> preset. Throws QVXMLParserError or QVXMLDecodingError.
    static ZeltoPreset fromData(std::span<const std::uint8_t> data);
    static ZeltoPreset fromData(std::string_view text);
    // zlib stream -> preset. Throws GzipError, then as fromData.
    static ZeltoPreset fromCompressedData(std::span<const std::uint8_t> compressedData);

    // The built-in preset "defaultOFF (PRESET)", compiled into the program.
    static ZeltoPreset defaultOff();

    // Regroups every user's channels by group (dropping channels in no group and re-indexing from 0),
    // then builds the tree. Changes the preset. Throws QVXMLEncodingError beyond maxWrittenChannels.
    QVXMLElement toElement();
    // Declaration + root element, UTF-8. Throws QVXMLEncodingError. Regroups as toElement().
    std::vector<std::uint8_t> toData();
    // toData() as one zlib stream (default level, 32 KiB window).
    std::vector<std::uint8_t> toCompressedData();

    // Each channel takes the colour of the group at position groupID in the id-sorted group list;
    // channels whose groupID is past the end keep their colour.
    void applyGroupColorsToChannelColors();

    std::string description() const override { return name; }

    // Presets are the same preset when their names are canonically equivalent; nothing else is compared.
    friend bool operator==(const ZeltoPreset& a, const ZeltoPreset& b) {
        return canonicallyEqual(a.name, b.name);
    }

  private:
    friend class detail::PresetReader;
    ZeltoPreset();

    void regroupChannels();
    std::string toText();

    std::size_t lastDataSize_ = 0;  // a capacity hint for the next toData()
};

// A type that is read from a parsed element and written as a new one.
template <typename T>
concept QVXMLCodable = requires(T value, const QVXMLElement& element) {
    T(element);
    { value.toElement() } -> std::convertible_to<QVXMLElement>;
};

// A preset class: an element that keeps the content it does not read.
template <typename T>
concept ZeltoXMLObject = std::derived_from<T, QVXMLElement>;

static_assert(QVXMLCodable<ZeltoPreset> && QVXMLCodable<ZeltoUserList> && QVXMLCodable<ZeltoUser> &&
              QVXMLCodable<ZeltoGroup> && QVXMLCodable<ZeltoChannelSettingsList> &&
              QVXMLCodable<ZeltoChannelSettings> && QVXMLCodable<ZeltoRemoteSettings> &&
              QVXMLCodable<ZeltoChannelMap>);
static_assert(ZeltoXMLObject<ZeltoPreset> && ZeltoXMLObject<ZeltoChannelMap>);

// The embedded resource text "Resources/EmptyPreset.xml".
std::string_view emptyPresetResource() noexcept;

}  // namespace zelto
