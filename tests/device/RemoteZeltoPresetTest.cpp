#include <gtest/gtest.h>

#include "device/IsoDate.h"
#include "device/RemoteZeltoPreset.h"

namespace zelto {
namespace {

using std::chrono::milliseconds;

PresetDate at(const char* text) {
    return *parseIsoDate(text);
}

struct SuffixCase {
    const char* text;
    const char* name;
    std::optional<const char*> date;
};

class DateSuffix : public testing::TestWithParam<SuffixCase> {};

TEST_P(DateSuffix, SplitsOnlyAValidTrailingSuffix) {
    const auto& c = GetParam();
    RemoteZeltoPreset preset(c.text);
    EXPECT_EQ(preset.name, c.name);
    if (c.date) {
        ASSERT_TRUE(preset.date);
        EXPECT_EQ(*preset.date, at(*c.date));
    } else {
        EXPECT_FALSE(preset.date);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DateSuffix,
    testing::Values(
        SuffixCase{"Stage *[2021-05-01T10:00:00.000Z]", "Stage", "2021-05-01T10:00:00.000Z"},
        // The character before "*[" is dropped whatever it is.
        SuffixCase{"Stage*[2021-05-01T10:00:00.000Z]", "Stag", "2021-05-01T10:00:00.000Z"},
        SuffixCase{"Stage *[2021-05-01]", "Stage *[2021-05-01]", std::nullopt},
        SuffixCase{"Stage *[2021-05-01T10:00:00.000Z] copy", "Stage *[2021-05-01T10:00:00.000Z] copy",
                   std::nullopt},
        SuffixCase{"Stage *[2021-05-01T10:00:00.000Z]]", "Stage *[2021-05-01T10:00:00.000Z]]", std::nullopt},
        SuffixCase{"Stage [2021-05-01T10:00:00.000Z]", "Stage [2021-05-01T10:00:00.000Z]", std::nullopt},
        SuffixCase{"Stage *[2021-05-01T12:00:00.000+02:00]", "Stage", "2021-05-01T10:00:00.000Z"},
        SuffixCase{"Stage *[2021-05-01T08:30:00.000-01:30]", "Stage", "2021-05-01T10:00:00.000Z"},
        // Matches the pattern but is no calendar date: the text stays whole.
        SuffixCase{"Stage *[2021-13-01T10:00:00.000Z]", "Stage *[2021-13-01T10:00:00.000Z]", std::nullopt},
        SuffixCase{"Stage *[2021-02-30T10:00:00.000Z]", "Stage *[2021-02-30T10:00:00.000Z]", std::nullopt},
        SuffixCase{"Stage *[2021-05-01T10:00:00Z]", "Stage *[2021-05-01T10:00:00Z]", std::nullopt},
        // Beyond what the clock holds: no date rather than an overflow.
        SuffixCase{"Old *[0001-01-01T00:00:00.000Z]", "Old *[0001-01-01T00:00:00.000Z]", std::nullopt},
        SuffixCase{"*[2021-05-01T10:00:00.000Z]", "", "2021-05-01T10:00:00.000Z"},
        SuffixCase{"a*[2021-05-01T10:00:00.000Z]", "", "2021-05-01T10:00:00.000Z"},
        // A multi-byte character before the marker goes as a whole, leaving valid UTF-8.
        SuffixCase{"B\xC3\xBC\xC3\xBC*[2021-05-01T10:00:00.000Z]", "B\xC3\xBC", "2021-05-01T10:00:00.000Z"},
        SuffixCase{"", "", std::nullopt}));

TEST(ExtendedName, RoundTripsNameAndDateToTheMillisecond) {
    RemoteZeltoPreset original("Show");
    original.date = PresetDate(milliseconds(1'619'863'200'123)) + std::chrono::microseconds(456);
    RemoteZeltoPreset again(original.extendedName());
    EXPECT_EQ(again.name, "Show");
    EXPECT_EQ(again.extendedName(), "Show *[2021-05-01T10:00:00.123Z]");
    EXPECT_EQ(std::chrono::floor<milliseconds>(*again.date),
              std::chrono::floor<milliseconds>(*original.date));
}

TEST(ExtendedName, WritesAnOffsetDateInUtc) {
    EXPECT_EQ(RemoteZeltoPreset("X *[2021-05-01T12:00:00.000+02:00]").extendedName(),
              "X *[2021-05-01T10:00:00.000Z]");
    EXPECT_EQ(RemoteZeltoPreset("Plain").extendedName(), "Plain");
}

TEST(Equality, NameAndDateOnly) {
    RemoteZeltoPreset a("Show *[2021-05-01T10:00:00.000Z]");
    RemoteZeltoPreset b("Show *[2021-05-01T12:00:00.000+02:00]");
    b.bytes = std::vector<std::uint8_t>{1, 2, 3};
    b.version = "2";
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == RemoteZeltoPreset("Show"));
    EXPECT_TRUE(RemoteZeltoPreset("Show") == RemoteZeltoPreset("Show"));
    EXPECT_FALSE(a == RemoteZeltoPreset("Other *[2021-05-01T10:00:00.000Z]"));
}

TEST(Ordering, OnlySameNameWithBothDates) {
    RemoteZeltoPreset early("Show *[2021-05-01T10:00:00.000Z]");
    RemoteZeltoPreset late("Show *[2021-05-01T10:00:00.001Z]");
    RemoteZeltoPreset other("Other *[2021-06-01T10:00:00.000Z]");
    RemoteZeltoPreset undated("Show");
    EXPECT_TRUE(early < late);
    EXPECT_TRUE(late > early);
    EXPECT_FALSE(late < early);
    EXPECT_FALSE(early > late);
    EXPECT_FALSE(early < other);
    EXPECT_FALSE(other > early);
    EXPECT_FALSE(undated < late);
    EXPECT_FALSE(late > undated);
    EXPECT_FALSE(early < early);
}

TEST(IsoDate, FormatsMillisecondsAndFarDates) {
    EXPECT_EQ(formatIsoDate(PresetDate{}), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(formatIsoDate(at("1999-12-31T23:59:59.999Z")), "1999-12-31T23:59:59.999Z");
    EXPECT_EQ(formatIsoDate(at("2024-02-29T00:00:00.000+00:00")), "2024-02-29T00:00:00.000Z");
    EXPECT_FALSE(parseIsoDate("2021-05-01T10:00:00.000Z "));
    EXPECT_FALSE(parseIsoDate("2021-05-01T24:00:00.000Z"));
    EXPECT_FALSE(parseIsoDate("2021-05-01T10:00:00.000+24:00"));
}

TEST(Parse, NoneWithoutBytes) {
    EXPECT_FALSE(RemoteZeltoPreset("Show").parse());
}

}  // namespace
}  // namespace zelto
