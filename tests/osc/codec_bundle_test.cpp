#include <gtest/gtest.h>

#include <string_view>

#include "codec_test_support.h"
#include "osc/OSCBundle.h"
#include "osc/OSCDecoder.h"

using namespace std::string_view_literals;
using zelto::test::bytes;

namespace zelto {
namespace {

OSCMessage message(std::string_view address, std::initializer_list<OSCValue> values = {}) {
    return *OSCMessage::make(address, values);
}

// depth 1 is a bundle holding one message.
OSCBundle nested(int depth) {
    OSCBundle bundle(static_cast<std::uint64_t>(depth));
    bundle.add(message("/leaf", {depth}));
    for (int level = depth - 1; level >= 1; --level) {
        OSCBundle outer(static_cast<std::uint64_t>(level));
        outer.add(std::move(bundle));
        bundle = std::move(outer);
    }
    return bundle;
}

OSCBundleError::Case bundleErrorOf(const std::vector<std::uint8_t>& data) {
    try {
        OSCBundle::from(data);
    } catch (const OSCBundleError& e) {
        return e.errorCase();
    }
    ADD_FAILURE() << "no OSCBundleError";
    return {};
}

TEST(CodecBundle, EncodesPrefixTimeTagAndSizedElements) {
    OSCBundle empty(OSCTimeTagNow);
    EXPECT_EQ(empty.encode(), bytes("#bundle\0\0\0\0\0\0\0\0\1"sv));
    EXPECT_EQ(empty.oscSize(), 16u);
    EXPECT_EQ(empty.description(), "empty OSCBundle(1)");

    OSCBundle one(OSCTimeTagNow, {message("/a")});
    EXPECT_EQ(one.encode(), bytes("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x08/a\0\0,\0\0\0"sv));
    EXPECT_EQ(one.oscSize(), 28u);
    EXPECT_EQ(one.description(), "OSCBundle(1, values: \nOSCMessage(/a)\n)");
}

TEST(CodecBundle, NestedBundlesRoundTripWithStructureAndTimeTags) {
    OSCBundle inner(7, {message("/x", {1, "two"}), message("/y")});
    OSCBundle outer(0xFFFFFFFF00000001ull);
    outer.add(message("/first", {3.5f}));
    outer.add(inner);
    outer.add(OSCBundle(9));

    auto encoded = outer.encode();
    EXPECT_EQ(encoded.size(), outer.oscSize());
    auto decoded = OSCBundle::from(encoded);
    EXPECT_EQ(decoded, outer);
    ASSERT_EQ(decoded.elements().size(), 3u);
    ASSERT_TRUE(decoded.elements()[1].isBundle());
    EXPECT_EQ(decoded.elements()[1].bundle()->timetag(), 7u);
    EXPECT_EQ(decoded.elements()[1].bundle()->elements()[0].message()->values()[1].asString(), "two");
    EXPECT_EQ(decoded.encode(), encoded);
}

TEST(CodecBundle, RejectsMalformedFraming) {
    using Case = OSCBundleError::Case;
    const std::string_view header = "#bundle\0\0\0\0\0\0\0\0\1"sv;
    auto with = [&](std::string_view rest) {
        auto data = bytes(header);
        data.insert(data.end(), rest.begin(), rest.end());
        return data;
    };
    const std::pair<std::vector<std::uint8_t>, Case> cases[] = {
        {bytes("#bundle\0\0\0\0\1"sv), Case::invalidSize},
        {with("\0\0\0\x08/a\0\0,\0\0"sv), Case::invalidSize},  // not a multiple of 4
        {bytes("#bundlX\0\0\0\0\0\0\0\0\1"sv), Case::invalidPrefix},
        {with("\0\0\0\x10/a\0\0,\0\0\0"sv), Case::sizeExceedsDataProvided},
        {with("\x7F\xFF\xFF\xF0/a\0\0,\0\0\0"sv), Case::sizeExceedsDataProvided},
        {with("\xFF\xFF\xFF\xF8/a\0\0,\0\0\0"sv), Case::invalidSize},  // negative size
        // A size field must be followed by an element: a lone one at the end, claiming 8 bytes.
        {with("\0\0\0\x08/a\0\0,\0\0\0\0\0\0\x08"sv), Case::invalidSize},
        {with("\0\0\0\x08"sv), Case::invalidSize},
        {with("\0\0\0\x0C#bundle\0\0\0\0\0"sv), Case::invalidSize},
        {with("\0\0\0\x10xbundle\0\0\0\0\0\0\0\0\0"sv), Case::invalidPrefix},
        {with("\0\0\0\0\0\0\0\x08/a\0\0,\0\0\0"sv), Case::invalidSize},  // empty element
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bundleErrorOf(cases[i].first), cases[i].second);
    }
}

TEST(CodecBundle, ElementErrorsPassThroughUnchanged) {
    auto data = bytes("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x08/a*\0,\0\0\0"sv);
    try {
        OSCBundle::from(data);
        FAIL();
    } catch (const OSCMessageError& e) {
        EXPECT_EQ(e.errorCase(), OSCMessageError::Case::malformedAddress);
        EXPECT_EQ(e.text(), "/a*");
    }
}

TEST(CodecBundle, NestingIsCappedToBoundTheDecodersStack) {
    auto deepest = nested(OSCBundle::maxNestingDepth);
    EXPECT_EQ(OSCBundle::from(deepest.encode()), deepest);
    EXPECT_EQ(bundleErrorOf(nested(OSCBundle::maxNestingDepth + 1).encode()),
              OSCBundleError::Case::invalidSize);
    EXPECT_EQ(bundleErrorOf(nested(1000).encode()), OSCBundleError::Case::invalidSize);
}

TEST(CodecBundle, StampingReachesEveryElementAtAnyDepth) {
    auto bundle = nested(4);
    bundle.add(message("/top"));
    OSCObject object(std::move(bundle));
    const OSCEndpoint peer{"127.0.0.1", 9110};
    object.setEndpoint(peer);
    object.setReceiveTime(123);

    int messages = 0;
    std::function<void(const OSCObject&)> visit = [&](const OSCObject& o) {
        EXPECT_EQ(o.endpoint(), peer);
        EXPECT_EQ(o.receiveTime(), 123u);
        if (o.isBundle()) {
            for (const auto& e : o.bundle()->elements()) visit(e);
        } else {
            ++messages;
        }
    };
    visit(object);
    EXPECT_EQ(messages, 2);
}

TEST(CodecStandardDecoder, DispatchesOnTheFirstByte) {
    auto errorOf = [](OSCDataView data) {
        try {
            OSCStandardDecoder::parse(data);
        } catch (const OSCDecoderError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const std::vector<std::uint8_t> empty, notOSC = bytes("xyzw"sv);
    EXPECT_EQ(errorOf(std::nullopt), "emptyDataProvided");
    EXPECT_EQ(errorOf(std::span<const std::uint8_t>(empty)), "emptyDataProvided");
    EXPECT_EQ(errorOf(std::span<const std::uint8_t>(notOSC)), "dataIsNotOSC");

    auto m = message("/Zo/Ping", {9112, "qv42"}).encode();
    auto parsed = OSCStandardDecoder::parse(std::span<const std::uint8_t>(m));
    ASSERT_TRUE(parsed && parsed->isMessage());
    EXPECT_EQ(parsed->encode(), m);

    auto b = OSCBundle(5, {message("/a")}).encode();
    parsed = OSCStandardDecoder::parse(std::span<const std::uint8_t>(b));
    ASSERT_TRUE(parsed && parsed->isBundle());
    EXPECT_EQ(parsed->bundle()->timetag(), 5u);
    EXPECT_EQ(decoderFunction<OSCStandardDecoder>(), &OSCStandardDecoder::parse);

    auto six = bytes("/a\0\0,\0"sv);
    EXPECT_THROW(OSCStandardDecoder::parse(std::span<const std::uint8_t>(six)), OSCMessageError);
}

// Callers log these names; the misspellings are part of the protocol's vocabulary.
TEST(CodecErrors, WhatIsTheCaseName) {
    EXPECT_STREQ(OSCValueError(OSCValueError::Case::sizeError).what(), "sizeError");
    EXPECT_STREQ(OSCValueError(OSCValueError::Case::encodingError).what(), "encodingError");
    EXPECT_STREQ(OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownTypeTag, 'x').what(),
                 "unkownTypeTag");
    EXPECT_STREQ(OSCTypeTagStringError(OSCTypeTagStringError::Case::malformedData).what(), "malformedData");
    EXPECT_STREQ(OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownBeginningCharacter).what(),
                 "unkownBeginningCharacter");
    EXPECT_STREQ(OSCMessageError(OSCMessageError::Case::malformedMessage).what(), "malformedMessage");
    EXPECT_STREQ(OSCMessageError(OSCMessageError::Case::malformedAddress).what(), "malformedAddress");
    EXPECT_STREQ(OSCMessageError(OSCMessageError::Case::invalidSize).what(), "invalidSize");
    EXPECT_STREQ(OSCDecoderError(OSCDecoderError::Case::emptyDataProvided).what(), "emptyDataProvided");
    EXPECT_STREQ(OSCDecoderError(OSCDecoderError::Case::dataIsNotOSC).what(), "dataIsNotOSC");
    EXPECT_STREQ(OSCBundleError(OSCBundleError::Case::invalidPrefix).what(), "invalidPrefix");
    EXPECT_STREQ(OSCBundleError(OSCBundleError::Case::invalidSize).what(), "invalidSize");
    EXPECT_STREQ(OSCBundleError(OSCBundleError::Case::sizeExceedsDataProvided).what(),
                 "sizeExceedsDataProvided");
}

}  // namespace
}  // namespace zelto
