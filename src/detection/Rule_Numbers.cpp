#include "detection/Rule_Numbers.h"

#include <cmath>

#include "output/Time_Text.h"

namespace {

constexpr double Seconds_Per_Day = 86400.0;

}  // namespace

std::int64_t Time_Text_Seconds(std::u16string_view text) {
    // Days plus a fraction of a day: within 1e-4 s of the whole second for
    // every year up to 9999, so rounding gives it back exactly.
    return static_cast<std::int64_t>(std::llround(Parse_Time_Text_As_Date(text) * Seconds_Per_Day));
}

std::int64_t Seconds_Between(std::u16string_view later, std::u16string_view earlier) {
    return Time_Text_Seconds(later) - Time_Text_Seconds(earlier);
}

std::int64_t Seconds_Between_Any_Years(std::u16string_view later, std::u16string_view earlier) {
    const auto seconds = [](std::u16string_view text) {
        const std::optional<std::int64_t> past_9999 = Past_9999_Time_Text_Seconds(text);
        return past_9999 ? *past_9999 : Time_Text_Seconds(text);
    };
    return seconds(later) - seconds(earlier);
}

bool Ratio_At_Least(std::optional<float> ratio, double bound) { return ratio && static_cast<double>(*ratio) >= bound; }
bool Ratio_At_Most(std::optional<float> ratio, double bound) { return ratio && static_cast<double>(*ratio) <= bound; }
bool Ratio_Above(std::optional<float> ratio, double bound) { return ratio && static_cast<double>(*ratio) > bound; }
bool Ratio_Below(std::optional<float> ratio, double bound) { return ratio && static_cast<double>(*ratio) < bound; }
