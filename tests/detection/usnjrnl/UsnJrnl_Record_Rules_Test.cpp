#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/Detection_Test_Support.h"
#include "platform/console.h"
#include "support/Detection_Builders.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

std::vector<std::string> System_Time(const Program_State& s) {
    return Findings_Of(s, Finding_Category::System_Time_Manipulation, Finding_Source::UsnJrnl);
}
std::vector<std::string> Installations(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Installation, Finding_Source::UsnJrnl);
}
std::vector<std::string> Executions(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Execution, Finding_Source::UsnJrnl);
}
std::vector<std::string> Traces(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Traces, Finding_Source::UsnJrnl);
}
std::vector<std::string> Deletions(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Document_Deletion, Finding_Source::UsnJrnl);
}

void Fill(Program_State& s, const std::vector<Usn_Event>& records) {
    for (const Usn_Event& r : records) s.g_UsnJrnl_Info_Array.push_back(r);
}

Usn_Event At(std::uint64_t usn, const char16_t* time) { return Usn_Event(usn).Time(time).Name(u"a.txt").Path(u"\\a.txt"); }

constexpr char16_t Settings_Prefetch[] = u"SYSTEMSETTINGSADMINFLOWS.EXE-4D8A1F2B.pf";

// The settings tool's prefetch file as Windows writes it when the tool runs.
Usn_Event Settings_Tool(std::uint64_t usn, const char16_t* time) {
    return Usn_Event(usn).Time(time).Name(Settings_Prefetch).Path(u"\\Windows\\Prefetch\\x.pf")
        .Reasons({u"File_Created", u"File_Closed"});
}

constexpr char Jump_Message[] =
    "|The system time has moved forward more than 1 minute with running SystemSettingsAdminFlows.exe. "
    "(2020-08-02 10:00:00 -> 2020-08-02 10:01:00)";

}  // namespace

// A clock set back by at least a minute, record against record.
TEST(UsnJrnl_Record_Rules, SystemTimeReversal) {
    struct Case {
        const char* what;
        std::vector<Usn_Event> records;
        Strings found;
    };
    const std::vector<Case> cases = {
        {"60 s back", {At(0, u"2020-08-02 10:01:00"), At(8, u"2020-08-02 10:00:00")},
         {"8|The system time reversal has occurred. (2020-08-02 10:01:00 -> 2020-08-02 10:00:00)"}},
        {"59 s back", {At(0, u"2020-08-02 10:00:59"), At(8, u"2020-08-02 10:00:00")}, {}},
        {"a day back", {At(0, u"2020-08-03 09:00:00"), At(8, u"2020-08-02 10:00:00")},
         {"8|The system time reversal has occurred. (2020-08-03 09:00:00 -> 2020-08-02 10:00:00)"}},
        // A carved record says nothing about the clock, but the next record is
        // measured from it.
        {"carved record skipped, still the previous time",
         {At(0, u"2020-08-02 10:05:00"), At(8, u"2020-08-02 10:00:00").Carved(), At(16, u"2020-08-02 09:59:00")},
         {"16|The system time reversal has occurred. (2020-08-02 10:00:00 -> 2020-08-02 09:59:00)"}},
        {"a first record before 1970", {At(0, u"1969-12-31 23:59:00")},
         {"0|The system time reversal has occurred. (1970-01-01 00:00:00 -> 1969-12-31 23:59:00)"}},
        {"a first record 59 s before 1970", {At(0, u"1969-12-31 23:59:01")}, {}},
        {"forward is no reversal", {At(0, u"2020-08-02 10:00:00"), At(8, u"2020-08-02 11:00:00")}, {}},
    };
    for (const Case& c : cases) {
        Program_State s;
        Fill(s, c.records);
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(System_Time(s), c.found) << c.what;
    }

    // The finding carries the record's time.
    Program_State s;
    Fill(s, {At(0, u"2020-08-02 10:01:00"), At(8, u"2020-08-02 10:00:00")});
    Run_UsnJrnl_Record_Rules(s);
    ASSERT_EQ(s.g_Detection_Overview_Array.size(), 1u);
    EXPECT_EQ(s.g_Detection_Overview_Array[0]->Details[0]->EventTime, u"2020-08-02 10:00:00");
}

