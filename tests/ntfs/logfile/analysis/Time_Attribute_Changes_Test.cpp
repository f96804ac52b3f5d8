// Updates of the $STANDARD_INFORMATION times and attribute word: which
// change becomes which event, the texts of old and new values, the name the
// event is given, and the earlier rows a directory's modified time dates.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Analysis_Harness.h"
#include "ntfs/logfile/analysis/LogFile_Analysis.h"
#include "ntfs/logfile/analysis/LogFile_Analysis_Cases.h"
#include "ntfs/Volume_Geometry.h"
#include "output/Time_Text.h"
#include "platform/text.h"

using namespace log_record_test;

namespace {

std::string U8(const std::u16string& text) { return platform::Utf16_To_Utf8(text); }

constexpr std::uint64_t Docs = Reference(41, 1);  // \docs

// The times the files start with (Times' defaults), as the texts show them:
//   creation 2020-07-25 12:33:11.8654720, modified 12:33:24, MFT-modified
//   12:33:25, access 12:35:24.
const Times Before{};

Times Changed(Times t, std::uint64_t Times::*field, std::uint64_t value) {
    t.*field = value;
    return t;
}

// An $MFT of the root, \docs and the files given, in entry order.
struct Mft_File {
    std::uint64_t entry;
    std::u16string name;
    Times times = {};
    std::uint64_t lsn = 0;  // the LSN in the file's FILE record
};

void Index_Volume(Global_Parsing_Context& context, const std::vector<Mft_File>& files) {
    _ENTRYINFO_2 root;
    root.FileReference = Root_Reference;
    root.ParentReference = Root_Reference;
    root.IsDirectory = 1;
    root.Name = u".";
    context.Mft.Add_Entry(root, true);
    _ENTRYINFO_2 docs;
    docs.FileReference = Docs;
    docs.ParentReference = Root_Reference;
    docs.IsDirectory = 1;
    docs.Name = u"docs";
    context.Mft.Add_Entry(docs, true);
    for (const Mft_File& f : files) {
        _ENTRYINFO_2 e;
        e.FileReference = Reference(f.entry, 1);
        e.ParentReference = Docs;
        e.Name = f.name;
        e.MFT_LSN = f.lsn;
        e.CreateTime = f.times.create;
        e.ModifiedTime = f.times.modified;
        e.MFT_ModifiedTime = f.times.mft_modified;
        e.AccessTime = f.times.access;
        context.Mft.Add_Entry(e, true);
    }
    context.Mft.Finish();
}

// The records of a new file in \docs: its directory entry, then its FILE record.
std::vector<Log_Record> Create_In_Docs(std::uint64_t entry, const std::u16string& name, const Times& t = Before) {
    return {
        Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(entry, 1), Docs, name, t)),
        Initialize_File_Record(Place_Of(entry),
                               File_Record_Image({Standard_Information(t, 0x20), File_Name_Attribute(Docs, name)})),
    };
}

