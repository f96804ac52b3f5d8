// The command-line options that the carvers and the export read.
#pragma once

#include <string>

struct Run_Options {
    std::string g_Output_Name;       // -p
    int g_LogFile_Carving = 0;       // -g
    int g_Quick_Mode = 0;            // -q
    int g_UsnJrnl_Carving = 0;       // -n
    int g_Carving_Alignment = 8;     // -a
};
