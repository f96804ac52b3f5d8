#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t Unix_Epoch_Seconds = 11644473600;

std::uint64_t Filetime_Of_Unix(std::int64_t seconds) {
    return static_cast<std::uint64_t>(seconds + Unix_Epoch_Seconds) * Ticks_Per_Second;
}

std::string U8(const std::u16string& text) { return platform::Utf16_To_Utf8(text); }

}  // namespace

TEST(Format_FileTime_Text, CalendarFieldsCutToTheSecond) {
    const std::vector<std::pair<std::uint64_t, std::u16string>> cases{
        {0, u"1601-01-01 00:00:00"},
        {Ticks_Per_Second - 1, u"1601-01-01 00:00:00"},      // cut, not rounded
        {Ticks_Per_Second, u"1601-01-01 00:00:01"},
        {60 * Ticks_Per_Second - 1, u"1601-01-01 00:00:59"},
        {Filetime_Of_Unix(0), u"1970-01-01 00:00:00"},
        {Filetime_Of_Unix(951782400), u"2000-02-29 00:00:00"},  // 2000 is a leap year
        {Filetime_Of_Unix(951782400) - 1, u"2000-02-28 23:59:59"},
        {Filetime_Of_Unix(-2203891200), u"1900-03-01 00:00:00"},
        {Filetime_Of_Unix(-2203891200) - 1, u"1900-02-28 23:59:59"},  // 1900 is not a leap year
        {130697262000000000, u"2015-03-01 23:30:00"},
        {0x7FFFFFFFFFFFFFFF, u"30828-09-14 02:48:05"},
        {UINT64_MAX, u"60056-05-28 05:36:10"},               // all digits of the year
    };
    for (const auto& [filetime, text] : cases) EXPECT_EQ(Format_FileTime_Text(filetime), text) << filetime;
}

