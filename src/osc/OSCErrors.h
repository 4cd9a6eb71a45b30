#pragma once

#include <exception>
#include <string>

// The codec's errors. Each is thrown by value and carries one case of its
// `Case` enumeration; `what()` is the case name, spelled as the protocol's
// logs spell it.
namespace zelto {

class OSCValueError : public std::exception {
  public:
    enum class Case { sizeError, encodingError };

    explicit OSCValueError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

  private:
    Case case_;
};

class OSCTypeTagStringError : public std::exception {
  public:
    enum class Case { unkownTypeTag, malformedData, unkownBeginningCharacter };

    explicit OSCTypeTagStringError(Case c, char character = '\0') noexcept
        : case_(c), character_(character) {}
    Case errorCase() const noexcept { return case_; }
    // The offending tag character of `unkownTypeTag`.
    char character() const noexcept { return character_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    char character_;
};

class OSCMessageError : public std::exception {
  public:
    enum class Case { malformedMessage, malformedAddress, invalidSize };

    explicit OSCMessageError(Case c, std::string text = {}) : case_(c), text_(std::move(text)) {}
    Case errorCase() const noexcept { return case_; }
    // The explanation of `malformedMessage`, or the address text of `malformedAddress`.
    const std::string& text() const noexcept { return text_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    std::string text_;
};

class OSCDecoderError : public std::exception {
  public:
    enum class Case { emptyDataProvided, dataIsNotOSC };

    explicit OSCDecoderError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

  private:
    Case case_;
};

class OSCBundleError : public std::exception {
  public:
    enum class Case { invalidPrefix, invalidSize, sizeExceedsDataProvided };

    explicit OSCBundleError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

  private:
    Case case_;
};

}  // namespace zelto
