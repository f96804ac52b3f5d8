#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/logfile/LogFile_Timestamp_Messages.h"
#include "detection/logfile/Timestamp_Test_Support.h"
#include "output/Time_Text.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

struct Case {
    const char* what;
    std::vector<Log_Event> events;
    Strings findings;
    Strings normal;  // "<full path>|<file name>" of the events recorded as normal
};

void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const Timestamp_Outcome out = Judge(c.events);
        EXPECT_EQ(out.Findings, c.findings) << c.what;
        EXPECT_EQ(out.Normal_Reversals, c.normal) << c.what;
    }
}

const std::u16string Back_60 = Change(u"CreationTime", 0, -60);
const std::string Back_60_Text = "CreationTime : 2020-05-01 10:30:00 -> 2020-05-01 10:29:00";
const Strings Normal_A = {"\\d\\a.txt|a.txt"};

std::string Past(std::uint64_t lsn, const char* kind, const std::string& detail = Back_60_Text) {
    return Line(lsn, "[Suspicious] $SI timestamp of \"a.txt\" is changed to the past. => " + detail, kind, "\\d\\a.txt");
}

std::vector<Log_Event> Old_Log() { return Check_Points(0x100, 3); }
Log_Event Change_At(std::uint64_t lsn, std::u16string_view detail = Back_60) {
    return Of_File(lsn, u"Time Reversal Event").Detail(detail);
}

}  // namespace

// Which branch judges a change: a creation of the file within 25 check points
// (or a log that starts within 2) makes it "created recently", whose
// manipulations are blamed on malware; otherwise on a tool.
TEST(LogFile_Timestamp_Rule, CreatedRecently) {
    const Log_Event created = Of_File(0x1000, u"File Creation");
    const std::vector<Case> cases = {
        {"created 24 check points back", Concat({{created}, Check_Points(0x1100, 24), {Change_At(0x2000)}}),
         {Past(0x2000, "Malware")}, {}},
        {"the 25th check point ends the search",
         Concat({{created}, Check_Points(0x1100, 25), {Change_At(0x2000)}}), {Past(0x2000, "Tool")}, {}},
        {"the first event of the log", {Change_At(0x2000)}, {Past(0x2000, "Malware")}, {}},
        {"the log starts two check points back", Concat({Check_Points(0x100, 2), {Change_At(0x2000)}}),
         {Past(0x2000, "Malware")}, {}},
        {"three check points back", Concat({Check_Points(0x100, 3), {Change_At(0x2000)}}), {Past(0x2000, "Tool")}, {}},
        {"a creation of another file", Concat({Old_Log(), {Of_Other(0x1000, u"File Creation"), Change_At(0x2000)}}),
         {Past(0x2000, "Tool")}, {}},
        {"a tunnelled creation is a creation",
         Concat({Old_Log(), {Of_File(0x1000, u"File Creation(File System Tunneling)"), Change_At(0x2000)}}),
         {Past(0x2000, "Malware")}, {}},
        {"a directory created recently goes to the move sequences only",
         Concat({Old_Log(), {Of_File(0x1000, u"Directory Creation"), Change_At(0x2000)}}), {}, {}},
        {"a recently created file's change that does not name the creation time likewise",
         Concat({Old_Log(), {created, Change_At(0x2000, Change(u"ModifiedTime", 0, -60))}}), {}, {}},
    };
    Check(cases);
}

// Files dragged into a virtual machine keep their source's times.
TEST(LogFile_Timestamp_Rule, VirtualMachineDragAndDropIsNotJudged) {
    const auto at = [](const char16_t* folder) {
        std::vector<Log_Event> events = Old_Log();
        events.push_back(Change_At(0x2000).Path(folder));
        // Deleted later: a judged change would be recorded as normal.
        events.push_back(Of_File(0x3000, u"File Deletion").Path(folder));
        return events;
    };
    const std::vector<Case> cases = {
        {"both folders", at(u"\\Users\\u\\AppData\\Local\\Temp\\VMwareDnD\\1\\a.txt"), {}, {}},
        {"the temporary folder alone", at(u"\\Users\\u\\AppData\\Local\\Temp\\a.txt"), {},
         {"\\Users\\u\\AppData\\Local\\Temp\\a.txt|a.txt"}},
        {"the drag-and-drop folder alone", at(u"\\VMwareDnD\\a.txt"), {}, {"\\VMwareDnD\\a.txt|a.txt"}},
    };
    Check(cases);
}

