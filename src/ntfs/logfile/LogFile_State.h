// The part of the parsing state that the $LogFile reader, its analysis and
// the carver own: the page lists of the file being read, and the rows and
// open transactions that the analysis looks back on.
#pragma once

#include <memory>
#include <vector>

#include "ntfs/logfile/analysis/LogFile_Analysis_Row_Index.h"
#include "ntfs/logfile/LogFile_Pages.h"
#include "ntfs/logfile/analysis/Transaction_Log_Group.h"
#include "records/Records.h"

// $LogFile record pages: found by the carving scan of one source file; the
// log's record pages (or the carver's rebuilt normal area) in file order; the
// pages in replay order; the carver's candidate buffer pages; and the buffer
// pages older and newer than the normal area.
struct LogFile_Page_Lists {
    std::vector<_page_info> Scanned_Page_Array;
    std::vector<_page_info> Record_Page_Array;
    std::vector<_page_info> Replay_Page_Array;
    std::vector<_page_info> Carved_Page_Array;
    std::vector<_page_info> Older_Buffer_Page_Array;
    std::vector<_page_info> Newer_Buffer_Page_Array;
    // The runs of the current file while the replay order is built; emptied
    // (the runs deleted) once Replay_Page_Array holds their pages.
    std::vector<std::unique_ptr<Page_Group>> Page_Group_Array;

    // Empties every list and gives its memory back, before the next file.
    void Clear_Page_Lists() {
        std::vector<_page_info>().swap(Scanned_Page_Array);
        std::vector<_page_info>().swap(Record_Page_Array);
        std::vector<_page_info>().swap(Replay_Page_Array);
        std::vector<_page_info>().swap(Carved_Page_Array);
        std::vector<_page_info>().swap(Older_Buffer_Page_Array);
        std::vector<_page_info>().swap(Newer_Buffer_Page_Array);
        std::vector<std::unique_ptr<Page_Group>>().swap(Page_Group_Array);
    }
};

struct LogFile_Analysis_State {
    // A copy of every LogFile row inserted so far, in insertion order
    // (unescaped), for the analysis's look-backs and the EventTime back-fill.
    std::vector<_log_info> LogFile_Row_Array;
    // The analysis's look-ups over LogFile_Row_Array; emptied with it.
    LogFile_Row_Index LogFile_Row_Lookup;

    // The open transactions of the log-record analysis. Kept across carved
    // files: a transaction that never commits stays until the run ends.
    Transaction_Log_Group_List Transaction_Log_Group_Array;
};
