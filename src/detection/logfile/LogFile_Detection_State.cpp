#include "detection/logfile/LogFile_Detection_State.h"

#include "detection/logfile/LogFile_Event_Index.h"

LogFile_Detection_State::LogFile_Detection_State(Program_State& state) : Detection_Shared(state) {}

LogFile_Detection_State::~LogFile_Detection_State() = default;