TEST(Shift_Time_String, MovesByWholeHours) {
    struct Case {
        const char16_t* text;
        int hours;
        const char16_t* expected;
    };
    const std::vector<Case> cases{
        {u"2015-03-01 23:30:00", 9, u"2015-03-02 08:30:00"},
        {u"2015-03-01 23:30:00", -12, u"2015-03-01 11:30:00"},
        {u"2015-03-01 23:30:00", 0, u"2015-03-01 23:30:00"},
        {u"2016-02-28 20:00:00", 5, u"2016-02-29 01:00:00"},
        {u"2015-12-31 23:00:00", 1, u"2016-01-01 00:00:00"},
        {u"2016-01-01 00:00:00", -1, u"2015-12-31 23:00:00"},
        {u"1900-02-28 23:00:00", 1, u"1900-03-01 00:00:00"},
        {u"2000-02-28 23:00:00", 1, u"2000-02-29 00:00:00"},
        {u"2000-03-01 00:00:00", -1, u"2000-02-29 23:00:00"},
        {u"2100-03-01 00:00:00", -1, u"2100-02-28 23:00:00"},
        {u"1601-01-01 00:00:00", 9, u"1601-01-01 09:00:00"},
        {u"1601-01-01 00:00:00", -5, u"1600-12-31 19:00:00"},  // before the FILETIME epoch
        {u"9999-12-31 23:00:00", 1, u"10000-01-01 00:00:00"},
        {u"0999-06-01 12:00:00", 24, u"0999-06-02 12:00:00"},
        // Separators and whatever follows the seconds are not read.
        {u"2015/03/01T23:30:00.999", 9, u"2015-03-02 08:30:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(Shift_Time_String(c.text, c.hours), c.expected) << U8(c.text);

    EXPECT_EQ(Shift_Time_String(Format_FileTime_Text(0), 9), u"1601-01-01 09:00:00");
    EXPECT_EQ(Shift_Time_String(Format_FileTime_Text(0), -5), u"1600-12-31 19:00:00");
}

TEST(Shift_Time_String, InvalidTextComesBackUnchanged) {
    for (const std::u16string text : {
             u"",
             u"2015-03-01",               // shorter than the form
             u"2015-03-01 23:30",
             u"2015-00-01 00:00:00",
             u"2015-13-01 00:00:00",
             u"2015-03-00 00:00:00",
             u"2015-02-29 00:00:00",
             u"1900-02-29 00:00:00",
             u"2015-04-31 00:00:00",
             u"2015-03-01 24:00:00",
             u"2015-03-01 23:60:00",
             u"2015-03-01 23:30:60",
             u"0000-01-01 00:00:00",
             u"abcd-ef-gh ij:kl:mn",
             u"2015-03-01 2x:30:00",     // a letter inside a field
             u"2015-03-01  3:30:00",     // a blank inside a field
             u"2015-+3-01 03:30:00",
             u"30828-09-14 02:48:05",    // a year of five digits does not fit the form
         }) {
        EXPECT_EQ(Shift_Time_String(text, 9), text) << U8(text);
        EXPECT_EQ(Shift_Time_String(text, -5), text) << U8(text);
    }
}

TEST(Shift_Time_String, ExtremeShiftsStayDefined) {
    EXPECT_FALSE(Shift_Time_String(u"9999-12-31 23:59:59", INT_MAX).empty());
    EXPECT_FALSE(Shift_Time_String(u"1601-01-01 00:00:00", INT_MIN).empty());
    EXPECT_EQ(Shift_Time_String(u"2015-03-01 23:30:00", 24 * 365), u"2016-02-29 23:30:00");
}

// Format then shift must agree with the C library for every instant and offset in use.
TEST(Time_Text, AgreesWithGmtimeOverRandomInstantsAndOffsets) {
    std::mt19937_64 random(20150301);
    std::uniform_int_distribution<std::int64_t> instant(0, 4102444799);  // 1970 .. 2099
    std::uniform_int_distribution<int> offset(-12, 15);
    std::uniform_int_distribution<std::uint64_t> fraction(0, Ticks_Per_Second - 1);
    for (int i = 0; i < 5000; ++i) {
        const std::int64_t t = instant(random);
        const int hours = offset(random);
        const std::u16string shifted = Shift_Time_String(Format_FileTime_Text(Filetime_Of_Unix(t) + fraction(random)), hours);

        const std::time_t moved = static_cast<std::time_t>(t + hours * 3600);
        std::tm fields{};
        ASSERT_NE(gmtime_r(&moved, &fields), nullptr);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &fields);
        ASSERT_EQ(U8(shifted), expected) << "t=" << t << " hours=" << hours;
    }
}

TEST(Parse_Time_Text_As_Date, ShapeAndRange) {
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"1899-12-31 12:00:00"), 1.5);
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"1900-01-01 00:00:00"), 2.0);
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"2015-03-01 00:00:00"), 42064.0);
    // Linear before 1899: the time of day counts forward, as after it.
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"1899-12-29 18:00:00"), -0.25);
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"1601-01-01 00:00:00"), -109205.0);
    EXPECT_DOUBLE_EQ(Parse_Time_Text_As_Date(u"0100-01-01 00:00:00"), -657434.0);
    EXPECT_GT(Parse_Time_Text_As_Date(u"2000-02-29 00:00:00"), 0.0);

    for (const std::u16string text : {u"", u"2015-03-01", u"2015-03-01T23:30:00", u"2015/03/01 23:30:00",
                                      u"2015-03-01 23:30:00 ", u" 2015-03-01 23:30:00", u"2015-3-01 23:30:00 ",
                                      u"+015-03-01 23:30:00", u"10000-01-01 00:00:00", u"2015-03-01 23:30:0x"})
        EXPECT_EQ(Parse_Time_Text_As_Date(text), Date_Type_Mismatch) << U8(text);

    for (const std::u16string text : {u"2015-00-01 00:00:00", u"2015-13-01 00:00:00", u"2015-02-29 00:00:00",
                                      u"1900-02-29 00:00:00", u"2015-01-00 00:00:00", u"2015-01-32 00:00:00",
                                      u"2015-01-01 24:00:00", u"2015-01-01 00:60:00", u"2015-01-01 00:00:60",
                                      u"0099-12-31 23:59:59", u"0000-01-01 00:00:00"})
        EXPECT_EQ(Parse_Time_Text_As_Date(text), Date_Out_Of_Range) << U8(text);
}

