#include <gtest/gtest.h>

#include <string_view>

#include "osc/OSCAddressPattern.h"

using namespace std::string_view_literals;

namespace zelto {
namespace {

TEST(CodecPattern, Validity) {
    for (auto text : {"/a"sv, "/{a,b}"sv, "/[ab]"sv, "/a/*"sv, "/[!a-z]?/{x,,y}"sv, "/a}{b"sv, "/[a][b]"sv,
                      "/{a}{b,c}"sv}) {
        EXPECT_TRUE(OSCAddressPattern::make(text).has_value()) << text;
    }
    for (auto text :
         {""sv, "a/b"sv, "/"sv, "/a//b"sv, "/a/"sv, "/a b"sv, "/a#b"sv, "/a,b"sv, "/[a"sv, "/a]"sv, "/]a["sv,
          "/[[a]]"sv, "/{a}}"sv, "/{a{b}}"sv, "/{a},b"sv, "/a\x7F"sv, "/\xC3\xA9"sv}) {
        EXPECT_FALSE(OSCAddressPattern::make(text).has_value()) << text;
    }
    auto p = *OSCAddressPattern::make("/a/b");
    EXPECT_EQ(p.parts(), (std::vector<std::string>{"a", "b"}));
}

TEST(CodecPattern, AddressMatchingIsPartByPart) {
    struct Case {
        std::string_view pattern, address;
        bool matches;
    };
    const Case cases[] = {
        {"/ZELTOapp/control/UserInfo", "/ZELTOapp/control/UserInfo", true},
        {"/ZELTOapp/control/UserInfo", "/ZELTOapp/control/UserInf", false},
        {"/ZELTOapp/control/UserInfo", "/ZELTOapp/control/UserInfoX", false},
        {"/ZELTOapp/control/UserInfo", "/ZELTOapp/control/UserInfo/x", false},
        {"/a/*", "/a/b", true},
        {"/a/*", "/a/bc", true},
        {"/a/*", "/a", false},
        {"/a/*", "/a/b/c", false},
        {"/*/Ping", "/Zo/Ping", true},
        {"/*", "/Zo/Ping", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OSCAddressPattern::make(c.pattern)->matches(*OSCAddress::make(c.address)), c.matches)
            << c.pattern << " " << c.address;
    }
}

TEST(CodecPattern, PartMatching) {
    struct Case {
        std::string_view part, pattern;
        bool matches;
    };
    const Case cases[] = {
        {"ab", "a*", true},
        {"ab", "ab*", false},
        {"abd", "a*c", true},
        {"ab", "?b", true},
        {"xb", "?b", true},
        {"b", "?b", false},
        {"bx", "[a-c]x", true},
        {"dx", "[a-c]x", false},
        {"dx", "[!a-c]x", true},
        {"bx", "[!a-c]x", false},
        {"bx", "[c-a]x", true},
        {"-", "[-a]", true},
        {"-", "[a-]", true},
        {"b", "[-a]", false},
        {"e", "[a-ce-g]", true},
        {"d", "[a-ce-g]", false},
        {"barx", "{foo,bar}x", true},
        {"abb", "{a,ab}b", false},
        {"y", "{,x}y", true},
        {"xy", "{,x}y", false},
        {"fo", "{foo}", false},
        {"", "", true},
        {"a", "", false},
        {"", "a", false},
        {"abc", "abc", true},
        {"abc", "abcd", false},
        {"abcd", "abc", false},
        {"b", "a}{b", false},
        {"\xC3", "[!a]", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OSCAddressPattern::matches(c.part, c.pattern), c.matches) << c.pattern << " vs " << c.part;
    }
}

TEST(CodecPattern, EqualityUsesTheText) {
    EXPECT_EQ(*OSCAddressPattern::make("/a/*"), *OSCAddressPattern::make("/a/*"));
    EXPECT_NE(*OSCAddressPattern::make("/a/*"), *OSCAddressPattern::make("/a/?"));
}

}  // namespace
}  // namespace zelto
