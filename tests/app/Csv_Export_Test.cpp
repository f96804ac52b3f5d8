#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <utility>
#include <sstream>

#include "db/CppSQLite3.h"
#include "app/Csv_Export.h"
#include "output/Csv_File.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "platform/text.h"
#include "support/Console_Hook.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

namespace {

constexpr char Stamp[] = "2026-12-09 10-11-12";

// An output folder with a database holding the chosen tables.
struct Export_Fixture {
    Temp_Dir dir;
    std::string db_path = dir.File("QVM_test.db");
    CppSQLite3DB db;
    Program_State state;
    std::ostringstream console;
    std::ostringstream messages;

    explicit Export_Fixture(bool logfile_table = true, bool usnjrnl_table = true) {
        db.Open_With_Pragmas(db_path);
        if (logfile_table) db.Run_Query(Event_Table_Sql::Create_LogFile);
        if (usnjrnl_table) db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
    }

    bool Export(int utc = 9, int dst = 0, std::int64_t page_rows = UsnJrnl_Csv_Page_Rows) {
        platform::Scoped_Output output(console, messages);
        return Export_CSV_And_Detect(state, db_path, dir.Path(), Stamp, utc, dst, 0, page_rows);
    }
    std::string Csv(const std::string& table, const std::string& suffix = ".csv") const {
        return Read_File(dir.File("QVM_" + table + "_" + Stamp + suffix));
    }
};

_log_info Log_Row(std::uint64_t lsn) {
    _log_info r;
    r.LSN = platform::Format(u"%I64u", {lsn});
    r.ThisLSN = lsn;
    r.EventTime = u"2015-03-02 08:30:00";
    r.Event = u"File Creation";
    r.Detail = u"-";
    r.FileName = u"a.txt";
    r.FullPath = u"\\dir\\a.txt";
    r.CreateTime = u"2015-03-02 08:30:00";
    r.ModifiedTime = u"2015-03-02 08:30:01";
    r.MFT_ModifiedTime = u"2015-03-02 08:30:02";
    r.AccessTime = u"2015-03-02 08:30:03";
    r.RedoInfo = u"InitializeFileRecordSegment";
    r.TargetVCN = u"0x3";
    r.MFT_ClusterIndex = 4294967296ull;
    return r;
}

_USNJRNLINFO Usn_Row(std::uint64_t usn) {
    _USNJRNLINFO r;
    r.TimeStamp = u"2020-08-02 10:00:00";
    r.USN = platform::Format(u"%I64u", {usn});
    r.FileName = u"file_1.txt";
    r.FullPath = u"\\test_dir\\file_1.txt";
    r.Event = u"File_Created / File_Closed";
    r.SourceInfo = u"0";
    r.FileAttr = u"Archive";
    r.CarvingFlag = u"";
    r.FileReferenceNumber = u"3400000000003A";
    r.ParentFileReferenceNumber = u"1000000000032";
    return r;
}

}  // namespace

TEST(Csv_Export, TimeHeaderForms) {
    struct Case {
        const char16_t* column;
        int utc;
        int dst;
        const char16_t* header;
    };
    const Case cases[] = {
        {u"EventTime", 9, 1, u"EventTime(UTC+9 DST)"}, {u"EventTime", 9, 0, u"EventTime(UTC+9)"},
        {u"EventTime", -5, 1, u"EventTime(UTC-5,DST)"}, {u"TimeStamp", -5, 0, u"TimeStamp(UTC-5)"},
        {u"EventTime", 0, 1, u"EventTime(UTC 0,DST)"}, {u"TimeStamp", 0, 0, u"TimeStamp(UTC 0)"},
    };
    for (const Case& c : cases) EXPECT_EQ(Csv_Time_Header(c.column, c.utc, c.dst), c.header);
}

