#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "db/CppSQLite3.h"
#include "app/Csv_Export.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "output/Event_Tables.h"
#include "platform/console.h"
#include "platform/text.h"
#include "support/Detection_Builders.h"
#include "support/Mft_Record_Builder.h"
#include "support/Run_Harness.h"
#include "support/Signature_Db_Builder.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Usn_Record_Builder.h"
#include "support/Working_Directory.h"

using namespace test_support;

namespace {

constexpr char Stamp[] = "2026-12-09 10-11-12";
constexpr char Header[] = "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n";

}  // namespace

// Rows go through the row writers into a database, come back through the
// export's reload, meet the signatures of a scrambled Signature.db, and the
// findings file says what they show.
TEST(Detection_End_To_End, RowsThroughTheDatabaseToTheFindingsFile) {
    Temp_Dir dir;
    const std::string db_path = dir.File("QVM_test.db");
    const std::string signatures = dir.Make_Dir("signatures");
    const std::string out = dir.Make_Dir("out");
    {
        CppSQLite3DB db;
        db.Open_With_Pragmas(db_path);
        db.Run_Query(Event_Table_Sql::Create_LogFile);
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
        const std::vector<Log_Event> events = {
            Log_Event(1000).Event(u"File Creation").Name(u"SDELETE.EXE-2C5A1D3B.pf")
                .Path(u"\\Windows\\Prefetch\\SDELETE.EXE-2C5A1D3B.pf").File(0x12, 6),
            Log_Event(1100).Event(u"File Creation").Name(u"sdelete.exe").Path(u"\\Users\\Me\\sdelete.exe").File(0x13, 0),
            // A wiped file: its time set back, renamed, deleted. Its identity
            // (TargetVCN and cluster index) survives the round trip.
            Log_Event(1200).Event(u"Time Reversal Event").Detail(u"ModifiedTime : x -> y").Name(u"plan.txt")
                .File(0x20, 2),
            Log_Event(1250).Event(u"Time Reversal Event").Name(u"other.txt").File(0x20, 4),
            Log_Event(1300).Event(u"Renaming File").Name(u"ZZZZ.ZZZ").File(0x20, 2),
            Log_Event(1400).Event(u"File Deletion").Detail(u"(Abnormal Timestamp)").Name(u"ZZZZ.ZZZ").File(0x20, 2),
            // A name with a comma, double quotes and an apostrophe: stored
            // escaped once, reloaded as it was, quoted with single quotes.
            Log_Event(1500).Event(u"File Deletion").Name(u"Plan, \"final\" O'Brien.docx")
                .Path(u"\\Users\\Me\\Documents\\Plan, \"final\" O'Brien.docx").File(0x21, 0),
            Log_Event(1600).Event(u"File Deletion").Name(u"~$Plan.docx").Path(u"\\Users\\Me\\Documents\\~$Plan.docx"),
        };
        for (const Log_Event& e : events) ASSERT_EQ(Insert_LogFile_Row(db, e), 0);
        const std::vector<Usn_Event> records = {
            Usn_Event(0).Reasons({u"File_Created"}).Name(u"plan.txt").File_Reference(Mft_Reference(41, 1)),
            Usn_Event(96).Reasons({u"File_Created", u"File_Closed"}).Name(u"plan.txt").File_Reference(Mft_Reference(41, 1)),
            Usn_Event(200).Reasons({u"File_Created"}).Name(u"Eraser").Path(u"\\Program Files\\Eraser")
                .Attributes(u"Directory"),
            Usn_Event(300).Reasons({u"File_Created", u"File_Closed"}).Name(u"SDELETE.EXE-2C5A1D3B.pf")
                .Path(u"\\Windows\\Prefetch\\SDELETE.EXE-2C5A1D3B.pf"),
            Usn_Event(400).Reasons({u"File_Created"}).Name(u"sdelete.exe").Path(u"\\Users\\Me\\sdelete.exe"),
            // A file renamed in place twice, renamed once more, deleted.
            Usn_Event(500).Reasons({u"File_Renamed_Old"}).Name(u"plan.docx").Path(u"\\Users\\Me\\plan.docx")
                .File_Reference(0x50).Parent_Reference(0x60),
            Usn_Event(600).Reasons({u"File_Renamed_Old"}).Name(u"AAAA.AAAA").Path(u"\\Users\\Me\\AAAA.AAAA")
                .File_Reference(0x50).Parent_Reference(0x60),
            Usn_Event(700).Reasons({u"File_Renamed_New"}).Name(u"ZZZZ.ZZZZ").Path(u"\\Users\\Me\\ZZZZ.ZZZZ")
                .File_Reference(0x50).Parent_Reference(0x60),
            Usn_Event(800).Reasons({u"File_Deleted", u"File_Closed"}).Name(u"ZZZZ.ZZZZ")
                .Path(u"\\Users\\Me\\ZZZZ.ZZZZ").File_Reference(0x50).Parent_Reference(0x60),
            // A comma in a name comes back from the table as it was.
            Usn_Event(900).Reasons({u"File_Deleted"}).Name(u"Plan, final.docx")
                .Path(u"\\Users\\Me\\Documents\\Plan, final.docx"),
            // The clock set back two minutes, then moved forward with the
            // settings tool.
            Usn_Event(1000).Time(u"2020-08-02 09:58:00").Reasons({u"Data_Extend"}).Name(u"log.txt")
                .Path(u"\\Users\\Me\\log.txt"),
            Usn_Event(1100).Time(u"2020-08-02 09:58:30").Reasons({u"File_Created", u"File_Closed"})
                .Name(u"SYSTEMSETTINGSADMINFLOWS.EXE-4D8A1F2B.pf")
                .Path(u"\\Windows\\Prefetch\\SYSTEMSETTINGSADMINFLOWS.EXE-4D8A1F2B.pf"),
            Usn_Event(1200).Time(u"2020-08-02 10:05:00").Reasons({u"Data_Extend"}).Name(u"log.txt")
                .Path(u"\\Users\\Me\\log.txt"),
            // A document created, then a timestamp tool run, and a second
            // later the document's times changed: its $MFT creation time is
            // a whole second of 2018, the same as a file beside it.
            Usn_Event(1300).Time(u"2020-08-02 10:10:00").Reasons({u"File_Created"}).Name(u"secret.docx")
                .Path(u"\\Users\\Me\\Documents\\secret.docx").File_Reference(Mft_Reference(71, 1))
                .Parent_Reference(Mft_Reference(70, 1)),
            Usn_Event(1400).Time(u"2020-08-02 10:10:00").Reasons({u"File_Created", u"File_Closed"})
                .Name(u"secret.docx").Path(u"\\Users\\Me\\Documents\\secret.docx")
                .File_Reference(Mft_Reference(71, 1)).Parent_Reference(Mft_Reference(70, 1)),
            Usn_Event(1500).Time(u"2020-08-02 10:20:00").Reasons({u"File_Created", u"File_Closed"})
                .Name(u"TIMESTOMP.EXE-1A2B3C4D.pf").Path(u"\\Windows\\Prefetch\\TIMESTOMP.EXE-1A2B3C4D.pf"),
            Usn_Event(1600).Time(u"2020-08-02 10:20:01").Reasons({u"Basic_Info_Changed"}).Name(u"secret.docx")
                .Path(u"\\Users\\Me\\Documents\\secret.docx").File_Reference(Mft_Reference(71, 1))
                .Parent_Reference(Mft_Reference(70, 1)),
            Usn_Event(1700).Time(u"2020-08-02 10:20:01").Reasons({u"Basic_Info_Changed", u"File_Closed"})
                .Name(u"secret.docx").Path(u"\\Users\\Me\\Documents\\secret.docx")
                .File_Reference(Mft_Reference(71, 1)).Parent_Reference(Mft_Reference(70, 1)),
        };
        for (const Usn_Event& r : records) ASSERT_EQ(Insert_UsnJrnl_Row(db, r.Read_Record()), 0);
        db.Close_Database();
    }
    ASSERT_TRUE(Signature_Db_Builder()
                    .Add("Execution|Data Wiping|Same|SDELETE|SDelete")
                    .Add("Trace|Data Wiping|Creation|Same|sdelete.exe|SDelete")
                    .Add("Trace|Data Wiping|Rename|Include|ZZ.ZZZ|SDelete")
                    .Add("Installation|Data Wiping|\\Eraser|Eraser")
                    .Add("Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp")
                    .Add("ProgramUpdatePath|\\Program Files\\|Same|2")
                    .Add("KeyTempPath|\\AppData\\Local\\Temp\\|Include")
                    .Write(signatures));

    Program_State state;
    // The $MFT of the timestomped document's folder.
    const std::uint64_t stomped = 131699520000000000ull;  // 2018-05-05 00:00:00
    Mft_Entries mft;
    mft.Root()
        .Directory(60, 1, Mft_Root_Reference, u"Users")
        .Directory(61, 1, Mft_Reference(60, 1), u"Me")
        .Directory(70, 1, Mft_Reference(61, 1), u"Documents")
        .File(71, 1, Mft_Reference(70, 1), u"secret.docx");
    mft.Last().CreateTime = mft.Last().ModifiedTime = stomped;
    mft.Last().MFT_ModifiedTime = 132408372011234567ull;  // 2020-08-02 10:20:01.1234567
    mft.File(72, 1, Mft_Reference(70, 1), u"notes.txt");
    mft.Last().CreateTime = mft.Last().ModifiedTime = stomped;
    mft.Install(state.g_Parsing_Context);
    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        Export_CSV_And_Detect(state, db_path, out, Stamp, 9, 0, 1, UsnJrnl_Csv_Page_Rows, signatures);
    }
    EXPECT_EQ(console.str(),
              "\r\nExporting $LogFile info to CSV file...[Done]\r\nExporting $UsnJrnl:$J info to CSV file...[Done]"
              "\r\nLoading Suspicious Behavior Signature Info...[Done]"
              "\r\nDetecting Suspicious Behavior in $LogFile...[Done]"
              "\r\nDetecting Suspicious Behavior in $UsnJrnl...[Done]"
              "\r\nExporting Suspicious Behavior Detection info to CSV file...[Done]");
    EXPECT_EQ(messages.str(), "");
    EXPECT_EQ(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Stamp + ".csv"),
              std::string(Header) +
                  "\"Execution of Suspicious Programs\",\"SDelete (Data Wiping) has been executed.\",\"$LogFile\",\"1000\"\r\n"
                  "\"Traces of Suspicious Programs\",\"SDelete (Data Wiping)'s trace has been remained.\",\"$LogFile\",\"1100\"\r\n"
                  "\"Traces of Suspicious Programs\",\"SDelete (Data Wiping)'s trace has been remained.\",\"$LogFile\",\"1300\"\r\n"
                  "\"Traces of Suspicious Programs\",\"The Trace of Typical Data Wiping : Deletion after Renaming and "
                  "Timestamp Manipulation\",\"$LogFile\",\"1400\"\r\n"
                  "\"Deletion of Document File\",\"'Plan, 'final' O'Brien.docx' has been deleted.\",\"$LogFile\",\"1500\"\r\n"
                  "\"Installation of Suspicious Programs\",\"Eraser (Data Wiping) has been installed.\",\"$UsnJrnl:$J\",\"200\"\r\n"
                  "\"Execution of Suspicious Programs\",\"SDelete (Data Wiping) has been executed.\",\"$UsnJrnl:$J\",\"300\"\r\n"
                  "\"Execution of Suspicious Programs\",\"Timestomp (Timestamp Manipulation) has been executed.\",\"$UsnJrnl:$J\","
                  "\"1500\"\r\n"
                  "\"Traces of Suspicious Programs\",\"SDelete (Data Wiping)'s trace has been remained.\",\"$UsnJrnl:$J\",\"400\"\r\n"
                  "\"Traces of Suspicious Programs\",\"SDelete (Data Wiping)'s trace has been remained.\",\"$UsnJrnl:$J\",\"700\"\r\n"
                  "\"Traces of Suspicious Programs\",\"The Trace of Typical Data Wiping : Deletion after renaming more than 2 "
                  "times\",\"$UsnJrnl:$J\",\"800\"\r\n"
                  "\"Deletion of Document File\",\"'Plan, final.docx' has been deleted.\",\"$UsnJrnl:$J\",\"900\"\r\n"
                  "\"Manipulation of System Time\",\"The system time reversal has occurred. (2020-08-02 10:00:00 -> "
                  "2020-08-02 09:58:00)\",\"$UsnJrnl:$J\",\"1000\"\r\n"
                  "\"Manipulation of System Time\",\"The system time has moved forward more than 1 minute with running "
                  "SystemSettingsAdminFlows.exe. (2020-08-02 09:58:30 -> 2020-08-02 10:05:00)\",\"$UsnJrnl:$J\",\"1200\"\r\n"
                  "\"Timestamp Manipulation\",\"[Malicious] The timestamp of 'secret.docx' may have been manipulated after "
                  "executing Timestomp. (Zero in CreationTime's 100-nanoseconds) (Using another normal file's timestamp) => "
                  "((CreationTime : 2018-05-05 00:00:00(Zero in 100-nanoseconds)) != (Creation Event Time : 2020-08-02 "
                  "10:10:00)), (CreationTime(2018-05-05 00:00:00) is same as notes.txt)\",\"$UsnJrnl:$J\",\"1700\"\r\n");

    // The journal rules match on the reason words as the reload joins them.
    ASSERT_EQ(state.g_UsnJrnl_Info_Array.size(), 18u);
    EXPECT_EQ(state.g_UsnJrnl_Info_Array.Field(0, Usn_Field::Event), u"File_Created");
    EXPECT_EQ(state.g_UsnJrnl_Info_Array.Field(1, Usn_Field::Event), u"File_Created , File_Closed");
    EXPECT_EQ(state.g_UsnJrnl_Info_Array.Field(1, Usn_Field::FileReferenceNumber), u"0x0001000000000029");
    ASSERT_EQ(state.g_Log_Info_Array.size(), 8u);
    EXPECT_EQ(state.g_Log_Info_Array[0].ClusterIndex, u"6");
    EXPECT_EQ(state.g_Log_Info_Array[0].TargetVCN, u"0x12");
}

