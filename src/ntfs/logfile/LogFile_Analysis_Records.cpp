// FILE records made and deallocated, directory entries added and removed,
// and $FILE_NAME attributes removed.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ntfs/logfile/LogFile_Analysis.h"
#include "ntfs/logfile/LogFile_Analysis_Cases.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

// A FILE record image as the redo data of "Initialize File Record Segment"
// carries it; its attributes are walked from the first one Windows writes.
namespace File_Image {
constexpr std::int64_t First_Attribute = 0x38;
constexpr std::uint32_t End_Marker = 0xFFFFFFFF;
constexpr std::uint32_t Standard_Information = 0x10, File_Name = 0x30, Data = 0x80, Index_Root = 0x90;
}  // namespace File_Image

// Attribute header and resident contents, from the attribute's start.
namespace Attribute {
constexpr std::int64_t Type = 0x00, Length = 0x04, Non_Resident = 0x08, Mapping_Pairs_Offset = 0x20;
// $STANDARD_INFORMATION (resident, contents at 0x18).
constexpr std::int64_t Si_Create_Time = 0x18, Si_Modified_Time = 0x20, Si_Mft_Modified_Time = 0x28,
                       Si_Access_Time = 0x30, Si_File_Attributes = 0x38;
// $FILE_NAME (resident, contents at 0x18).
constexpr std::int64_t Fn_Parent = 0x18, Fn_File_Attributes = 0x50, Fn_Name_Length = 0x58, Fn_Name = 0x5A;
// The shortest non-resident $DATA header that has room for its sizes.
constexpr std::uint32_t Min_Non_Resident_Length = 0x48;
}  // namespace Attribute

// An index entry of a directory index, whose key is a $FILE_NAME.
namespace Index_Entry {
constexpr std::int64_t Parent = 0x10, Create_Time = 0x18, Modified_Time = 0x20, Mft_Modified_Time = 0x28,
                       Access_Time = 0x30, File_Attributes = 0x48, Name_Length = 0x50, Name = 0x52;
}  // namespace Index_Entry

constexpr std::size_t Run_List_Capacity = 4096;

bool Is_Entry_Addition(const std::u16string& redo) {
    return redo == u"Add Index Entry Allocation" || redo == u"Add Index Entry Root";
}

// Reads `size` bytes (at most 8 count; the rest are skipped) little-endian.
std::uint64_t Read_Unsigned(const std::array<std::uint8_t, Run_List_Capacity>& list, std::size_t at, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size && i < 8; ++i) value |= std::uint64_t{list[at + i]} << (8 * i);
    return value;
}

// The runs of a mapping-pairs list as "cluster(length),cluster(length)...":
// each run's offset is added to the cluster of the run before it. A zero
// header byte, a run without length or offset (a sparse run), or a run that
// does not fit in the list ends it.
std::u16string Decode_Run_List(const std::array<std::uint8_t, Run_List_Capacity>& list) {
    std::u16string text;
    std::uint64_t cluster = 0;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::uint8_t header = list[at];
        const unsigned length_size = header & 0x0F;
        const unsigned offset_size = header >> 4;
        if (length_size == 0 || offset_size == 0) break;
        if (list.size() - at - 1 < std::size_t{length_size} + offset_size) break;
        const std::uint64_t length = Read_Unsigned(list, at + 1, length_size);
        // An offset wider than 8 bytes is out of format: it counts as 0.
        std::uint64_t offset = 0;
        if (offset_size <= 8) {
            offset = Read_Unsigned(list, at + 1 + length_size, offset_size);
            if (offset_size < 8 && (offset >> (8 * offset_size - 1)) & 1) offset |= ~std::uint64_t{0} << (8 * offset_size);
        }
        cluster += offset;
        text += platform::Format(text.empty() ? u"%I64u(%I64u)" : u",%I64u(%I64u)",
                                 {static_cast<unsigned long long>(cluster), static_cast<unsigned long long>(length)});
        at += 1 + length_size + offset_size;
    }
    return text;
}

}  // namespace

