// FILE records made and deallocated, directory entries added and removed,
// and $FILE_NAME attributes removed.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ntfs/Run_List.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

namespace A = Attribute_Layout;
namespace S = Standard_Information_Layout;
namespace F = File_Name_Layout;

// The run list of a FILE record image is decoded from a buffer of this many
// bytes, zero-filled past the attribute.
constexpr std::size_t Run_List_Capacity = 4096;

}  // namespace

Case_Outcome Analyze_File_Record_Creation(const Log_Record_Analysis& a) {
    Global_Parsing_Context& context = a.Context;
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;
    const std::int64_t redo_length = a.Header.Redo_Length;
    const bool directory_record =
        (data.Read_U16(Header_Field(File_Record_Layout::Flags)) & File_Record_Layout::Flag_Directory) != 0;
    bool has_standard_information = false;

    // The attributes are walked from where Windows writes the first one.
    for (std::int64_t at = File_Record_Layout::Usual_First_Attribute; at < redo_length;) {
        const Attribute_Type type{data.Read_U32(at + Header_Field(A::Type))};
        const std::uint32_t length = data.Read_U32(at + Header_Field(A::Length));
        if (type == Attribute_Type::End_Marker) break;
        if (type == Attribute_Type::Standard_Information) {
            if (length == 0) break;
            has_standard_information = true;
            cur.CreateTime = Shifted_Time_Text(context, data.Read_U64(at + Content_Field(S::Create_Time)));
            cur.ModifiedTime = Shifted_Time_Text(context, data.Read_U64(at + Content_Field(S::Modified_Time)));
            cur.MFT_ModifiedTime =
                Shifted_Time_Text(context, data.Read_U64(at + Content_Field(S::Mft_Modified_Time)));
            cur.AccessTime = Shifted_Time_Text(context, data.Read_U64(at + Content_Field(S::Access_Time)));
            cur.FileAttribute = File_Attribute_Word(data.Read_U32(at + Content_Field(S::File_Attributes)));
        } else if (type == Attribute_Type::File_Name) {
            if (length == 0) break;
            const std::u16string name =
                data.Read_Utf16(at + Content_Field(F::Name), data.Read_U8(at + Content_Field(F::Name_Length)));
            // A generated short name stands beside the long one; the long one names the file.
            if (!Has_Short_Name_Tail(name)) {
                cur.FileName = name;
                cur.ParentReference = data.Read_U64(at + Content_Field(F::Parent_Reference));
                Apply_Parent_Path_Rule(context, cur.ParentReference, cur.FileName, cur.FullPath);
                cur.Detail.clear();
                cur.EventTime = cur.CreateTime;
                cur.Event = LogFile_Event_Text(Log_Event::File_Creation);
            }
        } else if (type == Attribute_Type::Data) {
            if (length == 0) break;
            if (data.Read_U8(at + Header_Field(A::Non_Resident)) != 1) break;
            const std::uint16_t pairs = data.Read_U16(at + Header_Field(A::Mapping_Pairs_Offset));
            if (pairs == 0) break;
            if (length >= A::Min_Non_Resident_Length) {
                std::array<std::uint8_t, Run_List_Capacity> list{};
                if (pairs < length) {
                    const std::size_t count = std::min<std::size_t>(length - pairs, list.size());
                    data.Copy(at + pairs, std::span<std::uint8_t>(list.data(), count));
                }
                // The whole zero-filled buffer: its zeros end the list.
                const std::u16string runs = Run_List_Text(Decode_Run_List(list));
                if (!runs.empty()) cur.Detail = u"Data Runs(in Volume) : " + runs;
            }
        } else if (type == Attribute_Type::Index_Root) {
            // The view-index metafiles ($Quota, $ObjId, $Reparse, $Secure) carry an
            // index root too, but only a directory's FILE record says it is one.
            if (!Starts_With(cur.FileName, u"$") || directory_record)
                cur.Event = LogFile_Event_Text(Log_Event::Directory_Creation);
        }
        if (length == 0) break;
        at += length;
    }

    // Without a long name the file is named by a $FILE_NAME added later in
    // the same transaction; that record becomes its creation.
    if (cur.FileName.empty() && has_standard_information)
        context.Transaction_Log_Group_Array.Note_Nameless_File_Record(cur, directory_record);

    if (!cur.FileName.empty()) Take_Position_Of_Added_Entry(context, cur);
    return Case_Outcome::Done;
}

