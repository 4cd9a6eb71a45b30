#include "device/ZeltoDevice.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <atomic>

#include "async/Log.h"
#include "device/UserInfo.h"
#include "device/ZeltoOSCDecoder.h"
#include "osc/OSCAddressPattern.h"
#include "osc/OSCBundle.h"
#include "osc/OSCClient.h"
#include "osc/OSCConnection.h"
#include "osc/OSCServer.h"
#include "preset/ZeltoPreset.h"

namespace zelto {

namespace {

using Clock = std::chrono::steady_clock;

OSCMessage makeMessage(std::string_view address, std::initializer_list<OSCValue> values) {
    return *OSCMessage::make(address, values);
}

std::optional<std::chrono::nanoseconds> toDuration(std::uint64_t nanoseconds) {
    constexpr std::uint64_t longest = 100ull * 365 * 24 * 3600 * 1'000'000'000ull;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(nanoseconds, longest)));
}

// A wait that ended without its value: the session ended, the caller
// cancelled, or its own time-out passed.
template <class Status, class TimeoutError>
void throwUnlessValue(Status status, TimeoutError timeoutError) {
    switch (status) {
        case Status::value:
            return;
        case Status::ended:
            throw ZeltoDeviceError(ZeltoDeviceError::Case::sessionEnded);
        case Status::cancelled:
            throw ZeltoDeviceError(ZeltoDeviceError::Case::cancelled);
        case Status::timeout:
            break;
    }
    throw timeoutError;
}

}  // namespace

struct ZeltoDevice::Identity {
    mutable std::mutex mutex;
    std::optional<Clock::time_point> lastSeen;
    std::weak_ptr<ZeltoDeviceDelegate> delegate;
    std::optional<std::string> serialNumber, version, name, uid;
    std::optional<ZeltoDeviceType> type;
    std::optional<std::int64_t> numberOfInputs, numberOfOutputs;
    std::map<std::uint32_t, ZeltoUser> users;
};

// One open session: everything connect() makes and disconnect() ends.
struct ZeltoDevice::Session : OSCServerDelegate, std::enable_shared_from_this<Session> {
    using MessageWaiter = detail::Waiter<OSCMessage>;
    using PresetWaiter = PresetSegmentHandler::PresetWaiter;

    explicit Session(Strand strand)
        : queue(strand),
          pingTimer(strand),
          connectionWaiter(std::make_shared<detail::Waiter<bool>>(strand)) {}

    void newConnectionEstablished(std::shared_ptr<OSCConnection> connection) override {
        // Runs before the peer's first datagram is dispatched, so callbacks
        // registered here see the device's whole first burst.
        auto owner = device.lock();
        if (!owner || connection->endpoint().host != owner->ip_.to_string()) return;
        {
            std::lock_guard lock(mutex);
            if (this->connection || closed) return;
            this->connection = connection;
        }
        owner->registerCallbacks(shared_from_this());
        connectionWaiter->deliver(true);
    }
    void serverDidStop(std::exception_ptr error) override {
        if (auto owner = device.lock()) owner->disconnectSession(shared_from_this(), error);
    }

    bool connected() {
        std::lock_guard lock(mutex);
        return connection != nullptr;
    }

