#include "osc/OSCMessage.h"

#include <cstring>
#include <stdexcept>

#include "osc/OSCDecodeContext.h"
#include "osc/OSCWire.h"

namespace zelto {

std::optional<OSCMessage> OSCMessage::make(std::string_view address, std::initializer_list<OSCValue> values) {
    return make(address, std::span<const OSCValue>(values.begin(), values.size()));
}

std::optional<OSCMessage> OSCMessage::make(std::string_view address, std::span<const OSCValue> values) {
    auto validAddress = OSCAddress::make(address);
    if (!validAddress) return std::nullopt;
    return OSCMessage(std::move(*validAddress), values);
}

OSCMessage::OSCMessage(OSCAddress address, std::initializer_list<OSCValue> values)
    : address_(std::move(address)), values_(values) {}

OSCMessage::OSCMessage(OSCAddress address, std::span<const OSCValue> values)
    : address_(std::move(address)), values_(values) {}

OSCMessage::OSCMessage(OSCAddress address, OSCValueList values) noexcept
    : address_(std::move(address)), values_(std::move(values)) {}

OSCMessage OSCMessage::from(std::span<const std::uint8_t> data) {
    detail::OSCDecodeContext context(data);
    return context.decodeMessage(data);
}

std::size_t OSCMessage::oscSize() const noexcept {
    std::size_t size = address_.oscSize() + wire::padded(values_.size() + 2);
    for (const auto& v : values_) size += v.oscSize();
    return size;
}

void OSCMessage::checkEncodable() const {
    for (const auto& v : values_) v.checkEncodable();
}

std::size_t OSCMessage::encodeUnchecked(std::uint8_t* out) const noexcept {
    std::uint8_t* p = out;
    p += wire::writeText(p, address_.text_.data(), address_.text_.size());
    const std::size_t tagBytes = wire::padded(values_.size() + 2);
    std::memset(p + tagBytes - 4, 0, 4);
    p[0] = ',';
    for (std::size_t i = 0; i < values_.size(); ++i) p[i + 1] = values_[i].typeTag().encode();
    p += tagBytes;
    for (const auto& v : values_) p += v.encodeUnchecked(p);
    return static_cast<std::size_t>(p - out);
}

std::size_t OSCMessage::encode(std::span<std::uint8_t> out) const {
    checkEncodable();
    if (out.size() < oscSize()) throw std::length_error("OSCMessage::encode: buffer too small");
    return encodeUnchecked(out.data());
}

void OSCMessage::encode(std::vector<std::uint8_t>& out) const {
    checkEncodable();
    std::size_t start = out.size();
    out.resize(start + oscSize());
    encodeUnchecked(out.data() + start);
}

std::vector<std::uint8_t> OSCMessage::encode() const {
    std::vector<std::uint8_t> out;
    encode(out);
    return out;
}

std::string OSCMessage::description() const {
    std::string text = "OSCMessage(";
    text += address_.address();
    if (!values_.empty()) {
        text += ", values: [";
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if (i) text += ", ";
            text += values_[i].description();
        }
        text += ']';
    }
    text += ')';
    return text;
}

OSCMessage detail::OSCDecodeContext::decodeMessage(std::span<const std::uint8_t> data) {
    const std::size_t size = data.size();
    const std::uint8_t* p = data.data();
    if (size % 4 != 0) throw OSCMessageError(OSCMessageError::Case::invalidSize);

    auto* addressEnd = static_cast<const std::uint8_t*>(std::memchr(p, 0, size));
    const std::size_t addressLength = addressEnd ? static_cast<std::size_t>(addressEnd - p) : size;
    for (std::size_t i = 0; i < addressLength; ++i) {
        if (p[i] >= 0x80) {
            throw OSCMessageError(OSCMessageError::Case::malformedMessage,
                                  "OSC Address contains non ASCII Charachters");
        }
    }
    std::string_view addressText(reinterpret_cast<const char*>(p), addressLength);
    if (!OSCAddress::isValid(addressText)) {
        throw OSCMessageError(OSCMessageError::Case::malformedAddress, std::string(addressText));
    }

    std::size_t offset = wire::paddedText(addressLength);
    if (offset > size) throw OSCMessageError(OSCMessageError::Case::invalidSize);

    // Type tags: up to the next NUL or the end.
    const std::uint8_t* tags = p + offset;
    auto* tagsEnd = static_cast<const std::uint8_t*>(std::memchr(tags, 0, size - offset));
    const std::size_t tagsLength = tagsEnd ? static_cast<std::size_t>(tagsEnd - tags) : size - offset;
    for (std::size_t i = 0; i < tagsLength; ++i) {
        if (tags[i] >= 0x80) throw OSCTypeTagStringError(OSCTypeTagStringError::Case::malformedData);
    }
    if (tagsLength == 0 || tags[0] != ',') {
        throw OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownBeginningCharacter);
    }
    const std::size_t tagCount = tagsLength - 1;
    for (std::size_t i = 1; i <= tagCount; ++i) {
        if (!OSCTypeTag::from(static_cast<char>(tags[i]))) {
            throw OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownTypeTag, static_cast<char>(tags[i]));
        }
    }

    OSCValueList values;
    if (tagCount > 0) {
        offset += wire::padded(tagCount + 2);
        if (offset > size) throw OSCMessageError(OSCMessageError::Case::invalidSize);
        values.reserve(tagCount);
        for (std::size_t i = 1; i <= tagCount; ++i) {
            char c = static_cast<char>(tags[i]);
            auto tag = OSCTypeTag::from(c);
            if (c == 'T' || c == 'F') {
                values.push_back(OSCValue(c == 'T'));
                continue;
            }
            OSCValue value = decodeValue(tag->valueType(), data.subspan(offset));
            offset += value.oscSize();
            values.push_back(std::move(value));
        }
    }
    return OSCMessage(OSCAddress(slice(p, addressLength)), std::move(values));
}

}  // namespace zelto
