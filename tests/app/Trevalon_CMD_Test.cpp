#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <sstream>

#include "support/Run_Harness.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Usn_Record_Builder.h"

namespace {

const std::string& Usage() {
    static const std::string usage = Read_File(std::string(TREVALON_SOURCE_DIR) + "/tests/app/usage.golden");
    return usage;
}

std::string Banner(const std::string& zone, bool dst, bool detect) {
    std::string banner = "\r\n### Trevalon CMD (v1.9) ###\r\n[+] TimeZone : ";
    banner.append(zone).append("\r\n[+] DST(Daylight Saving Time) : ").append(dst ? "Yes" : "No");
    banner.append("\r\n[+] Suspicious Behavior Detection : ").append(detect ? "Yes" : "No");
    return banner;
}

struct Fixture {
    Temp_Dir dir;
    std::string source = dir.Make_Dir("source");
    std::string out = dir.Make_Dir("out");
    std::string file = dir.Write("LogFile", "x");
    std::string db = out + "/QVM_" + Pinned_Stamp + ".db";
};

}  // namespace

TEST(Command_Line, UsageTextMatchesGoldenFile) {
    const Run_Result r = Run_Program({});
    EXPECT_EQ(r.Exit_Code, 2);
    EXPECT_EQ(r.Console, "[ERROR] There are no parameters~!!!" + Usage());
}

