#include "ntfs/logfile/analysis/LogFile_Analysis.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "ntfs/Volume_Geometry.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/mft/Parse_MFT.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

namespace S = Standard_Information_Layout;

// The first four bytes of the client data: an attribute's type or a FILE
// record's signature.
std::uint32_t Leading_Word(const Client_Data_View& data) { return data.Read_U32(0); }

// True when an update that starts at `attribute_offset` changes the
// $STANDARD_INFORMATION value at `field`: Windows logs an update from the
// first byte that changes, so it may start up to two bytes into the value.
bool Starts_In(std::uint16_t attribute_offset, std::size_t field) {
    const std::size_t at = Resident_Field(field);
    return attribute_offset >= at && attribute_offset <= at + 2;
}

// An update of a resident value: content of a resident attribute, or a field
// of $STANDARD_INFORMATION chosen by where the update starts.
Case_Outcome Dispatch_Resident_Update(const Log_Record_Analysis& a) {
    const Log_Record_Header& h = a.Header;
    const std::uint16_t ao = h.Attribute_Offset;
    const std::uint16_t rl = h.Redo_Length;
    // A resident attribute well past the first ones, changed from its content on.
    if (h.Record_Offset >= 0xF8 && ao == Attribute_Layout::Resident_Content) return Analyze_Resident_Content_Write(a);
    // Otherwise only $STANDARD_INFORMATION, the first attribute, counts.
    if (h.Record_Offset != File_Record_Layout::Usual_First_Attribute) return Case_Outcome::Done;
    if (Starts_In(ao, S::Create_Time) && rl >= 8) return Analyze_Creation_Time_Change(a);
    if (Starts_In(ao, S::Modified_Time) && rl >= 8) return Analyze_Modified_Time_Change(a);
    if (Starts_In(ao, S::Mft_Modified_Time) && rl >= 8) return Analyze_MFT_Modified_Time_Change(a);
    if (Starts_In(ao, S::Access_Time) && rl >= 8) return Analyze_Access_Time_Change(a);
    if (ao == Resident_Field(S::File_Attributes) && rl >= 4) return Analyze_Attribute_Change(a);
    return Case_Outcome::Done;
}

// A $FILE_NAME attribute created or deleted whole (the record starts past the
// FILE record header and attributes, the data is the attribute from its type).
bool Is_Whole_File_Name(const Log_Record_Analysis& a) {
    return a.Header.Record_Offset >= 0x98 && a.Header.Attribute_Offset == 0 &&
           Attribute_Type{Leading_Word(a.Data)} == Attribute_Type::File_Name;
}

Case_Outcome Dispatch(const Log_Record_Analysis& a) {
    using Op = Log_Operation;
    const Op redo{a.Header.Redo_Operation};
    const Op undo{a.Header.Undo_Operation};
    const auto is = [&](Op r, Op u) { return redo == r && undo == u; };

    if (is(Op::Initialize_File_Record_Segment, Op::Noop)) {
        if (Leading_Word(a.Data) == File_Record_Layout::Signature_Value) return Analyze_File_Record_Creation(a);
        return Case_Outcome::Done;
    }
    if (is(Op::Deallocate_File_Record_Segment, Op::Initialize_File_Record_Segment))
        return Analyze_File_Record_Deletion(a);
    if (is(Op::Delete_Index_Entry_Allocation, Op::Add_Index_Entry_Allocation) ||
        is(Op::Delete_Index_Entry_Root, Op::Add_Index_Entry_Root))
        return Analyze_Index_Entry_Removal(a);
    if (is(Op::Add_Index_Entry_Allocation, Op::Delete_Index_Entry_Allocation) ||
        is(Op::Add_Index_Entry_Root, Op::Delete_Index_Entry_Root))
        return Analyze_Index_Entry_Addition(a);
    if (is(Op::Update_Resident_Value, Op::Update_Resident_Value)) return Dispatch_Resident_Update(a);
    if (is(Op::Update_Mapping_Pairs, Op::Update_Mapping_Pairs)) {
        // The update starts at the mapping pairs of a non-resident
        // attribute, which begin at 0x40 of its header.
        if (a.Header.Record_Offset > 0xF8 && a.Header.Attribute_Offset == 0x40)
            return Analyze_Nonresident_Content_Write(a);
        return Case_Outcome::Done;
    }
    if (is(Op::Delete_Attribute, Op::Create_Attribute)) {
        if (Is_Whole_File_Name(a)) return Analyze_File_Name_Removal(a);
        return Case_Outcome::Done;
    }
    if (is(Op::Create_Attribute, Op::Delete_Attribute)) {
        if (Is_Whole_File_Name(a)) return Analyze_File_Name_Addition(a);
        return Case_Outcome::Done;
    }
    const bool check_point = Log_Record_Kind_Of(a.Header.Record_Type, a.Header.Redo_Operation) ==
                             Log_Record_Kind::Check_Point;
    a.Cur.Event = check_point ? LogFile_Event_Text(Log_Event::Check_Point) : std::u16string_view();
    return Case_Outcome::Done;
}

}  // namespace