// A clock moved forward by at least a minute while the settings tool ran.
TEST(UsnJrnl_Record_Rules, SystemTimeForwardJumpWithTheSettingsTool) {
    const auto before = [](const char16_t* tool_time) {
        // The tool, a record between (so that no other jump arises), the
        // record before the jump at 10:00:00, the jump to 10:01:00.
        return std::vector<Usn_Event>{Settings_Tool(0, tool_time), At(8, u"2020-08-02 09:59:30"),
                                      At(16, u"2020-08-02 10:00:00"), At(24, u"2020-08-02 10:01:00")};
    };
    const auto after = [](Usn_Event tool) {
        return std::vector<Usn_Event>{At(0, u"2020-08-02 10:00:00"), At(8, u"2020-08-02 10:01:00"),
                                      At(16, u"2020-08-02 10:01:01"), std::move(tool)};
    };
    struct Case {
        const char* what;
        std::vector<Usn_Event> records;
        Strings found;
    };
    const std::vector<Case> cases = {
        {"the record itself, by its name only",
         {At(0, u"2020-08-02 10:00:00"),
          Usn_Event(8).Time(u"2020-08-02 10:01:00").Name(Settings_Prefetch).Reasons({u"Data_Extend"})},
         {std::string("8") + Jump_Message}},
        {"tool 60 s before the record before", before(u"2020-08-02 09:59:00"), {std::string("24") + Jump_Message}},
        {"tool 61 s before", before(u"2020-08-02 09:58:59"), {}},
        {"tool 5 s after the record after", after(Settings_Tool(24, u"2020-08-02 10:01:06")),
         {std::string("8") + Jump_Message}},
        {"tool 6 s after", after(Settings_Tool(24, u"2020-08-02 10:01:07")), {}},
        {"a window record needs File_Closed",
         after(Settings_Tool(24, u"2020-08-02 10:01:06").Reasons({u"File_Created"})), {}},
        {"a window record needs File_Created or Data_Truncated",
         after(Settings_Tool(24, u"2020-08-02 10:01:06").Reasons({u"Data_Extend", u"File_Closed"})), {}},
        {"Data_Truncated with File_Closed",
         after(Settings_Tool(24, u"2020-08-02 10:01:06").Reasons({u"Data_Truncated", u"File_Closed"})),
         {std::string("8") + Jump_Message}},
        {"a window record must be a prefetch file",
         after(Settings_Tool(24, u"2020-08-02 10:01:06").Name(u"SYSTEMSETTINGSADMINFLOWS.EXE-4D8A1F2B.pf.tmp")), {}},
        {"59 s forward", {At(0, u"2020-08-02 10:00:01"), Settings_Tool(8, u"2020-08-02 10:01:00")}, {}},
        {"a carved record", {At(0, u"2020-08-02 10:00:00"), Settings_Tool(8, u"2020-08-02 10:01:00").Carved()}, {}},
        {"the first record is never a jump", {Settings_Tool(0, u"2020-08-02 10:01:00")}, {}},
        {"no evidence", {At(0, u"2020-08-02 10:00:00"), At(8, u"2020-08-02 10:01:00"), At(16, u"2020-08-02 10:01:00")},
         {}},
    };
    for (const Case& c : cases) {
        Program_State s;
        Fill(s, c.records);
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(System_Time(s), c.found) << c.what;
    }
}

// A jump at the last record without evidence ends only the jump rule: the
// record is still a document deletion and still enters the lifecycle maps.
TEST(UsnJrnl_Record_Rules, ForwardJumpAtTheLastRecordKeepsItsLaterSteps) {
    Program_State s;
    Fill(s, {At(0, u"2020-08-02 10:00:00"),
             Usn_Event(8).Time(u"2020-08-02 10:01:00").Name(u"Report.docx").Path(u"\\Users\\Me\\Report.docx")
                 .Reasons({u"File_Deleted"}).Parent_Reference(0x40)});
    Detection_Context context(s);
    Detect_UsnJrnl_Record_Rules(context);
    EXPECT_EQ(System_Time(s), Strings{});
    EXPECT_EQ(Deletions(s), Strings{"8|\"Report.docx\" has been deleted."});
    EXPECT_FALSE(context.g_File_Deleted_Map.Find(u"Report.docx", u"0x0000000000000040").empty());
}