// Only a time moved back by 20 seconds or more, or a creation time moved
// forward by 120 or more, is a manipulation.
TEST(LogFile_Timestamp_Rule, SignificantChanges) {
    const auto judged = [](const char16_t* event, const std::u16string& detail) {
        return Concat({Old_Log(), {Of_File(0x2000, event).Detail(detail)}});
    };
    const std::u16string back_20 = Change(u"CreationTime", 0, -20);
    const std::u16string forward_and_back =
        Change(u"CreationTime", 0, 100) + u", " + Change(u"ModifiedTime", 0, -20);
    const std::u16string ahead_120 = Change(u"CreationTime", 0, 120);
    const std::vector<Case> cases = {
        {"19 seconds back", judged(u"Time Reversal Event", Change(u"CreationTime", 0, -19)), {}, {}},
        {"20 seconds back", judged(u"Time Reversal Event", back_20),
         {Past(0x2000, "Tool", platform::Utf16_To_Utf8(back_20))}, {}},
        {"a field moved forward never counts",
         judged(u"Time Reversal Event", Change(u"CreationTime", 0, -5) + u", " + Change(u"ModifiedTime", 0, 300)), {},
         {}},
        {"any field moved back far enough counts", judged(u"Time Reversal Event", forward_and_back),
         {Past(0x2000, "Tool", platform::Utf16_To_Utf8(forward_and_back))}, {}},
        {"MFTModifiedTime back", judged(u"Time Reversal Event", Change(u"CreationTime", 0, 0) + u", " +
                                                                   Change(u"MFTModifiedTime", 0, -30)),
         {Past(0x2000, "Tool",
               "CreationTime : 2020-05-01 10:30:00 -> 2020-05-01 10:30:00, MFTModifiedTime : 2020-05-01 10:30:00 -> "
               "2020-05-01 10:29:30")},
         {}},
        {"creation time 119 seconds ahead", judged(u"CreationTime Update Event", Change(u"CreationTime", 0, 119)), {},
         {}},
        {"120 seconds ahead", judged(u"CreationTime Update Event", ahead_120),
         {Line(0x2000, "[Suspicious] $SI creationTime of \"a.txt\" is changed to the future. => " +
                           platform::Utf16_To_Utf8(ahead_120),
               "Tool", "\\d\\a.txt")},
         {}},
        {"a creation-time update that moved it back", judged(u"CreationTime Update Event", Change(u"CreationTime", 0, -300)),
         {}, {}},
    };
    Check(cases);
}

