// The $LogFile carver over built images: the page scan (with quick mode), the
// page lists of logs with two, one or no restart page, and the walk over them.
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <sstream>

#include "carving/Carve_LogFile_Records.h"
#include "carving/Carving_Test_Support.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

using namespace carving_test;

constexpr std::uint64_t Base = 0x9000;  // where the logs lie in the carved files

// ---- The page scan ----

using Carve_Scan = Carving_Fixture;

TEST_F(Carve_Scan, Pages_Are_Found_At_Every_Sector) {
    const Written_Log log(4, 3, 1);
    for (const std::uint64_t at : {std::uint64_t{0}, Base, Base + 512, Base + 1024, Base + 3584, Base + 8}) {
        Carving_Image image(0x40000);
        image.Put(at, log.Layout(Log_Version::V11, 7));
        const auto lsns = Carve(image);
        EXPECT_EQ(result, 0);
        if (at % 512 == 0) {
            EXPECT_EQ(lsns, log.lsns) << at;
            EXPECT_EQ(context.Scanned_Page_Array.size(), 5u) << at;
            EXPECT_EQ(Replay(at), (std::vector<long long>{4, 5, 6, 2})) << at;
        } else {
            EXPECT_TRUE(lsns.empty()) << at;
            EXPECT_TRUE(context.Scanned_Page_Array.empty()) << at;
        }
    }
}

TEST_F(Carve_Scan, A_Page_Taken_Is_Not_Searched_Inside) {
    const Written_Log log(4, 3, 1);
    // A record page's header planted 1024 bytes into log page 5, where a
    // record's data may hold any bytes, and one in the other bytes after the log.
    Bytes page_5 = log.pages.at(5);
    const Bytes planted = Record_Page_At(1, 9);
    std::copy_n(planted.begin(), 0x40, page_5.begin() + 1024);
    Carving_Image image(0x40000);
    image.Put(Base, log.Layout(Log_Version::V11, 7).Page(5, page_5));
    image.Put(Base + 7 * 4096 + 1536, planted);
    Carve(image);
    std::vector<long long> scanned;
    for (const _page_info& page : context.Scanned_Page_Array)
        scanned.push_back(static_cast<long long>(page.FileOffset - Base));
    EXPECT_EQ(scanned, (std::vector<long long>{2 * 4096, 3 * 4096, 4 * 4096, 5 * 4096, 6 * 4096, 7 * 4096 + 1536}));
}

TEST_F(Carve_Scan, Scanned_Pages_Carry_Their_Header_Values) {
    const Written_Log log(4, 2, 1);
    Carving_Image image(0x20000);
    image.Put(Base, log.Layout(Log_Version::V11, 8));
    Carve(image);
    ASSERT_EQ(context.Scanned_Page_Array.size(), 4u);
    const Bytes& page_4 = log.pages.at(4);
    const _page_info& info = context.Scanned_Page_Array[2];
    EXPECT_EQ(info.PageIndex, 2u);
    EXPECT_EQ(info.FileOffset, Base + 4 * 4096);
    EXPECT_EQ(info.LastLSN, logfile_test::Get_U64(page_4, 0x08));
    EXPECT_EQ(info.LastEndLSN, logfile_test::Get_U64(page_4, 0x20));
}

TEST_F(Carve_Scan, The_First_Restart_Page_Gives_The_Base_The_Last_One_The_Values) {
    struct Case {
        const char* what;
        std::vector<logfile_test::Restart_Page_Values> restarts;  // at pages 0, 1, ...
        std::uint64_t count;
        std::uint64_t base_page;
        std::uint16_t major;
        unsigned shift;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"two 1.1 copies",
         {{.sequence_bits = 40, .log_size = 0x10000}, {.sequence_bits = 45, .log_size = 0x20000}},
         2, 0, 1, 19, 0x20000},
        {"2.0 then 1.1", {{.major = 2, .minor = 0}, {.major = 1, .minor = 1}}, 2, 0, 1, 24, 0x400000},
        {"a restart area outside the page is no restart page", {{.area = 0xFF0}, {.major = 2, .minor = 0}}, 1, 1, 2,
         24, 0x400000},
        {"a bit count of 0 is no restart page", {{.sequence_bits = 0}}, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Carving_Image image(0x10000);
        for (std::size_t i = 0; i < c.restarts.size(); ++i)
            image.Put(Base + i * 4096, logfile_test::Restart_Page(c.restarts[i]));
        const std::string path = image.Write(dir.File("restarts.bin"));
        platform::Read_Only_File file;
        ASSERT_TRUE(file.Open(path));
        std::vector<_page_info> scanned;
        const Carving_Scan scan = Scan_For_Log_Pages(file, false, scanned);
        EXPECT_EQ(scan.File_Size, image.Size()) << c.what;
        ASSERT_EQ(scan.Logs.size(), 1u) << c.what;
        const Carved_Log& log = scan.Logs[0];
        EXPECT_EQ(log.Restart_Page_Count, c.count) << c.what;
        if (c.count == 0) {
            EXPECT_FALSE(log.Restart) << c.what;
            continue;
        }
        ASSERT_TRUE(log.Restart) << c.what;
        EXPECT_EQ(log.Base, Base + c.base_page * 4096) << c.what;
        EXPECT_EQ(log.Restart->Major_Version, c.major) << c.what;
        EXPECT_EQ(log.Restart->Lsn_Shift, c.shift) << c.what;
        EXPECT_EQ(log.Restart->Log_File_Size, c.size) << c.what;
    }
}