TEST(Csv_Export, RoundTripThroughWritersAndExport) {
    struct Case {
        std::u16string value;
        std::string stored;    // as the database holds it (UTF-8)
        std::string exported;  // as the CSV field shows it, quotes included
        std::u16string reloaded;
    };
    const std::vector<Case> cases = {
        {u"O'Brien.txt", "O'Brien.txt", "\"O'Brien.txt\"", u"O'Brien.txt"},
        {u"a, b", "a/ b", "\"a, b\"", u"a, b"},
        {u"x/y", "x/y", "\"x,y\"", u"x,y"},
        {u"a''b", "a''b", "\"a''b\"", u"a''b"},
        {std::u16string(u"ab\0cd", 5), "ab", "\"ab\"", u"ab"},
        {u"\uD55C\uAE00.txt", "\xED\x95\x9C\xEA\xB8\x80.txt", "\"\xED\x95\x9C\xEA\xB8\x80.txt\"", u"\uD55C\uAE00.txt"},
        {u"\u041F\u0440\u0438\u0432\u0435\u0442", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "\"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\"", u"\u041F\u0440\u0438\u0432\u0435\u0442"},
        // An unpaired surrogate at the end would otherwise take the closing quote with it.
        {u"ab\xD800", "ab\xEF\xBF\xBD", "\"ab\xEF\xBF\xBD\"", u"ab\uFFFD"},
        {u"\xDC00" u"cd", "\xEF\xBF\xBD" "cd", "\"\xEF\xBF\xBD" "cd\"", u"\uFFFDcd"},
        {u"say \"hi\"", "say \"hi\"", "\"say \"\"hi\"\"\"", u"say \"hi\""},
        {u"x'); DROP TABLE LogFile;--", "x'); DROP TABLE LogFile;--", "\"x'); DROP TABLE LogFile;--\"",
         u"x'); DROP TABLE LogFile;--"},
    };
    Export_Fixture f;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        _log_info row = Log_Row(100 + i);
        row.FileName = row.Detail = row.Event = cases[i].value;
        const _log_info before = row;
        EXPECT_EQ(Insert_LogFile_Row(f.db, row), 0);
        EXPECT_EQ(row.FileName, before.FileName);  // the caller's record is not escaped

        _USNJRNLINFO usn = Usn_Row(200 + i);
        usn.FileName = cases[i].value;
        EXPECT_EQ(Insert_UsnJrnl_Row(f.db, usn), 0);
    }
    f.Export();
    const auto stored = Query_Rows(f.db_path, "select FileName, Detail, Event from LogFile order by LSN");
    const auto usn_stored = Query_Rows(f.db_path, "select FileName from UsnJrnl order by USN");
    ASSERT_EQ(stored.size(), cases.size());
    ASSERT_EQ(f.state.g_Log_Info_Array.size(), cases.size());
    ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), cases.size());
    const std::string logfile_csv = f.Csv("LogFile");
    const std::string usnjrnl_csv = f.Csv("UsnJrnl");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(stored[i], c.stored + "|" + c.stored + "|" + c.stored);
        EXPECT_EQ(usn_stored[i], c.stored);
        const std::string line = std::to_string(100 + i);
        EXPECT_NE(logfile_csv.find("\"" + line + "\",\"2015-03-02 08:30:00\"," + c.exported + "," + c.exported + "," +
                                   c.exported + ","),
                  std::string::npos);
        EXPECT_NE(usnjrnl_csv.find("\"" + std::to_string(200 + i) + "\"," + c.exported + ","), std::string::npos);
        EXPECT_EQ(f.state.g_Log_Info_Array[i].FileName, c.reloaded);
        EXPECT_EQ(f.state.g_Log_Info_Array[i].Detail, c.reloaded);
        EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[i].FileName, c.reloaded);
    }
    EXPECT_EQ(f.console.str(),
              "\r\nExporting $LogFile info to CSV file...[Done]\r\nExporting $UsnJrnl:$J info to CSV file...[Done]");
}