TEST(LogFile_Analysis_Time_Change, EachTimeMovedForwardAndBack) {
    const std::uint64_t later = Filetime(2020, 7, 26, 9, 15, 2, 4711);
    const std::uint64_t earlier = Filetime(2019, 1, 1, 8, 0, 0, 1230000);
    const std::uint64_t new_year = Filetime(2021, 1, 1);
    const struct {
        const char* what;
        std::uint16_t from;
        Times new_times;
        std::u16string event;
        std::u16string detail;
    } cases[] = {
        {"modified forward (and with it the MFT-modified time)", 0x20,
         Changed(Changed(Before, &Times::modified, later), &Times::mft_modified, later), u"Updating Modified Time",
         u"ModifiedTime : 2020-07-25 12:33:24 -> 2020-07-26 09:15:02"},
        {"modified back", 0x20, Changed(Before, &Times::modified, earlier), u"Time Reversal Event",
         u"ModifiedTime : 2020-07-25 12:33:24 -> 2019-01-01 08:00:00"},
        {"three times back, in their order", 0x20,
         Changed(Changed(Changed(Before, &Times::modified, earlier), &Times::mft_modified, earlier), &Times::access,
                 Filetime(2020, 1, 1) - 1),
         u"Time Reversal Event",
         u"ModifiedTime : 2020-07-25 12:33:24 -> 2019-01-01 08:00:00, "
         u"MFTModifiedTime : 2020-07-25 12:33:25 -> 2019-01-01 08:00:00, "
         u"AccessedTime : 2020-07-25 12:35:24 -> 2019-12-31 23:59:59"},
        {"modified forward, access back", 0x20,
         Changed(Changed(Before, &Times::modified, later), &Times::access, earlier), u"Time Reversal Event",
         u"AccessedTime : 2020-07-25 12:35:24 -> 2019-01-01 08:00:00"},
        {"MFT-modified forward", 0x28, Changed(Before, &Times::mft_modified, later), u"Updating MFTModified Time",
         u"MFTModifiedTime : 2020-07-25 12:33:25 -> 2020-07-26 09:15:02"},
        {"MFT-modified back", 0x28, Changed(Before, &Times::mft_modified, earlier), u"Time Reversal Event",
         u"MFTModifiedTime : 2020-07-25 12:33:25 -> 2019-01-01 08:00:00"},
        {"access forward: reading is no event", 0x30, Changed(Before, &Times::access, later), u"", u""},
        {"access back", 0x30, Changed(Before, &Times::access, earlier), u"Time Reversal Event",
         u"AccessedTime : 2020-07-25 12:35:24 -> 2019-01-01 08:00:00"},
        {"creation back", 0x18, Changed(Before, &Times::create, earlier), u"Time Reversal Event",
         u"CreationTime : 2020-07-25 12:33:11 -> 2019-01-01 08:00:00"},
        {"creation forward to a whole second", 0x18, Changed(Before, &Times::create, new_year),
         u"CreationTime Update Event", u"CreationTime : 2020-07-25 12:33:11 -> 2021-01-01 00:00:00(Zero in 100-nanoseconds)"},
        {"creation forward outweighs the modified time set back", 0x18,
         Changed(Changed(Before, &Times::create, later), &Times::modified, earlier), u"CreationTime Update Event",
         u"CreationTime : 2020-07-25 12:33:11 -> 2020-07-26 09:15:02"},
        {"modified back to a whole second", 0x20, Changed(Before, &Times::modified, Filetime(2020, 1, 1)),
         u"Time Reversal Event", u"ModifiedTime : 2020-07-25 12:33:24 -> 2020-01-01 00:00:00(Zero in 100-nanoseconds)"},
        {"back within the second", 0x18, Changed(Before, &Times::create, Filetime(2020, 7, 25, 12, 33, 11, 1)), u"", u""},
        {"nothing moved", 0x20, Before, u"", u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const _log_info cur =
            h.Run(Update_Standard_Information(Place_Of(70), c.from, Before, 0x20, c.new_times, 0x20));
        EXPECT_EQ(U8(cur.Event), U8(c.event)) << c.what;
        EXPECT_EQ(U8(cur.Detail), U8(c.detail)) << c.what;
        std::string stored = U8(c.detail);  // stored with "," as "/"
        std::replace(stored.begin(), stored.end(), ',', '/');
        EXPECT_EQ(h.Stored(cur.LSN, "Detail"), c.event.empty() ? "<none>" : stored) << c.what;
        // The times of the record itself are left to the walk.
        EXPECT_EQ(cur.CreateTime, u"") << c.what;
        EXPECT_EQ(cur.EventTime, u"") << c.what;
        EXPECT_EQ(cur.FileAttribute, u"") << c.what;
    }
}

TEST(LogFile_Analysis_Time_Change, TimesAreShiftedIntoTheRunsZone) {
    Analysis_Harness h;
    h.context.Hour_Offset = 9;
    const _log_info cur = h.Run(Update_Standard_Information(
        Place_Of(70), 0x20, Before, 0x20, Changed(Before, &Times::modified, Filetime(2020, 7, 25, 20, 0, 0, 5)), 0x20));
    EXPECT_EQ(cur.Event, u"Updating Modified Time");
    EXPECT_EQ(cur.Detail, u"ModifiedTime : 2020-07-25 21:33:24 -> 2020-07-26 05:00:00");
}

// Windows leaves out the leading bytes of an update that stay the same: a
// record 1 or 2 bytes into the first time has those bytes as zero on both
// sides, so a time that only differs there is a whole second.
// The texts are kept from call to call: a kept text must never stand in for
// another second or another offset, also when many seconds share its place.
TEST(LogFile_Analysis_Time_Change, KeptTimeTextsMatchTheirSecondAndOffset) {
    Global_Parsing_Context context;
    std::vector<std::uint64_t> times = {0, 1, 9'999'999, 10'000'000, 18446744073709551615ull,
                                        2'650'467'743'999'999'999ull,  // the last second of year 9999
                                        2'650'467'744'000'000'000ull};
    std::uint64_t t = 132'400'000'000'000'000ull;  // 2020
    for (int i = 0; i < 6000; ++i) {
        t = t * 6364136223846793005ull + 1442695040888963407ull;
        times.push_back(132'400'000'000'000'000ull + t % 40'000'000'000'000ull);
    }
    for (int round = 0; round < 2; ++round) {
        for (const int offset : {0, 9, -5, 14, 9}) {
            context.Hour_Offset = offset;
            for (const std::uint64_t filetime : times)
                ASSERT_EQ(Shifted_Time_Text(context, filetime), Shifted_FileTime_Text(filetime, offset))
                    << filetime << " at " << offset;
        }
    }
}

TEST(LogFile_Analysis_Time_Change, UpdateStartingInsideTheFirstTime) {
    const std::uint64_t even_second = Filetime(2021, 1, 1);           // low byte 0
    const std::uint64_t on_two_bytes = 132905661440000000ull;         // 2022-02-28 23:55:44, low 16 bits 0
    {
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(
            Place_Of(70), 0x19, Before, 0x20, Changed(Before, &Times::create, even_second + 0x7F), 0x20));
        EXPECT_EQ(cur.Event, u"CreationTime Update Event");
        EXPECT_EQ(cur.Detail, u"CreationTime : 2020-07-25 12:33:11 -> 2021-01-01 00:00:00(Zero in 100-nanoseconds)");
    }
    {
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(
            Place_Of(70), 0x22, Before, 0x20, Changed(Before, &Times::modified, on_two_bytes + 0xABCD), 0x20));
        EXPECT_EQ(cur.Event, u"Updating Modified Time");
        // The old time loses its low two bytes too: 12:33:24.0000000 becomes 12:33:23.99...
        EXPECT_EQ(cur.Detail, u"ModifiedTime : 2020-07-25 12:33:23 -> 2022-02-28 23:55:44(Zero in 100-nanoseconds)");
    }
    {
        // The times after the first are read whole, right after it.
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(
            Place_Of(70), 0x2A, Before, 0x20,
            Changed(Changed(Before, &Times::mft_modified, Before.mft_modified + 0x10000),
                    &Times::access, Filetime(2019, 5, 5, 5, 5, 5, 5)),
            0x20));
        EXPECT_EQ(cur.Event, u"Time Reversal Event");
        EXPECT_EQ(cur.Detail, u"AccessedTime : 2020-07-25 12:35:24 -> 2019-05-05 05:05:05");
    }
}

