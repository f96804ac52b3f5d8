#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/Detection_Test_Support.h"
#include "platform/console.h"
#include "support/Detection_Builders.h"

using namespace test_support;

namespace {

std::vector<std::string> Executions(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Execution, Finding_Source::LogFile);
}
std::vector<std::string> Traces(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Traces, Finding_Source::LogFile);
}
std::vector<std::string> Deletions(const Program_State& s) {
    return Findings_Of(s, Finding_Category::Document_Deletion, Finding_Source::LogFile);
}

using Strings = std::vector<std::string>;

}  // namespace

// Rule 1: a created or modified prefetch file names the program that ran.
TEST(LogFile_Event_Rules, ExecutionOfAListedProgram) {
    struct Case {
        const char* what;
        const char16_t* event;
        const char16_t* name;
        std::vector<std::u16string_view> signatures;
        Strings found;
    };
    const std::u16string_view prog_same = u"Execution|Wiping|Same|PROG|Prog";
    const std::vector<Case> cases = {
        {"created prefetch file", u"File Creation", u"PROG.EXE-1A2B3C4D.pf", {prog_same}, {"100|Prog (Wiping) has been executed."}},
        {"every matching row reports, in row order", u"File Creation", u"PROG.EXE-1A2B3C4D.pf",
         {u"Execution|T1|Include|RO|First", u"Execution|T2|Same|NOTEPAD|Other", prog_same},
         {"100|First (T1) has been executed.", "100|Prog (Wiping) has been executed."}},
        {"Same needs the whole key", u"File Creation", u"PROG.EXE-1A2B3C4D.pf", {u"Execution|T|Same|PRO|P"}, {}},
        {"Include finds it inside", u"File Creation", u"MYPROG64.EXE-00000000.pf", {u"Execution|T|Include|PROG|P"},
         {"100|P (T) has been executed."}},
        {"match words are case-sensitive", u"File Creation", u"PROG.EXE-1A2B3C4D.pf", {u"Execution|T|same|PROG|P"}, {}},
        {"patterns are case-sensitive", u"File Creation", u"PROG.EXE-1A2B3C4D.pf", {u"Execution|T|Same|prog|P"}, {}},
        {"modified", u"Updating Modified Time", u"PROG.EXE-1A2B3C4D.pf", {prog_same}, {"100|Prog (Wiping) has been executed."}},
        {"modified with an attribute change", u"Updating Modified Time & Changing FileAttribute",
         u"PROG.EXE-1A2B3C4D.pf", {prog_same}, {"100|Prog (Wiping) has been executed."}},
        {"tunnelled creation is not a creation", u"File Creation(File System Tunneling)", u"PROG.EXE-1A2B3C4D.pf",
         {prog_same}, {}},
        {"deletion", u"File Deletion", u"PROG.EXE-1A2B3C4D.pf", {prog_same}, {}},
        {"no .EX in the name", u"File Creation", u"PROG-1A2B3C4D.pf", {u"Execution|T|Include|PROG|P"}, {}},
        {".pf also earlier in the name", u"File Creation", u"PROG.EXE-1.pf.pf", {u"Execution|T|Include|PROG|P"}, {}},
        {".PF is not .pf", u"File Creation", u"PROG.EXE-1A2B3C4D.PF", {prog_same}, {}},
        {"not at the end", u"File Creation", u"PROG.EXE-1A2B3C4D.pf.tmp", {prog_same}, {}},
        {"guessed name: the mark is cut before the prefetch test", u"File Creation",
         u"PROG.EXE-1A2B3C4D.pf <Guessed>", {prog_same}, {"100|Prog (Wiping) has been executed."}},
        {"format characters in a row are text", u"File Creation", u"PROG.EXE-1A2B3C4D.pf",
         {u"Execution|%d%n|Same|PROG|%s%s"}, {"100|%s%s (%d%n) has been executed."}},
        {"quotes and letters beyond ASCII are kept", u"File Creation", u"\u00C9DIT \"X\".EXE-1A2B3C4D.pf",
         {u"Execution|\"Q\"|Same|\u00C9DIT \"X\"|\u00C9t\u00E9"}, {"100|\u00C9t\u00E9 (\"Q\") has been executed."}},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const auto text : c.signatures) ASSERT_TRUE(Add_Signatures(s, {text})) << c.what;
        s.g_Log_Info_Array.push_back(Log_Event(100).Event(c.event).Name(c.name).Path(u"\\Windows\\Prefetch\\x"));
        Run_LogFile_Event_Rules(s);
        EXPECT_EQ(Executions(s), c.found) << c.what;
    }
}

