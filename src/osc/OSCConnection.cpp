#include "osc/OSCConnection.h"

#include "async/Log.h"

namespace zelto {

OSCConnection::OSCConnection(OSCEndpoint endpoint, OSCDecoderFunction decoderType, Executor taskExecutor)
    : OSCMessageProvider(taskExecutor),
      endpoint_(std::move(endpoint)),
      decoderType_(decoderType ? decoderType : decoderFunction<OSCStandardDecoder>()),
      dispatcher_(makeStrand(taskExecutor), description()),
      stream_(replaceObjects(description())) {}

OSCConnection::~OSCConnection() {
    finish();
}

std::string OSCConnection::description() const {
    return "OSCConnection@" + endpoint_.host + ":" + std::to_string(endpoint_.port);
}

bool OSCConnection::isActive() const {
    return active_.load();
}

OSCObjectPtr OSCConnection::handleDatagram(std::span<const std::uint8_t> data, std::uint64_t receiveTime) {
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
    OSCObjectPtr shared = std::move(object);
    bool publish = active_.load();
    if (publish) stream_.yield(shared);
    dispatcher_.dispatchShared(shared);
    return publish ? shared : nullptr;
}

void OSCConnection::hold() {
    held_ = true;
}

void OSCConnection::keep(std::span<const std::uint8_t> data, std::uint64_t receiveTime) {
    if (heldDatagrams_.size() >= queueLimit || heldBytes_ + data.size() > queueBytes) {
        auto dropped = heldDropped_.fetch_add(1) + 1;
        if (!heldOverflowReported_) {
            heldOverflowReported_ = true;
            logFormat(LogCategory::osc, LogLevel::warning,
                      "%s: %zu datagrams held for new readers, dropping further ones (%llu dropped so far)",
                      description().c_str(), heldDatagrams_.size(), static_cast<unsigned long long>(dropped));
        }
        return;
    }
    heldBytes_ += data.size();
    heldDatagrams_.push_back(HeldDatagram{std::vector<std::uint8_t>(data.begin(), data.end()), receiveTime});
}

std::deque<OSCConnection::HeldDatagram> OSCConnection::release() {
    held_ = false;
    heldBytes_ = 0;
    heldOverflowReported_ = false;
    return std::exchange(heldDatagrams_, {});
}

void OSCConnection::finish() {
    active_.store(false);
    stream_.finish();
}

}  // namespace zelto
