// Received datagrams: read-only once anything may view them, and what a
// decoded object really keeps in memory.
#include <gtest/gtest.h>

#include <concepts>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "osc/OSCDecoder.h"

namespace zelto {
namespace {

// Some public member hands out writable bytes or changes the size.
template <class D>
concept WritableThroughItsAPI = requires(D d) {
    { d.data() } -> std::convertible_to<std::uint8_t*>;
}
|| requires(D d) {
    d.resize(std::size_t{1});
}
|| requires(D d) {
    { d.bytes() } -> std::convertible_to<std::span<std::uint8_t>>;
};
template <class W>
concept FinishedInPlace = requires(W& writer) {
    writer.finish(std::size_t{0});
};

// A copy of a datagram shares its buffer, which decoded objects view: were a
// datagram writable, a copy could change them.
static_assert(!WritableThroughItsAPI<OSCDatagram>, "a datagram must not hand out writable bytes");
static_assert(std::is_copy_constructible_v<OSCDatagram>);
// Only the one who fills it writes, through the one writer, which is given up
// to make the datagram.
static_assert(WritableThroughItsAPI<OSCDatagram::Writer>);
static_assert(!std::is_copy_constructible_v<OSCDatagram::Writer> &&
              !std::is_copy_assignable_v<OSCDatagram::Writer>);
static_assert(!FinishedInPlace<OSCDatagram::Writer>, "finishing must consume the writer");

TEST(Datagram, TheWriterIsGoneOnceItsDatagramExists) {
    const auto encoded =
        OSCMessage::make("/a/long/enough/address/to/be/shared", {std::string(40, 's')})->encode();
    auto writer = OSCDatagram::make(encoded.size());
    ASSERT_TRUE(writer);
    ASSERT_GE(writer.capacity(), encoded.size());
    std::memcpy(writer.data(), encoded.data(), encoded.size());
    auto datagram = std::move(writer).finish(encoded.size());
    EXPECT_FALSE(writer);
    EXPECT_EQ(writer.data(), nullptr);
    EXPECT_EQ(writer.capacity(), 0u);

    auto object = OSCObject::from(datagram);
    auto copy = datagram;
    EXPECT_EQ(copy.bytes().data(), datagram.bytes().data());
    EXPECT_TRUE(std::equal(copy.bytes().begin(), copy.bytes().end(), encoded.begin(), encoded.end()));
    datagram = OSCDatagram();
    copy = OSCDatagram();
    EXPECT_EQ(object.encode(), encoded);
}

TEST(Datagram, AWriterCannotClaimMoreThanItHolds) {
    auto writer = OSCDatagram::make(16);
    EXPECT_THROW((void)std::move(writer).finish(writer.capacity() + 1), std::length_error);
    EXPECT_EQ(OSCDatagram::copyOf({}).size(), 0u);
}

// Memory footprints: what a receive queue holding the object really holds.

std::shared_ptr<OSCObject> received(const std::vector<std::uint8_t>& bytes) {
    return OSCStandardDecoder::parseDatagram(OSCDatagram::copyOf(bytes));
}

TEST(MemoryFootprint, ATinyReceivedMessagePinsItsWholeDatagramBuffer) {
    const auto tiny = OSCMessage::make("/a")->encode();
    ASSERT_EQ(tiny.size(), 8u);
    auto object = received(tiny);
    EXPECT_GE(object->memoryFootprint(), OSCDatagram::pooledCapacity);
    // Placed in the datagram's slot, the object is part of that buffer.
    EXPECT_LT(object->memoryFootprint(), OSCDatagram::pooledCapacity + 2 * sizeof(OSCObject));
}

TEST(MemoryFootprint, TypeTagsCountTheValuesTheyMake) {
    // The largest IPv4 datagram is nearly all 'T' tags: each is a whole value.
    std::vector<OSCValue> values(65'495, OSCValue(true));
    const auto encoded = OSCMessage::make("/T", std::span<const OSCValue>(values))->encode();
    ASSERT_EQ(encoded.size(), 65'504u);
    auto object = received(encoded);
    EXPECT_GE(object->memoryFootprint(), values.size() * sizeof(OSCValue) + encoded.size());
    EXPECT_LT(object->memoryFootprint(), values.size() * sizeof(OSCValue) + 2 * encoded.size());
}

TEST(MemoryFootprint, ABufferSharedByManyElementsCountsOnce) {
    const std::string longText(40, 'y');
    OSCBundle bundle(1);
    constexpr std::size_t count = 50;
    for (std::size_t i = 0; i < count; ++i) bundle.add(*OSCMessage::make("/w", {longText}));
    const auto encoded = bundle.encode();
    const std::size_t elements = count * sizeof(OSCObject);
    for (bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace);
        auto object = inPlace ? received(encoded) : OSCStandardDecoder::parse(std::span(encoded));
        const std::size_t footprint = object->memoryFootprint();
        EXPECT_GE(footprint, elements + encoded.size());
        // Counted once per message, the buffer would weigh fifty times.
        EXPECT_LT(footprint, elements + 2 * encoded.size() + 2 * sizeof(OSCObject) + 1024);
    }
}

TEST(MemoryFootprint, CopiesAndBuiltMessagesCountTheBuffersTheyHold) {
    const std::string longText(40, 'x');
    auto encoded = OSCMessage::make("/m", {longText, longText + "y"})->encode();
    auto decoded = OSCMessage::from(encoded);
    // A copy's values hold their own references to the one shared copy.
    auto copy = decoded;
    EXPECT_EQ(copy.memoryFootprint(), decoded.memoryFootprint());
    EXPECT_GE(decoded.memoryFootprint(), sizeof(OSCMessage) + encoded.size());
    // Built values each have a buffer of their own.
    auto built = *OSCMessage::make("/m", {longText, longText + "y"});
    EXPECT_GE(built.memoryFootprint(), sizeof(OSCMessage) + 2 * longText.size());
    // Inline contents hold nothing more.
    EXPECT_EQ(OSCMessage::make("/m", {1, "short"})->memoryFootprint(), sizeof(OSCMessage));
}

}  // namespace
}  // namespace zelto