// Rule 2: a file created or renamed to a name that a listed program makes.
TEST(LogFile_Event_Rules, TraceOfAListedProgram) {
    struct Case {
        const char* what;
        const char16_t* event;
        const char16_t* name;
        std::vector<std::u16string_view> signatures;
        Strings found;
    };
    const std::vector<Case> cases = {
        {"created", u"File Creation", u"sdelete.exe", {u"Trace|Wiping|Creation|Same|sdelete.exe|SDelete"},
         {"7|SDelete (Wiping)'s trace has been remained."}},
        {"renamed", u"Renaming File", u"AAAA.ZZZ", {u"Trace|Wiping|Rename|Include|A.ZZ|SDelete"},
         {"7|SDelete (Wiping)'s trace has been remained."}},
        {"a creation row does not take a rename", u"Renaming File", u"sdelete.exe",
         {u"Trace|Wiping|Creation|Same|sdelete.exe|SDelete"}, {}},
        {"a rename row does not take a creation", u"File Creation", u"sdelete.exe",
         {u"Trace|Wiping|Rename|Same|sdelete.exe|SDelete"}, {}},
        {"other operation words match nothing", u"File Creation", u"sdelete.exe",
         {u"Trace|Wiping|File Creation|Same|sdelete.exe|A", u"Trace|Wiping|creation|Same|sdelete.exe|B"}, {}},
        {"the first matching row wins", u"File Creation", u"sdelete64.exe",
         {u"Trace|T0|Rename|Include|sdelete|Renamer", u"Trace|T1|Creation|Same|sdelete.exe|Exact",
          u"Trace|T2|Creation|Include|sdelete|First", u"Trace|T3|Creation|Same|sdelete64.exe|Second"},
         {"7|First (T2)'s trace has been remained."}},
        {"Same is the whole name", u"File Creation", u"sdelete.exe.bak", {u"Trace|T|Creation|Same|sdelete.exe|P"}, {}},
        {"unknown match word", u"File Creation", u"sdelete.exe", {u"Trace|T|Creation|Equals|sdelete.exe|P"}, {}},
        {"tunnelled creation", u"File Creation(File System Tunneling)", u"sdelete.exe",
         {u"Trace|T|Creation|Same|sdelete.exe|P"}, {}},
        {"other events", u"File Deletion", u"sdelete.exe", {u"Trace|T|Creation|Same|sdelete.exe|P"}, {}},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const auto text : c.signatures) ASSERT_TRUE(Add_Signatures(s, {text})) << c.what;
        s.g_Log_Info_Array.push_back(Log_Event(7).Event(c.event).Name(c.name).Path(u"\\Users\\x"));
        Run_LogFile_Event_Rules(s);
        EXPECT_EQ(Traces(s), c.found) << c.what;
    }
}

