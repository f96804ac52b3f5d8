// A $FILE_NAME attribute added to a FILE record: NTFS renames and moves a
// file by removing its old $FILE_NAME and adding the new one, so the new name
// is paired with the removal logged just before it for the same FILE record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/logfile/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/LogFile_Analysis_Update.h"

namespace {

// The data is the resident $FILE_NAME attribute, from its type field.
namespace F = File_Name_Layout;

// The removal is looked for among the newest rows only: after this many
// rows of other kinds the pairing gives up.
constexpr std::size_t Pairing_Reach = 9;

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
            cur.Event = u"Temp Event";
            return Case_Outcome::Done;
        }
        const _log_info& old = rows[rows.size() - 1 - k];
        if (Log_Operation{old.Redo_Operation} != Log_Operation::Delete_Attribute || old.TargetVCN != cur.TargetVCN ||
            old.MFT_ClusterIndex != cur.MFT_ClusterIndex)
            continue;

        if (cur.ParentReference == old.ParentReference) {
            cur.Detail = old.FileName + u" -> " + cur.FileName;
            cur.Event = cur.FileAttribute == u"Directory" ? u"Renaming Directory" : u"Renaming File";
        } else {
            // The stored row of the old name shows where the file came from;
            // its copy in memory stays a placeholder for later look-backs.
            _log_info before = old;
            before.Event = u"Move(Before)";
            if (!Update_Earlier_Row(a.Db, Row_Update::Event, before)) return Case_Outcome::Update_Failed;
            cur.Event = u"Move(After)";
        }
        cur.MFT_RecordVCN = old.MFT_RecordVCN;
        cur.MFT_RecordClusterIndex = old.MFT_RecordClusterIndex;
        return Case_Outcome::Done;
    }
    return Case_Outcome::Done;
}
