// The arithmetic that the detection rules share: time texts as whole seconds,
// differences compared the way the rules compare them, and single-precision
// ratios.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

// A time text ("YYYY-MM-DD HH:MM:SS") as whole seconds since 1899-12-30
// 00:00:00 on the date parser's linear scale. A text not of that shape reads
// as 0 and one of that shape with a field out of range (or a year outside
// 100..9999) as -86400: the parser's two failure dates, so that a rule meeting
// such a text measures from the same point as before.
std::int64_t Time_Text_Seconds(std::u16string_view text);

// `later` minus `earlier` in whole seconds; negative when `later` is earlier.
std::int64_t Seconds_Between(std::u16string_view later, std::u16string_view earlier);

// `later` minus `earlier` like Seconds_Between, but a time past year 9999 (a
// FILETIME's text carries all the digits of its year, up to 60056) is read as
// the time it is rather than as the date parser's failure date.
std::int64_t Seconds_Between_Any_Years(std::u16string_view later, std::u16string_view earlier);

// A difference that a rule compares "as unsigned": a negative one counts as
// larger than every bound (As_Unsigned(-1) >= 60 holds, As_Unsigned(-1) < 16
// does not).
constexpr std::uint64_t As_Unsigned(std::int64_t difference) { return static_cast<std::uint64_t>(difference); }

// |difference|, also for the most negative value.
constexpr std::uint64_t Magnitude(std::int64_t difference) {
    return difference < 0 ? 0 - static_cast<std::uint64_t>(difference) : static_cast<std::uint64_t>(difference);
}

// |a - b| of two unsigned numbers (LSN or USN distances in either direction).
constexpr std::uint64_t Distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

// float(a) / float(b): each operand goes to single precision on its own, as
// the rules compute their ratios and averages. No ratio when float(b) is 0.
template <typename A, typename B>
    requires std::is_arithmetic_v<A> && std::is_arithmetic_v<B>
std::optional<float> Single_Ratio(A a, B b) {
    const float divisor = static_cast<float>(b);
    if (divisor == 0.0f) return std::nullopt;
    return static_cast<float>(a) / divisor;
}

// A single-precision ratio against a bound written as a double: the ratio is
// widened, the bound never narrowed, so 7/10 is not at least 0.7 and 3/10 is
// not at most 0.3 (with float bounds both would flip). No ratio passes no
// test. A float bound is refused at compile time.
bool Ratio_At_Least(std::optional<float> ratio, double bound);
bool Ratio_At_Most(std::optional<float> ratio, double bound);
bool Ratio_Above(std::optional<float> ratio, double bound);
bool Ratio_Below(std::optional<float> ratio, double bound);
bool Ratio_At_Least(std::optional<float> ratio, float bound) = delete;
bool Ratio_At_Most(std::optional<float> ratio, float bound) = delete;
bool Ratio_Above(std::optional<float> ratio, float bound) = delete;
bool Ratio_Below(std::optional<float> ratio, float bound) = delete;
