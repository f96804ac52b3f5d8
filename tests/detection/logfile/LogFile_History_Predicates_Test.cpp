// The name-passing question of the timestamp rule, seen through the rule: a
// creation-time change it explains is recorded as normal and makes no
// finding; one it does not explain is reported (the events are built so that
// nothing else explains it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/logfile/Timestamp_Test_Support.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

struct Case {
    const char* what;
    std::vector<Log_Event> events;
    bool normal;  // recorded as normal, no finding; otherwise the finding below
    Strings findings;
};

const std::u16string Back_60 = Change(u"CreationTime", 0, -60);
const std::string Back_60_Text = "CreationTime : 2020-05-01 10:30:00 -> 2020-05-01 10:29:00";

std::string Past(std::uint64_t lsn, const char* kind) {
    return Line(lsn, "[Suspicious] $SI timestamp of \"a.txt\" is changed to the past. => " + Back_60_Text, kind,
                "\\d\\a.txt");
}

void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const Timestamp_Outcome out = Judge(c.events);
        if (c.normal) {
            EXPECT_EQ(out.Normal_Reversals, Strings{"\\d\\a.txt|a.txt"}) << c.what;
            EXPECT_EQ(out.Findings, Strings{}) << c.what;
        } else {
            EXPECT_EQ(out.Normal_Reversals, Strings{}) << c.what;
            EXPECT_EQ(out.Findings, c.findings) << c.what;
        }
    }
}

// Three check points at the start and no creation of the file: not created
// recently.
std::vector<Log_Event> Old_Log() { return Check_Points(0x100, 3); }

Log_Event Change_At(std::uint64_t lsn) { return Of_File(lsn, u"Time Reversal Event").Detail(Back_60); }

}  // namespace

// A file not created recently: the walk back looks for the file taking its
// name (a rename or a move to it) and, behind that, the name leaving another
// file, up to the fifth check point.
TEST(LogFile_History_Predicates, NameTakenBeforeTheChange) {
    const Log_Event other_deleted = Of_Other(0x1000, u"File Deletion", u"a.txt");
    const Log_Event renamed_to = Of_File(0x1100, u"Renaming File").Detail(u"x.txt -> a.txt");
    const std::vector<Case> cases = {
        {"a deletion of the name behind the rename, four check points back",
         Concat({Old_Log(), {other_deleted, renamed_to}, Check_Points(0x1200, 4), {Change_At(0x2000)}}), true, {}},
        {"the same behind five check points", Concat({Old_Log(), {other_deleted, renamed_to}, Check_Points(0x1200, 5),
                                                      {Change_At(0x2000)}}),
         false, {Past(0x2000, "Tool")}},
        {"the evidence just beyond the fifth check point",
         Concat({Old_Log(), {other_deleted}, Check_Points(0x1050, 1), {renamed_to}, Check_Points(0x1200, 4),
                 {Change_At(0x2000)}}),
         false, {Past(0x2000, "Tool")}},
        {"no rename or move to the name: a deletion alone explains nothing",
         Concat({Old_Log(), {other_deleted, Change_At(0x2000)}}), false, {Past(0x2000, "Tool")}},
        {"a rename away from the name behind the rename",
         Concat({Old_Log(), {Of_Other(0x1000, u"Renaming File", u"q.txt").Detail(u"a.txt -> q.txt"), renamed_to,
                             Change_At(0x2000)}}),
         true, {}},
        {"moved in where another file of the name moved out",
         Concat({Old_Log(), {Of_Other(0x1000, u"Move(Before)", u"a.txt").Path(u"\\d\\a.txt"),
                             Of_File(0x1100, u"Move(After)"), Change_At(0x2000)}}),
         true, {}},
        {"moved in, but the other file moved out of another folder",
         Concat({Old_Log(), {Of_Other(0x1000, u"Move(Before)", u"a.txt"), Of_File(0x1100, u"Move(After)"),
                             Change_At(0x2000)}}),
         false, {Past(0x2000, "Tool")}},
        {"moved in after a file renamed away from the name, in any folder",
         Concat({Old_Log(), {Of_Other(0x1000, u"Renaming File", u"q.txt").Detail(u"a.txt -> q.txt"),
                             Of_File(0x1100, u"Move(After)"), Change_At(0x2000)}}),
         true, {}},
    };
    Check(cases);
}

