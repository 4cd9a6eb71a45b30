// Heap use of the codec's hot paths: small arguments live inline, and one
// decoded datagram costs at most one shared copy of its long payloads.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string_view>

#include "osc/OSCDecoder.h"

namespace {

thread_local long allocations = 0;
thread_local long live = 0;

}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    ++live;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    if (p) --live;
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    if (p) --live;
    std::free(p);
}

namespace zelto {
namespace {

template <class F>
long allocationsDuring(F&& f) {
    long before = allocations;
    f();
    return allocations - before;
}

TEST(CodecAllocation, SmallMessagesAreBuiltEncodedAndDecodedWithoutHeap) {
    std::vector<std::uint8_t> buffer(256);
    std::vector<std::uint8_t> encoded;
    EXPECT_EQ(allocationsDuring([&] {
                  auto ping = OSCMessage::make("/Zo/Ping", {9112, "qv42", 1.5f, true});
                  ping->encode(std::span<std::uint8_t>(buffer));
              }),
              0);
    encoded = OSCMessage::make("/Zo/Ping", {9112, "qv42", "twenty-four characters.."})->encode();
    EXPECT_EQ(allocationsDuring([&] {
                  auto decoded = OSCMessage::from(encoded);
                  EXPECT_EQ(decoded.values().size(), 3u);
              }),
              0);
    // The receiver's form: one shared object.
    EXPECT_EQ(allocationsDuring([&] { OSCStandardDecoder::parse(std::span<const std::uint8_t>(encoded)); }),
              1);
}

TEST(CodecAllocation, LongPayloadsShareOneCopyOfTheDatagram) {
    const std::vector<std::uint8_t> blob(1000, 7);
    auto encoded = OSCMessage::make("/ZELTOapp/control/PresetSeg",
                                    {"Show *[2021-05-01T10:00:00.000Z].ZELTOshow", OSCValue::blob(blob), 3,
                                     12, "a second string longer than the inline buffer"})
                       ->encode();
    EXPECT_EQ(allocationsDuring([&] {
                  auto decoded = OSCMessage::from(encoded);
                  auto copy = decoded;  // copies share too
                  EXPECT_EQ(copy.values()[1].asData()->size(), 1000u);
              }),
              1);
}

// A decode that fails half-way has already handed slices of the shared copy
// to values that are then destroyed; the copy must still be freed exactly once.
TEST(CodecAllocation, AFailedDecodeFreesItsSharedCopy) {
    const std::string longText(40, 'x');
    auto good = OSCMessage::make("/a/long/enough/address/to/be/shared", {longText})->encode();
    // A long string decodes, then the next one has no NUL.
    auto badMessage = OSCMessage::make("/a", {longText, "abc"})->encode();
    badMessage.back() = 'd';
    // As a bundle: a good element with long payloads, then one that fails.
    OSCBundle bundle(1, {*OSCMessage::make("/a", {longText})});
    auto badBundle = bundle.encode();
    const std::string_view broken("\0\0\0\x0C/b\0\0,s\0\0abcd", 16);
    badBundle.insert(badBundle.end(), broken.begin(), broken.end());

    const long before = live;
    EXPECT_THROW(OSCMessage::from(badMessage), OSCValueError);
    EXPECT_THROW(OSCBundle::from(badBundle), OSCValueError);
    EXPECT_THROW(OSCStandardDecoder::parse(std::span<const std::uint8_t>(badBundle)), OSCValueError);
    {
        auto kept = OSCStandardDecoder::parse(std::span<const std::uint8_t>(good));
        auto value = kept->message()->values()[0];
        kept.reset();
        EXPECT_EQ(value.asString(), longText);
    }
    EXPECT_EQ(live, before);
}

}  // namespace
}  // namespace zelto
