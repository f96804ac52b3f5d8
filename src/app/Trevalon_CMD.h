// The command line and the order of a run.
#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// What a run takes from its surroundings; tests replace each part.
struct Run_Environment {
    std::function<std::tm()> Local_Now;           // the wall clock (local time)
    std::function<int()> System_Bias_Minutes;     // standard time-zone bias
    std::ostream* Console = nullptr;              // standard output when null
    std::ostream* Messages = nullptr;             // standard error when null

    static Run_Environment System();
};

// Runs one invocation; `args` holds the program name first. Returns the
// process exit code.
int Run_Main(const std::vector<std::string>& args, const Run_Environment& environment);

void Print_Usage();