// A time past year 9999 is written with all the digits of its year; the rule
// reads each time of a change up to its separator, whatever its length, and
// measures it as the time it is.
TEST(LogFile_Timestamp_Rule, TimesPastYear9999) {
    constexpr std::uint64_t Before = 132328026001234567ull;    // 2020-05-01 10:30:00.1234567
    constexpr std::uint64_t Largest = 0x7FFFFFFFFFFFFFFFull;   // 30828-09-14 02:48:05.4775807
    constexpr std::uint64_t Largest_Second = Largest - Largest % 10'000'000;
    constexpr std::uint64_t Year_9999 = 2650467743991234567ull;  // 9999-12-31 23:59:59.1234567
    // As the log analysis writes a change: the remark follows a new time that
    // is a whole second.
    const auto change = [](const char16_t* label, std::uint64_t old_time, std::uint64_t new_time) {
        const char16_t* format = new_time % 10'000'000 == 0 ? u"%s : %s -> %s(Zero in 100-nanoseconds)" : u"%s : %s -> %s";
        return platform::Format(format, {label, Format_FileTime_Text(old_time), Format_FileTime_Text(new_time)});
    };
    const auto judged = [](const char16_t* event, const std::u16string& detail) {
        return Concat({Old_Log(), {Of_File(0x2000, event).Detail(detail)}});
    };
    const auto future = [](const std::string& variant, const std::string& detail) {
        return Line(0x2000, "[Suspicious] $SI creationTime of \"a.txt\" is changed to the future. " + variant + "=> " + detail,
                    "Tool", "\\d\\a.txt");
    };
    const std::vector<Case> cases = {
        {"the creation time set to the largest FILETIME",
         judged(u"CreationTime Update Event", change(u"CreationTime", Before, Largest)),
         {future("", "CreationTime : 2020-05-01 10:30:00 -> 30828-09-14 02:48:05")}, {}},
        {"set to year 9999", judged(u"CreationTime Update Event", change(u"CreationTime", Before, Year_9999)),
         {future("", "CreationTime : 2020-05-01 10:30:00 -> 9999-12-31 23:59:59")}, {}},
        {"set to the largest whole second: the remark follows the time",
         judged(u"CreationTime Update Event", change(u"CreationTime", Before, Largest_Second)),
         {future("(Zero in changed timestamp's 100-nanoseconds) ",
                 "CreationTime : 2020-05-01 10:30:00 -> 30828-09-14 02:48:05(Zero in 100-nanoseconds)")},
         {}},
        {"moved by seconds within year 30828",
         judged(u"CreationTime Update Event", change(u"CreationTime", Largest_Second - 50'000'000, Largest)), {}, {}},
        {"set back from the largest FILETIME, another change after it",
         judged(u"Time Reversal Event", change(u"CreationTime", Largest, Before) + u", " +
                                            change(u"ModifiedTime", Before, Before - 50'000'000)),
         {Past(0x2000, "Tool",
               "CreationTime : 30828-09-14 02:48:05 -> 2020-05-01 10:30:00, ModifiedTime : 2020-05-01 10:30:00 -> "
               "2020-05-01 10:29:55")},
         {}},
        {"an attribute change after it",
         judged(u"Time Reversal Event & Changing FileAttribute",
                change(u"ModifiedTime", Largest, Before) + u" & Archive -> Archive / Hidden"),
         {Past(0x2000, "Tool", "ModifiedTime : 30828-09-14 02:48:05 -> 2020-05-01 10:30:00 & Archive -> Archive / Hidden")},
         {}},
    };
    Check(cases);
}