Case_Outcome Analyze_File_Record_Creation(const Log_Record_Analysis& a) {
    namespace A = Attribute;
    Global_Parsing_Context& context = a.Context;
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;
    const std::int64_t redo_length = a.Header.Redo_Length;

    for (std::int64_t at = File_Image::First_Attribute; at < redo_length;) {
        const std::uint32_t type = data.Read_U32(at + A::Type);
        const std::uint32_t length = data.Read_U32(at + A::Length);
        if (type == File_Image::End_Marker) break;
        if (type == File_Image::Standard_Information) {
            if (length == 0) break;
            cur.CreateTime = Shifted_Time_Text(context, data.Read_U64(at + A::Si_Create_Time));
            cur.ModifiedTime = Shifted_Time_Text(context, data.Read_U64(at + A::Si_Modified_Time));
            cur.MFT_ModifiedTime = Shifted_Time_Text(context, data.Read_U64(at + A::Si_Mft_Modified_Time));
            cur.AccessTime = Shifted_Time_Text(context, data.Read_U64(at + A::Si_Access_Time));
            cur.FileAttribute = File_Attribute_Word(data.Read_U32(at + A::Si_File_Attributes));
        } else if (type == File_Image::File_Name) {
            if (length == 0) break;
            const std::u16string name = data.Read_Utf16(at + A::Fn_Name, data.Read_U8(at + A::Fn_Name_Length));
            // A generated short name stands beside the long one; the long one names the file.
            if (!Has_Short_Name_Tail(name)) {
                cur.FileName = name;
                cur.ParentReference = data.Read_U64(at + A::Fn_Parent);
                Apply_Parent_Path_Rule(context, cur.ParentReference, cur.FileName, cur.FullPath);
                cur.Detail.clear();
                cur.EventTime = cur.CreateTime;
                cur.Event = u"File Creation";
            }
        } else if (type == File_Image::Data) {
            if (length == 0) break;
            if (data.Read_U8(at + A::Non_Resident) != 1) break;
            const std::uint16_t pairs = data.Read_U16(at + A::Mapping_Pairs_Offset);
            if (pairs == 0) break;
            if (length >= A::Min_Non_Resident_Length) {
                std::array<std::uint8_t, Run_List_Capacity> list{};
                if (pairs < length) {
                    const std::size_t count = std::min<std::size_t>(length - pairs, list.size());
                    data.Copy(at + pairs, std::span<std::uint8_t>(list.data(), count));
                }
                const std::u16string runs = Decode_Run_List(list);
                if (!runs.empty()) cur.Detail = u"Data Runs(in Volume) : " + runs;
            }
        } else if (type == File_Image::Index_Root) {
            if (!Starts_With(cur.FileName, u"$")) cur.Event = u"Directory Creation";
        }
        if (length == 0) break;
        at += length;
    }

    // The directory entry added for the new name, a few records earlier,
    // tells where the parent's index lies.
    if (!cur.FileName.empty()) {
        const std::vector<_log_info>& rows = context.LogFile_Row_Array;
        const std::size_t examined = std::min<std::size_t>(rows.size(), 10);
        for (std::size_t k = 0; k < examined; ++k) {
            const _log_info& row = rows[rows.size() - 1 - k];
            if (Is_Entry_Addition(row.RedoInfo) && row.FileName == cur.FileName) {
                cur.MFT_RecordVCN = row.MFT_RecordVCN;
                cur.MFT_RecordClusterIndex = row.MFT_RecordClusterIndex;
                break;
            }
        }
    }
    return Case_Outcome::Done;
}