// A journal written by Windows 10 on tiered storage: the storage-class bit
// beside a creation. Its word is stored, comes back with the reload, and the
// trace rule still takes the record for one that only creates its file; with
// the close beside it, as before, it does not.
TEST(Detection_End_To_End, StorageClassChangeIsKeptAndTheCreationStillTraced) {
    Temp_Dir dir;
    const std::string db_path = dir.File("QVM_test.db");
    const std::string signatures = dir.Make_Dir("signatures");
    const std::string out = dir.Make_Dir("out");
    Usn_Journal_Builder journal;
    for (const std::uint32_t reason : {0x01000100u, 0x81000100u})
        journal.Append(Usn_Record_Builder().Usn(journal.Bytes().size()).Reason(reason).Parent(Mft_Root_Reference)
                           .Name(u"sdelete.exe").Attributes(0x20));
    journal.Write_File(dir.File("J"));
    {
        CppSQLite3DB db;
        db.Open_With_Pragmas(db_path);
        db.Run_Query(Event_Table_Sql::Create_LogFile);
        db.Run_Query(Event_Table_Sql::Create_UsnJrnl);
        Global_Parsing_Context context;
        Parse_UsnJrnl(context, dir.File("J"), db, 0);
        db.Close_Database();
    }
    EXPECT_EQ(Query_Rows(db_path, "select USN, Event from UsnJrnl order by USN"),
              (std::vector<std::string>{"0|File_Created / Desired_Storage_Class_Change",
                                        "88|File_Created / Desired_Storage_Class_Change / File_Closed"}));
    ASSERT_TRUE(Signature_Db_Builder().Add("Trace|Data Wiping|Creation|Same|sdelete.exe|SDelete").Write(signatures));

    Program_State state;
    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        ASSERT_TRUE(Export_CSV_And_Detect(state, db_path, out, Stamp, 0, 0, 1, UsnJrnl_Csv_Page_Rows, signatures));
    }
    ASSERT_EQ(state.g_UsnJrnl_Info_Array.size(), 2u);
    EXPECT_EQ(state.g_UsnJrnl_Info_Array.Field(0, Usn_Field::Event), u"File_Created , Desired_Storage_Class_Change");
    EXPECT_EQ(state.g_UsnJrnl_Info_Array.Field(1, Usn_Field::Event),
              u"File_Created , Desired_Storage_Class_Change , File_Closed");
    EXPECT_EQ(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Stamp + ".csv"),
              std::string(Header) +
                  "\"Traces of Suspicious Programs\",\"SDelete (Data Wiping)'s trace has been remained.\",\"$UsnJrnl:$J\","
                  "\"0\"\r\n");
}

