// Time, attribute and content events of the real Windows 10 volume's
// $LogFile, read with its $MFT (-l -m -c, UTC). Each row below was picked
// from the independent listings kept beside the sample: dfir_ntfs over the
// log (which record updates which attribute of which FILE record) and over
// the $MFT (the final $STANDARD_INFORMATION times), and the change journal
// (when a file was written, renamed or deleted). The comment says why each
// event is expected with its old and new times.
#include <gtest/gtest.h>

#include <string>

#include "ntfs/logfile/analysis/Real_Volume_Run.h"

namespace {

using namespace real_volume;

class Win10_Time_Changes : public Volume_Suite<Win10_Folder> {
protected:
    static Stored_Row At(std::uint64_t lsn) { return Run().Row(lsn); }
    static void Expect(std::uint64_t lsn, const std::string& event, const std::string& detail,
                       const std::string& file_name, const std::string& full_path) {
        Expect_Row(Run(), lsn, event, detail, file_name, full_path);
    }
    static std::size_t Count(const std::string& event) { return Run().Count(event); }
};

// The files were made in Explorer, written and renamed; nobody set a time
// back: none of the 108 updates of $SI times that dfir_ntfs lists (record
// offset 56, attribute offsets 24 to 58) moves a time to an earlier second,
// and the one update from the creation time on (LSN 67129103, the root)
// leaves the creation time as it was.
TEST_F(Win10_Time_Changes, WritesAndRenamesButNoTimeSetBack) {
    EXPECT_EQ(Run().Result().Exit_Code, 0);
    EXPECT_EQ(Count("Time Reversal Event"), 0u);
    EXPECT_EQ(Count("CreationTime Update Event"), 0u);
    EXPECT_GE(Count("Updating Modified Time"), 40u);
    EXPECT_GE(Count("Updating MFTModified Time"), 15u);
    // The CSV export carries them too.
    EXPECT_NE(Run().Csv().find("\"67135455\",\"\",\"Updating Modified Time\",\"ModifiedTime : 2020-07-25 12:33:11 -> "
                        "2020-07-25 12:33:24\",\"file_1.txt\""),
              std::string::npos);
}

// \test_dir\file_1.txt (record 52: target VCN 13, cluster block 0). dfir_ntfs
// lists at 67135433 an UpdateResidentValue of 6 bytes at record offset 304,
// attribute offset 24 (a resident $DATA's content), and at 67135455 one at
// record offset 56, attribute offset 32 ($SI from the modified time). The
// $MFT has $SI C 12:33:11.865472 and M 12:33:24.381106, the file is 6 bytes
// long, and the journal has its one DATA_EXTEND at 12:33:24.381106: the
// modified time goes from the creation time to the write. The write itself
// and the time update both take the newest name, from the rename at 67134327
// (the file was "New Text Document.txt" when it was made).
TEST_F(Win10_Time_Changes, File1WrittenOnce) {
    Expect(67135433u, "Writing Content of Resident File", "Writing Size : 6", "file_1.txt",
           "\\test_dir\\file_1.txt");
    Expect(67135455u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:33:11 -> 2020-07-25 12:33:24",
           "file_1.txt", "\\test_dir\\file_1.txt");
}

// \test_dir\file_8.txt (record 54: VCN 13, block 4) was file_hidden.txt when
// it was first written: the $MFT slack keeps file_hidden.txt with M
// 12:33:48.990508, and the live entry has M 12:34:53.654092. dfir_ntfs has
// $SI updates from the modified time (attribute offset 32) on record 54 at
// 67139326 and 67150239, the rename to file_8.txt (CreateAttribute) at
// 67149371 between them.
TEST_F(Win10_Time_Changes, File8WrittenUnderBothNames) {
    Expect(67139326u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:33:42 -> 2020-07-25 12:33:48",
           "file_hidden.txt", "\\test_dir\\file_hidden.txt");
    Expect(67150239u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:33:48 -> 2020-07-25 12:34:53",
           "file_8.txt", "\\test_dir\\file_8.txt");
}

// \test_dir_2\file_2_1.txt (record 65: VCN 16, block 2): created 12:35:34.295990
// (journal FILE_CREATE), $MFT M 12:35:48.185296; dfir_ntfs has the $SI
// update from the modified time at 67158208.
TEST_F(Win10_Time_Changes, FileInSecondDirectoryWritten) {
    Expect(67158208u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:35:34 -> 2020-07-25 12:35:48",
           "file_2_1.txt", "\\test_dir_2\\file_2_1.txt");
}

// \shadow_2.txt (record 38, since reused): the journal has DATA_OVERWRITE at
// 12:26:39.102056 and DATA_EXTEND at 12:26:46.820876 for reference 38-1;
// dfir_ntfs has $SI updates from the modified time on record 38 (VCN 9,
// block 4) at 33625928 and 33626245.
TEST_F(Win10_Time_Changes, DeletedFileWrittenTwice) {
    Expect(33625928u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:25:30 -> 2020-07-25 12:26:39",
           "shadow_2.txt", "\\shadow_2.txt");
    Expect(33626245u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:26:39 -> 2020-07-25 12:26:46",
           "shadow_2.txt", "\\shadow_2.txt");
}

// The root (record 5: VCN 1, block 2) is named by no row of the log, so its
// $SI updates take the $MFT entry at that place, marked as a guess. Its
// modified time moves on when shadow_2.txt is renamed in it (journal
// RENAME_NEW_NAME 12:26:36.523968; dfir_ntfs: $SI update at 33625393).
TEST_F(Win10_Time_Changes, RootNamedByGuess) {
    Expect(33625393u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:25:24 -> 2020-07-25 12:26:36",
           ". <Guessed>", "\\.");
}

// "New folder", renamed test_dir (record 50: VCN 12, block 4): the journal
// has RENAME_NEW_NAME at 12:33:08.030960; dfir_ntfs has an $SI update from
// the MFT-modified time (attribute offset 40) at 67132963. Its old and new
// values hold the attribute word 0x10000000 (the flag NTFS keeps there for
// a FILE record with a file-name index: "Directory") and 0. A renamed
// directory keeps the name of its creation: the name look-up takes renamed
// files only.
TEST_F(Win10_Time_Changes, RenamedFolderWithItsAttributeWord) {
    Expect(67132963u, "Updating MFTModified Time & Changing FileAttribute",
           "MFTModifiedTime : 2020-07-25 12:33:06 -> 2020-07-25 12:33:08 & Directory -> 0x00000000", "New folder",
           "\\New folder");
}

// metadata-2 (record 50 before test_dir, VCN 12, block 4): dfir_ntfs has an
// UpdateMappingPairs at record offset 264, attribute offset 64 (the mapping
// pairs) on record 50 at 33628318, whose redo bytes 22 7D 0D 8A 26 are one
// run of 0x0D7D = 3453 clusters at 0x268A = 9866. The journal has the file
// created 12:26:58.695830 and extended 12:26:58.742704; the back-fill gives
// the write the time of its creation's row within the second.
TEST_F(Win10_Time_Changes, NonResidentWriteOfMetadata2) {
    Expect(33628318u, "Writing Content of Non-Resident File", "Data Runs(in Volume) : 9866(3453)", "metadata-2",
           "\\System Volume Information\\SPP\\metadata-2");
    EXPECT_EQ(At(33628318u).event_time, "2020-07-25 12:26:58");
}

// A directory's modified-time update dates the rename, move or deletion
// whose directory entry lies in that directory's record:
// - file_1.txt's rename (67134327) by test_dir's update at 67134565, whose
//   new MFT-modified time is 12:33:18; journal RENAME_NEW_NAME 12:33:18.053010;
// - shadow_2.txt's rename (33625211) by the root's update at 33625393
//   (12:26:36; journal 12:26:36.523968) and its deletion (33664879) by the
//   root's update at 33664976 (12:27:23; journal FILE_DELETE 12:27:23.445828).
TEST_F(Win10_Time_Changes, RenamesAndDeletionDatedByTheirDirectory) {
    Expect(67134565u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:33:11 -> 2020-07-25 12:33:18",
           "New folder", "\\New folder");
    EXPECT_EQ(At(67134327u).event, "Renaming File");
    EXPECT_EQ(At(67134327u).event_time, "2020-07-25 12:33:18");
    EXPECT_EQ(At(33625211u).event, "Renaming File");
    EXPECT_EQ(At(33625211u).event_time, "2020-07-25 12:26:36");
    Expect(33664976u, "Updating Modified Time", "ModifiedTime : 2020-07-25 12:26:36 -> 2020-07-25 12:27:23",
           ". <Guessed>", "\\.");
    EXPECT_EQ(At(33664879u).event, "File Deletion");
    EXPECT_EQ(At(33664879u).event_time, "2020-07-25 12:27:23");
}

}  // namespace