void Analyze_LogFile_Record(Global_Parsing_Context& context, const Log_Record_Header& header, _log_info& cur,
                            const _log_info& prev, const Client_Data_View& data, CppSQLite3DB& db) {
    cur.Event.clear();
    cur.EventTime.clear();
    if (Log_Record_Kind_Of(header.Record_Type, header.Redo_Operation) == Log_Record_Kind::Commit)
        context.Transaction_Log_Group_Array.Commit(cur.TransactionID);

    const Log_Record_Analysis analysis{context, header, cur, prev, data, db};
    if (Dispatch(analysis) == Case_Outcome::Update_Failed) return;

    if (!cur.Event.empty()) context.Transaction_Log_Group_Array.Append(cur);
}

bool Has_Short_Name_Tail(std::u16string_view name) {
    const auto is_tail = [&](std::size_t tilde) {
        return name[tilde] == u'~' && name[tilde + 1] >= u'1' && name[tilde + 1] <= u'9';
    };
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string_view::npos) return dot >= 2 && is_tail(dot - 2);
    return name.size() >= 2 && is_tail(name.size() - 2);
}

bool Is_Short_File_Name(std::u16string_view name) {
    const std::size_t length = name.size();
    if (length == 0) return false;
    const std::size_t p = name.find(u'~');
    if (p == std::u16string_view::npos) return false;
    // A character outside Latin-1 takes two bytes in the OEM code page, so it
    // counts twice towards the 6 (or 3) characters before the tilde.
    std::size_t width = p;
    for (std::size_t i = 0; i < p; ++i)
        if (name[i] > 0xFF) ++width;
    if (width != 3 && width != 6) return false;
    if (length != p + 2) {
        if (length <= p + 2) return false;
        std::size_t dot = 0;  // 0: none found (index 0 is not searched)
        for (std::size_t i = length - 1; i >= 1; --i)
            if (name[i] == u'.') {
                dot = i;
                break;
            }
        if (dot != p + 2) return false;
    }
    return name[p + 1] >= u'1' && name[p + 1] <= u'9';
}

std::u16string File_Attribute_Word(std::uint32_t value) {
    for (const File_Attribute_Words& entry : File_Attribute_Word_Table)
        if (static_cast<std::uint32_t>(entry.Bit) == value) return std::u16string(entry.Log_Alone);
    return u"";
}

std::u16string Shifted_Time_Text(const Global_Parsing_Context& context, std::uint64_t filetime) {
    // The text depends on the whole second and the offset alone, and a log
    // names the same seconds again and again (the four times of a file, the
    // old time of an update that an earlier update set, a directory's times),
    // so recent texts are kept: nine calls in ten on real logs find theirs.
    struct Kept_Text {
        std::uint64_t Second = 0;
        int Hour_Offset = 0;
        bool Filled = false;
        std::u16string Text;
    };
    static thread_local std::array<Kept_Text, 1024> kept;
    const std::uint64_t second = filetime / static_cast<std::uint64_t>(Ticks_Per_Second);
    Kept_Text& slot = kept[(second ^ (second >> 10)) % kept.size()];
    if (!slot.Filled || slot.Second != second || slot.Hour_Offset != context.Hour_Offset) {
        // Moved before it is formatted, so a year above 9999 is moved too.
        slot.Text = Shifted_FileTime_Text(filetime, context.Hour_Offset);
        slot.Second = second;
        slot.Hour_Offset = context.Hour_Offset;
        slot.Filled = true;
    }
    return slot.Text;
}

void Apply_Parent_Path_Rule(Global_Parsing_Context& context, std::uint64_t parent_reference, const std::u16string& name,
                            std::u16string& full_path) {
    // A path longer than Windows can open is left empty, as the $MFT index
    // leaves it: a crafted name or $MFT must not make rows of any length.
    const auto capped = [&full_path](const std::u16string& parent_path, const std::u16string& child) {
        if (parent_path.size() + 1 + child.size() > Mft_Index::Max_Full_Path_Units) {
            full_path.clear();
            return;
        }
        full_path = parent_path + u"\\" + child;
    };
    if (Is_Root_Reference(parent_reference)) {
        capped(u"", name);
        return;
    }
    const _ENTRYINFO_2* parent = context.Mft.Find_Path_Node(parent_reference);
    if (parent == nullptr) return;
    Build_Full_Path(context, parent_reference, parent->Name);
    capped(context.Full_Path, name);
}

void Set_MFT_Record_Position(const Global_Parsing_Context& context, _log_info& record, std::uint64_t reference) {
    // From the volume's own sizes: a directory's modified-time update names
    // its FILE record by target VCN and cluster index, and the look-back
    // that dates the entries in it compares those with this position.
    const Log_Position at = Log_Position_Of_Entry(context.Mft.Geometry(), Entry_Number_Of(reference));
    record.MFT_RecordVCN = platform::Format(u"0x%X", {static_cast<std::uint32_t>(at.Vcn)});
    record.MFT_RecordClusterIndex = at.Cluster_Index;
}
