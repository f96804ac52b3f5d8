// The journal stage with its rows decoded on a thread of their own and handed
// through the bounded queue stores exactly the rows, in exactly the order,
// that the stage decoding and inserting on one thread stores, whatever the
// size of the batches (that a batch stores what one statement per row stores
// is the inserter's own test).
// Also run under the thread sanitizer (the tsan preset).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ntfs/Parsing_Context.h"
#include "ntfs/mft/Parse_MFT.h"
#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
#include "ntfs/usnjrnl/Usn_Test_Support.h"
#include "support/Mft_Record_Builder.h"
#include "support/Temp_Dir.h"
#include "support/Usn_Record_Builder.h"

using test_support::Usn_Journal_Builder;
using test_support::Usn_Record_Builder;
using usn_test::Output_Db;

namespace {

std::string Real(const std::string& relative) { return std::string(TREVALON_REAL_DATA_DIR) + "/" + relative; }

// Every stored value with its storage class and exact bytes, in insertion order.
constexpr char Exact_Rows[] =
    "select rowid, typeof(USN), quote(USN), hex(TimeStamp), hex(FileName), hex(FullPath), hex(Event), "
    "hex(SourceInfo), hex(FileAttr), hex(CarvingFlag), hex(FileReferenceNumber), hex(ParentFileReferenceNumber) "
    "from UsnJrnl order by rowid";

const Usn_Stage_Options Single_Thread{false};
// The queue for files of any size. Small batches and a short queue: the
// decoder waits for the inserts again and again. Batches of 100 rows hold one
// multi-row statement and a tail of single-row ones.
const Usn_Stage_Options Tight_Queue{true, 0, 7, 1};
const Usn_Stage_Options Mid_Queue{true, 0, 100, 2};
const Usn_Stage_Options Default_Queue{true, 0};
// One thread with the batch sizes of the queues above.
const Usn_Stage_Options Single_Thread_Small_Batches{false, 0, 7};
const Usn_Stage_Options Single_Thread_Mid_Batches{false, 0, 100};

// One input and how the stage reads it.
struct Stage_Run {
    std::string name;
    std::string path;
    int alignment;  // 0: Parse_UsnJrnl
};

// The rows `run` stores, read in twice (the second pass refuses every row,
// its USNs being stored already), with `options`.
std::vector<std::string> Stored_Rows(Global_Parsing_Context& context, const Temp_Dir& dir, const Stage_Run& run,
                                     const Usn_Stage_Options& options, const std::string& label) {
    Output_Db out(dir, run.name + "-" + label + ".db");
    for (int pass = 0; pass < 2; ++pass) {
        if (run.alignment == 0)
            Parse_UsnJrnl(context, run.path, out.Db(), -5, options);
        else
            Carve_UsnJrnl_Records(context, run.path, out.Db(), -5, run.alignment, options);
    }
    return out.Rows(Exact_Rows);
}

void Expect_Queue_Matches_Single_Thread(Global_Parsing_Context& context, const Temp_Dir& dir, const Stage_Run& run) {
    SCOPED_TRACE(run.name);
    const auto expected = Stored_Rows(context, dir, run, Single_Thread, "single");
    EXPECT_EQ(Stored_Rows(context, dir, run, Tight_Queue, "tight"), expected);
    EXPECT_EQ(Stored_Rows(context, dir, run, Mid_Queue, "mid"), expected);
    EXPECT_EQ(Stored_Rows(context, dir, run, Default_Queue, "default"), expected);
    EXPECT_EQ(Stored_Rows(context, dir, run, Single_Thread_Small_Batches, "single-small"), expected);
    EXPECT_EQ(Stored_Rows(context, dir, run, Single_Thread_Mid_Batches, "single-mid"), expected);
}

TEST(Usn_Stage_Queue, Real_Journals_Give_The_Rows_Of_The_Single_Thread) {
    const std::vector<Stage_Run> runs = {
        {"win10", Real("win10-20h1-volume/UsnJrnl_J"), 0},
        {"dfir", Real("dfir-ntfs-usn/usnjrnlj.bin"), 0},
        {"plaso", Real("plaso-usn/UsnJrnl.raw"), 0},
        {"win10-carved-1", Real("win10-20h1-volume/UsnJrnl_J"), 1},
        {"slice-carved-1", Real("win10-20h1-volume/volume_slice_clusters_6144-6655.bin"), 1},
        {"slice-carved-8", Real("win10-20h1-volume/volume_slice_clusters_6144-6655.bin"), 8},
    };
    Temp_Dir dir;
    Global_Parsing_Context context;
    int compared = 0;
    for (const Stage_Run& run : runs) {
        if (!std::filesystem::exists(run.path)) continue;
        Expect_Queue_Matches_Single_Thread(context, dir, run);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no real journal under " << TREVALON_REAL_DATA_DIR << "; test skipped";

    // With the volume's $MFT the decoding thread builds the full paths.
    const std::string mft = Real("win10-20h1-volume/MFT");
    if (!std::filesystem::exists(mft) || !std::filesystem::exists(runs[0].path)) return;
    ASSERT_EQ(Parse_MFT(context, mft), 0);
    Expect_Queue_Matches_Single_Thread(context, dir, Stage_Run{"win10-mft", runs[0].path, 0});
    Expect_Queue_Matches_Single_Thread(context, dir, Stage_Run{"slice-mft", runs[4].path, 1});
}

TEST(Usn_Stage_Queue, Built_Journal_Gives_The_Rows_Of_The_Single_Thread) {
    // Enough records for many batches and multi-row statements, with USNs
    // that recur inside a statement (every tenth repeats the one before) and
    // across batches, names that escaping changes, and records that fail
    // their tests in between.
    const std::u16string names[] = {u"report.docx", u"it's, here", u"\u00E9t\u00E9 \u65E5\u672C", u"lone \xD800",
                                    u"pair \xD83D\xDE00", std::u16string(u"cut\0off", 7), u"a''b"};
    Usn_Journal_Builder journal;
    journal.Zeros(4096);
    for (int i = 0; i < 700; ++i) {
        Usn_Record_Builder record;
        record.Usn(static_cast<std::uint64_t>((i % 10 == 9 ? i - 1 : i) % 300) * 8)
            .Name(names[i % 7])
            .Time_Stamp(test_support::Usn_Test_Time + static_cast<std::uint64_t>(i) * 7'000'000'000)  // 700 s apart
            .Parent(i % 2 == 0 ? 0x0005000000000005ull : 0x0002000000000040ull)
            .Reason(0x80000000u >> (i % 32));
        if (i >= 300 && i % 50 == 49) record.Source_Info(3);  // fails the record test
        journal.Append(record);
        if (i % 97 == 0) journal.Zeros(24);
    }
    Temp_Dir dir;
    const std::string path = dir.File("J");
    journal.Write_File(path);
    Global_Parsing_Context context;
    Expect_Queue_Matches_Single_Thread(context, dir, Stage_Run{"built", path, 0});
    Expect_Queue_Matches_Single_Thread(context, dir, Stage_Run{"built-carved", path, 1});
    // The queue's rows are not only equal but the expected ones.
    Output_Db out(dir, "count.db");
    Parse_UsnJrnl(context, path, out.Db(), 0, Tight_Queue);
    EXPECT_EQ(out.Rows("select count(*) from UsnJrnl"), std::vector<std::string>{"270"});
}

}  // namespace