// A listed program's folder created directly under a program files folder or
// a user's roaming folder.
TEST(UsnJrnl_Record_Rules, InstallationOfAListedProgram) {
    struct Case {
        const char16_t* path;
        const char16_t* attr;
        std::vector<std::u16string_view> reasons;
        bool found;
    };
    const Case cases[] = {
        {u"\\Program Files\\Eraser", u"Directory", {u"File_Created"}, true},
        {u"\\Program Files\\Eraser\\bin", u"Directory", {u"File_Created"}, false},
        {u"\\Program Files (x86)\\Eraser", u"Directory", {u"File_Created"}, true},
        {u"\\Program Files (x86)\\Eraser\\bin", u"Directory", {u"File_Created"}, false},
        // Found further in: nothing may follow the folder where it was found.
        {u"\\Users\\x\\AppData\\Roaming\\Eraser", u"Directory", {u"File_Created"}, true},
        {u"\\Users\\x\\AppData\\Roaming\\Eraser\\bin", u"Directory", {u"File_Created"}, false},
        {u"\\Program Files\\Other", u"Directory", {u"File_Created"}, false},
        // The attribute text and the reason text are compared whole.
        {u"\\Program Files\\Eraser", u"Directory , Hidden", {u"File_Created"}, false},
        {u"\\Program Files\\Eraser", u"Archive", {u"File_Created"}, false},
        {u"\\Program Files\\Eraser", u"Directory", {u"File_Created", u"File_Closed"}, false},
        {u"\\Program Files\\Eraser", u"Directory", {u"File_Deleted"}, false},
    };
    for (const Case& c : cases) {
        Program_State s;
        ASSERT_TRUE(Add_Signatures(s, {u"Installation|Data Wiping|\\Eraser|Eraser"}));
        Fill(s, {Usn_Event(64).Name(u"x").Path(c.path).Attributes(c.attr).Reasons(c.reasons)});
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Installations(s),
                  c.found ? Strings{"64|Eraser (Data Wiping) has been installed."} : Strings{})
            << platform::Utf16_To_Utf8(c.path) << " / " << platform::Utf16_To_Utf8(c.attr);
    }

    // Every matching row reports, in row order.
    Program_State s;
    ASSERT_TRUE(Add_Signatures(s, {u"Installation|T1|\\Tool|First", u"Installation|T2|\\Other|No",
                                   u"Installation|T3|\\Tool|Second"}));
    s.g_UsnJrnl_Info_Array.push_back(
        Usn_Event(8).Path(u"\\Program Files\\Tool").Attributes(u"Directory").Reasons({u"File_Created"}));
    Run_UsnJrnl_Record_Rules(s);
    EXPECT_EQ(Installations(s), (Strings{"8|First (T1) has been installed.", "8|Second (T3) has been installed."}));
}

// A prefetch file written when a listed program ran; the finding keeps the
// record's index for the timestamp rules.
TEST(UsnJrnl_Record_Rules, ExecutionOfAListedProgram) {
    struct Case {
        const char* what;
        const char16_t* name;
        std::vector<std::u16string_view> reasons;
        std::vector<std::u16string_view> signatures;
        Strings found;
    };
    const std::u16string_view same = u"Execution|Wiping|Same|PROG|Prog";
    const std::vector<Case> cases = {
        {"created and closed", u"PROG.EXE-0A1B2C3D.pf", {u"File_Created", u"File_Closed"}, {same},
         {"16|Prog (Wiping) has been executed."}},
        {"truncated and closed, two rows", u"PROG.EXE-0A1B2C3D.pf", {u"Data_Truncated", u"File_Closed"},
         {same, u"Execution|T|Include|RO|Other"},
         {"16|Prog (Wiping) has been executed.", "16|Other (T) has been executed."}},
        {"not closed", u"PROG.EXE-0A1B2C3D.pf", {u"File_Created"}, {same}, {}},
        {"closed only", u"PROG.EXE-0A1B2C3D.pf", {u"Data_Extend", u"File_Closed"}, {same}, {}},
        {".pf also earlier", u"PROG.EXE-0.pf.pf", {u"File_Created", u"File_Closed"}, {same}, {}},
        {"no .EX", u"PROG-0A1B2C3D.pf", {u"File_Created", u"File_Closed"}, {u"Execution|T|Include|PROG|P"}, {}},
        {"Same needs the whole key", u"PROG.EXE-0A1B2C3D.pf", {u"File_Created", u"File_Closed"},
         {u"Execution|T|Same|PRO|P"}, {}},
        {"unknown match word", u"PROG.EXE-0A1B2C3D.pf", {u"File_Created", u"File_Closed"},
         {u"Execution|T|same|PROG|P"}, {}},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const auto text : c.signatures) ASSERT_TRUE(Add_Signatures(s, {text})) << c.what;
        Fill(s, {At(0, u"2020-08-02 10:00:00"), At(8, u"2020-08-02 10:00:00"),
                 Usn_Event(16).Time(u"2020-08-02 10:00:01").Name(c.name).Path(u"\\Windows\\Prefetch\\x")
                     .Reasons(c.reasons)});
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Executions(s), c.found) << c.what;
        for (const auto& overview : s.g_Detection_Overview_Array)
            for (const auto& d : overview->Details) {
                EXPECT_EQ(d->RecordIndex, 2u) << c.what;
                EXPECT_EQ(d->EventTime, u"2020-08-02 10:00:01") << c.what;
            }
    }
}

