#include "detection/UsnJrnl_Timestamp_Rules.h"

// Not built yet: nothing is tracked, so nothing is judged or linked.

void Classify_Basic_Info_Changed_Entries(Detection_Context& context) { (void)context; }

void Detect_UsnJrnl_Timestamp_Manipulation(Detection_Context& context) { (void)context; }

void Free_UsnJrnl_Working_Objects(Detection_Context& context) { (void)context; }

void Link_UsnJrnl_Timestamp_Tool_Execution(Detection_Context& context) { (void)context; }