TEST(Csv_Export, SecondRowWithTheSameKeyIsRefused) {
    Export_Fixture f;
    _log_info first = Log_Row(7);
    _log_info second = Log_Row(7);
    second.FileName = u"other.txt";
    EXPECT_EQ(Insert_LogFile_Row(f.db, first), 0);
    EXPECT_EQ(Insert_LogFile_Row(f.db, second), 1);
    _log_info empty_key = Log_Row(8);
    empty_key.LSN.clear();
    EXPECT_EQ(Insert_LogFile_Row(f.db, empty_key), 1);
    EXPECT_EQ(Insert_UsnJrnl_Row(f.db, Usn_Row(5)), 0);
    EXPECT_EQ(Insert_UsnJrnl_Row(f.db, Usn_Row(5)), 1);
    EXPECT_EQ(Query_Rows(f.db_path, "select LSN, FileName, MFT_ClusterIndex from LogFile"),
              (std::vector<std::string>{"7|a.txt|4294967296"}));
}

TEST(Csv_Export, GoldenLines) {
    Export_Fixture f;
    // Inserted out of order: the export sorts by LSN and USN.
    Insert_LogFile_Row(f.db, Log_Row(4096));
    _log_info check_point = Log_Row(24);
    check_point.Event = u"# Check Point";
    check_point.FileName = check_point.FullPath = check_point.CreateTime = u"";
    Insert_LogFile_Row(f.db, check_point);
    Insert_UsnJrnl_Row(f.db, Usn_Row(96));
    _USNJRNLINFO carved = Usn_Row(0);
    carved.CarvingFlag = u"Y";
    carved.Event = u"File_Closed";
    Insert_UsnJrnl_Row(f.db, carved);
    f.Export(9, 1);
    EXPECT_EQ(f.Csv("LogFile"),
              "\"LSN\",\"EventTime(UTC+9 DST)\",\"Event\",\"Detail\",\"File/Directory Name\",\"Full Path\",\"Create "
              "Time\",\"Modified Time\",\"MFT_Modified Time\",\"Access Time\",\"Redo\",\"Target VCN\",\"Cluster "
              "Index\"\r\n"
              "\"24\",\"2015-03-02 08:30:00\",\"# Check Point\",\"-\",\"\",\"\",\"\",\"2015-03-02 08:30:01\","
              "\"2015-03-02 08:30:02\",\"2015-03-02 08:30:03\",\"InitializeFileRecordSegment\",\"0x3\","
              "\"4294967296\"\r\n"
              "\"4096\",\"2015-03-02 08:30:00\",\"File Creation\",\"-\",\"a.txt\",\"\\dir\\a.txt\",\"2015-03-02 "
              "08:30:00\",\"2015-03-02 08:30:01\",\"2015-03-02 08:30:02\",\"2015-03-02 08:30:03\","
              "\"InitializeFileRecordSegment\",\"0x3\",\"4294967296\"\r\n");
    EXPECT_EQ(f.Csv("UsnJrnl"),
              "\"TimeStamp(UTC+9 DST)\",\"USN\",\"File/Directory Name\",\"FullPath\",\"EventInfo\",\"SourceInfo\","
              "\"FileAttribute\",\"Carving Flag\",\"FileReferenceNumber\",\"ParentFileReferenceNumber\"\r\n"
              "\"2020-08-02 10:00:00\",\"0\",\"file_1.txt\",\"\\test_dir\\file_1.txt\",\"File_Closed\",\"0\","
              "\"Archive\",\"Y\",\"3400000000003A\",\"1000000000032\"\r\n"
              "\"2020-08-02 10:00:00\",\"96\",\"file_1.txt\",\"\\test_dir\\file_1.txt\",\"File_Created , "
              "File_Closed\",\"0\",\"Archive\",\"\",\"3400000000003A\",\"1000000000032\"\r\n");
    // The reason words joined by " / " come back joined by " , ", as the detection expects.
    ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), 2u);
    EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[1].Event, u"File_Created , File_Closed");
    ASSERT_EQ(f.state.g_Log_Info_Array.size(), 2u);
    EXPECT_EQ(f.state.g_Log_Info_Array[0].LSN, u"24");
    EXPECT_EQ(f.state.g_Log_Info_Array[1].ClusterIndex, u"4294967296");
    EXPECT_EQ(f.state.g_Log_Info_Array[1].TargetVCN, u"0x3");
}