TEST(LogFile_Analysis_Attributes, WordsInBitOrder) {
    const struct {
        std::uint32_t bit;
        const char* name;
    } bits[] = {
        {0x1, "ReadOnly"},          {0x2, "Hidden"},         {0x4, "System"},
        {0x10, "Directory"},        {0x20, "Archive"},       {0x40, "Device"},
        {0x80, "Normal"},           {0x100, "Temporary"},    {0x200, "Sparse"},
        {0x400, "ReparsePoint"},    {0x800, "Compressed"},   {0x1000, "Offline"},
        {0x2000, "NotContentIndexed"}, {0x4000, "Encrypted"}, {0x8000, "IntegrityStream"},
        {0x10000, "Virtual"},       {0x20000, "NoScrubData"}, {0x40000, "RecallOnOpen"},
        {0x80000, "Pinned"},        {0x100000, "Unpinned"},  {0x200000, "OpenReparsePoint"},
        {0x400000, "RecallOnDataAccess"}, {0x800000, "SessionAware"}, {0x1000000, "PosixSemantics"},
        {0x4000000, "DeleteOnClose"}, {0x8000000, "SequentialScan"}, {0x10000000, "Directory"},
        {0x20000000, "IndexView"}, {0x40000000, "Overlapped"}, {0x80000000, "WriteThrough"},
    };
    std::string all;
    for (const auto& b : bits) {
        EXPECT_EQ(U8(Format_File_Attributes(b.bit)), b.name) << std::hex << b.bit;
        all += (all.empty() ? "" : ", ") + std::string(b.name);
    }
    EXPECT_EQ(U8(Format_File_Attributes(0xFFFFFFFF)), all);
    EXPECT_EQ(Format_File_Attributes(0x22), u"Hidden, Archive");
    EXPECT_EQ(Format_File_Attributes(0), u"");
    EXPECT_EQ(Format_File_Attributes(0x8 | 0x2000000), u"");  // no names
    // As a directory's $STANDARD_INFORMATION holds them: the index flags,
    // not the create-file flags that share their bits.
    EXPECT_EQ(Format_File_Attributes(0x10000020), u"Archive, Directory");
    EXPECT_EQ(Format_File_Attributes(0x30000006), u"Hidden, System, Directory, IndexView");
}

TEST(LogFile_Analysis_Attributes, ChangedWordAloneOrAfterTheTimes) {
    const std::uint64_t earlier = Filetime(2019, 1, 1, 8, 0, 0, 1230000);
    const struct {
        const char* what;
        std::uint16_t from;
        Times new_times;
        std::uint32_t old_word;
        std::uint32_t new_word;
        std::u16string event;
        std::u16string detail;
    } cases[] = {
        {"the word alone", 0x38, Before, 0x20, 0x22, u"Changing FileAttribute", u"Archive -> Hidden, Archive"},
        {"from nothing", 0x38, Before, 0, 0x20, u"Changing FileAttribute", u"0x00000000 -> Archive"},
        {"to bits without names", 0x38, Before, 0x1, 0x8, u"Changing FileAttribute", u"ReadOnly -> 0x00000000"},
        {"the same word", 0x38, Before, 0x20, 0x20, u"", u""},
        {"after a time set back", 0x20, Changed(Before, &Times::modified, earlier), 0x20, 0x2,
         u"Time Reversal Event & Changing FileAttribute",
         u"ModifiedTime : 2020-07-25 12:33:24 -> 2019-01-01 08:00:00 & Archive -> Hidden"},
        {"after the creation time moved on", 0x18, Changed(Before, &Times::create, Filetime(2021, 1, 1)), 0x20, 0x0,
         u"CreationTime Update Event & Changing FileAttribute",
         u"CreationTime : 2020-07-25 12:33:11 -> 2021-01-01 00:00:00(Zero in 100-nanoseconds) & Archive -> 0x00000000"},
        {"times without an event", 0x30, Changed(Before, &Times::access, Filetime(2021, 1, 1)), 0x20, 0x2020,
         u"Changing FileAttribute", u"Archive -> Archive, NotContentIndexed"},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        h.Run_All(Create_In_Docs(70, u"a.txt"));
        Log_Record update = Update_Standard_Information(Place_Of(70), c.from, Before, c.old_word, c.new_times, c.new_word);
        const _log_info cur = h.Run(update);
        EXPECT_EQ(U8(cur.Event), U8(c.event)) << c.what;
        EXPECT_EQ(U8(cur.Detail), U8(c.detail)) << c.what;
        // Whichever event it is, the file is named.
        EXPECT_EQ(cur.FileName, c.event.empty() ? u"" : u"a.txt") << c.what;
    }
}

