#include "detection/UsnJrnl_Basic_Info_Tracking.h"

// Not built yet: no record is tracked.
void Track_Basic_Info_Changed(Detection_Context& context, std::size_t i) {
    (void)context;
    (void)i;
}