TEST(Csv_Export, UsnJrnlPages) {
    struct Case {
        int rows;
        std::vector<int> per_file;  // empty: one file without a page suffix
    };
    const std::vector<Case> cases = {{0, {}}, {2, {}}, {3, {3, 0}}, {7, {3, 3, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        Export_Fixture f;
        // Inserted in descending order: pages still run in ascending USN.
        for (int i = c.rows - 1; i >= 0; --i) Insert_UsnJrnl_Row(f.db, Usn_Row(8 * static_cast<std::uint64_t>(i)));
        f.Export(0, 0, 3);
        const auto lines = [](const std::string& text) {
            return static_cast<int>(std::count(text.begin(), text.end(), '\n')) - 1;  // minus the header
        };
        std::vector<std::string> expected_files{"QVM_LogFile_" + std::string(Stamp) + ".csv", "QVM_test.db"};
        if (c.per_file.empty()) {
            EXPECT_EQ(lines(f.Csv("UsnJrnl")), c.rows);
            expected_files.push_back("QVM_UsnJrnl_" + std::string(Stamp) + ".csv");
        } else {
            for (std::size_t p = 0; p < c.per_file.size(); ++p) {
                const std::string suffix = "_" + std::to_string(p + 1) + ".csv";
                EXPECT_EQ(lines(f.Csv("UsnJrnl", suffix)), c.per_file[p]);
                expected_files.push_back("QVM_UsnJrnl_" + std::string(Stamp) + suffix);
            }
        }
        std::sort(expected_files.begin(), expected_files.end());
        EXPECT_EQ(f.dir.List(), expected_files);
        ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), static_cast<std::size_t>(c.rows));
        for (int i = 0; i < c.rows; ++i)
            EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[i].USN, platform::Format(u"%d", {8 * i}));
    }
}

