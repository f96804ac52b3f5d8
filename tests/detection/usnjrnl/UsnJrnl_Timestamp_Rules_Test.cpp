#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detection/Detection_Test_Support.h"
#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "app/Signature_Loading.h"
#include "output/Time_Text.h"
#include "support/Detection_Builders.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

const std::uint64_t Folder = Mft_Reference(40, 1);        // \Users
const std::uint64_t Other_Folder = Mft_Reference(50, 1);  // \Other
const std::uint64_t Own_File = Mft_Reference(41, 1);

// Days from 1601-01-01 to 1899-12-30, where the time texts' scale starts.
constexpr std::int64_t Days_1601_To_1899 = 109205;
// Sub-second ticks that keep a time clear of the zero marks.
constexpr std::uint64_t Ticks = 1234567;

// The FILETIME of a time text (hour offset 0), plus some ticks.
std::uint64_t Ft(std::u16string_view text, std::uint64_t ticks = Ticks) {
    return static_cast<std::uint64_t>(Time_Text_Seconds(text) + Days_1601_To_1899 * 86400) * 10'000'000ull + ticks;
}

std::u16string Day(std::u16string_view time) { return u"2020-08-02 " + std::u16string(time); }

// A journal and an $MFT around one file, \Users\<name> (entry 41), run
// through the whole $UsnJrnl half.
class Journal {
public:
    Journal() {
        mft_.Root()
            .Directory(40, 1, Mft_Root_Reference, u"Users")
            .Directory(50, 1, Mft_Root_Reference, u"Other");
    }

    // A record of a file (the own file by default) in a folder.
    Usn_Event& Add(std::u16string_view time, std::initializer_list<std::u16string_view> reasons,
                   std::uint64_t parent = Folder, std::uint64_t file = Own_File, std::u16string name = u"") {
        if (name.empty()) name = file == Own_File ? own_name_ : u"other.txt";
        const std::u16string folder = parent == Folder ? u"\\Users\\" : u"\\Other\\";
        usn_ += 100;
        events_.push_back(Usn_Event(usn_).Time(Day(time)).Reasons(reasons).Name(name).Path(folder + name)
                              .File_Reference(file).Parent_Reference(parent));
        return events_.back();
    }
    // The change of the own file's times: a bare change and its closing
    // record; returns the closing record's USN.
    std::string Change(std::u16string_view time, std::uint64_t parent = Folder) {
        Add(time, {u"Basic_Info_Changed"}, parent);
        Add(time, {u"Basic_Info_Changed", u"File_Closed"}, parent);
        return std::to_string(usn_);
    }
    void Created(std::u16string_view time, std::uint64_t parent = Folder) {
        Add(time, {u"File_Created"}, parent);
        Add(time, {u"File_Created", u"File_Closed"}, parent);
    }
    // The own file's $MFT entry.
    _ENTRYINFO_2& Own(std::uint64_t create, std::uint64_t modified, std::uint64_t mft_modified,
                      std::uint64_t parent = Folder) {
        mft_.File(41, 1, parent, own_name_);
        mft_.Last().CreateTime = create;
        mft_.Last().ModifiedTime = modified;
        mft_.Last().MFT_ModifiedTime = mft_modified;
        return mft_.Last();
    }
    Mft_Entries& Mft() { return mft_; }
    void Name(std::u16string name) { own_name_ = std::move(name); }
    void Signature(std::u16string_view text) { ASSERT_TRUE(Add_Signature_Text(state_, text)); }

    Detection_Context& Run() {
        mft_.Install(state_.g_Parsing_Context);
        for (const Usn_Event& e : events_) state_.g_UsnJrnl_Info_Array.push_back(e);
        context_ = std::make_unique<Detection_Context>(state_);
        Run_UsnJrnl_Half(*context_);
        return *context_;
    }
    Strings Findings() const {
        return Findings_Of(state_, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl);
    }
    Program_State& State() { return state_; }

private:
    Program_State state_;
    Mft_Entries mft_;
    std::vector<Usn_Event> events_;
    std::unique_ptr<Detection_Context> context_;
    std::uint64_t usn_ = 0;
    std::u16string own_name_ = u"secret.docx";
};

// The tracked entries as "P<paired> U<unpaired> E<events> last=<USN>", a
// removed one as "removed".
Strings Entries_Of(const Detection_Context& context) {
    Strings out;
    for (const auto& entry : context.g_Basic_Info_Changed_Array) {
        if (entry.Removed) {
            out.push_back("removed");
            continue;
        }
        out.push_back("P" + std::to_string(entry.PairedCount) + " U" + std::to_string(entry.UnpairedCount) + " E" +
                      std::to_string(entry.EventCount) + " last=" +
                      platform::Utf16_To_Utf8(entry.LastUSN(context.g_UsnJrnl_Info_Array)));
    }
    return out;
}

std::string C_Creation(const std::string& usn, const std::string& name = "secret.docx",
                       const std::string& created = "2020-08-02 10:00:00") {
    return usn + "|[Suspicious] The timestamp of \"" + name +
           "\" may have been manipulated. => ((CreationTime : 2019-01-01 00:00:00) != (Creation Event Time : " + created +
           "))";
}

