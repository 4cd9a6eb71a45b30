#include <gtest/gtest.h>

#include "device/ZeltoOSCDecoder.h"
#include "osc/OSCBundle.h"
#include "preset/Gzip.h"

namespace zelto {
namespace {

std::vector<std::uint8_t> ping() {
    return OSCMessage(*OSCAddress::make("/Za/Ping"), {OSCValue(7)}).encode();
}

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(DeviceDecoder, InflatesTheDeviceZlibHeaders) {
    for (int level : {1, 9}) {
        auto packed = gzip::compress(ping(), level, 15);
        ASSERT_EQ(packed[0], 0x78);
        auto object = ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(packed));
        ASSERT_TRUE(object && object->message()) << level;
        EXPECT_EQ(object->message()->address().address(), "/Za/Ping");
    }
}

TEST(DeviceDecoder, DefaultLevelHeaderIsNotInflated) {
    auto packed = gzip::compress(ping(), -1, 15);
    ASSERT_EQ(packed[1], 0x9C);
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(packed)), OSCDecoderError);
}

TEST(DeviceDecoder, CorruptStreamIsADecoderError) {
    auto packed = gzip::compress(ping(), 9, 15);
    packed.resize(packed.size() / 2);
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(packed)), OSCDecoderError);
    std::vector<std::uint8_t> header{0x78, 0xDA};
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(header)), OSCDecoderError);
}

TEST(DeviceDecoder, InflationIsCapped) {
    std::vector<std::uint8_t> bomb(ZeltoOSCDecoder::maxInflatedSize + 1, '/');
    auto packed = gzip::compress(bomb, 9, 15);
    EXPECT_LT(packed.size(), 64u * 1024);
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(packed)), OSCDecoderError);
}

TEST(DeviceDecoder, XmlGivesNoObject) {
    auto xml = bytesOf("<?xml version=\"1.0\"?><a/>");
    EXPECT_EQ(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(xml)), nullptr);
    auto packed = gzip::compress(xml, 9, 15);
    EXPECT_EQ(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(packed)), nullptr);
}

TEST(DeviceDecoder, ShortAndPlainDataGoToTheStandardDecoder) {
    auto four = bytesOf("<?xm");
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(four)), OSCDecoderError);
    EXPECT_THROW(ZeltoOSCDecoder::parse(std::nullopt), OSCDecoderError);
    auto plain = ping();
    auto object = ZeltoOSCDecoder::parse(std::span<const std::uint8_t>(plain));
    ASSERT_TRUE(object && object->message());
}

}  // namespace
}  // namespace zelto
