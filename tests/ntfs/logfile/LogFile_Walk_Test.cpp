#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <vector>

#include "db/CppSQLite3.h"
#include "ntfs/logfile/LogFile_Format.h"
#include "ntfs/logfile/LogFile_Walk.h"
#include "output/Event_Tables.h"
#include "platform/text.h"
#include "support/Failing_File.h"
#include "support/LogFile_Builder.h"
#include "support/Temp_Dir.h"

namespace {

using namespace logfile_test;

// LSNs of sequence 1 with a 40-bit sequence field (shift 24).
constexpr unsigned Shift = 24;
constexpr std::uint64_t Base = 1ull << Shift;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
    return b;
}

// A record of `size` bytes in the log (header and client data), its redo
// data a pattern.
Log_Record Sized_Record(std::uint64_t lsn, std::size_t size, std::uint8_t seed = 1) {
    return Log_Record{.lsn = lsn, .redo_operation = 0x07, .redo = Pattern(size - 0x58, seed)};
}

// A short record first, so that one record ends on the first page (the walk
// starts on a page with a last end LSN), and where the record after it starts.
constexpr std::size_t Lead_Size = 0x60;
constexpr std::size_t First = 0x40 + Lead_Size;

struct Seen {
    _log_info record;
    bool analysed = false;
    Bytes redo;
    Bytes undo;
    std::u16string previous_lsn;
};

class LogFile_Walk : public ::testing::Test {
protected:
    void SetUp() override {
        db.Open_With_Pragmas(dir.File("walk.db"));
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }

    // Places `pages` at file pages 2, 3, ... after two restart pages.
    void Use(const std::vector<Bytes>& pages) {
        image = Log_Image();
        image.Add_Restart_Pages().Add(pages);
    }

    // Walks the given file pages in the given order, read from the image or
    // through `read`.
    std::vector<Seen> Walk(const std::vector<std::size_t>& file_pages,
                           Failing_Header_Rule rule = Failing_Header_Rule::Give_Up_Page,
                           const Page_Reader& read = {}) {
        std::vector<_page_info> list;
        for (const std::size_t p : file_pages) {
            Bytes page(4096);
            image.Read(p * 4096, page);
            list.push_back(Read_Page_Info(Byte_View(page.data(), page.size()), list.size(), p * 4096));
        }
        // The first page of the log's first run, as the replay order marks it.
        if (first_normal < list.size()) list[first_normal].FirstPageFlag = 1;
        std::vector<Seen> seen;
        Seen pending;
        Log_Walk_Settings settings;
        settings.Shift = Shift;
        settings.Rule = rule;
        settings.Analyze = [&](const Log_Record_Header& header, _log_info& cur, const _log_info& prev,
                               const Client_Data_View& data) {
            pending = Seen{};
            pending.redo.resize(header.Redo_Length);
            data.Copy(0, pending.redo);
            pending.undo.resize(header.Undo_Length);
            data.Copy(header.Undo_Position(), pending.undo);
            pending.previous_lsn = prev.LSN;
            if (set_event) set_event(cur, data);
        };
        settings.Observe = [&](const _log_info& record, bool analysed) {
            Seen s = analysed ? pending : Seen{};
            s.record = record;
            s.analysed = analysed;
            seen.push_back(s);
        };
        const Page_Reader reader = [&](std::uint64_t offset, std::span<std::uint8_t> page) {
            return image.Read(offset, page);
        };
        Walk_Log_Records(context, db, list, read ? read : reader, settings);
        return seen;
    }

    static std::vector<std::uint64_t> Lsns(const std::vector<Seen>& seen) {
        std::vector<std::uint64_t> lsns;
        for (const Seen& s : seen) lsns.push_back(s.record.ThisLSN);
        return lsns;
    }

    Temp_Dir dir;
    CppSQLite3DB db;
    Global_Parsing_Context context;
    Log_Image image;
    std::function<void(_log_info&, const Client_Data_View&)> set_event;
    // The index in the walked list of the page that opens the first run.
    std::size_t first_normal = static_cast<std::size_t>(-1);
};