    // Adds a waiter for the next message of a kind; ended when the session ends.
    std::shared_ptr<MessageWaiter> waitFor(std::vector<std::shared_ptr<MessageWaiter>>& list) {
        auto waiter = std::make_shared<MessageWaiter>(queue);
        std::lock_guard lock(mutex);
        if (closed) {
            waiter->end();
        } else {
            std::erase_if(list, [](const auto& w) { return w->done(); });
            list.push_back(waiter);
        }
        return waiter;
    }
    void deliver(std::vector<std::shared_ptr<MessageWaiter>>& list, const OSCMessage& message) {
        std::vector<std::shared_ptr<MessageWaiter>> taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(list);
        }
        for (auto& waiter : taken) waiter->deliver(message);
    }
    // A transfer waits on the device's segment handler; it ends with the session.
    void watch(const std::shared_ptr<PresetWaiter>& waiter) {
        {
            std::lock_guard lock(mutex);
            if (!closed) {
                std::erase_if(transfers, [](const auto& w) { return w.expired(); });
                transfers.push_back(waiter);
                return;
            }
        }
        waiter->end();
    }
    void close() {
        std::vector<std::shared_ptr<MessageWaiter>> all;
        std::vector<std::weak_ptr<PresetWaiter>> fetches;
        {
            std::lock_guard lock(mutex);
            closed = true;
            all.insert(all.end(), userInfoWaiters.begin(), userInfoWaiters.end());
            all.insert(all.end(), presetListWaiters.begin(), presetListWaiters.end());
            userInfoWaiters.clear();
            presetListWaiters.clear();
            fetches.swap(transfers);
        }
        for (auto& waiter : all) waiter->end();
        for (auto& weak : fetches) {
            if (auto waiter = weak.lock()) waiter->end();
        }
        connectionWaiter->end();
    }
    // Closes the session and everything it holds open.
    void end() {
        close();
        asio::post(queue, [self = shared_from_this()] { self->pingTimer.cancel(); });
        server->cancel();
    }

    Strand queue;
    std::weak_ptr<ZeltoDevice> device;
    std::shared_ptr<OSCServer> server;  // set before the session is published
    asio::steady_timer pingTimer;       // used on `queue` only
    bool wasOnline = false;             // on `queue` only
    std::mutex mutex;
    std::atomic<bool> closed = false;
    std::shared_ptr<OSCConnection> connection;
    // Made with the session, before anyone else can see it: read without a lock.
    const std::shared_ptr<detail::Waiter<bool>> connectionWaiter;
    std::vector<std::shared_ptr<MessageWaiter>> userInfoWaiters;
    std::vector<std::shared_ptr<MessageWaiter>> presetListWaiters;
    std::vector<std::weak_ptr<PresetWaiter>> transfers;
};

ZeltoDevice::ZeltoDevice(asio::io_context& io, asio::ip::address_v4 ip, std::uint16_t listenPort,
                         std::optional<std::string> uid, ZeltoTimings timings)
    : io_(io),
      queue_(asio::make_strand(asio::any_io_executor(io.get_executor()))),
      ip_(ip),
      listenPort_(listenPort),
      timings_(timings),
      identity_(std::make_unique<Identity>()),
      segmentHandler_(std::make_unique<PresetSegmentHandler>(
          io.get_executor(), PresetSegmentHandler::Limits{.staleAfter = timings.segmentStaleAfter})) {
    identity_->uid = std::move(uid);
}

std::shared_ptr<ZeltoDevice> ZeltoDevice::make(asio::io_context& io, const OSCEndpoint& endpoint,
                                               std::uint16_t listenPort, std::optional<std::string> uid,
                                               ZeltoTimings timings) {
    std::error_code ec;
    auto ip = asio::ip::make_address_v4(endpoint.host, ec);
    if (ec) return nullptr;
    return std::make_shared<ZeltoDevice>(io, ip, listenPort, std::move(uid), timings);
}

// The delegate is not told: it would get a device that no longer exists.
ZeltoDevice::~ZeltoDevice() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(sessionMutex_);
        session = std::move(session_);
    }
    if (session) session->end();
    segmentHandler_->close();
}

// --- identity -------------------------------------------------------------

std::optional<Clock::time_point> ZeltoDevice::lastSeen() const {
    std::lock_guard lock(identity_->mutex);
    return identity_->lastSeen;
}

bool ZeltoDevice::online() const {
    std::lock_guard lock(identity_->mutex);
    return identity_->lastSeen && *identity_->lastSeen >= Clock::now() - timings_.onlineWindow;
}

