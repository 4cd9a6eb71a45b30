// Heap use of the codec's hot paths: small arguments live inline, and one
// decoded datagram costs at most one shared copy of its long payloads.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string_view>

#include "osc/OSCDecoder.h"

namespace {

thread_local long allocations = 0;

}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
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

}  // namespace
}  // namespace zelto