// A file not created recently: the ordinary causes of a time change.
TEST(LogFile_Timestamp_Rule, OrdinaryCausesOfAChange) {
    constexpr std::uint64_t At = 0x40000;
    const auto around = [](std::vector<Log_Event> before, std::vector<Log_Event> after) {
        return Concat({Old_Log(), before, {Change_At(At)}, after});
    };
    const Strings found = {Past(At, "Tool")};
    const std::vector<Case> cases = {
        {"deleted much later",
         around({}, Concat({Check_Points(At + 0x10, 30), {Of_File(At + 0x100000, u"File Deletion", u"z.txt")}})), {},
         Normal_A},
        {"its directory deleted (\"Deletion\")", around({}, {Of_File(At + 0x100000, u"Directory Deletion")}), {},
         Normal_A},
        {"another file deleted", around({}, {Of_Other(At + 0x100, u"File Deletion", u"a.txt")}), found, {}},
        // Each look ends after the first event beyond its window, which is
        // still examined.
        {"modified 0x6000 before", around({Of_File(At - 0x6000, u"Updating Modified Time")}, {}), {}, Normal_A},
        {"modified just beyond 0x6000, behind an event at 0x6000",
         around({Of_File(At - 0x6001, u"Updating Modified Time"), Filler(At - 0x6000)}, {}), {}, Normal_A},
        {"modified behind the first event beyond 0x6000",
         around({Of_File(At - 0x6002, u"Updating Modified Time"), Filler(At - 0x6001)}, {}), found, {}},
        {"written 0x3000 before", around({Of_File(At - 0x3000, u"Writing Content of Non-Resident File")}, {}), {},
         Normal_A},
        {"written just beyond 0x3000, behind an event at 0x3000",
         around({Of_File(At - 0x3001, u"Writing Content of Resident File"), Filler(At - 0x3000)}, {}), {}, Normal_A},
        {"written behind the first event beyond 0x3000",
         around({Of_File(At - 0x3002, u"Writing Content of Resident File"), Filler(At - 0x3001)}, {}), found, {}},
        {"attributes changed 0x10000 after", around({}, {Of_File(At + 0x10000, u"Changing FileAttribute")}), {}, Normal_A},
        {"renamed just beyond 0x10000, behind an event at 0x10000",
         around({}, {Filler(At + 0x10000), Of_File(At + 0x10001, u"Renaming File", u"b.txt").Detail(u"a.txt -> b.txt")}),
         {}, Normal_A},
        {"renamed behind the first event beyond 0x10000",
         around({}, {Filler(At + 0x10001), Of_File(At + 0x10002, u"Renaming File", u"b.txt").Detail(u"a.txt -> b.txt")}),
         found, {}},
        {"the first of the two ends the walk either way",
         around({}, {Of_File(At + 0x100, u"Renaming File", u"b.txt"), Of_File(At + 0x200, u"Changing FileAttribute")}),
         {}, Normal_A},
    };
    Check(cases);
}

// Windows restores a file's times in two events, the modified times first
// and the creation time next; whatever their files, the pair is normal.
TEST(LogFile_Timestamp_Rule, PairedReversals) {
    const std::u16string modified_pair = Change(u"ModifiedTime", 0, -60) + u", " + Change(u"MFTModifiedTime", 0, -60);
    const Log_Event first = Of_File(0x2000, u"Time Reversal Event").Detail(modified_pair);
    const Log_Event second = Of_Other(0x2100, u"Time Reversal Event", u"b.txt").Detail(Back_60);
    const std::string modified_pair_text =
        "ModifiedTime : 2020-05-01 10:30:00 -> 2020-05-01 10:29:00, MFTModifiedTime : 2020-05-01 10:30:00 -> "
        "2020-05-01 10:29:00";
    const std::vector<Case> cases = {
        {"modified times, then creation time", Concat({Old_Log(), {first, second}}), {},
         {"\\d\\a.txt|a.txt", "\\o\\b.txt|b.txt"}},
        {"the other order pairs nothing",
         Concat({Old_Log(), {Of_Other(0x2000, u"Time Reversal Event", u"b.txt").Detail(Back_60),
                             Of_File(0x2100, u"Time Reversal Event").Detail(modified_pair)}}),
         {Line(0x2000, "[Suspicious] $SI timestamp of \"b.txt\" is changed to the past. => " + Back_60_Text, "Tool",
               "\\o\\b.txt"),
          Past(0x2100, "Tool", modified_pair_text)},
         {}},
        {"with the access time the first is no pair",
         Concat({Old_Log(),
                 {Of_File(0x2000, u"Time Reversal Event").Detail(modified_pair + u", " + Change(u"AccessedTime", 0, -60)),
                  second}}),
         {Past(0x2000, "Tool", modified_pair_text + ", AccessedTime : 2020-05-01 10:30:00 -> 2020-05-01 10:29:00"),
          Line(0x2100, "[Suspicious] $SI timestamp of \"b.txt\" is changed to the past. => " + Back_60_Text, "Tool",
               "\\o\\b.txt")},
         {}},
        // Created recently, the first half does not name the creation time and
        // is never recorded; the second half still pairs with it.
        {"the first half of a file created recently",
         {Of_File(0x1000, u"File Creation"), first, Of_Other(0x2100, u"Time Reversal Event", u"b.txt").Detail(Back_60)},
         {}, {"\\o\\b.txt|b.txt"}},
    };
    Check(cases);
}

