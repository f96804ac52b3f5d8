#include <gtest/gtest.h>

#include "ntfs/logfile/LogFile_Format.h"
#include "support/LogFile_Builder.h"

namespace {

using namespace logfile_test;

Byte_View View(const Bytes& b) { return Byte_View(b.data(), b.size()); }

TEST(LogFile_Restart_Page, Decodes_Version_And_Lsn_Layout) {
    Restart_Page_Values values;
    values.major = 2;
    values.minor = 0;
    values.sequence_bits = 43;
    values.log_size = 9043968;
    values.area = 0x40;
    const auto info = Decode_Restart_Page(View(Restart_Page(values)));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Major_Version, 2);
    EXPECT_EQ(info->Minor_Version, 0);
    EXPECT_EQ(info->Sequence_Number_Bits, 43u);
    EXPECT_EQ(info->Lsn_Shift, 21u);
    EXPECT_EQ(info->Log_File_Size, 9043968u);
}

TEST(LogFile_Restart_Page, Refuses_Pages_That_Fail_The_Test) {
    struct Case {
        const char* what;
        void (*change_values)(Restart_Page_Values&);
        void (*change_page)(Bytes&);
    };
    const Case cases[] = {
        {"check-disk LSN not 0", [](Restart_Page_Values& s) { s.check_disk_lsn = 1; }, nullptr},
        {"system page size 8192", [](Restart_Page_Values& s) { s.system_page_size = 8192; }, nullptr},
        {"log page size 512", [](Restart_Page_Values& s) { s.log_page_size = 512; }, nullptr},
        {"0 sequence-number bits", [](Restart_Page_Values& s) { s.sequence_bits = 0; }, nullptr},
        {"65 sequence-number bits", [](Restart_Page_Values& s) { s.sequence_bits = 65; }, nullptr},
        {"update-sequence count 8", nullptr, [](Bytes& p) { Put_U16(p, 0x06, 8); }},
        {"magic RCRD", nullptr, [](Bytes& p) { std::memcpy(p.data(), "RCRD", 4); }},
        {"restart area past the page", nullptr, [](Bytes& p) { Put_U16(p, 0x18, 0xFFF0); }},
        {"restart area cut by the page end", nullptr, [](Bytes& p) { Put_U16(p, 0x18, 4096 - 0x1F); }},
        {"page of 0x2F bytes", nullptr, [](Bytes& p) { p.resize(0x2F); }},
    };
    for (const Case& c : cases) {
        Restart_Page_Values values;
        if (c.change_values) c.change_values(values);
        Bytes page = Restart_Page(values);
        if (c.change_page) c.change_page(page);
        EXPECT_FALSE(Decode_Restart_Page(View(page))) << c.what;
    }
    Restart_Page_Values all_bits;
    all_bits.sequence_bits = 64;
    EXPECT_EQ(Decode_Restart_Page(View(Restart_Page(all_bits)))->Lsn_Shift, 0u);
}

TEST(LogFile_Record_Page, Test_And_Header_Values) {
    Record_Page_Values values{.last_lsn = 0x1122334455, .last_end_lsn = 0x1122334400, .page_count = 3, .page_position = 2};
    Bytes page = Record_Page(values, {});
    EXPECT_TRUE(Is_Record_Page(View(page)));
    const _page_info info = Read_Page_Info(View(page), 7, 0x5000);
    EXPECT_EQ(info.PageIndex, 7u);
    EXPECT_EQ(info.LastLSN, 0x1122334455u);
    EXPECT_EQ(info.LastEndLSN, 0x1122334400u);
    EXPECT_EQ(info.PageCount, 3u);
    EXPECT_EQ(info.PagePosition, 2u);
    EXPECT_EQ(info.FileOffset, 0x5000u);
    EXPECT_EQ(info.FirstPageFlag, 0u);

    Put_U16(page, 0x06, 3);
    EXPECT_FALSE(Is_Record_Page(View(page)));
    Put_U16(page, 0x06, 9);
    Put_U16(page, 0x04, 0x30);
    EXPECT_FALSE(Is_Record_Page(View(page)));
    EXPECT_FALSE(Is_Record_Page(View(Bytes{'R', 'C', 'R', 'D', 0x28, 0x00, 0x09})));
}

