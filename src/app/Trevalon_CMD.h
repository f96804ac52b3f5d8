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
    // Returns once Local_Now has reached its next second (the system's wait
    // when null).
    std::function<void()> Wait_For_Next_Second;
    std::ostream* Console = nullptr;              // standard output when null
    std::ostream* Messages = nullptr;             // standard error when null

    static Run_Environment System();
};

// Exit codes of a run.
inline constexpr int Exit_Success = 0;        // it did all it was asked and wrote all its output
inline constexpr int Exit_Failure = 1;        // something was not done, read or written (its message printed)
inline constexpr int Exit_Option_Error = 2;   // the command line was refused; nothing written

// A database name already taken (by a run earlier in the same second, or a
// planted file) is given up for the next second's name at most this often.
inline constexpr int Max_Database_Name_Waits = 5;

// Runs one invocation; `args` holds the program name first. Returns the
// process exit code.
int Run_Main(const std::vector<std::string>& args, const Run_Environment& environment);

void Print_Usage();