std::shared_ptr<ZeltoDeviceDelegate> ZeltoDevice::delegate() const {
    std::lock_guard lock(identity_->mutex);
    return identity_->delegate.lock();
}

void ZeltoDevice::setDelegate(std::weak_ptr<ZeltoDeviceDelegate> delegate) {
    std::lock_guard lock(identity_->mutex);
    identity_->delegate = std::move(delegate);
}

#define ZELTO_IDENTITY_GETTER(type, field)      \
    type ZeltoDevice::field() const {           \
        std::lock_guard lock(identity_->mutex); \
        return identity_->field;                \
    }
ZELTO_IDENTITY_GETTER(std::optional<std::string>, serialNumber)
ZELTO_IDENTITY_GETTER(std::optional<ZeltoDeviceType>, type)
ZELTO_IDENTITY_GETTER(std::optional<std::string>, version)
ZELTO_IDENTITY_GETTER(std::optional<std::string>, name)
ZELTO_IDENTITY_GETTER(std::optional<std::int64_t>, numberOfInputs)
ZELTO_IDENTITY_GETTER(std::optional<std::int64_t>, numberOfOutputs)
ZELTO_IDENTITY_GETTER(std::optional<std::string>, uid)
#undef ZELTO_IDENTITY_GETTER

std::map<std::uint32_t, ZeltoUser> ZeltoDevice::users() const {
    std::lock_guard lock(identity_->mutex);
    return identity_->users;
}

std::string ZeltoDevice::description() const {
    auto name = this->name();
    auto serial = serialNumber();
    std::string address = ip_.to_string();
    if (!name && !serial) return address + ":" + std::to_string(devicePort);
    if (name == serial) return *name + " @ " + address;
    return name.value_or("") + " - " + serial.value_or("") + " @ " + address;
}

bool operator==(const ZeltoDevice& a, const ZeltoDevice& b) {
    return a.ip_ == b.ip_ && a.serialNumber() == b.serialNumber() && a.name() == b.name() &&
           a.type() == b.type() && a.uid() == b.uid();
}

std::size_t ZeltoDevice::hash() const {
    std::size_t h = std::hash<std::uint32_t>()(ip_.to_uint());
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    auto text = [&](const std::optional<std::string>& s) { mix(s ? std::hash<std::string>()(*s) : 0x51); };
    text(serialNumber());
    text(name());
    auto t = type();
    text(t ? std::optional<std::string>(rawValue(*t)) : std::nullopt);
    text(uid());
    return h;
}

template <class F>
void ZeltoDevice::notifyLocked(F&& call) {
    auto delegate = this->delegate();
    if (!delegate) return;
    asio::post(queue_, [self = shared_from_this(), delegate, call = std::forward<F>(call)]() mutable {
        // The owner's code: a failure is reported and the queue goes on.
        try {
            call(*delegate, *self);
        } catch (const std::exception& e) {
            logFormat(LogCategory::device, LogLevel::warning, "delegate call of %s failed: %s",
                      self->description().c_str(), e.what());
        } catch (...) {
            logFormat(LogCategory::device, LogLevel::warning, "delegate call of %s failed",
                      self->description().c_str());
        }
    });
}

// --- session --------------------------------------------------------------

bool ZeltoDevice::connected() const {
    std::lock_guard lock(sessionMutex_);
    return session_ != nullptr;
}

std::shared_ptr<ZeltoDevice::Session> ZeltoDevice::currentSession() const {
    std::lock_guard lock(sessionMutex_);
    return session_;
}

std::shared_ptr<OSCClient> ZeltoDevice::currentClient() const {
    std::lock_guard lock(sessionMutex_);
    return client_;
}

void ZeltoDevice::send(const OSCMessage& message) {
    if (auto client = currentClient()) client->sendMessage(message, timings_.sendTimeout);
}