TEST(LogFile_Update_Sequence, Restores_Every_Sector_End_Within_The_Buffer) {
    Bytes data(4096 - 0x40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Bytes page = Record_Page({.update_sequence_number = 0xBEEF}, data);
    EXPECT_EQ(page[510], 0xEF);
    Apply_Update_Sequence(page);
    for (std::size_t k = 1; k <= 8; ++k) {
        EXPECT_EQ(page[512 * k - 2], data[512 * k - 2 - 0x40]) << "sector " << k;
        EXPECT_EQ(page[512 * k - 1], data[512 * k - 1 - 0x40]) << "sector " << k;
    }
    // A buffer holding fewer sectors is fixed up only as far as it reaches.
    Bytes short_page = Record_Page({.update_sequence_number = 0xBEEF}, data);
    short_page.resize(1000);
    Apply_Update_Sequence(short_page);
    EXPECT_EQ(short_page[510], data[510 - 0x40]);
}

// A page with the header of `record` at `offset` (no update sequence, as
// after the fix-up).
Bytes Page_With_Header(std::size_t offset, const Log_Record& record, std::uint64_t last_end_lsn = 0) {
    Bytes page(4096, 0);
    Put_U64(page, 0x20, last_end_lsn);
    const Bytes b = record.Encode();
    std::copy_n(b.begin(), std::min(b.size(), page.size() - offset), page.begin() + static_cast<std::ptrdiff_t>(offset));
    return page;
}

constexpr unsigned Shift = 24;
constexpr std::uint64_t Seq = 5ull << Shift;

TEST(LogFile_Header_Search, Matches_Sequence_Links_And_Record_Type) {
    struct Case {
        const char* what;
        Log_Record record;
        bool matches;
    };
    const Case cases[] = {
        {"plain client record", {.lsn = Seq + 10}, true},
        {"checkpoint record", {.lsn = Seq + 10, .record_type = 2}, true},
        {"links of the same sequence", {.lsn = Seq + 10, .previous_lsn = Seq + 2, .undo_next_lsn = Seq + 1}, true},
        {"record type 3", {.lsn = Seq + 10, .record_type = 3}, false},
        {"other sequence", {.lsn = Seq + (1ull << Shift)}, false},
        {"previous LSN of another sequence", {.lsn = Seq + 10, .previous_lsn = 1}, false},
        {"undo-next LSN of another sequence", {.lsn = Seq + 10, .undo_next_lsn = 1}, false},
    };
    for (const Case& c : cases) {
        const Bytes page = Page_With_Header(0x80, c.record, Seq);
        EXPECT_EQ(Header_Matches_Sequence(View(page), 0x80, 5, Shift), c.matches) << c.what;
        EXPECT_EQ(Find_First_Record_In_Page(View(page), Shift, Seq + 99), c.matches ? 0x80 : 0) << c.what;
    }
}

TEST(LogFile_Header_Search, Stays_Inside_The_Page) {
    // The tested fields (0x24 bytes) fit at 4056 but not at 4064.
    Bytes page(4096, 0);
    Put_U64(page, 4056, Seq + 1);
    Put_U32(page, 4056 + 0x20, 1);
    EXPECT_EQ(Find_First_Record_In_Page(View(page), Shift, Seq), 4056);
    Bytes cut(4096, 0);
    Put_U64(cut, 4064, Seq + 1);
    EXPECT_EQ(Find_First_Record_In_Page(View(cut), Shift, Seq), 0);
    EXPECT_FALSE(Header_Matches_Sequence(View(cut), 4064, 5, Shift));
    EXPECT_FALSE(Header_Matches_Sequence(View(cut), 1u << 20, 5, Shift));
}

TEST(LogFile_Header_Search, Next_Record_Starts_After_Offset_And_Uses_Last_End_Lsn) {
    Bytes page = Page_With_Header(0x40, {.lsn = Seq + 1}, Seq + 7);
    const Bytes second = Log_Record{.lsn = Seq + 9}.Encode();
    std::copy(second.begin(), second.end(), page.begin() + 0x100);
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 64, Shift), 0x40);   // 64: from the data start
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 0, Shift), 0x40);
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 0x40 + 8, Shift), 0x100);  // from 0x48 + 8
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 0x100, Shift), 0);
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 4096, Shift), 0x40);
    Put_U64(page, 0x20, 0);
    EXPECT_EQ(Find_Next_Record_In_Page(View(page), 64, Shift), 0);
}