TEST_F(Carve_Scan, Each_Run_Of_Restart_Pages_Begins_A_Log) {
    // In pages: a record page before any restart page, a 1.1 log's two
    // restart pages and two record pages, a 2.0 log's two restart pages and
    // a record page, a lone restart page a sector past a page boundary and a
    // record page.
    const Bytes record = logfile_test::Record_Page({.last_lsn = 0x100}, {});
    const std::map<std::uint64_t, Bytes> pages = {
        {0, record},
        {2 * 4096, logfile_test::Restart_Page({.sequence_bits = 40, .log_size = 0x10000})},
        {3 * 4096, logfile_test::Restart_Page({.sequence_bits = 40, .log_size = 0x10000})},
        {4 * 4096, record},
        {5 * 4096, record},
        {8 * 4096, logfile_test::Restart_Page({.major = 2, .minor = 0, .sequence_bits = 44, .log_size = 0x30000})},
        {9 * 4096, logfile_test::Restart_Page({.major = 2, .minor = 0, .sequence_bits = 44, .log_size = 0x30000})},
        {10 * 4096, record},
        {12 * 4096 + 512, logfile_test::Restart_Page({.log_size = 0x8000})},
        {14 * 4096, record},
    };
    Carving_Image image(16 * 4096);
    for (const auto& [at, bytes] : pages) image.Put(at, bytes);
    platform::Read_Only_File file;
    ASSERT_TRUE(file.Open(image.Write(dir.File("logs.bin"))));
    std::vector<_page_info> scanned;
    const Carving_Scan scan = Scan_For_Log_Pages(file, false, scanned);
    struct Expected {
        std::uint64_t base, next_base, restart_pages;
        std::size_t first_page, page_count;
        std::uint16_t major;
        unsigned shift;
        std::uint64_t size;
    };
    const Expected expected[] = {
        {2 * 4096, 8 * 4096, 2, 0, 3, 1, 24, 0x10000},
        {8 * 4096, 12 * 4096 + 512, 2, 3, 1, 2, 20, 0x30000},
        {12 * 4096 + 512, ~std::uint64_t{0}, 1, 4, 1, 1, 24, 0x8000},
    };
    ASSERT_EQ(scan.Logs.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Carved_Log& log = scan.Logs[i];
        const Expected& e = expected[i];
        EXPECT_EQ(log.Base, e.base) << i;
        EXPECT_EQ(log.Next_Base, e.next_base) << i;
        EXPECT_EQ(log.Restart_Page_Count, e.restart_pages) << i;
        EXPECT_EQ(log.First_Page, e.first_page) << i;
        EXPECT_EQ(log.Page_Count, e.page_count) << i;
        ASSERT_TRUE(log.Restart) << i;
        EXPECT_EQ(log.Restart->Major_Version, e.major) << i;
        EXPECT_EQ(log.Restart->Lsn_Shift, e.shift) << i;
        EXPECT_EQ(log.Restart->Log_File_Size, e.size) << i;
    }

    // Without restart page, one log holds every record page.
    Carving_Image records(8 * 4096);
    records.Put(4096, record).Put(5 * 4096 + 1024, record);
    ASSERT_TRUE(file.Open(records.Write(dir.File("records.bin"))));
    scanned.clear();
    const Carving_Scan without = Scan_For_Log_Pages(file, false, scanned);
    ASSERT_EQ(without.Logs.size(), 1u);
    EXPECT_FALSE(without.Logs[0].Restart);
    EXPECT_EQ(without.Logs[0].Base, 0u);
    EXPECT_EQ(without.Logs[0].Page_Count, 2u);
    EXPECT_EQ(without.Logs[0].Next_Base, ~std::uint64_t{0});
}