// A file created recently: what shows that a program, not a person, set the
// creation time.
TEST(LogFile_Timestamp_Rule, RecentlyCreatedFile) {
    const Log_Event created = Of_File(0x1000, u"File Creation");
    const std::u16string with_mft = Back_60 + u", " + Change(u"MFTModifiedTime", 0, -60);
    const std::u16string with_modified = Back_60 + u", " + Change(u"ModifiedTime", 0, -60);
    const auto write = [](const char16_t* size) {
        return Of_File(0x1010, u"Writing Content of Resident File").Detail(std::u16string(u"Writing Size : ") + size);
    };
    const Strings found = {Past(0x2000, "Malware")};
    const std::vector<Case> cases = {
        {"deleted later", {created, Change_At(0x2000), Of_File(0x900000, u"File Deletion")}, {}, Normal_A},
        {"no path", {created, Change_At(0x2000).Path(u"")}, {}, {"|a.txt"}},
        {"a resident write of 39 bytes just before", {created, write(u"39"), Change_At(0x2000)}, {}, Normal_A},
        {"of 40 bytes", {created, write(u"40"), Change_At(0x2000)}, found, {}},
        {"the write as the log's first event", {write(u"39"), Change_At(0x2000)}, {}, Normal_A},
        {"a size that is not a number counts as 0", {created, write(u"many"), Change_At(0x2000)}, {}, Normal_A},
        {"a detail too short for the size", {created, Of_File(0x1010, u"Writing Content of Resident File")
                                                          .Detail(u"Writing Size : "), Change_At(0x2000)},
         {}, Normal_A},
        {"one check point between", Concat({{created, write(u"10")}, Check_Points(0x1100, 1), {Change_At(0x2000)}}),
         {}, Normal_A},
        {"the second check point ends the look back",
         Concat({{created, write(u"10")}, Check_Points(0x1100, 2), {Change_At(0x2000)}}), found, {}},
        {"the MFT time updated after and not set back",
         Concat({{created, Change_At(0x2000, with_mft)}, Check_Points(0x2100, 6),
                 {Of_File(0x3000, u"Updating MFTModified Time")}}),
         {}, Normal_A},
        {"the forward walk ends at the seventh check point",
         Concat({{created, Change_At(0x2000, with_mft)}, Check_Points(0x2100, 7),
                 {Of_File(0x3000, u"Updating MFTModified Time")}}),
         {Past(0x2000, "Malware", platform::Utf16_To_Utf8(with_mft))}, {}},
        {"an attribute change counts as an MFT update",
         {created, Change_At(0x2000, with_mft), Of_File(0x3000, u"Changing FileAttribute")}, {}, Normal_A},
        {"the modified time updated after, with the access time unnamed",
         {created, Change_At(0x2000, with_modified), Of_File(0x3000, u"Updating Modified Time")}, {}, Normal_A},
        {"renamed, then the MFT time updated",
         {created, Change_At(0x2000), Of_File(0x3000, u"Renaming File", u"b.txt"),
          Of_File(0x3100, u"Updating MFTModified Time", u"b.txt")},
         {}, Normal_A},
        {"another file renamed to the name",
         {created, Change_At(0x2000), Of_Other(0x3000, u"Renaming File", u"a.txt").Detail(u"x.txt -> a.txt")}, {},
         Normal_A},
    };
    Check(cases);
}

