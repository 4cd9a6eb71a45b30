#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "preset/QVXMLParser.h"

namespace zelto {
namespace {

QVXMLElement parse(std::string_view text) {
    return QVXMLParser(text).parse();
}

// ---- layout of written elements

TEST(XMLWriting, LeafElementsStayOnOneLineAndNestedOnesAreTabIndented) {
    QVXMLElement root("Root");
    QVXMLElement child("Child");
    child.appendChild(QVXMLElement("Leaf", {{"x", "1"}}));
    QVXMLElement named("Name");
    named.stringValue = "abc";
    child.appendChild(named);
    root.appendChild(child);
    EXPECT_EQ(root.serialize(0),
              "<Root>\n\t<Child>\n\t\t<Leaf x=\"1\"/>\n\t\t<Name>abc</Name>\n\t</Child>\n</Root>");
    EXPECT_EQ(named.serialize(3), "\t\t\t<Name>abc</Name>");
}

TEST(XMLWriting, AttributesAreSortedByByteOrderWhateverTheSourceOrder) {
    EXPECT_EQ(parse(R"(<A b="2" a="1" B="3" _="4"/>)").serialize(), R"(<A B="3" _="4" a="1" b="2"/>)");
}

TEST(XMLWriting, TextOfAnElementWithChildrenIsNotWritten) {
    QVXMLElement e("E");
    e.stringValue = "lost";
    e.appendChild(QVXMLElement("C"));
    EXPECT_EQ(e.serialize(), "<E>\n\t<C/>\n</E>");
}

// Unescaped markup made any preset holding such a name unreadable.
TEST(XMLWriting, MarkupAndWhitespaceInValuesSurviveARoundTrip) {
    const std::string values[] = {"Bass & Keys", "<L>",          "say \"hi\"", "a>b",
                                  "]]>",         "tab\there",    "two\nlines", "cr\rlf\r\n",
                                  "  padded  ",  "Grüße 日本 🎸", "&amp;"};
    for (const std::string& value : values) {
        QVXMLElement e("E", {{"v", value}});
        QVXMLElement text("T");
        text.stringValue = value;
        e.appendChild(text);
        const QVXMLElement back = parse(e.serialize());
        EXPECT_EQ(*back.attributes.find("v"), value) << value;
        EXPECT_EQ(back.children.at(0).stringValue, value) << value;
    }
}

// The exact references: attributes keep tabs and line breaks only as character
// references; text keeps them as they are, except the carriage return.
TEST(XMLWriting, EscapesAreTheseReferences) {
    QVXMLElement e("E", {{"v", "&<>\"\t\n\r'"}});
    e.stringValue = "&<>\"\t\n\r'";
    EXPECT_EQ(e.serialize(), "<E v=\"&amp;&lt;&gt;&quot;&#9;&#10;&#13;'\">&amp;&lt;&gt;&quot;\t\n&#13;'</E>");
}

TEST(XMLWriting, ValuesXMLCannotCarryAreRefusedRatherThanWrittenCorrupt) {
    const std::string bad[] = {
        std::string("nul\0x", 5),    "bell\x07", "\xff", "\xc3", "\xed\xa0\x80" /* surrogate */,
        "\xef\xbf\xbe" /* U+FFFE */, "\xc0\x80" /* overlong */};
    for (const std::string& value : bad) {
        EXPECT_THROW(QVXMLElement("E", {{"v", value}}).serialize(), QVXMLEncodingError);
        QVXMLElement text("T");
        text.stringValue = value;
        EXPECT_THROW(text.serialize(), QVXMLEncodingError);
    }
}

TEST(XMLWriting, NamesThatWouldBreakTheMarkupAreRefused) {
    for (const char* name : {"", "a b", "a>b", "a=b", "a\"", "x/"}) {
        EXPECT_THROW(QVXMLElement(name).serialize(), QVXMLEncodingError) << name;
        EXPECT_THROW(QVXMLElement("E", {{name, "v"}}).serialize(), QVXMLEncodingError) << name;
    }
    EXPECT_EQ(QVXMLElement("p:a-b.c_d", {{"xml:lang", "de"}}).serialize(), R"(<p:a-b.c_d xml:lang="de"/>)");
}

// ---- parsing

TEST(XMLParsing, BuildsTheTreeInDocumentOrder) {
    const QVXMLElement root = parse("<R a=\"1\">\n  <X/>\n  <Y k=\"v\">text</Y>\n  <X n=\"2\"/>\n</R>");
    EXPECT_EQ(root.elementName, "R");
    EXPECT_FALSE(root.stringValue) << "indentation must not become text";
    ASSERT_EQ(root.children.size(), 3u);
    EXPECT_EQ(root.children[1].stringValue, "text");
    EXPECT_EQ(root.findChildren("X").size(), 2u);
    EXPECT_EQ(root.findFirstChild("X")->attributes.size(), 0u);
    EXPECT_EQ(root.findFirstChild("Z"), nullptr);
    EXPECT_EQ(parse(R"(<A x="1"/>)").serialize(), R"(<A x="1"/>)");
}

// Keeping only the last chunk turned "Bass &amp; Keys" into " Keys".
TEST(XMLParsing, TextSplitAtEntityReferencesIsJoined) {
    EXPECT_EQ(parse("<N>Bass &amp; Keys</N>").stringValue, "Bass & Keys");
    EXPECT_EQ(parse("<N>a\n&lt;b&gt;\nc</N>").stringValue, "a\n<b>\nc");
    EXPECT_EQ(parse("<N>&#x41;&#66;</N>").stringValue, "AB");
    EXPECT_FALSE(parse("<N> \n\t </N>").stringValue) << "blank text counts as none";
}

TEST(XMLParsing, NamespacesAreNotProcessed) {
    const QVXMLElement root = parse(R"(<p:R xmlns:p="urn:x" p:a="1"/>)");
    EXPECT_EQ(root.elementName, "p:R");
    EXPECT_EQ(*root.attributes.find("p:a"), "1");
}

TEST(XMLParsing, MalformedInputThrowsTheParserError) {
    const char* bad[] = {"",
                         "<",
                         "<A>",
                         "<A></B>",
                         "<A x='1' x='2'/>",
                         "<A/><B/>",
                         "text",
                         "<A>&undefined;</A>",
                         "\xef\xbb\xbf<A>\xff</A>"};
    for (const char* text : bad) EXPECT_THROW(parse(text), QVXMLParserError) << text;
}

// A DTD would let a document declare entities (expansion bombs, external files).
TEST(XMLParsing, DocumentTypeDeclarationsAreRefused) {
    const char* docs[] = {
        "<!DOCTYPE A><A/>",
        "<!DOCTYPE A [<!ENTITY e \"x\">]><A>&e;</A>",
        "<!DOCTYPE A SYSTEM \"file:///etc/passwd\"><A/>",
        "<!DOCTYPE A [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><A>&x;</A>",
    };
    for (const char* text : docs) EXPECT_THROW(parse(text), QVXMLParserError) << text;
}

// Unbounded nesting overflowed the stack in the recursive writer and destructor.
TEST(XMLParsing, NestingIsBounded) {
    auto nested = [](std::size_t depth) {
        std::string s;
        for (std::size_t i = 0; i < depth; ++i) s += "<a>";
        for (std::size_t i = 0; i < depth; ++i) s += "</a>";
        return s;
    };
    EXPECT_NO_THROW(parse(nested(QVXMLParser::maxDepth)));
    EXPECT_THROW(parse(nested(QVXMLParser::maxDepth + 1)), QVXMLParserError);
    EXPECT_THROW(parse(nested(200000)), QVXMLParserError);
}

// Tiny elements cost far more in memory than in text; a flood of them is refused.
TEST(XMLParsing, ElementAndAttributeCountIsBounded) {
    std::string flood = "<r>";
    for (std::size_t i = 0; i < QVXMLParser::maxNodes / 4; ++i) flood += "<a x=\"1\" y=\"2\" z=\"3\"/>";
    flood += "</r>";
    EXPECT_THROW(parse(flood), QVXMLParserError);
    std::string fine = "<r>";
    for (std::size_t i = 0; i < QVXMLParser::maxNodes / 8; ++i) fine += "<a x=\"1\" y=\"2\" z=\"3\"/>";
    fine += "</r>";
    EXPECT_EQ(parse(fine).children.size(), QVXMLParser::maxNodes / 8);
}

// ---- editing

TEST(XMLEditing, CopyConstructionRemovesEveryNamedChildAndAttribute) {
    const QVXMLElement source = parse(R"(<E a="1" b="2" c="3"><K/><D n="1"/><K/><D n="2"/><K/></E>)");
    const std::string_view attrs[] = {"a", "c"};
    const std::string_view kids[] = {"K"};
    const QVXMLElement copy(source, attrs, kids);
    EXPECT_EQ(copy.serialize(), "<E b=\"2\">\n\t<D n=\"1\"/>\n\t<D n=\"2\"/>\n</E>");
    EXPECT_EQ(source.children.size(), 5u) << "the source is untouched";
    QVXMLElement moved(QVXMLElement(source), attrs, kids);
    EXPECT_TRUE(moved.sameContent(copy));
}

// Values are views into the element's own storage; copying one onto a new name must not read freed memory.
TEST(XMLEditing, SettingAnAttributeFromAnotherOfTheSameElementIsSafe) {
    QVXMLElement e("E", {{"a", std::string(100, 'x')}});
    for (int i = 0; i < 20; ++i) e.setAttribute("n" + std::to_string(i), *e.attributes.find("a"));
    e.setAttribute("a", *e.attributes.find("n3"));
    EXPECT_EQ(e.attributes.size(), 21u);
    EXPECT_EQ(*e.attributes.find("n19"), std::string(100, 'x'));
}

// ---- typed readers

struct ReaderCase {
    const char* text;
    bool accepted;
};

TEST(XMLTypedReaders, MissingAttributesAndBadTextHaveDistinctErrors) {
    const QVXMLElement e("E", {{"n", "x"}});
    auto kindOf = [&](auto read) {
        try {
            read();
        } catch (const QVXMLDecodingError& error) {
            return error.kind();
        }
        ADD_FAILURE() << "no error";
        return QVXMLDecodingError::Kind::childNotFound;
    };
    using K = QVXMLDecodingError::Kind;
    EXPECT_EQ(kindOf([&] { e.readString("m"); }), K::attributeNotFound);
    EXPECT_EQ(kindOf([&] { QVXMLElement("E").readBool("m"); }), K::attributeNotFound);
    EXPECT_EQ(kindOf([&] { e.readInt64("n"); }), K::attributeValueConversion);
    EXPECT_EQ(kindOf([&] { e.readUInt64("n"); }), K::attributeValueConversion);
    EXPECT_EQ(kindOf([&] { e.readFloat("n"); }), K::attributeValueConversion);
    EXPECT_EQ(kindOf([&] { e.readBool("n"); }), K::attributeValueConversion);
    EXPECT_STREQ(QVXMLDecodingError::attributeNotFound().what(), "attributeNotFound");
}

TEST(XMLTypedReaders, IntegersAcceptSignedDecimalInRangeOnly) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"0", 0},
        {"-7", -7},
        {"+7", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1.0", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"--1", std::nullopt}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseXMLInt64(text), expected) << text;

    const std::pair<const char*, std::optional<std::uint64_t>> unsignedCases[] = {
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"-1", std::nullopt},
        {"+3", 3},
        {"-0", 0},
        {"", std::nullopt}};
    for (const auto& [text, expected] : unsignedCases) EXPECT_EQ(parseXMLUInt64(text), expected) << text;
}

