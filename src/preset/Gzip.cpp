#include "preset/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace zelto {

GzipError::GzipError(Kind kind, int code, std::string message)
    : kind_(kind), code_(code), message_(std::move(message)) {}

GzipError GzipError::fromZlib(int code, const char* message) {
    Kind kind;
    switch (code) {
        case Z_STREAM_ERROR:
            kind = Kind::stream;
            break;
        case Z_DATA_ERROR:
            kind = Kind::data;
            break;
        case Z_MEM_ERROR:
            kind = Kind::memory;
            break;
        case Z_BUF_ERROR:
            kind = Kind::buffer;
            break;
        case Z_VERSION_ERROR:
            kind = Kind::version;
            break;
        default:
            kind = Kind::unknown;
            break;
    }
    return GzipError(kind, code, message ? std::string(message) : std::string("Unknown gzip error"));
}

GzipError GzipError::inflatedTooLarge(std::size_t maxSize) {
    return GzipError(Kind::memory, Z_MEM_ERROR,
                     "inflated data exceeds " + std::to_string(maxSize) + " bytes");
}

const char* toString(GzipError::Kind kind) noexcept {
    switch (kind) {
        case GzipError::Kind::stream:
            return "stream";
        case GzipError::Kind::data:
            return "data";
        case GzipError::Kind::memory:
            return "memory";
        case GzipError::Kind::buffer:
            return "buffer";
        case GzipError::Kind::version:
            return "version";
        case GzipError::Kind::unknown:
            return "unknown";
    }
    return "unknown";
}

namespace gzip {

namespace {

// zlib counts in uInt; feed and drain in pieces it can describe.
constexpr std::size_t maxPiece = UINT_MAX / 2;

uInt piece(std::size_t n) noexcept {
    return static_cast<uInt>(std::min(n, maxPiece));
}

}  // namespace

std::vector<std::uint8_t> compress(std::span<const std::uint8_t> data, int level, int windowBits) {
    if (data.empty()) return {};
    z_stream stream{};
    int status = deflateInit2(&stream, level, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) throw GzipError::fromZlib(status, stream.msg);

    // Presets shrink about eightfold; start at a quarter and double when needed rather than zero-fill
    // the worst-case bound.
    const std::size_t bound = deflateBound(&stream, static_cast<uLong>(std::min(data.size(), maxPiece)));
    std::vector<std::uint8_t> out(std::min(bound, data.size() / 4 + 4096));
    const std::uint8_t* in = data.data();
    std::size_t inLeft = data.size();
    std::size_t produced = 0;
    do {
        if (stream.avail_in == 0 && inLeft > 0) {
            stream.next_in = const_cast<Bytef*>(in);
            stream.avail_in = piece(inLeft);
            in += stream.avail_in;
            inLeft -= stream.avail_in;
        }
        if (produced == out.size()) out.resize(out.size() * 2);
        stream.next_out = out.data() + produced;
        stream.avail_out = piece(out.size() - produced);
        const uInt before = stream.avail_out;
        status = deflate(&stream, inLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
        produced += before - stream.avail_out;
    } while (status == Z_OK || (status == Z_BUF_ERROR && stream.avail_out == 0));
    if (status != Z_STREAM_END) {
        GzipError error = GzipError::fromZlib(status, stream.msg);
        deflateEnd(&stream);
        throw error;
    }
    deflateEnd(&stream);
    out.resize(produced);
    return out;
}

struct Inflater::Stream {
    z_stream z{};
};

Inflater::Inflater(std::span<const std::uint8_t> data, int windowBits)
    : stream_(std::make_unique<Stream>()), in_(data.data()), inLeft_(data.size()) {
    const int status = inflateInit2(&stream_->z, windowBits);
    if (status != Z_OK) throw GzipError::fromZlib(status, stream_->z.msg);
}

Inflater::~Inflater() {
    inflateEnd(&stream_->z);
}

std::size_t Inflater::inflateInto(std::uint8_t* out, std::size_t room) {
    z_stream& z = stream_->z;
    std::size_t produced = 0;
    while (room > 0 && !finished_) {
        if (z.avail_in == 0 && inLeft_ > 0) {
            z.next_in = const_cast<Bytef*>(in_);
            z.avail_in = piece(inLeft_);
            in_ += z.avail_in;
            inLeft_ -= z.avail_in;
        }
        z.next_out = out;
        z.avail_out = piece(room);
        const uInt before = z.avail_out;
        const int status = inflate(&z, Z_NO_FLUSH);
        const std::size_t n = before - z.avail_out;
        produced += n;
        out += n;
        room -= n;
        if (status == Z_STREAM_END) {
            finished_ = true;
        } else if (status != Z_OK) {
            // Z_BUF_ERROR with room left means no input is left: the stream is truncated.
            throw GzipError::fromZlib(status, z.msg);
        }
    }
    return produced;
}

std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> data, int windowBits,
                                     std::size_t maxSize) {
    if (data.empty()) return {};
    Inflater inflater(data, windowBits);
    // One byte of room beyond the cap tells a stream that ends exactly there from one that goes on.
    const std::size_t limit = maxSize == SIZE_MAX ? maxSize : maxSize + 1;
    std::vector<std::uint8_t> out(std::min(limit, std::max<std::size_t>(data.size() * 8, 4096)));
    std::size_t produced = 0;
    while (!inflater.finished()) {
        if (produced == out.size()) out.resize(std::min(limit, out.size() * 2));
        produced += inflater.inflateInto(out.data() + produced, out.size() - produced);
        if (produced > maxSize) throw GzipError::inflatedTooLarge(maxSize);
    }
    out.resize(produced);
    return out;
}

void decompress(std::span<const std::uint8_t> data, int windowBits, std::size_t maxSize,
                const std::function<void(std::span<const std::uint8_t>)>& sink) {
    if (data.empty()) return;
    Inflater inflater(data, windowBits);
    std::vector<std::uint8_t> buffer(std::size_t{64} << 10);
    std::size_t total = 0;
    while (!inflater.finished()) {
        const std::size_t n = inflater.inflateInto(buffer.data(), buffer.size());
        total += n;
        if (total > maxSize) throw GzipError::inflatedTooLarge(maxSize);
        if (n > 0) sink(std::span<const std::uint8_t>(buffer.data(), n));
    }
}

}  // namespace gzip
}  // namespace zelto
