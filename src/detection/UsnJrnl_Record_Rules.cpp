#include "detection/UsnJrnl_Record_Rules.h"

// Not built yet: no record is tested.
void Detect_UsnJrnl_Record_Rules(Detection_Context& context) { (void)context; }