TEST_F(LogFile_Walk, Fills_The_Header_Texts) {
    Log_Record update{.lsn = Base + 0x10,
                      .transaction_id = 0x1A,
                      .redo_operation = 0x02,
                      .undo_operation = 0x00,
                      .cluster_index = 6,
                      .target_vcn = 0x7'0000'00AB,
                      .redo = Pattern(16, 1),
                      .undo = Pattern(8, 2)};
    Log_Record commit{.lsn = Base + 0x20, .transaction_id = 0x1A, .redo_operation = 0x1B, .undo_operation = 0x01};
    Log_Record checkpoint{.lsn = Base + 0x30, .record_type = 2, .redo_operation = 0x1B, .undo_operation = 0x25};
    Use(Lay_Records({update, commit, checkpoint}).pages);
    const std::vector<Seen> seen = Walk({2});
    ASSERT_EQ(Lsns(seen), (std::vector<std::uint64_t>{Base + 0x10, Base + 0x20, Base + 0x30}));
    const _log_info& r = seen[0].record;
    EXPECT_EQ(r.LSN, u"16777232");
    EXPECT_EQ(r.RecordType, u"Update Record");
    EXPECT_EQ(r.TransactionID, u"0x1A");
    EXPECT_EQ(r.ClusterIndex, u"0x6");
    EXPECT_EQ(r.MFT_ClusterIndex, 6u);
    EXPECT_EQ(r.TargetVCN, u"0xAB");  // the low 32 bits
    EXPECT_EQ(r.RedoInfo, u"Initialize File Record Segment");
    EXPECT_EQ(r.UndoInfo, u"Noop");
    EXPECT_EQ(r.RedoDataOffset, 2u * 4096 + 0x40 + 0x30 + 0x28);
    EXPECT_EQ(r.RedoDataLength, 16u);
    EXPECT_EQ(r.UndoDataLength, 8u);
    EXPECT_EQ(seen[0].redo, Pattern(16, 1));
    EXPECT_EQ(seen[0].undo, Pattern(8, 2));
    EXPECT_EQ(seen[1].record.RecordType, u"Commit Record");
    EXPECT_EQ(seen[1].record.UndoInfo, u"Compensation Log Record");
    EXPECT_EQ(seen[1].previous_lsn, u"16777232");
    EXPECT_EQ(seen[2].record.RecordType, u"Check Point Record");
    EXPECT_EQ(seen[2].record.UndoInfo, u"0x25");
    EXPECT_TRUE(context.LogFile_Row_Array.empty());  // no name, no event: no row
}

TEST_F(LogFile_Walk, Records_Across_Page_Ends) {
    struct Case {
        const char* what;
        std::size_t first_size;   // the record that starts at 0x40 of the first page
        std::size_t second_size;  // the record after it
        std::size_t pages;
    };
    const Case cases[] = {
        {"first record ends exactly at 4096", 4096 - First, 0x80, 2},
        {"header starts 0x30 before the page end", 4096 - 0x30 - First, 0x100, 2},
        {"header starts 0x38 before the page end", 4096 - 0x38 - First, 0x100, 2},
        {"header and client start 0x50 before the page end", 4096 - 0x50 - First, 0x100, 2},
        {"crossing header whose data runs into a third page", 4096 - 0x30 - First, 0x1000 + 0x60, 3},
        {"client data 104 bytes into the next page", 4096 - First + 104, 0x80, 2},
        {"client data ending 0x20 before the end of the next page", 4096 - First + 0xFA0, 0x80, 3},
    };
    for (const Case& c : cases) {
        const Log_Record lead = Sized_Record(Base + 0x80, Lead_Size, 1);
        const Log_Record first = Sized_Record(Base + 0x100, c.first_size, 3);
        const Log_Record second = Sized_Record(Base + 0x200, c.second_size, 5);
        const Log_Record third = Sized_Record(Base + 0x300, 0x60, 7);
        const Laid_Log laid = Lay_Records({lead, first, second, third}, 0x40, c.pages);
        Use(laid.pages);
        std::vector<std::size_t> order(laid.pages.size());
        std::iota(order.begin(), order.end(), 2);
        std::vector<Seen> seen = Walk(order);
        ASSERT_EQ(Lsns(seen), (std::vector<std::uint64_t>{Base + 0x80, Base + 0x100, Base + 0x200, Base + 0x300}))
            << c.what;
        seen.erase(seen.begin());
        for (const Seen& s : seen) EXPECT_TRUE(s.analysed) << c.what;
        EXPECT_EQ(seen[0].redo, first.redo) << c.what;
        EXPECT_EQ(seen[1].redo, second.redo) << c.what;
        EXPECT_EQ(seen[2].redo, third.redo) << c.what;
        EXPECT_EQ(seen[1].previous_lsn, seen[0].record.LSN) << c.what;
    }
}

