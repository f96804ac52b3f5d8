#include <gtest/gtest.h>

#include "support/Run_Harness.h"
#include "support/Signature_Db_Builder.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Working_Directory.h"

namespace {

constexpr char Banner[] =
    "\r\n### Trevalon CMD (v1.9) ###\r\n[+] TimeZone : UTC+9\r\n[+] DST(Daylight Saving Time) : No"
    "\r\n[+] Suspicious Behavior Detection : Yes"
    "\r\nExporting $LogFile info to CSV file...[Done]"
    "\r\nExporting $UsnJrnl:$J info to CSV file...[Done]"
    "\r\nLoading Suspicious Behavior Signature Info...";

struct Run_Fixture {
    Temp_Dir dir;
    std::string source = dir.Make_Dir("source");
    std::string out = dir.Make_Dir("out");
    std::string cwd = dir.Make_Dir("cwd");
    std::string findings = out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv";

    Run_Result Run() {
        Scoped_Working_Directory in(cwd);
        return Run_Program({"-s", source, "-o", out, "-c", "-b"});
    }
    std::vector<std::string> Time_Zone() const {
        return Query_Rows(out + "/QVM_" + Pinned_Stamp + ".db", "select UTC, DST from TimeZone");
    }
};

}  // namespace

TEST(Detection_Run, SignaturesLoadedAndHeaderOnlyFindingsFile) {
    Run_Fixture f;
    ASSERT_TRUE(Signature_Db_Builder().Add("Execution|Wiper|Same|SDELETE.EXE|SDelete").Write(f.cwd));
    const Run_Result r = f.Run();
    EXPECT_EQ(r.Exit_Code, 0);
    EXPECT_EQ(r.Console, std::string(Banner) +
                             "[Done]\r\nDetecting Suspicious Behavior in $LogFile...[Done]"
                             "\r\nDetecting Suspicious Behavior in $UsnJrnl...[Done]"
                             "\r\nExporting Suspicious Behavior Detection info to CSV file...[Done]\r\n");
    EXPECT_EQ(Read_File(f.findings), "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n");
    EXPECT_EQ(f.Time_Zone(), (std::vector<std::string>{"9|0"}));
}

// The run goes on with its TimeZone row, but it did not do the detection it
// was asked for: it ends with a failure code.
TEST(Detection_Run, SignatureFailuresEndTheDetectionAndFailTheRun) {
    struct Case {
        const char* name;
        void (*prepare)(const std::string& cwd);
        const char* message;
    };
    const Case cases[] = {
        {"missing", [](const std::string&) {}, "\r\n[ERROR]There is no Signature.db file."},
        {"unopenable", [](const std::string& cwd) { std::filesystem::create_directory(cwd + "/Signature.db"); },
         "\r\n[ERROR]Opening Signature DB file fails."},
        {"no table",
         [](const std::string& cwd) {
             sqlite3* db = nullptr;
             sqlite3_open((cwd + "/Signature.db").c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE Other (x)", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         "\r\nGetting table fails."},
    };
    for (const Case& c : cases) {
        Run_Fixture f;
        c.prepare(f.cwd);
        const Run_Result r = f.Run();
        EXPECT_EQ(r.Exit_Code, 1) << c.name;
        EXPECT_EQ(r.Console, std::string(Banner) + c.message + "\r\n") << c.name;
        EXPECT_FALSE(std::filesystem::exists(f.findings)) << c.name;
        EXPECT_EQ(f.Time_Zone(), (std::vector<std::string>{"9|0"})) << c.name;
    }
}