// The name of the changed file: the $MFT entry this very record changed last,
// else the newest row that tells what the FILE record holds, else the $MFT
// entry at the record's place, marked as a guess.
TEST(LogFile_Analysis_Time_Change, NameLookUp) {
    const Log_Record reversal =
        Update_Standard_Information(Place_Of(70), 0x20, Before, 0x20, Changed(Before, &Times::modified, 1), 0x20);
    const auto deletion = [](std::uint64_t entry, const std::u16string& name) {
        return std::vector<Log_Record>{
            In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(entry, 1), Docs, name)),
                           0x77),
            In_Transaction(Deallocate_File_Record(Place_Of(entry)), 0x77),
            In_Transaction(Forget_Transaction(), 0x77),
        };
    };
    const auto rename = [](std::uint64_t entry, const std::u16string& from, const std::u16string& to, std::uint32_t flags) {
        return std::vector<Log_Record>{
            Delete_File_Name(Place_Of(entry), File_Name_Attribute(Docs, from, flags)),
            Create_File_Name(Place_Of(entry), File_Name_Attribute(Docs, to, flags)),
        };
    };
    const auto join = [](std::vector<std::vector<Log_Record>> parts) {
        std::vector<Log_Record> all;
        for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };

    const struct {
        const char* what;
        std::vector<Log_Record> before;
        std::uint16_t cluster_index;
        std::u16string name;
        std::u16string path;
    } cases[] = {
        {"made here", Create_In_Docs(70, u"a.txt"), 4, u"a.txt", u"\\docs\\a.txt"},
        {"made, then renamed", join({Create_In_Docs(70, u"a.txt"), rename(70, u"a.txt", u"b.txt", 0x20)}), 4, u"b.txt",
         u"\\docs\\b.txt"},
        {"renamed as a directory: the creation still names it",
         join({Create_In_Docs(70, u"a"), rename(70, u"a", u"b", 0x10000000)}), 4, u"a", u"\\docs\\a"},
        {"other records and placeholders are passed over",
         join({Create_In_Docs(70, u"a.txt"), Create_In_Docs(71, u"c.txt"),
               {Delete_File_Name(Place_Of(70), File_Name_Attribute(Docs, u"z.txt"))}}),
         4, u"a.txt", u"\\docs\\a.txt"},
        {"made, then freed: no name", join({Create_In_Docs(70, u"a.txt"), deletion(70, u"a.txt")}), 4, u"", u""},
        {"nothing in the log: the $MFT entry at the place", {}, 4, u"guess.txt <Guessed>", u"\\docs\\guess.txt"},
        {"nothing in the log nor the $MFT", {}, 6, u" <Guessed>", u""},
        {"a cluster index that is no record's", {}, 3, u"", u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        Index_Volume(h.context, {{70, u"guess.txt"}});
        h.Run_All(c.before);
        Log_Record probe = reversal;
        probe.cluster_index = c.cluster_index;
        const _log_info cur = h.Run(probe);
        EXPECT_EQ(cur.Event, u"Time Reversal Event") << c.what;
        EXPECT_EQ(U8(cur.FileName), U8(c.name)) << c.what;
        EXPECT_EQ(U8(cur.FullPath), U8(c.path)) << c.what;
    }

    // The $MFT entry last changed by this record wins over everything.
    Analysis_Harness h;
    Index_Volume(h.context, {{70, u"guess.txt"}, {72, u"mft.txt", Before, 0x9000}});
    h.Run_All(Create_In_Docs(70, u"a.txt"));
    Log_Record probe = reversal;
    probe.lsn = 0x9000;
    const _log_info cur = h.Run(probe);
    EXPECT_EQ(cur.FileName, u"mft.txt");
    EXPECT_EQ(cur.FullPath, u"\\docs\\mft.txt");
}

TEST(LogFile_Analysis_Time_Change, CreationTimeForwardLooksTheNameUpAgain) {
    // A creation time moved on while another time went back: the reversal
    // looks the name up, and the creation-time update looks it up again. A
    // guess that finds the $MFT entry names it afresh; one that finds nothing
    // leaves the name as it was and marks it once more.
    const Log_Record both = Update_Standard_Information(
        Place_Of(70), 0x18, Before, 0x20,
        Changed(Changed(Before, &Times::create, Filetime(2021, 1, 1)), &Times::modified, Filetime(2019, 1, 1)), 0x20);
    {
        Analysis_Harness h;
        const _log_info cur = h.Run(both);
        EXPECT_EQ(cur.Event, u"CreationTime Update Event");
        EXPECT_EQ(cur.FileName, u" <Guessed> <Guessed>");
        EXPECT_EQ(h.Stored(cur.LSN, "FileName"), " <Guessed> <Guessed>");
    }
    {
        Analysis_Harness h;
        Index_Volume(h.context, {{70, u"guess.txt"}});
        const _log_info cur = h.Run(both);
        EXPECT_EQ(cur.FileName, u"guess.txt <Guessed>");
        EXPECT_EQ(cur.FullPath, u"\\docs\\guess.txt");
    }
    {
        // Only one of the two events: one look-up, one mark.
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(
            Place_Of(70), 0x18, Before, 0x20, Changed(Before, &Times::create, Filetime(2021, 1, 1)), 0x20));
        EXPECT_EQ(cur.Event, u"CreationTime Update Event");
        EXPECT_EQ(cur.FileName, u" <Guessed>");
    }
}

