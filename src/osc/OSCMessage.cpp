#include "osc/OSCMessage.h"

#include <cstring>
#include <stdexcept>

#include "osc/OSCBuffer.h"
#include "osc/OSCDecodeContext.h"
#include "osc/OSCValueEncoding.h"
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
    : address_(std::move(address)), values_(values) {
    measure();
}

OSCMessage::OSCMessage(OSCAddress address, std::span<const OSCValue> values)
    : address_(std::move(address)), values_(values) {
    measure();
}

OSCMessage::OSCMessage(OSCAddress address, OSCValueList values) noexcept
    : address_(std::move(address)), values_(std::move(values)) {
    measure();
}

void OSCMessage::measure() noexcept {
    size_ = address_.oscSize() + wire::padded(values_.size() + 2);
    encodable_ = true;
    for (const auto& v : values_) {
        size_ += v.oscSize();
        encodable_ = encodable_ && v.encodable();
    }
}

OSCMessage OSCMessage::from(std::span<const std::uint8_t> data) {
    detail::OSCDecodeContext context(data);
    return context.decodeMessage(data);
}

void OSCMessage::addHeldMemory(detail::OSCFootprint& footprint) const noexcept {
    if (auto* buffer = anchor_.get()) footprint.addBuffer(buffer);
    footprint.addBytes(address_.text_);
    if (std::size_t heap = values_.heapBytes()) footprint.addBlock(heap);
    for (const auto& v : values_) footprint.addBytes(v.bytes());
    if (endpoint_) footprint.addText(endpoint_->host);
}

std::size_t OSCMessage::memoryFootprint() const noexcept {
    detail::OSCFootprint footprint;
    footprint.add(sizeof *this);
    addHeldMemory(footprint);
    return footprint.total();
}

void OSCMessage::checkEncodable() const {
    if (encodable_) return;
    for (const auto& v : values_) v.checkEncodable();
}

std::size_t OSCMessage::encodeUnchecked(std::uint8_t* out) const noexcept {
    std::uint8_t* p = out;
    p += wire::writeText(p, address_.text_.data(), address_.text_.size());
    const std::size_t tagBytes = wire::padded(values_.size() + 2);
    std::memset(p + tagBytes - 4, 0, 4);
    p[0] = ',';
    for (std::size_t i = 0; i < values_.size(); ++i) p[i + 1] = static_cast<std::uint8_t>(values_[i].tag_);
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

}  // namespace zelto
