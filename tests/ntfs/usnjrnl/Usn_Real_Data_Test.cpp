// The reader and the carver over change journals written by Windows, checked
// against Windows' own listing (fsutil) and listings of independent parsers.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/Parsing_Context.h"
#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "ntfs/usnjrnl/Usn_Test_Support.h"
#include "platform/text.h"
#include "support/Run_Harness.h"
#include "support/Temp_Dir.h"

using usn_test::Output_Db;

namespace {

std::string Real(const std::string& relative) { return std::string(TREVALON_REAL_DATA_DIR) + "/" + relative; }

#define REQUIRE_REAL_FILE(relative)                                                              \
    do {                                                                                         \
        if (!std::filesystem::exists(Real(relative)))                                            \
            GTEST_SKIP() << "real sample " << Real(relative) << " is not there; test skipped"; \
    } while (0)

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

// The words of `value`, in the table's order, joined by " / ".
std::string Expected_Words(std::uint32_t value, const std::vector<usn_test::Bit_Word>& table) {
    std::u16string text;
    for (const auto& e : table)
        if (value & e.bit) text += (text.empty() ? u"" : u" / ") + std::u16string(e.word);
    return platform::Utf16_To_Utf8(text);
}

// A UTC calendar time moved by whole hours, as "YYYY-MM-DD HH:MM:SS".
std::string Shifted(int year, unsigned month, unsigned day, int hour, int minute, int second, int hours) {
    using namespace std::chrono;
    const sys_seconds t = sys_days(std::chrono::year(year) / month / day) + std::chrono::hours(hour + hours) +
                          minutes(minute) + seconds(second);
    const auto day_point = floor<days>(t);
    const year_month_day ymd(day_point);
    const hh_mm_ss<seconds> hms(t - day_point);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()));
    return text;
}

struct Row {
    std::string Usn, Time_Stamp, File_Name, Full_Path, Event, Source_Info, File_Attr, Carving_Flag, Reference, Parent;
};

std::map<std::string, Row> Rows_By_Usn(const Output_Db& out) {
    std::map<std::string, Row> rows;
    for (const std::string& line : out.Rows()) {
        const auto f = Split(line, '|');
        EXPECT_EQ(f.size(), 10u) << line;
        if (f.size() != 10) continue;
        rows[f[0]] = Row{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]};
    }
    return rows;
}

// One record of `fsutil usn readjournal`: "Key   : value" lines.
using Fsutil_Record = std::map<std::string, std::string>;

std::vector<Fsutil_Record> Read_Fsutil_Listing(const std::string& path) {
    std::vector<Fsutil_Record> records;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    Fsutil_Record current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(" : ");
        if (line.empty() || colon == std::string::npos || line[0] == ' ') {
            if (line.empty() && current.count("Usn")) records.push_back(current);
            if (line.empty()) current.clear();
            continue;
        }
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(' ') + 1);
        // A range-tracking record's extent lines run into the next record
        // without a blank line.
        if (key == "Usn" && current.count("Usn")) {
            records.push_back(current);
            current.clear();
        }
        current[key] = line.substr(colon + 3);
    }
    if (current.count("Usn")) records.push_back(current);
    return records;
}

// fsutil's words for the bits the journal uses, in the table's words.
const std::map<std::string, std::string> Fsutil_Reason_Words = {
    {"File create", "File_Created"},         {"Data extend", "Data_Added"},
    {"Data overwrite", "Data_Overwritten"},  {"Data truncation", "Data_Truncated"},
    {"Rename: old name", "File_Renamed_Old"}, {"Rename: new name", "File_Renamed_New"},
    {"Basic info change", "Basic_Info_Changed"}, {"Object ID change", "Object_ID_Changed"},
    {"Close", "File_Closed"},
};
const std::map<std::string, std::string> Fsutil_Attribute_Words = {
    {"Archive", "Archive"}, {"Directory", "Directory"}, {"Hidden", "Hidden"}, {"System", "System"}};

std::set<std::string> Word_Set(const std::string& text, const std::string& separator,
                               const std::map<std::string, std::string>* translate = nullptr) {
    std::set<std::string> words;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const auto end = text.find(separator, start);
        const std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        words.insert(translate ? (translate->count(word) ? translate->at(word) : "?" + word) : word);
        if (end == std::string::npos) break;
        start = end + separator.size();
    }
    return words;
}