// A creation time set back to exactly the time of other files in the same
// directory names them.
TEST(LogFile_Analysis_Time_Change, FilesOfTheSameDirectoryWithTheSameTime) {
    const std::uint64_t copied = Filetime(2018, 3, 3, 3, 3, 3, 333);
    Times same = Before;
    same.create = copied;
    Times same_access = Before;
    same_access.access = copied;
    Analysis_Harness h;
    Index_Volume(h.context, {{70, u"a.txt", same},        // the file itself (its new times)
                             {71, u"x.txt", same},
                             {72, u"other.txt", Before},
                             {73, u"y.txt", same},
                             {74, u"z.txt", same_access}});
    h.Run_All(Create_In_Docs(70, u"a.txt"));
    const _log_info cur = h.Run(Update_Standard_Information(
        Place_Of(70), 0x18, Before, 0x20,
        Changed(Changed(Before, &Times::create, copied), &Times::access, copied), 0x20));
    EXPECT_EQ(cur.Event, u"Time Reversal Event");
    EXPECT_EQ(cur.ParentReference, Docs);
    EXPECT_EQ(cur.Detail,
              u"CreationTime : 2020-07-25 12:33:11 -> 2018-03-03 03:03:03(same as x.txt, y.txt), "
              u"AccessedTime : 2020-07-25 12:35:24 -> 2018-03-03 03:03:03(same as z.txt)");

    // The file itself is never its own sibling, also where the $MFT gives it
    // another name: renamed after the update, or a second hard link in the
    // same directory. Its entry is left out by the place of its record.
    const struct {
        const char* what;
        std::vector<Mft_File> files;
    } own_entry_cases[] = {
        {"renamed later", {{70, u"renamed.txt", same}, {71, u"x.txt", same}}},
        {"a second hard link", {{70, u"a.txt", same}, {70, u"link.txt", same}, {71, u"x.txt", same}}},
    };
    for (const auto& c : own_entry_cases) {
        Analysis_Harness o;
        Index_Volume(o.context, c.files);
        o.Run_All(Create_In_Docs(70, u"a.txt"));
        const _log_info own = o.Run(Update_Standard_Information(Place_Of(70), 0x18, Before, 0x20,
                                                                Changed(Before, &Times::create, copied), 0x20));
        EXPECT_EQ(own.FileName, u"a.txt") << c.what;
        EXPECT_EQ(own.Detail, u"CreationTime : 2020-07-25 12:33:11 -> 2018-03-03 03:03:03(same as x.txt)") << c.what;
    }

    // Without a parent from a creation row (a guessed name), nothing is compared.
    Analysis_Harness g;
    Index_Volume(g.context, {{70, u"a.txt", same}, {71, u"x.txt", same}});
    const _log_info guessed = g.Run(Update_Standard_Information(Place_Of(70), 0x18, Before, 0x20,
                                                                Changed(Before, &Times::create, copied), 0x20));
    EXPECT_EQ(guessed.FileName, u"a.txt <Guessed>");
    EXPECT_EQ(guessed.Detail, u"CreationTime : 2020-07-25 12:33:11 -> 2018-03-03 03:03:03");
}

// A directory's modified time changes when an entry is added or removed; its
// new MFT-modified time then dates the rows of that entry.
class Directory_Update : public Analysis_Harness {
public:
    Directory_Update() { Index_Volume(context, {}); }

    // \docs (record 41) gets its MFT-modified time, and its modified time
    // unless given apart, set to `at`.
    _log_info Update_Docs(std::uint64_t at, std::uint64_t modified = 0) {
        Times t = Before;
        t.modified = modified != 0 ? modified : at;
        t.mft_modified = at;
        return Run(Update_Standard_Information(Place_Of(41), 0x20, Before, 0x10000000, t, 0x10000000));
    }
    const _log_info& Row(const std::u16string& lsn) const {
        for (const _log_info& r : context.LogFile_Row_Array)
            if (r.LSN == lsn) return r;
        static const _log_info none;
        return none;
    }
};

TEST(LogFile_Analysis_Directory_Times, DateTheDeletionRenameAndMoveBefore) {
    const std::uint64_t at = Filetime(2020, 7, 25, 13, 0, 7, 1234);
    const struct {
        const char* what;
        std::vector<Log_Record> records;
        std::size_t dated;  // the record whose row gets the time
    } cases[] = {
        {"deletion",
         {In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(70, 1), Docs, u"a.txt")), 9),
          In_Transaction(Deallocate_File_Record(Place_Of(70)), 9)},
         1},
        {"rename",
         {Delete_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(70, 1), Docs, u"a.txt")),
          Delete_File_Name(Place_Of(70), File_Name_Attribute(Docs, u"a.txt")),
          Create_File_Name(Place_Of(70), File_Name_Attribute(Docs, u"b.txt")),
          Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(70, 1), Docs, u"b.txt"))},
         2},
        {"move out of \\docs",
         {Delete_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(70, 1), Docs, u"a.txt")),
          Delete_File_Name(Place_Of(70), File_Name_Attribute(Docs, u"a.txt")),
          Create_File_Name(Place_Of(70), File_Name_Attribute(Root_Reference, u"a.txt")),
          Add_Index_Entry(Index_Place::Root, Place_Of(5), Index_Entry(Reference(70, 1), Root_Reference, u"a.txt"))},
         2},
    };
    for (const auto& c : cases) {
        Directory_Update h;
        const std::vector<_log_info> rows = h.Run_All(c.records);
        const std::u16string dated = rows[c.dated].LSN;
        ASSERT_EQ(h.Row(dated).EventTime, u"") << c.what;
        // The MFT-modified time dates the row, not the modified time.
        const _log_info update = h.Update_Docs(at, Filetime(2020, 7, 25, 12, 59, 0));
        EXPECT_EQ(update.Event, u"Updating Modified Time") << c.what;
        EXPECT_EQ(update.FileName, u"docs <Guessed>") << c.what;
        EXPECT_EQ(h.Row(dated).EventTime, u"2020-07-25 13:00:07") << c.what;
        EXPECT_EQ(h.Stored(dated, "EventTime"), "2020-07-25 13:00:07") << c.what;
        EXPECT_EQ(h.Stored(dated, "Event"), U8(rows[c.dated].Event)) << c.what;

        // A row that has its time keeps it.
        h.Update_Docs(Filetime(2020, 7, 25, 14, 0, 0));
        EXPECT_EQ(h.Stored(dated, "EventTime"), "2020-07-25 13:00:07") << c.what;
    }
}

