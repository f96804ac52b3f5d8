#include "ntfs/logfile/LogFile_Format.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace {

// "RSTR", update-sequence offset 0x1E, count 9, check-disk LSN 0, system and
// log page size 4096.
constexpr std::array<std::uint8_t, Restart_Page_Layout::Fixed_Header_Size> Restart_Page_Header = {
    'R', 'S', 'T', 'R', 0x1E, 0x00, 0x09, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00};

// "RCRD", update-sequence offset 0x28, count 9.
constexpr std::array<std::uint8_t, Record_Page_Layout::Fixed_Header_Size> Record_Page_Header = {
    'R', 'C', 'R', 'D', 0x28, 0x00, 0x09, 0x00};

bool Starts_With(Byte_View page, std::span<const std::uint8_t> expected) {
    return page.Has(0, expected.size()) && std::memcmp(page.Data(), expected.data(), expected.size()) == 0;
}

bool Has_Sequence_Or_Zero(std::uint64_t lsn, std::uint64_t sequence, unsigned shift) {
    return lsn == 0 || (lsn >> shift) == sequence;
}

// The last-header scan shared by both Find_Last_LSN_In_Page variants.
template <typename Accept>
int Find_Last_Header(std::span<std::uint8_t> page, std::uint64_t sequence_a, std::uint64_t sequence_b, unsigned shift,
                     Accept accept) {
    Apply_Update_Sequence(page);
    const Byte_View view(page.data(), page.size());
    for (const std::uint64_t sequence : {sequence_a, sequence_b}) {
        if (sequence == No_Sequence) continue;
        for (long long o = static_cast<long long>(LogFile_Page_Size - Log_Record_Layout::Client_Data_Start); o >= 0;
             o -= 8) {
            const auto offset = static_cast<std::size_t>(o);
            if (Header_Matches_Sequence(view, offset, sequence, shift) && accept(view, offset)) return 1;
        }
    }
    return 0;
}

// Where the record at `offset` ends on the page: offset + 0x30 + its client
// data length, in 64 bits so that no length wraps.
std::uint64_t Record_End(Byte_View page, std::size_t offset) {
    return offset + Log_Record_Layout::Client_Data_Start +
           page.Read_U32(offset + Log_Record_Layout::Client_Data_Length).value_or(0);
}

using Op = Log_Operation;

struct Operation_Text {
    Log_Operation Code;
    const char16_t* Text;
};

// Every listed operation and its text, once.
constexpr Operation_Text Operation_Texts[] = {
    {Op::Noop, u"Noop"},
    {Op::Compensation_Log_Record, u"Compensation Log Record"},
    {Op::Initialize_File_Record_Segment, u"Initialize File Record Segment"},
    {Op::Deallocate_File_Record_Segment, u"Deallocate File Record Segment"},
    {Op::Write_End_Of_File_Record_Segment, u"Write End of File Record Segment"},
    {Op::Create_Attribute, u"Create Attribute"},
    {Op::Delete_Attribute, u"Delete Attribute"},
    {Op::Update_Resident_Value, u"Update Resident Value"},
    {Op::Update_Nonresident_Value, u"Update Nonresident Value"},
    {Op::Update_Mapping_Pairs, u"Update Mapping Pairs"},
    {Op::Delete_Dirty_Clusters, u"Delete Dirty Clusters"},
    {Op::Set_New_Attribute_Sizes, u"Set New Attribute Sizes"},
    {Op::Add_Index_Entry_Root, u"Add Index Entry Root"},
    {Op::Delete_Index_Entry_Root, u"Delete Index Entry Root"},
    {Op::Add_Index_Entry_Allocation, u"Add Index Entry Allocation"},
    {Op::Delete_Index_Entry_Allocation, u"Delete Index Entry Allocation"},
    {Op::Set_Index_Entry_Vcn_Allocation, u"Set Index Entry VCN Allocation"},
    {Op::Update_File_Name_Root, u"Update File Name Root"},
    {Op::Update_File_Name_Allocation, u"Update File Name Allocation"},
    {Op::Set_Bits_In_Nonresident_Bit_Map, u"Set Bits In Nonresident Bit Map"},
    {Op::Clear_Bits_In_Nonresident_Bit_Map, u"Clear Bits In Nonresident Bit Map"},
    {Op::Prepare_Transaction, u"Prepare Transaction"},
    {Op::Commit_Transaction, u"Commit Transaction"},
    {Op::Forget_Transaction, u"Forget Transaction"},
    {Op::Open_Nonresident_Attribute, u"OpenNonresidentAttribute"},
    {Op::Dirty_Page_Table_Dump, u"Dirty Page Table Dump"},
    {Op::Transaction_Table_Dump, u"Transaction Table Dump"},
    {Op::Update_Record_Data_Root, u"Update Record Data Root"},
};
// In ascending code order, so no code has two texts, and the highest last.
constexpr bool Ascending_Codes() {
    for (std::size_t i = 1; i < std::size(Operation_Texts); ++i)
        if (Operation_Texts[i - 1].Code >= Operation_Texts[i].Code) return false;
    return true;
}
static_assert(Ascending_Codes() && std::size(Operation_Texts) == 28);
constexpr std::size_t Operation_Code_Count = static_cast<std::size_t>(Op::Update_Record_Data_Root) + 1;