std::string C_Mft(const std::string& usn, const std::string& last, const std::string& name = "secret.docx") {
    return usn + "|[Suspicious] The timestamp of \"" + name +
           "\" may have been manipulated. => ((MFTmodifiedTime : 2019-02-01 00:00:00) != (Last Basic_Info_Changed "
           "Event Time : 2020-08-02 " + last + "))";
}

}  // namespace

TEST(UsnJrnl_Timestamp_Rules, FileTimeHelperMatchesTheTimeTexts) {
    EXPECT_EQ(Format_FileTime_Text(Ft(u"2020-08-02 10:00:00")), u"2020-08-02 10:00:00");
}

// Which closing records are tracked, paired, and dropped.
TEST(UsnJrnl_Timestamp_Rules, Pairing) {
    const std::uint64_t other = Mft_Reference(60, 1);
    struct Case {
        const char* what;
        std::function<void(Journal&)> records;
        Strings entries;
    };
    // The truncated form with its write at `write`, the change at 10:00:00
    // and the close at 10:00:01.
    const auto truncated = [](const char16_t* write) {
        return [write](Journal& j) {
            j.Add(write, {u"Data_Truncated"});
            j.Add(u"10:00:00", {u"Data_Truncated", u"Basic_Info_Changed"});
            j.Add(u"10:00:01", {u"Data_Truncated", u"Basic_Info_Changed", u"File_Closed"});
        };
    };
    const std::vector<Case> cases = {
        {"bare change 1 s before the close",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P1 U0 E1 last=200"}},
        {"bare change 2 s before",
         [](Journal& j) {
             j.Add(u"09:59:59", {u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P0 U1 E1 last="}},
        {"other files' records between are passed over",
         [&](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed"});
             j.Add(u"10:00:00", {u"Basic_Info_Changed"}, Folder, other);
             j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P1 U0 E1 last=300"}},
        {"truncated form: a write, the change 1 s before the close",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Data_Truncated"});
             j.Add(u"10:00:00", {u"Data_Truncated", u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Data_Truncated", u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P1 U0 E1 last=300"}},
        {"truncated form: the change 2 s before the close",
         [](Journal& j) {
             j.Add(u"09:59:59", {u"Data_Truncated"});
             j.Add(u"09:59:59", {u"Data_Truncated", u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Data_Truncated", u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P0 U1 E1 last="}},
        {"truncated form: the write 2 s before the close is inside the look-back", truncated(u"09:59:59"),
         {"P1 U0 E1 last=300"}},
        {"truncated form: the write 3 s before is not", truncated(u"09:59:58"), {"P0 U1 E1 last="}},
        {"truncated form: no other record of the file before the change",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Data_Truncated", u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Data_Truncated", u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P0 U1 E1 last="}},
        {"close followed directly by the file's deletion",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed"});
             j.Add(u"10:00:00", {u"Basic_Info_Changed", u"File_Closed"});
             j.Add(u"10:00:00", {u"File_Deleted", u"File_Closed"});
         },
         {}},
        {"tracked file deleted later",
         [&](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed"});
             j.Add(u"10:00:00", {u"Basic_Info_Changed", u"File_Closed"});
             j.Add(u"10:00:00", {u"Basic_Info_Changed"}, Folder, other);
             j.Add(u"10:00:00", {u"Basic_Info_Changed", u"File_Closed"}, Folder, other);
             j.Add(u"10:00:05", {u"File_Deleted", u"File_Closed"});
         },
         {"removed", "P1 U0 E1 last=400"}},
        {"a paired change dated before the one kept changes nothing",
         [](Journal& j) {
             j.Add(u"10:00:05", {u"Basic_Info_Changed"});
             j.Add(u"10:00:05", {u"Basic_Info_Changed", u"File_Closed"});
             j.Add(u"10:00:01", {u"Basic_Info_Changed"});
             j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"});
         },
         {"P1 U0 E1 last=200"}},
        // With the storage-class word the close is still the bare form, which
        // looks past the file's other records for the bare change; the mixed
        // form would stop at the write.
        {"bare change and close that also name the storage class",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed", u"Desired_Storage_Class_Change"});
             j.Add(u"10:00:00", {u"Data_Overwritten"});
             j.Add(u"10:00:01", {u"Basic_Info_Changed", u"Desired_Storage_Class_Change", u"File_Closed"});
         },
         {"P1 U0 E1 last=300"}},
        {"an unindexed file is not tracked",
         [](Journal& j) {
             j.Add(u"10:00:00", {u"Basic_Info_Changed"});
             j.Add(u"10:00:00", {u"Basic_Info_Changed", u"File_Closed"}).Attributes(u"Archive , Not_Content_Indexed");
         },
         {}},
    };
    for (const Case& c : cases) {
        Journal j;
        c.records(j);
        EXPECT_EQ(Entries_Of(j.Run()), c.entries) << c.what;
    }
}

// The three gap flags at their bounds.
TEST(UsnJrnl_Timestamp_Rules, Classification) {
    struct Case {
        const char16_t* creation;      // $SI creation time
        const char16_t* last;          // the change (created at 10:00:00)
        const char16_t* mft_modified;  // $SI MFT-modified time
        const char* flags;
    };
    const std::vector<Case> cases = {
        {u"10:00:05", u"10:00:02", u"10:00:02", "C0 E0 M0"},  // creation 5 s from its record
        {u"10:00:06", u"10:00:02", u"10:00:02", "C1 E0 M0"},  // 6 s
        {u"10:00:00", u"10:00:02", u"10:00:07", "C0 E0 M0"},  // MFT-modified 5 s from the change
        {u"10:00:00", u"10:00:02", u"10:00:08", "C0 E0 M1"},  // 6 s
        {u"10:00:00", u"10:00:03", u"10:00:03", "C0 E1 M0"},  // change 3 s after the creation
    };
    for (const Case& c : cases) {
        Journal j;
        j.Created(u"10:00:00");
        j.Change(c.last);
        j.Own(Ft(Day(c.creation)), Ft(Day(c.creation)), Ft(Day(c.mft_modified)));
        const Detection_Context& context = j.Run();
        ASSERT_EQ(context.g_Basic_Info_Changed_Array.size(), 1u);
        const auto& e = context.g_Basic_Info_Changed_Array[0];
        EXPECT_EQ("C" + std::to_string(e.CreationGapFlag) + " E" + std::to_string(e.CreationEventGapFlag) + " M" +
                      std::to_string(e.ModifiedGapFlag),
                  c.flags)
            << platform::Utf16_To_Utf8(c.creation) << " " << platform::Utf16_To_Utf8(c.last);
    }
}

// The update-period ratios, each at its single-precision boundary.
TEST(UsnJrnl_Timestamp_Rules, CandidateRatios) {
    struct Case {
        const char* what;
        std::function<void(Program_Update_Period&, _usnjrnl_basic_info_changed_last_event_time&)> change;
        int result;
    };
    const std::vector<Case> cases = {
        {"no period", nullptr, 0},
        {"nothing points to an update", [](auto&, auto&) {}, 0},
        {"28 of 70 files seen (0.4)",
         [](auto& p, auto&) { p.FolderCreated = 0, p.FolderFileCount = 70, p.FilesSeen = p.CreationGapEntries = p.FilesCreated = 28; }, 1},
        {"27 of 70 files seen",
         [](auto& p, auto&) { p.FolderCreated = 0, p.FolderFileCount = 70, p.FilesSeen = p.CreationGapEntries = p.FilesCreated = 27; }, 0},
        {"7/10 files without a change (not at least 0.7)", [](auto& p, auto&) { p.FilesWithoutBasicInfo = 7; }, 0},
        {"8/10 files without a change", [](auto& p, auto&) { p.FilesWithoutBasicInfo = 8; }, 1},
        {"3/10 files with a creation gap (not at most 0.3)", [](auto& p, auto&) { p.CreationGapEntries = 3; }, 0},
        {"2/10 files with a creation gap", [](auto& p, auto&) { p.CreationGapEntries = 2; }, 1},
        {"2/10 files with a modified gap, entry with a modified gap only",
         [](auto& p, auto& e) { p.ModifiedGapEntries = 2, e.CreationGapFlag = 0, e.ModifiedGapFlag = 1; }, 1},
        {"no file created, entry's creation unknown", [](auto& p, auto& e) { p.FilesCreated = 0, e.CreatedKnown = 0; }, 1},
        {"no file created, entry's creation known", [](auto& p, auto&) { p.FilesCreated = 0; }, 0},
        {"5/10 files created", [](auto& p, auto&) { p.FilesCreated = 5; }, 1},
        {"6/10 files created", [](auto& p, auto&) { p.FilesCreated = 6; }, 0},
        {"half the directories without a change",
         [](auto& p, auto&) { p.DirectoriesCreated = 1, p.DirectoriesSeen = 2, p.DirectoriesWithoutBasicInfo = 1; }, 1},
        {"every directory changed, none of their times",
         [](auto& p, auto&) { p.DirectoriesCreated = 1, p.DirectoriesSeen = 2; }, 1},
        {"every directory changed, half their times",
         [](auto& p, auto&) { p.DirectoriesCreated = 1, p.DirectoriesSeen = 2, p.DirectoriesTimeChanged = 1; }, 0},
    };
    for (const Case& c : cases) {
        Program_Update_Period period;
        period.FolderCreated = 1;
        period.FilesSeen = 10;
        period.CreationGapEntries = 10;
        period.ModifiedGapEntries = 10;
        period.FilesCreated = 10;
        _usnjrnl_basic_info_changed_last_event_time entry;
        entry.CreatedKnown = 1;
        entry.CreationGapFlag = 1;
        if (c.change) {
            entry.Period = &period;
            c.change(period, entry);
        }
        EXPECT_EQ(Check_Candidate_Ratios(entry), c.result) << c.what;
    }
}

// The MFT-modified branch (no creation record): its timing gates.
TEST(UsnJrnl_Timestamp_Rules, TimingGates) {
    struct Case {
        const char* what;
        std::function<void(Journal&)> before;  // records before the change at 10:00:10
        bool found;
    };
    const auto closes = [](std::vector<const char16_t*> times) {
        return [times](Journal& j) {
            for (const char16_t* t : times) j.Add(t, {u"Basic_Info_Changed", u"File_Closed"});
        };
    };
    const auto folder = [](int basic_closed, int closed_only, int near) {
        return [=](Journal& j) {
            for (int k = 0; k < basic_closed + closed_only; ++k)
                j.Add(u"09:59:00", {k < basic_closed ? u"Basic_Info_Changed" : u"Data_Extend", u"File_Closed"}, Folder,
                      Mft_Reference(100 + k, 1), u"f" + platform::Utf8_To_Utf16(std::to_string(k)));
            for (int k = 0; k < near; ++k)
                j.Add(u"10:00:06", {u"Basic_Info_Changed", u"File_Closed"}, Folder, Mft_Reference(200 + k, 1),
                      u"n" + platform::Utf8_To_Utf16(std::to_string(k)));
        };
    };
    const std::vector<Case> cases = {
        {"earlier events 1 s and 1 s before (average 1.0)", closes({u"10:00:09", u"10:00:09"}), true},
        {"earlier events 2 s and 1 s before (average 1.5)", closes({u"10:00:08", u"10:00:09"}), false},
        {"earlier events 1 s after and 1 s before (no wrap to 0)", closes({u"10:00:11", u"10:00:09"}), false},
        {"13 of 20 closing records in the folder close a change", folder(13, 7, 0), true},
        {"14 of 20", folder(14, 6, 0), false},
        {"13 of 20, and the change's own burst of 5 is not counted", folder(13, 7, 5), true},
        {"13 of 19, the file's own closing record 5 s before is not counted",
         [&](Journal& j) {
             folder(13, 6, 0)(j);
             j.Add(u"10:00:05", {u"Data_Extend", u"File_Closed"});
         },
         false},
        {"a write 2 s before the change", [](Journal& j) { j.Add(u"10:00:08", {u"Data_Overwritten"}); }, false},
        {"a write 3 s before the change", [](Journal& j) { j.Add(u"10:00:07", {u"Data_Overwritten"}); }, true},
        // The change's own records are all the folder's update period holds:
        // it starts and ends at the change, whose file was not created there.
        {"a change at the start of an update period",
         [](Journal& j) { j.Signature(u"ProgramUpdatePath|\\Users\\|Same|1"); }, false},
    };
    for (const Case& c : cases) {
        Journal j;
        c.before(j);
        const std::string usn = j.Change(u"10:00:10");
        j.Own(Ft(u"2019-01-01 00:00:00"), Ft(u"2019-01-01 00:00:00"), Ft(u"2019-02-01 00:00:00"));
        j.Run();
        EXPECT_EQ(j.Findings(), c.found ? Strings{C_Mft(usn, "10:00:10")} : Strings{}) << c.what;
    }
}

// The creation branch's exclusions: a save through a new file, a file that
// took another's place, later changes of the file, its own times.
TEST(UsnJrnl_Timestamp_Rules, CreationBranchExclusions) {
    struct Case {
        const char* what;
        std::function<void(Journal&)> before;  // before the creation at 10:00:00
        std::function<void(Journal&)> after;   // after the change at 10:00:02
        std::uint64_t modified;                // $SI modified time (creation: 2019-01-01)
        std::uint64_t size;
        bool found;
    };
    const auto nothing = [](Journal&) {};
    const auto later = [](std::vector<std::u16string_view> reasons) {
        return [reasons](Journal& j) { j.Add(u"10:00:03", {}).Reasons(reasons); };
    };
    const auto deleted = [](const char16_t* time, const char16_t* name) {
        return [=](Journal& j) { j.Add(time, {u"File_Deleted", u"File_Closed"}, Folder, Mft_Reference(77, 1), name); };
    };
    // secret.docx created at `created` and deleted at 09:59:59, just before
    // the file's own creation.
    const auto created_and_deleted = [=](const char16_t* created) {
        return [=](Journal& j) {
            j.Add(created, {u"File_Created"}, Folder, Mft_Reference(77, 1), u"secret.docx");
            deleted(u"09:59:59", u"secret.docx")(j);
        };
    };
    const std::uint64_t same = Ft(u"2019-01-01 00:00:00");
    const std::uint64_t differs = Ft(u"2019-01-02 00:00:00");
    const std::vector<Case> cases = {
        {"own times equal", nothing, nothing, same, 0, true},
        {"own times differ, no witness", nothing, nothing, differs, 0, false},
        {"secret.tmp deleted 5 s before the change", deleted(u"09:59:57", u"secret.tmp"), nothing, same, 0, false},
        {"secret.tmp deleted 6 s before", deleted(u"09:59:56", u"secret.tmp"), nothing, same, 0, true},
        {"secret.docx deleted 15 s before the creation", deleted(u"09:59:45", u"secret.docx"), nothing, same, 0, false},
        {"secret.docx deleted 16 s before", deleted(u"09:59:44", u"secret.docx"), nothing, same, 0, true},
        {"later: Data_Added , Data_Truncated", nothing, later({u"Data_Added", u"Data_Truncated"}), same, 0, true},
        {"later: Data_Added alone", nothing, later({u"Data_Added"}), same, 0, false},
        {"later: Data_Added , Data_Truncated , Data_Overwritten", nothing,
         later({u"Data_Added", u"Data_Truncated", u"Data_Overwritten"}), same, 0, false},
        {"later: Compression_Changed", nothing, later({u"Compression_Changed"}), same, 0, false},
        {"later: Data_Overwritten alone", nothing, later({u"Data_Overwritten"}), same, 0, true},
        {"later: Data_Truncated alone", nothing, later({u"Data_Truncated"}), same, 0, false},
        {"later: Named_Stream_Changed", nothing, later({u"Named_Stream_Changed"}), same, 0, false},
        {"later: Object_ID_Changed alone (not in the list)", nothing, later({u"Object_ID_Changed"}), same, 0, true},
        {"rewritten, 4097 bytes", nothing, later({u"Data_Added", u"Data_Truncated"}), differs, 4097, true},
        {"rewritten, 4096 bytes", nothing, later({u"Data_Added", u"Data_Truncated"}), differs, 4096, false},
        // A modified time not before the creation keeps the save-through check
        // out; the rewrite of a large file stands in for equal own times.
        {"secret.docx created 1 s before the file and deleted: the same creation, no replacement",
         created_and_deleted(u"09:59:59"), later({u"Data_Added", u"Data_Truncated"}), Ft(Day(u"10:00:00")), 4097, true},
        {"created 2 s before: a replacement", created_and_deleted(u"09:59:58"),
         later({u"Data_Added", u"Data_Truncated"}), Ft(Day(u"10:00:00")), 4097, false},
    };
    for (const Case& c : cases) {
        Journal j;
        c.before(j);
        j.Created(u"10:00:00");
        const std::string usn = j.Change(u"10:00:02");
        c.after(j);
        j.Own(same, c.modified, Ft(u"2020-08-02 10:00:02")).DataSize = c.size;
        j.Run();
        EXPECT_EQ(j.Findings(), c.found ? Strings{C_Creation(usn)} : Strings{}) << c.what;
    }
}

// Evidence that the times were copied from another file of the folder.
TEST(UsnJrnl_Timestamp_Rules, SiblingEvidence) {
    const std::uint64_t stamp = Ft(u"2019-01-01 00:00:00");
    struct Case {
        const char* what;
        const char16_t* own_name;
        const char16_t* sibling;
        std::uint64_t sibling_created;  // the sibling's modified time is the file's own
        const char16_t* change;  // the change; the file was created at 10:00:00
        bool key_temp_path;
        bool tracked_sibling;
        std::string message;  // after the USN; empty: no finding
    };
    const std::string plain_ab = "[Suspicious] The timestamp of \"ab.txt\" may have been manipulated. => ((CreationTime : "
                                 "2019-01-01 00:00:00) != (Creation Event Time : 2020-08-02 10:00:00))";
    const std::vector<Case> cases = {
        {"short base names are compared", u"ab.txt", u"ab.doc", stamp, u"10:05:00", false, false,
         "[Malicious] The timestamp of \"ab.txt\" may have been manipulated. (Using another normal file's timestamp) => "
         "((CreationTime : 2019-01-01 00:00:00) != (Creation Event Time : 2020-08-02 10:00:00)), (CreationTime(2019-01-01 "
         "00:00:00) is same as ab.doc)"},
        {"a similar base name is no witness", u"report.doc", u"rep.docx", stamp, u"10:05:00", false, false,
         "[Suspicious] The timestamp of \"report.doc\" may have been manipulated. => ((CreationTime : 2019-01-01 "
         "00:00:00) != (Creation Event Time : 2020-08-02 10:00:00))"},
        {"a tracked sibling created otherwise is no witness", u"ab.txt", u"notes.txt", stamp, u"10:05:00", false, true,
         plain_ab},
        {"equal modified times", u"ab.txt", u"notes.txt", Ft(u"2018-01-01 00:00:00"), u"10:05:00", false, false,
         "[Malicious] The timestamp of \"ab.txt\" may have been manipulated. (Using another normal file's timestamp) => "
         "((CreationTime : 2019-01-01 00:00:00) != (Creation Event Time : 2020-08-02 10:00:00)), (ModifiedTime(2019-03-03 "
         "00:00:00) is same as notes.txt)"},
        {"equal modified times alone do not replace equal own times", u"ab.txt", u"notes.txt",
         Ft(u"2018-01-01 00:00:00"), u"10:00:02", false, false, ""},
        {"equal modified times in a key temporary folder", u"ab.txt", u"notes.txt", Ft(u"2018-01-01 00:00:00"),
         u"10:00:02", true, false,
         "[Malicious] The timestamp of \"ab.txt\" may have been manipulated. (Using another normal file's timestamp) => "
         "((CreationTime : 2019-01-01 00:00:00) != (Creation Event Time : 2020-08-02 10:00:00)), (ModifiedTime(2019-03-03 "
         "00:00:00) is same as notes.txt)"},
    };
    for (const Case& c : cases) {
        Journal j;
        j.Name(c.own_name);
        if (c.key_temp_path) j.Signature(u"KeyTempPath|\\Users\\|Same");
        if (c.tracked_sibling) {
            j.Add(u"09:00:00", {u"File_Created"}, Folder, Mft_Reference(42, 1), c.sibling);
            j.Add(u"09:00:01", {u"Basic_Info_Changed"}, Folder, Mft_Reference(42, 1), c.sibling);
            j.Add(u"09:00:01", {u"Basic_Info_Changed", u"File_Closed"}, Folder, Mft_Reference(42, 1), c.sibling);
        }
        j.Created(u"10:00:00");
        const std::string usn = j.Change(c.change);
        j.Own(stamp, Ft(u"2019-03-03 00:00:00"), Ft(Day(c.change)));
        j.Mft().File(42, 1, Folder, c.sibling);
        j.Mft().Last().CreateTime = c.sibling_created;
        j.Mft().Last().ModifiedTime = Ft(u"2019-03-03 00:00:00");
        j.Mft().Last().MFT_ModifiedTime = Ft(u"2020-08-02 09:00:01");
        j.Run();
        Strings own;
        for (const std::string& f : j.Findings())
            if (f.find(platform::Utf16_To_Utf8(c.own_name)) != std::string::npos) own.push_back(f);
        EXPECT_EQ(own, c.message.empty() ? Strings{} : Strings{usn + "|" + c.message}) << c.what;
    }
}

// Rule A (a move between two changes) inside its 5 s window.
TEST(UsnJrnl_Timestamp_Rules, RuleAMoveBetweenTwoChanges) {
    for (const bool inside : {true, false}) {
        Journal j;
        j.Created(u"10:00:00", Other_Folder);
        j.Add(inside ? u"10:04:55" : u"10:04:54", {u"Basic_Info_Changed", u"File_Closed"}, Other_Folder);
        j.Add(u"10:04:56", {u"File_Renamed_Old"}, Other_Folder);
        j.Add(u"10:04:56", {u"File_Renamed_New"});
        j.Add(u"10:04:57", {u"File_Renamed_New", u"File_Closed"});
        const std::string usn = j.Change(u"10:05:00");
        j.Own(Ft(u"2019-01-01 00:00:00"), Ft(u"2019-01-01 00:00:00"), Ft(u"2020-08-02 10:05:00"));
        j.Run();
        EXPECT_EQ(j.Findings(),
                  Strings{inside ? usn + "|[Malicious] $SI, $FN timestamp of \"secret.docx\" have been manipulated. => "
                                         "(Basic_Info_Changed -> File Move -> Basic_Info_Changed), ((CreationTime : "
                                         "2019-01-01 00:00:00) != (Creation Event Time : 2020-08-02 10:00:00))"
                                 : C_Creation(usn)})
            << inside;
    }
}

// Rule B (a move out of the folder right after the change) reached through
// the fallback, since the move is a later change; with both gap flags the
// message takes the MFT-modified form and the creation time's zero mark
// keeps only its remark.
TEST(UsnJrnl_Timestamp_Rules, RuleBInTheFallbackWithBothGapFlags) {
    struct Case {
        const char* what;
        const char16_t* moved_in;
        const char16_t* between;  // another file's record between the change and the move, or none
        bool found;
        std::uint64_t to = Other_Folder;  // where the file is renamed in
    };
    const std::vector<Case> cases = {
        {"moved in 5 s after", u"10:05:05", nullptr, true},
        {"moved in 6 s after", u"10:05:06", nullptr, false},
        {"a record dated before the change ends the scan", u"10:05:05", u"10:04:59", false},
        {"a record of the change's own second does not", u"10:05:05", u"10:05:00", true},
        {"renamed within its own folder is no move", u"10:05:05", nullptr, false, Folder},
    };
    for (const Case& c : cases) {
        Journal j;
        j.Created(u"10:00:00");
        const std::string usn = j.Change(u"10:05:00");
        if (c.between != nullptr) j.Add(c.between, {u"Data_Extend"}, Other_Folder, Mft_Reference(60, 1));
        j.Add(u"10:05:01", {u"File_Renamed_Old"});
        j.Add(u"10:05:01", {u"File_Renamed_New"}, c.to);
        j.Add(c.moved_in, {u"File_Renamed_New", u"File_Closed"}, c.to);
        j.Own(Ft(u"2019-01-01 00:00:00", 0), Ft(u"2019-01-01 00:00:00"), Ft(u"2019-02-01 00:00:00"), c.to);
        j.Run();
        EXPECT_EQ(j.Findings(),
                  c.found ? Strings{usn + "|[Suspicious] $SI, $FN timestamp of \"secret.docx\" have been manipulated. "
                                          "(Zero in CreationTime's 100-nanoseconds) => (Basic_Info_Changed -> File Move), "
                                          "((MFTmodifiedTime : 2019-02-01 00:00:00) != (Last Basic_Info_Changed Event "
                                          "Time : 2020-08-02 10:05:00))"}
                          : Strings{})
            << c.what;
    }
}

// Rule C decorated with a witness and with the zero marks of a creation
// time without sub-seconds, in full.
TEST(UsnJrnl_Timestamp_Rules, DecoratedRuleCWithZeroMarks) {
    Journal j;
    j.Created(u"10:00:00");
    const std::string usn = j.Change(u"10:05:00");
    const std::uint64_t stamp = Ft(u"2019-01-01 00:00:00", 0);
    j.Own(stamp, stamp, Ft(u"2020-08-02 10:05:00"));
    j.Mft().File(42, 1, Folder, u"notes.txt");
    j.Mft().Last().CreateTime = stamp;
    j.Mft().Last().ModifiedTime = stamp;
    j.Run();
    EXPECT_EQ(j.Findings(),
              Strings{usn + "|[Malicious] The timestamp of \"secret.docx\" may have been manipulated. (Zero in "
                            "CreationTime's 100-nanoseconds) (Using another normal file's timestamp) => ((CreationTime : "
                            "2019-01-01 00:00:00(Zero in 100-nanoseconds)) != (Creation Event Time : 2020-08-02 "
                            "10:00:00)), (CreationTime(2019-01-01 00:00:00) is same as notes.txt)"});
}

// An execution of a timestamp tool right before the change names the tool
// in the file's finding, or makes one.
TEST(UsnJrnl_Timestamp_Rules, LinkToTheToolsExecution) {
    struct Case {
        const char* what;
        const char16_t* executed;
        int records_between;  // other records between the prefetch record and the change
        bool gap;             // the file's times show a gap (it has a finding)
        std::string message;
    };
    const std::string linked =
        "[Malicious] The timestamp of \"secret.docx\" may have been manipulated after executing Timestomp. => "
        "((MFTmodifiedTime : 2019-02-01 00:00:00) != (Last Basic_Info_Changed Event Time : 2020-08-02 10:00:10))";
    const std::string plain =
        "[Suspicious] The timestamp of \"secret.docx\" may have been manipulated. => ((MFTmodifiedTime : 2019-02-01 "
        "00:00:00) != (Last Basic_Info_Changed Event Time : 2020-08-02 10:00:10))";
    const std::vector<Case> cases = {
        {"1 s before, 4 records apart", u"10:00:09", 2, true, linked},
        {"5 records apart", u"10:00:09", 3, true, plain},
        {"2 s before", u"10:00:08", 2, true, plain},
        {"an unreported file", u"10:00:09", 2, false,
         "[Suspicious] The timestamp of \"secret.docx\" may have been manipulated after executing Timestomp."},
    };
    for (const Case& c : cases) {
        Journal j;
        j.Signature(u"Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp");
        j.Add(c.executed, {u"File_Created", u"File_Closed"}, Other_Folder, Mft_Reference(70, 1),
              u"TIMESTOMP.EXE-1A2B3C4D.pf");
        for (int k = 0; k < c.records_between; ++k)
            j.Add(u"10:00:09", {u"Data_Extend"}, Other_Folder, Mft_Reference(71, 1), u"log.txt");
        const std::string usn = j.Change(u"10:00:10");
        j.Own(Ft(u"2019-01-01 00:00:00"), Ft(u"2019-01-01 00:00:00"),
              c.gap ? Ft(u"2019-02-01 00:00:00") : Ft(u"2020-08-02 10:00:10"));
        j.Run();
        EXPECT_EQ(j.Findings(), Strings{usn + "|" + c.message}) << c.what;
    }
}

// Each execution finding names its own tool: a one-character name before
// the bracket gives the generic text, not the tool of the finding before.
TEST(UsnJrnl_Timestamp_Rules, LinkToolNameDoesNotCarryOver) {
    Journal j;
    j.Signature(u"Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp");
    j.Signature(u"Execution|Timestamp Manipulation|Same|XT|X");
    j.Add(u"10:00:09", {u"File_Created", u"File_Closed"}, Other_Folder, Mft_Reference(70, 1), u"TIMESTOMP.EXE-1A2B3C4D.pf");
    const std::string first = j.Change(u"10:00:10");
    j.Add(u"10:01:09", {u"File_Created", u"File_Closed"}, Other_Folder, Mft_Reference(72, 1), u"XT.EXE-1A2B3C4D.pf");
    // In another folder: the other file's closing records would make the
    // first one's folder look like a program's busy folder.
    j.Add(u"10:01:10", {u"Basic_Info_Changed"}, Other_Folder, Mft_Reference(43, 1), u"plan.docx");
    j.Add(u"10:01:10", {u"Basic_Info_Changed", u"File_Closed"}, Other_Folder, Mft_Reference(43, 1), u"plan.docx");
    j.Own(Ft(u"2019-01-01 00:00:00"), Ft(u"2019-01-01 00:00:00"), Ft(u"2019-02-01 00:00:00"));
    j.Mft().File(43, 1, Other_Folder, u"plan.docx");
    j.Mft().Last().MFT_ModifiedTime = Ft(u"2019-02-01 00:00:00");
    j.Run();
    const std::string tail =
        "((MFTmodifiedTime : 2019-02-01 00:00:00) != (Last Basic_Info_Changed Event Time : 2020-08-02 ";
    EXPECT_EQ(j.Findings(),
              (Strings{first + "|[Malicious] The timestamp of \"secret.docx\" may have been manipulated after executing "
                               "Timestomp. => " + tail + "10:00:10))",
                       "600|[Malicious] The timestamp of \"plan.docx\" may have been manipulated after executing "
                       "timestamp manipulcation tool. => " + tail + "10:01:10))"}));
}

// What the rules must survive: entries without a usable $MFT entry, times
// that format past year 9999 or do not parse, an empty name.
TEST(UsnJrnl_Timestamp_Rules, BadInputIsJudgedWithoutHarm) {
    Journal j;
    const std::string usn = j.Change(u"10:00:00");
    const std::uint64_t nameless = Mft_Reference(44, 1);
    j.Add(u"10:00:00", {u"Data_Truncated"}, Folder, nameless, u"");
    j.Add(u"10:00:00", {u"Data_Truncated", u"Basic_Info_Changed"}, Folder, nameless, u"");
    j.Add(u"10:00:00", {u"Data_Truncated", u"Basic_Info_Changed", u"File_Closed"}, Folder, nameless, u"");
    j.Add(u"10:00:01", {u"Basic_Info_Changed"}, Folder, Mft_Reference(45, 1), u"gone.txt");
    j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"}, Folder, Mft_Reference(45, 1), u"gone.txt");
    j.Add(u"10:00:01", {u"Basic_Info_Changed"}, Folder, Mft_Reference(46, 1), u"missing.txt");
    j.Add(u"10:00:01", {u"Basic_Info_Changed", u"File_Closed"}, Folder, Mft_Reference(46, 1), u"missing.txt");
    j.Add(u"not a time", {u"Basic_Info_Changed"}, Other_Folder, Mft_Reference(47, 1), u"odd.txt");
    j.Add(u"not a time", {u"Basic_Info_Changed", u"File_Closed"}, Other_Folder, Mft_Reference(47, 1), u"odd.txt");
    j.Add(u"not a time", {u"Basic_Info_Changed"}, Other_Folder, Mft_Reference(48, 1), u"odd2.txt");
    j.Add(u"not a time", {u"Basic_Info_Changed", u"File_Closed"}, Other_Folder, Mft_Reference(48, 1), u"odd2.txt");
    // Times past year 9999.
    j.Own(~0ull, ~0ull - 1, ~0ull);
    // A nameless file written just before its change: explained.
    j.Mft().File(44, 1, Folder, u"");
    j.Mft().File(45, 1, Folder, u"gone.txt");
    j.Mft().Last().IsDeleted = 1;
    j.Mft().File(47, 1, Other_Folder, u"odd.txt");
    j.Mft().Last().HasZoneIdentifier = 1;
    j.Mft().File(48, 1, Other_Folder, u"odd2.txt");
    j.Mft().Last().MFT_ModifiedTime = Ft(u"2020-08-02 10:00:00");
    const Detection_Context& context = j.Run();
    EXPECT_EQ(context.g_Basic_Info_Changed_Array.size(), 6u);
    const std::string far_future = platform::Utf16_To_Utf8(Shifted_FileTime_Text(~0ull, 0));
    EXPECT_EQ(far_future.substr(0, 6), "60056-");
    // The unparsable time reads as the parser's failure date, far from the
    // $MFT time: a gap, judged like any other.
    EXPECT_EQ(j.Findings(),
              (Strings{usn + "|[Suspicious] The timestamp of \"secret.docx\" may have been manipulated. => "
                             "((MFTmodifiedTime : " + far_future +
                             ") != (Last Basic_Info_Changed Event Time : 2020-08-02 10:00:00))",
                       "1300|[Suspicious] The timestamp of \"odd2.txt\" may have been manipulated. => "
                       "((MFTmodifiedTime : 2020-08-02 10:00:00) != (Last Basic_Info_Changed Event Time : 2020-08-02 "
                       "not a time))"}));
}

// A file changed while its program rewrote its folder is left alone: the
// change is attached to the update period, whose files mostly kept their
// times.
TEST(UsnJrnl_Timestamp_Rules, ChangeInsideAnUpdatePeriodIsLeftAlone) {
    for (const bool update_path : {false, true}) {
        Journal j;
        if (update_path) j.Signature(u"ProgramUpdatePath|\\Users\\|Same|1");
        j.Created(u"10:00:00");
        for (int k = 0; k < 10; ++k)
            j.Add(u"10:04:55", {u"Data_Overwritten", u"File_Closed"}, Folder, Mft_Reference(100 + k, 1),
                  u"lib" + platform::Utf8_To_Utf16(std::to_string(k)) + u".dll");
        const std::string usn = j.Change(u"10:05:00");
        j.Own(Ft(u"2019-01-01 00:00:00"), Ft(u"2019-01-01 00:00:00"), Ft(u"2020-08-02 10:05:00"));
        const Detection_Context& context = j.Run();
        EXPECT_EQ(j.Findings(), update_path ? Strings{} : Strings{C_Creation(usn)}) << update_path;
        // The period was freed; the entry no longer points to it.
        EXPECT_EQ(context.g_Basic_Info_Changed_Array[0].Period, nullptr);
    }
}