Case_Outcome Analyze_File_Record_Deletion(const Log_Record_Analysis& a) {
    const Transaction_Log_Group* group = a.Context.Transaction_Log_Group_Array.Find(a.Cur.TransactionID);
    if (group == nullptr) return Case_Outcome::Done;
    const _log_info* removed = group->First_Removed_Entry();
    if (removed == nullptr) return Case_Outcome::Done;

    _log_info& cur = a.Cur;
    cur.FileAttribute = removed->FileAttribute;
    cur.Event = cur.FileAttribute == u"Directory" ? u"Directory Deletion" : u"File Deletion";
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
    namespace E = Index_Entry;
    Global_Parsing_Context& context = a.Context;
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;

    cur.ParentReference = data.Read_U64(E::Parent);
    // The comparison below takes the unshifted text; the row's is moved before
    // it is formatted, so a year above 9999 is moved too.
    const std::u16string create_time = Format_FileTime_Text(data.Read_U64(E::Create_Time));
    cur.CreateTime = Shifted_FileTime_Text(data.Read_U64(E::Create_Time), context.Hour_Offset);
    cur.ModifiedTime = Shifted_Time_Text(context, data.Read_U64(E::Modified_Time));
    cur.MFT_ModifiedTime = Shifted_Time_Text(context, data.Read_U64(E::Mft_Modified_Time));
    cur.AccessTime = Shifted_Time_Text(context, data.Read_U64(E::Access_Time));

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

    cur.FileName = data.Read_Utf16(E::Name, data.Read_U8(E::Name_Length));
    Apply_Parent_Path_Rule(context, cur.ParentReference, cur.FileName, cur.FullPath);
    Set_MFT_Record_Position(context, cur, cur.ParentReference);
    cur.FileAttribute = File_Attribute_Word(data.Read_U32(E::File_Attributes));
    if (Has_Short_Name_Tail(cur.FileName)) cur.FileName.clear();
    cur.Event = u"Temp Event";
    return Case_Outcome::Done;
}

Case_Outcome Analyze_Index_Entry_Addition(const Log_Record_Analysis& a) {
    namespace E = Index_Entry;
    _log_info& cur = a.Cur;
    const Client_Data_View& data = a.Data;

    cur.ParentReference = data.Read_U64(E::Parent);
    // These times stay in UTC.
    cur.CreateTime = Format_FileTime_Text(data.Read_U64(E::Create_Time));
    cur.ModifiedTime = Format_FileTime_Text(data.Read_U64(E::Modified_Time));
    cur.MFT_ModifiedTime = Format_FileTime_Text(data.Read_U64(E::Mft_Modified_Time));
    cur.AccessTime = Format_FileTime_Text(data.Read_U64(E::Access_Time));
    // Entries whose times are not of this century are taken as noise.
    if (!(Starts_With(cur.CreateTime, u"20") && Starts_With(cur.ModifiedTime, u"20") &&
          Starts_With(cur.MFT_ModifiedTime, u"20") && Starts_With(cur.AccessTime, u"20"))) {
        cur.CreateTime.clear();
        cur.ModifiedTime.clear();
        cur.MFT_ModifiedTime.clear();
        cur.AccessTime.clear();
        return Case_Outcome::Done;
    }
    cur.FileName = data.Read_Utf16(E::Name, data.Read_U8(E::Name_Length));
    Apply_Parent_Path_Rule(a.Context, cur.ParentReference, cur.FileName, cur.FullPath);
    Set_MFT_Record_Position(a.Context, cur, cur.ParentReference);
    cur.Event = u"Temp Event";
    return Case_Outcome::Done;
}

Case_Outcome Analyze_File_Name_Removal(const Log_Record_Analysis& a) {
    namespace A = Attribute;
    _log_info& cur = a.Cur;
    const _log_info& prev = a.Prev;
    const Client_Data_View& data = a.Data;

    const std::u16string name = data.Read_Utf16(A::Fn_Name, data.Read_U8(A::Fn_Name_Length));
    if (Is_Short_File_Name(name)) return Case_Outcome::Done;
    cur.FileName = name;
    cur.ParentReference = data.Read_U64(A::Fn_Parent);
    Apply_Parent_Path_Rule(a.Context, cur.ParentReference, cur.FileName, cur.FullPath);
    cur.Event = u"Temp Event";
    // The directory entry of the old name is removed just before; its
    // position is that of the parent's index.
    if ((prev.RedoInfo == u"Delete Index Entry Allocation" && prev.UndoInfo == u"Add Index Entry Allocation") ||
        (prev.RedoInfo == u"Delete Index Entry Root" && prev.UndoInfo == u"Add Index Entry Root"))
        cur.MFT_RecordVCN = prev.MFT_RecordVCN;
    cur.MFT_RecordClusterIndex = prev.MFT_RecordClusterIndex;
    return Case_Outcome::Done;
}
