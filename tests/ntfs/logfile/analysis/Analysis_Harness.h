// Runs log records through Analyze_LogFile_Record against a fresh parsing
// state and an in-memory LogFile table, doing for each what the record walk
// does around the analysis: the header texts and $MFT fields before it, the
// row and its copy after it.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/Parsing_Context.h"
#include "ntfs/logfile/analysis/Client_Data_View.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "output/Event_Tables.h"
#include "platform/text.h"
#include "support/Log_Record_Builder.h"

namespace log_record_test {

class Analysis_Harness {
public:
    Analysis_Harness() {
        db.Open_With_Pragmas(":memory:");
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }

    // Analyses one record (an LSN of 0 is replaced by the next of 100, 200,
    // ...) and returns it as the analysis left it.
    _log_info Run(Log_Record record) {
        next_lsn_ += 100;
        if (record.lsn == 0) record.lsn = next_lsn_;
        const Bytes header = record.Header();
        const Bytes client = record.Client();

        _log_info cur;
        cur.LSN = platform::Format(u"%I64u", {static_cast<unsigned long long>(record.lsn)});
        cur.ThisLSN = record.lsn;
        cur.RecordType = LogFile_Record_Type_Text(record.record_type, record.redo_operation);
        cur.TransactionID = platform::Format(u"0x%X", {record.transaction_id});
        cur.ClusterIndex = platform::Format(u"0x%X", {record.cluster_index});
        cur.TargetVCN = platform::Format(u"0x%X", {static_cast<std::uint32_t>(record.target_vcn)});
        cur.RedoInfo = LogFile_Operation_Name(record.redo_operation);
        cur.UndoInfo = LogFile_Operation_Name(record.undo_operation);
        cur.Redo_Operation = record.redo_operation;
        cur.Undo_Operation = record.undo_operation;
        cur.RedoDataLength = record.redo.size();
        cur.UndoDataLength = record.undo.size();
        cur.MFT_ClusterIndex = record.cluster_index;
        Fill_Mft_Entry_Fields(context, cur);

        Analyze_LogFile_Record(context, *Decode_Log_Record_Header(Byte_View(header.data(), header.size())), cur, prev,
                               Client_Data_View(client, record.Redo_Offset()), db);
        prev = cur;
        if (!cur.FileName.empty() || !cur.Event.empty()) {
            Insert_LogFile_Row(db, cur);
            context.LogFile_Row_Array.push_back(cur);
        }
        return cur;
    }

    std::vector<_log_info> Run_All(const std::vector<Log_Record>& records) {
        std::vector<_log_info> out;
        for (const Log_Record& r : records) out.push_back(Run(r));
        return out;
    }

    // One column of the stored row of `lsn` ("<none>" without such a row).
    std::string Stored(const std::u16string& lsn, const std::string& column) {
        std::string value = "<none>";
        const std::string sql = "select " + column + " from LogFile where LSN=" + platform::Utf16_To_Utf8(lsn);
        sqlite3_exec(
            db.Connection(), sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "NULL";
                return 0;
            },
            &value, nullptr);
        return value;
    }

    // Makes every later update of the LogFile table fail.
    void Refuse_Updates() {
        db.Run_Query(u"create trigger refuse_updates before update on LogFile begin select raise(abort, 'refused'); end");
    }

    const Transaction_Log_Group* Group(std::uint32_t transaction_id) const {
        return context.Transaction_Log_Group_Array.Find(platform::Format(u"0x%X", {transaction_id}));
    }

    Global_Parsing_Context context;
    CppSQLite3DB db;
    _log_info prev;

private:
    std::uint64_t next_lsn_ = 0;
};

// Adds the root and the directories of a small volume to the $MFT index of
// `context`: entries are (entry, sequence, parent reference, name).
struct Mft_Directory {
    std::uint64_t entry;
    std::uint16_t sequence;
    std::uint64_t parent;
    std::u16string name;
};

inline void Index_Directories(Global_Parsing_Context& context, const std::vector<Mft_Directory>& directories) {
    _ENTRYINFO_2 root;
    root.FileReference = Root_Reference;
    root.ParentReference = Root_Reference;
    root.IsDirectory = 1;
    root.Name = u".";
    context.Mft.Add_Entry(root, true);
    for (const Mft_Directory& d : directories) {
        _ENTRYINFO_2 e;
        e.FileReference = Reference(d.entry, d.sequence);
        e.ParentReference = d.parent;
        e.IsDirectory = 1;
        e.Name = d.name;
        context.Mft.Add_Entry(e, true);
    }
    context.Mft.Finish();
}

}  // namespace log_record_test
