// Carved files that hold more than one $LogFile (a disk image of two volumes,
// two extracted logs put together): each run of restart pages starts a log of
// its own, rebuilt from its own restart pages, and carving the file gives
// what reading each log gives.
#include <filesystem>
#include <fstream>
#include <map>

#include "carving/Carving_Test_Support.h"
#include "support/Log_Record_Builder.h"
#include "support/Run_Harness.h"
#include "support/Sqlite_Query.h"

namespace {

using namespace carving_test;
namespace fs = std::filesystem;
namespace lr = log_record_test;

constexpr std::size_t Page = 4096;

// The record an analysis test would build, as the page layer lays it.
logfile_test::Log_Record Laid(const lr::Log_Record& r) {
    logfile_test::Log_Record out{.record_type = r.record_type,
                                 .transaction_id = r.transaction_id,
                                 .redo_operation = r.redo_operation,
                                 .undo_operation = r.undo_operation,
                                 .target_attribute = 0x18,
                                 .record_offset = r.record_offset,
                                 .attribute_offset = r.attribute_offset,
                                 .cluster_index = r.cluster_index,
                                 .target_vcn = r.target_vcn};
    out.redo = r.redo;
    out.undo = r.undo;
    return out;
}

// The creation of FILE record `entry` named `name` in the root: a row.
logfile_test::Log_Record Creation(std::uint64_t entry, const std::u16string& name) {
    const lr::Times times;
    return Laid(lr::Initialize_File_Record(
        lr::Place_Of(entry), lr::File_Record_Image({lr::Standard_Information(times, 0x20),
                                                    lr::File_Name_Attribute(lr::Root_Reference, name)})));
}

std::u16string Numbered(const std::u16string& tag, std::size_t n) {
    const std::string digits = std::to_string(n);
    return tag + std::u16string(digits.begin(), digits.end()) + u".txt";
}

// Records filling `pages` pages and about half of one more: the first a
// creation named `first`, then Noops of `noop_size` bytes with a creation
// (named by `tag` and its place) every `every` records.
std::vector<logfile_test::Log_Record> Records(const std::u16string& first, const std::u16string& tag,
                                              std::size_t pages, std::size_t every, std::size_t noop_size,
                                              std::uint64_t first_entry) {
    std::vector<logfile_test::Log_Record> records{Creation(first_entry, first)};
    const auto noops = Plain_Records(every, noop_size);
    std::size_t bytes = records[0].Encode().size();
    for (std::size_t i = 1; bytes < pages * (Page - 0x40) + 2000; ++i) {
        records.push_back(i % every == 0 ? Creation(first_entry + i, Numbered(tag, i)) : noops[i % every]);
        bytes += records.back().Encode().size();
    }
    return records;
}

// A log as Windows leaves it: streams of records laid from the start of a
// given log page each (the writer went on at a new page after a flush), the
// last page of the last stream the page being written (in buffer page 2 only,
// its place in the normal area never written), buffer page 3 an older copy.
struct Built_Log {
    Bytes image;
    std::size_t written_pages = 0;  // the normal pages laid
};

Built_Log Build_Log(Log_Version version, std::size_t page_count, std::uint32_t sequence_bits, std::uint64_t sequence,
                    const std::vector<std::pair<std::size_t, std::vector<logfile_test::Log_Record>>>& streams) {
    Log_Layout layout(version, page_count, sequence_bits);
    Built_Log log;
    Bytes being_written, older;
    for (std::size_t s = 0; s < streams.size(); ++s) {
        const auto& [first_page, records] = streams[s];
        const Laid_Log laid = Lay_Numbered(records, sequence, first_page, 64 - sequence_bits);
        const std::size_t normal = s + 1 == streams.size() ? laid.pages.size() - 1 : laid.pages.size();
        for (std::size_t i = 0; i < normal; ++i) layout.Page(first_page + i, laid.pages[i]);
        log.written_pages += normal;
        if (s + 1 == streams.size()) {
            being_written = laid.pages.back();
            older = laid.pages[laid.pages.size() >= 3 ? laid.pages.size() - 3 : 0];
        }
    }
    layout.Page(2, being_written).Page(3, older);
    log.image = layout.Image();
    return log;
}

// Log A: version 1.1, 40 pages, 40-bit sequence numbers (shift 24), sequence
// 3; normal pages 4 to 37, a flush before page 34. Log B: version 2.0, 44
// pages, 44-bit sequence numbers (shift 20), sequence 48; normal pages 34 to
// 40. Both logs begin page 34 with a creation of the same size, so the two
// records have the same LSN, (3 << 24) | (34 * 4096 + 0x40) / 8, and another
// name.
Built_Log Log_A() {
    return Build_Log(Log_Version::V11, 40, 40, 3,
                     {{4, Records(u"A-first.txt", u"A", 29, 4, 0x98, 100)},
                      {34, Records(u"shared-A.txt", u"A", 4, 5, 0x98, 300)}});
}
Built_Log Log_B() {
    return Build_Log(Log_Version::V20, 44, 44, 48, {{34, Records(u"shared-B.txt", u"B", 7, 3, 0xA0, 500)}});
}
constexpr std::uint64_t Shared_Lsn = (std::uint64_t{3} << 24) | ((34 * Page + 0x40) / 8);

std::uint64_t Lsn_Of(const std::string& row) { return std::stoull(row.substr(0, row.find('|'))); }

// The LogFile table, by LSN, of the whole program run with `args` into the
// folder `out` of `dir`.
std::vector<std::string> LogFile_Table(const Temp_Dir& dir, std::vector<std::string> args, const std::string& out) {
    args.insert(args.end(), {"-o", dir.Make_Dir(out), "-t", "0"});
    EXPECT_EQ(Run_Program(args).Exit_Code, 0) << out;
    return Query_Rows(dir.File(out) + "/QVM_" + Pinned_Stamp + ".db", "select * from LogFile order by LSN");
}

using Carve_Several_Logs = Carving_Fixture;

TEST_F(Carve_Several_Logs, Each_Log_Is_Walked_As_When_Carved_Alone) {
    const Built_Log a = Log_A(), b = Log_B();
    ASSERT_EQ(a.written_pages, 34u);
    ASSERT_EQ(b.written_pages, 7u);
    const auto alone = [&](const Bytes& log) { return Carve(Carving_Image().Put(0, log)); };
    const auto walk_a = alone(a.image), walk_b = alone(b.image);
    ASSERT_GT(walk_a.size(), 500u);
    ASSERT_GT(walk_b.size(), 100u);
    const auto joined = [](std::vector<std::uint64_t> first, const std::vector<std::uint64_t>& second) {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    };
    const auto a_then_b = joined(walk_a, walk_b), b_then_a = joined(walk_b, walk_a);
    // A log whose restart pages claim more than its pages reaches no further
    // than the next log's first restart page.
    Bytes a_claims_more = a.image;
    for (std::size_t restart = 0; restart < 2; ++restart)
        logfile_test::Put_U64(a_claims_more, restart * Page + 0x30 + 0x18, 0x100000);
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint64_t, const Bytes*>> logs;  // where each lies
        std::size_t size;
        std::vector<std::uint64_t> walked;
    };
    const Case cases[] = {
        {"A then B", {{0, &a.image}, {a.image.size(), &b.image}}, 0, a_then_b},
        {"B then A", {{0, &b.image}, {b.image.size(), &a.image}}, 0, b_then_a},
        {"A, 512 other bytes, B", {{0, &a.image}, {a.image.size() + 512, &b.image}}, 0, a_then_b},
        {"B, 512 other bytes, A, other bytes", {{0x3000, &b.image}, {0x3000 + b.image.size() + 512, &a.image}},
         0x3000 + a.image.size() + b.image.size() + 0x7200, b_then_a},
        {"A claiming a larger log, 512 other bytes, B",
         {{0, &a_claims_more}, {a.image.size() + 512, &b.image}}, 0, a_then_b},
    };
    for (const Case& c : cases) {
        Carving_Image image(c.size);
        for (const auto& [at, log] : c.logs) image.Put(at, *log);
        const auto lsns = Carve(image);
        EXPECT_EQ(lsns.size(), c.walked.size()) << c.what;
        EXPECT_EQ(lsns, c.walked) << c.what;
    }
}