// Only rows whose directory entry lies in the directory's own FILE record
// (its target VCN and cluster index) are dated, only a "File Creation" is
// taken for a tunnelled one, and only the directory's own creation ends the
// look-back.
TEST(LogFile_Analysis_Directory_Times, OnlyRowsOfTheDirectorysOwnRecordAreRewritten) {
    // The removed entry's parent names the directory the row is placed in.
    const auto deletion_in = [](std::uint64_t directory) {
        return std::vector<Log_Record>{
            In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(Entry_Number_Of(directory)),
                                              Index_Entry(Reference(70, 1), directory, u"a.txt")),
                           9),
            In_Transaction(Deallocate_File_Record(Place_Of(70)), 9),
        };
    };
    const Log_Record subdirectory_made = Initialize_File_Record(
        Place_Of(71), File_Record_Image({Standard_Information(Before, 0x10000000), File_Name_Attribute(Docs, u"sub"),
                                         Index_Root()}));
    const Log_Record file_made_in_the_same_cluster = Initialize_File_Record(
        Place_Of(43), File_Record_Image({Standard_Information(Before, 0x20), File_Name_Attribute(Docs, u"c.txt")}));
    const struct {
        const char* what;
        std::vector<Log_Record> records;
        std::size_t row;  // the record whose row is looked at
        std::string event;
        std::string event_time;
    } cases[] = {
        // Entry 40 shares \docs' cluster (VCN 10) at cluster index 0.
        {"a deletion from a directory in the same cluster", deletion_in(Reference(40, 1)), 1, "File Deletion", ""},
        {"a deletion from \\docs", deletion_in(Docs), 1, "File Deletion", "2020-07-25 16:45:00"},
        {"a directory made in \\docs keeps its event and time",
         {Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(71, 1), Docs, u"sub")),
          subdirectory_made},
         1, "Directory Creation", "2020-07-25 12:33:11"},
        {"a file made in another record of the cluster does not end the look-back",
         {deletion_in(Docs)[0], deletion_in(Docs)[1], file_made_in_the_same_cluster}, 1,
         "File Deletion", "2020-07-25 16:45:00"},
    };
    for (const auto& c : cases) {
        Directory_Update h;
        const std::vector<_log_info> rows = h.Run_All(c.records);
        h.Update_Docs(Filetime(2020, 7, 25, 16, 45, 0));
        EXPECT_EQ(h.Stored(rows[c.row].LSN, "Event"), c.event) << c.what;
        EXPECT_EQ(h.Stored(rows[c.row].LSN, "EventTime"), c.event_time) << c.what;
    }
}

TEST(LogFile_Analysis_Directory_Times, CreationWithAnotherTimeWasTunnelled) {
    // Windows gives a file made under a name just deleted the old file's
    // creation time: the directory's time shows when it really was made.
    Directory_Update h;
    const std::vector<_log_info> made = h.Run_All(Create_In_Docs(70, u"it's.txt"));
    const std::u16string lsn = made[1].LSN;
    ASSERT_EQ(made[1].Event, u"File Creation");
    ASSERT_EQ(made[1].EventTime, u"2020-07-25 12:33:11");

    h.Update_Docs(Filetime(2020, 7, 25, 12, 33, 11, 9000000));  // the same second: nothing to correct
    EXPECT_EQ(h.Row(lsn).Event, u"File Creation");
    EXPECT_EQ(h.Stored(lsn, "Event"), "File Creation");

    h.Update_Docs(Filetime(2020, 7, 25, 16, 45, 0));
    EXPECT_EQ(h.Row(lsn).Event, u"File Creation(File System Tunneling)");
    EXPECT_EQ(h.Row(lsn).EventTime, u"2020-07-25 16:45:00");
    EXPECT_EQ(h.Stored(lsn, "Event"), "File Creation(File System Tunneling)");
    EXPECT_EQ(h.Stored(lsn, "EventTime"), "2020-07-25 16:45:00");
    EXPECT_EQ(h.Stored(lsn, "FileName"), "it's.txt");
}

