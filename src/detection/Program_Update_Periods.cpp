#include "detection/Program_Update_Periods.h"

// Not built yet: there are no periods.

void Build_Program_Periods(Detection_Context& context) { (void)context; }

void Index_Period_Events(Detection_Context& context) { (void)context; }
