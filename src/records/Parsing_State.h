// The program-wide working state. The entry point makes the one instance of
// each object and hands every stage the part it works on, so a test can build
// a fresh state per case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detection/Findings.h"
#include "ntfs/logfile/LogFile_Analysis_Row_Index.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "ntfs/logfile/Transaction_Log_Group.h"
#include "ntfs/mft/Mft_Index.h"
#include "records/Compact_Rows.h"
#include "records/Records.h"

// State shared by the $MFT, $LogFile and $UsnJrnl readers and the carvers.
struct Global_Parsing_Context {
    // The $MFT index (by reference, entry number, record LSN and parent),
    // built once by Parse_MFT and kept across carved files.
    Mft_Index Mft;

    // $LogFile record pages: found by the carving scan of one source file;
    // the log's record pages (or the carver's rebuilt normal area) in file
    // order; the pages in replay order; the carver's candidate buffer pages;
    // and the buffer pages older and newer than the normal area.
    std::vector<_page_info> Scanned_Page_Array;
    std::vector<_page_info> Record_Page_Array;
    std::vector<_page_info> Replay_Page_Array;
    std::vector<_page_info> Carved_Page_Array;
    std::vector<_page_info> Older_Buffer_Page_Array;
    std::vector<_page_info> Newer_Buffer_Page_Array;
    // The runs of the current file while the replay order is built; emptied
    // (the runs deleted) once Replay_Page_Array holds their pages.
    std::vector<std::unique_ptr<Page_Group>> Page_Group_Array;

    // A copy of every LogFile row inserted so far, in insertion order
    // (unescaped), for the analysis's look-backs and the EventTime back-fill.
    std::vector<_log_info> LogFile_Row_Array;
    // The analysis's look-ups over LogFile_Row_Array; emptied with it.
    LogFile_Row_Index LogFile_Row_Lookup;

    // The open transactions of the log-record analysis. Kept across carved
    // files: a transaction that never commits stays until the run ends.
    Transaction_Log_Group_List Transaction_Log_Group_Array;

    // Result of the last Build_Full_Path call.
    std::u16string Full_Path;
    // Hours added to every time text: UTC offset plus 1 with DST.
    int Hour_Offset = 0;
    // 1 when an $MFT was given but could not be opened.
    int MFT_Unavailable = 0;
    // Creation time of $MFT record 0, not shifted; empty until read.
    std::u16string MFT_Creation_Time;
};

// Empties the per-file part of the state before the next carved file; the
// $MFT index, Full_Path, Hour_Offset and MFT_Unavailable stay. Returns 0.
int Reset_Carving_State(Global_Parsing_Context& context);

// The options that the carvers and the export read.
struct Run_Options {
    std::string g_Output_Name;       // -p
    int g_LogFile_Carving = 0;       // -g
    int g_Quick_Mode = 0;            // -q
    int g_UsnJrnl_Carving = 0;       // -n
    int g_Carving_Alignment = 8;     // -a
};

// Everything that lives from the start of a run to its end.
struct Program_State {
    std::vector<_anti_forensic_program_installation_info> g_Installation_Signature_Array;
    std::vector<_anti_forensic_program_execution_info> g_Execution_Signature_Array;
    std::vector<_anti_forensic_program_trace_info> g_Trace_Signature_Array;
    std::vector<_program_update_path_info> g_Update_Path_Signature_Array;
    std::vector<_key_temp_path_info> g_Key_Temp_Path_Array;
    // The reloaded event tables, in LSN and USN order.
    Log_Info_Rows g_Log_Info_Array;
    UsnJrnl_Info_Rows g_UsnJrnl_Info_Array;
    // Whether the export keeps the rows it writes. Nothing reads them when no
    // detection follows, and a large journal would otherwise stay in memory.
    bool Reload_Event_Rows = true;
    // The findings of the detection, one overview per (category, source) in
    // the order first found; emptied once the findings file is written.
    Detection_Overview_List g_Detection_Overview_Array;
    Global_Parsing_Context g_Parsing_Context;
    Run_Options Options;
};
