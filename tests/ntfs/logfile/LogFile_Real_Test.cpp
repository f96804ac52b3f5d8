// The walk over real Windows logs, compared with an independent parser's
// list of every log record (dfir_ntfs 1.1.20, in each folder's oracle/).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "db/CppSQLite3.h"
#include "ntfs/logfile/Parse_LogFile.h"
#include "ntfs/mft/Parse_MFT.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "support/Temp_Dir.h"

namespace {

const std::string Real = TREVALON_REAL_DATA_DIR;

// The first column (LSN) of every line of an oracle listing.
std::set<std::uint64_t> Listed_Lsns(const std::string& path) {
    std::set<std::uint64_t> lsns;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line))
        if (!line.empty()) lsns.insert(std::stoull(line.substr(0, line.find('\t'))));
    return lsns;
}

struct Real_Log {
    const char* log;
    const char* listing;
    // What the walk yields today: distinct LSNs, and those not in the listing.
    std::size_t visited;
    std::size_t unlisted;
};

class LogFile_Real : public ::testing::TestWithParam<Real_Log> {};

TEST_P(LogFile_Real, Walk_Covers_The_Listing) {
    const Real_Log& c = GetParam();
    const std::string log = Real + "/" + c.log;
    const std::string listing = Real + "/" + c.listing;
    if (!std::filesystem::exists(log) || !std::filesystem::exists(listing))
        GTEST_SKIP() << "real sample not present: " << log;

    Temp_Dir dir;
    CppSQLite3DB db;
    db.Open_With_Pragmas(dir.File("out.db"));
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    std::set<std::uint64_t> visited;
    std::size_t analysed = 0;
    const int result = Parse_LogFile_With(
        context, log, db, 0,
        [&](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) { ++analysed; },
        [&](const _log_info& record, bool) { visited.insert(record.ThisLSN); });
    ASSERT_EQ(result, 0);

    const std::set<std::uint64_t> listed = Listed_Lsns(listing);
    ASSERT_FALSE(listed.empty());
    std::size_t covered = 0;
    std::vector<std::uint64_t> unlisted;
    for (const std::uint64_t lsn : visited) {
        if (listed.count(lsn))
            ++covered;
        else
            unlisted.push_back(lsn);
    }
    EXPECT_GT(static_cast<double>(covered), 0.95 * static_cast<double>(listed.size()));
    EXPECT_EQ(covered, listed.size()) << "every listed record is walked";
    EXPECT_EQ(visited.size(), c.visited);
    EXPECT_EQ(unlisted.size(), c.unlisted);
    // The records the listing lacks never lie inside a stretch of it: they
    // come before the first listed record of a pass of the circular log (an
    // earlier pass kept in buffer pages, the checkpoint record opening the
    // first normal page, the first records of a page where the listing
    // starts later). Two listed LSNs of the same 2^24 block around an
    // unlisted one would mean a junk record in the middle of the log.
    for (const std::uint64_t lsn : unlisted) {
        const auto next = listed.upper_bound(lsn);
        if (next == listed.begin() || next == listed.end()) continue;
        EXPECT_NE(*std::prev(next) >> 24, *next >> 24) << lsn << " lies between " << *std::prev(next) << " and " << *next;
    }
    EXPECT_GE(analysed, visited.size());  // no record lost its analysis on these logs
}

