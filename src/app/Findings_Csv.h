// The findings file of the suspicious-behaviour detection.
#pragma once

#include <string>

#include "detection/Program_State.h"

// Writes every valid finding of g_Detection_Overview_Array to
// <folder>/<name>_SuspiciousBehaviorDetection_<stamp>.csv, then deletes all
// findings (also when the file cannot be created). False when the file could
// not be created or written to its end.
bool Export_Findings_Csv(Program_State& state, const std::string& folder, const std::string& stamp);