TEST(XMLTypedReaders, BooleansAcceptOnlyDigitsAndTheFourWords) {
    const ReaderCase yes[] = {{"1", true}, {"true", true}, {"TRUE", true}, {"yEs", true}, {"YES", true}};
    const ReaderCase no[] = {{"0", true}, {"false", true}, {"False", true}, {"no", true}, {"NO", true}};
    for (const auto& c : yes) EXPECT_EQ(parseXMLBool(c.text), true) << c.text;
    for (const auto& c : no) EXPECT_EQ(parseXMLBool(c.text), false) << c.text;
    for (const char* text : {"2", "", "on", "off", "y", "n", " 1", "01", "truee"})
        EXPECT_EQ(parseXMLBool(text), std::nullopt) << text;
}

TEST(XMLTypedReaders, FloatsFollowTheCLocaleSyntaxWithNothingLeftOver) {
    const std::pair<const char*, float> accepted[] = {
        {"1.5", 1.5f},       {"-6", -6.0f},       {"+2.5", 2.5f},         {"1e-05", 0.00001f},
        {"1E3", 1000.0f},    {".5", 0.5f},        {"5.", 5.0f},           {"0x1p3", 8.0f},
        {"1e999", INFINITY}, {"-inf", -INFINITY}, {"Infinity", INFINITY}, {"1e-999", 0.0f}};
    for (const auto& [text, value] : accepted) EXPECT_EQ(parseXMLFloat(text), value) << text;
    for (const char* text : {"nan", "NAN", "-nan", "nan(123)"}) {
        const auto v = parseXMLFloat(text);
        ASSERT_TRUE(v) << text;
        EXPECT_TRUE(std::isnan(*v)) << text;
    }
    for (const char* text : {"", " 1", "\t1", "1 ", "1,5", "abc", "1e", "e5", "--1", "1.5f", "0x", "in"})
        EXPECT_EQ(parseXMLFloat(text), std::nullopt) << text;
    EXPECT_EQ(parseXMLFloat(std::string_view("1\0", 2)), std::nullopt);
}