TEST(Date_Difference_Seconds, LinearAcrossEveryEraAndRounded) {
    const auto difference = [](const char16_t* later, const char16_t* earlier) {
        return Date_Difference_Seconds(Parse_Time_Text_As_Date(later), Parse_Time_Text_As_Date(earlier));
    };
    EXPECT_EQ(difference(u"1899-12-30 00:00:01", u"1899-12-29 23:59:59"), 2);
    EXPECT_EQ(difference(u"1899-12-29 00:00:10", u"1899-12-28 23:59:50"), 20);
    EXPECT_EQ(difference(u"1601-01-01 00:00:05", u"1601-01-01 00:00:00"), 5);
    EXPECT_EQ(difference(u"1601-01-01 00:00:00", u"1600-12-31 23:59:59"), 1);
    EXPECT_EQ(difference(u"1601-01-01 00:00:00", u"1601-01-01 00:02:00"), -120);
    EXPECT_EQ(difference(u"2015-03-01 23:30:00", u"1601-01-01 00:00:00"), 13069726200);
    EXPECT_EQ(difference(u"2016-01-01 00:00:00", u"2015-01-01 00:00:00"), 365 * 86400);

    // Every whole-second distance survives the double scale, far from 1899 too.
    std::mt19937_64 random(1601);
    std::uniform_int_distribution<std::int64_t> second(0, Unix_Epoch_Seconds + 253402300799 - 1);  // 1601 .. 9999
    std::uniform_int_distribution<std::int64_t> gap(-86400 * 3, 86400 * 3);
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t a = second(random);
        const std::int64_t b = std::max<std::int64_t>(0, a + gap(random));
        const std::u16string ta = Format_FileTime_Text(static_cast<std::uint64_t>(a) * Ticks_Per_Second);
        const std::u16string tb = Format_FileTime_Text(static_cast<std::uint64_t>(b) * Ticks_Per_Second);
        if (ta.size() != 19 || tb.size() != 19) continue;
        ASSERT_EQ(Date_Difference_Seconds(Parse_Time_Text_As_Date(tb), Parse_Time_Text_As_Date(ta)), b - a)
            << U8(ta) << " -> " << U8(tb);
    }

    // To the nearest second.
    const double second_in_days = 1.0 / 86400.0;
    EXPECT_EQ(Date_Difference_Seconds(40000.0 + 0.4 * second_in_days, 40000.0), 0);
    EXPECT_EQ(Date_Difference_Seconds(40000.0 + 0.6 * second_in_days, 40000.0), 1);
    EXPECT_EQ(Date_Difference_Seconds(40000.0, 40000.0 + 0.6 * second_in_days), -1);
    EXPECT_EQ(Date_Difference_Seconds(40000.0, 40000.0 + 0.4 * second_in_days), 0);
    EXPECT_EQ(Date_Difference_Seconds(-1.0, Date_Type_Mismatch), -86400);
}

namespace {

// A UTC calendar time as a FILETIME, through the C++ calendar (any year).
std::uint64_t Filetime_At(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_seconds t = sys_days(std::chrono::year(year) / month / day) + hours(hour) + minutes(minute) +
                          seconds(second);
    return static_cast<std::uint64_t>(t.time_since_epoch().count() + Unix_Epoch_Seconds) * Ticks_Per_Second;
}

}  // namespace

TEST(Shifted_Time_Text_Maker, OneMakerThroughDaysSecondsAndJumps) {
    // Fed in this order to one maker, so the kept day is hit, missed and
    // replaced: each text must be that of its own stamp alone.
    struct Step {
        std::uint64_t filetime;
        const char16_t* text;
    };
    const std::uint64_t eve = Filetime_At(2015, 3, 1, 14, 59, 59);  // 23:59:59 at +9
    const std::vector<Step> plus_nine{
        {eve, u"2015-03-01 23:59:59"},
        {eve + Ticks_Per_Second - 1, u"2015-03-01 23:59:59"},            // the same second, cut
        {eve + Ticks_Per_Second, u"2015-03-02 00:00:00"},                // the day rolls over
        {eve + 2 * Ticks_Per_Second, u"2015-03-02 00:00:01"},            // the kept day
        {eve, u"2015-03-01 23:59:59"},                                   // back to the day before
        {eve + 3600 * Ticks_Per_Second, u"2015-03-02 00:59:59"},
        {Filetime_At(2016, 2, 28, 15, 0, 0), u"2016-02-29 00:00:00"},    // a leap day
        {Filetime_At(2016, 2, 29, 14, 59, 59), u"2016-02-29 23:59:59"},
        {Filetime_At(2016, 2, 29, 15, 0, 0), u"2016-03-01 00:00:00"},
        {Filetime_At(2015, 12, 31, 15, 0, 0), u"2016-01-01 00:00:00"},   // a year rolls over
        {Filetime_At(9999, 12, 31, 14, 59, 59), u"9999-12-31 23:59:59"},
        {Filetime_At(9999, 12, 31, 15, 0, 0), u"10000-01-01 00:00:00"},  // moved past 9999: all digits
        {Filetime_At(9999, 12, 31, 14, 0, 0), u"9999-12-31 23:00:00"},   // and back to four
        {UINT64_MAX, u"60056-05-28 14:36:10"},
        {0, u"1601-01-01 09:00:00"},
        {Ticks_Per_Second - 1, u"1601-01-01 09:00:00"},
    };
    Shifted_Time_Text_Maker plus(9);
    for (const Step& s : plus_nine) EXPECT_EQ(plus.Text(s.filetime), s.text) << s.filetime;

    const std::vector<Step> minus_five{
        {0, u"1600-12-31 19:00:00"},  // before the FILETIME epoch: the real earlier time
        {5 * 3600 * Ticks_Per_Second - 1, u"1600-12-31 23:59:59"},
        {5 * 3600 * Ticks_Per_Second, u"1601-01-01 00:00:00"},
        {Filetime_At(10000, 1, 1, 4, 0, 0), u"9999-12-31 23:00:00"},  // above 9999 moved back into it
        {Filetime_At(10000, 1, 1, 5, 0, 0), u"10000-01-01 00:00:00"},
        {Filetime_At(2020, 7, 31, 12, 34, 56), u"2020-07-31 07:34:56"},
    };
    Shifted_Time_Text_Maker minus(-5);
    for (const Step& s : minus_five) EXPECT_EQ(minus.Text(s.filetime), s.text) << s.filetime;
}