// The message forms, compared whole: the plain and moved forms quote the
// detail; the detected form names the LSN chain and has no path; a guessed
// name is quoted without its mark; and the move-sequence step has texts of
// its own (a double blank before "(Using", a missing closing quote).
TEST(LogFile_Timestamp_Rule, MessageForms) {
    struct Form_Case {
        const char* what;
        bool created;     // reached through the created branch's last step
        bool guessed;
        const char16_t* first_step;  // the event that begins the move sequence
        std::u16string detail;
        std::string message;
    };
    const std::u16string same = Back_60 + u"(same as b.txt)";
    const std::u16string zero = Back_60 + u"(Zero in 100-nanoseconds)";
    // Reached by the move-sequence step: a change that names neither the
    // creation time nor first the modified time.
    const std::u16string access_same = Change(u"AccessedTime", 0, -60) + u"(same as b.txt)";
    const std::u16string access = Change(u"AccessedTime", 0, -60);
    const std::u16string access_zero = Change(u"AccessedTime", 0, -60) + u"(Zero in 100-nanoseconds)";
    const char* const chain_1 = "(Time Reversal Event(4352) -> Move(Before) -> Move(After) -> Time Reversal Event(5120))";
    const char* const chain_2 =
        "(CreationTime Update Event(4352) -> Move(Before) -> Move(After) -> Time Reversal Event(5120))";
    const std::string head = "[Malicious] $SI, $FN timestamp manipulation of \"report.docx\"";
    const std::string using_text = "(Using another normal file's timestamp)";
    const std::string zero_text = "(Zero in changed timestamp's 100-nanoseconds)";
    const std::vector<Form_Case> cases = {
        {"created, none", true, false, u"Time Reversal Event", Back_60, head + " is detected. " + chain_1},
        {"created, Using", true, false, u"Time Reversal Event", same, head + " is detected. " + chain_1 + " " + using_text},
        {"created, Zero, guessed", true, true, u"Time Reversal Event", zero,
         head + " (Guessed) is detected. " + chain_1 + " " + zero_text},
        {"created, Using, guessed, update first", true, true, u"CreationTime Update Event", same,
         head + " (Guessed) is detected. " + chain_2 + " " + using_text},
        {"step, none", false, false, u"Time Reversal Event", access, head + " is detected. " + chain_1},
        {"step, Zero", false, false, u"CreationTime Update Event", access_zero,
         head + " is detected. " + chain_2 + " " + zero_text},
        {"step, Using: two blanks", false, false, u"Time Reversal Event", access_same,
         head + " is detected. " + chain_1 + "  " + using_text},
        {"step, Using, update first: two blanks", false, false, u"CreationTime Update Event", access_same,
         head + " is detected. " + chain_2 + "  " + using_text},
        {"step, guessed: no closing quote", false, true, u"Time Reversal Event", access,
         "[Malicious] $SI, $FN timestamp manipulation of \"report.docx (Guessed) is detected. " + std::string(chain_1)},
        {"step, Using, guessed", false, true, u"CreationTime Update Event", access_same,
         "[Malicious] $SI, $FN timestamp manipulation of \"report.docx (Guessed) is detected. " + std::string(chain_2) +
             " " + using_text},
        {"step, Zero, guessed", false, true, u"Time Reversal Event", access_zero,
         "[Malicious] $SI, $FN timestamp manipulation of \"report.docx (Guessed) is detected. " + std::string(chain_1) +
             " " + zero_text},
    };
    for (const Form_Case& c : cases) {
        const std::u16string name = c.guessed ? u"report.docx <Guessed>" : u"report.docx";
        std::vector<Log_Event> events = c.created ? std::vector<Log_Event>{} : Old_Log();
        events.push_back(Of_File(0x1000, u"File Creation", name));
        if (!c.created) events.back() = Filler(0x1000);
        // A first step too small to be a finding of its own.
        const bool update = std::u16string(c.first_step) == u"CreationTime Update Event";
        events.push_back(Of_File(0x1100, c.first_step, name).Detail(Change(u"CreationTime", 0, update ? 5 : -5)));
        events.push_back(Of_File(0x1200, u"Move(Before)", name));
        events.push_back(Of_File(0x1300, u"Move(After)", name, u"\\e\\"));
        events.push_back(Of_File(0x1400, u"Time Reversal Event", name, u"\\e\\").Detail(c.detail));
        const Timestamp_Outcome out = Judge(events);
        EXPECT_EQ(out.Findings, Strings{Line(0x1400, c.message, "Malware", "")}) << c.what;
    }

    // The plain and moved forms with a guessed name and each variant.
    const Log_Event guessed_change = Of_File(0x2000, u"Time Reversal Event", u"report.docx <Guessed>").Detail(zero);
    const std::string zero_detail = Back_60_Text + "(Zero in 100-nanoseconds)";
    EXPECT_EQ(Judge(Concat({Old_Log(), {guessed_change}})).Findings,
              Strings{Line(0x2000,
                           "[Suspicious] $SI timestamp of \"report.docx\" (Guessed) is changed to the past. " + zero_text +
                               " => " + zero_detail,
                           "Tool", "\\d\\report.docx <Guessed>")});
    const std::u16string guessed = u"report.docx <Guessed>";
    EXPECT_EQ(Judge({Of_File(0x1000, u"File Creation", guessed),
                     Of_File(0x2000, u"CreationTime Update Event", guessed).Detail(Change(u"CreationTime", 0, 300) +
                                                                                    u"(same as b.txt)"),
                     Of_File(0x2100, u"Move(Before)", guessed), Of_File(0x2200, u"Move(After)", guessed, u"\\e\\")})
                  .Findings,
              Strings{Line(0x2000,
                           "[Malicious] $SI creationTime of \"report.docx\" (Guessed) is changed to the future and is "
                           "moved. " + using_text + " => CreationTime : 2020-05-01 10:30:00 -> 2020-05-01 10:35:00(same as b.txt)",
                           "Malware", "\\d\\report.docx <Guessed>")});
    EXPECT_EQ(Judge({Of_File(0x1000, u"File Creation"), Change_At(0x2000, zero), Of_File(0x2100, u"Move(Before)"),
                     Of_File(0x2200, u"Move(After)", u"a.txt", u"\\e\\")})
                  .Findings,
              Strings{Line(0x2000,
                           "[Malicious] $SI timestamp of \"a.txt\" is changed to the past and is moved. " + zero_text +
                               " => " + zero_detail,
                           "Malware", "\\d\\a.txt")});
}