void ZeltoDevice::sendFor(const Session& session, const OSCMessage& message) {
    std::shared_ptr<OSCClient> client;
    {
        std::lock_guard lock(sessionMutex_);
        if (session_.get() != &session) return;
        client = client_;
    }
    if (client) client->sendMessage(message, timings_.sendTimeout);
}

asio::awaitable<void> ZeltoDevice::connect(std::uint64_t timeout) {
    return connectSession(shared_from_this(), timeout);
}

asio::awaitable<void> ZeltoDevice::connectSession(std::shared_ptr<ZeltoDevice> self, std::uint64_t timeout) {
    auto session = std::make_shared<Session>(self->queue_);
    session->device = self;
    // Both waits exist before the request goes out: the answer may be one burst.
    auto userInfo = session->waitFor(session->userInfoWaiters);
    {
        std::lock_guard lock(self->sessionMutex_);
        if (self->session_) throw ZeltoDeviceError(ZeltoDeviceError::Case::connectionAlreadyStarted);
        session->server =
            std::make_shared<OSCServer>(self->listenPort_, session, makeStrand(self->io_.get_executor()),
                                        decoderFunction<ZeltoOSCDecoder>(), std::nullopt);
        self->client_ = std::make_shared<OSCClient>(self->ip_.to_string(), devicePort, self->queue_);
        // Forget the previous session's last datagram before this one can answer:
        // an answer arriving on loopback before the ping timer starts still counts.
        {
            std::lock_guard identityLock(self->identity_->mutex);
            self->identity_->lastSeen.reset();
        }
        // Published and started in one step: a disconnect finds no session, or
        // one whose server it cancels. A server that fails to start stays with
        // its session until disconnect.
        self->session_ = session;
        session->server->start(timeout);
    }
    self->sendFor(*session, makeMessage("/ZELTOorvel/control/ConnectRequest",
                                        {OSCValue(std::int32_t(self->listenPort_)),
                                         OSCValue(connectRequestMagic), OSCValue(clientTag)}));
    self->startTimeoutTimer(session);

    auto deadline = Clock::now() + *toDuration(timeout);
    auto connectionWait = session->connectionWaiter->wait(toDuration(timeout));
    auto connected = co_await std::move(connectionWait);
    throwUnlessValue(connected.status, OSCServerError(OSCServerError::Case::connectionTimeout));
    auto remaining = std::max(Clock::duration::zero(), deadline - Clock::now());
    auto userInfoWait = userInfo->wait(remaining);
    auto first = co_await std::move(userInfoWait);
    throwUnlessValue(first.status, OSCConnectionError(OSCConnectionError::Case::readTimeout));
    self->sendFor(*session, makeMessage("/ZELTOorvel/control/SwitchUser",
                                        {OSCValue(std::int32_t(1)), OSCValue(""), OSCValue(clientTag)}));
}

void ZeltoDevice::registerCallbacks(const std::shared_ptr<Session>& session) {
    std::weak_ptr<ZeltoDevice> weak = weak_from_this();
    std::weak_ptr<Session> weakSession = session;
    auto& dispatcher = session->connection->dispatcher();
    auto on = [&](const char* pattern, void (ZeltoDevice::*handler)(Session&, const OSCMessage&)) {
        dispatcher.addCallback(
            *OSCAddressPattern::make(pattern),
            [weak, weakSession, handler](const OSCAddressPattern&, const OSCMessage& message) {
                auto self = weak.lock();
                auto session = weakSession.lock();
                if (self && session) ((*self).*handler)(*session, message);
            });
    };
    on("/ZELTOapp/control/UserInfo", &ZeltoDevice::handleUserInfo);
    on("/Za/Ping", &ZeltoDevice::handlePing);
    on("/ZELTOapp/confirmation", &ZeltoDevice::handleConfirmation);
    on("/ZELTOapp/control/PresetSeg", &ZeltoDevice::handlePresetSegment);
    on("/ZELTOapp/control/PresetList", &ZeltoDevice::handlePresetList);
}

