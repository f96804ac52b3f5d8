#include "detection/Detection_Shared.h"

Detection_Shared::Detection_Shared(Program_State& state)
    : g_Log_Info_Array(state.g_Log_Info_Array),
      g_UsnJrnl_Info_Array(state.g_UsnJrnl_Info_Array),
      g_Installation_Signature_Array(state.g_Installation_Signature_Array),
      g_Execution_Signature_Array(state.g_Execution_Signature_Array),
      g_Trace_Signature_Array(state.g_Trace_Signature_Array),
      g_Update_Path_Signature_Array(state.g_Update_Path_Signature_Array),
      g_Key_Temp_Path_Array(state.g_Key_Temp_Path_Array),
      g_Parsing_Context(state.g_Parsing_Context),
      g_Detection_Overview_Array(state.g_Detection_Overview_Array) {}