// A deletion right after the file was renamed in place at least twice.
TEST(UsnJrnl_Record_Rules, WipingByRepeatedRenames) {
    const auto rename = [](std::uint64_t usn) {
        return Usn_Event(usn).Name(u"AAAA.AAA").Path(u"\\Users\\Me\\AAAA.AAA").Reasons({u"File_Renamed_Old"})
            .File_Reference(0x2A).Parent_Reference(0x40);
    };
    const auto filler = [](std::uint64_t usn) { return Usn_Event(usn).Name(u"b").Path(u"\\b").Reasons({u"Data_Extend"}); };
    const auto deletion = [](std::uint64_t usn, const char16_t* path) {
        return Usn_Event(usn).Name(u"ZZZZ.ZZZ").Path(path).Reasons({u"File_Deleted", u"File_Closed"})
            .File_Reference(0x2A).Parent_Reference(0x40);
    };
    // Renames at the given record indices, then the deletion at `at`.
    const auto journal = [&](std::vector<std::size_t> renames, std::size_t at, const char16_t* path,
                             Usn_Event (*change)(Usn_Event)) {
        std::vector<Usn_Event> records;
        for (std::size_t k = 0; k < at; ++k) {
            bool is_rename = false;
            for (const std::size_t r : renames) is_rename = is_rename || r == k;
            records.push_back(is_rename ? change(rename(8 * k)) : filler(8 * k));
        }
        records.push_back(deletion(8 * at, path));
        return records;
    };
    const auto same = [](Usn_Event e) { return e; };
    const char16_t* home = u"\\Users\\Me\\ZZZZ.ZZZ";
    struct Case {
        const char* what;
        std::vector<Usn_Event> records;
        bool found;
    };
    const std::vector<Case> cases = {
        {"two renames", journal({3, 4}, 5, home, same), true},
        {"one rename", journal({4}, 5, home, same), false},
        {"the other one 50 back", journal({1, 50}, 51, home, same), true},
        {"the other one 51 back", journal({0, 50}, 51, home, same), false},
        {"under \\Windows\\", journal({3, 4}, 5, u"\\Windows\\Temp\\ZZZZ.ZZZ", same), false},
        {"under \\ProgramData\\", journal({3, 4}, 5, u"\\ProgramData\\ZZZZ.ZZZ", same), false},
        {"no path", journal({3, 4}, 5, u"", same), false},
        {"renames under another parent", journal({3, 4}, 5, home, [](Usn_Event e) { return e.Parent_Reference(0x41); }),
         false},
        {"renames of another file", journal({3, 4}, 5, home, [](Usn_Event e) { return e.File_Reference(0x2B); }),
         false},
        {"the rename text is compared whole", journal({3, 4}, 5, home,
                                                      [](Usn_Event e) {
                                                          return e.Reasons({u"File_Renamed_Old", u"File_Closed"});
                                                      }),
         false},
    };
    for (const Case& c : cases) {
        Program_State s;
        Fill(s, c.records);
        Run_UsnJrnl_Record_Rules(s);
        const std::string at = std::to_string(8 * (c.records.size() - 1));
        EXPECT_EQ(Traces(s), c.found ? Strings{at + "|The Trace of Typical Data Wiping : Deletion after renaming more "
                                                    "than 2 times"}
                                     : Strings{})
            << c.what;
    }

    // At record 0 there is nothing to count, and the record goes on: here it
    // is also a deleted document.
    Program_State s;
    Fill(s, {Usn_Event(0).Name(u"Plan.docx").Path(u"\\Users\\Me\\Plan.docx").Reasons({u"File_Deleted"})});
    Run_UsnJrnl_Record_Rules(s);
    EXPECT_EQ(Traces(s), Strings{});
    EXPECT_EQ(Deletions(s), Strings{"0|\"Plan.docx\" has been deleted."});
}