void ZeltoDevice::startTimeoutTimer(const std::shared_ptr<Session>& session) {
    asio::post(queue_, [weak = weak_from_this(), session] {
        if (auto self = weak.lock()) self->scheduleTick(session);
    });
}

// On the queue. The pending wait holds the session; ending the session
// cancels it on the same queue, and a closed session is never re-armed.
void ZeltoDevice::scheduleTick(const std::shared_ptr<Session>& session) {
    if (session->closed) return;
    session->pingTimer.expires_after(timings_.pingInterval);
    session->pingTimer.async_wait([weak = weak_from_this(), session](std::error_code ec) {
        auto self = weak.lock();
        if (ec || !self || session->closed) return;
        self->sendFor(*session, makeMessage("/Zo/Ping", {OSCValue(std::int32_t(self->listenPort_)),
                                                         OSCValue(clientTag)}));
        bool online = self->online();
        if (session->wasOnline && !online) {
            self->disconnectSession(session, nullptr);
            return;
        }
        session->wasOnline = online;
        self->scheduleTick(session);
    });
}

void ZeltoDevice::disconnect(std::exception_ptr error) {
    if (auto session = currentSession()) disconnectSession(session, error);
}

void ZeltoDevice::disconnectSession(const std::shared_ptr<Session>& session, std::exception_ptr error) {
    {
        std::lock_guard lock(sessionMutex_);
        if (session_ != session) return;
        session_.reset();
        {
            std::lock_guard identityLock(identity_->mutex);
            identity_->users.clear();
        }
        notifyLocked([error](ZeltoDeviceDelegate& delegate, ZeltoDevice& device) {
            delegate.deviceDidDisconnect(device, error);
        });
    }
    session->end();
}

// --- received messages ----------------------------------------------------

void ZeltoDevice::markSeenLocked() {
    bool cameOnline;
    {
        std::lock_guard lock(identity_->mutex);
        auto now = Clock::now();
        cameOnline = !identity_->lastSeen || *identity_->lastSeen < now - timings_.onlineWindow;
        identity_->lastSeen = now;
    }
    if (cameOnline)
        notifyLocked([](ZeltoDeviceDelegate& d, ZeltoDevice& device) { d.deviceDidComeOnline(device); });
}

void ZeltoDevice::handlePing(Session& session, const OSCMessage&) {
    std::lock_guard lock(sessionMutex_);
    if (session_.get() == &session) markSeenLocked();
}

void ZeltoDevice::handleUserInfo(Session& session, const OSCMessage& message) {
    auto info = UserInfo::fromMessage(message);
    if (!info) return;
    {
        std::lock_guard lock(sessionMutex_);
        if (session_.get() != &session) return;
        std::optional<ZeltoUser> added;
        {
            std::lock_guard identityLock(identity_->mutex);
            auto& id = *identity_;
            id.serialNumber = info->serialNumber;
            id.type = info->deviceType;
            id.version = info->version;
            id.name = info->name;
            id.numberOfInputs = info->numberOfInputs;
            id.numberOfOutputs = info->numberOfOutputs;
            id.uid = info->uid;
            auto found = id.users.find(info->userNumber);
            if (found != id.users.end()) {
                found->second.name = info->userName;
                found->second.icon = info->userIcon;
                found->second.hideMix = info->userHideMix;
                found->second.phaseInvert = info->userPhaseInvert;
            } else {
                added.emplace(info->userName, info->userIcon, info->userHideMix, info->userPhaseInvert);
                id.users.emplace(info->userNumber, *added);
            }
        }
        if (added) {
            markSeenLocked();
            notifyLocked(
                [user = *added](ZeltoDeviceDelegate& d, ZeltoDevice& device) { d.device(device, user); });
        }
    }
    session.deliver(session.userInfoWaiters, message);
}

