// The suspicious-behaviour detection over the reloaded event arrays and the
// loaded signatures; fills g_Detection_Overview_Array.
#pragma once

#include "detection/Program_State.h"

// The $LogFile half (per-event rules, then the refinement of its timestamp
// findings), then the $UsnJrnl half, each announced on the console and
// closed with "[Done]".
void Detect_Suspicious_Behavior(Program_State& state);