TEST(LogFile_Header_Search, Last_Lsn_Of_Page) {
    const std::uint64_t out_untouched = 0xABCD;
    // Two records of sequence 5; the second is followed by a third LSN on the page.
    Log_Record first{.lsn = Seq + 0x100, .redo = Bytes(8, 1)};
    Log_Record second{.lsn = Seq + 0x108, .redo = Bytes(8, 2)};
    Bytes page = Record_Page({}, [&] {
        Bytes area = first.Encode();
        const Bytes b = second.Encode();
        area.insert(area.end(), b.begin(), b.end());
        Bytes follower(8);
        Put_U64(follower, 0, Seq + 0x110);
        area.insert(area.end(), follower.begin(), follower.end());
        return area;
    }());
    std::uint64_t out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(page, 5, 6, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x110);  // the LSN that follows the last header
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page_Bounded(page, 5, 6, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x108);  // its own LSN
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(page, No_Sequence, 5, Shift, &out), 1);  // A skipped, B found
    EXPECT_EQ(out, Seq + 0x110);
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(page, 7, 8, Shift, &out), 0);
    EXPECT_EQ(out, out_untouched);

    // A record running to the page end gives its own LSN; the bounded search
    // passes it over for an earlier header that ends inside the page.
    Bytes tail = Page_With_Header(0x40, first);
    Log_Record long_record{.lsn = Seq + 0x200, .client_length = 0x1000};
    const Bytes b = long_record.Encode();
    std::copy(b.begin(), b.begin() + 0x30, tail.begin() + 0x800);
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(tail, 5, No_Sequence, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x200);
    EXPECT_EQ(Find_Last_LSN_In_Page_Bounded(tail, 5, No_Sequence, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x100);

    // A record that ends 4 bytes before the page end leaves no room for a
    // following LSN: its own counts, and nothing past the page is read.
    Bytes edge(4096, 0);
    std::copy_n(Log_Record{.lsn = Seq + 0x300, .client_length = 4092 - 4000 - 0x30}.Encode().begin(), 0x30,
                edge.begin() + 4000);
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(edge, 5, No_Sequence, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x300);
    // The backward scan starts at 4048: a header there is seen, one at 4056 is not.
    Bytes at_4048(4096, 0);
    std::copy_n(Log_Record{.lsn = Seq + 0x400, .client_length = 4}.Encode().begin(), 0x30, at_4048.begin() + 4048);
    EXPECT_EQ(Find_Last_LSN_In_Page(at_4048, 5, No_Sequence, Shift, &out), 1);
    EXPECT_EQ(out, Seq + 0x400);
    Bytes at_4056(4096, 0);
    std::copy_n(Log_Record{.lsn = Seq + 0x500, .client_length = 4}.Encode().begin(), 0x28, at_4056.begin() + 4056);
    out = out_untouched;
    EXPECT_EQ(Find_Last_LSN_In_Page(at_4056, 5, No_Sequence, Shift, &out), 0);
    EXPECT_EQ(out, out_untouched);
}

