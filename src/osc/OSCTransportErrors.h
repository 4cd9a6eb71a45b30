#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// The transport's errors. Each is thrown by value and carries one case of its
// `Case` enumeration; `what()` is the case name.
namespace zelto {

// A failure of the UDP socket layer (create, option, bind, send). `what()` is
// the layer's own text, e.g. "Error in bind() function".
class AsyncUdpSocketError : public std::exception {
  public:
    enum class Case { badConfig, badParam, sendTimeout, closed, other };

    AsyncUdpSocketError(Case c, std::string text, std::error_code code = {})
        : case_(c), text_(std::move(text)), code_(code) {}
    Case errorCase() const noexcept { return case_; }
    // The operating system's error, when there was one.
    std::error_code code() const noexcept { return code_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    Case case_;
    std::string text_;
    std::error_code code_;
};

class OSCClientError : public std::exception {
  public:
    enum class Case { invalidPort };

    explicit OSCClientError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

  private:
    Case case_;
};

class OSCServerError : public std::exception {
  public:
    enum class Case { serverStopped, invalidPort, serverAlreadyStarted, startTimeout, connectionTimeout };

    explicit OSCServerError(Case c, std::exception_ptr error = nullptr) noexcept : case_(c), error_(error) {}
    Case errorCase() const noexcept { return case_; }
    // The payload of `serverStopped`, when it has one.
    std::exception_ptr error() const noexcept { return error_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    std::exception_ptr error_;
};

class OSCConnectionError : public std::exception {
  public:
    enum class Case { couldNotParseOSC, failedReceivingData, readTimeout, connectionCanceled };

    explicit OSCConnectionError(Case c) noexcept : case_(c) {}
    // A datagram of the peer was OSC but malformed.
    static OSCConnectionError couldNotParseOSC(std::optional<std::vector<std::uint8_t>> data,
                                               std::exception_ptr error);
    static OSCConnectionError failedReceivingData(std::exception_ptr error);

    Case errorCase() const noexcept { return case_; }
    // The datagram of `couldNotParseOSC`.
    const std::optional<std::vector<std::uint8_t>>& data() const noexcept { return data_; }
    // The decoding error of `couldNotParseOSC`, the error of `failedReceivingData`.
    std::exception_ptr error() const noexcept { return error_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    std::optional<std::vector<std::uint8_t>> data_;
    std::exception_ptr error_;
};

}  // namespace zelto
