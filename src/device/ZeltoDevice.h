#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "async/Executor.h"
#include "device/PresetSegmentHandler.h"
#include "device/RemoteZeltoPreset.h"
#include "device/ZeltoDeviceError.h"
#include "device/ZeltoDeviceType.h"
#include "device/ZeltoTimings.h"
#include "osc/OSCEndpoint.h"

namespace zelto {

class ZeltoDevice;
class ZeltoPreset;
class ZeltoUser;
class OSCMessage;
class OSCClient;

// The owner's view of one device's session. Every call runs on the device's
// own serial queue; all operations have empty defaults.
class ZeltoDeviceDelegate {
  public:
    virtual ~ZeltoDeviceDelegate() = default;
    // The session ended; `error` is null when it ended by itself or on request.
    virtual void deviceDidDisconnect(ZeltoDevice& /*device*/, std::exception_ptr /*error*/) {}
    virtual void deviceDidComeOnline(ZeltoDevice& /*device*/) {}
    // A UserInfo named a user number the session did not know yet.
    virtual void device(ZeltoDevice& /*device*/, const ZeltoUser& /*didAddUser*/) {}
    virtual void deviceDidReceiveConfirmation5(ZeltoDevice& /*device*/) {}
    virtual void deviceDidReceiveConfirmation1(ZeltoDevice& /*device*/) {}
};

// One mixer and the OSC session with it. Always owned by a std::shared_ptr
// (its callbacks hold weak references to it).
//
// Threads: `io` runs the sockets, the timers and the coroutines; identity,
// users and lastSeen are guarded and may be read from any thread.
class ZeltoDevice : public std::enable_shared_from_this<ZeltoDevice> {
  public:
    static constexpr std::uint16_t devicePort = 9110;
    static constexpr std::int32_t connectRequestMagic = 50414;
    static constexpr const char* clientTag = "qv42";

    ZeltoDevice(asio::io_context& io, asio::ip::address_v4 ip, std::uint16_t listenPort,
                std::optional<std::string> uid, ZeltoTimings timings = {});
    // None when the endpoint's host is not a dotted IPv4 address; its port is not used.
    static std::shared_ptr<ZeltoDevice> make(asio::io_context& io, const OSCEndpoint& endpoint,
                                             std::uint16_t listenPort, std::optional<std::string> uid,
                                             ZeltoTimings timings = {});
    ~ZeltoDevice();
    ZeltoDevice(const ZeltoDevice&) = delete;
    ZeltoDevice& operator=(const ZeltoDevice&) = delete;

    asio::ip::address_v4 ip() const { return ip_; }
    std::uint16_t port() const { return devicePort; }
    std::uint16_t listenPort() const { return listenPort_; }
    const ZeltoTimings& timings() const { return timings_; }
    // The pool that runs the session, for the caller's own timers.
    Executor executor() const { return io_.get_executor(); }

    std::optional<std::chrono::steady_clock::time_point> lastSeen() const;
    // A sign of life within the online window.
    bool online() const;

    // Held weakly: the owner keeps its delegate alive.
    std::shared_ptr<ZeltoDeviceDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ZeltoDeviceDelegate> delegate);

    std::optional<std::string> serialNumber() const;
    std::optional<ZeltoDeviceType> type() const;
    std::optional<std::string> version() const;
    std::optional<std::string> name() const;
    std::optional<std::int64_t> numberOfInputs() const;
    std::optional<std::int64_t> numberOfOutputs() const;
    std::optional<std::string> uid() const;
    // User number -> user, a copy.
    std::map<std::uint32_t, ZeltoUser> users() const;

    // "name - serial @ ip", "name @ ip" or "ip:9110" before the device has introduced itself.
    std::string description() const;

    // Opens the session: server on listenPort, ConnectRequest, waits for the
    // device's first UserInfo, then SwitchUser 1. Throws ZeltoDeviceError
    // (connectionAlreadyStarted; sessionEnded or cancelled when the session is
    // ended or the caller cancels while it waits), OSCServerError,
    // OSCConnectionError (readTimeout).
    //
    // This and the other waiting operations hold the device until they end,
    // and honour the caller's asio cancellation slot.
    asio::awaitable<void> connect(std::uint64_t timeout);
    // Ends the session (server, connection, ping timer, users, every wait on
    // it) and tells the delegate; no event of that session follows. Does
    // nothing when no session is open. Destroying the device ends its session
    // without telling the delegate.
    void disconnect(std::exception_ptr error = nullptr);
    bool connected() const;

