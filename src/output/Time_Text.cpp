#include "output/Time_Text.h"

#include <cmath>
#include <optional>

#include "platform/text.h"

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (any year).
std::int64_t Days_From_Civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil Civil_From_Days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

bool Is_Leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned Days_In_Month(std::int64_t y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && Is_Leap(y) ? 29 : days[m - 1];
}

// Days from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t Filetime_Epoch_Days = -134774;

// The time text of a day count from 1601-01-01 and a second of that day.
std::u16string Format_Seconds(std::int64_t days, std::int64_t second_of_day) {
    const Civil c = Civil_From_Days(days + Filetime_Epoch_Days);
    return platform::Format(u"%0.4d-%0.2d-%0.2d %0.2d:%0.2d:%0.2d",
                            {static_cast<long long>(c.year), c.month, c.day, static_cast<int>(second_of_day / 3600),
                             static_cast<int>(second_of_day / 60 % 60), static_cast<int>(second_of_day % 60)});
}

struct Fields {
    long long year, month, day, hour, minute, second;
};

// The date and time of day are valid, for a year of any number of digits.
bool Date_And_Time_Valid(const Fields& f) {
    return f.year >= 1 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= Days_In_Month(f.year, static_cast<unsigned>(f.month)) && f.hour >= 0 && f.hour <= 23 &&
           f.minute >= 0 && f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

bool Fields_Valid(const Fields& f) { return f.year <= 9999 && Date_And_Time_Valid(f); }

// The fields of a text of exactly the shape "Y-MM-DD HH:MM:SS" whose year
// has `year_digits` digits; nothing for any other text.
std::optional<Fields> Read_Time_Fields(std::u16string_view text, std::size_t year_digits) {
    // The shape after the year: "-00-00 00:00:00".
    static constexpr std::u16string_view rest = u"-00-00 00:00:00";
    if (text.size() != year_digits + rest.size()) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= u'0' && text[i] <= u'9';
        const char16_t expected = i < year_digits ? u'0' : rest[i - year_digits];
        if (expected == u'0' ? !digit : text[i] != expected) return std::nullopt;
    }
    const auto number = [&](std::size_t first, std::size_t count) {
        long long v = 0;
        for (std::size_t i = first; i < first + count; ++i) v = v * 10 + (text[i] - u'0');
        return v;
    };
    const std::size_t y = year_digits;
    return Fields{number(0, y), number(y + 1, 2), number(y + 4, 2), number(y + 7, 2), number(y + 10, 2),
                  number(y + 13, 2)};
}

// Days from 1899-12-30 to the fields' date.
std::int64_t Days_Since_1899_12_30(const Fields& f) {
    return Days_From_Civil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) -
           Days_From_Civil(1899, 12, 30);
}

long long Second_Of_Day(const Fields& f) { return f.hour * 3600 + f.minute * 60 + f.second; }

}  // namespace

std::u16string Format_FileTime_Text(std::uint64_t filetime) {
    const std::uint64_t seconds = filetime / Ticks_Per_Second;
    return Format_Seconds(static_cast<std::int64_t>(seconds / 86400), static_cast<std::int64_t>(seconds % 86400));
}

std::u16string Shift_Time_String(std::u16string text, int hours) {
    // Only a text of the program's own form moves: a shorter text or one with
    // a non-digit inside a field would otherwise read as a different, valid
    // time (a missing field reads as 0).
    if (text.size() < 19) return text;
    static constexpr std::size_t digit_positions[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    for (const std::size_t i : digit_positions)
        if (text[i] < u'0' || text[i] > u'9') return text;
    const auto piece = [&](long long first, long long count) {
        return platform::Read_Decimal(std::u16string_view(platform::Mid(text, first, count)));
    };
    const Fields f{piece(0, 4), piece(5, 2), piece(8, 2), piece(11, 2), piece(14, 2), piece(17, 2)};
    if (!Fields_Valid(f)) return text;
    const std::int64_t days = Days_From_Civil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) -
                              Filetime_Epoch_Days;
    // Whole seconds are enough: the text carries no fraction.
    std::int64_t total = days * 86400 + f.hour * 3600 + f.minute * 60 + f.second + static_cast<std::int64_t>(hours) * 3600;
    std::int64_t out_days = total >= 0 ? total / 86400 : (total - 86399) / 86400;
    return Format_Seconds(out_days, total - out_days * 86400);
}

Shifted_Time_Text_Maker::Shifted_Time_Text_Maker(int hours)
    : shift_seconds_(static_cast<std::int64_t>(hours) * 3600) {}

const std::u16string& Shifted_Time_Text_Maker::Text(std::uint64_t filetime) {
    // Whole seconds first: the text drops the sub-second ticks, and the shift
    // is whole hours, so cutting before or after the shift is the same.
    const std::int64_t total = static_cast<std::int64_t>(filetime / Ticks_Per_Second) + shift_seconds_;
    const std::int64_t day = total >= 0 ? total / 86400 : (total - 86399) / 86400;
    const std::int64_t second_of_day = total - day * 86400;
    if (!has_day_ || day != day_) {
        has_day_ = true;
        day_ = day;
        const Civil c = Civil_From_Days(day + Filetime_Epoch_Days);
        date_is_short_ = c.year >= 0 && c.year <= 9999;
        if (date_is_short_) {
            text_.assign(u"0000-00-00 00:00:00");
            const auto put = [&](std::size_t at, unsigned value, int digits) {
                for (int i = digits - 1; i >= 0; --i, value /= 10) text_[at + i] = static_cast<char16_t>(u'0' + value % 10);
            };
            put(0, static_cast<unsigned>(c.year), 4);
            put(5, c.month, 2);
            put(8, c.day, 2);
        }
    }
    // A year of more digits, or before year 0: the general formatter, with
    // the widths and signs of "%0.4d".
    if (!date_is_short_) {
        text_ = Format_Seconds(day, second_of_day);
        return text_;
    }
    const auto s = static_cast<unsigned>(second_of_day);
    const unsigned hour = s / 3600, minute = s / 60 % 60, second = s % 60;
    text_[11] = static_cast<char16_t>(u'0' + hour / 10);
    text_[12] = static_cast<char16_t>(u'0' + hour % 10);
    text_[14] = static_cast<char16_t>(u'0' + minute / 10);
    text_[15] = static_cast<char16_t>(u'0' + minute % 10);
    text_[17] = static_cast<char16_t>(u'0' + second / 10);
    text_[18] = static_cast<char16_t>(u'0' + second % 10);
    return text_;
}

double Parse_Time_Text_As_Date(std::u16string_view text) {
    const std::optional<Fields> f = Read_Time_Fields(text, 4);
    if (!f) return Date_Type_Mismatch;
    if (f->year < 100 || !Fields_Valid(*f)) return Date_Out_Of_Range;
    return static_cast<double>(Days_Since_1899_12_30(*f)) + static_cast<double>(Second_Of_Day(*f)) / 86400.0;
}

std::optional<std::int64_t> Past_9999_Time_Text_Seconds(std::u16string_view text) {
    const std::optional<Fields> f = Read_Time_Fields(text, 5);
    if (!f || f->year < 10000 || !Date_And_Time_Valid(*f)) return std::nullopt;
    return Days_Since_1899_12_30(*f) * 86400 + Second_Of_Day(*f);
}

std::int64_t Date_Difference_Seconds(double later, double earlier) {
    return static_cast<std::int64_t>(std::llround((later - earlier) * 86400.0));
}

std::u16string Shifted_FileTime_Text(std::uint64_t filetime, int hours) {
    Shifted_Time_Text_Maker maker(hours);
    return maker.Text(filetime);
}