// The program on the real Windows 10 volume, with a signature naming the file
// that Explorer creates for "New > Text Document": one trace finding for each
// creation of that file in the log, at its LSN.
TEST(Detection_Real, TraceFindingForEachCreationOfNewTextDocument) {
    const std::string data = std::string(TREVALON_REAL_DATA_DIR) + "/win10-20h1-volume";
    if (!std::filesystem::exists(data + "/LogFile") || !std::filesystem::exists(data + "/MFT"))
        GTEST_SKIP() << "real sample folder absent: " << data;
    Temp_Dir dir;
    const std::string out = dir.Make_Dir("out");
    const std::string cwd = dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder().Add("Trace|Test|Creation|Include|New Text Document|TestTool").Write(cwd));
    Run_Result r;
    {
        Scoped_Working_Directory in(cwd);
        r = Run_Program({"-l", data + "/LogFile", "-m", data + "/MFT", "-o", out, "-c", "-b"});
    }
    ASSERT_EQ(r.Exit_Code, 0) << r.Console;

    // The creations, read from the run's own LogFile table.
    const std::vector<std::string> created =
        Query_Rows(out + "/QVM_" + Pinned_Stamp + ".db",
                   "select LSN from LogFile where Event = 'File Creation' and FileName = 'New Text Document.txt' "
                   "order by LSN");
    ASSERT_FALSE(created.empty());
    std::vector<std::string> expected;
    for (const std::string& lsn : created)
        expected.push_back("\"Traces of Suspicious Programs\",\"TestTool (Test)'s trace has been remained.\","
                           "\"$LogFile\",\"" + lsn + "\"");

    std::vector<std::string> traces;
    std::istringstream findings(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv"));
    for (std::string line; std::getline(findings, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("\"Traces of Suspicious Programs\"", 0) == 0) traces.push_back(line);
    }
    EXPECT_EQ(traces, expected);
}

