#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"

namespace {

// Sets TZ for the lifetime of the object and puts the previous value back.
class Scoped_Time_Zone {
public:
    explicit Scoped_Time_Zone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~Scoped_Time_Zone() {
        if (previous_) ::setenv("TZ", previous_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    Scoped_Time_Zone(const Scoped_Time_Zone&) = delete;
    Scoped_Time_Zone& operator=(const Scoped_Time_Zone&) = delete;

private:
    std::optional<std::string> previous_;
};

int Utc_Offset_Hours(int bias_minutes) { return -(bias_minutes / 60); }

}  // namespace

// POSIX zone strings need no time-zone database.
TEST(Standard_Bias, IsTheStandardOffsetWithoutDaylightSaving) {
    struct Case {
        const char* zone;
        int bias_minutes;
        int utc_offset;
    };
    const std::vector<Case> cases{
        {"UTC0", 0, 0},
        {"KST-9", -540, 9},
        {"IST-5:30", -330, 5},                          // cut toward zero
        {"EST5EDT,M3.2.0,M11.1.0", 300, -5},            // DST in July does not count
        {"NST3:30NDT,M3.2.0,M11.1.0", 210, -3},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, 10},     // southern: DST in January does not count
    };
    for (const auto& c : cases) {
        Scoped_Time_Zone zone(c.zone);
        for (const int year : {2015, 2024, 2038}) {
            EXPECT_EQ(platform::Standard_Bias_Minutes(year), c.bias_minutes) << c.zone << " " << year;
        }
        EXPECT_EQ(platform::Standard_Bias_Minutes(), c.bias_minutes) << c.zone;
        EXPECT_EQ(Utc_Offset_Hours(platform::Standard_Bias_Minutes()), c.utc_offset) << c.zone;
    }
}

TEST(Local_Time, StampIsStrftimeOfTheGivenTime) {
    std::tm when{};
    when.tm_year = 2015 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 1;
    when.tm_hour = 23;
    when.tm_min = 30;
    when.tm_sec = 5;
    EXPECT_EQ(platform::Format_Local_Time(when, "%Y%m%d%H%M%S"), "20150301233005");
    // Too long for the buffer: nothing rather than a cut text.
    EXPECT_EQ(platform::Format_Local_Time(when, std::string(200, 'x').c_str()), "");
}

TEST(Console, ScopedOutputCapturesBothStreamsAndRestores) {
    std::ostringstream outer_console, outer_messages;
    platform::Scoped_Output outer(outer_console, outer_messages);
    {
        std::ostringstream console, messages;
        platform::Scoped_Output inner(console, messages);
        platform::Console_Write(std::u16string_view(u"[+] caf\u00E9\r\n"));
        platform::Message_Box(u"SQLITE ERROR");
        EXPECT_EQ(console.str(), "[+] caf\xC3\xA9\r\n");
        EXPECT_EQ(messages.str(), "SQLITE ERROR\n");
    }
    platform::Console_Write(std::string_view("after"));
    platform::Message_Box(u"box");
    EXPECT_EQ(outer_console.str(), "after");
    EXPECT_EQ(outer_messages.str(), "box\n");
}