// A file created or renamed to a name that a listed program makes.
TEST(UsnJrnl_Record_Rules, TraceOfAListedProgram) {
    struct Case {
        const char* what;
        std::vector<std::u16string_view> reasons;
        const char16_t* name;
        std::vector<std::u16string_view> signatures;
        Strings found;
    };
    const std::vector<Case> cases = {
        {"created", {u"File_Created"}, u"sdelete.exe", {u"Trace|Wiping|Creation|Same|sdelete.exe|SDelete"},
         {"8|SDelete (Wiping)'s trace has been remained."}},
        {"renamed", {u"File_Renamed_New"}, u"ZZZZ.ZZZ", {u"Trace|Wiping|Rename|Include|ZZ.ZZZ|SDelete"},
         {"8|SDelete (Wiping)'s trace has been remained."}},
        {"the reason text is compared whole", {u"File_Created", u"File_Closed"}, u"sdelete.exe",
         {u"Trace|Wiping|Creation|Same|sdelete.exe|SDelete"}, {}},
        {"a rename row does not take a creation", {u"File_Created"}, u"sdelete.exe",
         {u"Trace|Wiping|Rename|Same|sdelete.exe|SDelete"}, {}},
        {"other operation words match nothing", {u"File_Created"}, u"sdelete.exe",
         {u"Trace|Wiping|File_Created|Same|sdelete.exe|A"}, {}},
        {"the first matching row wins", {u"File_Created"}, u"sdelete64.exe",
         {u"Trace|T0|Rename|Include|sdelete|Renamer", u"Trace|T1|Creation|Include|sdelete|First",
          u"Trace|T2|Creation|Same|sdelete64.exe|Second"},
         {"8|First (T1)'s trace has been remained."}},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const auto text : c.signatures) ASSERT_TRUE(Add_Signatures(s, {text})) << c.what;
        Fill(s, {Usn_Event(8).Name(c.name).Path(u"\\Users\\x").Reasons(c.reasons)});
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Traces(s), c.found) << c.what;
    }
}

// Windows 10 on tiered storage adds "Desired_Storage_Class_Change" to the
// reasons of a record: the rules that compare a whole Event text judge such a
// record as they judge it without the word; a further reason still counts.
TEST(UsnJrnl_Record_Rules, StorageClassWordInAWholeEventText) {
    constexpr std::u16string_view Storage = u"Desired_Storage_Class_Change";
    struct Case {
        const char* what;
        std::vector<std::u16string_view> reasons;
        bool found;
    };
    const std::vector<Case> installation = {
        {"created", {u"File_Created", Storage}, true},
        {"created and closed", {u"File_Created", Storage, u"File_Closed"}, false},
    };
    for (const Case& c : installation) {
        Program_State s;
        ASSERT_TRUE(Add_Signatures(s, {u"Installation|Data Wiping|\\Eraser|Eraser"}));
        Fill(s, {Usn_Event(64).Name(u"Eraser").Path(u"\\Program Files\\Eraser").Attributes(u"Directory")
                     .Reasons(c.reasons)});
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Installations(s), c.found ? Strings{"64|Eraser (Data Wiping) has been installed."} : Strings{})
            << "installation: " << c.what;
    }

    const std::vector<Case> trace = {
        {"created", {u"File_Created", Storage}, true},
        {"renamed", {u"File_Renamed_New", Storage}, true},
        {"created and closed", {u"File_Created", Storage, u"File_Closed"}, false},
    };
    for (const Case& c : trace) {
        Program_State s;
        ASSERT_TRUE(Add_Signatures(s, {u"Trace|Wiping|Creation|Same|sdelete.exe|SDelete",
                                       u"Trace|Wiping|Rename|Same|sdelete.exe|SDelete"}));
        Fill(s, {Usn_Event(8).Name(u"sdelete.exe").Path(u"\\Users\\x").Reasons(c.reasons)});
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Traces(s), c.found ? Strings{"8|SDelete (Wiping)'s trace has been remained."} : Strings{})
            << "trace: " << c.what;
    }

    const std::vector<Case> wiping = {
        {"renamed", {u"File_Renamed_Old", Storage}, true},
        {"renamed and closed", {u"File_Renamed_Old", Storage, u"File_Closed"}, false},
    };
    for (const Case& c : wiping) {
        Program_State s;
        std::vector<Usn_Event> records;
        for (const std::uint64_t usn : {0ull, 8ull})
            records.push_back(Usn_Event(usn).Name(u"AAAA.AAA").Path(u"\\Users\\Me\\AAAA.AAA").Reasons(c.reasons)
                                  .File_Reference(0x2A).Parent_Reference(0x40));
        records.push_back(Usn_Event(16).Name(u"ZZZZ.ZZZ").Path(u"\\Users\\Me\\ZZZZ.ZZZ")
                              .Reasons({u"File_Deleted", u"File_Closed"}).File_Reference(0x2A).Parent_Reference(0x40));
        Fill(s, records);
        Run_UsnJrnl_Record_Rules(s);
        EXPECT_EQ(Traces(s), c.found ? Strings{"16|The Trace of Typical Data Wiping : Deletion after renaming more than "
                                               "2 times"}
                                     : Strings{})
            << "wiping: " << c.what;
    }
}