// A sparse file of `size` bytes holding `pages` at their offsets.
std::string Sparse_File(const std::string& path, std::uint64_t size, const std::map<std::uint64_t, Bytes>& pages) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    for (const auto& [offset, bytes] : pages)
        EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
                  static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    return path;
}

TEST_F(Carve_Scan, Quick_Mode_Bounds_The_Scan) {
    const Bytes record = logfile_test::Record_Page({.last_lsn = 0x100}, {});
    constexpr std::uint64_t Window = 0x4000000;
    struct Case {
        const char* what;
        std::map<std::uint64_t, Bytes> pages;
        std::vector<std::uint64_t> quick;  // offsets of the record pages found in quick mode
    };
    const Case cases[] = {
        {"64 MiB after a record page met before any restart page",
         {{0x1000, record}, {0x1000 + Window - 0x1000, record}, {0x1000 + Window, record}},
         {0x1000, 0x1000 + Window - 0x1000}},
        {"a restart page met later replaces that bound by its log size",
         {{0x1000, record},
          {0x3000, logfile_test::Restart_Page({.log_size = 0x10000})},
          {0x3000 + 0xF000, record},
          {0x3000 + 0x10000, record}},
         {0x1000, 0x3000 + 0xF000}},
        {"a later log met before that bound reads on to its own end",
         {{0x3000, logfile_test::Restart_Page({.log_size = 0x10000})},
          {0x9000, logfile_test::Restart_Page({.log_size = 0x20000})},
          {0x9000 + 0x1F000, record},
          {0x9000 + 0x20000, record}},
         {0x9000 + 0x1F000}},
        {"a log size that is no multiple of 4096 still takes the page it ends in",
         {{0x3000, logfile_test::Restart_Page({.log_size = 0x4001})}, {0x7000, record}, {0x8000, record}},
         {0x7000}},
        {"a file with neither page is read to its end", {}, {}},
    };
    for (const Case& c : cases) {
        const std::string path = Sparse_File(dir.File("sparse.bin"), Window + 0x20000, c.pages);
        platform::Read_Only_File file;
        ASSERT_TRUE(file.Open(path));
        for (const bool quick : {false, true}) {
            std::vector<_page_info> scanned;
            Scan_For_Log_Pages(file, quick, scanned);
            std::vector<std::uint64_t> found;
            for (const _page_info& p : scanned) found.push_back(p.FileOffset);
            std::vector<std::uint64_t> all;
            for (const auto& [offset, bytes] : c.pages)
                if (std::memcmp(bytes.data(), "RCRD", 4) == 0) all.push_back(offset);
            EXPECT_EQ(found, quick ? c.quick : all) << c.what << (quick ? " (quick)" : "");
        }
    }
}

TEST_F(Carve_Scan, Files_Without_Pages_Or_That_Cannot_Be_Opened) {
    EXPECT_EQ(Carve_LogFile_Records(context, dir.File("absent"), db, 4, false), 1);
    EXPECT_EQ(context.Hour_Offset, 4);
    EXPECT_EQ(Carve_LogFile_Records(context, dir.Path(), db, 0, false), 1);
    EXPECT_TRUE(Carve(Carving_Image(0)).empty());
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Carve(Carving_Image(0x12345)).empty());
    EXPECT_EQ(result, 0);
}