TEST(Command_Line, OptionErrorsPrintTheirMessageAndLeaveNoDatabase) {
    Fixture f;
    struct Case {
        std::vector<std::string> args;
        std::string message;
        bool usage;
    };
    const std::string& s = f.source;
    const std::string& o = f.out;
    const std::string& l = f.file;
    const std::vector<Case> cases = {
        {{"-m", l, "-o", o}, "[ERROR] There are no source parameters~!!! (-l or -u or -s)", true},
        {{"-l", l}, "[ERROR] There are no output parameters~!!! (-o)", true},
        {{"-l", l + "-missing", "-o", o}, "[ERROR] There is no such $LogFile file in source path.", true},
        {{"-u", "/nonexistent/J", "-o", o}, "[ERROR] There is no such $UsnJrnl:$J file in source path.", true},
        {{"-m", "/nonexistent/MFT", "-l", l, "-o", o}, "[ERROR] There is no such $MFT file in source path.", true},
        {{"-l", l, "-o", o + "/missing"}, "[ERROR] There is no such Output Path...", true},
        {{"-s", s + "/missing", "-o", o}, "[ERROR] There is no such Source Files Folder in source path.", true},
        {{"-s", l, "-o", o}, "[ERROR] The Source Files Folder Path is not Directory.", true},
        // The first failing element wins, also over the checks after the loop.
        {{"-l", "/nonexistent", "-u", "/nonexistent"}, "[ERROR] There is no such $LogFile file in source path.", true},
        {{"-t", "15", "-l", "/nonexistent"}, "[ERROR] Timezone information is not valid.(-12~14)", true},
        {{"-l", l, "-o", o, "-t", "-13"}, "[ERROR] Timezone information is not valid.(-12~14)", true},
        {{"-l", l, "-o", o, "-t"}, "[ERROR] Timezone information is not valid.(-12~14)", true},
        {{"-s", s, "-o", o, "-a", "0"}, "[ERROR] Carving Alignment must be bigger than 0 and smaller than 9.", false},
        {{"-s", s, "-o", o, "-a", "9"}, "[ERROR] Carving Alignment must be bigger than 0 and smaller than 9.", false},
        {{"-s", s, "-o", o, "-a"}, "[ERROR] Carving Alignment must be bigger than 0 and smaller than 9.", false},
        // Extreme values are refused without overflowing on the way.
        {{"-l", l, "-o", o, "-t", "2147483647"}, "[ERROR] Timezone information is not valid.(-12~14)", true},
        {{"-l", l, "-o", o, "-t", "-99999999999"}, "[ERROR] Timezone information is not valid.(-12~14)", true},
        {{"-s", s, "-o", o, "-a", "-2147483648"}, "[ERROR] Carving Alignment must be bigger than 0 and smaller than 9.",
         false},
        // The output name is part of file names; checked where it stands.
        {{"-l", l, "-o", o, "-p", "../x"}, "[ERROR] The output name must not hold '/'~!!!", true},
        {{"-p", "a/b", "-l", "/nonexistent"}, "[ERROR] The output name must not hold '/'~!!!", true},
        // The checks after the loop run in their fixed order.
        {{"-l", l, "-o", o, "-g", "-q"},
         "[ERROR] $LogFile Record Carving option(-g) / $UsnJrnl Record Carving option(-n) / $MFT Entry Carving "
         "option(-f) has to be used with Source Folder option(-s).",
         true},
        {{"-s", s, "-o", o, "-q"},
         "[ERROR] Quick Mode for $LogFile Record Carving option(-q) has to be used with $LogFile Record Carving "
         "option(-g).",
         true},
        {{"-s", s, "-o", o, "-b"},
         "[ERROR] Suspicious Behavior Detection option(-b) has to be used with CSV option(-c).", true},
        // Several checks after the loop fail at once: the first in that order wins.
        {{"-g", "-q", "-b"}, "[ERROR] There are no source parameters~!!! (-l or -u or -s)", true},
        {{"-l", l, "-g", "-q", "-b"}, "[ERROR] There are no output parameters~!!! (-o)", true},
        {{"-l", l, "-o", o, "-n", "-q", "-b"},
         "[ERROR] $LogFile Record Carving option(-g) / $UsnJrnl Record Carving option(-n) / $MFT Entry Carving "
         "option(-f) has to be used with Source Folder option(-s).",
         true},
        {{"-s", s, "-o", o, "-q", "-b"},
         "[ERROR] Quick Mode for $LogFile Record Carving option(-q) has to be used with $LogFile Record Carving "
         "option(-g).",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Run_Result r = Run_Program(c.args);
        EXPECT_EQ(r.Exit_Code, 2);
        EXPECT_EQ(r.Console, c.message + (c.usage ? Usage() : ""));
    }
    EXPECT_EQ(f.dir.List(), (std::vector<std::string>{"LogFile", "out", "source"}));
    EXPECT_TRUE(std::filesystem::is_empty(o));
}

TEST(Order_Of_A_Run, EmptySourceFolderWritesBannerTablesAndTimeZone) {
    Fixture f;
    const Run_Result r = Run_Program({"-s", f.source, "-o", f.out, "-t", "9", "-d"});
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_EQ(r.Console, Banner("UTC+9", true, false) + "\r\n");
    EXPECT_EQ(r.Messages, "");
    EXPECT_EQ(Query_Rows(f.db, "select sql from sqlite_master order by rowid"),
              (std::vector<std::string>{
                  "CREATE TABLE LogFile (LSN UNSIGNED BIG INT PRIMARY KEY, EventTime TEXT, Event TEXT, Detail TEXT, "
                  "FileName TEXT, FullPath TEXT, CreateTime TEXT, ModifiedTIme TEXT, MFT_ModifiedTime TEXT, AccessTime "
                  "TEXT, RedoInfo TEXT, TargetVCN TEXT, MFT_ClusterIndex TEXT)",
                  "NULL",  // the LogFile primary-key index
                  "CREATE TABLE UsnJrnl (USN UNSIGNED BIG INT PRIMARY KEY, TimeStamp TEXT, FileName TEXT, FullPath TEXT, "
                  "Event TEXT, SourceInfo TEXT, FileAttr TEXT, CarvingFlag TEXT, FileReferenceNumber TEXT, "
                  "ParentFileReferenceNumber TEXT)",
                  "NULL",
                  "CREATE TABLE TimeZone (UTC INT PRIMARY KEY, DST UNSIGNED BIG INT)",
                  "NULL",
              }));
    EXPECT_EQ(Query_Rows(f.db, "select UTC, DST from TimeZone"), (std::vector<std::string>{"9|1"}));
}

TEST(Order_Of_A_Run, TimeZoneFromOptionOrSystemBias) {
    struct Case {
        std::vector<std::string> extra;
        int bias;
        std::string zone;
        std::string row;
    };
    const std::vector<Case> cases = {
        {{"-t", "+14"}, 0, "UTC+14", "14|0"},
        {{"-t", "-12"}, 0, "UTC-12", "-12|0"},
        {{"-t", "abc"}, -540, "UTC 0", "0|0"},
        {{"-t", "5", "-d"}, 0, "UTC+5", "5|1"},
        {{}, -540, "UTC+9", "9|0"},
        {{}, -330, "UTC+5", "5|0"},  // +5:30 truncates toward zero
        {{}, 300, "UTC-5", "-5|0"},
        {{"-d"}, 0, "UTC 0", "0|1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.extra));
        Fixture f;
        std::vector<std::string> args{"-s", f.source, "-o", f.out};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Run_Result r = Run_Program(args, c.bias);
        EXPECT_EQ(r.Exit_Code, 0);
        const bool dst = c.row.back() == '1';
        EXPECT_EQ(r.Console, Banner(c.zone, dst, false) + "\r\n");
        EXPECT_EQ(Query_Rows(f.db, "select UTC, DST from TimeZone"), (std::vector<std::string>{c.row}));
    }
}

// The hour that -d adds reaches the times the stages store, and so the
// exported ones, not only the banner and the TimeZone row.
TEST(Order_Of_A_Run, DstHourReachesStoredAndExportedTimes) {
    struct Case {
        std::vector<std::string> zone;
        std::string time;  // of a journal record written at 2020-07-31 12:34:56 UTC
        std::string header;
    };
    const std::vector<Case> cases = {
        {{"-t", "0"}, "2020-07-31 12:34:56", "TimeStamp(UTC 0)"},
        {{"-t", "0", "-d"}, "2020-07-31 13:34:56", "TimeStamp(UTC 0,DST)"},
        {{"-t", "-5", "-d"}, "2020-07-31 08:34:56", "TimeStamp(UTC-5,DST)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.zone));
        Fixture f;
        const std::vector<std::uint8_t> record = test_support::Usn_Record_Builder().Name(u"a.txt").Build();
        const std::string j = f.dir.Write("J", std::string(record.begin(), record.end()));
        std::vector<std::string> args{"-u", j, "-o", f.out, "-c"};
        args.insert(args.end(), c.zone.begin(), c.zone.end());
        const Run_Result r = Run_Program(args);
        EXPECT_EQ(r.Exit_Code, 0);
        EXPECT_EQ(Query_Rows(f.db, "select TimeStamp from UsnJrnl"), (std::vector<std::string>{c.time}));
        const std::string csv = Read_File(f.out + "/QVM_UsnJrnl_" + Pinned_Stamp + ".csv");
        EXPECT_EQ(csv.substr(0, csv.find("\",") + 1), "\"" + c.header + "\"");
        EXPECT_EQ(csv.substr(csv.find("\r\n") + 2, c.time.size() + 2), "\"" + c.time + "\"");
    }
}

TEST(Order_Of_A_Run, OutputNameAndCsvFiles) {
    Fixture f;
    // "-p -c" names the output "-c" and, examined as the next element, turns CSV on.
    Run_Result r = Run_Program({"-s", f.source, "-o", f.out, "-t", "0", "-p", "-c"});
    EXPECT_EQ(r.Exit_Code, 0);
    const std::string stamp = Pinned_Stamp;
    EXPECT_EQ(r.Console, Banner("UTC 0", false, false) +
                             "\r\nExporting $LogFile info to CSV file...[Done]"
                             "\r\nExporting $UsnJrnl:$J info to CSV file...[Done]\r\n");
    EXPECT_EQ(List_Folder(f.out), (std::vector<std::string>{"-c_LogFile_" + stamp + ".csv", "-c_SQLite_" + stamp + ".db",
                                                              "-c_UsnJrnl_" + stamp + ".csv"}));
    EXPECT_EQ(Read_File(f.out + "/-c_UsnJrnl_" + stamp + ".csv"),
              "\"TimeStamp(UTC 0)\",\"USN\",\"File/Directory Name\",\"FullPath\",\"EventInfo\",\"SourceInfo\","
              "\"FileAttribute\",\"Carving Flag\",\"FileReferenceNumber\",\"ParentFileReferenceNumber\"\r\n");

    // "-p" as the last element keeps the default name.
    Fixture g;
    r = Run_Program({"-s", g.source, "-o", g.out, "-p"});
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_EQ(List_Folder(g.out), (std::vector<std::string>{"QVM_" + stamp + ".db"}));
}

TEST(Order_Of_A_Run, DatabaseThatCannotBeCreatedFails) {
    Fixture f;
    // An output "folder" that is a regular file passes the existence test but
    // the database cannot be created inside it.
    const Run_Result r = Run_Program({"-l", f.file, "-o", f.file});
    EXPECT_EQ(r.Exit_Code, 1);
    EXPECT_EQ(r.Console, "Opening DB file fails.");
}

TEST(Order_Of_A_Run, CsvFileThatCannotBeCreatedEndsTheExportButNotTheRun) {
    Fixture f;
    // A folder in the way of the LogFile CSV.
    std::filesystem::create_directory(f.out + "/QVM_LogFile_" + std::string(Pinned_Stamp) + ".csv");
    const Run_Result r = Run_Program({"-s", f.source, "-o", f.out, "-t", "2", "-c"});
    // The run goes on with its TimeZone row, then reports the failure.
    EXPECT_EQ(r.Exit_Code, 1);
    EXPECT_EQ(r.Console, Banner("UTC+2", false, false) +
                             "\r\nExporting $LogFile info to CSV file...[ERROR] Creating CSV file fails...\r\n");
    EXPECT_EQ(Query_Rows(f.db, "select UTC, DST from TimeZone"), (std::vector<std::string>{"2|0"}));
}

TEST(Order_Of_A_Run, CarvingProgressLineFollowsTheCarvingOptions) {
    struct Case {
        std::vector<std::string> extra;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"-g"}, "\r\nCarving $logFile Record...[Done]"},
        {{"-n"}, "\r\nCarving $UsnJrnl Record...[Done]"},
        {{"-g", "-q", "-n", "-a", "1"}, "\r\nCarving $logFile Record and $UsnJrnl Record...[Done]"},
    };
    for (const Case& c : cases) {
        Fixture f;
        std::vector<std::string> args{"-s", f.source, "-o", f.out, "-t", "1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Run_Result r = Run_Program(args);
        EXPECT_EQ(r.Exit_Code, 0);
        EXPECT_EQ(r.Console, Banner("UTC+1", false, false) + c.line + "\r\n");
    }
}

TEST(Order_Of_A_Run, StagesPrintTheirProgressLines) {
    Fixture f;
    const std::string j = f.dir.Write("J", "");
    const std::string m = f.dir.Write("MFT", "");
    const Run_Result r = Run_Program({"-l", f.file, "-u", j, "-m", m, "-o", f.out, "-t", "-3"});
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_EQ(r.Console, Banner("UTC-3", false, false) +
                             "\r\nParsing $MFT...[Done]\r\nParsing $LogFile...[Done]\r\nParsing $UsnJrnl:$J...[Done]\r\n");
}

// A file of the run's names that exists already, or a link planted at such a
// name, is never written: the run reports it and ends with a failure code.
TEST(Order_Of_A_Run, OutputFilesAreNeverOverwrittenNorReachedThroughALink) {
    struct Case {
        const char* name;
        bool link;
    };
    const Case cases[] = {{"QVM_LogFile_", false}, {"QVM_LogFile_", true}, {"QVM_UsnJrnl_", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.link ? " link" : " file"));
        Fixture f;
        const std::string target = f.dir.Write("outside.txt", "keep me");
        const std::string name = f.out + "/" + c.name + Pinned_Stamp + ".csv";
        if (c.link) std::filesystem::create_symlink(target, name);
        else f.dir.Write("out/" + std::string(c.name) + Pinned_Stamp + ".csv", "earlier run");
        const Run_Result r = Run_Program({"-s", f.source, "-o", f.out, "-t", "2", "-c"});
        EXPECT_EQ(r.Exit_Code, 1);
        EXPECT_NE(r.Console.find("...[ERROR] Creating CSV file fails...\r\n"), std::string::npos);
        EXPECT_EQ(Read_File(target), "keep me");
        if (!c.link) {
            EXPECT_EQ(Read_File(name), "earlier run");
        }
        EXPECT_EQ(Query_Rows(f.db, "select UTC, DST from TimeZone"), (std::vector<std::string>{"2|0"}));
    }
}

// Whatever escapes a stage ends the run with one line and exit code 1.
TEST(Order_Of_A_Run, EscapingExceptionEndsTheRunWithFailure) {
    Fixture f;
    std::ostringstream console, messages;
    Run_Environment environment;
    environment.Local_Now = []() -> std::tm { throw std::bad_alloc(); };
    environment.System_Bias_Minutes = [] { return 0; };
    environment.Console = &console;
    environment.Messages = &messages;
    EXPECT_EQ(Run_Main({"Trevalon_CMD", "-s", f.source, "-o", f.out}, environment), 1);
    EXPECT_EQ(messages.str(), "[ERROR] std::bad_alloc\n");
}
