// The fifth per-event rule of the $LogFile half: backward time changes and
// forward creation-time changes, judged normal or manipulated.
#pragma once

#include <cstddef>

#include "detection/Detection_Context.h"

// Tests event i; normal changes go to g_Normal_Time_Reversal_Array,
// manipulations become "Timestamp Manipulation" findings.
void Detect_LogFile_Timestamp_Manipulation(Detection_Context& context, std::size_t i);