TEST(LogFile_Record_Header, Every_Field_From_Its_Own_Offset) {
    // Each field holds a value no other field holds, so a field read from a
    // neighbour's offset or with the wrong width shows.
    Bytes h(0x58, 0);
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = static_cast<std::uint8_t>(i + 1);
    const auto header = Decode_Log_Record_Header(View(h));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->This_Lsn, 0x0807060504030201u);
    EXPECT_EQ(header->Client_Previous_Lsn, 0x100F0E0D0C0B0A09u);
    EXPECT_EQ(header->Client_Undo_Next_Lsn, 0x1817161514131211u);
    EXPECT_EQ(header->Client_Data_Length, 0x1C1B1A19u);
    EXPECT_EQ(header->Record_Type, 0x24232221u);
    EXPECT_EQ(header->Transaction_Id, 0x28272625u);
    EXPECT_EQ(header->Redo_Operation, 0x3231u);
    EXPECT_EQ(header->Undo_Operation, 0x3433u);
    EXPECT_EQ(header->Redo_Offset, 0x3635u);
    EXPECT_EQ(header->Redo_Length, 0x3837u);
    EXPECT_EQ(header->Undo_Offset, 0x3A39u);
    EXPECT_EQ(header->Undo_Length, 0x3C3Bu);
    EXPECT_EQ(header->Record_Offset, 0x4241u);
    EXPECT_EQ(header->Attribute_Offset, 0x4443u);
    EXPECT_EQ(header->Cluster_Index, 0x4645u);
    EXPECT_EQ(header->Target_Vcn, 0x504F4E4D4C4B4A49u);
    EXPECT_EQ(header->Target_Lcn, 0x5857565554535251u);
    EXPECT_EQ(header->Undo_Position(), std::int64_t{0x3A39} - 0x3635);

    h.resize(0x57);
    EXPECT_FALSE(Decode_Log_Record_Header(View(h)));
}

TEST(LogFile_Texts, Operation_Names_And_Record_Types) {
    const std::pair<std::uint16_t, const char16_t*> names[] = {
        {0x00, u"Noop"},
        {0x01, u"Compensation Log Record"},
        {0x02, u"Initialize File Record Segment"},
        {0x03, u"Deallocate File Record Segment"},
        {0x04, u"Write End of File Record Segment"},
        {0x05, u"Create Attribute"},
        {0x06, u"Delete Attribute"},
        {0x07, u"Update Resident Value"},
        {0x08, u"Update Nonresident Value"},
        {0x09, u"Update Mapping Pairs"},
        {0x0A, u"Delete Dirty Clusters"},
        {0x0B, u"Set New Attribute Sizes"},
        {0x0C, u"Add Index Entry Root"},
        {0x0D, u"Delete Index Entry Root"},
        {0x0E, u"Add Index Entry Allocation"},
        {0x0F, u"Delete Index Entry Allocation"},
        {0x10, u"0x10"},
        {0x11, u"0x11"},
        {0x12, u"Set Index Entry VCN Allocation"},
        {0x13, u"Update File Name Root"},
        {0x14, u"Update File Name Allocation"},
        {0x15, u"Set Bits In Nonresident Bit Map"},
        {0x16, u"Clear Bits In Nonresident Bit Map"},
        {0x17, u"0x17"},
        {0x18, u"0x18"},
        {0x19, u"Prepare Transaction"},
        {0x1A, u"Commit Transaction"},
        {0x1B, u"Forget Transaction"},
        {0x1C, u"OpenNonresidentAttribute"},
        {0x1D, u"0x1d"},
        {0x1E, u"0x1e"},
        {0x1F, u"Dirty Page Table Dump"},
        {0x20, u"Transaction Table Dump"},
        {0x21, u"Update Record Data Root"},
        {0x22, u"0x22"},
        {0xFFFF, u"0xffff"},
    };
    for (const auto& [code, name] : names) EXPECT_EQ(LogFile_Operation_Name(code), name) << code;

    EXPECT_EQ(LogFile_Record_Type_Text(2, 0x1B), u"Check Point Record");
    EXPECT_EQ(LogFile_Record_Type_Text(1, 0x1B), u"Commit Record");
    EXPECT_EQ(LogFile_Record_Type_Text(1, 0x1A), u"Update Record");
    EXPECT_EQ(LogFile_Record_Type_Text(7, 0x00), u"Update Record");
}

}  // namespace
