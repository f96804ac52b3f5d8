#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "detection/Rule_Numbers.h"
#include "output/Time_Text.h"
#include "platform/text.h"

TEST(Rule_Time, TextsAsWholeSeconds) {
    struct Case {
        const char16_t* text;
        std::int64_t seconds;
    };
    const Case cases[] = {
        {u"1899-12-30 00:00:00", 0},
        {u"1899-12-30 00:00:01", 1},
        {u"1899-12-29 23:59:59", -1},  // linear before the scale's zero day
        {u"1601-01-01 00:00:00", -9435312000},
        {u"0100-01-01 00:00:00", -56802297600},
        {u"1970-01-01 00:00:00", 2209161600},
        {u"2024-02-29 12:34:56", 3918371696},
        {u"9999-12-31 23:59:59", 255611462399},
        // Not of the shape: the parser's type mismatch, 0.
        {u"", 0},
        {u"2024-01-01", 0},
        {u"2024-01-01T00:00:00", 0},
        {u"2024/01/01 00:00:00", 0},
        {u" 2024-01-01 00:00:00", 0},
        {u"2024-01-01 00:00:00 ", 0},
        {u"2024-1-01 00:00:00", 0},
        // The shape with a field out of range: its other failure, one day back.
        {u"2023-02-29 00:00:00", -86400},
        {u"2024-13-01 00:00:00", -86400},
        {u"2024-00-10 00:00:00", -86400},
        {u"2024-01-00 00:00:00", -86400},
        {u"2024-01-01 24:00:00", -86400},
        {u"2024-01-01 00:60:00", -86400},
        {u"2024-01-01 00:00:60", -86400},
        {u"0099-12-31 23:59:59", -86400},
    };
    for (const Case& c : cases) EXPECT_EQ(Time_Text_Seconds(c.text), c.seconds) << platform::Utf16_To_Utf8(c.text);

    // Exact to the second over the whole range the time texts reach: a
    // FILETIME's own seconds, moved to the scale's zero day (109205 days
    // after 1601-01-01).
    constexpr std::uint64_t Ticks = 10'000'000;
    constexpr std::int64_t Zero_Day_After_1601 = 109205LL * 86400;
    const std::uint64_t last = 2650467743999999999ull;  // 9999-12-31 23:59:59.9999999
    for (std::uint64_t ft = 0; ft <= last; ft += last / 4099 + 7777777) {
        const auto whole = static_cast<std::int64_t>(ft / Ticks);
        ASSERT_EQ(Time_Text_Seconds(Format_FileTime_Text(ft)), whole - Zero_Day_After_1601) << ft;
    }
}

TEST(Rule_Time, DifferencesSignedAndAsUnsigned) {
    struct Case {
        const char16_t* later;
        const char16_t* earlier;
        std::int64_t difference;
    };
    const Case cases[] = {
        {u"2024-01-01 10:00:00", u"2024-01-01 09:58:59", 61},
        {u"2024-01-01 09:58:59", u"2024-01-01 10:00:00", -61},
        {u"2024-03-01 00:00:00", u"2024-02-28 23:59:59", 86401},  // over a leap day
        {u"1899-12-30 00:00:01", u"1899-12-29 23:59:59", 2},      // across the zero day
        {u"2024-01-01 00:00:00", u"", 3913228800},                // a broken text measures from 0
        {u"", u"2024-02-30 00:00:00", 86400},                     // 0 minus -86400
    };
    for (const Case& c : cases) EXPECT_EQ(Seconds_Between(c.later, c.earlier), c.difference);

    // Compared as unsigned, a negative difference passes every "at least" and
    // fails every "below".
    EXPECT_TRUE(As_Unsigned(-1) >= 60);
    EXPECT_FALSE(As_Unsigned(-1) < 16);
    EXPECT_TRUE(As_Unsigned(15) < 16);
    EXPECT_FALSE(As_Unsigned(16) < 16);
    EXPECT_TRUE(As_Unsigned(60) >= 60);
    EXPECT_FALSE(As_Unsigned(59) >= 60);
    EXPECT_EQ(Magnitude(-61), 61u);
    EXPECT_EQ(Magnitude(61), 61u);
    EXPECT_EQ(Magnitude(LLONG_MIN), 9223372036854775808ull);
    EXPECT_EQ(Distance(0x5000, 0x6000), 0x1000u);
    EXPECT_EQ(Distance(0x6000, 0x5000), 0x1000u);
    EXPECT_EQ(Distance(0, UINT64_MAX), UINT64_MAX);
}

