#pragma once

#include <exception>

namespace zelto {

class ZeltoDeviceError : public std::exception {
  public:
    enum class Case { deviceIsOffline, connectionAlreadyStarted };

    explicit ZeltoDeviceError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override {
        return case_ == Case::deviceIsOffline ? "deviceIsOffline" : "connectionAlreadyStarted";
    }

  private:
    Case case_;
};

}  // namespace zelto
