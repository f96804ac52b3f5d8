#include "detection/Detect_Suspicious_Behavior.h"

// No rule is built yet: the detection finds nothing.
void Detect_Suspicious_Behavior(Program_State& state) { (void)state; }
