// The evidence a file's folder gives that its $SI times were copied from
// another file: a sibling in the $MFT whose times the file's own equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "detection/usnjrnl/UsnJrnl_Timestamp_Indexes.h"
#include "output/Time_Text.h"
#include "records/Records.h"

struct Sibling_Evidence {
    bool Same_As = false;
    bool Same_Modified = false;
    std::u16string Text;
};

// How a tracked sibling disqualifies itself as evidence: its creation record
// disagrees with its $SI creation time, or it is tracked at all.
enum class Tracked_Sibling_Test { Mismatch, Any };

// Which steps of a sibling scan apply beyond the same-times match.
struct Sibling_Scan_Steps {
    // A sibling with the same modified time alone is also taken.
    bool Modified_Step = false;
    // The scan serves the creation branch, where such a sibling is evidence
    // of its own.
    bool Creation_Branch = false;
};

class Sibling_Evidence_Finder {
public:
    Sibling_Evidence_Finder(const UsnJrnl_Detection_State& context, UsnJrnl_Timestamp_Indexes& indexes);

    // Looks among the files of the entry's folder for one whose $SI times
    // the file's own equal. `both_format` holds "%s" where the sibling's
    // name goes; `steps` says whether a sibling with the same modified time
    // alone is also taken (`Tm`, the file's modified time text, goes in its
    // text) and whether that is evidence of its own.
    Sibling_Evidence Scan(std::size_t index, const _usnjrnl_basic_info_changed_last_event_time& entry,
                          const _ENTRYINFO_2& own, Tracked_Sibling_Test test, const std::u16string& both_format,
                          Sibling_Scan_Steps steps, const std::u16string& Tm);

private:
    const std::vector<const _ENTRYINFO_2*>& Siblings_Modified_At(std::uint64_t parent, std::uint64_t modified);
    bool Tracked_Sibling_Fails(std::size_t index, const _ENTRYINFO_2& sibling, std::uint64_t parent,
                               Tracked_Sibling_Test test);

    const UsnJrnl_Detection_State& context_;
    const UsnJrnl_Info_Rows& rows_;
    UsnJrnl_Timestamp_Indexes& indexes_;
    Shifted_Time_Text_Maker time_text_;
    std::unordered_map<std::uint64_t, std::unordered_map<std::uint64_t, std::vector<const _ENTRYINFO_2*>>>
        siblings_by_modified_;
};