// Rule 3: a deletion with an abnormal timestamp, of a file that was renamed and
// had a time set back shortly before.
TEST(LogFile_Event_Rules, TraceOfTypicalDataWiping) {
    constexpr std::uint64_t D = 0x100000;  // LSN of the deletion under test
    const auto same = [](std::uint64_t lsn, const char16_t* event) {
        return Log_Event(lsn).Event(event).Name(u"a.txt").File(0xD, 2);
    };
    const auto other = [](std::uint64_t lsn, const char16_t* event) {
        return Log_Event(lsn).Event(event).Name(u"b.txt").File(0xD, 4);
    };
    const auto deletion = [](std::uint64_t lsn) {
        return Log_Event(lsn).Event(u"File Deletion").Detail(u"(Abnormal Timestamp)").Name(u"a.txt").File(0xD, 2);
    };
    struct Case {
        const char* what;
        std::vector<Log_Event> before;  // in LSN order, before the deletion
        bool found;
    };
    const std::vector<Case> cases = {
        {"rename and reversal", {same(D - 0x300, u"Time Reversal Event"), same(D - 0x100, u"Renaming File")}, true},
        {"texts are held, not equal",
         {same(D - 0x300, u"CreationTime Update Event & Time Reversal Event"),
          same(D - 0x100, u"Renaming File(Move)")},
         true},
        {"rename only", {same(D - 0x100, u"Renaming File")}, false},
        {"reversal only", {same(D - 0x100, u"Time Reversal Event")}, false},
        {"the reversal of another file", {other(D - 0x300, u"Time Reversal Event"), same(D - 0x100, u"Renaming File")},
         false},
        {"same VCN, other cluster index, is another file",
         {Log_Event(D - 0x300).Event(u"Time Reversal Event").File(0xD, 20), same(D - 0x100, u"Renaming File")}, false},
        {"exactly 0x2000 below still inside",
         {same(D - 0x2000, u"Time Reversal Event"), same(D - 0x100, u"Renaming File")}, true},
        {"an event exactly 0x2000 below does not end the walk",
         {same(D - 0x2001, u"Time Reversal Event"), other(D - 0x2000, u"Writing Content of Resident File"),
          same(D - 0x100, u"Renaming File")},
         true},
        {"the first event beyond the window still counts",
         {same(D - 0x2001, u"Time Reversal Event"), same(D - 0x100, u"Renaming File")}, true},
        {"the second event beyond the window does not",
         {same(D - 0x2002, u"Time Reversal Event"), other(D - 0x2001, u"Writing Content of Resident File"),
          same(D - 0x100, u"Renaming File")},
         false},
        {"an earlier deletion of the same file ends the walk",
         {same(D - 0x300, u"Renaming File"), same(D - 0x200, u"File Deletion"),
          same(D - 0x100, u"Time Reversal Event")},
         false},
        {"an earlier deletion of another file does not",
         {same(D - 0x300, u"Renaming File"), other(D - 0x200, u"File Deletion"),
          same(D - 0x100, u"Time Reversal Event")},
         true},
        {"check points in between do not matter",
         {same(D - 0x300, u"Renaming File"), Check_Point(D - 0x280), Check_Point(D - 0x200), Check_Point(D - 0x180),
          same(D - 0x100, u"Time Reversal Event")},
         true},
    };
    for (const Case& c : cases) {
        Program_State s;
        for (const Log_Event& e : c.before) s.g_Log_Info_Array.push_back(e);
        s.g_Log_Info_Array.push_back(deletion(D));
        Run_LogFile_Event_Rules(s);
        const Strings expected = c.found ? Strings{std::to_string(D) +
                                                   "|The Trace of Typical Data Wiping : Deletion after Renaming and "
                                                   "Timestamp Manipulation"}
                                         : Strings{};
        EXPECT_EQ(Traces(s), expected) << c.what;
    }

    // What qualifies the deletion itself.
    struct Deletion_Case {
        const char16_t* event;
        const char16_t* detail;
        bool found;
    };
    const Deletion_Case deletions[] = {
        {u"File Deletion", u"(Abnormal Timestamp)", true},
        {u"Directory Deletion", u"(Abnormal Timestamp)", false},
        {u"File Deletion", u"", false},
        {u"File Deletion", u"(abnormal timestamp)", false},
        {u"File Deletion(Move)", u"CreationTime : x (Abnormal Timestamp) y", true},
    };
    for (const Deletion_Case& c : deletions) {
        Program_State s;
        s.g_Log_Info_Array.push_back(same(D - 0x200, u"Time Reversal Event"));
        s.g_Log_Info_Array.push_back(same(D - 0x100, u"Renaming File"));
        s.g_Log_Info_Array.push_back(Log_Event(D).Event(c.event).Detail(c.detail).Name(u"a.txt").File(0xD, 2));
        Run_LogFile_Event_Rules(s);
        EXPECT_EQ(Traces(s).size(), c.found ? 1u : 0u) << platform::Utf16_To_Utf8(c.event) << " / "
                                                        << platform::Utf16_To_Utf8(c.detail);
    }
}