TEST_F(LogFile_Walk, Redo_Position_Of_A_Crossing_Header) {
    // The header of the second record starts 0x50 before the end of file page
    // 2, so its redo data (client offset 0x28, header offset 0x58) starts
    // 8 bytes into the data area of file page 3.
    const Laid_Log laid =
        Lay_Records({Sized_Record(Base + 0x100, 4096 - 0x50 - 0x40), Sized_Record(Base + 0x200, 0x100)}, 0x40, 2);
    Use(laid.pages);
    const std::vector<Seen> seen = Walk({2, 3});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].record.RedoDataOffset, 3u * 4096 + 0x40 + 8);
}

// A header that crosses into the next page is taken only when its client
// data reaches its redo data; otherwise both rules look for the first header
// of the page's last end sequence.
TEST_F(LogFile_Walk, A_Crossing_Header_Whose_Client_Data_Ends_Before_Its_Redo_Data_Is_No_Header) {
    struct Case {
        const char* what;
        std::uint16_t redo_offset;  // the crossing record's client data is 0x28 bytes
        bool taken;
    };
    const Case cases[] = {
        {"client data length equal to the redo offset", 0x28, true},
        {"client data length below the redo offset", 0x30, false},
    };
    for (const Case& c : cases) {
        Log_Record crossing = Sized_Record(Base + 0x200, 0x58);
        crossing.redo_offset = c.redo_offset;
        // The header of the second record starts 0x30 before the end of the first page.
        const Laid_Log laid =
            Lay_Records({Sized_Record(Base + 0x100, 4096 - 0x30 - 0x40), crossing, Sized_Record(Base + 0x300, 0x80)},
                        0x40, 2);
        Use(laid.pages);
        const std::vector<std::uint64_t> expected =
            c.taken ? std::vector<std::uint64_t>{Base + 0x100, Base + 0x200, Base + 0x300}
                    : std::vector<std::uint64_t>{Base + 0x100, Base + 0x300};
        EXPECT_EQ(Lsns(Walk({2, 3})), expected) << c.what;
        EXPECT_EQ(Lsns(Walk({2, 3}, Failing_Header_Rule::Search_Onward)), expected) << c.what;
    }
}

TEST_F(LogFile_Walk, Client_Data_Over_Several_Pages_Is_Skipped_Not_Analysed) {
    struct Case {
        const char* what;
        std::size_t beyond;  // bytes of the record past its first page
        std::size_t pages;
    };
    // 0xFC0 + 104 bytes beyond the first page: one whole page is skipped
    // unread and the walk goes on 104 bytes into the page after it. With
    // 0xFC0 + 0xFA0 only 0x20 bytes are left there, so the walk goes on at
    // the data start of the page after that.
    const Case cases[] = {
        {"ending 104 bytes into the third page", 0xFC0 + 104, 3},
        {"ending 0x20 before the end of the third page", 0xFC0 + 0xFA0, 4},
    };
    for (const Case& c : cases) {
        const Log_Record big = Sized_Record(Base + 0x100, 4096 - First + c.beyond);
        const Laid_Log laid =
            Lay_Records({Sized_Record(Base + 0x80, Lead_Size), big, Sized_Record(Base + 0x900, 0x80)}, 0x40, c.pages);
        std::vector<Bytes> pages = laid.pages;
        std::fill_n(pages[1].begin(), 8, 0xFF);  // would end the walk if it were read
        Use(pages);
        std::vector<std::size_t> order(pages.size());
        std::iota(order.begin(), order.end(), 2);
        const std::vector<Seen> seen = Walk(order);
        ASSERT_EQ(Lsns(seen), (std::vector<std::uint64_t>{Base + 0x80, Base + 0x100, Base + 0x900})) << c.what;
        EXPECT_FALSE(seen[1].analysed) << c.what;
        EXPECT_EQ(seen[1].record.RedoInfo, u"Update Resident Value") << c.what;
        EXPECT_TRUE(seen[2].analysed) << c.what;
    }
}

