// The state shared by the $MFT, $LogFile and $UsnJrnl readers and the
// carvers, composed of the part each reader owns. The entry point makes the
// one instance and hands it to every stage, so a test can build a fresh
// state per case.
#pragma once

#include "ntfs/logfile/LogFile_State.h"
#include "ntfs/mft/Mft_State.h"

struct Global_Parsing_Context : Mft_State, LogFile_Page_Lists, LogFile_Analysis_State {
    // Hours added to every time text: UTC offset plus 1 with DST.
    int Hour_Offset = 0;
};

// Empties the per-file part of the state before the next carved file; the
// $MFT index, Full_Path, Hour_Offset, MFT_Unavailable and the open
// transactions stay. Returns 0.
int Reset_Carving_State(Global_Parsing_Context& context);
