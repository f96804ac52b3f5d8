// The file-attribute bits and their words. The $UsnJrnl reader and the $LogFile
// analysis each name the bits in their own words, and their stored rows
// always have: the journal's words keep their historical spellings
// ("Encryted", "N0_Scrub_Data" with a zero, "Repasre_Point"), and the
// analysis's word for a value that is one flag alone differs from its list
// word for one bit ("NotIndexedContent"). Each writer joins the words its own
// way; the readers (the analysis itself, the journal detection) find the
// words they test here, so no side can spell one otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The bits of a file-attribute word (FILE_ATTRIBUTE_*, and the higher bits as
// the log analysis names them).
enum class File_Attribute : std::uint32_t {
    Read_Only = 0x1,
    Hidden = 0x2,
    System = 0x4,
    Directory = 0x10,
    Archive = 0x20,
    Device = 0x40,
    Normal = 0x80,
    Temporary = 0x100,
    Sparse = 0x200,
    Reparse_Point = 0x400,
    Compressed = 0x800,
    Offline = 0x1000,
    Not_Content_Indexed = 0x2000,
    Encrypted = 0x4000,
    Integrity_Stream = 0x8000,
    Virtual = 0x10000,
    No_Scrub_Data = 0x20000,
    Recall_On_Open = 0x40000,
    Pinned = 0x80000,
    Unpinned = 0x100000,
    Open_Reparse_Point = 0x200000,
    Recall_On_Data_Access = 0x400000,
    Session_Aware = 0x800000,
    Posix_Semantics = 0x1000000,
    Delete_On_Close = 0x4000000,
    Sequential_Scan = 0x8000000,
    // In $STANDARD_INFORMATION and $FILE_NAME these two bits say that the
    // FILE record holds a file-name index (a directory) or a view index.
    File_Name_Index = 0x10000000,
    View_Index = 0x20000000,
    Overlapped = 0x40000000,
    Write_Through = 0x80000000,
};

struct File_Attribute_Words {
    File_Attribute Bit;
    // The analysis's word in its list of the set flags.
    std::u16string_view Log_Listed;
    // The analysis's word for a value that is this flag alone; "" for none.
    std::u16string_view Log_Alone;
    // The journal reader's word; "" for none.
    std::u16string_view Journal;
};

// Every bit with a word, lowest first: the order the analysis lists them in.
// The bits 0x8 and 0x2000000 have no word.
inline constexpr std::array<File_Attribute_Words, 30> File_Attribute_Word_Table{{
    {File_Attribute::Read_Only, u"ReadOnly", u"ReadOnly", u"ReadOnly"},
    {File_Attribute::Hidden, u"Hidden", u"Hidden", u"Hidden"},
    {File_Attribute::System, u"System", u"System", u"System"},
    {File_Attribute::Directory, u"Directory", u"", u"Directory"},
    {File_Attribute::Archive, u"Archive", u"Archive", u"Archive"},
    {File_Attribute::Device, u"Device", u"Device", u"Device"},
    {File_Attribute::Normal, u"Normal", u"Normal", u"Normal"},
    {File_Attribute::Temporary, u"Temporary", u"Temporary", u"Temporary"},
    {File_Attribute::Sparse, u"Sparse", u"Sparse", u"Sparse"},
    {File_Attribute::Reparse_Point, u"ReparsePoint", u"ReparsePoint", u"Repasre_Point"},
    {File_Attribute::Compressed, u"Compressed", u"Compressed", u"Compressed"},
    {File_Attribute::Offline, u"Offline", u"Offline", u"Offline"},
    {File_Attribute::Not_Content_Indexed, u"NotContentIndexed", u"NotIndexedContent", u"Not_Content_Indexed"},
    {File_Attribute::Encrypted, u"Encrypted", u"Encrypted", u"Encryted"},
    {File_Attribute::Integrity_Stream, u"IntegrityStream", u"", u"Integrity_Stream"},
    {File_Attribute::Virtual, u"Virtual", u"", u"Virtual"},
    {File_Attribute::No_Scrub_Data, u"NoScrubData", u"", u"N0_Scrub_Data"},
    {File_Attribute::Recall_On_Open, u"RecallOnOpen", u"", u""},
    {File_Attribute::Pinned, u"Pinned", u"", u""},
    {File_Attribute::Unpinned, u"Unpinned", u"", u""},
    {File_Attribute::Open_Reparse_Point, u"OpenReparsePoint", u"", u""},
    {File_Attribute::Recall_On_Data_Access, u"RecallOnDataAccess", u"", u""},
    {File_Attribute::Session_Aware, u"SessionAware", u"", u""},
    {File_Attribute::Posix_Semantics, u"PosixSemantics", u"", u""},
    {File_Attribute::Delete_On_Close, u"DeleteOnClose", u"", u""},
    {File_Attribute::Sequential_Scan, u"SequentialScan", u"", u""},
    {File_Attribute::File_Name_Index, u"Directory", u"Directory", u""},
    {File_Attribute::View_Index, u"IndexView", u"IndexView", u""},
    {File_Attribute::Overlapped, u"Overlapped", u"", u""},
    {File_Attribute::Write_Through, u"WriteThrough", u"", u""},
}};

// The journal reader joins its words in this order, not the bits' order.
inline constexpr std::array<File_Attribute, 17> Journal_File_Attribute_Order{{
    File_Attribute::Archive,
    File_Attribute::Compressed,
    File_Attribute::Device,
    File_Attribute::Directory,
    File_Attribute::Encrypted,
    File_Attribute::Hidden,
    File_Attribute::Integrity_Stream,
    File_Attribute::Normal,
    File_Attribute::Not_Content_Indexed,
    File_Attribute::No_Scrub_Data,
    File_Attribute::Offline,
    File_Attribute::Read_Only,
    File_Attribute::Reparse_Point,
    File_Attribute::Sparse,
    File_Attribute::System,
    File_Attribute::Temporary,
    File_Attribute::Virtual,
}};

constexpr const File_Attribute_Words& File_Attribute_Words_Of(File_Attribute bit) {
    for (const File_Attribute_Words& entry : File_Attribute_Word_Table)
        if (entry.Bit == bit) return entry;
    // Every bit of the enumeration has its row (checked below).
    return File_Attribute_Word_Table[0];
}

// One bit per row, lowest first and every listed word there; the journal's
// order names each bit with a journal word exactly once.
static_assert([] {
    std::uint32_t previous = 0;
    for (const File_Attribute_Words& entry : File_Attribute_Word_Table) {
        const auto bit = static_cast<std::uint32_t>(entry.Bit);
        if ((bit & (bit - 1)) != 0 || bit <= previous || entry.Log_Listed.empty()) return false;
        previous = bit;
    }
    std::size_t journal_words = 0;
    for (const File_Attribute_Words& entry : File_Attribute_Word_Table) {
        if (entry.Journal.empty()) continue;
        ++journal_words;
        std::size_t listed = 0;
        for (const File_Attribute bit : Journal_File_Attribute_Order) listed += bit == entry.Bit ? 1 : 0;
        if (listed != 1) return false;
    }
    return journal_words == Journal_File_Attribute_Order.size();
}());

// The journal reader's word for a bit, and the analysis's word for a value
// that is this bit alone.
constexpr std::u16string_view Journal_File_Attribute_Word(File_Attribute bit) {
    return File_Attribute_Words_Of(bit).Journal;
}
constexpr std::u16string_view Log_File_Attribute_Alone_Word(File_Attribute bit) {
    return File_Attribute_Words_Of(bit).Log_Alone;
}
