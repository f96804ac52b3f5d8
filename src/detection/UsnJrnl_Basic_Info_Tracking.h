// The tracking step of the per-record pass: the "Basic_Info_Changed" records
// of each file, for the journal's timestamp rules.
#pragma once

#include <cstddef>

#include "detection/Detection_Context.h"

// Makes the look-ups of the tracking; runs when the per-record pass starts,
// after the records' seconds are read.
void Prepare_Basic_Info_Tracking(Detection_Context& context);

// Runs for record i after the system-time rules and before the installation
// rule. A closing "Basic_Info_Changed" record of a file updates the file's
// entry (made at its first such record); it is paired when the change it
// closes lies just before it. A deletion drops the file's entry.
void Track_Basic_Info_Changed(Detection_Context& context, std::size_t i);