// Where a FILE record lies follows the volume's own cluster and record
// sizes both ways: the entry a time update is guessed to be about, and the
// place of the directory a removed entry was in, with which a later update
// of that directory's times is matched to date the deletion.
TEST(LogFile_Analysis_Directory_Times, PlacesFollowTheVolumesClusterAndRecordSizes) {
    const struct {
        const char* what;
        Volume_Geometry geometry;
        Record_Place file;  // entry 70
        Record_Place docs;  // entry 41
        std::u16string docs_vcn;
    } cases[] = {
        {"4 KiB clusters, 1 KiB records", {4096, 1024}, {17, 4}, {10, 2}, u"0xA"},
        {"512-byte clusters", {512, 1024}, {140, 0}, {82, 0}, u"0x52"},
        {"2 KiB clusters", {2048, 1024}, {35, 0}, {20, 2}, u"0x14"},
        {"4 KiB records", {4096, 4096}, {70, 0}, {41, 0}, u"0x29"},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        Index_Volume(h.context, {{70, u"guess.txt"}});
        h.context.Mft.Set_Geometry(c.geometry);
        const _log_info guessed = h.Run(Update_Standard_Information(
            c.file, 0x18, Before, 0x20, Changed(Before, &Times::create, Filetime(2019, 1, 1)), 0x20));
        EXPECT_EQ(guessed.FileName, u"guess.txt <Guessed>") << c.what;
        EXPECT_EQ(guessed.FullPath, u"\\docs\\guess.txt") << c.what;

        const std::vector<_log_info> rows = h.Run_All(
            {In_Transaction(Delete_Index_Entry(Index_Place::Root, c.docs, Index_Entry(Reference(70, 1), Docs, u"a.txt")), 9),
             In_Transaction(Deallocate_File_Record(c.file), 9)});
        ASSERT_EQ(rows[1].Event, u"File Deletion") << c.what;
        EXPECT_EQ(rows[1].MFT_RecordVCN, c.docs_vcn) << c.what;
        EXPECT_EQ(rows[1].MFT_RecordClusterIndex, c.docs.cluster_index) << c.what;

        Times t = Before;
        t.modified = t.mft_modified = Filetime(2020, 7, 25, 13, 0, 7);
        const _log_info update =
            h.Run(Update_Standard_Information(c.docs, 0x20, Before, 0x10000000, t, 0x10000000));
        EXPECT_EQ(update.FileName, u"docs <Guessed>") << c.what;
        EXPECT_EQ(h.Stored(rows[1].LSN, "EventTime"), "2020-07-25 13:00:07") << c.what;
    }
}

TEST(LogFile_Analysis_Directory_Times, LookBackEndsAtTheDirectorysCreationOrAfterThreeOthers) {
    const auto deletion = [] {
        return std::vector<Log_Record>{
            In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(70, 1), Docs, u"a.txt")), 9),
            In_Transaction(Deallocate_File_Record(Place_Of(70)), 9),
        };
    };
    const struct {
        const char* what;
        int events_between;
        bool rows_without_event_between;
        bool directory_made_between;
        bool dated;
    } cases[] = {
        {"two rows between", 2, false, false, true},
        {"three rows between", 3, false, false, false},
        {"rows without an event do not count", 2, true, false, true},
        {"the directory made after it", 0, false, true, false},
    };
    for (const auto& c : cases) {
        Directory_Update h;
        const std::u16string lsn = h.Run_All(deletion())[1].LSN;
        if (c.directory_made_between)
            h.Run(Initialize_File_Record(Place_Of(41), File_Record_Image({Standard_Information(Before, 0x10000000),
                                                                            File_Name_Attribute(Root_Reference, u"docs"),
                                                                            Index_Root()})));
        for (int i = 0; i < c.events_between; ++i) h.Run(Check_Point());
        if (c.rows_without_event_between) {
            // Rows a record gets from the $MFT alone.
            _log_info named;
            named.LSN = u"1";
            named.FileName = u"named.txt";
            for (int i = 0; i < 5; ++i) h.context.LogFile_Row_Array.push_back(named);
        }
        h.Update_Docs(Filetime(2020, 7, 25, 13, 0, 7));
        EXPECT_EQ(h.Stored(lsn, "EventTime"), c.dated ? "2020-07-25 13:00:07" : "") << c.what;
    }
}

TEST(LogFile_Analysis_Directory_Times, RefusedUpdateEndsTheRecord) {
    Directory_Update h;
    const std::vector<_log_info> made = h.Run_All(Create_In_Docs(70, u"a.txt"));
    h.Refuse_Updates();
    Times t = Before;
    t.modified = t.mft_modified = Filetime(2020, 8, 1);
    const _log_info update = h.Run(In_Transaction(
        Update_Standard_Information(Place_Of(41), 0x20, Before, 0x10000000, t, 0x10000000), 0x66));
    EXPECT_EQ(update.Event, u"");
    EXPECT_EQ(update.Detail, u"");
    EXPECT_EQ(h.Group(0x66), nullptr);
    EXPECT_EQ(h.Stored(update.LSN, "Event"), "<none>");
    EXPECT_EQ(h.Stored(made[1].LSN, "Event"), "File Creation");
}

