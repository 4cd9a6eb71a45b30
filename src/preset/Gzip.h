#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zelto {

// A zlib failure: the kind follows zlib's return code; the message is zlib's own text when it gives
// one, else "Unknown gzip error". what() is the message.
class GzipError : public std::exception {
  public:
    enum class Kind { stream, data, memory, buffer, version, unknown };

    GzipError(Kind kind, int code, std::string message);
    // Maps a zlib return code and zlib's message (may be null).
    static GzipError fromZlib(int code, const char* message);
    // Kind `memory`: inflating would produce more than `maxSize` bytes.
    static GzipError inflatedTooLarge(std::size_t maxSize);

    Kind kind() const noexcept { return kind_; }
    // The zlib return code (meaningful for `unknown`).
    int code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    Kind kind_;
    int code_;
    std::string message_;
};

const char* toString(GzipError::Kind kind) noexcept;

namespace gzip {

// Inflated data beyond this size is refused: a few kilobytes of deflate data could otherwise ask for
// gigabytes. Presets are far smaller.
inline constexpr std::size_t maxInflatedSize = std::size_t{64} << 20;

// Deflate as one stream; window bits 15 gives the zlib wrapper (RFC 1950). Empty input -> empty output.
std::vector<std::uint8_t> compress(std::span<const std::uint8_t> data, int level = -1, int windowBits = 15);

// Inflate until the end of the stream; window bits 0 takes the window from the zlib header and refuses
// a gzip header. Empty input -> empty output. A truncated stream throws kind `buffer`; output beyond
// `maxSize` throws kind `memory`.
std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> data, int windowBits = 0,
                                     std::size_t maxSize = maxInflatedSize);

// Inflates a zlib stream piece by piece into buffers the caller provides.
class Inflater {
  public:
    Inflater(std::span<const std::uint8_t> data, int windowBits);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool finished() const noexcept { return finished_; }
    // Inflates into [out, out + room) (room > 0); returns the bytes produced, fewer than `room` only at
    // the end of the stream. Throws GzipError, kind `buffer` when the input ends before the stream does.
    std::size_t inflateInto(std::uint8_t* out, std::size_t room);

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    const std::uint8_t* in_;
    std::size_t inLeft_;
    bool finished_ = false;
};

// As decompress(), handing the inflated bytes to `sink` piece by piece instead of collecting them.
void decompress(std::span<const std::uint8_t> data, int windowBits, std::size_t maxSize,
                const std::function<void(std::span<const std::uint8_t>)>& sink);

}  // namespace gzip
}  // namespace zelto