void ZeltoDevice::handleConfirmation(Session& session, const OSCMessage& message) {
    const auto& v = message.values();
    if (v.size() != 3) return;
    auto text = v[0].asString();
    auto code = v[1].asInt32();
    if (!text || !code) return;
    std::lock_guard lock(sessionMutex_);
    if (session_.get() != &session) return;
    logLine(LogCategory::device, LogLevel::info, *text);
    if (*code == 5) {
        notifyLocked(
            [](ZeltoDeviceDelegate& d, ZeltoDevice& device) { d.deviceDidReceiveConfirmation5(device); });
    } else if (*code == 1) {
        notifyLocked(
            [](ZeltoDeviceDelegate& d, ZeltoDevice& device) { d.deviceDidReceiveConfirmation1(device); });
    }
}

void ZeltoDevice::handlePresetSegment(Session& session, const OSCMessage& message) {
    const auto& v = message.values();
    if (v.size() != 6) return;
    auto name = v[0].asString();
    auto bytes = v[1].asData();
    auto index = v[2].asInt32();
    auto total = v[3].asInt32();
    auto deviceName = v[4].asString();
    auto deviceUid = v[5].asString();
    if (!name || !bytes || !index || !total || !deviceName || !deviceUid) return;
    if (session.closed) return;
    PresetSegment segment;
    segment.presetName = std::string(*name);
    segment.bytes.assign(bytes->begin(), bytes->end());
    segment.index = *index;
    segment.totalCount = *total;
    segment.deviceName = std::string(*deviceName);
    segment.deviceUid = std::string(*deviceUid);
    segment.received = Clock::now();
    // A device streaming a preset is alive. Its pings queue behind the burst,
    // so a receiver slower than the device would otherwise see them too late
    // and end the session in the middle of the transfer.
    {
        std::lock_guard lock(sessionMutex_);
        if (session_.get() == &session) markSeenLocked();
    }
    segmentHandler_->addSegment(std::move(segment));
}

void ZeltoDevice::handlePresetList(Session& session, const OSCMessage& message) {
    session.deliver(session.presetListWaiters, message);
}

// --- commands -------------------------------------------------------------

void ZeltoDevice::loadPreset(const std::string& name) {
    send(makeMessage("/ZELTOorvel/control/presetSelect", {OSCValue(name), OSCValue(clientTag)}));
}
void ZeltoDevice::loadPreset(const RemoteZeltoPreset& preset) {
    loadPreset(preset.name);
}

void ZeltoDevice::deletePreset(const std::string& name) {
    send(makeMessage("/ZELTOorvel/control/presetDelete",
                     {OSCValue(true), OSCValue(name), OSCValue(clientTag)}));
}
void ZeltoDevice::deletePreset(const ZeltoPreset& preset) {
    deletePreset(preset.name);
}
void ZeltoDevice::deletePreset(const RemoteZeltoPreset& preset) {
    deletePreset(preset.name);
}

void ZeltoDevice::identify() {
    send(makeMessage("/ZELTOorvel/Hardware/DisplayBlink", {OSCValue(clientTag)}));
}

bool ZeltoDevice::switchUser(const ZeltoUser& user) {
    std::optional<std::uint32_t> number;
    for (const auto& [n, candidate] : users()) {
        if (candidate == user) {
            number = n;
            break;
        }
    }
    if (!number) return false;
    send(makeMessage("/ZELTOorvel/control/SwitchUser",
                     {OSCValue(static_cast<std::int32_t>(*number)), OSCValue(""), OSCValue(clientTag)}));
    return true;
}

bool ZeltoDevice::switchUser(std::int64_t index) {
    if (index < 0 || index > UINT32_MAX) return false;
    auto all = users();
    auto found = all.find(static_cast<std::uint32_t>(index));
    if (found == all.end()) return false;
    return switchUser(found->second);
}

// --- preset list and transfer ---------------------------------------------