TEST_F(Carve_Scan, A_Final_Page_Cut_Short_Reads_As_If_Zero_Filled) {
    // The file ends inside a page header: the missing bytes read as zeros,
    // so a field the end cuts keeps its bytes that are there, as the
    // $LogFile reader sees the same page.
    struct Case {
        const char* what;
        Bytes page;
        std::size_t kept;  // bytes of the page in the file
        std::uint64_t last_lsn;
        std::optional<std::uint64_t> log_size;  // of a restart page
    };
    const Case cases[] = {
        {"a whole record page header", logfile_test::Record_Page({.last_lsn = 7}, {}), 0x30, 7, std::nullopt},
        {"a last LSN cut after its fourth byte", logfile_test::Record_Page({.last_lsn = 0x1122334455667788}, {}),
         0x0C, 0x55667788, std::nullopt},
        {"a log size cut after its fourth byte", logfile_test::Restart_Page({.log_size = 0x500010000}), 0x30 + 0x1C, 0,
         0x10000},
    };
    for (const Case& c : cases) {
        Carving_Image cut(0x2000);
        cut.Put(0x2000, std::span(c.page).first(c.kept));
        platform::Read_Only_File file;
        ASSERT_TRUE(file.Open(cut.Write(dir.File("cut.bin"))));
        std::vector<_page_info> carved, read;
        const Carving_Scan scan = Scan_For_Log_Pages(file, false, carved);
        const std::optional<Restart_Info> restart = Scan_LogFile_Pages(file, read);
        if (c.log_size) {
            EXPECT_TRUE(carved.empty()) << c.what;
            ASSERT_TRUE(scan.Logs.at(0).Restart) << c.what;
            EXPECT_EQ(scan.Logs[0].Restart->Log_File_Size, *c.log_size) << c.what;
            ASSERT_TRUE(restart) << c.what;
            EXPECT_EQ(restart->Log_File_Size, *c.log_size) << c.what;
            continue;
        }
        ASSERT_EQ(carved.size(), 1u) << c.what;
        EXPECT_EQ(carved[0].LastLSN, c.last_lsn) << c.what;
        ASSERT_EQ(read.size(), 1u) << c.what;
        EXPECT_EQ(read[0].LastLSN, c.last_lsn) << c.what;
    }
}

// ---- Version 1.1, two restart pages ----

using Carve_V11 = Carving_Fixture;

TEST_F(Carve_V11, A_Whole_Log_Inside_Other_Bytes_Is_Walked_As_The_Reader_Walks_It) {
    const Written_Log log(4, 6, 1);
    Carving_Image image(0x30000);
    image.Put(Base, log.Layout(Log_Version::V11, 16));
    const auto lsns = Carve(image);
    EXPECT_EQ(Replay(Base), Concat(Page_Range(4, 9), {2}));
    EXPECT_EQ(lsns, log.lsns);

    // The reader on the log alone walks the same records.
    Carving_Image alone;
    alone.Put(0, log.Layout(Log_Version::V11, 16));
    Global_Parsing_Context reader;
    std::vector<std::uint64_t> read;
    Parse_LogFile_With(reader, alone.Write(dir.File("LogFile")), db, 0,
                       [](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) {},
                       [&](const _log_info& r, bool) { read.push_back(r.ThisLSN); });
    EXPECT_EQ(read, lsns);
}