// Every record is named by the $MFT (its LSN is a FILE record's), so each
// one the walk finishes becomes a row. One that the log leaves unfinished
// gives none: neither its data nor its header is all there.
TEST_F(LogFile_Walk, A_Record_Unfinished_When_The_Log_Ends_Gives_No_Row) {
    const Log_Record lead = Sized_Record(Base + 0x80, Lead_Size);
    struct Case {
        const char* what;
        std::vector<Log_Record> records;  // laid from 0x40 of the first page
        bool unwritten_after;             // a page of 0xFF bytes is listed after it
        std::vector<std::uint64_t> rows;
    };
    const Case cases[] = {
        {"data awaited, no page left", {lead, Sized_Record(Base + 0x100, 4096 - First + 104)}, false, {Base + 0x80}},
        {"data awaited, the next page never written",
         {lead, Sized_Record(Base + 0x100, 4096 - First + 104)}, true, {Base + 0x80}},
        {"header cut by the page end",
         {lead, Sized_Record(Base + 0x90, 4096 - First - 0x30), Sized_Record(Base + 0x100, 0x100)}, false,
         {Base + 0x80, Base + 0x90}},
        // Data that runs whole pages on is never put together: the record is
        // finished at once, with the fields it has.
        {"data running a whole page on", {lead, Sized_Record(Base + 0x100, 4096 - First + 0xFC0 + 104)}, false,
         {Base + 0x80, Base + 0x100}},
    };
    for (const Case& c : cases) {
        context = Global_Parsing_Context{};
        db.Run_Query(u"delete from LogFile");
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            const Log_Record& r = c.records[i];
            _ENTRYINFO_2 entry;
            entry.FileReference = 40 + i;
            entry.ParentReference = 5;
            entry.MFT_LSN = r.lsn;
            entry.Name = u"named";
            context.Mft.Add_Entry(entry, true);
        }
        context.Mft.Finish();
        std::vector<Bytes> pages = {Lay_Records(c.records, 0x40, 2).pages[0]};
        if (c.unwritten_after) pages.push_back(Filled_Page(0xFF));
        Use(pages);
        Walk(c.unwritten_after ? std::vector<std::size_t>{2, 3} : std::vector<std::size_t>{2});
        std::vector<std::uint64_t> rows;
        for (const _log_info& r : context.LogFile_Row_Array) rows.push_back(r.ThisLSN);
        EXPECT_EQ(rows, c.rows) << c.what;
    }
}

// A row named by the $MFT entry its record last changed carries that
// entry's $STANDARD_INFORMATION times, moved by the run's hour offset.
TEST_F(LogFile_Walk, Mft_Times_Of_A_Row_Are_Moved_By_The_Hour_Offset) {
    struct Case {
        int hours;
        const char16_t* create;
        const char16_t* access;
    };
    const Case cases[] = {
        {0, u"2020-07-25 12:33:11", u"2020-07-25 23:35:24"},
        {9, u"2020-07-25 21:33:11", u"2020-07-26 08:35:24"},
        {-13, u"2020-07-24 23:33:11", u"2020-07-25 10:35:24"},
    };
    for (const Case& c : cases) {
        context = Global_Parsing_Context{};
        context.Hour_Offset = c.hours;
        _ENTRYINFO_2 entry;
        entry.FileReference = 40;
        entry.ParentReference = 5;
        entry.MFT_LSN = Base + 0x100;
        entry.Name = u"named";
        entry.CreateTime = 132401539910000000ull;  // 2020-07-25 12:33:11 UTC
        entry.ModifiedTime = entry.CreateTime + 10'000'000ull;
        entry.MFT_ModifiedTime = entry.CreateTime + 20'000'000ull;
        entry.AccessTime = 132401937240000000ull;  // 2020-07-25 23:35:24 UTC
        context.Mft.Add_Entry(entry, true);
        context.Mft.Finish();
        Use(Lay_Records({Sized_Record(Base + 0x100, 0x80)}).pages);
        const std::vector<Seen> seen = Walk({2});
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].record.FileName, u"named");
        EXPECT_EQ(seen[0].record.CreateTime, c.create) << c.hours;
        EXPECT_EQ(seen[0].record.AccessTime, c.access) << c.hours;
    }
}