    // Fire-and-forget commands; nothing is sent before connect.
    void loadPreset(const std::string& name);
    void loadPreset(const RemoteZeltoPreset& preset);
    void deletePreset(const std::string& name);
    void deletePreset(const ZeltoPreset& preset);
    void deletePreset(const RemoteZeltoPreset& preset);
    void identify();
    // False when no device user has the same name, icon, hide-mix and phase-invert.
    bool switchUser(const ZeltoUser& user);
    // False for a negative index or one that is no user number of the device.
    bool switchUser(std::int64_t index);

    // The device's presets in its order. Throws ZeltoDeviceError (deviceIsOffline
    // before the session has a connection, sessionEnded, cancelled),
    // OSCConnectionError::readTimeout.
    asio::awaitable<std::vector<RemoteZeltoPreset>> requestPresetList(std::uint64_t timeout);

    // Asks the device for a preset (the name as it lists it, without its date)
    // and returns it with its bytes, under that name. Throws
    // PresetSegmentHandlerError::timeout, ZeltoDeviceError (deviceIsOffline
    // without a connected session, sessionEnded, cancelled).
    asio::awaitable<RemoteZeltoPreset> transferPreset(std::string presetName, std::uint64_t timeout);
    asio::awaitable<RemoteZeltoPreset> transferPreset(const RemoteZeltoPreset& preset, std::uint64_t timeout);
    // Sends the bytes in 1000-byte segments; false (nothing sent) without bytes.
    bool sendPreset(const RemoteZeltoPreset& preset, bool load);
    // Sends the document compressed. Throws the document's encoding errors.
    bool sendPreset(const ZeltoPreset& preset, bool load);

    PresetSegmentHandler& presetSegmentHandler() { return *segmentHandler_; }

    // Same ip, serial number, name, type and uid.
    friend bool operator==(const ZeltoDevice& a, const ZeltoDevice& b);
    std::size_t hash() const;

    static constexpr std::size_t segmentSize = 1000;

  private:
    struct Session;
    struct Identity;

    static asio::awaitable<void> connectSession(std::shared_ptr<ZeltoDevice> self, std::uint64_t timeout);
    static asio::awaitable<std::vector<RemoteZeltoPreset>> presetList(std::shared_ptr<ZeltoDevice> self,
                                                                      std::uint64_t timeout);
    static asio::awaitable<RemoteZeltoPreset> fetch(std::shared_ptr<ZeltoDevice> self, std::string presetName,
                                                    std::uint64_t timeout);

    std::shared_ptr<Session> currentSession() const;
    std::shared_ptr<OSCClient> currentClient() const;
    void send(const OSCMessage& message);
    // Sends only while `session` is the open one.
    void sendFor(const Session& session, const OSCMessage& message);
    void markSeenLocked();
    void startTimeoutTimer(const std::shared_ptr<Session>& session);
    void scheduleTick(const std::shared_ptr<Session>& session);
    void registerCallbacks(const std::shared_ptr<Session>& session);
    void disconnectSession(const std::shared_ptr<Session>& session, std::exception_ptr error);
    // The message callbacks of one session; they change nothing once it ended.
    void handleUserInfo(Session& session, const OSCMessage& message);
    void handlePing(Session& session, const OSCMessage& message);
    void handleConfirmation(Session& session, const OSCMessage& message);
    void handlePresetSegment(Session& session, const OSCMessage& message);
    void handlePresetList(Session& session, const OSCMessage& message);
    // Posts a delegate call to the queue; the caller holds sessionMutex_, so
    // the calls of a session are queued before its disconnect report.
    template <class F>
    void notifyLocked(F&& call);

    asio::io_context& io_;
    Strand queue_;  // "ZeltoDevice": delegate calls and the ping timer
    const asio::ip::address_v4 ip_;
    const std::uint16_t listenPort_;
    const ZeltoTimings timings_;
    std::unique_ptr<Identity> identity_;
    // Guards session_ and client_, and orders every change a session makes and
    // every delegate call it posts against its end.
    mutable std::mutex sessionMutex_;
    std::shared_ptr<Session> session_;
    std::shared_ptr<OSCClient> client_;  // kept after disconnect
    std::unique_ptr<PresetSegmentHandler> segmentHandler_;
};

}  // namespace zelto

template <>
struct std::hash<zelto::ZeltoDevice> {
    std::size_t operator()(const zelto::ZeltoDevice& device) const { return device.hash(); }
};
