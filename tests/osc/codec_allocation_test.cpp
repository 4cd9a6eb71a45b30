// Heap use of the codec's hot paths: small arguments live inline, one
// decoded datagram costs at most one shared copy of its long payloads, and a
// received datagram is decoded in place without any.

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "osc/OSCDecoder.h"
#include "osc/codec_allocation_hooks.h"

namespace zelto {
namespace {

using test::allocation::live;

template <class F>
long allocationsDuring(F&& f) {
    long before = test::allocation::count();
    f();
    return test::allocation::count() - before;
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

    const long before = live();
    EXPECT_THROW(OSCMessage::from(badMessage), OSCValueError);
    EXPECT_THROW(OSCBundle::from(badBundle), OSCValueError);
    EXPECT_THROW(OSCStandardDecoder::parse(std::span<const std::uint8_t>(badBundle)), OSCValueError);
    {
        auto kept = OSCStandardDecoder::parse(std::span<const std::uint8_t>(good));
        auto value = kept->message()->values()[0];
        kept.reset();
        EXPECT_EQ(value.asString(), longText);
    }
    EXPECT_EQ(live(), before);
}

// The receiver's path: a message of up to eight values decoded from a pooled
// datagram allocates nothing once the pool has a buffer, long payloads included.
TEST(CodecAllocation, InPlaceDecodingOfAReceivedDatagramAllocatesNothing) {
    const std::vector<std::uint8_t> blob(1000, 7);
    auto encoded = OSCMessage::make("/ZELTOapp/control/PresetSeg",
                                    {"Show *[2021-05-01T10:00:00.000Z].ZELTOshow", OSCValue::blob(blob), 3,
                                     12, "a second string longer than the inline buffer", "x", 1.5f, true})
                       ->encode();
    OSCDatagram::copyOf(encoded);  // primes the pool
    const long before = live();
    EXPECT_EQ(allocationsDuring([&] {
                  for (int i = 0; i < 3; ++i) {
                      auto datagram = OSCDatagram::copyOf(encoded);
                      {
                          auto value = OSCObject::from(datagram);
                          auto copy = value;  // copies share the buffer too
                          EXPECT_EQ(copy.message()->address().address(), "/ZELTOapp/control/PresetSeg");
                      }
                      // The shared object lives in the datagram's buffer, which
                      // has room for one while nothing else views it.
                      auto shared = OSCStandardDecoder::parseDatagram(datagram);
                      EXPECT_EQ(shared->message()->values()[1].asData()->size(), 1000u);
                      shared.reset();
                      // A plain view of the datagram being handed over decodes in place too.
                      OSCDatagram::Current current(datagram);
                      auto viewed = OSCStandardDecoder::parse(datagram.bytes());
                      EXPECT_EQ(viewed->message()->values().size(), 8u);
                  }
              }),
              0);
    EXPECT_EQ(live(), before);
}

// A value kept past its message keeps the datagram's buffer: the pool must not
// hand it to the next receive while the view lives.
TEST(CodecAllocation, AKeptViewKeepsItsBufferOutOfThePool) {
    const std::string longText(40, 'x');
    auto first = OSCMessage::make("/a", {longText})->encode();
    auto second = OSCMessage::make("/b", {std::string(40, 'y')})->encode();
    std::vector<OSCDatagram::Writer> drained;  // an empty pool
    while (OSCDatagram::pooledCount() > 0) drained.push_back(OSCDatagram::make(1));

    std::optional<OSCValue> kept;
    const std::uint8_t* keptBuffer = nullptr;
    {
        auto datagram = OSCDatagram::copyOf(first);
        keptBuffer = datagram.bytes().data();
        auto object = OSCStandardDecoder::parseDatagram(datagram);
        kept = object->message()->values()[0];
        auto moved = std::move(*object->message());  // a message moved out keeps its buffer too
        object.reset();
        EXPECT_EQ(moved.values()[0].asString(), longText);
    }
    EXPECT_EQ(OSCDatagram::pooledCount(), 0u);
    auto next = OSCDatagram::copyOf(second);
    EXPECT_NE(next.bytes().data(), keptBuffer);
    EXPECT_EQ(kept->asString(), longText);

    kept.reset();
    EXPECT_EQ(OSCDatagram::pooledCount(), 1u);
    auto reused = OSCDatagram::make(1);
    EXPECT_EQ(reused.data(), keptBuffer);
}

}  // namespace
}  // namespace zelto