// Deletion of a user's document, less what programs make and remove. Every
// deletion, document or not, enters the lifecycle maps.
TEST(UsnJrnl_Record_Rules, DeletionOfDocumentFile) {
    struct Case {
        const char16_t* name;
        const char16_t* path;
        bool found;
    };
    const Case cases[] = {
        {u"Report.DOCX", u"\\Users\\Me\\Documents\\Report.DOCX", true},
        {u"memo.hwpx", u"\\memo.hwpx", true},
        {u"memo.Pdf", u"\\memo.Pdf", true},
        // Windows' own folder is no program folder for documents.
        {u"memo.xls", u"\\Windows\\Temp\\memo.xls", true},
        {u"notes.txt", u"\\Users\\Me\\notes.txt", false},
        {u"README", u"\\Users\\Me\\README", false},
        {u"report.", u"\\Users\\Me\\report.", false},
        {u"r.docx", u"\\Users\\Me\\AppData\\Roaming\\Microsoft\\r.docx", false},
        {u"r.docx", u"\\ProgramData\\Tool\\r.docx", false},
        {u"r.docx", u"\\Users\\Me\\AppData\\Local\\r.docx", false},
        {u"r.docx", u"\\Users\\Me\\AppData\\LocalLow\\r.docx", false},
        {u"r.docx", u"\\Program Files\\Tool\\r.docx", false},
        {u"r.docx", u"\\Program Files (x86)\\Tool\\r.docx", false},
        {u"r.docx", u"\\programdata\\Tool\\r.docx", true},
        {u"~$Report.docx", u"\\Users\\Me\\~$Report.docx", false},
        {u"&_x.doc", u"\\Users\\Me\\&_x.doc", false},
        {u"(neme).doc", u"\\Users\\Me\\(neme).doc", false},
        {u"a%20b.pdf", u"\\Users\\Me\\a%20b.pdf", false},
        {u"Doc (Unsaved-1).docx", u"\\Users\\Me\\Doc (Unsaved-1).docx", false},
        {u"Doc (AutoRecovered-1).docx", u"\\Users\\Me\\Doc (AutoRecovered-1).docx", false},
        {u"a1b2.pdf", u"\\Users\\Me\\a1b2.pdf", false},
        {u".pdf", u"\\Users\\Me\\.pdf", false},
        {u"Empty.pdf", u"\\Users\\Me\\Empty.pdf", false},
    };
    for (const Case& c : cases) {
        Program_State s;
        Fill(s, {Usn_Event(8).Name(c.name).Path(c.path).Reasons({u"File_Deleted", u"File_Closed"}).Parent_Reference(0x40)});
        Detection_Context context(s);
        Detect_UsnJrnl_Record_Rules(context);
        EXPECT_EQ(Deletions(s), c.found ? Strings{"8|\"" + platform::Utf16_To_Utf8(c.name) + "\" has been deleted."}
                                        : Strings{})
            << platform::Utf16_To_Utf8(c.path);
        EXPECT_FALSE(context.g_File_Deleted_Map.Find(c.name, u"0x0000000000000040").empty())
            << platform::Utf16_To_Utf8(c.path);
    }
}

