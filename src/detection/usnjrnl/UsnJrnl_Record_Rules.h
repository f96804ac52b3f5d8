// The first phase of the $UsnJrnl half: one pass over g_UsnJrnl_Info_Array.
#pragma once

#include "detection/usnjrnl/UsnJrnl_Detection_State.h"

// Applies the per-record rules (system time, installation, execution, wiping,
// trace, document deletion) to each record in USN order and, inside the same
// pass, groups records by update path, tracks "Basic_Info_Changed" records and
// fills the lifecycle maps.
void Detect_UsnJrnl_Record_Rules(UsnJrnl_Detection_State& context);

// Reads every record once into context.UsnJrnl_Record_Facts, unless it has
// been read already.
void Read_UsnJrnl_Facts(UsnJrnl_Detection_State& context);
// Each file's records (context.UsnJrnl_Records_By_File), made at the first
// call after the facts.
const Record_Lists& Records_By_File(UsnJrnl_Detection_State& context);
