// Renames and moves: the new $FILE_NAME paired with the removal of the old
// one, fed as the sequence of log records Windows writes for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Analysis_Harness.h"
#include "ntfs/logfile/analysis/LogFile_Events.h"
#include "platform/text.h"

using namespace log_record_test;

namespace {

std::string U8(const std::u16string& text) { return platform::Utf16_To_Utf8(text); }

constexpr std::uint64_t Docs = Reference(41, 1);  // \docs
constexpr std::uint64_t Work = Reference(46, 2);  // \work
constexpr std::uint64_t File_52 = Reference(52, 3);

// The records of a rename or move of FILE record 52, DOS names included,
// as Windows writes them: the old entry leaves its directory's index, both
// old $FILE_NAMEs are deleted, both new ones created, the new entry is added.
std::vector<Log_Record> Rename(std::uint64_t from_parent, std::u16string from, std::uint64_t to_parent, std::u16string to,
                               std::uint32_t flags = 0x20) {
    const std::uint64_t from_dir = from_parent & 0xFFFFFFFFFFFF;
    const std::uint64_t to_dir = to_parent & 0xFFFFFFFFFFFF;
    return {
        Delete_Index_Entry(Index_Place::Root, Place_Of(from_dir), Index_Entry(File_52, from_parent, from, {}, flags)),
        Delete_File_Name(Place_Of(52), File_Name_Attribute(from_parent, from, flags, 1)),
        Delete_File_Name(Place_Of(52), File_Name_Attribute(from_parent, u"OLDNAM~1.TXT", flags, 2)),
        Create_File_Name(Place_Of(52), File_Name_Attribute(to_parent, to, flags, 1)),
        Create_File_Name(Place_Of(52), File_Name_Attribute(to_parent, u"NEWNAM~1.TXT", flags, 2)),
        Add_Index_Entry(Index_Place::Root, Place_Of(to_dir), Index_Entry(File_52, to_parent, to, {}, flags)),
        Forget_Transaction(),
    };
}

struct Volume : Analysis_Harness {
    Volume() { Index_Directories(context, {{41, 1, Root_Reference, u"docs"}, {46, 2, Root_Reference, u"work"}}); }
};

TEST(LogFile_Analysis_Rename, FilesAndDirectories) {
    const struct {
        const char* what;
        std::uint32_t flags;
        std::u16string event;
    } cases[] = {
        {"file", 0x20, u"Renaming File"},
        {"directory", 0x10000000, u"Renaming Directory"},
    };
    for (const auto& c : cases) {
        Volume h;
        const auto rows = h.Run_All(Rename(Docs, u"a.txt", Docs, u"b.txt", c.flags));
        const _log_info& renamed = rows[3];
        EXPECT_EQ(U8(renamed.Event), U8(c.event)) << c.what;
        EXPECT_EQ(renamed.Detail, u"a.txt -> b.txt") << c.what;
        EXPECT_EQ(renamed.FileName, u"b.txt") << c.what;
        EXPECT_EQ(renamed.FullPath, u"\\docs\\b.txt") << c.what;
        EXPECT_EQ(renamed.ParentReference, Docs) << c.what;
        // The old name's row took the directory entry's position from the record before it.
        EXPECT_EQ(renamed.MFT_RecordVCN, u"0xA") << c.what;
        EXPECT_EQ(renamed.MFT_RecordClusterIndex, 2u) << c.what;
        EXPECT_EQ(h.Stored(renamed.LSN, "Detail"), "a.txt -> b.txt") << c.what;

        // The old long name is a placeholder; the DOS names give nothing.
        EXPECT_EQ(rows[1].Event, u"Temp Event") << c.what;
        EXPECT_EQ(rows[1].FullPath, u"\\docs\\a.txt") << c.what;
        EXPECT_EQ(rows[2].Event, u"") << c.what;
        EXPECT_EQ(rows[2].FileName, u"") << c.what;
        EXPECT_EQ(rows[4].Event, u"") << c.what;
        EXPECT_EQ(h.Stored(rows[2].LSN, "Event"), "<none>") << c.what;
        EXPECT_EQ(h.Stored(rows[4].LSN, "Event"), "<none>") << c.what;
    }
}

TEST(LogFile_Analysis_Rename, MoveMarksTheStoredOldNameAsBefore) {
    Volume h;
    const auto rows = h.Run_All(Rename(Docs, u"it's.txt", Work, u"it's.txt"));
    const _log_info& moved = rows[3];
    EXPECT_EQ(moved.Event, u"Move(After)");
    EXPECT_EQ(moved.Detail, u"");
    EXPECT_EQ(moved.FullPath, u"\\work\\it's.txt");
    EXPECT_EQ(moved.MFT_RecordVCN, u"0xA");  // where the old entry was: \docs, entry 41
    EXPECT_EQ(moved.MFT_RecordClusterIndex, 2u);
    EXPECT_EQ(h.Stored(moved.LSN, "Event"), "Move(After)");

    // The stored old name becomes "Move(Before)"; its copy stays a placeholder.
    const _log_info& old = rows[1];
    EXPECT_EQ(h.Stored(old.LSN, "Event"), "Move(Before)");
    EXPECT_EQ(h.Stored(old.LSN, "FileName"), "it's.txt");
    EXPECT_EQ(h.Stored(old.LSN, "FullPath"), "\\docs\\it's.txt");
    ASSERT_GE(h.context.LogFile_Row_Array.size(), 2u);
    EXPECT_EQ(h.context.LogFile_Row_Array[1].LSN, old.LSN);
    EXPECT_EQ(h.context.LogFile_Row_Array[1].Event, u"Temp Event");
    EXPECT_EQ(h.context.LogFile_Row_Array[1].FileName, u"it's.txt");

    // Removing the placeholders after the parse keeps the pair.
    h.db.Run_Query(Delete_Temp_Events_Sql());
    EXPECT_EQ(h.Stored(old.LSN, "Event"), "Move(Before)");
    EXPECT_EQ(h.Stored(rows[0].LSN, "Event"), "<none>");
}

TEST(LogFile_Analysis_Rename, RefusedUpdateEndsTheRecordWithoutEvent) {
    Volume h;
    auto records = Rename(Docs, u"a.txt", Work, u"a.txt");
    for (Log_Record& r : records) r.transaction_id = 0x55;
    h.Run_All({records[0], records[1], records[2]});
    h.Refuse_Updates();
    const _log_info moved = h.Run(records[3]);
    EXPECT_EQ(moved.Event, u"");
    EXPECT_EQ(moved.Detail, u"");
    EXPECT_EQ(moved.FileName, u"a.txt");
    EXPECT_EQ(moved.FullPath, u"\\work\\a.txt");
    EXPECT_EQ(moved.ParentReference, Work);
    EXPECT_EQ(moved.MFT_RecordVCN, u"");
    // It joined no group (the group holds the entry removal and the old name),
    // the old row keeps its Event, and the record is still stored by its name.
    ASSERT_NE(h.Group(0x55), nullptr);
    EXPECT_EQ(h.Group(0x55)->Records().size(), 2u);
    EXPECT_EQ(h.Stored(h.context.LogFile_Row_Array[1].LSN, "Event"), "Temp Event");
    EXPECT_EQ(h.Stored(moved.LSN, "Event"), "");
    EXPECT_EQ(h.Stored(moved.LSN, "FileName"), "a.txt");
}

TEST(LogFile_Analysis_Rename, OldNameIsLookedForAmongTheNewestRows) {
    const struct {
        const char* what;
        bool old_name_logged;
        int rows_between;
        std::u16string event;
    } cases[] = {
        {"old name right before", true, 0, u"Renaming File"},
        {"eight rows between", true, 8, u"Renaming File"},
        {"nine rows between: given up with rows left", true, 9, u"Temp Event"},
        {"nine rows and nothing else", false, 9, u""},
        {"ten rows, none the old name", false, 10, u"Temp Event"},
        {"no rows at all", false, 0, u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        if (c.old_name_logged) h.Run(Delete_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"a.txt")));
        for (int i = 0; i < c.rows_between; ++i) h.Run(Check_Point());
        const _log_info cur = h.Run(Create_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"b.txt")));
        EXPECT_EQ(U8(cur.Event), U8(c.event)) << c.what;
        // Whatever the pairing gives, the new name and its path are known.
        EXPECT_EQ(cur.FileName, u"b.txt") << c.what;
        EXPECT_EQ(cur.FullPath, u"\\b.txt") << c.what;
    }
}