TEST(Carve_Several_Logs_Rows, Carving_Gives_The_Rows_Reading_Each_Log_Gives) {
    Temp_Dir dir;
    const Built_Log a = Log_A(), b = Log_B();
    const auto rows = [&](const std::vector<std::string>& args, const std::string& out) {
        return LogFile_Table(dir, args, out);
    };
    Carving_Image(0).Put(0, a.image).Write(dir.File("A.log"));
    Carving_Image(0).Put(0, b.image).Write(dir.File("B.log"));
    const auto rows_a = rows({"-l", dir.File("A.log")}, "read-A");
    const auto rows_b = rows({"-l", dir.File("B.log")}, "read-B");
    ASSERT_GT(rows_a.size(), 100u);
    ASSERT_GT(rows_b.size(), 40u);
    // Both logs hold a row of the shared LSN, with another name.
    const auto row_of = [](const std::vector<std::string>& table, std::uint64_t lsn) {
        for (const std::string& row : table)
            if (Lsn_Of(row) == lsn) return row;
        return std::string();
    };
    ASSERT_NE(row_of(rows_a, Shared_Lsn).find("shared-A.txt"), std::string::npos);
    ASSERT_NE(row_of(rows_b, Shared_Lsn).find("shared-B.txt"), std::string::npos);

    // The rows of the log that comes first in the file, then those of the
    // other whose LSN is not stored yet: a row of a stored LSN is refused.
    const auto merged = [&](const std::vector<std::string>& first, const std::vector<std::string>& second) {
        std::map<std::uint64_t, std::string> by_lsn;
        for (const std::string& row : first) by_lsn.emplace(Lsn_Of(row), row);
        for (const std::string& row : second) by_lsn.emplace(Lsn_Of(row), row);
        std::vector<std::string> table;
        for (const auto& [lsn, row] : by_lsn) table.push_back(row);
        return table;
    };
    struct Case {
        const char* what;
        const Bytes& first;
        const Bytes& second;
        std::size_t between;  // other bytes between the logs
        const std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"A then B", a.image, b.image, 0, merged(rows_a, rows_b)},
        {"B then A", b.image, a.image, 0, merged(rows_b, rows_a)},
        {"A, 512 other bytes, B", a.image, b.image, 512, merged(rows_a, rows_b)},
        {"B, 512 other bytes, A", b.image, a.image, 512, merged(rows_b, rows_a)},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string source = dir.Make_Dir("source-" + std::to_string(n));
        Carving_Image image;
        image.Put(0, c.first).Put(c.first.size() + c.between, c.second).Write(source + "/image.bin");
        const auto carved = rows({"-s", source, "-g"}, "carved-" + std::to_string(n++));
        EXPECT_EQ(carved.size(), c.expected.size()) << c.what;
        EXPECT_EQ(carved, c.expected) << c.what;
    }
}

