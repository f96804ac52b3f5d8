// FILE records made and deallocated, directory entries added and removed,
// check points and the grouping of records by transaction, each fed as the
// sequence of log records Windows writes for it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Analysis_Harness.h"
#include "platform/text.h"

using namespace log_record_test;

namespace {

std::string U8(const std::u16string& text) { return platform::Utf16_To_Utf8(text); }

constexpr std::uint64_t Docs = Reference(41, 1);  // \docs
constexpr std::uint64_t File_52 = Reference(52, 3);

struct Creation_Case {
    const char* what;
    Bytes image;
    std::u16string event;
    std::u16string file_name;
    std::u16string full_path;
    std::u16string file_attribute;
};

TEST(LogFile_Analysis_Creation, FileRecordImages) {
    const Times t;
    const Bytes si_archive = Standard_Information(t, 0x20);
    const std::vector<Creation_Case> cases = {
        {"file with a DOS name beside the long one",
         File_Record_Image({si_archive, File_Name_Attribute(Root_Reference, u"NEWTEX~1.TXT", 0x20, 2),
                            File_Name_Attribute(Root_Reference, u"New Text Document.txt"), Resident_Data()}),
         u"File Creation", u"New Text Document.txt", u"\\New Text Document.txt", u"Archive"},
        {"directory",
         File_Record_Image({Standard_Information(t, 0x10), File_Name_Attribute(Root_Reference, u"New folder", 0x10000000),
                            Index_Root()}, true, 3),
         u"Directory Creation", u"New folder", u"\\New folder", u""},
        {"metadata directory stays a file",
         File_Record_Image({si_archive, File_Name_Attribute(Root_Reference, u"$Extend"), Index_Root()}),
         u"File Creation", u"$Extend", u"\\$Extend", u"Archive"},
        {"directory known only by a short name",
         File_Record_Image({si_archive, File_Name_Attribute(Root_Reference, u"PROGRA~1", 0x10000000, 2), Index_Root()}),
         u"Directory Creation", u"", u"", u"Archive"},
        {"the last long name wins",
         File_Record_Image({si_archive, File_Name_Attribute(Root_Reference, u"first.txt"),
                            File_Name_Attribute(Root_Reference, u"second.txt", 0x20, 0)}),
         u"File Creation", u"second.txt", u"\\second.txt", u"Archive"},
        {"unknown attributes are stepped over",
         File_Record_Image({si_archive, Plain_Attribute(0x40, 0x28, 0x28), File_Name_Attribute(Root_Reference, u"a.txt")}),
         u"File Creation", u"a.txt", u"\\a.txt", u"Archive"},
        {"first attribute of length 0",
         File_Record_Image({Plain_Attribute(0x10, 0, 0x60), File_Name_Attribute(Root_Reference, u"a.txt")}), u"", u"",
         u"", u""},
        {"end marker before the name",
         File_Record_Image({si_archive, Plain_Attribute(0xFFFFFFFF, 0, 8), File_Name_Attribute(Root_Reference, u"a.txt")},
                           false),
         u"", u"", u"", u"Archive"},
        {"zero-length attribute of another type ends the walk",
         File_Record_Image({si_archive, Plain_Attribute(0x40, 0, 0x28), File_Name_Attribute(Root_Reference, u"a.txt")}),
         u"", u"", u"", u"Archive"},
        {"resident data ends the walk before the index root",
         File_Record_Image({si_archive, File_Name_Attribute(Root_Reference, u"d"), Resident_Data(), Index_Root()}),
         u"File Creation", u"d", u"\\d", u"Archive"},
    };
    for (const Creation_Case& c : cases) {
        Analysis_Harness h;
        h.context.Hour_Offset = 9;
        const _log_info cur = h.Run(Initialize_File_Record(Place_Of(52), c.image));
        EXPECT_EQ(U8(cur.Event), U8(c.event)) << c.what;
        EXPECT_EQ(U8(cur.FileName), U8(c.file_name)) << c.what;
        EXPECT_EQ(U8(cur.FullPath), U8(c.full_path)) << c.what;
        EXPECT_EQ(U8(cur.FileAttribute), U8(c.file_attribute)) << c.what;
        if (!c.file_name.empty()) {
            // Times of $STANDARD_INFORMATION in the run's local time; the event is the creation.
            EXPECT_EQ(cur.CreateTime, u"2020-07-25 21:33:11") << c.what;
            EXPECT_EQ(cur.ModifiedTime, u"2020-07-25 21:33:24") << c.what;
            EXPECT_EQ(cur.MFT_ModifiedTime, u"2020-07-25 21:33:25") << c.what;
            EXPECT_EQ(cur.AccessTime, u"2020-07-25 21:35:24") << c.what;
            EXPECT_EQ(cur.EventTime, u"2020-07-25 21:33:11") << c.what;
            EXPECT_EQ(cur.ParentReference, Root_Reference) << c.what;
        }
        EXPECT_EQ(h.context.LogFile_Row_Array.size(), c.event.empty() && c.file_name.empty() ? 0u : 1u) << c.what;
    }
}

Bytes Runs(std::initializer_list<std::initializer_list<std::uint8_t>> runs) {
    Bytes b;
    for (const auto& r : runs) b.insert(b.end(), r.begin(), r.end());
    b.push_back(0);
    return b;
}

TEST(LogFile_Analysis_Creation, DataRunsInTheVolume) {
    Bytes long_list;
    for (int i = 0; i < 1700; ++i) long_list.insert(long_list.end(), {0x11, 0x01, 0x01});  // 1 cluster at +1
    const struct {
        const char* what;
        Bytes data_attribute;
        std::u16string detail;
    } cases[] = {
        {"two runs, the second before the first",
         Non_Resident_Data(Runs({{0x21, 0x10, 0x64, 0x00}, {0x11, 0x04, 0xF6}})), u"Data Runs(in Volume) : 100(16),90(4)"},
        {"a sparse run ends the list",
         Non_Resident_Data(Runs({{0x21, 0x10, 0x64, 0x00}, {0x01, 0x05}, {0x11, 0x04, 0x10}})),
         u"Data Runs(in Volume) : 100(16)"},
        {"an 8-byte offset", Non_Resident_Data(Runs({{0x81, 0x02, 0x00, 0x10, 0, 0, 0, 0, 0, 0}})),
         u"Data Runs(in Volume) : 4096(2)"},
        {"an offset wider than 8 bytes counts as 0",
         Non_Resident_Data(Runs({{0x91, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0x11, 0x01, 0x05}})),
         u"Data Runs(in Volume) : 0(2),5(1)"},
        {"a list longer than the run-list buffer is cut at its end", Non_Resident_Data(long_list),
         u"Data Runs(in Volume) : "},  // checked below
        {"no runs", Non_Resident_Data(Runs({})), u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const Bytes image = File_Record_Image(
            {Standard_Information({}, 0x20), File_Name_Attribute(Root_Reference, u"a.bin"), c.data_attribute});
        const _log_info cur = h.Run(Initialize_File_Record(Place_Of(52), image));
        EXPECT_EQ(cur.Event, u"File Creation") << c.what;
        if (c.data_attribute.size() > 4096) {
            // 4096 bytes hold 1365 whole runs of 3 bytes; the run cut by the end is dropped.
            EXPECT_EQ(cur.Detail.rfind(u"Data Runs(in Volume) : 1(1),2(1),", 0), 0u) << c.what;
            const std::u16string tail = u",1364(1),1365(1)";
            EXPECT_EQ(cur.Detail.substr(cur.Detail.size() - tail.size()), tail) << c.what;
        } else {
            EXPECT_EQ(U8(cur.Detail), U8(c.detail)) << c.what;
        }
    }
}

TEST(LogFile_Analysis_Creation, DataAttributesThatEndOrSkip) {
    Bytes no_pairs = Non_Resident_Data(Runs({{0x11, 0x01, 0x01}}));
    Put_U16(no_pairs, 0x20, 0);  // mapping-pairs offset 0
    Bytes short_header = Non_Resident_Data(Runs({{0x11, 0x01, 0x01}}));
    short_header.resize(0x40);
    Put_U32(short_header, 0x04, 0x40);  // shorter than a non-resident header
    const auto run = [](const Bytes& data) {
        Analysis_Harness h;
        return h.Run(Initialize_File_Record(
            Place_Of(52), File_Record_Image({File_Name_Attribute(Root_Reference, u"d"), data, Index_Root()})));
    };
    // Mapping pairs at 0 end the walk: the index root is not reached.
    EXPECT_EQ(run(no_pairs).Event, u"File Creation");
    // A header too short is stepped over: the index root still makes it a directory.
    const _log_info skipped = run(short_header);
    EXPECT_EQ(skipped.Event, u"Directory Creation");
    EXPECT_EQ(skipped.Detail, u"");
}

// Windows adds the entry to the parent's index and then writes the new FILE
// record: the creation takes the entry's position from the row before it.
TEST(LogFile_Analysis_Creation, InsideADirectoryWithTheMft) {
    Analysis_Harness h;
    Index_Directories(h.context, {{41, 1, Root_Reference, u"docs"}});
    const auto rows = h.Run_All({
        Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(File_52, Docs, u"a.txt")),
        Initialize_File_Record(Place_Of(52), File_Record_Image({Standard_Information({}, 0x20),
                                                                File_Name_Attribute(Docs, u"a.txt")})),
        Forget_Transaction(),
    });
    EXPECT_EQ(rows[0].Event, u"Temp Event");
    EXPECT_EQ(rows[0].FullPath, u"\\docs\\a.txt");
    EXPECT_EQ(rows[1].Event, u"File Creation");
    EXPECT_EQ(rows[1].FullPath, u"\\docs\\a.txt");
    EXPECT_EQ(rows[1].MFT_RecordVCN, u"0xA");  // entry 41: 41 >> 2
    EXPECT_EQ(rows[1].MFT_RecordClusterIndex, 2u);  // (41 & 3) * 2
    EXPECT_EQ(h.Stored(rows[1].LSN, "Event"), "File Creation");
    EXPECT_TRUE(h.context.Transaction_Log_Group_Array.Empty());
}

// The entry may have been added to the index root or to an allocation
// buffer of the parent.
TEST(LogFile_Analysis_Creation, EntryPositionIsLookedForInTheTenNewestRows) {
    for (const Index_Place where : {Index_Place::Root, Index_Place::Allocation}) {
        for (const int between : {8, 9, 10}) {
            Analysis_Harness h;
            h.Run(Add_Index_Entry(where, Place_Of(41), Index_Entry(File_52, Docs, u"a.txt")));
            for (int i = 0; i < between; ++i) h.Run(Check_Point());
            const _log_info cur = h.Run(Initialize_File_Record(
                Place_Of(52), File_Record_Image({Standard_Information({}, 0x20), File_Name_Attribute(Docs, u"a.txt")})));
            EXPECT_EQ(cur.MFT_RecordVCN, between < 10 ? u"0xA" : u"") << between << " rows between";
            EXPECT_EQ(cur.MFT_RecordClusterIndex, between < 10 ? 2u : 0u) << between << " rows between";
            // Without the parent in the $MFT index the path stays unknown.
            EXPECT_EQ(cur.FullPath, u"") << between;
        }
    }
}

// "$" names: a directory only when its FILE record says so; the view-index
// metafiles carry an index root too and stay files.
TEST(LogFile_Analysis_Creation, MetadataNamesByTheRecordsDirectoryFlag) {
    const struct {
        const char16_t* name;
        std::uint16_t flags;
        std::u16string event;
    } cases[] = {
        {u"$RECYCLE.BIN", 3, u"Directory Creation"},
        {u"$Extend", 3, u"Directory Creation"},
        {u"$TxfLog", 3, u"Directory Creation"},
        {u"$Quota", 1, u"File Creation"},
        {u"$Extend", 1, u"File Creation"},
        // Other names keep the index root as their sign, whatever the flags.
        {u"New folder", 1, u"Directory Creation"},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const _log_info cur = h.Run(Initialize_File_Record(
            Place_Of(52), File_Record_Image({Standard_Information({}, 0x10000006),
                                             File_Name_Attribute(Root_Reference, c.name, 0x10000006), Index_Root()},
                                            true, c.flags)));
        EXPECT_EQ(U8(cur.Event), U8(c.event)) << U8(c.name) << " flags " << c.flags;
        EXPECT_EQ(cur.FileName, c.name);
    }
}

// Windows 10 makes an Explorer copy in two steps of one transaction: the
// FILE record with $STANDARD_INFORMATION and no long name, then the long
// $FILE_NAME added, then the directory entry.
std::vector<Log_Record> Two_Step_Creation(const std::u16string& name, std::uint16_t flags = 1,
                                          std::uint32_t name_transaction = 0x18) {
    const Times t;
    Bytes image = flags & 2 ? File_Record_Image({Standard_Information(t, 0x10), Index_Root()}, true, flags)
                            : File_Record_Image({Standard_Information(t, 0x20)}, true, flags);
    const std::uint32_t attributes = flags & 2 ? 0x10000000 : 0x20;
    return {
        Initialize_File_Record(Place_Of(52), image),
        In_Transaction(Create_File_Name(Place_Of(52), File_Name_Attribute(Docs, name, attributes)), name_transaction),
        Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(File_52, Docs, name, t, attributes)),
        Forget_Transaction(),
    };
}