void Take_Position_Of_Added_Entry(const Global_Parsing_Context& context, _log_info& cur) {
    // The directory entry added for the new name, a few records earlier,
    // tells where the parent's index lies.
    const std::vector<_log_info>& rows = context.LogFile_Row_Array;
    const std::size_t examined = std::min<std::size_t>(rows.size(), 10);
    for (std::size_t k = 0; k < examined; ++k) {
        const _log_info& row = rows[rows.size() - 1 - k];
        if (Is_Index_Entry_Addition(Log_Operation{row.Redo_Operation}) && row.FileName == cur.FileName) {
            cur.MFT_RecordVCN = row.MFT_RecordVCN;
            cur.MFT_RecordClusterIndex = row.MFT_RecordClusterIndex;
            return;
        }
    }
}

Case_Outcome Analyze_File_Record_Deletion(const Log_Record_Analysis& a) {
    const Transaction_Log_Group* group = a.Context.Transaction_Log_Group_Array.Find(a.Cur.TransactionID);
    if (group == nullptr) return Case_Outcome::Done;
    const _log_info* removed = group->First_Removed_Entry();
    if (removed == nullptr) return Case_Outcome::Done;

    _log_info& cur = a.Cur;
    cur.FileAttribute = removed->FileAttribute;
    const bool directory = cur.FileAttribute == Directory_Attribute_Word;
    cur.Event = LogFile_Event_Text(directory ? Log_Event::Directory_Deletion : Log_Event::File_Deletion);
    cur.FullPath = removed->FullPath;
    cur.FileName = removed->FileName;
    cur.CreateTime = removed->CreateTime;
    cur.ModifiedTime = removed->ModifiedTime;
    cur.MFT_ModifiedTime = removed->MFT_ModifiedTime;
    cur.AccessTime = removed->AccessTime;
    if (removed->AbnormalTimestamp == 1) {
        cur.Detail = u"Abnormal Timestamp";
        if (!removed->AbnormalTime.empty()) cur.Detail += platform::Format(u" (%s)", {removed->AbnormalTime});
    }
    cur.MFT_RecordVCN = removed->MFT_RecordVCN;
    cur.MFT_RecordClusterIndex = removed->MFT_RecordClusterIndex;
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Index_Entry_Removal(const Log_Record_Analysis& a) {
    Global_Parsing_Context& context = a.Context;
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;

    cur.ParentReference = data.Read_U64(Key_Field(F::Parent_Reference));
    // The comparison below takes the unshifted text; the row's is moved before
    // it is formatted, so a year above 9999 is moved too.
    const std::uint64_t created = data.Read_U64(Key_Field(F::Create_Time));
    const std::u16string create_time = Format_FileTime_Text(created);
    cur.CreateTime = Shifted_FileTime_Text(created, context.Hour_Offset);
    cur.ModifiedTime = Shifted_Time_Text(context, data.Read_U64(Key_Field(F::Modified_Time)));
    cur.MFT_ModifiedTime = Shifted_Time_Text(context, data.Read_U64(Key_Field(F::Mft_Modified_Time)));
    cur.AccessTime = Shifted_Time_Text(context, data.Read_U64(Key_Field(F::Access_Time)));

    // A creation time before the volume's own $MFT was made, or (without the
    // $MFT) a time outside this century, is a sign of a forged time stamp.
    cur.AbnormalTimestamp = 0;
    if (!context.MFT_Creation_Time.empty()) {
        if (context.MFT_Creation_Time > create_time) {
            cur.AbnormalTimestamp = 1;
            cur.AbnormalTime = cur.CreateTime;
        }
    } else if (!(Starts_With(cur.CreateTime, u"20") && Starts_With(cur.ModifiedTime, u"20") &&
                 Starts_With(cur.MFT_ModifiedTime, u"20") && Starts_With(cur.AccessTime, u"20"))) {
        cur.AbnormalTimestamp = 1;
        cur.AbnormalTime = create_time;
    }

    cur.FileName = data.Read_Utf16(Key_Field(F::Name), data.Read_U8(Key_Field(F::Name_Length)));
    Apply_Parent_Path_Rule(context, cur.ParentReference, cur.FileName, cur.FullPath);
    Set_MFT_Record_Position(context, cur, cur.ParentReference);
    cur.FileAttribute = File_Attribute_Word(data.Read_U32(Key_Field(F::File_Attributes)));
    if (Has_Short_Name_Tail(cur.FileName)) cur.FileName.clear();
    cur.Event = LogFile_Event_Text(Log_Event::Temp_Event);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Index_Entry_Addition(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;

    cur.ParentReference = data.Read_U64(Key_Field(F::Parent_Reference));
    // These times stay in UTC.
    cur.CreateTime = Format_FileTime_Text(data.Read_U64(Key_Field(F::Create_Time)));
    cur.ModifiedTime = Format_FileTime_Text(data.Read_U64(Key_Field(F::Modified_Time)));
    cur.MFT_ModifiedTime = Format_FileTime_Text(data.Read_U64(Key_Field(F::Mft_Modified_Time)));
    cur.AccessTime = Format_FileTime_Text(data.Read_U64(Key_Field(F::Access_Time)));
    // Entries whose times are not of this century are taken as noise.
    if (!(Starts_With(cur.CreateTime, u"20") && Starts_With(cur.ModifiedTime, u"20") &&
          Starts_With(cur.MFT_ModifiedTime, u"20") && Starts_With(cur.AccessTime, u"20"))) {
        cur.CreateTime.clear();
        cur.ModifiedTime.clear();
        cur.MFT_ModifiedTime.clear();
        cur.AccessTime.clear();
        return Case_Outcome::Done;
    }
    cur.FileName = data.Read_Utf16(Key_Field(F::Name), data.Read_U8(Key_Field(F::Name_Length)));
    Apply_Parent_Path_Rule(a.Context, cur.ParentReference, cur.FileName, cur.FullPath);
    Set_MFT_Record_Position(a.Context, cur, cur.ParentReference);
    cur.Event = LogFile_Event_Text(Log_Event::Temp_Event);
    return Case_Outcome::Done;
}

Case_Outcome Analyze_File_Name_Removal(const Log_Record_Analysis& a) {
    _log_info& cur = a.Cur;
    const _log_info& prev = a.Prev;
    const Client_Data_View& data = a.Data;

    const std::u16string name =
        data.Read_Utf16(Content_Field(F::Name), data.Read_U8(Content_Field(F::Name_Length)));
    if (Is_Short_File_Name(name)) return Case_Outcome::Done;
    cur.FileName = name;
    cur.ParentReference = data.Read_U64(Content_Field(F::Parent_Reference));
    Apply_Parent_Path_Rule(a.Context, cur.ParentReference, cur.FileName, cur.FullPath);
    cur.Event = LogFile_Event_Text(Log_Event::Temp_Event);
    // The directory entry of the old name is removed just before; its
    // position is that of the parent's index.
    const auto prev_is = [&](Log_Operation redo, Log_Operation undo) {
        return Log_Operation{prev.Redo_Operation} == redo && Log_Operation{prev.Undo_Operation} == undo;
    };
    if (prev_is(Log_Operation::Delete_Index_Entry_Allocation, Log_Operation::Add_Index_Entry_Allocation) ||
        prev_is(Log_Operation::Delete_Index_Entry_Root, Log_Operation::Add_Index_Entry_Root))
        cur.MFT_RecordVCN = prev.MFT_RecordVCN;
    cur.MFT_RecordClusterIndex = prev.MFT_RecordClusterIndex;
    return Case_Outcome::Done;
}