// The four lifecycle maps: a record enters every map whose reason it holds.
TEST(UsnJrnl_Record_Rules, LifecycleMaps) {
    Program_State s;
    Fill(s, {
                Usn_Event(0).Name(u"a.txt").Reasons({u"File_Created"}).File_Reference(0x2A).Parent_Reference(0x40),
                // A second creation under the same reference is never the one found.
                Usn_Event(8).Name(u"a.txt").Reasons({u"File_Created", u"File_Closed"}).File_Reference(0x2A)
                    .Parent_Reference(0x40),
                Usn_Event(16).Name(u"b.txt").Reasons({u"File_Renamed_New"}).File_Reference(0x2A).Parent_Reference(0x40),
                Usn_Event(24).Name(u"b.txt").Reasons({u"File_Renamed_Old"}).File_Reference(0x2A).Parent_Reference(0x40),
                Usn_Event(32).Name(u"c.txt").Reasons({u"File_Renamed_New", u"File_Closed"}).File_Reference(0x2A)
                    .Parent_Reference(0x41),
                Usn_Event(40).Name(u"c.txt").Reasons({u"File_Deleted"}).File_Reference(0x2A).Parent_Reference(0x41),
                Usn_Event(48).Name(u"c.txt").Reasons({u"File_Deleted", u"File_Closed"}).File_Reference(0x2B)
                    .Parent_Reference(0x41),
                Usn_Event(56).Name(u"c.txt").Reasons({u"File_Deleted"}).File_Reference(0x2C).Parent_Reference(0x42),
                // One record of every kind at once.
                Usn_Event(64).Name(u"d.txt")
                    .Reasons({u"File_Created", u"File_Deleted", u"File_Renamed_Old", u"File_Renamed_New"})
                    .File_Reference(0x2D).Parent_Reference(0x40),
            });
    Detection_Context context(s);
    Detect_UsnJrnl_Record_Rules(context);

    using Indices = std::vector<Record_Index>;
    // The maps are by file number: the number of a record with the reference.
    const auto number_of = [&](std::uint64_t ref) {
        const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
        for (std::size_t i = 0; i < facts.size(); ++i)
            if (platform::Read_Hexadecimal(s.g_UsnJrnl_Info_Array.Field(i, Usn_Field::FileReferenceNumber)) == ref)
                return facts.File_Number(i);
        ADD_FAILURE() << "no record of " << ref;
        return std::uint32_t{0};
    };
    const auto created = [&](std::uint64_t ref) {
        const std::uint32_t first = context.g_File_Created_Map.Of(number_of(ref));
        return first == 0 ? Indices{} : Indices{first - 1};
    };
    const auto renamed_new = [&](std::uint64_t ref) { return context.g_File_Renamed_New_Map.Find(number_of(ref)).To_Vector(); };
    const auto in = [](const UsnJrnl_Name_Parent_Map& map, std::u16string_view name, std::u16string_view parent) {
        return map.Find(name, parent);
    };
    EXPECT_EQ(created(0x2A), Indices{0});
    EXPECT_EQ(created(0x2D), Indices{8});
    EXPECT_EQ(created(0x2B), Indices{});
    EXPECT_EQ(renamed_new(0x2A), (Indices{2, 4}));
    EXPECT_EQ(renamed_new(0x2D), Indices{8});
    EXPECT_EQ(in(context.g_File_Deleted_Map, u"c.txt", u"0x0000000000000041"), (Indices{5, 6}));
    EXPECT_EQ(in(context.g_File_Deleted_Map, u"c.txt", u"0x0000000000000042"), Indices{7});
    EXPECT_EQ(in(context.g_File_Deleted_Map, u"c.txt", u"0x0000000000000040"), Indices{});
    EXPECT_EQ(in(context.g_File_Deleted_Map, u"d.txt", u"0x0000000000000040"), Indices{8});
    EXPECT_EQ(in(context.g_File_Renamed_Old_Map, u"b.txt", u"0x0000000000000040"), Indices{3});
    EXPECT_EQ(in(context.g_File_Renamed_Old_Map, u"d.txt", u"0x0000000000000040"), Indices{8});
    EXPECT_EQ(context.g_File_Deleted_Map.size(), 3u);

    // A second run of the pass starts from empty maps.
    Detect_UsnJrnl_Record_Rules(context);
    EXPECT_EQ(renamed_new(0x2A), (Indices{2, 4}));
}

