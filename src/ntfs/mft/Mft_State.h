// The part of the parsing state that the $MFT reader owns and the other
// readers look names, paths and times up in.
#pragma once

#include <string>

#include "ntfs/mft/Mft_Index.h"

struct Mft_State {
    // The $MFT index (by reference, entry number, record LSN and parent),
    // built once by Parse_MFT and kept across carved files.
    Mft_Index Mft;
    // Result of the last Build_Full_Path call.
    std::u16string Full_Path;
    // 1 when an $MFT was given but could not be opened.
    int MFT_Unavailable = 0;
    // Creation time of $MFT record 0, not shifted; empty until read.
    std::u16string MFT_Creation_Time;
};
