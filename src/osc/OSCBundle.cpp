#include <cstring>
#include <stdexcept>

#include "osc/OSCBuffer.h"
#include "osc/OSCDecodeContext.h"
#include "osc/OSCObject.h"
#include "osc/OSCWire.h"

namespace zelto {

namespace {
constexpr std::size_t maxElementSize = (std::size_t{1} << 31) - 1;
}  // namespace

OSCBundle::OSCBundle(std::uint64_t timetag) : timetag_(timetag) {}
OSCBundle::OSCBundle(std::uint64_t timetag, std::vector<OSCObject> elements)
    : timetag_(timetag), elements_(std::move(elements)) {}
OSCBundle::OSCBundle(const OSCBundle&) = default;
OSCBundle::OSCBundle(OSCBundle&&) noexcept = default;
OSCBundle& OSCBundle::operator=(const OSCBundle&) = default;
OSCBundle& OSCBundle::operator=(OSCBundle&&) noexcept = default;
OSCBundle::~OSCBundle() = default;

bool operator==(const OSCBundle& a, const OSCBundle& b) {
    return a.endpoint_ == b.endpoint_ && a.receiveTime_ == b.receiveTime_ && a.timetag_ == b.timetag_ &&
           a.elements_ == b.elements_;
}

OSCBundle OSCBundle::from(std::span<const std::uint8_t> data) {
    detail::OSCDecodeContext context(data);
    return context.decodeBundle(data, 1);
}

void OSCBundle::add(OSCMessage message) {
    elements_.emplace_back(std::move(message));
}

void OSCBundle::add(OSCBundle bundle) {
    elements_.emplace_back(std::move(bundle));
}

void OSCBundle::setEndpoint(const std::optional<OSCEndpoint>& endpoint) {
    endpoint_ = endpoint;
    for (auto& element : elements_) element.setEndpoint(endpoint);
}

void OSCBundle::setReceiveTime(std::optional<std::uint64_t> time) noexcept {
    receiveTime_ = time;
    for (auto& element : elements_) element.setReceiveTime(time);
}

std::size_t OSCBundle::oscSize() const noexcept {
    std::size_t size = 16;
    for (const auto& element : elements_) size += 4 + element.oscSize();
    return size;
}

void OSCBundle::addHeldMemory(detail::OSCFootprint& footprint) const noexcept {
    if (elements_.capacity()) footprint.addBlock(elements_.capacity() * sizeof(OSCObject));
    for (const auto& element : elements_) element.addHeldMemory(footprint);
    if (endpoint_) footprint.addText(endpoint_->host);
}

std::size_t OSCBundle::memoryFootprint() const noexcept {
    detail::OSCFootprint footprint;
    footprint.add(sizeof *this);
    addHeldMemory(footprint);
    return footprint.total();
}

// One pass over the tree: checks every value and element size, returns oscSize().
std::size_t OSCBundle::checkEncodable() const {
    std::size_t size = 16;
    for (const auto& element : elements_) {
        std::size_t elementSize;
        if (auto* m = element.message()) {
            m->checkEncodable();
            elementSize = m->oscSize();
        } else {
            elementSize = element.bundle()->checkEncodable();
        }
        if (elementSize > maxElementSize) throw OSCValueError(OSCValueError::Case::sizeError);
        size += 4 + elementSize;
    }
    return size;
}

std::size_t OSCBundle::encodeUnchecked(std::uint8_t* out) const noexcept {
    std::uint8_t* p = out;
    std::memcpy(p, wire::bundlePrefix, 8);
    wire::storeU64(p + 8, timetag_);
    p += 16;
    for (const auto& element : elements_) {
        std::uint8_t* sizeField = p;
        p += 4;
        std::size_t n =
            element.message() ? element.message()->encodeUnchecked(p) : element.bundle()->encodeUnchecked(p);
        wire::storeU32(sizeField, static_cast<std::uint32_t>(n));
        p += n;
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t OSCBundle::encode(std::span<std::uint8_t> out) const {
    if (out.size() < checkEncodable()) throw std::length_error("OSCBundle::encode: buffer too small");
    return encodeUnchecked(out.data());
}

void OSCBundle::encode(std::vector<std::uint8_t>& out) const {
    std::size_t size = checkEncodable();
    std::size_t start = out.size();
    out.resize(start + size);
    encodeUnchecked(out.data() + start);
}

std::vector<std::uint8_t> OSCBundle::encode() const {
    std::vector<std::uint8_t> out;
    encode(out);
    return out;
}

std::string OSCBundle::description() const {
    if (elements_.empty()) return "empty OSCBundle(" + std::to_string(timetag_) + ")";
    std::string text = "OSCBundle(" + std::to_string(timetag_) + ", values: \n";
    for (const auto& element : elements_) {
        text += element.description();
        text += '\n';
    }
    text += ')';
    return text;
}

// OSCObject

OSCObject OSCObject::from(std::span<const std::uint8_t> data) {
    detail::OSCDecodeContext context(data);
    return context.decodeObject();
}

const std::optional<OSCEndpoint>& OSCObject::endpoint() const noexcept {
    return isMessage() ? message()->endpoint() : bundle()->endpoint();
}

std::optional<std::uint64_t> OSCObject::receiveTime() const noexcept {
    return isMessage() ? message()->receiveTime() : bundle()->receiveTime();
}

void OSCObject::setEndpoint(const std::optional<OSCEndpoint>& endpoint) {
    if (auto* m = message()) {
        m->setEndpoint(endpoint);
    } else {
        bundle()->setEndpoint(endpoint);
    }
}

void OSCObject::setReceiveTime(std::optional<std::uint64_t> time) noexcept {
    if (auto* m = message()) {
        m->setReceiveTime(time);
    } else {
        bundle()->setReceiveTime(time);
    }
}

void OSCObject::addHeldMemory(detail::OSCFootprint& footprint) const noexcept {
    if (const auto* m = message()) {
        m->addHeldMemory(footprint);
    } else {
        bundle()->addHeldMemory(footprint);
    }
}

std::size_t OSCObject::memoryFootprint() const noexcept {
    detail::OSCFootprint footprint;
    // The slot's reference pins the buffer, also for an object that views nothing in it.
    if (const auto* buffer = detail::OSCBufferAccess::slotOf(*this)) footprint.addBuffer(buffer);
    addHeldMemory(footprint);
    // A received object placed in its datagram's slot is part of that buffer.
    if (!footprint.inCountedSlot(this)) footprint.add(sizeof *this);
    return footprint.total();
}

std::size_t OSCObject::oscSize() const noexcept {
    return isMessage() ? message()->oscSize() : bundle()->oscSize();
}

std::vector<std::uint8_t> OSCObject::encode() const {
    return isMessage() ? message()->encode() : bundle()->encode();
}

void OSCObject::encode(std::vector<std::uint8_t>& out) const {
    if (isMessage()) {
        message()->encode(out);
    } else {
        bundle()->encode(out);
    }
}

std::size_t OSCObject::encode(std::span<std::uint8_t> out) const {
    return isMessage() ? message()->encode(out) : bundle()->encode(out);
}

std::string OSCObject::description() const {
    return isMessage() ? message()->description() : bundle()->description();
}

}  // namespace zelto