// Rule 4: deletion of a user's document, less what programs make and remove.
TEST(LogFile_Event_Rules, DeletionOfDocumentFile) {
    struct Case {
        const char16_t* name;
        const char16_t* path;
        bool found;
    };
    const Case cases[] = {
        {u"Report.DOCX", u"\\Users\\Me\\Documents\\Report.DOCX", true},
        {u"memo.doc", u"\\memo.doc", true},
        {u"memo.docx", u"\\memo.docx", true},
        {u"memo.xls", u"\\memo.xls", true},
        {u"memo.xlsx", u"\\memo.xlsx", true},
        {u"memo.ppt", u"\\memo.ppt", true},
        {u"memo.pptx", u"\\memo.pptx", true},
        {u"memo.hwp", u"\\memo.hwp", true},
        {u"memo.hwpx", u"\\memo.hwpx", true},
        {u"memo.Pdf", u"\\memo.Pdf", true},
        {u"memo.txt", u"\\memo.txt", false},
        {u"memo.docm", u"\\memo.docm", false},
        {u"memo.pdf.lnk", u"\\memo.pdf.lnk", false},
        {u"a.b.pdf", u"\\a.b.pdf", true},  // the last dot decides
        // Program folders, case-sensitive.
        {u"r.docx", u"\\Users\\Me\\AppData\\Local\\r.docx", false},
        {u"r.docx", u"\\Users\\Me\\AppData\\LocalLow\\r.docx", false},
        {u"r.docx", u"\\Users\\Me\\AppData\\Roaming\\Microsoft\\r.docx", false},
        {u"r.docx", u"\\Program Files (x86)\\Tool\\r.docx", false},
        {u"r.docx", u"\\Program Files\\Tool\\r.docx", false},
        {u"r.docx", u"\\ProgramData\\Tool\\r.docx", false},
        {u"r.docx", u"\\Users\\Me\\appdata\\local\\r.docx", true},
        {u"r.docx", u"\\Windows\\Temp\\r.docx", true},
        {u"r.docx", u"", true},
        // Names that programs give their own files.
        {u"~$Report.docx", u"\\Users\\Me\\~$Report.docx", false},
        {u"~WRL0001.tmp.doc", u"\\x", false},
        {u"&_a.xlsx", u"\\x", false},
        {u"(neme)a.pdf", u"\\x", false},
        {u"(Neme)a.pdf", u"\\x", true},  // the name starts are compared case-sensitively
        {u"a~b.docx", u"\\x", true},
        {u"My%20Report.pdf", u"\\x", false},
        {u"Report (Unsaved-309).docx", u"\\x", false},
        {u"Report (AutoRecovered-12).docx", u"\\x", false},
        {u"3f2a9c.docx", u"\\x", false},
        {u"3F2A9C.DOCX", u"\\x", false},  // hexadecimal once lowered
        {u"3f2a9g.docx", u"\\x", true},
        {u"0.pdf", u"\\x", false},
        {u"empty.pdf", u"\\x", false},
        {u"EMPTY.PDF", u"\\x", false},
        {u"empty1.pdf", u"\\x", true},
        {u".docx", u"\\x", false},
        {u"report", u"\\x", false},
        {u"report.", u"\\x", false},
        {u"", u"\\x", false},
        {u"\u00C9t\u00C9.PDF", u"\\x", true},  // non-ASCII letters are kept as they are
    };
    for (const Case& c : cases) {
        Program_State s;
        s.g_Log_Info_Array.push_back(Log_Event(55).Event(u"File Deletion").Name(c.name).Path(c.path));
        Run_LogFile_Event_Rules(s);
        const Strings expected =
            c.found ? Strings{"55|\"" + platform::Utf16_To_Utf8(c.name) + "\" has been deleted."} : Strings{};
        EXPECT_EQ(Deletions(s), expected) << platform::Utf16_To_Utf8(c.name) << " in "
                                          << platform::Utf16_To_Utf8(c.path);
    }

    // Only a plain deletion qualifies.
    for (const char16_t* event : {u"File Deletion(Move)", u"Directory Deletion", u"File Creation"}) {
        Program_State s;
        s.g_Log_Info_Array.push_back(Log_Event(55).Event(event).Name(u"Report.docx").Path(u"\\Report.docx"));
        Run_LogFile_Event_Rules(s);
        EXPECT_EQ(Deletions(s), Strings{}) << platform::Utf16_To_Utf8(event);
    }
}