// Each failure ends the export with its message, and the call reports a
// failure of the run (false): a file or database it could not open, a table
// it could not read. A file that did not get all it should stays under its
// ".partial" name.
TEST(Csv_Export, FailuresEndTheExportWithTheirMessage) {
    const std::string log_line = "\r\nExporting $LogFile info to CSV file...";
    const std::string usn_line = "\r\nExporting $UsnJrnl:$J info to CSV file...";
    struct Case {
        const char* what;
        bool logfile_table = true;
        bool usnjrnl_table = true;
        int log_rows = 0;
        // What happens to the fixture before the export, and once the export
        // of the LogFile table is done.
        std::function<void(Export_Fixture&)> before;
        std::function<void(Export_Fixture&)> between;
        std::string folder;   // under the fixture's folder; "" for the folder itself
        std::string db_name;  // "" for the fixture's database
        std::string console;
        bool completed;
    };
    const auto vanish = [](Export_Fixture& f) {
        f.db.Close_Database();
        std::filesystem::remove(f.db_path);
    };
    const std::vector<Case> cases = {
        {"no LogFile table", false, true, 0, {}, {}, "", "", log_line + "[ERROR] Acquiring $LogFile Information fails...",
         false},
        {"no UsnJrnl table", true, false, 1, {}, {}, "", "",
         log_line + "[Done]" + usn_line + "[ERROR] Acquiring $UsnJrnl:$J Information fails...", false},
        {"output folder missing", true, true, 0, {}, {}, "missing-folder", "",
         log_line + "[ERROR] Creating CSV file fails...", false},
        {"database in a missing folder", true, true, 0, {}, {}, "", "no-such-dir/x.db",
         log_line + "[ERROR] Opening DB file fails...", false},
        // The export reopens the run's own database: one that vanished is an
        // error, not a new empty database.
        {"database vanished before the export", true, true, 0, vanish, {}, "", "",
         log_line + "[ERROR] Opening DB file fails...", false},
        {"database vanished between the two tables", true, true, 1, {}, vanish, "", "",
         log_line + "[Done]" + usn_line + "[ERROR] Opening DB file fails...", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Export_Fixture f(c.logfile_table, c.usnjrnl_table);
        for (int i = 0; i < c.log_rows; ++i) Insert_LogFile_Row(f.db, Log_Row(static_cast<std::uint64_t>(i + 1)));
        if (c.before) c.before(f);
        const std::string db_path = c.db_name.empty() ? f.db_path : f.dir.File(c.db_name);
        Console_Hook console(usn_line, [&] {
            if (c.between) c.between(f);
        });
        std::ostream console_stream(&console);
        bool completed = false;
        {
            platform::Scoped_Output output(console_stream, f.messages);
            completed = Export_CSV_And_Detect(f.state, db_path, c.folder.empty() ? f.dir.Path() : f.dir.File(c.folder),
                                              Stamp, 0, 0, 0);
        }
        EXPECT_EQ(console.str(), c.console);
        EXPECT_EQ(completed, c.completed);
        EXPECT_EQ(f.state.g_Log_Info_Array.size(), static_cast<std::size_t>(c.log_rows));
        if (c.before || c.between) {
            EXPECT_FALSE(std::filesystem::exists(f.db_path));
        }
        if (!c.db_name.empty() || !c.logfile_table) {
            EXPECT_EQ(f.Csv("LogFile", ".csv.partial").substr(0, 7), "\"LSN\",\"");
            EXPECT_FALSE(std::filesystem::exists(f.dir.File("QVM_LogFile_" + std::string(Stamp) + ".csv")));
        }
    }
}

namespace {

// The fields of one query as the whole-table reader gives them, with the
// stored "/" turned back into ",".
std::vector<std::vector<std::u16string>> Plain_Reload(const std::string& db_path, const std::string& query) {
    CppSQLite3DB db;
    db.Open_With_Pragmas(db_path);
    CppSQLite3Table table = db.Fetch_Table(query);
    std::vector<std::vector<std::u16string>> rows;
    for (std::int64_t r = 0; r < table.Row_Count(); ++r) {
        table.Select_Row(r);
        std::vector<std::u16string> fields;
        for (int c = 0; c < table.Column_Count(); ++c) {
            fields.push_back(table.Wide_Text_At(c));
            platform::Replace(fields.back(), u"/", u",");
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

void Run_Sql(CppSQLite3DB& db, const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db.Connection(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

}  // namespace

// The stepped export gives the CSV bytes and reloaded fields that the
// whole-table reader gave, also for values no row writer produces.
TEST(Csv_Export, SteppedRowsEqualTheWholeTableReader) {
    Export_Fixture f;
    const std::vector<std::string> values = {
        "'plain'",
        "'a/b,c'",
        "'say \"hi\"/'",
        "NULL",
        "''",
        "CAST(X'61006263' AS TEXT)",                      // NUL inside: the reader stops there
        "CAST(X'41FF42C3' AS TEXT)",                      // not UTF-8
        "'\xED\x95\x9C\xEA\xB8\x80/\xD0\x9F'",            // non-Latin with a "/"
        "'" + std::string(5000, 'x') + "/'",              // past the unit limit
        "'" + std::string(4095, 'y') + "\xF0\x9F\x98\x80'",  // a pair that would straddle the cut
        "'" + std::string(4096, '"') + "'",
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string& v = values[i];
        Run_Sql(f.db, "insert into UsnJrnl values(" + std::to_string(i * 8) + ", " + v + ", " + v + ", " + v + ", " + v +
                          ", " + v + ", " + v + ", " + v + ", " + v + ", " + v + ")");
        Run_Sql(f.db, "insert into LogFile values(" + std::to_string(i + 1) + ", " + v + ", " + v + ", " + v + ", " + v +
                          ", " + v + ", " + v + ", " + v + ", " + v + ", " + v + ", " + v + ", " + v + ", " + v + ")");
    }
    f.Export(-5, 0);
    const auto usn = Plain_Reload(f.db_path,
                                  "select USN, TimeStamp, FileName, FullPath, Event, SourceInfo, FileAttr, CarvingFlag, "
                                  "FileReferenceNumber, ParentFileReferenceNumber from UsnJrnl ORDER BY USN");
    const auto log = Plain_Reload(f.db_path,
                                  "select LSN, EventTime, Event, Detail,  FileName, FullPath, CreateTime, ModifiedTIme, "
                                  "MFT_ModifiedTime, AccessTime, RedoInfo, TargetVCN, MFT_ClusterIndex from LogFile "
                                  "ORDER BY LSN");
    ASSERT_EQ(usn.size(), values.size());
    ASSERT_EQ(log.size(), values.size());
    std::string usn_csv = f.Csv("UsnJrnl").substr(0, f.Csv("UsnJrnl").find("\r\n") + 2);
    std::string log_csv = f.Csv("LogFile").substr(0, f.Csv("LogFile").find("\r\n") + 2);
    ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), values.size());
    ASSERT_EQ(f.state.g_Log_Info_Array.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& u = usn[i];
        usn_csv += Csv_Line({u[1], u[0], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9]});
        const UsnJrnl_Row_View r = f.state.g_UsnJrnl_Info_Array[i];
        const std::u16string_view reloaded[] = {r.USN,        r.TimeStamp, r.FileName,    r.FullPath,
                                                r.Event,      r.SourceInfo, r.FileAttr,   r.CarvingFlag,
                                                r.FileReferenceNumber, r.ParentFileReferenceNumber};
        for (int c = 0; c < 10; ++c) EXPECT_EQ(reloaded[c], u[c]) << c;
        const auto& l = log[i];
        log_csv += Csv_Line({l[0], l[1], l[2], l[3], l[4], l[5], l[6], l[7], l[8], l[9], l[10], l[11], l[12]});
        for (int c = 0; c < 13; ++c) EXPECT_EQ(f.state.g_Log_Info_Array.Field(i, static_cast<Log_Field>(c)), l[c]) << c;
    }
    EXPECT_EQ(f.Csv("UsnJrnl"), usn_csv);
    EXPECT_EQ(f.Csv("LogFile"), log_csv);
}

// Pages follow one another by key: USNs far apart, and keys beyond 64 bits,
// still come out once each, in order, split as before.
TEST(Csv_Export, PagesFollowSparseKeys) {
    Export_Fixture f;
    const std::vector<std::string> keys = {"18446744073709551615", "0", "7", "1099511627776", "8", "1000",
                                           "4611686018427387904"};
    for (const auto& k : keys)
        Run_Sql(f.db, "insert into UsnJrnl values(" + k + ", 't', 'n', 'p', 'e', 's', 'a', '', 'f', 'r')");
    f.Export(0, 0, 3);
    const auto expected = Query_Rows(f.db_path, "select USN from UsnJrnl order by USN");
    ASSERT_EQ(expected.size(), keys.size());
    std::vector<std::string> seen;
    for (int p = 1; p <= 3; ++p) {
        const std::string csv = f.Csv("UsnJrnl", "_" + std::to_string(p) + ".csv");
        std::size_t at = csv.find("\r\n") + 2;
        int lines = 0;
        while (at < csv.size()) {
            const std::size_t usn_start = csv.find("\",\"", at) + 3;
            seen.push_back(csv.substr(usn_start, csv.find('"', usn_start) - usn_start));
            at = csv.find("\r\n", at) + 2;
            ++lines;
        }
        EXPECT_EQ(lines, p < 3 ? 3 : 1);
    }
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(platform::Utf16_To_Utf8(f.state.g_UsnJrnl_Info_Array[i].USN), expected[i]);
}

// A page whose reading fails part-way ends the export with the table's
// read-failure message and a failure of the run. What was written is kept:
// the pages before it under their own names, the failed page under its
// ".partial" name with the rows read before the damage, and the reloaded
// rows up to there.
TEST(Csv_Export, PageThatFailsPartWayKeepsItsRowsAndFails) {
    Export_Fixture f;
    for (int i = 0; i < 7; ++i) {
        _USNJRNLINFO r = Usn_Row(8 * static_cast<std::uint64_t>(i));
        // Each row fills a database page of its own, so one row can be damaged.
        r.FullPath = u"\\MARK" + platform::Format(u"%d", {i}) + std::u16string(3000, u'p');
        Insert_UsnJrnl_Row(f.db, r);
    }
    f.db.Close_Database();
    std::string bytes = Read_File(f.db_path);
    const std::size_t mark = bytes.find("\\MARK4");
    ASSERT_NE(mark, std::string::npos);
    const std::size_t page = mark / 4096 * 4096;
    for (std::size_t k = 0; k < 16; ++k) bytes[page + k] = '\x7F';
    f.dir.Write("QVM_test.db", bytes);

    EXPECT_FALSE(f.Export(0, 0, 3));
    EXPECT_EQ(f.console.str(),
              "\r\nExporting $LogFile info to CSV file...[Done]\r\nExporting $UsnJrnl:$J info to CSV file..."
              "[ERROR] Acquiring $UsnJrnl:$J Information fails...");
    const std::string first = f.Csv("UsnJrnl", "_1.csv");
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 4);
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("QVM_UsnJrnl_" + std::string(Stamp) + "_2.csv")));
    const std::string second = f.Csv("UsnJrnl", "_2.csv.partial");
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 2);
    EXPECT_NE(second.find("\\MARK3"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("QVM_UsnJrnl_" + std::string(Stamp) + "_3.csv.partial")));
    EXPECT_EQ(f.state.g_UsnJrnl_Info_Array.size(), 4u);
}