// The same volume's change journal, with a signature naming that file: one
// journal trace finding for each record that only creates it, at its USN.
TEST(Detection_Real, JournalTraceFindingForEachCreationOfNewTextDocument) {
    const std::string data = std::string(TREVALON_REAL_DATA_DIR) + "/win10-20h1-volume";
    if (!std::filesystem::exists(data + "/UsnJrnl_J") || !std::filesystem::exists(data + "/MFT"))
        GTEST_SKIP() << "real sample folder absent: " << data;
    Temp_Dir dir;
    const std::string out = dir.Make_Dir("out");
    const std::string cwd = dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder().Add("Trace|Test|Creation|Same|New Text Document.txt|TestTool").Write(cwd));
    Run_Result r;
    {
        Scoped_Working_Directory in(cwd);
        r = Run_Program({"-u", data + "/UsnJrnl_J", "-m", data + "/MFT", "-o", out, "-c", "-b"});
    }
    ASSERT_EQ(r.Exit_Code, 0) << r.Console;

    // The creations, read from the run's own UsnJrnl table: Explorer creates
    // the file (one record), closes it (a second) and renames it.
    const std::vector<std::string> created =
        Query_Rows(out + "/QVM_" + Pinned_Stamp + ".db",
                   "select USN from UsnJrnl where Event = 'File_Created' and FileName = 'New Text Document.txt' "
                   "order by USN");
    ASSERT_EQ(created.size(), 13u);
    std::vector<std::string> expected;
    for (const std::string& usn : created)
        expected.push_back("\"Traces of Suspicious Programs\",\"TestTool (Test)'s trace has been remained.\","
                           "\"$UsnJrnl:$J\",\"" + usn + "\"");

    std::vector<std::string> traces;
    std::istringstream findings(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv"));
    for (std::string line; std::getline(findings, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("\"Traces of Suspicious Programs\"", 0) == 0) traces.push_back(line);
    }
    EXPECT_EQ(traces, expected);
}