asio::awaitable<std::vector<RemoteZeltoPreset>> ZeltoDevice::requestPresetList(std::uint64_t timeout) {
    return presetList(shared_from_this(), timeout);
}

asio::awaitable<std::vector<RemoteZeltoPreset>> ZeltoDevice::presetList(std::shared_ptr<ZeltoDevice> self,
                                                                        std::uint64_t timeout) {
    auto session = self->currentSession();
    if (!session || !session->connected()) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
    auto waiter = session->waitFor(session->presetListWaiters);
    OSCBundle request(OSCTimeTagNow);
    request.add(
        makeMessage("/ZELTOorvel/control/RequestListOfPresets", {OSCValue(true), OSCValue(clientTag)}));
    if (auto client = self->currentClient()) client->sendBundle(request, self->timings_.sendTimeout);
    auto replyWait = waiter->wait(toDuration(timeout));
    auto reply = co_await std::move(replyWait);
    throwUnlessValue(reply.status, OSCConnectionError(OSCConnectionError::Case::readTimeout));
    std::vector<RemoteZeltoPreset> presets;
    const auto& values = reply.value->values();
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        if (auto text = values[i].asString()) presets.emplace_back(std::string(*text));
    }
    co_return presets;
}

asio::awaitable<RemoteZeltoPreset> ZeltoDevice::transferPreset(std::string presetName,
                                                               std::uint64_t timeout) {
    return fetch(shared_from_this(), std::move(presetName), timeout);
}

asio::awaitable<RemoteZeltoPreset> ZeltoDevice::fetch(std::shared_ptr<ZeltoDevice> self,
                                                      std::string presetName, std::uint64_t timeout) {
    // Without a session nothing can arrive: no point in waiting for the time-out.
    auto session = self->currentSession();
    if (!session || !session->connected()) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
    // Subscribed before asking: the whole preset may arrive before we would wait.
    auto waiter = self->segmentHandler_->subscribe(presetName);
    session->watch(waiter);
    self->sendFor(*session, makeMessage("/ZELTOorvel/control/presetCopyToUSB",
                                        {OSCValue(presetName), OSCValue(clientTag)}));
    auto wait = waiter->wait(toDuration(timeout));
    auto outcome = co_await std::move(wait);
    throwUnlessValue(outcome.status, PresetSegmentHandlerError(PresetSegmentHandlerError::Case::timeout));
    co_return std::move(*outcome.value);
}

asio::awaitable<RemoteZeltoPreset> ZeltoDevice::transferPreset(const RemoteZeltoPreset& preset,
                                                               std::uint64_t timeout) {
    return transferPreset(preset.name, timeout);
}

bool ZeltoDevice::sendPreset(const RemoteZeltoPreset& preset, bool load) {
    if (!preset.bytes || preset.bytes->empty()) return false;
    auto client = currentClient();
    if (!client) return true;
    const auto& bytes = *preset.bytes;
    std::string name = preset.name + ".ZELTOshow";
    auto total = static_cast<std::int32_t>((bytes.size() + segmentSize - 1) / segmentSize);
    auto address = *OSCAddress::make("/ZELTOorvel/control/presetSeg");
    for (std::int32_t index = 0; index < total; ++index) {
        std::size_t begin = static_cast<std::size_t>(index) * segmentSize;
        std::size_t size = std::min(segmentSize, bytes.size() - begin);
        OSCMessage segment(
            address, {OSCValue(name), OSCValue::blob(std::span(bytes.data() + begin, size)), OSCValue(index),
                      OSCValue(total), OSCValue(""), OSCValue(load), OSCValue(clientTag)});
        client->sendMessage(segment, timings_.sendTimeout);
    }
    return true;
}

bool ZeltoDevice::sendPreset(const ZeltoPreset& preset, bool load) {
    ZeltoPreset document = preset;
    RemoteZeltoPreset remote(document.name);
    remote.bytes = document.toCompressedData();
    return sendPreset(remote, load);
}

}  // namespace zelto
