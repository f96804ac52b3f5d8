// The reason bits of a change-journal record and their words. The journal
// reader writes a record's Event text from this table and the detection reads
// the words back out of the reloaded text: a word spelled otherwise on one
// side would silently match nothing on the other, so both use this one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The USN_REASON_* bits, named as their words. Unscoped inside the namespace,
// so that a rule names a set of them as Bit::A | Bit::B.
namespace Usn_Reason_Bit {
enum Reason : std::uint32_t {
    Data_Overwritten = 0x00000001,
    Data_Added = 0x00000002,
    Data_Truncated = 0x00000004,
    Named_Data_Stream_Overwritten = 0x00000010,
    Named_Data_Stream_Added = 0x00000020,
    Named_Stream_Truncated = 0x00000040,
    File_Created = 0x00000100,
    File_Deleted = 0x00000200,
    Extended_Attr_Changed = 0x00000400,
    Access_Right_Changed = 0x00000800,
    File_Renamed_Old = 0x00001000,
    File_Renamed_New = 0x00002000,
    Content_Indexed_Attr_Changed = 0x00004000,
    Basic_Info_Changed = 0x00008000,
    Hard_Link_Changed = 0x00010000,
    Compression_Changed = 0x00020000,
    Encryption_Changed = 0x00040000,
    Object_ID_Changed = 0x00080000,
    Reparse_Point_Changed = 0x00100000,
    Named_Stream_Changed = 0x00200000,
    Transacted_Changed = 0x00400000,
    Integrity_Changed = 0x00800000,
    // USN_REASON_DESIRED_STORAGE_CLASS_CHANGE: Windows 10 sets it beside the
    // other reasons of a record on tiered storage (6 of 208 records of a live
    // journal carried it), on records that are otherwise what they always were.
    Desired_Storage_Class_Change = 0x01000000,
    File_Closed = 0x80000000,
};
}  // namespace Usn_Reason_Bit

struct Usn_Reason_Word {
    Usn_Reason_Bit::Reason Bit;
    std::u16string_view Word;
};

// Every reason word, in the order the journal reader joins them (not the
// bits' order). Stored rows and the detection depend on these spellings.
inline constexpr std::array<Usn_Reason_Word, 24> Usn_Reason_Words{{
    {Usn_Reason_Bit::File_Created, u"File_Created"},
    {Usn_Reason_Bit::Basic_Info_Changed, u"Basic_Info_Changed"},
    {Usn_Reason_Bit::Compression_Changed, u"Compression_Changed"},
    {Usn_Reason_Bit::Data_Added, u"Data_Added"},
    {Usn_Reason_Bit::Data_Overwritten, u"Data_Overwritten"},
    {Usn_Reason_Bit::Data_Truncated, u"Data_Truncated"},
    {Usn_Reason_Bit::Extended_Attr_Changed, u"Extended_Attr_Changed"},
    {Usn_Reason_Bit::Encryption_Changed, u"Encryption_Changed"},
    {Usn_Reason_Bit::Hard_Link_Changed, u"Hard_Link_Changed"},
    {Usn_Reason_Bit::Content_Indexed_Attr_Changed, u"Content_Indexed_Attr_Changed"},
    {Usn_Reason_Bit::Integrity_Changed, u"Integrity_Changed"},
    {Usn_Reason_Bit::Named_Data_Stream_Added, u"Named_Data_Stream_Added"},
    {Usn_Reason_Bit::Named_Data_Stream_Overwritten, u"Named_Data_Stream_Overwritten"},
    {Usn_Reason_Bit::Named_Stream_Truncated, u"Named_Stream_Truncated"},
    {Usn_Reason_Bit::Object_ID_Changed, u"Object_ID_Changed"},
    {Usn_Reason_Bit::File_Renamed_New, u"File_Renamed_New"},
    {Usn_Reason_Bit::File_Renamed_Old, u"File_Renamed_Old"},
    {Usn_Reason_Bit::Reparse_Point_Changed, u"Reparse_Point_Changed"},
    {Usn_Reason_Bit::Access_Right_Changed, u"Access_Right_Changed"},
    {Usn_Reason_Bit::Named_Stream_Changed, u"Named_Stream_Changed"},
    {Usn_Reason_Bit::Transacted_Changed, u"Transacted_Changed"},
    {Usn_Reason_Bit::Desired_Storage_Class_Change, u"Desired_Storage_Class_Change"},
    {Usn_Reason_Bit::File_Closed, u"File_Closed"},
    {Usn_Reason_Bit::File_Deleted, u"File_Deleted"},
}};

// Each entry one bit, no bit twice.
static_assert([] {
    std::uint32_t seen = 0;
    for (const Usn_Reason_Word& entry : Usn_Reason_Words) {
        const std::uint32_t bit = entry.Bit;
        if (bit == 0 || (bit & (bit - 1)) != 0 || (seen & bit) != 0 || entry.Word.empty()) return false;
        seen |= bit;
    }
    return true;
}());

// The reader joins a record's reason words, and its attribute words, with
// " / "; the export turns every "/" into ",", so the reloaded texts the
// detection reads join them with " , ".
inline constexpr std::u16string_view Usn_Word_Separator = u" / ";
inline constexpr std::u16string_view Usn_Reloaded_Word_Separator = u" , ";

constexpr std::u16string_view Usn_Reason_Word_Of(Usn_Reason_Bit::Reason bit) {
    for (const Usn_Reason_Word& entry : Usn_Reason_Words)
        if (entry.Bit == bit) return entry.Word;
    return {};
}

// Some rules look for a close by a part of its word.
inline constexpr std::u16string_view Usn_Closed_Part = u"Closed";
inline constexpr std::u16string_view Usn_Close_Part = u"Close";
static_assert(Usn_Reason_Word_Of(Usn_Reason_Bit::File_Closed).ends_with(Usn_Closed_Part) &&
              Usn_Closed_Part.starts_with(Usn_Close_Part));
