// The update periods of the programs listed by update path, which tell a
// program's own rewriting of its files from timestamp manipulation, and the
// lifecycle maps of created, renamed and deleted files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "detection/usnjrnl/UsnJrnl_Detection_State.h"

// The first update path of the signatures that `full_path` lies under;
// nullptr when there is none.
const _program_update_path_info* Update_Path_Of(const UsnJrnl_Detection_State& context, std::u16string_view full_path);

// Step of the per-record pass: record i joins the candidate group of its
// program folder when its FullPath lies under an update path.
void Group_By_Update_Path(UsnJrnl_Detection_State& context, std::size_t i);
// The lifecycle maps of the creations, renames and deletions the records
// hold: the first creation of each file before the per-record pass (which
// looks up creations before each record), the others after it.
void Build_Creation_Map(UsnJrnl_Detection_State& context);
void Build_Lifecycle_Maps(UsnJrnl_Detection_State& context);

// Cuts each program folder's activity into periods at its pauses, and counts
// the files and directories below the folder in the $MFT.
void Build_Program_Periods(UsnJrnl_Detection_State& context);
// Counts what each period creates, deletes and changes.
void Index_Period_Events(UsnJrnl_Detection_State& context);

// Adds the files and directories below the directory `reference` to
// g_File_Count and g_Directory_Count, each listing once. Returns 1.
int Count_Entries_Under_Directory(UsnJrnl_Detection_State& context, std::uint64_t reference);
