// Time texts: "YYYY-MM-DD HH:MM:SS" made from a FILETIME (100-ns ticks since
// 1601-01-01 00:00:00 UTC) and moved by whole hours into the run's local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::int64_t Ticks_Per_Second = 10'000'000;
inline constexpr std::int64_t Ticks_Per_Hour = 36'000'000'000;

// The UTC calendar text of a FILETIME; sub-seconds are cut, never rounded.
std::u16string Format_FileTime_Text(std::uint64_t filetime);

// The text of the same instant moved by `hours`. A text that is not a valid
// calendar time of the form "YYYY-MM-DD HH:MM:SS" (shorter, a non-digit in a
// field, a field out of range) is returned unchanged.
std::u16string Shift_Time_String(std::u16string text, int hours);

// The shifted time texts of a run of FILETIMEs, as
// Shift_Time_String(Format_FileTime_Text(t), hours) gives them for every t
// of a year up to 9999, made with integer arithmetic. The FILETIME is moved before it is
// formatted, so a year above 9999 is moved too (written with all its digits)
// and a time moved before 1601 is the real earlier time. The calendar date of
// the last day met is kept: stamps of one day, however many seconds apart,
// cost only the time of day.
class Shifted_Time_Text_Maker {
public:
    explicit Shifted_Time_Text_Maker(int hours);

    // The text of `filetime`; valid until the next call.
    const std::u16string& Text(std::uint64_t filetime);

private:
    std::int64_t shift_seconds_;
    bool has_day_ = false;
    std::int64_t day_ = 0;          // days from 1601-01-01 of the text's date
    bool date_is_short_ = false;    // a year of 0..9999: "YYYY-MM-DD " (11 units)
    std::u16string text_;
};

// Shift_Time_String(Format_FileTime_Text(filetime), hours) for every year up to
// 9999; a year above 9999 is moved too, since the FILETIME is moved first.
std::u16string Shifted_FileTime_Text(std::uint64_t filetime, int hours);

// Reads the program's own time text into days since 1899-12-30 (the scale of
// an OLE date, but linear also before 1899). A text that is not of the shape
// "YYYY-MM-DD HH:MM:SS" gives Date_Type_Mismatch; one of that shape with a
// field out of range (or a year outside 100..9999) gives Date_Out_Of_Range.
inline constexpr double Date_Type_Mismatch = 0.0;
inline constexpr double Date_Out_Of_Range = -1.0;
double Parse_Time_Text_As_Date(std::u16string_view text);

// Whole seconds since 1899-12-30 00:00:00 of a time text whose year has five
// digits ("YYYYY-MM-DD HH:MM:SS", valid fields, a year from 10000 on): how a
// FILETIME past year 9999 is written (the largest one falls in year 60056).
// Nothing for any other text; the date parser above reads those.
std::optional<std::int64_t> Past_9999_Time_Text_Seconds(std::u16string_view text);

// Whole seconds from `earlier` to `later`, rounded to the nearest second.
std::int64_t Date_Difference_Seconds(double later, double earlier);