// Rows reach the reloaded table in order across batches and pages.
TEST(Csv_Export, ManyRowsReloadInOrderAcrossPages) {
    Export_Fixture f;
    sqlite3_exec(f.db.Connection(), "BEGIN;", nullptr, nullptr, nullptr);
    for (int i = 0; i < 5000; ++i) {
        _USNJRNLINFO r = Usn_Row(static_cast<std::uint64_t>(i) * 3);
        r.FileName = platform::Format(u"f%d.txt", {i});
        r.FullPath = platform::Format(u"\\d%d\\", {i % 7}) + r.FileName;
        Insert_UsnJrnl_Row(f.db, r);
    }
    sqlite3_exec(f.db.Connection(), "COMMIT;", nullptr, nullptr, nullptr);
    f.Export(0, 0, 2000);
    ASSERT_EQ(f.state.g_UsnJrnl_Info_Array.size(), 5000u);
    for (int i = 0; i < 5000; i += 499) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[i].USN, platform::Format(u"%d", {i * 3}));
        EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[i].FullPath, platform::Format(u"\\d%d\\f%d.txt", {i % 7, i}));
        EXPECT_EQ(f.state.g_UsnJrnl_Info_Array[i].FileName, platform::Format(u"f%d.txt", {i}));
    }
    EXPECT_NE(f.Csv("UsnJrnl", "_3.csv").find("\"f4999.txt\""), std::string::npos);
}