// Each event goes through every rule before the next event, so findings of
// one category keep the order of their events and the overviews the order in
// which each category was first found.
TEST(LogFile_Event_Rules, FindingsInEventOrder) {
    Program_State s;
    ASSERT_TRUE(Add_Signatures(s, {u"Execution|Wiping|Same|SDELETE|SDelete",
                                   u"Trace|Wiping|Creation|Include|SDELETE|SDelete"}));
    s.g_Log_Info_Array = Log_Rows({
        Log_Event(10).Event(u"File Deletion").Name(u"plan.pdf").Path(u"\\plan.pdf"),
        Log_Event(20).Event(u"File Creation").Name(u"SDELETE.EXE-2C5A1D3B.pf").Path(u"\\Windows\\Prefetch\\x"),
        Log_Event(30).Event(u"File Deletion").Name(u"notes.docx").Path(u"\\notes.docx"),
        Log_Event(40).Event(u"Updating Modified Time").Name(u"SDELETE.EXE-2C5A1D3B.pf"),
    });
    Run_LogFile_Event_Rules(s);
    EXPECT_EQ(Overviews_Of(s), (Strings{"Deletion of Document File / $LogFile: 2",
                                        "Execution of Suspicious Programs / $LogFile: 2",
                                        "Traces of Suspicious Programs / $LogFile: 1"}));
    EXPECT_EQ(Deletions(s), (Strings{"10|\"plan.pdf\" has been deleted.", "30|\"notes.docx\" has been deleted."}));
    EXPECT_EQ(Executions(s), (Strings{"20|SDelete (Wiping) has been executed.", "40|SDelete (Wiping) has been executed."}));
    EXPECT_EQ(Traces(s), (Strings{"20|SDelete (Wiping)'s trace has been remained."}));
    for (const auto& overview : s.g_Detection_Overview_Array)
        for (const auto& d : overview->Details) {
            EXPECT_EQ(d->Source, u"$LogFile");
            EXPECT_TRUE(d->ToolKind.empty() && d->FullPath.empty() && d->EventTime.empty());
            EXPECT_EQ(d->Valid, 1u);
        }
}

// Texts of any length and shape, and LSNs that are no numbers: the rules
// read them without failing and find only what the texts say.
TEST(LogFile_Event_Rules, AnyEventTexts) {
    Program_State s;
    const std::u16string longest(200000, u'x');
    const std::u16string long_pattern = u"Trace|T|Creation|Include|" + std::u16string(5000, u'x') + u"|Long";
    ASSERT_TRUE(Add_Signatures(s, {u"Execution|T|Include|A|P", long_pattern, u"Trace|T|Creation|Include|x|P",
                                   u"Trace|T|Rename|Include|x|P"}));
    const std::u16string with_nul(u"ab\0c.docx", 9);
    s.g_Log_Info_Array = Log_Rows({
        Log_Event(0).Lsn_Text(u""),
        Log_Event(0).Lsn_Text(u"abc").Event(u"File Creation").Name(u"<Guessed>.pf"),
        Log_Event(0).Lsn_Text(u"99999999999999999999999").Event(u"File Creation").Name(u"pf <Guessed>"),
        Log_Event(0).Lsn_Text(u"-1").Event(u"File Creation").Name(u".pf"),
        Log_Event(1).Event(u"File Creation").Name(longest).Path(longest).Detail(longest),
        Log_Event(2).Event(u"File Deletion").Name(with_nul).Path(with_nul),
        Log_Event(3).Event(u"File Deletion").Detail(u"Abnormal Timestamp"),
        Log_Event(4).Event(longest).Detail(longest).Name(longest),
        Log_Event(5).Event(u"File Deletion").Detail(u"Abnormal Timestamp").Lsn_Text(u"abc"),
    });
    Run_LogFile_Event_Rules(s);
    EXPECT_EQ(Executions(s), Strings{});
    // The created long name holds the long pattern; the NUL-holding name is
    // reported up to its NUL, as every "%s" takes it.
    EXPECT_EQ(Traces(s), Strings{"1|Long (T)'s trace has been remained."});
    EXPECT_EQ(Deletions(s), Strings{"2|\"ab\" has been deleted."});
}

// The detection announces both halves; without events or signatures it finds
// nothing.
TEST(Detect_Suspicious_Behavior, ConsoleLinesOfBothHalves) {
    Program_State s;
    std::ostringstream console, messages;
    {
        platform::Scoped_Output output(console, messages);
        Detect_Suspicious_Behavior(s);
    }
    EXPECT_EQ(console.str(),
              "\r\nDetecting Suspicious Behavior in $LogFile...[Done]\r\nDetecting Suspicious Behavior in $UsnJrnl...[Done]");
    EXPECT_TRUE(s.g_Detection_Overview_Array.empty());
    EXPECT_EQ(messages.str(), "");
}
