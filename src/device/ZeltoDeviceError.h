#pragma once

#include <exception>

namespace zelto {

class ZeltoDeviceError : public std::exception {
  public:
    // sessionEnded: the session was ended (disconnect, server stop, the
    // device dropped) while an operation waited on it. cancelled: the
    // caller's cancellation ended the wait.
    enum class Case { deviceIsOffline, connectionAlreadyStarted, sessionEnded, cancelled };

    explicit ZeltoDeviceError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override {
        switch (case_) {
            case Case::deviceIsOffline:
                return "deviceIsOffline";
            case Case::connectionAlreadyStarted:
                return "connectionAlreadyStarted";
            case Case::sessionEnded:
                return "sessionEnded";
            case Case::cancelled:
                return "cancelled";
        }
        return "ZeltoDeviceError";
    }

  private:
    Case case_;
};

}  // namespace zelto