TEST(LogFile_Analysis_Rename, PairsOnlyWithTheRemovalFromTheSameFileRecord) {
    Analysis_Harness h;
    h.Run(Delete_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"a.txt")));
    h.Run(Delete_File_Name(Place_Of(53), File_Name_Attribute(Root_Reference, u"other.txt")));
    // Same target VCN, other cluster index: record 53 is not 52.
    const _log_info cur = h.Run(Create_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"b.txt")));
    EXPECT_EQ(cur.Event, u"Renaming File");
    EXPECT_EQ(cur.Detail, u"a.txt -> b.txt");
}

TEST(LogFile_Analysis_Rename, NamesThatAreNotRenames) {
    Analysis_Harness h;
    h.Run(Delete_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"a.txt")));
    // A DOS name added beside the long one.
    const _log_info dos = h.Run(Create_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"PROGRA~1", 0x20, 2)));
    EXPECT_EQ(dos.Event, u"");
    EXPECT_EQ(dos.FileName, u"");
    // A long name with a tilde elsewhere is analysed.
    const _log_info tilde = h.Run(Create_File_Name(Place_Of(52), File_Name_Attribute(Root_Reference, u"my~file.txt")));
    EXPECT_EQ(tilde.Event, u"Renaming File");
    EXPECT_EQ(tilde.Detail, u"a.txt -> my~file.txt");

}

TEST(LogFile_Analysis_Rename, RemovedOldNameTakesTheEntryPositionFromTheRecordBefore) {
    Analysis_Harness h;
    // After a removal of the directory entry: its VCN and cluster index.
    h.Run(Delete_Index_Entry(Index_Place::Allocation, Place_Of(0), Index_Entry(File_52, Reference(46, 2), u"a.txt")));
    const _log_info after_entry =
        h.Run(Delete_File_Name(Place_Of(52), File_Name_Attribute(Reference(46, 2), u"a.txt")));
    EXPECT_EQ(after_entry.Event, u"Temp Event");
    EXPECT_EQ(after_entry.MFT_RecordVCN, u"0xB");  // 46 >> 2
    EXPECT_EQ(after_entry.MFT_RecordClusterIndex, 4u);
    // After anything else: only the cluster index of the record before.
    const _log_info after_other =
        h.Run(Delete_File_Name(Place_Of(52), File_Name_Attribute(Reference(46, 2), u"b.txt")));
    EXPECT_EQ(after_other.MFT_RecordVCN, u"");
    EXPECT_EQ(after_other.MFT_RecordClusterIndex, 4u);
}

}  // namespace