TEST(LogFile_Analysis_Creation, FileMadeInTwoSteps) {
    Analysis_Harness h;
    h.context.Hour_Offset = 9;
    Index_Directories(h.context, {{41, 1, Root_Reference, u"docs"}});
    const auto rows = h.Run_All(Two_Step_Creation(u"Quarterly report (copy).docx"));
    // The FILE record alone names nothing and is no row.
    EXPECT_EQ(rows[0].Event, u"");
    EXPECT_EQ(h.context.LogFile_Row_Array.size(), 2u);  // the name and the directory entry
    const _log_info& made = rows[1];
    EXPECT_EQ(made.Event, u"File Creation");
    EXPECT_EQ(made.FileName, u"Quarterly report (copy).docx");
    EXPECT_EQ(made.FullPath, u"\\docs\\Quarterly report (copy).docx");
    EXPECT_EQ(made.ParentReference, Docs);
    EXPECT_EQ(made.Detail, u"");
    // The times of the initialised record, as a one-step creation gives them.
    EXPECT_EQ(made.CreateTime, u"2020-07-25 21:33:11");
    EXPECT_EQ(made.ModifiedTime, u"2020-07-25 21:33:24");
    EXPECT_EQ(made.MFT_ModifiedTime, u"2020-07-25 21:33:25");
    EXPECT_EQ(made.AccessTime, u"2020-07-25 21:35:24");
    EXPECT_EQ(made.EventTime, u"2020-07-25 21:33:11");
    EXPECT_EQ(h.Stored(made.LSN, "Event"), "File Creation");
    EXPECT_EQ(h.Stored(made.LSN, "EventTime"), "2020-07-25 21:33:11");
    EXPECT_EQ(rows[2].Event, u"Temp Event");
    EXPECT_TRUE(h.context.Transaction_Log_Group_Array.Empty());
}