TEST_F(LogFile_Walk, A_Read_Error_Inside_A_Page_Reads_As_The_File_Cut_There) {
    std::vector<Log_Record> records{Sized_Record(Base + 0x80, Lead_Size)};
    for (std::uint64_t i = 0; i < 40; ++i) records.push_back(Sized_Record(Base + 0x100 + i * 0x10, 0x100));
    const Laid_Log laid = Lay_Records(records, 0x40, 3);
    Use(laid.pages);
    const std::uint64_t bad = image.Offset_Of_Page(3) + 1000;
    const std::string whole = image.Write(dir.File("whole.bin"));
    Log_Image cut_image = image;
    cut_image.Data().resize(bad);
    platform::Read_Only_File cut;
    ASSERT_TRUE(cut.Open(cut_image.Write(dir.File("cut.bin"))));
    Failing_File failing(bad);
    ASSERT_TRUE(failing.Open(whole));

    const std::vector<std::uint64_t> through_error =
        Lsns(Walk({2, 3, 4}, Failing_Header_Rule::Give_Up_Page, File_Page_Reader(failing)));
    EXPECT_EQ(through_error, Lsns(Walk({2, 3, 4}, Failing_Header_Rule::Give_Up_Page, File_Page_Reader(cut))));
    // The records that end on the second page before the bad byte are kept.
    std::size_t on_second_page = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Placement& at = laid.placements[i];
        if (at.page == 0 || (at.page == 1 && at.offset + 0x100 <= 1000)) {
            on_second_page += at.page;
            EXPECT_NE(std::find(through_error.begin(), through_error.end(), records[i].lsn), through_error.end()) << i;
        }
    }
    EXPECT_GE(on_second_page, 2u);
}

// Records left on a page after the one its header names as the last are
// stale: the page ends there, though they pass every other test.
TEST_F(LogFile_Walk, A_Page_Ends_At_The_Record_Of_Its_Last_Lsn) {
    Bytes area;
    for (const std::uint64_t lsn : {Base + 0x100, Base + 0x110, Base + 0x120}) {
        const Bytes r = Sized_Record(lsn, 0x80).Encode();
        area.insert(area.end(), r.begin(), r.end());
    }
    const Bytes next = Lay_Records({Sized_Record(Base + 0x200, 0x80)}).pages[0];
    Use({Record_Page({.last_lsn = Base + 0x110, .last_end_lsn = Base + 0x110}, area), next});
    const std::vector<std::uint64_t> expected = {Base + 0x100, Base + 0x110, Base + 0x200};
    EXPECT_EQ(Lsns(Walk({2, 3})), expected);
    EXPECT_EQ(Lsns(Walk({2, 3}, Failing_Header_Rule::Search_Onward)), expected);
}

// A record finished from a header that crossed into the first page of the
// log's first run moves the last accepted LSN on to the next LSN block: a
// record after it on that page is walked only when it is of that newer block.
TEST_F(LogFile_Walk, A_Crossing_Header_On_The_First_Normal_Page_Moves_To_The_Next_Lsn_Block) {
    const std::uint64_t next_block = Base + (1ull << 24);
    struct Case {
        const char* what;
        std::uint64_t after;  // the LSN of the record after the crossing one
        std::vector<std::uint64_t> expected;
    };
    const Case cases[] = {
        {"a record of the same block ends the page", Base + 0x300, {Base + 0x100, Base + 0x200, Base + 0x400}},
        {"a record of the next block goes on", next_block + 0x10,
         {Base + 0x100, Base + 0x200, next_block + 0x10, Base + 0x400}},
    };
    for (const Case& c : cases) {
        const Laid_Log laid = Lay_Records({Sized_Record(Base + 0x100, 4096 - 0x30 - 0x40),
                                           Sized_Record(Base + 0x200, 0x80), Sized_Record(c.after, 0x80)},
                                          0x40, 2);
        const Bytes last = Lay_Records({Sized_Record(Base + 0x400, 0x80)}).pages[0];
        Use({laid.pages[0], laid.pages[1], last});
        first_normal = 1;
        EXPECT_EQ(Lsns(Walk({2, 3, 4})), c.expected) << c.what;
        // On any other page the crossing record keeps its own LSN.
        first_normal = static_cast<std::size_t>(-1);
        const std::vector<std::uint64_t> elsewhere = c.after == Base + 0x300
                                                         ? std::vector<std::uint64_t>{Base + 0x100, Base + 0x200,
                                                                                      Base + 0x300, Base + 0x400}
                                                         : std::vector<std::uint64_t>{Base + 0x100, Base + 0x200,
                                                                                      Base + 0x400};
        EXPECT_EQ(Lsns(Walk({2, 3, 4})), elsewhere) << c.what;
    }
}