TEST(Usn_Real_Data, Windows_Journal_Agrees_With_Fsutil) {
    REQUIRE_REAL_FILE("dfir-ntfs-usn/usnjrnlj.bin");
    REQUIRE_REAL_FILE("dfir-ntfs-usn/usnjrnlj.fsutil.txt");
    Temp_Dir dir;
    Output_Db out(dir);
    Global_Parsing_Context context;
    const int hours = -5;  // as with -t -5
    Parse_UsnJrnl(context, Real("dfir-ntfs-usn/usnjrnlj.bin"), out.Db(), hours);
    const auto rows = Rows_By_Usn(out);
    // 264 version 2.0 records; the 7 version 4 records among them give none.
    ASSERT_EQ(rows.size(), 264u);

    const auto listing = Read_Fsutil_Listing(Real("dfir-ntfs-usn/usnjrnlj.fsutil.txt"));
    ASSERT_EQ(listing.size(), 268u);
    std::set<std::string> compared;
    int version_4 = 0;
    for (const Fsutil_Record& f : listing) {
        const std::string usn = f.at("Usn");
        if (f.at("Major version") == "4") {
            // Range-tracking records: skipped, and the records after them are
            // still read (they are among the compared ones).
            ++version_4;
            EXPECT_EQ(rows.count(usn), 0u) << usn;
            continue;
        }
        ASSERT_EQ(rows.count(usn), 1u) << "USN " << usn << " missing";
        const Row& r = rows.at(usn);
        SCOPED_TRACE("USN " + usn);
        EXPECT_EQ(r.File_Name, f.at("File name"));

        const std::string& reason = f.at("Reason");  // "0x80000100: File create | Close"
        EXPECT_EQ(r.Event, Expected_Words(std::stoul(reason.substr(0, 10), nullptr, 16), usn_test::Reason_Words));
        EXPECT_EQ(Word_Set(r.Event, " / "), Word_Set(reason.substr(12), " | ", &Fsutil_Reason_Words));
        const std::string& attributes = f.at("File attributes");
        EXPECT_EQ(r.File_Attr,
                  Expected_Words(std::stoul(attributes.substr(0, 10), nullptr, 16), usn_test::Attribute_Words));
        EXPECT_EQ(Word_Set(r.File_Attr, " / "), Word_Set(attributes.substr(12), " | ", &Fsutil_Attribute_Words));

        int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
        ASSERT_EQ(std::sscanf(f.at("Time stamp").c_str(), "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute,
                              &second),
                  6);
        EXPECT_EQ(r.Time_Stamp, Shifted(year, month, day, hour, minute, second, hours));

        // fsutil prints 128-bit file IDs; a version 2 record holds their low 64 bits.
        const auto low_64 = [](std::string id) {
            id = id.substr(16);
            for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return "0x" + id;
        };
        EXPECT_EQ(r.Reference, low_64(f.at("File ID")));
        EXPECT_EQ(r.Parent, low_64(f.at("Parent file ID")));
        EXPECT_EQ(r.Source_Info, "Normal");
        EXPECT_EQ(r.Carving_Flag, "");
        compared.insert(usn);
    }
    EXPECT_EQ(version_4, 7);
    EXPECT_EQ(compared.size(), 261u);
    // The three records written after fsutil ran.
    std::set<std::string> not_listed;
    for (const auto& [usn, row] : rows)
        if (!compared.count(usn)) not_listed.insert(usn);
    EXPECT_EQ(not_listed, (std::set<std::string>{"29792", "29880", "29968"}));
    // The first record of every journal has USN 0.
    EXPECT_EQ(rows.begin()->second.Usn, "0");
    EXPECT_EQ(rows.at("0").File_Name, "New folder");
    EXPECT_EQ(rows.at("0").Full_Path, "\\New folder");
}

struct Tsk_Record {
    std::string Name;
    std::uint32_t Reason = 0;
    std::uint32_t Attributes = 0;
};

