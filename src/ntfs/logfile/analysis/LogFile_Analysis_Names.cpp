// A $FILE_NAME attribute added to a FILE record: NTFS renames and moves a
// file by removing its old $FILE_NAME and adding the new one, so the new name
// is paired with the removal logged just before it for the same FILE record.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Update.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"

namespace {

// The data is the resident $FILE_NAME attribute, from its type field.
namespace F = File_Name_Layout;

// The removal is looked for among the newest rows only: after this many
// rows of other kinds the pairing gives up.
constexpr std::size_t Pairing_Reach = 9;

// A name that pairs with no removal may be the first name of a file that
// the transaction made without one (Windows 10 makes Explorer's copies so):
// the record is then the file's creation, with the times of the
// initialised FILE record. False when the transaction made no such record.
bool Name_Nameless_Creation(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const std::optional<Transaction_Log_Group_List::Nameless_File_Record> made =
        a.Context.Transaction_Log_Group_Array.Take_Nameless_File_Record(cur.TransactionID, cur.TargetVCN,
                                                                        cur.MFT_ClusterIndex);
    if (!made) return false;
    cur.CreateTime = made->Record.CreateTime;
    cur.ModifiedTime = made->Record.ModifiedTime;
    cur.MFT_ModifiedTime = made->Record.MFT_ModifiedTime;
    cur.AccessTime = made->Record.AccessTime;
    cur.EventTime = cur.CreateTime;
    cur.Detail = made->Record.Detail;
    cur.Event = LogFile_Event_Text(made->Is_Directory ? Log_Event::Directory_Creation : Log_Event::File_Creation);
    Take_Position_Of_Added_Entry(a.Context, cur);
    return true;
}

}  // namespace

Case_Outcome Analyze_File_Name_Addition(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;

    cur.FileAttribute = File_Attribute_Word(data.Read_U32(Content_Field(F::File_Attributes)));
    const std::u16string name =
        data.Read_Utf16(Content_Field(F::Name), data.Read_U8(Content_Field(F::Name_Length)));
    // A DOS name added beside the long one is not a rename of its own.
    if (Is_Short_File_Name(name)) return Case_Outcome::Done;
    cur.FileName = name;
    cur.ParentReference = data.Read_U64(Content_Field(F::Parent_Reference));
    Apply_Parent_Path_Rule(a.Context, cur.ParentReference, cur.FileName, cur.FullPath);

    const std::vector<_log_info>& rows = a.Context.LogFile_Row_Array;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (k == Pairing_Reach) {
            // Rows remain, but none of the newest was the old name.
            if (!Name_Nameless_Creation(a)) cur.Event = LogFile_Event_Text(Log_Event::Temp_Event);
            return Case_Outcome::Done;
        }
        const _log_info& old = rows[rows.size() - 1 - k];
        if (Log_Operation{old.Redo_Operation} != Log_Operation::Delete_Attribute || old.TargetVCN != cur.TargetVCN ||
            old.MFT_ClusterIndex != cur.MFT_ClusterIndex)
            continue;

        if (cur.ParentReference == old.ParentReference) {
            cur.Detail = old.FileName + u" -> " + cur.FileName;
            const bool directory = cur.FileAttribute == Directory_Attribute_Word;
            cur.Event = LogFile_Event_Text(directory ? Log_Event::Renaming_Directory : Log_Event::Renaming_File);
        } else {
            // The stored row of the old name shows where the file came from;
            // its copy in memory stays a placeholder for later look-backs.
            _log_info before = old;
            before.Event = LogFile_Event_Text(Log_Event::Move_Before);
            if (!Update_Earlier_Row(a.Db, Row_Update::Event, before)) return Case_Outcome::Update_Failed;
            cur.Event = LogFile_Event_Text(Log_Event::Move_After);
        }
        cur.MFT_RecordVCN = old.MFT_RecordVCN;
        cur.MFT_RecordClusterIndex = old.MFT_RecordClusterIndex;
        return Case_Outcome::Done;
    }
    Name_Nameless_Creation(a);
    return Case_Outcome::Done;
}