// The texts by code, for the look-up of every record; nullptr where a code
// has no text.
constexpr auto Operation_Names = [] {
    std::array<const char16_t*, Operation_Code_Count> names{};
    for (const Operation_Text& entry : Operation_Texts) names[static_cast<std::size_t>(entry.Code)] = entry.Text;
    return names;
}();
static_assert(Operation_Names.size() == Operation_Code_Count);

}  // namespace

std::optional<Restart_Info> Decode_Restart_Page(Byte_View page) {
    namespace L = Restart_Page_Layout;
    if (!Starts_With(page, Restart_Page_Header)) return std::nullopt;
    const auto area = page.Read_U16(L::Restart_Area_Offset);
    const auto minor = page.Read_U16(L::Minor_Version);
    const auto major = page.Read_U16(L::Major_Version);
    if (!area || !minor || !major) return std::nullopt;
    // The restart area must lie inside the page, wherever its offset points.
    const std::size_t limit = std::min(page.Size(), LogFile_Page_Size);
    if (*area > limit || L::Area_Fixed_Size > limit - *area) return std::nullopt;
    const auto bits = page.Read_U32(*area + L::Area_Sequence_Number_Bits);
    const auto size = page.Read_U64(*area + L::Area_File_Size);
    if (!bits || !size || *bits == 0 || *bits > 64) return std::nullopt;
    Restart_Info info;
    info.Major_Version = *major;
    info.Minor_Version = *minor;
    info.Sequence_Number_Bits = *bits;
    info.Lsn_Shift = 64 - *bits;
    info.Log_File_Size = *size;
    return info;
}

std::optional<Log_Record_Header> Decode_Log_Record_Header(Byte_View bytes) {
    namespace L = Log_Record_Layout;
    const auto view = bytes.Sub(0, L::Header_Size);
    if (!view) return std::nullopt;
    // Every field lies inside the Header_Size bytes just checked.
    const auto u16 = [&](std::size_t at) { return *view->Read_U16(at); };
    const auto u32 = [&](std::size_t at) { return *view->Read_U32(at); };
    const auto u64 = [&](std::size_t at) { return *view->Read_U64(at); };
    Log_Record_Header h;
    h.This_Lsn = u64(L::This_Lsn);
    h.Client_Previous_Lsn = u64(L::Client_Previous_Lsn);
    h.Client_Undo_Next_Lsn = u64(L::Client_Undo_Next_Lsn);
    h.Client_Data_Length = u32(L::Client_Data_Length);
    h.Record_Type = u32(L::Record_Type);
    h.Transaction_Id = u32(L::Transaction_Id);
    h.Redo_Operation = u16(L::Redo_Operation);
    h.Undo_Operation = u16(L::Undo_Operation);
    h.Redo_Offset = u16(L::Redo_Offset);
    h.Redo_Length = u16(L::Redo_Length);
    h.Undo_Offset = u16(L::Undo_Offset);
    h.Undo_Length = u16(L::Undo_Length);
    h.Record_Offset = u16(L::Record_Offset);
    h.Attribute_Offset = u16(L::Attribute_Offset);
    h.Cluster_Index = u16(L::Cluster_Index);
    h.Target_Vcn = u64(L::Target_Vcn);
    h.Target_Lcn = u64(L::Target_Lcn);
    return h;
}

bool Is_Record_Page(Byte_View page) { return Starts_With(page, Record_Page_Header); }

_page_info Read_Page_Info(Byte_View page, std::uint64_t page_index, std::uint64_t file_offset) {
    namespace L = Record_Page_Layout;
    _page_info info;
    info.PageIndex = page_index;
    info.LastLSN = page.Read_U64(L::Last_Lsn).value_or(0);
    info.LastEndLSN = page.Read_U64(L::Last_End_Lsn).value_or(0);
    info.PageCount = page.Read_U16(L::Page_Count).value_or(0);
    info.PagePosition = page.Read_U16(L::Page_Position).value_or(0);
    info.FileOffset = file_offset;
    info.FirstPageFlag = 0;
    return info;
}

void Apply_Update_Sequence(std::span<std::uint8_t> page) {
    namespace L = Record_Page_Layout;
    for (std::size_t k = 1; k <= L::Sector_Count; ++k) {
        const std::size_t saved = L::Update_Sequence_Array + 2 * k;
        const std::size_t target = L::Sector_Size * k - 2;
        if (target + 2 > page.size() || saved + 2 > page.size()) break;
        page[target] = page[saved];
        page[target + 1] = page[saved + 1];
    }
}

