// The events of two $LogFile files written by Windows, with their $MFT, as a
// whole run (-l with -m, UTC; -c too) stores them. Each file below was picked from the
// independent listings kept beside the samples (dfir_ntfs over the log and
// the $MFT, The Sleuth Kit's fls over the volume, and the change journal
// where there is one); the comment says why its events are expected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Real_Volume_Run.h"

namespace {

using namespace real_volume;

using Win10_Volume = Volume_Suite<Win10_Folder>;
using Tiny_Volume = Volume_Suite<Tiny_Folder>;

TEST_F(Win10_Volume, RunEndsCleanWithoutPlaceholderRows) {
    const Volume_Run& run = Run();
    EXPECT_EQ(run.Result().Exit_Code, 0);
    EXPECT_NE(run.Result().Console.find("Parsing $LogFile...[Done]"), std::string::npos);
    EXPECT_EQ(Query_Rows(run.Db(), "select count(*) from LogFile where Event='Temp Event'"),
              std::vector<std::string>{"0"});
    // The volume's creations are made in Explorer as "New folder" and "New
    // Text Document.txt" and then renamed; nothing was moved.
    EXPECT_GE(run.Count("File Creation"), 20u);
    EXPECT_GE(run.Count("Renaming File"), 13u);
    EXPECT_EQ(run.Count("Renaming Directory"), 2u);
    EXPECT_EQ(run.Count("Move(After)"), 0u);
    EXPECT_EQ(run.Count("Move(Before)"), 0u);
}

// \test_dir (entry 50, fls "d/d 50-144-7: test_dir"): made in Explorer as
// "New folder" and renamed. dfir_ntfs puts InitializeFileRecordSegment at
// LSN 67132035 and CreateAttribute at 67132714 on record 50; the $MFT gives its
// creation time 2020-07-25 12:33:06.090928.
TEST_F(Win10_Volume, TestDirCreatedAsNewFolderAndRenamed) {
    const Volume_Run& run = Run();
    Expect_Row(run, 67132035u, "Directory Creation", "", "New folder", "\\New folder");
    EXPECT_EQ(run.Row(67132035u).event_time, "2020-07-25 12:33:06");
    Expect_Row(run, 67132714u, "Renaming Directory", "New folder -> test_dir", "test_dir", "\\test_dir");
}

// \test_dir\file_1.txt (entry 52, fls "r/r 52-128-1"): dfir_ntfs has
// InitializeFileRecordSegment at 67133578 and CreateAttribute at 67134327 on
// record 52, right after AddIndexEntryRoot in record 50; $SI creation
// 2020-07-25 12:33:11.865472.
TEST_F(Win10_Volume, File1CreatedInTestDirAndRenamed) {
    const Volume_Run& run = Run();
    Expect_Row(run, 67133578u, "File Creation", "", "New Text Document.txt", "\\test_dir\\New Text Document.txt");
    EXPECT_EQ(run.Row(67133578u).event_time, "2020-07-25 12:33:11");
    Expect_Row(run, 67134327u, "Renaming File", "New Text Document.txt -> file_1.txt", "file_1.txt",
               "\\test_dir\\file_1.txt");
}

// \test_dir\file_8.txt (entry 54): renamed twice. The $MFT slack still holds
// the name file_hidden.txt with the same creation time (12:33:42.579292) as
// file_8.txt; dfir_ntfs has CreateAttribute on record 54 at LSN 67149371.
TEST_F(Win10_Volume, File8WasFileHiddenBefore) {
    const Volume_Run& run = Run();
    Expect_Row(run, 67137834u, "File Creation", "", "New Text Document.txt", "\\test_dir\\New Text Document.txt");
    EXPECT_EQ(run.Row(67137834u).event_time, "2020-07-25 12:33:42");
    Expect_Row(run, 67138596u, "Renaming File", "New Text Document.txt -> file_hidden.txt", "file_hidden.txt",
               "\\test_dir\\file_hidden.txt");
    Expect_Row(run, 67149371u, "Renaming File", "file_hidden.txt -> file_8.txt", "file_8.txt", "\\test_dir\\file_8.txt");
}

// \test_dir_2\file_2_1.txt (entry 65, in test_dir_2, entry 64): dfir_ntfs has
// CreateAttribute on record 65 at LSN 67157294; $SI creation 12:35:34.295990.
TEST_F(Win10_Volume, FileInSecondDirectory) {
    const Volume_Run& run = Run();
    Expect_Row(run, 67156896u, "File Creation", "", "New Text Document.txt", "\\test_dir_2\\New Text Document.txt");
    EXPECT_EQ(run.Row(67156896u).event_time, "2020-07-25 12:35:34");
    Expect_Row(run, 67157294u, "Renaming File", "New Text Document.txt -> file_2_1.txt", "file_2_1.txt",
               "\\test_dir_2\\file_2_1.txt");
}

// \shadow_2.txt (entry 38, since re-used by tracking.log): gone from the
// volume; the change journal has RENAME_OLD_NAME shadow_1.txt, RENAME_NEW_NAME
// shadow_2.txt and FILE_DELETE for reference 38-1 in the root, and dfir_ntfs
// has CreateAttribute (33625211) and DeallocateFileRecordSegment (33664879)
// on record 38. The name comes from the directory entry removed before.
TEST_F(Win10_Volume, DeletedShadowFileRenamedThenDeleted) {
    const Volume_Run& run = Run();
    Expect_Row(run, 33625211u, "Renaming File", "shadow_1.txt -> shadow_2.txt", "shadow_2.txt", "\\shadow_2.txt");
    Expect_Row(run, 33664879u, "File Deletion", "", "shadow_2.txt", "\\shadow_2.txt");
    EXPECT_EQ(run.Row(33664879u).create_time, "2020-07-25 12:25:20");
}

TEST_F(Tiny_Volume, RunEndsCleanWithoutPlaceholderRows) {
    const Volume_Run& run = Run();
    EXPECT_EQ(run.Result().Exit_Code, 0);
    EXPECT_EQ(Query_Rows(run.Db(), "select count(*) from LogFile where Event='Temp Event'"),
              std::vector<std::string>{"0"});
    // Three FILE records are deallocated in the log (dfir_ntfs); two of them
    // are named by a removed directory entry of the same transaction.
    EXPECT_EQ(run.Count("File Deletion"), 2u);
}

// \Tulips.jpg (record 32, 512-byte clusters: target VCN 64): only in the log,
// the $MFT record now holds file8.txt. dfir_ntfs has its
// InitializeFileRecordSegment at 1061048 and DeallocateFileRecordSegment at
// 1069905. Its one run starts at cluster 8906, where partition.dd holds a JFIF
// header; 1213 clusters of 512 bytes hold the 620,888-byte sample picture.
TEST_F(Tiny_Volume, TulipsCreatedThenDeleted) {
    const Volume_Run& run = Run();
    Expect_Row(run, 1061048u, "File Creation", "Data Runs(in Volume) : 8906(1213)", "Tulips.jpg", "\\Tulips.jpg");
    EXPECT_EQ(run.Row(1061048u).event_time, "2013-05-01 09:20:53");
    Expect_Row(run, 1069905u, "File Deletion", "", "Tulips.jpg", "\\Tulips.jpg");
    EXPECT_EQ(run.Row(1069905u).create_time, "2013-05-01 09:20:53");
    // Dated by the root's next update, whose header names the root's FILE
    // record as VCN 10 in 512-byte clusters.
    EXPECT_EQ(run.Row(1069905u).event_time, "2013-05-01 09:28:03");
}

// \suspicious.zip (record 33 before file4.txt took it): dfir_ntfs has
// InitializeFileRecordSegment at 1061975 and DeallocateFileRecordSegment at
// 1067158 on record 33.
TEST_F(Tiny_Volume, SuspiciousZipCreatedThenDeleted) {
    const Volume_Run& run = Run();
    Expect_Row(run, 1061975u, "File Creation", "Data Runs(in Volume) : 10119(2668)", "suspicious.zip", "\\suspicious.zip");
    EXPECT_EQ(run.Row(1061975u).event_time, "2013-05-01 09:21:02");
    Expect_Row(run, 1067158u, "File Deletion", "", "suspicious.zip", "\\suspicious.zip");
    EXPECT_EQ(run.Row(1067158u).event_time, "2013-05-01 09:21:51");
}

// The root (entry 5) at target VCN 10, cluster index 0: with 512-byte
// clusters and 1 KiB records that is byte 5120 of the $MFT, entry 5, as
// dfir_ntfs's listing says for LSN 1061114 (an update of the root's times).
TEST_F(Tiny_Volume, UpdatesOfTheRootAreGuessedAsTheRoot) {
    const Volume_Run& run = Run();
    Expect_Row(run, 1061114u, "Updating Modified Time", "ModifiedTime : 2013-05-01 09:18:41 -> 2013-05-01 09:20:53",
               ". <Guessed>", "\\.");
}

// \file4.txt (fls "r/r 33-128-1"): re-uses record 33 right after the zip's
// deletion (dfir_ntfs: InitializeFileRecordSegment at 1067827 on record 33);
// $SI creation 2013-05-01 09:22:03.410156.
TEST_F(Tiny_Volume, File4ReusesTheZipsRecord) {
    const Volume_Run& run = Run();
    Expect_Row(run, 1067827u, "File Creation", "", "file4.txt", "\\file4.txt");
    EXPECT_EQ(run.Row(1067827u).event_time, "2013-05-01 09:22:03");
}

// \file8.txt (fls "r/r 32-128-1"): re-uses the picture's record 32
// (dfir_ntfs: InitializeFileRecordSegment at 1071071); $SI creation
// 2013-05-01 09:28:17.140814.
TEST_F(Tiny_Volume, File8ReusesThePicturesRecord) {
    const Volume_Run& run = Run();
    Expect_Row(run, 1071071u, "File Creation", "", "file8.txt", "\\file8.txt");
    EXPECT_EQ(run.Row(1071071u).event_time, "2013-05-01 09:28:17");
}

// The recycle bin folder of the user (fls "d/d 35-144-1"): a directory whose
// name does not begin with "$" (dfir_ntfs: InitializeFileRecordSegment at
// 1065622 on record 35), under $RECYCLE.BIN, which is a directory too: its
// name begins with "$", and its FILE record's header says it is one (unlike
// $Quota or $Secure, which carry an index root of another kind).
TEST_F(Tiny_Volume, RecycleBinFolderIsADirectory) {
    const Volume_Run& run = Run();
    const std::string sid = "S-1-5-21-3071599738-1627302256-2937559092-1000";
    Expect_Row(run, 1065622u, "Directory Creation", "", sid, "\\$RECYCLE.BIN\\" + sid);
    Expect_Row(run, 1065003u, "Directory Creation", "", "$RECYCLE.BIN", "\\$RECYCLE.BIN");
}

}  // namespace