// Journal texts of any shape and an $MFT whose directories list each other:
// the whole $UsnJrnl half runs to its end.
TEST(UsnJrnl_Record_Rules, TextsOfAnyShapeAndAnMftCycle) {
    Program_State s;
    ASSERT_TRUE(Add_Signatures(
        s, {u"ProgramUpdatePath|\\|Same|0", u"ProgramUpdatePath|\\|Include|1", u"ProgramUpdatePath|x|Include|x",
            u"ProgramUpdatePath|\\|Include|18446744073709551615", u"Installation|T|\\|P", u"Installation|T|\\Tool|P",
            u"Execution|T|Include|.|P", u"Execution|T|Same|.|P", u"Trace|T|Creation|Include|.|P",
            u"Trace|T|Rename|Same|x|P", u"KeyTempPath|\\|Include"}));
    // \A (40) and \A\B (41), each listed under the other.
    Mft_Entries mft;
    mft.Root()
        .Directory(40, 1, Mft_Reference(41, 1), u"A")
        .Directory(41, 1, Mft_Reference(40, 1), u"B")
        .File(42, 1, Mft_Reference(41, 1), u"f");
    mft.Install(s.g_Parsing_Context);

    const std::vector<std::u16string> texts = {u"",      u"\\",    u"\\\\",  u"x",         u"\\A",
                                               u"\\A\\", u".pf",   u".EX.pf", u"garbage",  u"0x",
                                               u"-1",    u"\\A\\B", u"\\A\\B\\f", std::u16string(u"a\0b", 3),
                                               u"SYSTEMSETTINGSADMINFLOWS.EXE.pf", u"2020-13-45 25:61:61",
                                               u"0x0001000000000029", u"0x0001000000000028"};
    const std::vector<std::u16string> reasons = {u"",
                                                 u"File_Created",
                                                 u"File_Deleted",
                                                 u"File_Renamed_Old",
                                                 u"File_Created , File_Closed , File_Deleted , File_Renamed_New",
                                                 u"Basic_Info_Changed , File_Closed",
                                                 u" , , "};
    const std::vector<std::u16string> times = {u"", u"garbage", u"2020-08-02 10:00:00", u"1601-01-01 00:00:00",
                                               u"9999-12-31 23:59:59", u"2020-02-30 10:00:00", u"0000-00-00 00:00:00"};
    std::size_t k = 0;
    for (const std::u16string& a : texts) {
        for (const std::u16string& b : texts) {
            _USNJRNLINFO r;
            r.USN = a;
            r.TimeStamp = times[k % times.size()];
            r.FileName = b;
            r.FullPath = (k % 3 == 0 ? a + u"\\" : a) + b;
            r.Event = reasons[k % reasons.size()];
            r.FileAttr = k % 2 == 0 ? u"Directory" : a;
            r.CarvingFlag = k % 5 == 0 ? u"Y" : b;
            r.FileReferenceNumber = k % 4 == 0 ? u"0x0001000000000029" : a;
            r.ParentFileReferenceNumber = k % 4 == 1 ? u"0x0001000000000028" : b;
            s.g_UsnJrnl_Info_Array.push_back(r);
            ++k;
        }
    }
    Detection_Context context(s);
    Run_UsnJrnl_Periods(context);
    // Some folder count went round the cycle.
    std::uint64_t most_directories = 0;
    for (const auto& group : context.Program_Update_Period_Group_Array)
        for (const auto& period : group->Periods)
            most_directories = std::max(most_directories, period->FolderDirectoryCount);
    EXPECT_EQ(most_directories, 2u);

    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        Detect_Suspicious_Behavior(s);
    }
    EXPECT_EQ(console.str(), "\r\nDetecting Suspicious Behavior in $LogFile...[Done]"
                             "\r\nDetecting Suspicious Behavior in $UsnJrnl...[Done]");
}