bool Header_Matches_Sequence(Byte_View page, std::size_t offset, std::uint64_t sequence, unsigned shift) {
    namespace L = Log_Record_Layout;
    if (!page.Has(offset, L::Match_Size)) return false;
    const std::uint64_t this_lsn = *page.Read_U64(offset + L::This_Lsn);
    if ((this_lsn >> shift) != sequence) return false;
    if (!Has_Sequence_Or_Zero(*page.Read_U64(offset + L::Client_Previous_Lsn), sequence, shift)) return false;
    if (!Has_Sequence_Or_Zero(*page.Read_U64(offset + L::Client_Undo_Next_Lsn), sequence, shift)) return false;
    const std::uint32_t type = *page.Read_U32(offset + L::Record_Type);
    return type == L::Client_Record || type == L::Checkpoint_Record;
}

namespace {

int Find_Sequence_From(Byte_View page, std::size_t start, std::uint64_t sequence, unsigned shift) {
    for (std::size_t o = start; o < LogFile_Page_Size; o += 8)
        if (Header_Matches_Sequence(page, o, sequence, shift)) return static_cast<int>(o);
    return 0;
}

}  // namespace

int Find_First_Record_In_Page(Byte_View page, unsigned shift, std::uint64_t lsn) {
    return Find_Sequence_From(page, LogFile_Page_Data_Start, lsn >> shift, shift);
}

int Find_Next_Record_In_Page(Byte_View page, int offset, unsigned shift) {
    const std::uint64_t last_end = page.Read_U64(Record_Page_Layout::Last_End_Lsn).value_or(0);
    if (last_end == 0) return 0;
    const std::size_t start =
        offset >= 65 && offset <= 4095 ? static_cast<std::size_t>(offset) + 8 : LogFile_Page_Data_Start;
    return Find_Sequence_From(page, start, last_end >> shift, shift);
}

int Find_Last_LSN_In_Page(std::span<std::uint8_t> page, std::uint64_t sequence_a, std::uint64_t sequence_b,
                          unsigned shift, std::uint64_t* out) {
    return Find_Last_Header(page, sequence_a, sequence_b, shift, [&](Byte_View view, std::size_t o) {
        const std::uint64_t own = *view.Read_U64(o + Log_Record_Layout::This_Lsn);
        const std::uint64_t end = Record_End(view, o);
        std::uint64_t result = own;
        if (end < LogFile_Page_Size) {
            // The record that follows, when its LSN is on the page and of the same sequence.
            const auto next = view.Read_U64(static_cast<std::size_t>(end));
            if (next && (*next >> shift) == (own >> shift)) result = *next;
        }
        *out = result;
        return true;
    });
}

int Find_Last_LSN_In_Page_Bounded(std::span<std::uint8_t> page, std::uint64_t sequence_a, std::uint64_t sequence_b,
                                  unsigned shift, std::uint64_t* out) {
    return Find_Last_Header(page, sequence_a, sequence_b, shift, [&](Byte_View view, std::size_t o) {
        if (Record_End(view, o) >= LogFile_Page_Size) return false;
        *out = *view.Read_U64(o + Log_Record_Layout::This_Lsn);
        return true;
    });
}

int Compare_Page_Info_By_LSN(const _page_info& a, const _page_info& b) {
    return a.LastLSN < b.LastLSN ? -1 : a.LastLSN > b.LastLSN ? 1 : 0;
}

int Compare_Page_Group_By_LSN(const Page_Group& a, const Page_Group& b) {
    return a.KeyLSN < b.KeyLSN ? -1 : a.KeyLSN > b.KeyLSN ? 1 : 0;
}

std::u16string LogFile_Operation_Name(std::uint16_t code) {
    if (code < std::size(Operation_Names) && Operation_Names[code] != nullptr) return Operation_Names[code];
    return platform::Format(u"0x%x", {code});
}

Log_Record_Kind Log_Record_Kind_Of(std::uint32_t record_type, std::uint16_t redo_operation) {
    if (record_type == Log_Record_Layout::Checkpoint_Record) return Log_Record_Kind::Check_Point;
    if (Log_Operation{redo_operation} == Log_Operation::Forget_Transaction) return Log_Record_Kind::Commit;
    return Log_Record_Kind::Update;
}

std::u16string LogFile_Record_Type_Text(std::uint32_t record_type, std::uint16_t redo_operation) {
    switch (Log_Record_Kind_Of(record_type, redo_operation)) {
        case Log_Record_Kind::Check_Point: return u"Check Point Record";
        case Log_Record_Kind::Commit: return u"Commit Record";
        case Log_Record_Kind::Update: return u"Update Record";
    }
    return u"Update Record";
}
