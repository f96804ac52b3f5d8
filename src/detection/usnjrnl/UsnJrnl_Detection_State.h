// The working state of the $UsnJrnl half of the detection, beside the inputs
// and the findings list it shares with the $LogFile half. The per-record
// pass, the update periods and the journal's timestamp rules keep their
// working objects here: groups, periods and maps hold record indices into
// g_UsnJrnl_Info_Array and file ids, never copies of records.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "detection/Detection_Shared.h"
#include "detection/Program_State.h"
#include "detection/usnjrnl/UsnJrnl_Facts.h"
#include "detection/usnjrnl/UsnJrnl_Working_Objects.h"
#include "records/Records.h"

// The shared part is a virtual base, so that the detection's context, made of
// this state and the $LogFile half's, holds it once.
struct UsnJrnl_Detection_State : virtual Detection_Shared {
    explicit UsnJrnl_Detection_State(Program_State& state) : Detection_Shared(state) {}

    // Each record's time, references, reason words and attributes, read once
    // when the per-record pass starts (Read_UsnJrnl_Facts).
    std::unique_ptr<UsnJrnl_Facts> UsnJrnl_Record_Facts;

    // The records of each program folder under an update path, in the order
    // the folders were first met, and each folder's group by its key.
    std::vector<std::unique_ptr<Program_Operation_Candidate_Group>> Program_Operation_Candidate_Group_Array;
    // Views of the groups' own keys.
    std::unordered_map<std::u16string_view, std::size_t> Program_Group_Of_Key;
    // One period group per candidate group, in the same order (so the key map
    // finds both).
    std::vector<std::unique_ptr<Program_Update_Period_Group>> Program_Update_Period_Group_Array;

    // The lifecycle maps, made with the per-record pass. File references
    // are the FileReferenceNumber texts read as hexadecimal (file numbers);
    // names and parents are the FileName and ParentFileReferenceNumber texts.
    // The first record holding "File_Created" of each file (a later one
    // under the same reference is never looked up).
    First_Creation_Map g_File_Created_Map;
    // Every record holding "File_Renamed_New" of each file.
    Sparse_Record_Lists g_File_Renamed_New_Map;
    // Every record holding "File_Deleted", and every one holding
    // "File_Renamed_Old", by name and parent.
    UsnJrnl_Name_Parent_Map g_File_Deleted_Map;
    UsnJrnl_Name_Parent_Map g_File_Renamed_Old_Map;

    // The tracked "Basic_Info_Changed" entries in the order made. An entry
    // dropped when its file is deleted stays in its place, marked Removed,
    // so the others keep their order; Basic_Info_Changed_Of_File finds the
    // live entry of a file (there is at most one) by its id, as index + 1
    // (0: none).
    platform::Large_Vector<_usnjrnl_basic_info_changed_last_event_time> g_Basic_Info_Changed_Array;
    Event_Time_Lists Basic_Info_Changed_Event_Times;
    Index_Array Basic_Info_Changed_Of_File;
    // Each file's records (by FileReferenceNumber id), so that a look-back
    // visits only the file's own records; made when a rule first needs it
    // (Records_By_File).
    std::unique_ptr<Record_Lists> UsnJrnl_Records_By_File;
    // The records that may close a change of times, and for each where the
    // tracking's look-backs over 1 s and 2 s end; for the per-record pass.
    Index_Array Pairing_Candidates;
    Index_Array Pairing_Window_Start_1s;
    Index_Array Pairing_Window_Start_2s;

    // Files and directories below the program folder being counted.
    std::uint64_t g_File_Count = 0;
    std::uint64_t g_Directory_Count = 0;
};