// Which update of $STANDARD_INFORMATION is which case: where it starts (at a
// value or up to two bytes into it) and how many bytes of new value it has.
TEST(LogFile_Analysis_Time_Change, WhereAnUpdateStartsAndHowLongItIs) {
    const std::uint64_t earlier = Filetime(2019, 1, 1, 8, 0, 0, 1230000);
    Times all_back;
    all_back.create = all_back.modified = all_back.mft_modified = all_back.access = earlier;
    const struct {
        const char* what;
        std::uint16_t from, to;  // the attribute bytes the update covers
        std::u16string detail;
    } cases[] = {
        {"one creation time", 0x18, 0x20, u"CreationTime : 2020-07-25 12:33:11 -> 2019-01-01 08:00:00"},
        {"one modified time", 0x20, 0x28, u"ModifiedTime : 2020-07-25 12:33:24 -> 2019-01-01 08:00:00"},
        {"one MFT-modified time", 0x28, 0x30, u"MFTModifiedTime : 2020-07-25 12:33:25 -> 2019-01-01 08:00:00"},
        {"one access time", 0x30, 0x38, u"AccessedTime : 2020-07-25 12:35:24 -> 2019-01-01 08:00:00"},
        {"two bytes into the creation time", 0x1A, 0x22, u"CreationTime : 2020-07-25 12:33:11 -> 2019-01-01 08:00:00"},
        // The two low bytes not logged count as zero: the old 12:35:24 reads a
        // little earlier.
        {"two bytes into the access time", 0x32, 0x3A, u"AccessedTime : 2020-07-25 12:35:23 -> 2019-01-01 08:00:00"},
        // Fewer than 8 bytes, even where the skipped low bytes would make up the time.
        {"7 bytes from one byte into the creation time", 0x19, 0x20, u""},
        {"7 bytes from one byte into the modified time", 0x21, 0x28, u""},
        {"7 bytes from one byte into the MFT-modified time", 0x29, 0x30, u""},
        {"7 bytes from one byte into the access time", 0x31, 0x38, u""},
        // Three bytes in is no start of a time.
        {"three bytes into the creation time", 0x1B, 0x23, u""},
        {"three bytes into the modified time", 0x23, 0x2B, u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(Place_Of(70), c.from, Before, 0x20, all_back, 0x20, c.to));
        EXPECT_EQ(cur.Event, c.detail.empty() ? u"" : u"Time Reversal Event") << c.what;
        EXPECT_EQ(U8(cur.Detail), U8(c.detail)) << c.what;
    }
    // The attribute word: four bytes, at its own offset.
    for (const std::uint16_t to : {0x3C, 0x3B}) {
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(Place_Of(70), 0x38, Before, 0x20, Before, 0x22, to));
        EXPECT_EQ(cur.Event, to == 0x3C ? u"Changing FileAttribute" : u"") << to;
    }
}

// Values the record does not carry in full were not changed by it: the
// bytes after the redo data (the undo data) or after the client data are not
// read as new values.
TEST(LogFile_Analysis_Time_Change, ValuesOutsideTheRecordAreNotCompared) {
    {
        // Only the creation time is logged, but a whole old side: a reading
        // past the redo data would take the old creation and modified times
        // for new modified and MFT-modified times and report them set back.
        Analysis_Harness h;
        Log_Record r = Update_Standard_Information(Place_Of(70), 0x18, Before, 0x20,
                                                   Changed(Before, &Times::create, Filetime(2019, 1, 1)), 0x20);
        r.redo.resize(8);
        const _log_info cur = h.Run(r);
        EXPECT_EQ(cur.Event, u"Time Reversal Event");
        EXPECT_EQ(cur.Detail, u"CreationTime : 2020-07-25 12:33:11 -> 2019-01-01 00:00:00(Zero in 100-nanoseconds)");
    }
    {
        // A directory's modified time alone: no MFT-modified time to date with.
        Directory_Update h;
        const std::u16string lsn =
            h.Run_All({In_Transaction(Delete_Index_Entry(Index_Place::Root, Place_Of(41),
                                                         Index_Entry(Reference(70, 1), Docs, u"a.txt")),
                                      9),
                       In_Transaction(Deallocate_File_Record(Place_Of(70)), 9)})[1]
                .LSN;
        Log_Record r = Update_Standard_Information(Place_Of(41), 0x20, Before, 0x10000000,
                                                   Changed(Before, &Times::modified, Filetime(2020, 8, 1)), 0x10000000,
                                                   0x28);
        EXPECT_EQ(h.Run(r).Event, u"Updating Modified Time");
        EXPECT_EQ(h.Stored(lsn, "EventTime"), "");
    }
    {
        // The attribute word after the access time, not logged.
        Analysis_Harness h;
        const _log_info cur = h.Run(Update_Standard_Information(
            Place_Of(70), 0x30, Before, 0x20, Changed(Before, &Times::access, Filetime(2019, 1, 1)), 0x22, 0x38));
        EXPECT_EQ(cur.Event, u"Time Reversal Event");
        EXPECT_EQ(cur.Detail, u"AccessedTime : 2020-07-25 12:35:24 -> 2019-01-01 00:00:00(Zero in 100-nanoseconds)");
    }
    {
        // A record whose client data is cut short after its first new time.
        Global_Parsing_Context context;
        CppSQLite3DB db;
        db.Open_With_Pragmas(":memory:");
        Log_Record r = Update_Standard_Information(Place_Of(70), 0x20, Before, 0x20,
                                                   Changed(Before, &Times::modified, Filetime(2020, 8, 1)), 0x20);
        r.lsn = 0x100;
        const Bytes header = r.Header();
        Bytes client = r.Client();
        client.resize(r.Redo_Offset() + 8);
        _log_info cur;
        cur.TargetVCN = u"0x11";
        cur.ClusterIndex = u"0x4";
        Analyze_LogFile_Record(context, *Decode_Log_Record_Header(Byte_View(header.data(), header.size())), cur,
                               _log_info{},
                               Client_Data_View(client, r.Redo_Offset()), db);
        EXPECT_EQ(cur.Event, u"");  // no old value in hand
    }
}

}  // namespace