// A journal file and an $MFT file built byte by byte: a document created,
// a timestamp tool run, the document's times set back a second later. The
// program with -u -m -c -b names the tool's execution and the manipulation.
TEST(Detection_End_To_End, TimestompedDocumentFromJournalAndMftFiles) {
    Temp_Dir dir;
    const std::string out = dir.Make_Dir("out");
    const std::string cwd = dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder()
                    .Add("Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp")
                    .Add("ProgramUpdatePath|\\Program Files\\|Same|2")
                    .Add("KeyTempPath|\\AppData\\Local\\Temp\\|Include")
                    .Write(cwd));

    constexpr std::uint64_t Stomped = 131699520000000000ull;   // 2018-05-05 00:00:00
    constexpr std::uint64_t Created = 132408366004000000ull;   // 2020-08-02 10:10:00.4
    constexpr std::uint64_t Executed = 132408372003000000ull;  // 2020-08-02 10:20:00.3
    constexpr std::uint64_t Changed = 132408372015000000ull;   // 2020-08-02 10:20:01.5
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image);
    const auto directory = [&](std::uint64_t entry, std::uint64_t parent, const std::u16string& name) {
        image.Put(entry, Mft_Record_Builder(1024).Flags(Record_Flags::Directory).Sequence(1)
                             .Standard_Information(Created, Created, Created, Created).File_Name(parent, name));
    };
    directory(40, Mft_Reference(5, 5), u"Users");
    directory(41, Mft_Reference(40, 1), u"Me");
    directory(42, Mft_Reference(41, 1), u"Documents");
    directory(50, Mft_Reference(5, 5), u"Windows");
    directory(51, Mft_Reference(50, 1), u"Prefetch");
    image.Put(43, Mft_Record_Builder(1024).Flags(Record_Flags::File).Sequence(1)
                      .Standard_Information(Stomped, Stomped, Changed, Changed)
                      .File_Name(Mft_Reference(42, 1), u"secret.docx").Data(200));
    image.Put(44, Mft_Record_Builder(1024).Flags(Record_Flags::File).Sequence(1)
                      .Standard_Information(Stomped, Stomped, Stomped, Stomped)
                      .File_Name(Mft_Reference(42, 1), u"notes.txt").Data(20));
    image.Put(52, Mft_Record_Builder(1024).Flags(Record_Flags::File).Sequence(1)
                      .Standard_Information(Executed, Executed, Executed, Executed)
                      .File_Name(Mft_Reference(51, 1), u"TIMESTOMP.EXE-1A2B3C4D.pf").Data(100));
    image.Write_File(dir.File("MFT"));

    constexpr std::uint32_t File_Created = 0x100, File_Closed = 0x80000000, Basic_Info_Changed = 0x8000;
    Usn_Journal_Builder journal;
    const auto add = [&](std::uint64_t time, std::uint32_t reasons, std::uint64_t file, std::uint64_t parent,
                         const std::u16string& name) {
        journal.Append(Usn_Record_Builder().Usn(journal.Bytes().size()).Time_Stamp(time).Reason(reasons)
                           .File_Reference(file).Parent(parent).Name(name).Attributes(0x20));
    };
    const std::uint64_t secret = Mft_Reference(43, 1), documents = Mft_Reference(42, 1);
    add(Created, File_Created, secret, documents, u"secret.docx");
    add(Created, File_Created | File_Closed, secret, documents, u"secret.docx");
    const std::size_t executed_at = journal.Bytes().size();
    add(Executed, File_Created | File_Closed, Mft_Reference(52, 1), Mft_Reference(51, 1), u"TIMESTOMP.EXE-1A2B3C4D.pf");
    add(Changed, Basic_Info_Changed, secret, documents, u"secret.docx");
    const std::size_t changed_at = journal.Bytes().size();
    add(Changed, Basic_Info_Changed | File_Closed, secret, documents, u"secret.docx");
    journal.Write_File(dir.File("J"));

    Run_Result r;
    {
        Scoped_Working_Directory in(cwd);
        r = Run_Program({"-u", dir.File("J"), "-m", dir.File("MFT"), "-o", out, "-c", "-b"}, 0);
    }
    ASSERT_EQ(r.Exit_Code, 0) << r.Console;
    EXPECT_EQ(Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv"),
              std::string(Header) +
                  "\"Execution of Suspicious Programs\",\"Timestomp (Timestamp Manipulation) has been executed.\","
                  "\"$UsnJrnl:$J\",\"" + std::to_string(executed_at) + "\"\r\n"
                  "\"Timestamp Manipulation\",\"[Malicious] The timestamp of 'secret.docx' may have been manipulated after "
                  "executing Timestomp. (Zero in CreationTime's 100-nanoseconds) (Using another normal file's timestamp) => "
                  "((CreationTime : 2018-05-05 00:00:00(Zero in 100-nanoseconds)) != (Creation Event Time : 2020-08-02 "
                  "10:10:00)), (CreationTime(2018-05-05 00:00:00) is same as notes.txt)\",\"$UsnJrnl:$J\",\"" +
                  std::to_string(changed_at) + "\"\r\n");
}