// A file created recently: its creation under the name is a third anchor, a
// rename away counts for a move only from the very path, and the events after
// the change are searched too.
TEST(LogFile_History_Predicates, NameTakenAroundTheCreation) {
    const Log_Event created = Of_File(0x1000, u"File Creation");
    const Log_Event created_elsewhere = Of_File(0x1000, u"File Creation", u"a.txt", u"\\e\\");
    const std::vector<Case> cases = {
        {"a deletion of the name before the creation",
         {Of_Other(0x900, u"File Deletion", u"a.txt"), created, Change_At(0x1100)}, true, {}},
        {"moved in where another file was renamed away from",
         {created_elsewhere, Of_Other(0x1010, u"Renaming File", u"q.txt").Path(u"\\d\\q.txt").Detail(u"a.txt -> q.txt"),
          Of_File(0x1020, u"Move(Before)", u"a.txt", u"\\e\\"), Of_File(0x1030, u"Move(After)"), Change_At(0x1100)},
         true, {}},
        {"moved in, the other file renamed away in another folder",
         {created_elsewhere, Of_Other(0x1010, u"Renaming File", u"q.txt").Detail(u"a.txt -> q.txt"),
          Of_File(0x1020, u"Move(Before)", u"a.txt", u"\\e\\"), Of_File(0x1030, u"Move(After)"), Change_At(0x1100)},
         false, {Past(0x1100, "Malware")}},
    };
    Check(cases);
}

// Walk A (the change has no EventTime): events up to the first one beyond
// 0x2000 after the change, which is still examined.
TEST(LogFile_History_Predicates, NameLeavingAfterTheChangeWithinTheWindow) {
    const Log_Event created = Of_File(0x1000, u"File Creation");
    const std::vector<Case> cases = {
        {"a deletion of the name 0x2000 after", {created, Change_At(0x1100), Of_Other(0x3100, u"File Deletion", u"a.txt")},
         true, {}},
        {"the first event beyond the window, behind one at 0x2000",
         {created, Change_At(0x1100), Filler(0x3100), Of_Other(0x3101, u"File Deletion", u"a.txt")}, true, {}},
        {"behind the first event beyond the window",
         {created, Change_At(0x1100), Filler(0x3101), Of_Other(0x3102, u"File Deletion", u"a.txt")}, false,
         {Past(0x1100, "Malware")}},
        {"another record sharing the TargetVCN moves a file of the name away: not another record here",
         {created, Change_At(0x1100), Of_Other(0x1200, u"Move(Before)", u"a.txt", 0x20, 4)}, false,
         {Past(0x1100, "Malware")}},
        {"a record differing in both moves it away",
         {created, Change_At(0x1100), Of_Other(0x1200, u"Move(Before)", u"a.txt", 0x30, 4)}, true, {}},
        // A "Move(Before)" that comes before any rename opens nothing.
        {"a rename of another record, then the file moved to its old name",
         {created, Change_At(0x1100), Of_Other(0x1200, u"Renaming File", u"p.txt").Detail(u"n.txt -> p.txt"),
          Of_File(0x1300, u"Move(Before)"), Of_File(0x1400, u"Move(After)", u"n.txt")},
         true, {}},
        {"the file's move first, the rename second",
         {created, Change_At(0x1100), Of_File(0x1200, u"Move(Before)"),
          Of_Other(0x1300, u"Renaming File", u"p.txt").Detail(u"n.txt -> p.txt"),
          Of_File(0x1400, u"Move(After)", u"n.txt")},
         false,
         {Line(0x1100, "[Suspicious] $SI timestamp of \"a.txt\" is changed to the past and is moved. => " + Back_60_Text,
               "Malware", "\\d\\a.txt")}},
    };
    Check(cases);
}