TEST(Usn_Real_Data, Windows_10_Volume_Journal_With_And_Without_Its_Mft) {
    REQUIRE_REAL_FILE("win10-20h1-volume/UsnJrnl_J");
    REQUIRE_REAL_FILE("win10-20h1-volume/MFT");
    REQUIRE_REAL_FILE("win10-20h1-volume/oracle/tsk_usnjls_m.txt");
    Temp_Dir dir;
    Output_Db plain(dir, "plain.db");
    Global_Parsing_Context context;
    Parse_UsnJrnl(context, Real("win10-20h1-volume/UsnJrnl_J"), plain.Db(), 0);
    const auto rows = Rows_By_Usn(plain);
    ASSERT_EQ(rows.size(), 188u);

    // The Sleuth Kit's usnjls listing: version|length|ref|parent|USN|time|reason|source|security|attributes|name.
    std::ifstream tsk(Real("win10-20h1-volume/oracle/tsk_usnjls_m.txt"));
    std::string line;
    int listed = 0;
    while (std::getline(tsk, line)) {
        const auto f = Split(line, '|');
        ASSERT_EQ(f.size(), 11u) << line;
        ++listed;
        ASSERT_EQ(rows.count(f[4]), 1u) << "USN " << f[4];
        const Row& r = rows.at(f[4]);
        EXPECT_EQ(r.File_Name, f[10]) << f[4];
        EXPECT_EQ(r.Event, Expected_Words(std::stoul(f[6]), usn_test::Reason_Words)) << f[4];
        EXPECT_EQ(r.File_Attr, Expected_Words(std::stoul(f[9]), usn_test::Attribute_Words)) << f[4];
        // Without an $MFT only children of the root have a path.
        const bool under_root = f[3].rfind("5-", 0) == 0;
        EXPECT_EQ(r.Full_Path, under_root ? "\\" + f[10] : "") << f[4];
    }
    EXPECT_EQ(listed, 188);
    EXPECT_EQ(rows.at("0").Time_Stamp, "2020-07-25 12:25:52");
    EXPECT_EQ(rows.at("0").File_Name, "SPP");

    // With the volume's $MFT every record under an indexed parent gets the
    // parent's path and its own name.
    ASSERT_EQ(Parse_MFT(context, Real("win10-20h1-volume/MFT")), 0);
    Output_Db with_mft(dir, "mft.db");
    Parse_UsnJrnl(context, Real("win10-20h1-volume/UsnJrnl_J"), with_mft.Db(), 0);
    const auto resolved = Rows_By_Usn(with_mft);
    ASSERT_EQ(resolved.size(), 188u);
    std::map<std::string, int> paths;
    int with_path = 0;
    for (const auto& [usn, r] : resolved) {
        if (!r.Full_Path.empty()) ++with_path;
        ++paths[r.Full_Path];
    }
    EXPECT_EQ(resolved.at("0").Full_Path, "\\System Volume Information\\SPP");
    EXPECT_EQ(paths["\\test_dir\\file_1.txt"], 6);
    EXPECT_EQ(paths["\\test_dir_2\\file_2_1.txt"], 6);
    EXPECT_GT(paths["\\test_dir\\New Text Document.txt"], 0);  // the name before its rename
    EXPECT_EQ(with_path, 188);

    // dfir_ntfs builds its path from the file's own $MFT entry: where that
    // entry still carries the record's name, both paths must agree.
    std::ifstream dfir(Real("win10-20h1-volume/oracle/dfir_ntfs_usn.csv"));
    ASSERT_TRUE(dfir) << "oracle/dfir_ntfs_usn.csv missing";
    std::getline(dfir, line);  // header
    int agreeing = 0;
    while (std::getline(dfir, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto f = Split(line, ',');
        ASSERT_EQ(f.size(), 8u) << line;
        std::string path = f[7];
        if (path.empty() || path.substr(path.rfind('/') + 1) != f[6]) continue;
        for (char& c : path) c = c == '/' ? '\\' : c;
        EXPECT_EQ(resolved.at(f[0]).Full_Path, path) << "USN " << f[0];
        ++agreeing;
    }
    EXPECT_EQ(agreeing, 107);
}

TEST(Usn_Real_Data, Plaso_Journal) {
    REQUIRE_REAL_FILE("plaso-usn/UsnJrnl.raw");
    REQUIRE_REAL_FILE("plaso-usn/oracle_dfir_ntfs_usn.csv");
    Temp_Dir dir;
    Output_Db out(dir);
    Global_Parsing_Context context;
    Parse_UsnJrnl(context, Real("plaso-usn/UsnJrnl.raw"), out.Db(), 1);
    const auto rows = Rows_By_Usn(out);
    ASSERT_EQ(rows.size(), 19u);
    std::ifstream oracle(Real("plaso-usn/oracle_dfir_ntfs_usn.csv"));
    std::string line;
    std::getline(oracle, line);  // header
    int listed = 0;
    while (std::getline(oracle, line)) {
        const auto f = Split(line, ',');
        ASSERT_GE(f.size(), 10u) << line;
        ++listed;
        ASSERT_EQ(rows.count(f[1]), 1u) << f[1];
        const Row& r = rows.at(f[1]);
        EXPECT_EQ(r.File_Name, f[9]) << f[1];
        EXPECT_EQ(r.Reference, f[7]) << f[1];
        EXPECT_EQ(r.Parent, f[8]) << f[1];
        // Shifted by +1 hour, sub-seconds cut.
        EXPECT_EQ(r.Time_Stamp, Shifted(std::stoi(f[2].substr(0, 4)), std::stoul(f[2].substr(5, 2)),
                                        std::stoul(f[2].substr(8, 2)), std::stoi(f[2].substr(11, 2)),
                                        std::stoi(f[2].substr(14, 2)), std::stoi(f[2].substr(17, 2)), 1))
            << f[1];
    }
    EXPECT_EQ(listed, 19);
    EXPECT_EQ(rows.at("0").File_Name, "Nieuw - Tekstdocument.txt");
}

TEST(Usn_Real_Data, Carver_Finds_The_Journal_In_A_Volume_Slice) {
    REQUIRE_REAL_FILE("win10-20h1-volume/UsnJrnl_J");
    REQUIRE_REAL_FILE("win10-20h1-volume/volume_slice_clusters_6144-6655.bin");
    Temp_Dir dir;
    Global_Parsing_Context context;
    Output_Db journal(dir, "journal.db");
    Parse_UsnJrnl(context, Real("win10-20h1-volume/UsnJrnl_J"), journal.Db(), 0);
    Output_Db carved(dir, "carved.db");
    Carve_UsnJrnl_Records(context, Real("win10-20h1-volume/volume_slice_clusters_6144-6655.bin"), carved.Db(), 0, 8);
    const auto expected = Rows_By_Usn(journal);
    const auto found = Rows_By_Usn(carved);
    ASSERT_EQ(expected.size(), 188u);
    int matched = 0;
    for (const auto& [usn, e] : expected) {
        ASSERT_EQ(found.count(usn), 1u) << "USN " << usn << " not carved";
        const Row& c = found.at(usn);
        EXPECT_EQ(c.Carving_Flag, "Y");
        EXPECT_EQ(std::tie(c.Time_Stamp, c.File_Name, c.Full_Path, c.Event, c.File_Attr, c.Reference, c.Parent),
                  std::tie(e.Time_Stamp, e.File_Name, e.Full_Path, e.Event, e.File_Attr, e.Reference, e.Parent))
            << usn;
        ++matched;
    }
    EXPECT_EQ(matched, 188);
    // The rest of the slice holds no other record of the journal's pattern.
    EXPECT_EQ(found.size(), 188u);
}

TEST(Usn_Real_Data, Command_Line_Run_Writes_The_Rows_And_Their_Csv) {
    REQUIRE_REAL_FILE("win10-20h1-volume/UsnJrnl_J");
    REQUIRE_REAL_FILE("win10-20h1-volume/MFT");
    Temp_Dir dir;
    const Run_Result run = Run_Program({"-u", Real("win10-20h1-volume/UsnJrnl_J"), "-m", Real("win10-20h1-volume/MFT"),
                                        "-o", dir.Path(), "-c", "-t", "0"});
    EXPECT_EQ(run.Exit_Code, 0) << run.Console << run.Messages;
    EXPECT_EQ(run.Messages, "");
    const std::string db_path = dir.File(std::string("QVM_") + Pinned_Stamp + ".db");
    EXPECT_EQ(Query_Rows(db_path, "select count(*) from UsnJrnl"), std::vector<std::string>{"188"});
    EXPECT_EQ(Query_Rows(db_path, "select count(*) from UsnJrnl where FullPath <> ''"), std::vector<std::string>{"188"});
    const std::string csv = Read_File(dir.File(std::string("QVM_UsnJrnl_") + Pinned_Stamp + ".csv"));
    int lines = 0;
    for (char c : csv) lines += c == '\n';
    EXPECT_EQ(lines, 1 + 188);  // the header and one line per row
    EXPECT_NE(csv.find("\\test_dir\\file_1.txt"), std::string::npos);
    EXPECT_NE(csv.find("\\System Volume Information\\SPP"), std::string::npos);
}

}  // namespace