TEST(LogFile_Analysis_Creation, TwoStepsOnlyWithinOneTransactionAndOneRecord) {
    const std::u16string name = u"Quarterly report (copy).docx";
    const auto event_of_name = [&](const std::vector<Log_Record>& records, std::size_t at) {
        Analysis_Harness h;
        Index_Directories(h.context, {{41, 1, Root_Reference, u"docs"}});
        return U8(h.Run_All(records)[at].Event);
    };
    // A directory made so: the nameless record is a directory creation of
    // its own (as before), and the name makes the named one.
    EXPECT_EQ(event_of_name(Two_Step_Creation(u"New folder (2)", 3), 0), "Directory Creation");
    EXPECT_EQ(event_of_name(Two_Step_Creation(u"New folder (2)", 3), 1), "Directory Creation");
    // The name added in another transaction is no creation.
    EXPECT_EQ(event_of_name(Two_Step_Creation(name, 1, 0x19), 1), "");

    // A name added after the transaction committed, or to another FILE record.
    std::vector<Log_Record> committed = Two_Step_Creation(name);
    std::swap(committed[1], committed[3]);
    EXPECT_EQ(event_of_name(committed, 3), "");
    std::vector<Log_Record> elsewhere = Two_Step_Creation(name);
    elsewhere[1] = Create_File_Name(Place_Of(53), File_Name_Attribute(Docs, name));
    EXPECT_EQ(event_of_name(elsewhere, 1), "");

    // Nine rows between the record and its name: the name still finds it
    // (the pairing with an old name has given up by then).
    std::vector<Log_Record> far = Two_Step_Creation(name);
    far.insert(far.begin() + 1, 9, Check_Point());
    EXPECT_EQ(event_of_name(far, 10), "File Creation");

    // An old name of the same FILE record before it: a rename, as ever.
    std::vector<Log_Record> renamed = Two_Step_Creation(name);
    renamed.insert(renamed.begin() + 1, Delete_File_Name(Place_Of(52), File_Name_Attribute(Docs, u"draft.docx")));
    Analysis_Harness h;
    Index_Directories(h.context, {{41, 1, Root_Reference, u"docs"}});
    const auto rows = h.Run_All(renamed);
    EXPECT_EQ(rows[2].Event, u"Renaming File");
    EXPECT_EQ(rows[2].Detail, u"draft.docx -> Quarterly report (copy).docx");
}

