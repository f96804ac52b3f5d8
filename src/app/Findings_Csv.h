// The findings file of the suspicious-behaviour detection.
#pragma once

#include <string>

#include "detection/Program_State.h"
#include "platform/output_file.h"

// Writes every valid finding of g_Detection_Overview_Array to
// <name>_SuspiciousBehaviorDetection_<stamp>.csv in `folder` (under its
// ".partial" name until the folder publishes it), then deletes all findings
// (also when the file cannot be created). False when the file could not be
// created or written to its end.
bool Export_Findings_Csv(Program_State& state, platform::Output_Folder& folder, const std::string& stamp);
// The same into the folder at `folder`, the file renamed to its final name
// once it is written.
bool Export_Findings_Csv(Program_State& state, const std::string& folder, const std::string& stamp);