namespace {

// The file offsets of the redo data of every copy of the log record `lsn`
// that updates the $STANDARD_INFORMATION times from the modified time on
// (Update Resident Value at attribute offset 0x20), in the log's record
// pages. A byte at the end of a 512-byte sector is stored in the page's
// update sequence array, so the offsets are those of the bytes as they read
// after the fix-up.
std::vector<std::size_t> Modified_Time_Updates(const std::string& log, std::uint64_t lsn) {
    constexpr std::size_t Page = 4096;
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(log[at]) |
                                        static_cast<unsigned char>(log[at + 1]) << 8);
    };
    const auto u64 = [&](std::size_t at) {
        std::uint64_t v = 0;
        for (int b = 7; b >= 0; --b) v = v << 8 | static_cast<unsigned char>(log[at + static_cast<std::size_t>(b)]);
        return v;
    };
    std::vector<std::size_t> found;
    for (std::size_t page = 0; page + Page <= log.size(); page += Page) {
        if (log.compare(page, 4, "RCRD") != 0) continue;
        for (std::size_t at = page + 0x28; at + 0x60 <= page + Page; at += 8) {
            if (u64(at) != lsn) continue;
            const std::size_t client = at + 0x30;
            const std::size_t redo = client + u16(client + 4);
            if (u16(client) == 0x07 && u16(client + 2) == 0x07 && u16(client + 18) == 0x20 &&
                u16(client + 6) >= 8 && redo + 8 <= page + Page)
                found.push_back(redo);
        }
    }
    return found;
}