// The records of a deletion as Windows writes them: the entry leaves the
// parent's index (allocation), another index drops its entry for the file
// (an object id, whose key is no file name), the FILE record is deallocated.
std::vector<Log_Record> Deletion(std::uint32_t transaction, const Bytes& removed_entry) {
    Bytes object_id_entry(0x58, 0x11);
    return {
        In_Transaction(Delete_Index_Entry(Index_Place::Allocation, Place_Of(41), removed_entry), transaction),
        In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(25), object_id_entry), transaction),
        In_Transaction(Deallocate_File_Record(Place_Of(52)), transaction),
        In_Transaction(Forget_Transaction(), transaction),
    };
}

TEST(LogFile_Analysis_Deletion, FileAndDirectory) {
    const Times t;
    for (const bool directory : {false, true}) {
        Analysis_Harness h;
        h.context.Hour_Offset = -5;
        Index_Directories(h.context, {{41, 1, Root_Reference, u"docs"}});
        const auto rows =
            h.Run_All(Deletion(0x20, Index_Entry(File_52, Docs, u"old", t, directory ? 0x10000000 : 0x20)));
        const _log_info& deleted = rows[2];
        EXPECT_EQ(deleted.Event, directory ? u"Directory Deletion" : u"File Deletion");
        EXPECT_EQ(deleted.FileName, u"old");
        EXPECT_EQ(deleted.FullPath, u"\\docs\\old");
        EXPECT_EQ(deleted.FileAttribute, directory ? u"Directory" : u"Archive");
        EXPECT_EQ(deleted.CreateTime, u"2020-07-25 07:33:11");
        EXPECT_EQ(deleted.ModifiedTime, u"2020-07-25 07:33:24");
        EXPECT_EQ(deleted.MFT_ModifiedTime, u"2020-07-25 07:33:25");
        EXPECT_EQ(deleted.AccessTime, u"2020-07-25 07:35:24");
        EXPECT_EQ(deleted.EventTime, u"");  // filled after the walk from the next timed row
        EXPECT_EQ(deleted.Detail, u"");
        EXPECT_EQ(deleted.MFT_RecordVCN, u"0xA");
        EXPECT_EQ(deleted.MFT_RecordClusterIndex, 2u);
        EXPECT_EQ(h.Stored(deleted.LSN, "Event"), U8(deleted.Event));
        EXPECT_EQ(h.Stored(deleted.LSN, "FullPath"), "\\docs\\old");
        // The commit ends the transaction's group.
        EXPECT_EQ(h.Group(0x20), nullptr);
    }
}