// The $LogFile timestamp rule also measures times past year 9999, on the
// same scale; every other text reads as the date parser reads it.
TEST(Rule_Time, DifferencesOfTimesPastYear9999) {
    struct Case {
        const char16_t* later;
        const char16_t* earlier;
        std::int64_t difference;
    };
    const Case cases[] = {
        {u"10000-01-01 00:00:00", u"9999-12-31 23:59:59", 1},
        {u"30828-09-14 02:48:05", u"30828-09-14 02:48:00", 5},
        {u"30828-09-14 02:48:05", u"1899-12-30 00:00:00", 912901891685},
        {u"2024-01-01 10:00:00", u"2024-01-01 09:58:59", 61},
        // Not a time: as Seconds_Between reads them (not the date parser's
        // shape, so its type mismatch, 0).
        {u"30828-02-30 00:00:00", u"", 0},            // a field out of range
        {u"09999-12-31 23:59:59", u"", 0},            // not how a year is written
        {u"300828-09-14 02:48:05", u"", 0},
        {u"30828-09-14 02:48:05,", u"", 0},
        {u"2024-01-01 00:00:00", u"2024-02-30 00:00:00", Seconds_Between(u"2024-01-01 00:00:00", u"2024-02-30 00:00:00")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Seconds_Between_Any_Years(c.later, c.earlier), c.difference)
            << platform::Utf16_To_Utf8(c.later) << " - " << platform::Utf16_To_Utf8(c.earlier);

    // Exact to the second for every FILETIME past year 9999, up to the largest.
    constexpr std::uint64_t Ticks = 10'000'000;
    const std::uint64_t first = 2650467744000000000ull;  // 10000-01-01 00:00:00
    for (std::uint64_t ft = first; ft >= first; ft += (UINT64_MAX - first) / 3001 + 7777777) {
        const auto seconds = static_cast<std::int64_t>((ft - first) / Ticks);
        ASSERT_EQ(Seconds_Between_Any_Years(Format_FileTime_Text(ft), u"10000-01-01 00:00:00"), seconds) << ft;
    }
    EXPECT_EQ(Seconds_Between_Any_Years(Format_FileTime_Text(UINT64_MAX), u"10000-01-01 00:00:00"),
              static_cast<std::int64_t>((UINT64_MAX - first) / Ticks));
}

TEST(Rule_Ratio, SinglePrecisionAgainstDoubleBounds) {
    struct Case {
        std::uint64_t a, b;
        double bound;
        bool at_least, at_most, above, below;
    };
    const Case cases[] = {
        {7, 10, 0.7, false, true, false, true},   // 0.7f lies just below 0.7
        {3, 10, 0.3, true, false, true, false},   // 0.3f lies just above 0.3
        {4, 10, 0.4, true, false, true, false},
        {13, 20, 0.65, false, true, false, true},  // 0.65f lies just below 0.65
        {14, 20, 0.65, true, false, true, false},
        {1, 2, 0.5, true, true, false, false},     // exact
        {0, 5, 0.0, true, true, false, false},
        {5, 0, 0.5, false, false, false, false},   // no ratio passes no test
        {0, 0, 0.0, false, false, false, false},
    };
    for (const Case& c : cases) {
        const std::optional<float> r = Single_Ratio(c.a, c.b);
        EXPECT_EQ(Ratio_At_Least(r, c.bound), c.at_least) << c.a << "/" << c.b;
        EXPECT_EQ(Ratio_At_Most(r, c.bound), c.at_most) << c.a << "/" << c.b;
        EXPECT_EQ(Ratio_Above(r, c.bound), c.above) << c.a << "/" << c.b;
        EXPECT_EQ(Ratio_Below(r, c.bound), c.below) << c.a << "/" << c.b;
    }
    // Each operand is narrowed on its own: float(2^24 + 1) is 2^24.
    EXPECT_EQ(Single_Ratio(16777217ull, 16777216ull), 1.0f);
    EXPECT_EQ(Single_Ratio(3.0, 2u), 1.5f);  // an average of a double sum
    EXPECT_EQ(Single_Ratio(1u, 0.0), std::nullopt);
}
