#include "preset/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace zelto {

GzipError::GzipError(Kind kind, int code, std::string message)
    : kind_(kind), code_(code), message_(std::move(message)) {}

GzipError GzipError::fromZlib(int code, const char* message) {
    Kind kind;
    switch (code) {
        case Z_STREAM_ERROR: kind = Kind::stream; break;
        case Z_DATA_ERROR: kind = Kind::data; break;
        case Z_MEM_ERROR: kind = Kind::memory; break;
        case Z_BUF_ERROR: kind = Kind::buffer; break;
        case Z_VERSION_ERROR: kind = Kind::version; break;
        default: kind = Kind::unknown; break;
    }
    return GzipError(kind, code, message ? std::string(message) : std::string("Unknown gzip error"));
}

const char* toString(GzipError::Kind kind) noexcept {
    switch (kind) {
        case GzipError::Kind::stream: return "stream";
        case GzipError::Kind::data: return "data";
        case GzipError::Kind::memory: return "memory";
        case GzipError::Kind::buffer: return "buffer";
        case GzipError::Kind::version: return "version";
        case GzipError::Kind::unknown: return "unknown";
    }
    return "unknown";
}

namespace gzip {

namespace {

// zlib counts in uInt; feed and drain in pieces it can describe.
constexpr std::size_t maxPiece = UINT_MAX / 2;

uInt piece(std::size_t n) noexcept { return static_cast<uInt>(std::min(n, maxPiece)); }

}  // namespace

std::vector<std::uint8_t> compress(std::span<const std::uint8_t> data, int level, int windowBits) {
    if (data.empty()) return {};
    z_stream stream{};
    int status = deflateInit2(&stream, level, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) throw GzipError::fromZlib(status, stream.msg);

    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(std::min(data.size(), maxPiece))));
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

std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> data, int windowBits, std::size_t maxSize) {
    if (data.empty()) return {};
    z_stream stream{};
    int status = inflateInit2(&stream, windowBits);
    if (status != Z_OK) throw GzipError::fromZlib(status, stream.msg);

    std::vector<std::uint8_t> out(std::min(maxSize, std::max<std::size_t>(data.size() * 4, 4096)));
    const std::uint8_t* in = data.data();
    std::size_t inLeft = data.size();
    std::size_t produced = 0;
    for (;;) {
        if (stream.avail_in == 0 && inLeft > 0) {
            stream.next_in = const_cast<Bytef*>(in);
            stream.avail_in = piece(inLeft);
            in += stream.avail_in;
            inLeft -= stream.avail_in;
        }
        std::uint8_t scratch;
        const bool full = produced == out.size() && out.size() >= maxSize;
        if (produced == out.size() && !full) out.resize(std::min(maxSize, out.size() * 2));
        // At the cap, one byte of room tells a stream that ends exactly there from one that goes on.
        stream.next_out = full ? &scratch : out.data() + produced;
        stream.avail_out = full ? 1 : piece(out.size() - produced);
        const uInt before = stream.avail_out;
        status = inflate(&stream, Z_NO_FLUSH);
        if (full && stream.avail_out == 0) {
            inflateEnd(&stream);
            throw GzipError(GzipError::Kind::memory, Z_MEM_ERROR,
                            "inflated data exceeds " + std::to_string(maxSize) + " bytes");
        }
        if (!full) produced += before - stream.avail_out;
        if (status == Z_STREAM_END) break;
        if (status == Z_OK) continue;
        // Z_BUF_ERROR with room left and no input left: the stream is truncated.
        if (status == Z_BUF_ERROR && stream.avail_out == 0) continue;
        GzipError error = GzipError::fromZlib(status, stream.msg);
        inflateEnd(&stream);
        throw error;
    }
    inflateEnd(&stream);
    out.resize(produced);
    return out;
}

}  // namespace gzip
}  // namespace zelto