TEST(LogFile_Analysis_Deletion, NamedByTheFirstRemovalNotAddedBack) {
    const auto entry = [](const char16_t* name) { return Index_Entry(File_52, Root_Reference, name); };
    const auto del = [&](const char16_t* name) {
        return In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(5), entry(name)), 0x21);
    };
    const auto add = [&](const char16_t* name) {
        return In_Transaction(Add_Index_Entry(Index_Place::Root, Place_Of(5), entry(name)), 0x21);
    };
    const auto dealloc = In_Transaction(Deallocate_File_Record(Place_Of(52)), 0x21);
    const struct {
        const char* what;
        std::vector<Log_Record> records;
        std::u16string event, name;
    } cases[] = {
        {"removed, added back, another removed", {del(u"a.txt"), add(u"a.txt"), del(u"b.txt"), dealloc},
         u"File Deletion", u"b.txt"},
        {"removed and added back", {del(u"a.txt"), add(u"a.txt"), dealloc}, u"", u""},
        {"added back under another name", {del(u"a.txt"), add(u"b.txt"), dealloc}, u"File Deletion", u"a.txt"},
        {"a short name removed first", {del(u"NEWTEX~1.TXT"), del(u"New Text Document.txt"), dealloc},
         u"File Deletion", u"New Text Document.txt"},
        {"no removal in the transaction", {add(u"a.txt"), dealloc}, u"", u""},
        {"no group at all", {dealloc}, u"", u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const auto rows = h.Run_All(c.records);
        EXPECT_EQ(U8(rows.back().Event), U8(c.event)) << c.what;
        EXPECT_EQ(U8(rows.back().FileName), U8(c.name)) << c.what;
    }
}