TEST_F(LogFile_Walk, What_Ends_A_Page_Or_The_Walk) {
    const Bytes a = Lay_Records({Sized_Record(Base + 0x100, 0x80), Sized_Record(Base + 0x110, 0x80)}).pages[0];
    const Bytes b = Lay_Records({Sized_Record(Base + 0x200, 0x80)}).pages[0];
    // 16 zero bytes after a record end the page, whatever follows them.
    Bytes gap_area = Sized_Record(Base + 0x250, 0x80).Encode();
    gap_area.resize(gap_area.size() + 16, 0);
    const Bytes hidden = Sized_Record(Base + 0x260, 0x80).Encode();
    gap_area.insert(gap_area.end(), hidden.begin(), hidden.end());
    const Bytes gap = Record_Page({.last_lsn = Base + 0x260, .last_end_lsn = Base + 0x260}, gap_area);

    Use({a, Filled_Page(0xFF), b, gap});
    EXPECT_EQ(Lsns(Walk({2, 3, 4})), (std::vector<std::uint64_t>{Base + 0x100, Base + 0x110}));
    EXPECT_EQ(Lsns(Walk({2, 4, 5})), (std::vector<std::uint64_t>{Base + 0x100, Base + 0x110, Base + 0x200, Base + 0x250}));

    // In LSN block 0 the zero LSN of the 16 bytes is "close" to the record
    // before: only the zeros end the page, before the carver's search onward
    // would find the record after them.
    Bytes low_area = Sized_Record(0x250, 0x80).Encode();
    low_area.resize(low_area.size() + 16, 0);
    const Bytes low_hidden = Sized_Record(0x260, 0x80).Encode();
    low_area.insert(low_area.end(), low_hidden.begin(), low_hidden.end());
    Use({Record_Page({.last_lsn = 0x260, .last_end_lsn = 0x260}, low_area)});
    EXPECT_EQ(Lsns(Walk({2}, Failing_Header_Rule::Search_Onward)), (std::vector<std::uint64_t>{0x250}));
}

TEST_F(LogFile_Walk, The_Walk_Starts_On_The_First_Page_With_A_Header_Of_Its_Last_End_Sequence) {
    Laid_Log first = Lay_Records({Sized_Record(Base + 0x100, 0x80)});
    Put_U64(first.pages[0], 0x20, 0);  // no record ends here
    // The first header found is not compared with the last accepted LSN
    // (none yet), even in another LSN block.
    const std::uint64_t later = (7ull << Shift) + 0x10;
    Bytes second = Lay_Records({Sized_Record(later, 0x80), Sized_Record(later + 0x10, 0x80)}).pages[0];
    Use({first.pages[0], second});
    EXPECT_EQ(Lsns(Walk({2, 3})), (std::vector<std::uint64_t>{later, later + 0x10}));
}

TEST_F(LogFile_Walk, A_Failing_Header_Ends_The_Page_Or_Is_Searched_Past) {
    struct Case {
        const char* what;
        std::uint64_t bad_lsn;
        std::uint32_t bad_length;
        std::vector<std::uint64_t> carver;  // what the carver's rule finds
    };
    const std::vector<std::uint64_t> both = {Base + 0x100, Base + 0x300};
    const std::vector<std::uint64_t> all = {Base + 0x100, Base + 0x200, Base + 0x300};
    const Case cases[] = {
        {"LSN below the last accepted one", Base + 0x50, 0x58, all},
        {"client data length 0", Base + 0x180, 0, all},
        // An LSN of 0 lies in another LSN block than the record before it,
        // so both rules leave the page before testing it.
        {"LSN 0", 0, 0x58, both},
    };
    for (const Case& c : cases) {
        Log_Record bad = Sized_Record(c.bad_lsn, 0x88);
        bad.client_length = c.bad_length;
        Bytes area = Sized_Record(Base + 0x100, 0x80).Encode();
        Bytes b = bad.Encode();
        b.resize(0x88, 0);
        area.insert(area.end(), b.begin(), b.end());
        const Bytes good = Sized_Record(Base + 0x200, 0x80).Encode();
        area.insert(area.end(), good.begin(), good.end());
        const Bytes next = Lay_Records({Sized_Record(Base + 0x300, 0x80)}).pages[0];
        Use({Record_Page({.last_lsn = Base + 0x200, .last_end_lsn = Base + 0x200}, area), next});
        EXPECT_EQ(Lsns(Walk({2, 3})), both) << c.what;
        // The carver looks further on in the page for a header of its sequence.
        EXPECT_EQ(Lsns(Walk({2, 3}, Failing_Header_Rule::Search_Onward)), c.carver) << c.what;
    }
}