// Short decimals take a quicker path than the general syntax; it must round exactly as strtof does.
TEST(XMLTypedReaders, ShortDecimalsGiveTheBitsStrtofGives) {
    std::uint32_t state = 99;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1664525u + 1013904223u;
        const unsigned digits = 1 + (state >> 8) % 7;
        std::string text = state & 1 ? "-" : "";
        std::string number = std::to_string((state >> 4) % 10000000u);
        number.insert(0, digits > number.size() ? digits - number.size() : 0, '0');
        const std::size_t point = (state >> 27) % (number.size() + 2);  // past the end: no point
        if (point <= number.size()) number.insert(number.size() - point, ".");
        text += number;
        const auto value = parseXMLFloat(text);
        const float expected = std::strtof(text.c_str(), nullptr);
        ASSERT_TRUE(value) << text;
        ASSERT_EQ(std::memcmp(&*value, &expected, 4), 0) << text;
    }
}

TEST(XMLFloatText, ShortestFormKeepsPointZeroOnIntegralValues) {
    const std::pair<float, const char*> cases[] = {
        {0.0f, "0.0"},     {-6.0f, "-6.0"},         {2.5f, "2.5"},
        {0.1f, "0.1"},     {100000.0f, "100000.0"}, {-0.0f, "-0.0"},
        {1e-05f, "1e-05"}, {INFINITY, "inf"},       {1.0f / 3.0f, "0.33333334"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(formatXMLFloat(value), text);
}

TEST(XMLFloatText, EveryFormReadsBackToTheSameBits) {
    const float values[] = {std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::lowest(),
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::denorm_min(),
                            1e16f,
                            9.999999e15f,
                            1e-4f,
                            9.9999e-5f,
                            16777217.0f,
                            3.1415925f,
                            -0.0f,
                            -INFINITY};
    for (float value : values) {
        const auto back = parseXMLFloat(formatXMLFloat(value));
        ASSERT_TRUE(back) << formatXMLFloat(value);
        std::uint32_t a, b;
        std::memcpy(&a, &value, 4);
        std::memcpy(&b, &*back, 4);
        EXPECT_EQ(a, b) << formatXMLFloat(value);
    }
    // A pseudo-random sweep over bit patterns.
    std::uint32_t bits = 12345;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float value;
        std::memcpy(&value, &bits, 4);
        if (std::isnan(value)) continue;
        const auto back = parseXMLFloat(formatXMLFloat(value));
        ASSERT_TRUE(back && *back == value) << formatXMLFloat(value);
    }
}

}  // namespace
}  // namespace zelto
