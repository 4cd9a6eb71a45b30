#include "osc/OSCConnection.h"

#include "async/Log.h"

namespace zelto {

OSCConnection::OSCConnection(OSCEndpoint endpoint, OSCDecoderFunction decoderType, Executor taskExecutor,
                             std::shared_ptr<MemoryBudget> receiveBudget)
    : OSCMessageProvider(taskExecutor, std::move(receiveBudget)),
      endpoint_(std::move(endpoint)),
      decoderType_(decoderType ? decoderType : decoderFunction<OSCStandardDecoder>()),
      dispatcher_(makeStrand(taskExecutor), description(), this->receiveBudget()),
      stream_(replaceObjects(description())) {}

OSCConnection::~OSCConnection() {
    finish();
    for (const auto& datagram : heldDatagrams_) handed(datagram);
}

std::string OSCConnection::description() const {
    return "OSCConnection@" + endpoint_.host + ":" + std::to_string(endpoint_.port);
}

bool OSCConnection::isActive() const {
    return active_.load();
}

OSCObjectPtr OSCConnection::handleDatagram(std::span<const std::uint8_t> data, std::uint64_t receiveTime,
                                           std::size_t& footprint) {
    std::shared_ptr<OSCObject> object;
    try {
        object = decoderType_(OSCDataView(data));
    } catch (const OSCDecoderError& error) {
        logLine(LogCategory::osc, LogLevel::warning, error.what());
        return nullptr;
    } catch (...) {
        // OSC, but malformed: readers learn it, and the stream stays ended.
        if (active_.exchange(false)) {
            stream_.fail(std::make_exception_ptr(OSCConnectionError::couldNotParseOSC(
                std::vector<std::uint8_t>(data.begin(), data.end()), std::current_exception())));
        }
        return nullptr;
    }
    if (!object) return nullptr;
    object->setEndpoint(endpoint_);
    object->setReceiveTime(receiveTime);
    // Weighed once for every queue it enters.
    footprint = object->memoryFootprint();
    OSCObjectPtr shared = std::move(object);
    bool publish = active_.load();
    if (publish) stream_.yieldWeighed(shared, footprint);
    dispatcher_.dispatchShared(shared, footprint);
    return publish ? shared : nullptr;
}

void OSCConnection::hold() {
    held_ = true;
}

void OSCConnection::keep(std::span<const std::uint8_t> data, std::uint64_t receiveTime) {
    // The copy of the bytes, its heap block, and its place in the queue.
    const std::size_t charge = data.size() + 16 + sizeof(HeldDatagram);
    if (heldDatagrams_.size() >= queueLimit || !receiveBudget()->tryCharge(charge)) {
        auto dropped = heldDropped_.fetch_add(1) + 1;
        if (!heldOverflowReported_) {
            heldOverflowReported_ = true;
            logFormat(LogCategory::osc, LogLevel::warning,
                      "%s: %zu datagrams held for new readers, dropping further ones (%llu dropped so far)",
                      description().c_str(), heldDatagrams_.size(), static_cast<unsigned long long>(dropped));
        }
        return;
    }
    try {
        heldDatagrams_.push_back(
            HeldDatagram{std::vector<std::uint8_t>(data.begin(), data.end()), receiveTime, charge});
    } catch (...) {
        receiveBudget()->release(charge);
        throw;
    }
}

std::deque<OSCConnection::HeldDatagram> OSCConnection::release() {
    held_ = false;
    heldOverflowReported_ = false;
    return std::exchange(heldDatagrams_, {});
}

void OSCConnection::handed(const HeldDatagram& datagram) noexcept {
    receiveBudget()->release(datagram.charge);
}

void OSCConnection::finish() {
    active_.store(false);
    stream_.finish();
}

}  // namespace zelto