TEST_F(LogFile_Walk, Client_Data_Reads_Outside_The_Record_Give_Zero) {
    // Undo data laid before the redo data: it is read at a negative position.
    Log_Record undo_first{.lsn = Base + 0x100, .redo = Pattern(8, 9), .undo = Pattern(16, 4)};
    undo_first.undo_offset = 0x28;
    undo_first.redo_offset = 0x28 + 16;
    // Client data shorter than its redo offset: nothing to copy.
    Log_Record short_client{.lsn = Base + 0x110, .redo = Pattern(8, 1)};
    short_client.redo_offset = 0x200;
    Use(Lay_Records({undo_first, short_client}).pages);
    std::vector<std::uint8_t> far_reads;
    set_event = [&](_log_info&, const Client_Data_View& data) {
        far_reads.push_back(data.Read_U8(5000));
        far_reads.push_back(data.Read_U8(-5000));
        far_reads.push_back(static_cast<std::uint8_t>(data.Read_U64(INT64_MAX - 2)));
        far_reads.push_back(static_cast<std::uint8_t>(data.Read_U64(INT64_MIN)));
    };
    const std::vector<Seen> seen = Walk({2});
    ASSERT_EQ(seen.size(), 2u);
    // The builder lays redo data first; with the offsets swapped the bytes at
    // the undo offset are the record's first 16 data bytes.
    Bytes client = undo_first.Encode();
    EXPECT_EQ(seen[0].undo, Bytes(client.begin() + 0x58, client.begin() + 0x58 + 16));
    EXPECT_EQ(seen[1].redo, Bytes(8, 0));
    EXPECT_EQ(far_reads, Bytes(8, 0));
}

TEST_F(LogFile_Walk, Damaged_Lengths_Neither_Crash_Nor_Hang) {
    Log_Record huge = Sized_Record(Base + 0x100, 0x80);
    huge.client_length = 0xFFFFFFF8;
    Log_Record crossing_huge = Sized_Record(Base + 0x200, 0x80);
    crossing_huge.client_length = 0xFFFFFFF0;
    Use(Lay_Records({Sized_Record(Base + 0x90, 4096 - 0x30 - 0x40), crossing_huge}, 0x40, 2).pages);
    const std::vector<Seen> crossing = Walk({2, 3, 2, 3});
    EXPECT_EQ(Lsns(crossing), (std::vector<std::uint64_t>{Base + 0x90, Base + 0x200}));
    Use(Lay_Records({huge, Sized_Record(Base + 0x180, 0x80)}).pages);
    const std::vector<Seen> seen = Walk({2, 2, 2});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].analysed);
}

TEST_F(LogFile_Walk, Records_With_An_Event_Become_Rows_Kept_Unescaped) {
    Use(Lay_Records({Sized_Record(Base + 0x100, 0x80), Sized_Record(Base + 0x110, 0x80), Sized_Record(Base + 0x120, 0x80)})
            .pages);
    set_event = [](_log_info& cur, const Client_Data_View&) {
        if (cur.ThisLSN == Base + 0x110) {
            cur.Event = u"File Created";
            cur.FileName = u"it's,here";
        }
    };
    Walk({2});
    ASSERT_EQ(context.LogFile_Row_Array.size(), 1u);
    EXPECT_EQ(context.LogFile_Row_Array[0].FileName, u"it's,here");
    CppSQLite3Table table = db.Fetch_Table("select LSN, Event, FileName, RedoInfo, TargetVCN, MFT_ClusterIndex from LogFile");
    ASSERT_EQ(table.Row_Count(), 1);
    table.Select_Row(0);
    EXPECT_STREQ(table.Text_At(0), "16777488");
    EXPECT_STREQ(table.Text_At(1), "File Created");
    EXPECT_STREQ(table.Text_At(2), "it's/here");
    EXPECT_STREQ(table.Text_At(3), "Update Resident Value");
    EXPECT_STREQ(table.Text_At(4), "0x0");
    EXPECT_STREQ(table.Text_At(5), "0");
}

// ---- EventTime back-fill ----

class LogFile_Backfill : public ::testing::Test {
protected:
    void SetUp() override {
        db.Open_With_Pragmas(dir.File("backfill.db"));
        db.Run_Query(Event_Table_Sql::Create_LogFile);
    }
    // Rows in LSN order 1..n; the array holds them out of order, as a walk
    // over buffer pages may leave them.
    void Rows(const std::vector<std::u16string>& times) {
        for (std::size_t i = times.size(); i-- > 0;) {
            _log_info r;
            r.ThisLSN = i + 1;
            r.LSN = platform::Format(u"%I64u", {static_cast<unsigned long long>(i + 1)});
            r.Event = u"E";
            r.EventTime = times[i];
            Insert_LogFile_Row(db, r);
            context.LogFile_Row_Array.push_back(r);
        }
    }
    std::vector<std::string> Stored() {
        CppSQLite3Table t = db.Fetch_Table("select EventTime from LogFile order by LSN");
        std::vector<std::string> times;
        for (std::int64_t i = 0; i < t.Row_Count(); ++i) {
            t.Select_Row(i);
            times.push_back(t.Text_At(0) ? t.Text_At(0) : "");
        }
        return times;
    }
    Temp_Dir dir;
    CppSQLite3DB db;
    Global_Parsing_Context context;
};

