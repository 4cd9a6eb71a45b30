#pragma once

// Inside the preset library: the attribute lists of the preset classes, their conversions, and the
// reader that builds a preset straight from the parser's events.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "preset/ElementReading.h"
#include "preset/ZeltoPreset.h"

namespace zelto::detail {

inline constexpr AttributeNames<16> kChannelAttributes({"InputChannel", "Index", "Name", "Icon", "Color",
                                                        "Visible", "LinkedStereoChannel", "R", "Theta",
                                                        "Phi", "WidthOffset", "ChannelMode", "ChannelGaindB",
                                                        "Solo", "Mute", "GroupID"});
inline constexpr AttributeNames<4> kUserAttributes({"Name", "Icon", "MixHide", "PhaseInvert"});
inline constexpr AttributeNames<2> kPresetAttributes({"Name", "Version"});

// The typed fields from the values of the lists above. Throw QVXMLDecodingError.
void readChannelFields(const ValueSlots<16>& slots, ZeltoChannelSettings& channel);
void readUserFields(const ValueSlots<4>& slots, ZeltoUser& user);
void readPresetFields(const ValueSlots<2>& slots, ZeltoPreset& preset);

// Builds a preset from the parser's events, typing users and channels as they arrive instead of
// building the whole element tree first and converting it (which costs half as much again as the
// bare parse: an allocation and a copy of every element's attributes, then a second pass). It keeps
// the same residual content and the same limits as QVXMLParser plus the element constructors, and
// gives up (finish() returns nothing) on anything those would refuse, and on documents whose repeated
// Groups, ChannelSettingsList, UserList or RemoteSettings the constructors drop: the caller then reads
// through the tree, which reports the fault or handles the rare shape.
class PresetReader {
  public:
    PresetReader();
    ~PresetReader();
    PresetReader(const PresetReader&) = delete;
    PresetReader& operator=(const PresetReader&) = delete;

    static std::optional<ZeltoPreset> read(std::span<const std::uint8_t> data);

    // As QVXMLParser's: fill buffer(size), hand `length` bytes to parseBuffer(). An empty buffer once
    // the reader has given up.
    std::span<std::uint8_t> buffer(std::size_t size);
    bool parseBuffer(std::size_t length);
    std::optional<ZeltoPreset> finish();

  private:
    bool feed(std::span<const std::uint8_t> piece);
    static ZeltoPreset emptyPreset() { return ZeltoPreset(); }

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zelto::detail
