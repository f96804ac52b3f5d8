// The tracking step of the per-record pass: the "Basic_Info_Changed" records
// of each file, for the journal's timestamp rules.
#pragma once

#include <cstddef>

#include "detection/usnjrnl/UsnJrnl_Detection_State.h"

// Makes the look-ups of the tracking; runs when the per-record pass starts,
// after the records' facts are read.
void Prepare_Basic_Info_Tracking(UsnJrnl_Detection_State& context);

// Runs for record i after the system-time rules and before the installation
// rule. A closing "Basic_Info_Changed" record of a file updates the file's
// entry (made at its first such record); it is paired when the change it
// closes lies just before it. A deletion drops the file's entry.
// `next_candidate` is the tracking's place among the pairing candidates,
// 0 at the first record.
void Track_Basic_Info_Changed(UsnJrnl_Detection_State& context, std::size_t i, std::size_t& next_candidate);

// Frees what only the tracking needed; runs when the per-record pass ends.
void Finish_Basic_Info_Tracking(UsnJrnl_Detection_State& context);