// Walk B (the change has an EventTime): up to 0x10000 on, but only events of
// the change's second or the next count; an event without a time takes the
// last one read in the walk. Walk A, which runs after it, looks only 0x2000
// on, so every deletion here lies behind a first event beyond that.
TEST(LogFile_History_Predicates, NameLeavingInTheSameSecond) {
    const auto log = [](const char16_t* filler_time, const char16_t* deletion_time, std::uint64_t at = 0x4100) {
        return std::vector<Log_Event>{Of_File(0x1000, u"File Creation"), Change_At(0x1100).Event_Time(Clock(0)),
                                      Filler(0x3101).Event_Time(filler_time),
                                      Of_Other(at, u"File Deletion", u"a.txt").Event_Time(deletion_time)};
    };
    const Strings found = {Past(0x1100, "Malware")};
    const std::u16string t0 = Clock(0), t1 = Clock(1), t2 = Clock(2), t_1 = Clock(-1);
    const std::vector<Case> cases = {
        {"the same second", log(u"", t0.c_str()), true, {}},
        {"the next second", log(u"", t1.c_str()), true, {}},
        {"two seconds on", log(u"", t2.c_str()), false, found},
        {"a second before", log(u"", t_1.c_str()), false, found},
        {"no time: the filler's", log(t1.c_str(), u""), true, {}},
        {"no time and none before in the walk: the zero date", log(u"", u""), false, found},
        {"a time that is not one reads as the zero date", log(u"", u"10:30:00"), false, found},
        {"0x10000 after", log(u"", t0.c_str(), 0x11100), true, {}},
        {"the first event beyond 0x10000, behind one at 0x10000",
         {Of_File(0x1000, u"File Creation"), Change_At(0x1100).Event_Time(Clock(0)), Filler(0x3101), Filler(0x11100),
          Of_Other(0x11101, u"File Deletion", u"a.txt").Event_Time(Clock(0))},
         true, {}},
        {"behind it",
         {Of_File(0x1000, u"File Creation"), Change_At(0x1100).Event_Time(Clock(0)), Filler(0x3101),
          Filler(0x11101), Of_Other(0x11102, u"File Deletion", u"a.txt").Event_Time(Clock(0))},
         false, found},
        {"another record sharing the TargetVCN counts in walk B",
         {Of_File(0x1000, u"File Creation"), Change_At(0x1100).Event_Time(Clock(0)),
          Of_Other(0x1200, u"Move(Before)", u"a.txt", 0x20, 4).Event_Time(Clock(0))},
         true, {}},
    };
    Check(cases);
}

// After walk B, walk A runs again, but the file's own rename away from its
// name (or its own move away) ends the watch for another file's: the name
// left with the file itself.
TEST(LogFile_History_Predicates, WalkAAfterWalkB) {
    const auto log = [](bool timed, const char16_t* own, const char16_t* other) {
        const std::u16string own_event = own;
        std::vector<Log_Event> events = {Of_File(0x1000, u"File Creation"), Change_At(0x1100)};
        if (timed) events.back().Event_Time(Clock(0));
        if (own_event == u"Renaming File") {
            events.push_back(Of_File(0x1200, u"Renaming File", u"z.txt").Detail(u"a.txt -> z.txt").Event_Time(Clock(5)));
            events.push_back(Of_Other(0x1300, u"Renaming File", u"q.txt").Detail(u"a.txt -> q.txt").Event_Time(Clock(5)));
        } else {
            events.push_back(Of_File(0x1200, u"Move(Before)").Event_Time(Clock(5)));
            events.push_back(Of_Other(0x1300, other, u"a.txt").Event_Time(Clock(5)));
        }
        return events;
    };
    const Strings found = {Past(0x1100, "Malware")};
    const std::vector<Case> cases = {
        {"another file renamed away from the name (walk A alone)", log(false, u"Renaming File", u""), true, {}},
        {"the same after walk B: the file's own rename ended that watch", log(true, u"Renaming File", u""), false, found},
        {"another file moved away from the name (walk A alone)", log(false, u"Move(Before)", u"Move(Before)"), true, {}},
        {"the same after walk B: the file's own move ended that watch", log(true, u"Move(Before)", u"Move(Before)"),
         false, found},
        {"a deletion of the name still counts after walk B", log(true, u"Move(Before)", u"File Deletion"), true, {}},
    };
    Check(cases);
}