// Normal creation-time updates are recorded in both lists; time changes set
// back only in the list of reversals.
TEST(LogFile_Timestamp_Rule, NormalCreationTimeUpdatesAreListedApart) {
    Program_State state;
    for (const Log_Event& e : Concat({Old_Log(),
                                      {Of_File(0x2000, u"CreationTime Update Event").Detail(Change(u"CreationTime", 0, 300)),
                                       Of_Other(0x2100, u"Time Reversal Event", u"b.txt").Detail(Back_60),
                                       Of_File(0x3000, u"File Deletion"), Of_Other(0x3100, u"File Deletion", u"b.txt")}}))
        state.g_Log_Info_Array.push_back(e);
    const Timestamp_Outcome out = Run_LogFile_Half(state, false);
    EXPECT_EQ(out.Normal_Reversals, (Strings{"\\d\\a.txt|a.txt", "\\o\\b.txt|b.txt"}));
    EXPECT_EQ(out.Normal_Creation_Updates, Strings{"\\d\\a.txt|a.txt"});
}

// Damaged rows: detail texts cut short, LSNs that are not numbers, times that
// are not times, a log that starts with a check point or has none. Nothing
// reads past a text (the sanitizer build runs these), and the rule judges
// what it can.
TEST(LogFile_Timestamp_Rule, DamagedRows) {
    const std::vector<Case> cases = {
        {"details shorter than the label offsets",
         Concat({Old_Log(), {Change_At(0x2000, u"CreationTime : 2020"), Change_At(0x2100, u"CreationTime : "),
                             Change_At(0x2200, u"MFTModifiedTime : 2020-05-01 10:30:00 -> "),
                             Of_File(0x2300, u"CreationTime Update Event").Detail(u"CreationTime"),
                             Change_At(0x2400, u"ModifiedTime")}}),
         {}, {}},
        {"an old time that is not one: the parser's zero date is far in the past",
         Concat({Old_Log(), {Change_At(0x2000, u"CreationTime : 2020-13-01 10:30:00 -> 2020-05-01 10:29:00")}}), {},
         {}},
        {"a new time that is not one reads as the zero date, far back",
         Concat({Old_Log(), {Change_At(0x2000, u"CreationTime : 2020-05-01 10:30:00 -> xxxx-05-01 10:29:00")}}),
         {Past(0x2000, "Tool", "CreationTime : 2020-05-01 10:30:00 -> xxxx-05-01 10:29:00")}, {}},
        // Read as 0, the change's LSN lies far below every earlier event's:
        // the look back for a modification ends at the first event.
        {"an LSN that is not a number reads as 0",
         Concat({Old_Log(), {Of_File(0x1FF0, u"Updating Modified Time"), Filler(0x1FF8), Change_At(0x2000).Lsn_Text(u"lsn")}}),
         {"lsn|[Suspicious] $SI timestamp of \"a.txt\" is changed to the past. => " + Back_60_Text + "|Tool|\\d\\a.txt"},
         {}},
        {"the same with the LSN as a number",
         Concat({Old_Log(), {Of_File(0x1FF0, u"Updating Modified Time"), Filler(0x1FF8), Change_At(0x2000)}}), {},
         Normal_A},
        {"an earlier event's LSN that is not a number reads as 0, 0x2000 back",
         Concat({Old_Log(), {Of_File(0x1000, u"Updating Modified Time"), Filler(0).Lsn_Text(u""), Change_At(0x2000)}}),
         {}, Normal_A},
        {"empty EventTimes and a time that is not one",
         {Of_File(0x1000, u"File Creation"), Change_At(0x2000).Event_Time(u"soon"),
          Of_Other(0x2100, u"File Deletion", u"a.txt").Event_Time(u"")},
         {}, Normal_A},
        {"a log that starts with a check point",
         Concat({Check_Points(0x100, 1), {Change_At(0x2000)}}), {Past(0x2000, "Malware")}, {}},
        {"a log without check points", {Filler(0x100), Change_At(0x2000), Of_File(0x2100, u"Move(Before)")},
         {Past(0x2000, "Malware")}, {}},
        {"a log of check points and one change at its end", Concat({Check_Points(0x100, 30), {Change_At(0x2000)}}),
         {Past(0x2000, "Tool")}, {}},
    };
    Check(cases);
}