// Writes a little-endian u64 over the page bytes at `at`, through the update
// sequence array where a byte ends a sector.
void Put_In_Page(std::string& log, std::size_t at, std::uint64_t value) {
    const std::size_t page = at / 4096 * 4096;
    const std::size_t array =
        static_cast<unsigned char>(log[page + 4]) | static_cast<unsigned char>(log[page + 5]) << 8;
    for (std::size_t b = 0; b < 8; ++b, value >>= 8) {
        const std::size_t in_page = at + b - page;
        const std::size_t place =
            in_page % 512 >= 510 ? page + array + 2 * (in_page / 512 + 1) + in_page % 512 - 510 : at + b;
        log[place] = static_cast<char>(value & 0xFF);
    }
}

std::vector<std::string> Findings_Lines(const std::string& file) {
    std::vector<std::string> lines;
    std::istringstream in(Read_File(file));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

// The Windows 10 volume's log with one update of the $STANDARD_INFORMATION
// times changed in place: \System Volume Information\tracking.log got the
// modified time 2020-07-25 12:30:22; the changed log gives it 2019-05-05
// 10:00:00. The file was created long before (no creation in its stretch of
// the log), was neither written, renamed nor deleted around the change, and
// its time went back by more than a year: a timestamp finding at the record's
// LSN, where the log as Windows wrote it has none.
TEST(Detection_Real, ModifiedTimeSetBackInTheWindowsLogIsATimestampFinding) {
    const std::string data = std::string(TREVALON_REAL_DATA_DIR) + "/win10-20h1-volume";
    if (!std::filesystem::exists(data + "/LogFile") || !std::filesystem::exists(data + "/MFT"))
        GTEST_SKIP() << "real sample folder absent: " << data;
    constexpr std::uint64_t Lsn = 67158968;
    constexpr std::uint64_t Set_Back = 132015240005000000ull;  // 2019-05-05 10:00:00.5
    std::string log = Read_File(data + "/LogFile");
    const std::vector<std::size_t> updates = Modified_Time_Updates(log, Lsn);
    ASSERT_EQ(updates.size(), 1u);
    Put_In_Page(log, updates[0], Set_Back);

    Temp_Dir dir;
    const std::string cwd = dir.Make_Dir("cwd");
    ASSERT_TRUE(Signature_Db_Builder().Add("Execution|Timestamp Manipulation|Same|TIMESTOMP|TimeStomp").Write(cwd));
    const std::string changed = dir.Write("LogFile", log);
    for (const bool set_back : {false, true}) {
        const std::string out = dir.Make_Dir(set_back ? "changed" : "as-written");
        Run_Result r;
        {
            Scoped_Working_Directory in(cwd);
            r = Run_Program({"-l", set_back ? changed : data + "/LogFile", "-m", data + "/MFT", "-o", out, "-c", "-b"},
                            0);
        }
        ASSERT_EQ(r.Exit_Code, 0) << r.Console;
        const std::string db = out + "/QVM_" + Pinned_Stamp + ".db";
        const std::string row =
            set_back ? "Time Reversal Event: ModifiedTime : 2020-07-25 12:30:21 -> 2019-05-05 10:00:00"
                     : "Updating Modified Time: ModifiedTime : 2020-07-25 12:30:21 -> 2020-07-25 12:30:22";
        EXPECT_EQ(Query_Rows(db, "select Event || ': ' || Detail from LogFile where LSN = " + std::to_string(Lsn)),
                  std::vector<std::string>{row});
        std::vector<std::string> expected{"\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\""};
        if (set_back)
            expected.push_back("\"Timestamp Manipulation\",\"[Suspicious] $SI timestamp of 'tracking.log' is changed "
                               "to the past. => ModifiedTime : 2020-07-25 12:30:21 -> 2019-05-05 10:00:00\",\"$LogFile\",\"" +
                               std::to_string(Lsn) + "\"");
        const std::string findings = out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv";
        EXPECT_EQ(Findings_Lines(findings), expected) << set_back;
    }
}

// A journal and an $MFT built byte by byte: an updater rewrites ten files of
// \Program Files\Vendor\ within seconds, and the times of its eleventh file,
// Vendor.dll, are changed in the same burst, back to 2019. With the program
// update path of the shipped list, the burst forms an update period in which
// most files were rewritten without a time change, so the change is taken as
// part of the update; without that row it is a timestamp finding.
TEST(Detection_End_To_End, UpdatePeriodFromJournalFilesLeavesAProgramsTimeChangeAlone) {
    constexpr std::uint64_t Stamped = 131907744001234567ull;   // 2019-01-01 00:00:00.1234567
    constexpr std::uint64_t Created = 132408360001000000ull;   // 2020-08-02 10:00:00.1
    constexpr std::uint64_t Rewritten = 132408362950000000ull; // 2020-08-02 10:04:55
    constexpr std::uint64_t Changed = 132408363002000000ull;   // 2020-08-02 10:05:00.2
    Temp_Dir dir;
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image);
    const auto directory = [&](std::uint64_t entry, std::uint64_t parent, const std::u16string& name) {
        image.Put(entry, Mft_Record_Builder(1024).Flags(Record_Flags::Directory).Sequence(1)
                             .Standard_Information(Created, Created, Created, Created).File_Name(parent, name));
    };
    const std::uint64_t vendor = Mft_Reference(41, 1), own = Mft_Reference(42, 1);
    directory(40, Mft_Reference(5, 5), u"Program Files");
    directory(41, Mft_Reference(40, 1), u"Vendor");
    image.Put(42, Mft_Record_Builder(1024).Flags(Record_Flags::File).Sequence(1)
                      .Standard_Information(Stamped, Stamped, Changed, Changed)
                      .File_Name(vendor, u"Vendor.dll").Data(200));
    const auto library = [](int k) { return u"lib" + platform::Utf8_To_Utf16(std::to_string(k)) + u".dll"; };
    for (int k = 0; k < 10; ++k)
        image.Put(50 + static_cast<std::uint64_t>(k),
                  Mft_Record_Builder(1024).Flags(Record_Flags::File).Sequence(1)
                      .Standard_Information(Created, Rewritten, Rewritten, Rewritten)
                      .File_Name(vendor, library(k)).Data(100));
    image.Write_File(dir.File("MFT"));

    constexpr std::uint32_t File_Created = 0x100, File_Closed = 0x80000000, Basic_Info_Changed = 0x8000,
                            Data_Overwrite = 0x1;
    Usn_Journal_Builder journal;
    const auto add = [&](std::uint64_t time, std::uint32_t reasons, std::uint64_t file, const std::u16string& name) {
        journal.Append(Usn_Record_Builder().Usn(journal.Bytes().size()).Time_Stamp(time).Reason(reasons)
                           .File_Reference(file).Parent(vendor).Name(name).Attributes(0x20));
    };
    add(Created, File_Created, own, u"Vendor.dll");
    add(Created, File_Created | File_Closed, own, u"Vendor.dll");
    for (int k = 0; k < 10; ++k)
        add(Rewritten, Data_Overwrite | File_Closed, Mft_Reference(50 + static_cast<std::uint64_t>(k), 1), library(k));
    add(Changed, Basic_Info_Changed, own, u"Vendor.dll");
    const std::size_t changed_at = journal.Bytes().size();
    add(Changed, Basic_Info_Changed | File_Closed, own, u"Vendor.dll");
    journal.Write_File(dir.File("J"));

    for (const bool update_path : {false, true}) {
        const std::string name = update_path ? "with" : "without";
        const std::string cwd = dir.Make_Dir("cwd-" + name);
        const std::string out = dir.Make_Dir("out-" + name);
        Signature_Db_Builder signatures;
        signatures.Add("KeyTempPath|\\AppData\\Local\\Temp\\|Include");
        if (update_path) signatures.Add("ProgramUpdatePath|\\Program Files\\|Same|2");
        ASSERT_TRUE(signatures.Write(cwd));
        Run_Result r;
        {
            Scoped_Working_Directory in(cwd);
            r = Run_Program({"-u", dir.File("J"), "-m", dir.File("MFT"), "-o", out, "-c", "-b"}, 0);
        }
        ASSERT_EQ(r.Exit_Code, 0) << r.Console;
        std::vector<std::string> expected{"\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\""};
        if (!update_path)
            expected.push_back("\"Timestamp Manipulation\",\"[Suspicious] The timestamp of 'Vendor.dll' may have been "
                               "manipulated. => ((CreationTime : 2019-01-01 00:00:00) != (Creation Event Time : "
                               "2020-08-02 10:00:00))\",\"$UsnJrnl:$J\",\"" + std::to_string(changed_at) + "\"");
        const std::string findings = out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv";
        EXPECT_EQ(Findings_Lines(findings), expected) << name;
    }
}