// The move sequences, seen through the findings of a recently created file
// whose change is significant: the detected form (moves before the change),
// the moved form (moves after it) or the plain form.
TEST(LogFile_History_Predicates, MoveSequences) {
    const Log_Event created = Of_File(0x1000, u"File Creation");
    const Log_Event first_step = Of_File(0x1100, u"Time Reversal Event").Detail(Change(u"CreationTime", 0, -5));
    const Log_Event moved_out = Of_File(0x1200, u"Move(Before)");
    const Log_Event moved_in = Of_File(0x1300, u"Move(After)", u"a.txt", u"\\e\\");
    const Log_Event change = Of_File(0x1400, u"Time Reversal Event", u"a.txt", u"\\e\\").Detail(Back_60);
    const std::string detected =
        Line(0x1400, "[Malicious] $SI, $FN timestamp manipulation of \"a.txt\" is detected. (Time Reversal Event(4352) "
                     "-> Move(Before) -> Move(After) -> Time Reversal Event(5120))",
             "Malware", "");
    const std::string plain = Line(
        0x1400, "[Suspicious] $SI timestamp of \"a.txt\" is changed to the past. => " + Back_60_Text, "Malware", "\\e\\a.txt");
    const auto after_change = [&](std::vector<Log_Event> later) {
        std::vector<Log_Event> events = {created, Of_File(0x1100, u"Time Reversal Event").Detail(Back_60)};
        events.insert(events.end(), later.begin(), later.end());
        return events;
    };
    const std::string moved = Line(
        0x1100, "[Suspicious] $SI timestamp of \"a.txt\" is changed to the past and is moved. => " + Back_60_Text,
        "Malware", "\\d\\a.txt");
    const std::string not_moved = Past(0x1100, "Malware");
    const std::vector<Case> cases = {
        {"time change, move out, move in, change", {created, first_step, moved_out, moved_in, change}, false, {detected}},
        {"the first step as the log's first event", {first_step, moved_out, moved_in, change}, false, {detected}},
        {"two check points before the first step",
         Concat({{created, first_step}, Check_Points(0x1180, 2), {moved_out, moved_in, change}}), false, {detected}},
        {"a third check point before the first step ends the walk",
         Concat({{created, first_step}, Check_Points(0x1180, 3), {moved_out, moved_in, change}}), false, {plain}},
        {"the move in under another name", {created, first_step, moved_out, Of_File(0x1300, u"Move(After)", u"b.txt"), change},
         false, {plain}},
        {"a move out of another record is no step",
         {created, first_step, Of_Other(0x1200, u"Move(Before)"), moved_in, change}, false, {plain}},
        {"a creation-time update as the first step",
         {created, Of_File(0x1100, u"CreationTime Update Event").Detail(Change(u"CreationTime", 0, 5)), moved_out,
          moved_in, change},
         false,
         {Line(0x1400, "[Malicious] $SI, $FN timestamp manipulation of \"a.txt\" is detected. (CreationTime Update "
                       "Event(4352) -> Move(Before) -> Move(After) -> Time Reversal Event(5120))",
               "Malware", "")}},
        {"moved after the change", after_change({moved_out, moved_in}), false, {moved}},
        {"moved after two check points", after_change(Concat({Check_Points(0x1180, 2), {moved_out, moved_in}})), false,
         {moved}},
        {"a third check point before the move", after_change(Concat({Check_Points(0x1180, 3), {moved_out, moved_in}})),
         false, {not_moved}},
        {"the move out under another name",
         after_change({Of_File(0x1200, u"Move(Before)", u"b.txt"), moved_in}), false, {not_moved}},
    };
    Check(cases);

    // A later time change of the moved file vetoes the moved form. That
    // change, which does not name the creation time, goes straight to the
    // move-sequence step, and completes the detected sequence.
    const Timestamp_Outcome vetoed = Judge(after_change(
        {moved_out, moved_in,
         Of_File(0x1400, u"Time Reversal Event", u"a.txt", u"\\e\\").Detail(Change(u"AccessedTime", 0, -5))}));
    EXPECT_EQ(vetoed.Findings, (Strings{not_moved, detected}));
}
