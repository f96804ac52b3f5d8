#include "detection/LogFile_Timestamp_Rule.h"

// Not built yet: no event is judged.
void Detect_LogFile_Timestamp_Manipulation(Detection_Context& context, std::size_t i) {
    (void)context;
    (void)i;
}
