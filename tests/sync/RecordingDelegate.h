#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/ZeltoDevice.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto::test {

// Keeps each manager event as one short line: "<event> <preset or device> [detail]".
class RecordingDelegate : public ZeltoPresetManagerDelegate {
  public:
    std::vector<std::string> log;
    // Called with each line as it is added (on the manager's thread).
    std::function<void(const std::string&)> onEvent;

    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex_);
        return log;
    }

    void presetManagerDidFinishSync() override { add("finish"); }
    void presetManagerWillRequestPresetList(const DevicePtr& from) override {
        add("request list " + who(from));
    }
    void presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                           const DevicePtr& from) override {
        std::string names;
        for (auto& p : list) names += (names.empty() ? "" : ",") + p.name;
        add("list " + who(from) + " [" + names + "]");
    }
    void presetManagerDidFailReceivingPresetList(const DevicePtr& from, const std::exception& e) override {
        add("fail list " + who(from) + " " + e.what());
    }
    void presetManagerDidRequestPreset(const RemoteZeltoPreset& p, const DevicePtr& from) override {
        add("fetch " + p.name + " " + who(from));
    }
    void presetManagerDidReceivePreset(const RemoteZeltoPreset& p, const DevicePtr& from) override {
        add("received " + p.name + " " + who(from));
    }
    void presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& p, const DevicePtr& from) override {
        add("fail fetch " + p.name + " " + who(from));
    }
    void presetManagerDidWritePreset(const RemoteZeltoPreset& p) override { add("write " + p.name); }
    void presetManagerWillOverwritePreset(const RemoteZeltoPreset& p) override { add("overwrite " + p.name); }
    void presetManagerDidFailWritingPreset(const RemoteZeltoPreset& p, const std::exception& e) override {
        add("fail " + p.name + " " + e.what());
    }
    void presetManagerDidFailSendingPreset(const std::string& name, const DevicePtr& to,
                                           const std::exception& e) override {
        add("fail send " + name + " " + who(to) + " " + e.what());
    }
    void presetManagerDidSendPreset(const RemoteZeltoPreset& p, const DevicePtr& to,
                                    bool overwriting) override {
        add("send " + p.name + " " + who(to) + (overwriting ? " overwriting" : ""));
    }

    void presetManagerWillResendPreset(const RemoteZeltoPreset& p, const DevicePtr& to) override {
        add("resend " + p.name + " " + who(to));
    }
    void presetManagerDidFailConfirmingPreset(const std::string& name, const DevicePtr& to,
                                              const std::exception& e) override {
        add("fail confirm " + name + " " + who(to) + " " + e.what());
    }
    void presetManagerDidRestorePreset(const std::string& name, const DevicePtr& to) override {
        add("restored " + name + " " + who(to));
    }
    void presetManagerDidFailRestoringPreset(const std::string& name, const DevicePtr& to) override {
        add("fail restore " + name + " " + who(to));
    }

    // Names devices by the address they were made with.
    static std::string who(const DevicePtr& device) { return device ? device->ip().to_string() : "local"; }

  private:
    void add(std::string line) {
        if (onEvent) onEvent(line);
        std::lock_guard lock(mutex_);
        log.push_back(std::move(line));
    }
    std::mutex mutex_;
};

}  // namespace zelto::test
