#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "codec_test_support.h"
#include "osc/OSCMessage.h"

using namespace std::string_view_literals;
using zelto::test::bytes;

namespace zelto {
namespace {

template <class Error>
typename Error::Case caseOf(auto&& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.errorCase();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

struct ValueCase {
    const char* name;
    OSCValue value;
    std::string_view encoded;
    char tag;
};

TEST(CodecValue, EncodesEachKindWithItsTagAndSize) {
    const std::vector<std::uint8_t> five{1, 2, 3, 4, 5};
    const ValueCase cases[] = {
        {"int32 -1", OSCValue(-1), "\xFF\xFF\xFF\xFF"sv, 'i'},
        {"platform int truncates", OSCValue::integer((std::int64_t{1} << 32) + 5), "\0\0\0\5"sv, 'i'},
        {"int64", OSCValue(std::int64_t{-2}), "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE"sv, 'h'},
        {"float 1.0", OSCValue(1.0f), "\x3F\x80\0\0"sv, 'f'},
        {"true", OSCValue(true), ""sv, 'T'},
        {"false", OSCValue(false), ""sv, 'F'},
        {"empty string", OSCValue(""), "\0\0\0\0"sv, 's'},
        {"abc", OSCValue("abc"), "abc\0"sv, 's'},
        {"abcd", OSCValue("abcd"), "abcd\0\0\0\0"sv, 's'},
        {"two-byte character", OSCValue("\xC3\xA9"), "\xC3\xA9\0\0"sv, 's'},
        {"abc plus two-byte character", OSCValue("abc\xC3\xA9"), "abc\xC3\xA9\0\0\0"sv, 's'},
        {"blob of 5", OSCValue::blob(five), "\0\0\0\5\1\2\3\4\5\0\0\0"sv, 'b'},
        {"empty blob", OSCValue::blob(std::span<const std::uint8_t>{}), "\0\0\0\0"sv, 'b'},
        {"time tag now", OSCValue::timeTag(OSCTimeTagNow), "\0\0\0\0\0\0\0\1"sv, 't'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.oscEncode(), bytes(c.encoded));
        EXPECT_EQ(c.value.oscSize(), c.encoded.size());
        EXPECT_EQ(c.value.typeTag().rawValue(), c.tag);
        EXPECT_EQ(OSCTypeTag::from(c.tag)->valueType(),
                  c.value.kind() == OSCValueKind::Int ? OSCValueKind::Int32 : c.value.kind());
    }
}

TEST(CodecValue, DecodesFromTheFrontOfLongerData) {
    const std::vector<std::uint8_t> payload(30, 0xAB);  // longer than the inline buffer
    const OSCValue values[] = {OSCValue(-7),
                               OSCValue(std::int64_t{1} << 40),
                               OSCValue(-0.25f),
                               OSCValue("hello"),
                               OSCValue("a string longer than twenty-four bytes"),
                               OSCValue::blob(payload),
                               OSCValue::timeTag(0xFEDCBA9876543210ull)};
    for (const auto& v : values) {
        SCOPED_TRACE(v.description());
        auto data = v.oscEncode();
        data.insert(data.end(), {'j', 'u', 'n', 'k'});
        EXPECT_EQ(OSCValue::fromOSCData(v.kind(), data), v);
    }
    EXPECT_EQ(OSCValue::fromOSCData(OSCValueKind::Bool, bytes("\1\1\1\1"sv)), OSCValue(false));
}

TEST(CodecValue, RejectsTruncatedOrMalformedData) {
    using Case = OSCValueError::Case;
    struct Bad {
        const char* name;
        OSCValueKind kind;
        std::string_view data;
        Case expected;
    };
    const Bad cases[] = {
        {"int32 in 3 bytes", OSCValueKind::Int32, "\0\0\1"sv, Case::sizeError},
        {"int64 in 7 bytes", OSCValueKind::Int64, "\0\0\0\0\0\0\1"sv, Case::sizeError},
        {"float in 3 bytes", OSCValueKind::Float, "\0\0\1"sv, Case::sizeError},
        {"time tag in 7 bytes", OSCValueKind::UInt64, "\0\0\0\0\0\0\1"sv, Case::sizeError},
        {"string without NUL", OSCValueKind::String, "abcd"sv, Case::encodingError},
        {"string padding past the end", OSCValueKind::String, "abcd\0"sv, Case::sizeError},
        {"string padding not NUL", OSCValueKind::String, "ab\0x"sv, Case::encodingError},
        {"string of bare continuation byte", OSCValueKind::String, "\x80\0\0\0"sv, Case::encodingError},
        {"string truncated sequence", OSCValueKind::String, "\xC3\0\0\0"sv, Case::encodingError},
        {"string overlong slash", OSCValueKind::String, "\xC0\xAF\0\0"sv, Case::encodingError},
        {"string surrogate", OSCValueKind::String, "\xED\xA0\x80\0"sv, Case::encodingError},
        {"string beyond U+10FFFF", OSCValueKind::String, "\xF4\x90\x80\x80\0\0\0\0"sv, Case::encodingError},
        {"blob without length", OSCValueKind::Data, "\0\0\0"sv, Case::sizeError},
        {"blob longer than data", OSCValueKind::Data, "\0\0\0\5abcd"sv, Case::sizeError},
        {"blob padding past the end", OSCValueKind::Data, "\0\0\0\5abcde"sv, Case::sizeError},
        {"blob length near 2^32", OSCValueKind::Data, "\xFF\xFF\xFF\xFF\0\0\0\0"sv, Case::sizeError},
        {"blob length wrapping 32 bits when padded", OSCValueKind::Data, "\xFF\xFF\xFF\xFD\0\0\0\0"sv,
         Case::sizeError},
        {"blob padding not NUL", OSCValueKind::Data, "\0\0\0\5abcde\0x\0"sv, Case::encodingError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = bytes(c.data);
        EXPECT_EQ(caseOf<OSCValueError>([&] { OSCValue::fromOSCData(c.kind, data); }), c.expected);
    }
}

TEST(CodecValue, RefusesToEncodeStringsThatWouldNotSurviveTheWire) {
    // An embedded NUL would silently truncate the string on the peer.
    const OSCValue withNul(std::string_view("a\0b", 3));
    const OSCValue notUTF8(std::string_view("\xFF"));
    for (const auto* v : {&withNul, &notUTF8}) {
        EXPECT_EQ(caseOf<OSCValueError>([&] { v->oscEncode(); }), OSCValueError::Case::encodingError);
        auto message = OSCMessage::make("/a", {*v});
        EXPECT_EQ(caseOf<OSCValueError>([&] { message->encode(); }), OSCValueError::Case::encodingError);
    }
}

TEST(CodecValue, DebugForms) {
    const std::vector<std::uint8_t> five(5);
    EXPECT_EQ(OSCValue(12).description(), "12");
    EXPECT_EQ(OSCValue::timeTag(1).description(), "1");
    EXPECT_EQ(OSCValue(1.5f).description(), "1.5");
    EXPECT_EQ(OSCValue(1.0f).description(), "1.0");
    EXPECT_EQ(OSCValue(0.1f).description(), "0.1");
    EXPECT_EQ(OSCValue(true).description(), "true");
    EXPECT_EQ(OSCValue("x\"y").description(), "\"x\\\"y\"");
    EXPECT_EQ(OSCValue::blob(five).description(), "5 bytes");
}

TEST(CodecTypeTagString, ParsesTextAndReportsTheOffendingCharacter) {
    auto tags = OSCTypeTagString::fromText(",ifsbhtTF\0ix"sv).typeTags();
    ASSERT_EQ(tags.size(), 8u);
    EXPECT_EQ(tags[0], OSCTypeTag::int32);
    EXPECT_EQ(tags[7], OSCTypeTag::falseTag);
    EXPECT_TRUE(OSCTypeTagString::fromText(",").typeTags().empty());

    try {
        OSCTypeTagString::fromText(",ix");
        FAIL();
    } catch (const OSCTypeTagStringError& e) {
        EXPECT_EQ(e.errorCase(), OSCTypeTagStringError::Case::unkownTypeTag);
        EXPECT_EQ(e.character(), 'x');
        EXPECT_STREQ(e.what(), "unkownTypeTag");
    }
    for (auto text : {""sv, "xi"sv, "i,"sv}) {
        EXPECT_EQ(caseOf<OSCTypeTagStringError>([&] { OSCTypeTagString::fromText(text); }),
                  OSCTypeTagStringError::Case::unkownBeginningCharacter);
    }
    EXPECT_EQ(caseOf<OSCTypeTagStringError>([&] { OSCTypeTagString::fromOSCData(bytes(",i\xC3"sv)); }),
              OSCTypeTagStringError::Case::malformedData);
}

TEST(CodecTypeTagString, EncodesPaddedToFourBytes) {
    const std::pair<std::vector<OSCValue>, std::string_view> cases[] = {
        {{}, ",\0\0\0"sv},
        {{1, 2}, ",ii\0"sv},
        {{1, 2, 3}, ",iii\0\0\0\0"sv},
        {{true, false, "s", 1.0f, 1, 2}, ",TFsfii\0"sv},
    };
    for (const auto& [values, encoded] : cases) {
        OSCTypeTagString tags(values);
        EXPECT_EQ(tags.encode(), bytes(encoded));
        EXPECT_EQ(tags.oscSize(), encoded.size());
    }
}

TEST(CodecAddress, Validity) {
    for (auto text : {"/a"sv, "/a/b"sv, "/ZELTOapp/control/UserInfo"sv, "/a~b!$%&()+-.:;<=>@^_`|"sv}) {
        EXPECT_TRUE(OSCAddress::isValid(text)) << text;
        EXPECT_TRUE(OSCAddress::make(text).has_value()) << text;
    }
    for (auto text :
         {""sv, "a"sv, "/"sv, "//a"sv, "/a//b"sv, "/a/"sv, "/a b"sv, "/a#"sv, "/a*"sv, "/a,b"sv, "/a?"sv,
          "/a["sv, "/a]"sv, "/a{"sv, "/a}"sv, "/a\x7F"sv, "/a\x1F"sv, "/\xC3\xA9"sv, "/a\0b"sv}) {
        EXPECT_FALSE(OSCAddress::isValid(text)) << text;
        EXPECT_FALSE(OSCAddress::make(text).has_value()) << text;
        EXPECT_FALSE(OSCMessage::make(text).has_value()) << text;
    }
}

TEST(CodecAddress, EncodingSizeAndParts) {
    EXPECT_EQ(OSCAddress::make("/ab")->encode(), bytes("/ab\0"sv));
    EXPECT_EQ(OSCAddress::make("/abc")->encode(), bytes("/abc\0\0\0\0"sv));
    EXPECT_EQ(OSCAddress::make("/abc")->oscSize(), 8u);

    auto ab = *OSCAddress::make("/a/b");
    EXPECT_EQ(ab.parts(), (std::vector<std::string>{"", "a", "b"}));
    EXPECT_EQ(ab.part(0), "");
    EXPECT_EQ(ab.part(2), "b");
    EXPECT_EQ(ab.part(3), std::nullopt);

    EXPECT_EQ(OSCAddress::make("/dev/12")->partAs<int>(2), 12);
    EXPECT_EQ(OSCAddress::make("/dev/+7")->partAs<int>(2), 7);
    EXPECT_EQ(OSCAddress::make("/dev/-7")->partAs<std::int64_t>(2), -7);
    EXPECT_EQ(OSCAddress::make("/dev/-7")->partAs<unsigned>(2), std::nullopt);
    EXPECT_EQ(OSCAddress::make("/dev/300")->partAs<std::uint8_t>(2), std::nullopt);
    EXPECT_EQ(OSCAddress::make("/dev/12a")->partAs<int>(2), std::nullopt);
    EXPECT_EQ(OSCAddress::make("/dev/+-1")->partAs<int>(2), std::nullopt);
    EXPECT_EQ(OSCAddress::make("/dev/12")->partAs<int>(3), std::nullopt);
    EXPECT_EQ(OSCAddress::make("/dev/12")->partAs<int>(0), std::nullopt);
}

TEST(CodecMessage, EncodesAddressTagsAndValues) {
    auto empty = *OSCMessage::make("/a");
    EXPECT_EQ(empty.encode(), bytes("/a\0\0,\0\0\0"sv));
    EXPECT_EQ(empty.oscSize(), 8u);

    auto ping = *OSCMessage::make("/Zo/Ping", {9112, "qv42"});
    EXPECT_EQ(ping.encode(), bytes("/Zo/Ping\0\0\0\0,is\0\0\0\x23\x98qv42\0\0\0\0"sv));

    // The span and vector forms write the same bytes, the span form in place.
    std::vector<std::uint8_t> out(ping.oscSize() + 8, 0xEE);
    EXPECT_EQ(ping.encode(std::span<std::uint8_t>(out)), ping.oscSize());
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 28), ping.encode());
    EXPECT_EQ(out[28], 0xEE);
    std::vector<std::uint8_t> small(ping.oscSize() - 1);
    EXPECT_THROW(ping.encode(std::span<std::uint8_t>(small)), std::length_error);
}

TEST(CodecMessage, RoundTripsEveryKindByteForByte) {
    std::vector<std::uint8_t> blob(1000);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<OSCValue> values{-1,
                                 OSCValue(std::int64_t{-3}),
                                 2.5f,
                                 true,
                                 false,
                                 "Show *[2021-05-01T10:00:00.000Z].ZELTOshow",
                                 OSCValue::blob(blob),
                                 OSCValue::timeTag(42),
                                 "",
                                 OSCValue::blob(std::span<const std::uint8_t>{})};
    for (int i = 0; i < 12; ++i) values.push_back(i);  // past the inline capacity of the value list
    auto message = *OSCMessage::make("/ZELTOapp/control/PresetSeg", values);
    auto encoded = message.encode();
    EXPECT_EQ(encoded.size(), message.oscSize());

    auto decoded = OSCMessage::from(encoded);
    EXPECT_EQ(decoded, message);
    EXPECT_EQ(decoded.encode(), encoded);
    EXPECT_FALSE(decoded.endpoint());
    EXPECT_FALSE(decoded.receiveTime());
}

// Lengths around the inline buffer, last in the datagram so that any read
// past the payload leaves the buffer (the sanitizer build reports it).
TEST(CodecMessage, PayloadsAroundTheInlineCapacityRoundTrip) {
    for (std::size_t length = 0; length <= OSCBytes::inlineCapacity + 9; ++length) {
        SCOPED_TRACE(length);
        std::string text(length, 'x');
        std::vector<std::uint8_t> blob(length);
        for (std::size_t i = 0; i < length; ++i) blob[i] = static_cast<std::uint8_t>(i + 1);
        std::string address = "/" + std::string(length + 1, 'a');
        for (const auto& message :
             {*OSCMessage::make("/s", {text}), *OSCMessage::make("/b", {OSCValue::blob(blob)}),
              *OSCMessage::make(address)}) {
            auto encoded = message.encode();
            auto exact = std::make_unique<std::uint8_t[]>(encoded.size());
            std::memcpy(exact.get(), encoded.data(), encoded.size());
            auto decoded = OSCMessage::from(std::span<const std::uint8_t>(exact.get(), encoded.size()));
            exact.reset();
            EXPECT_EQ(decoded, message);
            EXPECT_EQ(decoded.encode(), encoded);
        }
    }
}

TEST(CodecMessage, DecodedValuesOutliveTheDatagramTheyCameFrom) {
    OSCMessage copy = *OSCMessage::make("/x");
    OSCValue kept(0);
    {
        auto datagram =
            OSCMessage::make("/a/rather/long/address/for/inline",
                             {"a string too long for the inline buffer",
                              OSCValue::blob(bytes("0123456789012345678901234567890123456789"sv))})
                ->encode();
        auto decoded = OSCMessage::from(datagram);
        copy = decoded;
        kept = decoded.values()[1];
        std::memset(datagram.data(), 'Z', datagram.size());
    }
    EXPECT_EQ(copy.address().address(), "/a/rather/long/address/for/inline");
    EXPECT_EQ(copy.values()[0].asString(), "a string too long for the inline buffer");
    EXPECT_EQ(kept.asData()->size(), 40u);
    EXPECT_EQ((*kept.asData())[39], '9');
}

TEST(CodecMessage, DecodesSignedAndZeroWidthArguments) {
    auto m = OSCMessage::from(bytes("/a\0\0,iTF\0\0\0\0\xFF\xFF\xFF\xFF"sv));
    ASSERT_EQ(m.values().size(), 3u);
    EXPECT_EQ(m.values()[0].asInt32(), -1);
    EXPECT_EQ(m.values()[1].asBool(), true);
    EXPECT_EQ(m.values()[2].asBool(), false);
}

TEST(CodecMessage, RejectsMalformedDatagrams) {
    auto messageError = [](OSCMessageError::Case expected, std::string text = {}) {
        return [=](const std::exception& e) {
            auto* error = dynamic_cast<const OSCMessageError*>(&e);
            ASSERT_NE(error, nullptr) << e.what();
            EXPECT_EQ(error->errorCase(), expected);
            EXPECT_EQ(error->text(), text);
        };
    };
    auto tagError = [](OSCTypeTagStringError::Case expected) {
        return [=](const std::exception& e) {
            auto* error = dynamic_cast<const OSCTypeTagStringError*>(&e);
            ASSERT_NE(error, nullptr) << e.what();
            EXPECT_EQ(error->errorCase(), expected);
        };
    };
    auto valueError = [](OSCValueError::Case expected) {
        return [=](const std::exception& e) {
            auto* error = dynamic_cast<const OSCValueError*>(&e);
            ASSERT_NE(error, nullptr) << e.what();
            EXPECT_EQ(error->errorCase(), expected);
        };
    };
    using M = OSCMessageError::Case;
    using T = OSCTypeTagStringError::Case;
    using V = OSCValueError::Case;
    const std::pair<std::string_view, std::function<void(const std::exception&)>> cases[] = {
        {"/a\0\0,\0"sv, messageError(M::invalidSize)},
        {"/a*\0,\0\0\0"sv, messageError(M::malformedAddress, "/a*")},
        {"/\xC3\0\0,\0\0\0"sv,
         messageError(M::malformedMessage, "OSC Address contains non ASCII Charachters")},
        {"/abc"sv, messageError(M::invalidSize)},
        {"\0\0\0\0"sv, messageError(M::malformedAddress, "")},
        {"/a\0\0,ix\0"sv, tagError(T::unkownTypeTag)},
        {"/a\0\0xi\0\0"sv, tagError(T::unkownBeginningCharacter)},
        {"/a\0\0"sv, tagError(T::unkownBeginningCharacter)},
        {"/a\0\0,i\xC3\0"sv, tagError(T::malformedData)},
        {"/a\0\0,iii"sv, messageError(M::invalidSize)},
        {"/a\0\0,ii\0\0\0\0\1"sv, valueError(V::sizeError)},
        {"/a\0\0,s\0\0abcd"sv, valueError(V::encodingError)},
        {"/a\0\0,b\0\0\xFF\xFF\xFF\xF0\0\0\0\0"sv, valueError(V::sizeError)},
        {"/a\0\0,h\0\0\0\0\0\1"sv, valueError(V::sizeError)},
    };
    for (const auto& [data, check] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(data)));
        try {
            OSCMessage::from(bytes(data));
            ADD_FAILURE() << "decoded";
        } catch (const std::exception& e) {
            check(e);
        }
    }
}

}  // namespace
}  // namespace zelto