TEST_F(LogFile_Backfill, Rows_Take_The_Next_Timed_Row_Within_A_Second) {
    Rows({u"", u"", u"2024-01-01 10:00:00", u"", u"2024-01-01 10:00:01"});
    EXPECT_EQ(Backfill_Event_Times(context, db), 0);
    EXPECT_EQ(Stored(), (std::vector<std::string>{"", "", "2024-01-01 10:00:00", "2024-01-01 10:00:01",
                                                  "2024-01-01 10:00:01"}));
    // Only the database changes; the kept rows are now in LSN order.
    EXPECT_EQ(context.LogFile_Row_Array[3].EventTime, u"");
    EXPECT_EQ(context.LogFile_Row_Array[0].ThisLSN, 1u);
}

TEST_F(LogFile_Backfill, Cases_Left_Empty) {
    struct Case {
        const char* what;
        std::vector<std::u16string> times;
        std::vector<std::string> stored;
    };
    const Case cases[] = {
        {"two seconds later",
         {u"", u"", u"2024-01-01 10:00:00", u"", u"2024-01-01 10:00:02"},
         {"", "", "2024-01-01 10:00:00", "", "2024-01-01 10:00:02"}},
        {"earlier than the previous timed row",
         {u"2024-01-01 10:00:01", u"", u"2024-01-01 10:00:00"},
         {"2024-01-01 10:00:01", "", "2024-01-01 10:00:00"}},
        {"not the latest time met so far",
         {u"2024-01-01 10:00:05", u"2024-01-01 10:00:00", u"", u"2024-01-01 10:00:01"},
         {"2024-01-01 10:00:05", "2024-01-01 10:00:00", "", "2024-01-01 10:00:01"}},
        {"the same second",
         {u"2024-01-01 10:00:00", u"", u"", u"2024-01-01 10:00:00"},
         {"2024-01-01 10:00:00", "2024-01-01 10:00:00", "2024-01-01 10:00:00", "2024-01-01 10:00:00"}},
        {"previous timed row not a time",
         {u"garbage", u"", u"2024-01-01 10:00:00"},
         {"garbage", "", "2024-01-01 10:00:00"}},
    };
    for (const Case& c : cases) {
        db.Run_Query(u"delete from LogFile");
        context.LogFile_Row_Array.clear();
        Rows(c.times);
        EXPECT_EQ(Backfill_Event_Times(context, db), 0) << c.what;
        EXPECT_EQ(Stored(), c.stored) << c.what;
    }
}

TEST_F(LogFile_Backfill, Rows_Of_The_Same_Lsn_Keep_Their_Order) {
    // The same record may come twice (a buffer page repeating it).
    for (const auto& [lsn, detail] : std::vector<std::pair<std::uint64_t, std::u16string>>{
             {3, u"a"}, {1, u"x"}, {3, u"b"}, {2, u"y"}, {3, u"c"}}) {
        _log_info r;
        r.ThisLSN = lsn;
        r.LSN = platform::Format(u"%I64u", {lsn});
        r.Detail = detail;
        context.LogFile_Row_Array.push_back(r);
    }
    EXPECT_EQ(Backfill_Event_Times(context, db), 0);
    std::u16string order;
    for (const _log_info& r : context.LogFile_Row_Array) order += r.Detail;
    EXPECT_EQ(order, u"xyabc");
}

TEST_F(LogFile_Backfill, A_Failing_Update_Ends_The_Back_Fill) {
    Rows({u"2024-01-01 10:00:00", u"", u"2024-01-01 10:00:01"});
    db.Run_Query(u"create trigger refuse before update on LogFile begin select raise(abort, 'no'); end");
    EXPECT_EQ(Backfill_Event_Times(context, db), 1);
    EXPECT_EQ(Stored(), (std::vector<std::string>{"2024-01-01 10:00:00", "", "2024-01-01 10:00:01"}));
}

}  // namespace
