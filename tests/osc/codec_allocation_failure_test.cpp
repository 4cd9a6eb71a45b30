// Decoding when the heap says no: every allocation of a decode, in turn,
// throws std::bad_alloc. The decode must then throw bad_alloc (or succeed with
// the same result), and what it leaves behind must be destroyed cleanly: no
// release of a wild pointer (a value whose size claims a slice it never got),
// no leak.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "osc/OSCDecoder.h"
#include "osc/codec_allocation_hooks.h"

namespace zelto {
namespace {

namespace allocation = test::allocation;

// Zeroes the stack below the caller, where the frames of what it calls next
// will lie, as the allocator zeroes new blocks: a value on the stack that a
// failed step leaves half-made then points at nothing, and releasing it
// crashes at once rather than by chance.
[[gnu::noinline]] void zeroStackBelow() {
    unsigned char area[32 * 1024];
    std::memset(area, 0, sizeof area);
    asm volatile("" : : "r"(area) : "memory");
}

// Fails the first, second, ... allocation of `decode` until it runs without
// reaching the failing one; returns how many failures were injected.
template <class Decode, class Encode>
long failEveryAllocation(const std::string& what, Decode decode, Encode encode) {
    const auto expected = encode(decode());
    long injected = 0;
    for (long n = 1;; ++n) {
        if (n > 100'000) {
            ADD_FAILURE() << what << ": still allocating after " << n << " allocations";
            return injected;
        }
        const long liveBefore = allocation::live();
        bool reached = false;
        {
            std::optional<decltype(decode())> result;
            bool threw = false;
            zeroStackBelow();
            allocation::failAt(n);
            try {
                result.emplace(decode());
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            reached = allocation::failed();
            allocation::failAt(0);
            if (threw) {
                EXPECT_TRUE(reached) << what << ": bad_alloc without a refused allocation";
                ++injected;
            } else {
                EXPECT_EQ(encode(*result), expected) << what << ", allocation " << n << " failing";
            }
        }
        EXPECT_EQ(allocation::live(), liveBefore) << what << ", allocation " << n << " failing: a leak";
        if (!reached) return injected;
    }
}

struct Sample {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

std::vector<Sample> messageSamples() {
    const std::string longText(40, 'x');
    const std::vector<std::uint8_t> blob(1000, 7);
    std::vector<OSCValue> many;  // beyond the inline values: a heap list
    for (int i = 0; i < 20; ++i)
        many.push_back(i % 3 == 0 ? OSCValue(longText + std::to_string(i)) : OSCValue(i));
    return {
        {"small", OSCMessage::make("/Zo/Ping", {9112, "qv42", 1.5f, true})->encode()},
        {"segment",
         OSCMessage::make("/ZELTOapp/control/PresetSeg",
                          {"Show *[2021-05-01T10:00:00.000Z].ZELTOshow", OSCValue::blob(blob), 3, 12})
             ->encode()},
        // The address is the only long payload, and the last thing decoded.
        {"long address", OSCMessage::make("/a/long/enough/address/to/be/shared", {1, "x"})->encode()},
        {"many values", OSCMessage::make("/many", std::span<const OSCValue>(many))->encode()},
    };
}

std::vector<Sample> bundleSamples() {
    const std::string longText(40, 'y');
    OSCBundle inner(7, {*OSCMessage::make("/inner/with/a/long/enough/address/x", {longText, 1}),
                        *OSCMessage::make("/b", {2})});
    OSCBundle outer(1, {*OSCMessage::make("/a", {longText}), inner, *OSCMessage::make("/c", {3.5f})});
    OSCBundle wide(1);
    for (int i = 0; i < 12; ++i) wide.add(*OSCMessage::make("/w", {longText, i}));
    return {{"nested bundle", outer.encode()}, {"wide bundle", wide.encode()}};
}

auto encodeObject = [](const OSCObject& object) { return object.encode(); };
auto encodeShared = [](const std::shared_ptr<OSCObject>& object) { return object->encode(); };

// The ways in which the codec decodes bytes: copied, or in place over a
// received datagram (with the object in the datagram's slot or on the heap).
void failEveryDecodeOf(const Sample& sample, bool isMessage) {
    const std::span<const std::uint8_t> bytes(sample.bytes);
    auto datagram = OSCDatagram::copyOf(bytes);
    auto what = [&](const char* way) { return sample.name + " " + way; };
    std::vector<long> injected;
    if (isMessage) {
        injected.push_back(failEveryAllocation(
            what("OSCMessage::from"), [&] { return OSCMessage::from(bytes); },
            [](const OSCMessage& message) { return message.encode(); }));
    } else {
        injected.push_back(failEveryAllocation(
            what("OSCBundle::from"), [&] { return OSCBundle::from(bytes); },
            [](const OSCBundle& bundle) { return bundle.encode(); }));
    }
    injected.push_back(failEveryAllocation(
        what("OSCObject::from(span)"), [&] { return OSCObject::from(bytes); }, encodeObject));
    injected.push_back(failEveryAllocation(
        what("OSCObject::from(datagram)"), [&] { return OSCObject::from(datagram); }, encodeObject));
    injected.push_back(failEveryAllocation(
        what("parse"), [&] { return OSCStandardDecoder::parse(bytes); }, encodeShared));
    injected.push_back(failEveryAllocation(
        what("parseDatagram"), [&] { return OSCStandardDecoder::parseDatagram(datagram); }, encodeShared));
    {
        // Another view of the datagram takes the slot: the object goes to the heap.
        auto view = datagram;
        injected.push_back(failEveryAllocation(
            what("parseDatagram, slot taken"), [&] { return OSCStandardDecoder::parseDatagram(datagram); },
            encodeShared));
    }
    injected.push_back(failEveryAllocation(
        what("parse of the current datagram"),
        [&] {
            OSCDatagram::Current current(datagram);
            return OSCStandardDecoder::parse(datagram.bytes());
        },
        encodeShared));
    long total = 0;
    for (long n : injected) total += n;
    if (sample.name != "small") {
        EXPECT_GT(total, 0) << sample.name << ": no allocation to fail";
    }
}

TEST(CodecAllocationFailure, EveryFailedAllocationOfAMessageDecodeThrowsAndLeavesNothingBehind) {
    for (const auto& sample : messageSamples()) failEveryDecodeOf(sample, true);
}

TEST(CodecAllocationFailure, EveryFailedAllocationOfABundleDecodeThrowsAndLeavesNothingBehind) {
    for (const auto& sample : bundleSamples()) failEveryDecodeOf(sample, false);
}

// A value decoded on its own: its allocation is the copy of a long payload,
// which the value's size must not claim before it exists. (The value is
// decoded straight into a block of its own, as into a list of values.)
TEST(CodecAllocationFailure, AFailedCopyOfALongValueLeavesNoValueToRelease) {
    const std::string longText(40, 'z');
    const std::vector<std::uint8_t> blob(100, 9);
    const auto text = OSCValue(longText).oscEncode();
    const auto data = OSCValue::blob(blob).oscEncode();
    auto encodeValue = [](const std::unique_ptr<OSCValue>& value) { return value->oscEncode(); };
    auto decodeValue = [](OSCValueKind kind, const std::vector<std::uint8_t>& bytes) {
        // Allocated first, then the value is decoded right into it.
        return std::unique_ptr<OSCValue>(new OSCValue(OSCValue::fromOSCData(kind, bytes)));
    };
    // The block, then the copy.
    EXPECT_EQ(failEveryAllocation(
                  "string", [&] { return decodeValue(OSCValueKind::String, text); }, encodeValue),
              2);
    EXPECT_EQ(failEveryAllocation(
                  "blob", [&] { return decodeValue(OSCValueKind::Data, data); }, encodeValue),
              2);
}

}  // namespace
}  // namespace zelto
