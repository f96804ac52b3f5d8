// The update periods of the programs listed by update path, which tell a
// program's own rewriting of its files from timestamp manipulation.
#pragma once

#include "detection/Detection_Context.h"

// Cuts each program folder's activity into periods at its pauses.
void Build_Program_Periods(Detection_Context& context);
// Counts what each period creates, deletes and changes.
void Index_Period_Events(Detection_Context& context);