// ---- Real logs ----

TEST(Carve_Several_Logs_Real, A_Volume_Image_And_An_Extracted_Log_In_One_File) {
    const std::string real = TREVALON_REAL_DATA_DIR;
    const std::string image = real + "/tiny-volume-2013/partition.dd";   // a 1.1 log at a sector offset
    const std::string tiny_log = real + "/tiny-volume-2013/LogFile";
    const std::string win10_log = real + "/win10-20h1-volume/LogFile";   // a 2.0 log
    for (const std::string& path : {image, tiny_log, win10_log})
        if (!fs::exists(path)) GTEST_SKIP() << "real sample not present: " << path;
    Temp_Dir dir;
    const auto rows = [&](const std::vector<std::string>& args, const std::string& out) {
        return LogFile_Table(dir, args, out);
    };
    std::map<std::uint64_t, std::string> expected;
    for (const auto& [log, out] : {std::pair{tiny_log, "read-tiny"}, std::pair{win10_log, "read-win10"}})
        for (const std::string& row : rows({"-l", log}, out)) expected.emplace(Lsn_Of(row), row);
    ASSERT_GT(expected.size(), 250u);

    // The image, 512 other bytes, the extracted log.
    const std::string source = dir.Make_Dir("source");
    {
        std::ofstream out(source + "/two-volumes.bin", std::ios::binary);
        std::ifstream first(image, std::ios::binary), second(win10_log, std::ios::binary);
        out << first.rdbuf() << std::string(512, '\x5A') << second.rdbuf();
    }
    std::vector<std::string> merged;
    for (const auto& [lsn, row] : expected) merged.push_back(row);
    EXPECT_EQ(rows({"-s", source, "-g"}, "carved"), merged);
}

}  // namespace
