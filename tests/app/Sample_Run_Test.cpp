#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/Child_Process.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"

// The README's first command, with the built programs as processes of their
// own: make_sample writes the sample, and Trevalon_CMD, started in the build
// folder where the build wrote Signature.db, carves the sample's source folder
// with the sample's $MFT and leaves a finished run: its database with the
// TimeZone row, both CSV files and the findings file, under their final names.
TEST(Sample_Run, BuiltProgramsRunOnTheGeneratedSample) {
#if !defined(TREVALON_CMD_PATH) || !defined(TREVALON_MAKE_SAMPLE_PATH)
    GTEST_SKIP() << "Trevalon_CMD or make_sample is not part of this build";
#else
    Temp_Dir dir;
    const std::string sample = dir.Make_Dir("sample");
    const std::string out = dir.Make_Dir("sample/out");
    const std::string capture = dir.Make_Dir("capture");

    const Process_Result made = Run_Process(TREVALON_MAKE_SAMPLE_PATH, {sample}, dir.Path(), capture);
    ASSERT_EQ(made.Exit_Code, 0) << made.Err;
    EXPECT_EQ(made.Out, "sample written to " + sample + "\n");

    const Process_Result run =
        Run_Process(TREVALON_CMD_PATH,
                    {"-s", sample + "/source", "-g", "-n", "-m", sample + "/MFT", "-o", out, "-c", "-b"},
                    TREVALON_SIGNATURE_DB_DIR, capture);
    ASSERT_EQ(run.Exit_Code, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out,
              "\r\n### Trevalon CMD (v1.9) ###\r\n"
              "[+] TimeZone : UTC 0\r\n"
              "[+] DST(Daylight Saving Time) : No\r\n"
              "[+] Suspicious Behavior Detection : Yes\r\n"
              "Parsing $MFT...[Done]\r\n"
              "Carving $logFile Record and $UsnJrnl Record...[Done]\r\n"
              "Exporting $LogFile info to CSV file...[Done]\r\n"
              "Exporting $UsnJrnl:$J info to CSV file...[Done]\r\n"
              "Loading Suspicious Behavior Signature Info...[Done]\r\n"
              "Detecting Suspicious Behavior in $LogFile...[Done]\r\n"
              "Detecting Suspicious Behavior in $UsnJrnl...[Done]\r\n"
              "Exporting Suspicious Behavior Detection info to CSV file...[Done]\r\n");

    // The four files of one run, by the stamp of its start.
    const std::vector<std::string> names = List_Folder(out);
    ASSERT_EQ(names.size(), 4u) << testing::PrintToString(names);
    std::smatch stamp;
    ASSERT_TRUE(std::regex_match(names[0], stamp, std::regex(R"(QVM_(\d{4}-\d\d-\d\d \d\d-\d\d-\d\d)\.db)")))
        << names[0];
    const std::string s = stamp[1];
    EXPECT_EQ(names, (std::vector<std::string>{"QVM_" + s + ".db", "QVM_LogFile_" + s + ".csv",
                                               "QVM_SuspiciousBehaviorDetection_" + s + ".csv",
                                               "QVM_UsnJrnl_" + s + ".csv"}));

    const std::string db = out + "/QVM_" + s + ".db";
    EXPECT_EQ(Query_Rows(db, "select UTC, DST from TimeZone"), std::vector<std::string>{"0|0"});
    // The journal's eight records carved from the piece of a volume, with the
    // paths of the $MFT.
    EXPECT_EQ(Query_Rows(db, "select count(*), min(CarvingFlag), max(CarvingFlag) from UsnJrnl"),
              std::vector<std::string>{"8|Y|Y"});
    EXPECT_EQ(Query_Rows(db, "select FullPath from UsnJrnl where USN = 616"),
              std::vector<std::string>{"\\Documents\\report.docx"});
    // The log's three FILE records made, found inside other bytes.
    EXPECT_EQ(Query_Rows(db, "select FileName from LogFile where Event = 'File Creation' order by LSN"),
              (std::vector<std::string>{"Documents", "notes.txt", "report.docx"}));
    // report.docx deleted: the detection's one finding.
    EXPECT_EQ(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + s + ".csv"),
              "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n"
              "\"Deletion of Document File\",\"'report.docx' has been deleted.\",\"$UsnJrnl:$J\",\"616\"\r\n");
    EXPECT_EQ(Read_File(out + "/QVM_UsnJrnl_" + s + ".csv").rfind(
                  "\"TimeStamp(UTC 0)\",\"USN\",\"File/Directory Name\",\"FullPath\",\"EventInfo\",\"SourceInfo\","
                  "\"FileAttribute\",\"Carving Flag\",\"FileReferenceNumber\",\"ParentFileReferenceNumber\"\r\n"
                  "\"2026-03-01 20:15:00\",\"0\",\"Documents\",\"\\Documents\",\"File_Created\",\"Normal\","
                  "\"Directory\",\"Y\",\"0x0001000000000040\",\"0x0005000000000005\"\r\n",
                  0),
              0u);
#endif
}