TEST_F(Carve_V11, Holes_Of_The_Normal_Area) {
    const Written_Log log(4, 6, 1);
    const auto last_lsn_of = [&](std::size_t page) { return logfile_test::Get_U64(log.pages.at(page), 0x08); };
    struct Case {
        const char* what;
        std::size_t hole;  // the log page changed
        Bytes bytes;
        std::vector<long long> replay;
        bool all_records;
        // The last LSN the hole's entry carries, when it keeps its place without records.
        std::optional<std::uint64_t> carried;
    };
    const Case cases[] = {
        {"a page that lost its magic is found by its records", 6, Without_Magic(log.pages.at(6)),
         Concat(Page_Range(4, 9), {2}), true, std::nullopt},
        // The entry carries the last LSN of the scanned page before it.
        {"a page without records keeps its place", 6, Bytes(4096, 0), Concat(Page_Range(4, 9), {2}), false,
         last_lsn_of(5)},
        // Before any page was carried, that of the last page the scan listed,
        // which puts it after the run of pages 5 to 9.
        {"a first normal page without records takes the last scanned page's LSN", 4, Bytes(4096, 0),
         Concat(Page_Range(5, 9), {4, 2}), false, last_lsn_of(9)},
        {"an unwritten page gets no entry", 6, Bytes(4096, 0xFF), {4, 5, 7, 8, 9, 2}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        Carving_Image image(0x30000);
        image.Put(Base, log.Layout(Log_Version::V11, 16).Page(c.hole, c.bytes));
        const auto lsns = Carve(image);
        EXPECT_EQ(Replay(Base), c.replay) << c.what;
        if (c.all_records) {
            EXPECT_EQ(lsns, log.lsns) << c.what;
        }
        if (c.carried) {
            const _page_info& entry = context.Record_Page_Array[c.hole - 4];
            EXPECT_EQ(entry.FileOffset, Base + c.hole * 4096) << c.what;
            EXPECT_EQ(entry.LastLSN, *c.carried) << c.what;
            // The walk goes on after the hole with the records of the pages after it.
            EXPECT_LT(lsns.size(), log.lsns.size()) << c.what;
            EXPECT_EQ(lsns.back(), log.lsns.back()) << c.what;
        }
    }
}

// A record that runs from the last written page of the normal area into
// the first page never written gives no row: its rest is not there. The
// walk goes on with the buffer page after the normal area.
TEST_F(Carve_V11, A_Record_Running_Into_An_Unwritten_Page_Is_Left_Unfinished) {
    const Written_Log log(4, 3, 1);
    const Bytes& last_written = log.pages.at(6);
    const std::uint64_t running_on = logfile_test::Get_U64(last_written, 0x08);
    ASSERT_NE(logfile_test::Get_U64(last_written, 0x20), running_on);  // it ends on the next page
    Carving_Image image(0x40000);
    image.Put(Base, log.Layout(Log_Version::V11, 10));
    const auto lsns = Carve(image);
    EXPECT_EQ(Replay(Base), (std::vector<long long>{4, 5, 6, 2}));
    std::vector<std::uint64_t> expected = log.lsns;
    std::erase(expected, running_on);
    EXPECT_EQ(lsns, expected);
}

TEST_F(Carve_V11, The_Buffer_Page_Replayed_Last) {
    const Written_Log log(4, 6, 1);
    const Bytes& newest = log.pages.at(2);  // the page being written
    const Bytes& older = log.pages.at(3);   // a copy of page 9
    struct Case {
        const char* what;
        Bytes page_2, page_3;
        long long last;  // log page replayed after the normal area, -1 for none
    };
    const Case cases[] = {
        {"both scanned: the one that ends later", newest, older, 2},
        {"both scanned, the older first", older, newest, 3},
        {"both end before the normal area", older, older, -1},
        {"page 2 lost: read and valued by its last whole record", Without_Magic(newest), older, 2},
        {"page 3 lost: read", newest, Without_Magic(older), 2},
        {"page 3 read wins a tie against scanned page 2", newest, Without_Magic(newest), 3},
        {"both lost: both read", Without_Magic(newest), Without_Magic(older), 2},
        {"page 2 lost and empty: scanned page 3 alone must end late enough", Bytes(4096, 0), older, -1},
        {"page 3 lost and empty: scanned page 2 alone", newest, Bytes(4096, 0), 2},
        {"both lost, one with records: taken unvalued", Bytes(4096, 0), Without_Magic(older), 3},
    };
    for (const Case& c : cases) {
        Carving_Image image(0x30000);
        image.Put(Base, log.Layout(Log_Version::V11, 16).Page(2, c.page_2).Page(3, c.page_3));
        Carve(image);
        std::vector<long long> expected = Page_Range(4, 9);
        if (c.last >= 0) expected.push_back(c.last);
        EXPECT_EQ(Replay(Base), expected) << c.what;
    }
}

TEST_F(Carve_V11, The_Normal_Area_Never_Reaches_Past_The_File) {
    const Written_Log log(4, 6, 1);
    struct Case {
        const char* what;
        std::uint64_t claimed;
        std::size_t image_size;
        std::vector<long long> normal;
    };
    // The file ends 39 pages after the log's start; the pages after the log's
    // own 16 are other bytes that the claimed size takes in.
    const auto to_file_end = Concat(Page_Range(4, 9), Page_Range(16, 38));
    const Case cases[] = {
        {"a log size far beyond the file", std::uint64_t{1} << 62, 0x30000, to_file_end},
        {"the largest log size", UINT64_MAX, 0x30000, to_file_end},
        {"a file that ends inside the log", 0x100000, Base + 8 * 4096 + 100, Page_Range(4, 8)},
        {"a log size that ends the area early", 7 * 4096, 0x30000, Page_Range(4, 6)},
        {"a log size below one page", 100, 0x30000, {}},
    };
    for (const Case& c : cases) {
        Carving_Image image;
        image.Put(Base, log.Layout(Log_Version::V11, 16).Claimed_Size(c.claimed));
        Carving_Image cut;
        cut.Put(0, std::span(image.Data()).first(std::min(image.Size(), c.image_size)));
        cut.Grow(c.image_size);
        Carve(cut);
        EXPECT_EQ(Pages_From(context.Record_Page_Array, Base), c.normal) << c.what;
    }
}

}  // namespace
