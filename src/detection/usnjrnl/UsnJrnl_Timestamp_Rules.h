// The $UsnJrnl timestamp rules over the tracked "Basic_Info_Changed" entries,
// in the order the detection runs them, and the checks they share.
#pragma once

#include <string>

#include "detection/usnjrnl/UsnJrnl_Detection_State.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Indexes.h"

// Gives each tracked entry its gap flags and update period.
void Classify_Basic_Info_Changed_Entries(UsnJrnl_Detection_State& context);
// Judges each tracked entry.
void Detect_UsnJrnl_Timestamp_Manipulation(UsnJrnl_Detection_State& context);
// Releases the candidate groups, the update periods, the record lists and
// the lifecycle maps; the tracked entries stay for the link that follows.
void Free_UsnJrnl_Working_Objects(UsnJrnl_Detection_State& context);
// Ties execution findings of timestamp tools to the file changed right after.
void Link_UsnJrnl_Timestamp_Tool_Execution(UsnJrnl_Detection_State& context);

// 1 when the entry's changes look like part of its program's update period.
int Check_Candidate_Ratios(const _usnjrnl_basic_info_changed_last_event_time& entry);
// 1 when the file took the place of a file of the same name deleted or
// renamed away just before it was created or renamed in.
int Match_UsnJrnl_Records_Within_15s(const UsnJrnl_Detection_State& context,
                                     const _usnjrnl_basic_info_changed_last_event_time& entry);
// 1 when a file of the same base name was deleted from the folder just
// before the last change, the file having been created after its $SI
// creation (Tc) and modified (Tm) times and last changed at its MFT-modified
// time (Tf): a save through a new file.
int Find_UsnJrnl_File_Deleted(const UsnJrnl_Detection_State& context, UsnJrnl_Timestamp_Indexes& indexes,
                              const _usnjrnl_basic_info_changed_last_event_time& entry, const std::u16string& Tc,
                              const std::u16string& Tm, const std::u16string& Tf);
