// Runs the whole program in-process with a pinned clock and time zone and
// captures what it prints.
#pragma once

#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Trevalon_CMD.h"

struct Run_Result {
    int Exit_Code = -1;
    std::string Console;
    std::string Messages;
};

// The pinned local time of every harness run: 2026-12-09 10:11:12.
inline std::tm Pinned_Local_Time() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 10;
    t.tm_min = 11;
    t.tm_sec = 12;
    return t;
}
inline constexpr char Pinned_Stamp[] = "2026-12-09 10-11-12";

// The pinned clock and zone of the harness, writing to `console` and
// `messages`. The clock moves on by a second whenever the run waits for one.
inline Run_Environment Harness_Environment(std::ostream& console, std::ostream& messages, int bias_minutes = -540) {
    Run_Environment environment;
    auto waited = std::make_shared<int>(0);
    environment.Local_Now = [waited] {
        std::tm t = Pinned_Local_Time();
        t.tm_sec += *waited;
        const std::time_t moved = timegm(&t);  // normalised as calendar fields, no zone involved
        gmtime_r(&moved, &t);
        return t;
    };
    environment.Wait_For_Next_Second = [waited] { ++*waited; };
    environment.System_Bias_Minutes = [bias_minutes] { return bias_minutes; };
    environment.Console = &console;
    environment.Messages = &messages;
    return environment;
}

inline Run_Result Run_Program(std::vector<std::string> args, int bias_minutes = -540) {
    args.insert(args.begin(), "Trevalon_CMD");
    std::ostringstream console;
    std::ostringstream messages;
    Run_Result result;
    result.Exit_Code = Run_Main(args, Harness_Environment(console, messages, bias_minutes));
    result.Console = console.str();
    result.Messages = messages.str();
    return result;
}