TEST(Shifted_Time_Text_Maker, YearsDownToZeroAndBefore) {
    // 1601-01-01 is 584,754 days after 0000-01-01 (year 0, a leap year).
    const int to_year_zero = -584754 * 24;
    EXPECT_EQ(Shifted_Time_Text_Maker(to_year_zero).Text(0), u"0000-01-01 00:00:00");
    EXPECT_EQ(Shifted_Time_Text_Maker(to_year_zero + 1).Text(0), u"0000-01-01 01:00:00");
    EXPECT_EQ(Shifted_Time_Text_Maker(to_year_zero - 1).Text(0), u"-0001-12-31 23:00:00");
    EXPECT_FALSE(Shifted_Time_Text_Maker(INT_MIN).Text(0).empty());
    EXPECT_FALSE(Shifted_Time_Text_Maker(INT_MAX).Text(UINT64_MAX).empty());
}

// Within years 1601 to 9999 the maker gives what shifting the formatted text
// gives, for stamps that stay in a day, step over days or jump back.
TEST(Shifted_Time_Text_Maker, AgreesWithShiftingTheFormattedText) {
    std::mt19937_64 random(16010101);
    std::uniform_int_distribution<std::uint64_t> start(Ticks_Per_Second * 86400,
                                                        Filetime_At(9999, 12, 30, 0, 0, 0));
    std::uniform_int_distribution<std::uint64_t> small_step(0, 3 * Ticks_Per_Second);
    std::uniform_int_distribution<std::uint64_t> day_step(0, 2 * 86400 * Ticks_Per_Second);
    std::uniform_int_distribution<int> offset(-12, 15);
    std::uniform_int_distribution<int> kind(0, 9);
    for (int run = 0; run < 40; ++run) {
        const int hours = offset(random);
        Shifted_Time_Text_Maker maker(hours);
        std::uint64_t t = start(random);
        for (int i = 0; i < 500; ++i) {
            const int k = kind(random);
            if (k < 6) t += small_step(random);
            else if (k < 8) t += day_step(random);
            else if (k == 8) t -= std::min(t, day_step(random));
            else t = start(random);
            ASSERT_EQ(maker.Text(t), Shift_Time_String(Format_FileTime_Text(t), hours)) << t << " hours " << hours;
        }
    }
}

// The row texts of the log stages move a year above 9999 too, as they move
// every other time of the row; the text shift alone cannot.
TEST(Shifted_FileTime_Text, MovesYearsAboveNineThousandNineHundredNinetyNine) {
    EXPECT_EQ(Shifted_FileTime_Text(0x7FFFFFFFFFFFFFFF, 9), u"30828-09-14 11:48:05");
    EXPECT_EQ(Shift_Time_String(Format_FileTime_Text(0x7FFFFFFFFFFFFFFF), 9), u"30828-09-14 02:48:05");
    EXPECT_EQ(Shifted_FileTime_Text(130697262000000000, -5), u"2015-03-01 18:30:00");
    EXPECT_EQ(Shifted_FileTime_Text(0, -5), u"1600-12-31 19:00:00");
}
