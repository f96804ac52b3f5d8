// A copy made by Explorer on Windows 10, as its $LogFile holds it: the FILE
// record initialised with no long name, the name added, the directory entry,
// the commit; then the copy sets the file's modified time back to the
// source's. Run as an examiner runs it (-l -m -c -b), the copy is a new file
// whose times were set at its creation, not a file being timestomped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Laid_Log_Record.h"
#include "support/Mft_Record_Builder.h"
#include "support/Run_Harness.h"
#include "support/Signature_Db_Builder.h"
#include "support/Sqlite_Query.h"
#include "support/Temp_Dir.h"
#include "support/Working_Directory.h"

namespace {

namespace lr = log_record_test;
namespace lf = logfile_test;

constexpr char Findings_Header[] = "\"Category\",\"Detail\",\"Source\",\"DetectionLocation (LSN / USN)\"\r\n";
const std::u16string Name = u"Quarterly report (copy).docx";
constexpr std::uint64_t File_52 = lr::Reference(52, 3);

// The copy's records; `name_transaction` is that of the added name (the
// FILE record's own transaction is 0x18).
std::vector<lf::Log_Record> Copy_Then_Modified_Time_Set_Back(std::uint32_t name_transaction) {
    using namespace lr;
    const Times made;  // 2020-07-25 12:33:11 ...
    Times set_back = made;
    set_back.modified -= 60ull * 10'000'000;  // one minute earlier
    const std::vector<Log_Record> records = {
        Initialize_File_Record(Place_Of(52), File_Record_Image({Standard_Information(made, 0x20)})),
        In_Transaction(Create_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, Name)), name_transaction),
        Add_Index_Entry(Index_Place::Root, Place_Of(5), Index_Entry(File_52, Root_Reference, Name, made)),
        Forget_Transaction(),
        // Check points enough that the start of the log is no sign of a new file.
        Check_Point(),
        Check_Point(),
        Check_Point(),
        In_Transaction(Update_Standard_Information(Place_Of(52), 0x20, made, 0x20, set_back, 0x20), 0x1A),
    };
    std::vector<lf::Log_Record> laid;
    for (std::size_t k = 0; k < records.size(); ++k) laid.push_back(test_support::Laid_In_Log(records[k], 0x1000 + 0x100 * k, records[k].transaction_id));
    return laid;
}

struct Run_Outcome {
    Run_Result run;
    std::vector<std::string> rows;  // Event | FileName | FullPath | EventTime, by LSN
    std::string findings;
};

Run_Outcome Run_On(const std::vector<lf::Log_Record>& records) {
    using namespace test_support;
    Temp_Dir dir;
    lf::Log_Image log;
    log.Add_Restart_Pages().Add(lf::Filled_Page(0xFF)).Add(lf::Filled_Page(0xFF)).Add(lf::Lay_Records(records).pages);
    const std::string log_path = log.Write(dir.File("LogFile"));
    Mft_Image_Builder mft;
    Put_Volume_Skeleton(mft);
    mft.Put(52, Mft_Record_Builder().Flags(Record_Flags::File).Sequence(3)
                    .Standard_Information(lr::Times{}.create).File_Name(Mft_Reference(5, 5), Name));
    mft.Write_File(dir.File("MFT"));
    const std::string out = dir.Make_Dir("out");
    const std::string cwd = dir.Make_Dir("cwd");
    EXPECT_TRUE(Signature_Db_Builder().Add("Trace|Test|Creation|Include|no such file|TestTool").Write(cwd));

    Run_Outcome outcome;
    {
        Scoped_Working_Directory in(cwd);
        outcome.run = Run_Program({"-l", log_path, "-m", dir.File("MFT"), "-o", out, "-c", "-b", "-t", "0"});
    }
    outcome.rows = Query_Rows(out + "/QVM_" + Pinned_Stamp + ".db",
                              "select Event || ' | ' || FileName || ' | ' || FullPath || ' | ' || EventTime "
                              "from LogFile order by LSN");
    outcome.findings = Read_File(out + "/QVM_SuspiciousBehaviorDetection_" + Pinned_Stamp + ".csv");
    return outcome;
}

TEST(LogFile_Two_Step_Creation, CopyWithItsTimesSetBackIsNoTimestampManipulation) {
    const Run_Outcome copy = Run_On(Copy_Then_Modified_Time_Set_Back(0x18));
    ASSERT_EQ(copy.run.Exit_Code, 0) << copy.run.Console << copy.run.Messages;
    ASSERT_FALSE(copy.rows.empty());
    EXPECT_EQ(copy.rows.front(),
              "File Creation | Quarterly report (copy).docx | \\Quarterly report (copy).docx | 2020-07-25 12:33:11");
    EXPECT_EQ(copy.rows.back().substr(0, 48), "Time Reversal Event | Quarterly report (copy).do");
    EXPECT_EQ(copy.findings, Findings_Header);

    // The same records with the name added by another transaction: no
    // creation, and the time set back is judged as an old file's.
    const Run_Outcome renamed_elsewhere = Run_On(Copy_Then_Modified_Time_Set_Back(0x19));
    ASSERT_EQ(renamed_elsewhere.run.Exit_Code, 0) << renamed_elsewhere.run.Console;
    EXPECT_EQ(renamed_elsewhere.findings,
              std::string(Findings_Header) +
                  "\"Timestamp Manipulation\",\"[Suspicious] $SI timestamp of 'Quarterly report (copy).docx' (Guessed) "
                  "is changed to the past. (Zero in changed timestamp's 100-nanoseconds) => ModifiedTime : 2020-07-25 "
                  "12:33:24 -> 2020-07-25 12:32:24(Zero in 100-nanoseconds)\",\"$LogFile\",\"5888\"\r\n");
}

}  // namespace
