// The suspicious-behaviour detection over the reloaded event arrays and the
// loaded signatures; fills g_Detection_Overview_Array.
#pragma once

#include "detection/Detection_Shared.h"
#include "detection/logfile/LogFile_Detection_State.h"
#include "detection/Program_State.h"
#include "detection/usnjrnl/UsnJrnl_Detection_State.h"

// The working state of one detection run, composed of what the halves share
// and the state each half keeps; each half is handed its own part. What the
// detection builds goes when the run ends.
struct Detection_Context : LogFile_Detection_State, UsnJrnl_Detection_State {
    explicit Detection_Context(Program_State& state)
        : Detection_Shared(state), LogFile_Detection_State(state), UsnJrnl_Detection_State(state) {}
};

// The $LogFile half (per-event rules, then the refinement of its timestamp
// findings), then the $UsnJrnl half, each announced on the console and
// closed with "[Done]".
void Detect_Suspicious_Behavior(Program_State& state);