TEST(LogFile_Timestamp_Messages, FortyFourTextsEightOfThemTheStepsOwn) {
    using F = Timestamp_Message_Form;
    using K = Timestamp_Change_Kind;
    using V = Timestamp_Variant;
    std::vector<std::u16string_view> texts;
    int differing = 0;
    for (const V v : {V::None, V::Zero, V::Using})
        for (const bool g : {false, true}) {
            for (const F f : {F::Plain, F::Moved})
                for (const K k : {K::Past, K::Future}) texts.push_back(Timestamp_Message_Format(f, k, v, g));
            for (const K k : {K::Reversal_First, K::Update_First}) {
                const std::u16string_view created = Timestamp_Message_Format(F::Detected, k, v, g);
                const std::u16string_view step = Timestamp_Message_Format(F::Detected_By_Move_Step, k, v, g);
                texts.push_back(created);
                if (step != created) {
                    texts.push_back(step);
                    ++differing;
                }
            }
        }
    EXPECT_EQ(differing, 8);
    EXPECT_EQ(texts.size(), 44u);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
    EXPECT_TRUE(std::find(texts.begin(), texts.end(), std::u16string_view()) == texts.end());
    // A pairing that no form has.
    EXPECT_EQ(Timestamp_Message_Format(F::Plain, K::Reversal_First, V::None, false), u"");
}
