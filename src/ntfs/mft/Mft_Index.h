// The $MFT index: every entry name with its parent, looked up by reference,
// entry number, record LSN and parent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/Records.h"

struct Mft_Index {
    std::vector<_ENTRYINFO_2> Entries;

    bool Empty() const { return Entries.empty(); }
};