TEST(LogFile_Analysis_Deletion, AbnormalCreationTimeIsCarriedIntoTheDetail) {
    const Times mft_second{Filetime(2020, 7, 25, 12, 24, 44), Filetime(2020, 8, 1), Filetime(2020, 8, 1),
                           Filetime(2020, 8, 1)};
    const Times second_before = [&] {
        Times t = mft_second;
        t.create -= 10'000'000;
        return t;
    }();
    const struct {
        const char* what;
        std::u16string mft_creation_time;
        Times times;
        std::u16string detail;
        int hours = 9;
    } cases[] = {
        {"without $MFT, a time of 1601", u"", Times{0, Filetime(2020, 1, 1), Filetime(2020, 1, 1), Filetime(2020, 1, 1)},
         u"Abnormal Timestamp (1601-01-01 00:00:00)"},
        {"without $MFT, an access time of the 22nd century", u"",
         Times{Filetime(2020, 1, 1), Filetime(2020, 1, 1), Filetime(2020, 1, 1), Filetime(2107, 1, 1)},
         u"Abnormal Timestamp (2020-01-01 00:00:00)"},
        {"without $MFT, plausible times", u"", Times{}, u""},
        {"created before the $MFT", u"2020-07-25 12:24:44",
         Times{Filetime(2019, 1, 1), Filetime(2020, 1, 1), Filetime(2020, 1, 1), Filetime(2020, 1, 1)},
         u"Abnormal Timestamp (2019-01-01 09:00:00)"},
        {"created after the $MFT", u"2020-07-25 12:24:44", Times{}, u""},
        // The $MFT creation time is compared, unshifted, with the entry's
        // unshifted creation time; the detail shows the shifted one.
        {"created the second before the $MFT", u"2020-07-25 12:24:44", second_before,
         u"Abnormal Timestamp (2020-07-25 21:24:43)"},
        {"created in the $MFT's second", u"2020-07-25 12:24:44", mft_second, u""},
        {"created the second before the $MFT, west of UTC", u"2020-07-25 12:24:44", second_before,
         u"Abnormal Timestamp (2020-07-25 07:24:43)", -5},
        {"created in the $MFT's second, west of UTC", u"2020-07-25 12:24:44", mft_second, u"", -5},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        h.context.Hour_Offset = c.hours;
        h.context.MFT_Creation_Time = c.mft_creation_time;
        const auto rows = h.Run_All(Deletion(0x22, Index_Entry(File_52, Root_Reference, u"x.doc", c.times)));
        EXPECT_EQ(rows[0].AbnormalTimestamp, c.detail.empty() ? 0u : 1u) << c.what;
        EXPECT_EQ(U8(rows[2].Detail), U8(c.detail)) << c.what;
        EXPECT_EQ(rows[2].Event, u"File Deletion") << c.what;
    }
}