namespace {

// Files written while this lives cannot grow past `bytes`: a write beyond
// fails as on a full disk.
class File_Size_Limit {
public:
    explicit File_Size_Limit(rlim_t bytes) {
        saved_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~File_Size_Limit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, saved_handler_);
    }

private:
    rlimit saved_{};
    void (*saved_handler_)(int) = SIG_DFL;
};

}  // namespace

// A file that cannot be written to its end is reported in place of "[Done]"
// and ends the export; the call reports the failure.
TEST(Csv_Export, FileCutShortIsReportedInsteadOfDone) {
    struct Case {
        int log_rows;
        int usn_rows;
        std::string console;
    };
    const std::string log_line = "\r\nExporting $LogFile info to CSV file...";
    const std::string usn_line = "\r\nExporting $UsnJrnl:$J info to CSV file...";
    const std::vector<Case> cases = {
        {300, 0, log_line + "[ERROR] Writing CSV file fails."},
        {0, 300, log_line + "[Done]" + usn_line + "[ERROR] Writing CSV file fails."},
        {1, 1, log_line + "[Done]" + usn_line + "[Done]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.console);
        Export_Fixture f;
        for (int i = 0; i < c.log_rows; ++i) Insert_LogFile_Row(f.db, Log_Row(static_cast<std::uint64_t>(i + 1)));
        for (int i = 0; i < c.usn_rows; ++i) Insert_UsnJrnl_Row(f.db, Usn_Row(8 * static_cast<std::uint64_t>(i)));
        f.db.Close_Database();
        bool completed = false;
        {
            File_Size_Limit limit(8192);
            platform::Scoped_Output output(f.console, f.messages);
            completed = Export_CSV_And_Detect(f.state, f.db_path, f.dir.Path(), Stamp, 0, 0, 0);
        }
        EXPECT_EQ(f.console.str(), c.console);
        EXPECT_EQ(completed, c.log_rows + c.usn_rows == 2);
    }
}

// Keys of every storage class page in the order the whole table sorts them,
// each row once: a NULL key is paged past by counting, and a key is taken
// before the row's text is read (which would convert it).
TEST(Csv_Export, PagesPastKeysOfEveryKind) {
    Export_Fixture f;
    const std::vector<std::string> keys = {"NULL", "NULL", "X'00'", "X'01'", "X'02'", "'abc'", "'zz'", "1.5", "2"};
    for (std::size_t i = 0; i < keys.size(); ++i)
        Run_Sql(f.db, "insert into UsnJrnl values(" + keys[i] + ", 't', 'n" + std::to_string(i) +
                          "', 'p', 'e', 's', 'a', '', 'f', 'r')");
    f.Export(0, 0, 2);
    const auto expected = Query_Rows(f.db_path, "select FileName from UsnJrnl order by USN");
    std::vector<std::string> seen;
    for (int p = 1; p <= 5; ++p) {
        const std::string csv = f.Csv("UsnJrnl", "_" + std::to_string(p) + ".csv");
        for (std::size_t at = csv.find("\"n"); at != std::string::npos; at = csv.find("\"n", at + 1))
            seen.push_back(csv.substr(at + 1, csv.find('"', at + 1) - at - 1));
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(f.state.g_UsnJrnl_Info_Array.size(), keys.size());
}

// The LogFile query failing part-way ends the export with its message and a
// failure of the run; the rows read before the damage are kept, in the file
// (under its ".partial" name) and reloaded.
TEST(Csv_Export, LogFileQueryThatFailsPartWayKeepsItsRowsAndFails) {
    Export_Fixture f;
    for (int i = 0; i < 5; ++i) {
        _log_info r = Log_Row(static_cast<std::uint64_t>(i + 1));
        r.FullPath = u"\\MARK" + platform::Format(u"%d", {i}) + std::u16string(3000, u'p');
        Insert_LogFile_Row(f.db, r);
    }
    f.db.Close_Database();
    std::string bytes = Read_File(f.db_path);
    const std::size_t mark = bytes.find("\\MARK3");
    ASSERT_NE(mark, std::string::npos);
    for (std::size_t k = 0; k < 16; ++k) bytes[mark / 4096 * 4096 + k] = '\x7F';
    f.dir.Write("QVM_test.db", bytes);
    EXPECT_FALSE(f.Export());
    EXPECT_EQ(f.console.str(), "\r\nExporting $LogFile info to CSV file...[ERROR] Acquiring $LogFile Information fails...");
    EXPECT_FALSE(std::filesystem::exists(f.dir.File("QVM_LogFile_" + std::string(Stamp) + ".csv")));
    const std::string csv = f.Csv("LogFile", ".csv.partial");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_NE(csv.find("\\MARK2"), std::string::npos);
    EXPECT_EQ(f.state.g_Log_Info_Array.size(), 3u);
}