INSTANTIATE_TEST_SUITE_P(
    Windows, LogFile_Real,
    ::testing::Values(
        Real_Log{"win10-20h1-volume/LogFile", "win10-20h1-volume/oracle/dfir_ntfs_logfile.tsv", 5784, 242},
        Real_Log{"tiny-volume-2013/LogFile", "tiny-volume-2013/oracle/dfir_ntfs_logfile.tsv", 796, 1},
        Real_Log{"dfir-ntfs-logfile/LogFile_7.bin", "dfir-ntfs-logfile/oracle/LogFile_7.dfir_ntfs.tsv", 779, 1},
        Real_Log{"dfir-ntfs-logfile/LogFile_10.bin", "dfir-ntfs-logfile/oracle/LogFile_10.dfir_ntfs.tsv", 535, 255},
        Real_Log{"dfir-ntfs-logfile/LogFile_10_downgraded.bin",
                 "dfir-ntfs-logfile/oracle/LogFile_10_downgraded.dfir_ntfs.tsv", 491, 220},
        Real_Log{"dfir-ntfs-logfile/LogFile_10_large.bin", "dfir-ntfs-logfile/oracle/LogFile_10_large.dfir_ntfs.tsv",
                 405, 1}),
    [](const ::testing::TestParamInfo<Real_Log>& info) {
        std::string name = info.param.log;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(LogFile_Real_Empty, A_Log_Of_Unwritten_Pages_Has_No_Restart_Pages) {
    const std::string log = Real + "/dfir-ntfs-logfile/LogFile_empty.bin";
    if (!std::filesystem::exists(log)) GTEST_SKIP() << "real sample not present: " << log;
    Temp_Dir dir;
    CppSQLite3DB db;
    db.Open_With_Pragmas(dir.File("out.db"));
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    std::ostringstream console, messages;
    platform::Scoped_Output capture(console, messages);
    EXPECT_EQ(Parse_LogFile(context, log, db, 0), 2);
    EXPECT_EQ(messages.str(), "");
    EXPECT_TRUE(context.LogFile_Row_Array.empty());
}

// With the matching $MFT, a record whose LSN is the one stored in a FILE
// record becomes a row with that entry's name, path and shifted times.
struct Volume {
    const char* folder;
    std::uint64_t lsn;
    const char* name;
    const char* path;
    const char* create, *modified, *mft_modified, *access;  // +9 hours
};

class LogFile_Real_With_MFT : public ::testing::TestWithParam<Volume> {};

TEST_P(LogFile_Real_With_MFT, Rows_Name_The_Entries_Last_Changed_By_Their_Record) {
    const Volume& v = GetParam();
    const std::string folder = Real + "/" + v.folder;
    if (!std::filesystem::exists(folder + "/LogFile") || !std::filesystem::exists(folder + "/MFT"))
        GTEST_SKIP() << "real sample not present: " << folder;
    Temp_Dir dir;
    CppSQLite3DB db;
    db.Open_With_Pragmas(dir.File("out.db"));
    db.Run_Query(Event_Table_Sql::Create_LogFile);
    Global_Parsing_Context context;
    Parse_MFT(context, folder + "/MFT");
    ASSERT_FALSE(context.Mft.Empty()) << "no entries read from " << folder << "/MFT";

    std::set<std::uint64_t> visited;
    ASSERT_EQ(Parse_LogFile_With(
                  context, folder + "/LogFile", db, 9,
                  [&](const Log_Record_Header&, _log_info&, const _log_info&, const Client_Data_View&) {},
                  [&](const _log_info& record, bool) { visited.insert(record.ThisLSN); }),
              0);

    // One row per walked LSN that the oracle's $MFT listing names.
    std::set<std::uint64_t> mft_lsns;
    std::ifstream in(folder + "/oracle/dfir_ntfs_mft.csv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::string source, reference, in_use, directory, lsn, path;
        std::getline(fields, source, ',');
        std::getline(fields, reference, ',');
        std::getline(fields, in_use, ',');
        std::getline(fields, directory, ',');
        std::getline(fields, lsn, ',');
        std::getline(fields, path, ',');
        // Records without a name (never used, or reserved) are not indexed.
        if (source == "File record" && !lsn.empty() && !path.empty()) mft_lsns.insert(std::stoull(lsn));
    }
    std::size_t expected = 0;
    for (const std::uint64_t lsn : visited) expected += mft_lsns.count(lsn);
    CppSQLite3Table all = db.Fetch_Table("select count(*) from LogFile");
    all.Select_Row(0);
    EXPECT_EQ(std::stoull(all.Text_At(0)), expected);
    EXPECT_GT(expected, 10u);

    CppSQLite3Table row = db.Fetch_Table(
        "select FileName, FullPath, CreateTime, ModifiedTIme, MFT_ModifiedTime, AccessTime, EventTime from LogFile "
        "where LSN=" + std::to_string(v.lsn));
    ASSERT_EQ(row.Row_Count(), 1);
    row.Select_Row(0);
    EXPECT_STREQ(row.Text_At(0), v.name);
    EXPECT_STREQ(row.Text_At(1), v.path);
    EXPECT_STREQ(row.Text_At(2), v.create);
    EXPECT_STREQ(row.Text_At(3), v.modified);
    EXPECT_STREQ(row.Text_At(4), v.mft_modified);
    EXPECT_STREQ(row.Text_At(5), v.access);
    EXPECT_STREQ(row.Text_At(6), "");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, LogFile_Real_With_MFT,
    ::testing::Values(Volume{"win10-20h1-volume", 67159271, "test_dir", "\\test_dir", "2020-07-25 21:33:06",
                             "2020-07-25 21:35:10", "2020-07-25 21:35:10", "2020-07-25 21:35:25"},
                      Volume{"tiny-volume-2013", 1068435, "file1.txt", "\\file1.txt", "2013-05-01 18:22:03",
                             "2013-04-28 19:17:38", "2013-05-01 18:22:03", "2013-05-01 18:22:03"}),
    [](const ::testing::TestParamInfo<Volume>& info) {
        std::string name = info.param.folder;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

}  // namespace