TEST(LogFile_Analysis_Index_Entries, RemovalAndAddition) {
    Analysis_Harness h;
    h.context.Hour_Offset = 2;
    // A removed short name keeps its path but gives no name.
    const _log_info removed =
        h.Run(Delete_Index_Entry(Index_Place::Root, Place_Of(5), Index_Entry(File_52, Root_Reference, u"NEWTEX~1.TXT")));
    EXPECT_EQ(removed.Event, u"Temp Event");
    EXPECT_EQ(removed.FileName, u"");
    EXPECT_EQ(removed.FullPath, u"\\NEWTEX~1.TXT");
    EXPECT_EQ(removed.CreateTime, u"2020-07-25 14:33:11");
    EXPECT_EQ(removed.ParentReference, Root_Reference);
    EXPECT_EQ(removed.MFT_RecordVCN, u"0x1");
    EXPECT_EQ(removed.MFT_RecordClusterIndex, 2u);

    // An added entry keeps its times in UTC.
    const _log_info added =
        h.Run(Add_Index_Entry(Index_Place::Allocation, Place_Of(5), Index_Entry(File_52, Root_Reference, u"a.txt")));
    EXPECT_EQ(added.Event, u"Temp Event");
    EXPECT_EQ(added.FileName, u"a.txt");
    EXPECT_EQ(added.CreateTime, u"2020-07-25 12:33:11");
    EXPECT_EQ(added.FileAttribute, u"");

    // An added entry with any of its four times outside 20xx is noise.
    const std::uint64_t ok = Filetime(2020, 1, 1);
    const struct {
        const char* what;
        Times times;
    } noise_cases[] = {
        {"created in 1999", {Filetime(1999, 12, 31), ok, ok, ok}},
        {"modified in 2100", {ok, Filetime(2100, 1, 1), ok, ok}},
        {"MFT-modified in 1601", {ok, ok, 0, ok}},
        {"accessed in 1999", {ok, ok, ok, Filetime(1999, 12, 31, 23, 59, 59)}},
    };
    for (const auto& c : noise_cases) {
        const _log_info noise = h.Run(
            Add_Index_Entry(Index_Place::Root, Place_Of(5), Index_Entry(File_52, Root_Reference, u"b.txt", c.times)));
        EXPECT_EQ(noise.Event, u"") << c.what;
        EXPECT_EQ(noise.FileName, u"") << c.what;
        EXPECT_EQ(noise.CreateTime, u"") << c.what;
        EXPECT_EQ(noise.AccessTime, u"") << c.what;
    }
    EXPECT_EQ(h.context.LogFile_Row_Array.size(), 2u);
}

TEST(LogFile_Analysis_Transactions, GroupsFollowTheTransactionId) {
    Analysis_Harness h;
    const auto add = [](std::uint32_t tx, const char16_t* name) {
        return In_Transaction(
            Add_Index_Entry(Index_Place::Root, Place_Of(5), Index_Entry(File_52, Root_Reference, name)), tx);
    };
    h.Run(add(0x31, u"a.txt"));
    h.Run(add(0x32, u"b.txt"));
    h.Run(add(0x31, u"c.txt"));
    ASSERT_NE(h.Group(0x31), nullptr);
    EXPECT_EQ(h.Group(0x31)->Records().size(), 2u);

    // A record without an event joins no group.
    EXPECT_EQ(h.Run(In_Transaction(Other_Record(0x15, 0x16), 0x33)).Event, u"");
    EXPECT_EQ(h.Group(0x33), nullptr);

    // The commit ends the group and itself gives no event.
    const _log_info commit = h.Run(In_Transaction(Forget_Transaction(), 0x31));
    EXPECT_EQ(commit.RecordType, u"Commit Record");
    EXPECT_EQ(commit.Event, u"");
    EXPECT_EQ(h.Group(0x31), nullptr);
    ASSERT_NE(h.Group(0x32), nullptr);

    // A later record of the same id starts a new group.
    h.Run(add(0x31, u"d.txt"));
    ASSERT_NE(h.Group(0x31), nullptr);
    ASSERT_EQ(h.Group(0x31)->Records().size(), 1u);
    EXPECT_EQ(h.Group(0x31)->Records()[0].FileName, u"d.txt");
}

TEST(LogFile_Analysis_Transactions, CheckPoints) {
    Analysis_Harness h;
    const _log_info check_point = h.Run(In_Transaction(Check_Point(), 0x40));
    EXPECT_EQ(check_point.Event, u"# Check Point");
    ASSERT_NE(h.Group(0x40), nullptr);
    EXPECT_EQ(h.Group(0x40)->Records().size(), 1u);
    EXPECT_EQ(h.Stored(check_point.LSN, "Event"), "# Check Point");

}

}  // namespace
