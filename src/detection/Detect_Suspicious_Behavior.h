// The suspicious-behaviour detection over the reloaded event arrays and the
// loaded signatures; fills g_Detection_Overview_Array.
#pragma once

#include "records/Parsing_State.h"

void Detect_Suspicious_Behavior(Program_State& state);
