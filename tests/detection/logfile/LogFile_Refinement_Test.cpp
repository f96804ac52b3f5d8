#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/Detect_Suspicious_Behavior.h"
#include "detection/logfile/LogFile_Refinement.h"
#include "detection/logfile/Timestamp_Test_Support.h"
#include "platform/text.h"

using namespace test_support;

namespace {

using Strings = std::vector<std::string>;

// Findings filed as the rules file them, then the four phases in order.
class Refinement {
public:
    void Timestamp(std::uint64_t lsn, std::u16string_view message, std::u16string_view path = u"\\d\\x.txt",
                   std::u16string_view tool_kind = u"Tool") {
        auto& d = Record_Finding(state_.g_Detection_Overview_Array, Finding_Category::Timestamp_Manipulation,
                                 Finding_Source::LogFile, platform::Unsigned_Decimal_Text(lsn), message);
        d.ToolKind = tool_kind;
        d.FullPath = path;
    }
    void Execution(std::uint64_t lsn, std::u16string_view program, std::u16string_view type = u"Timestamp Manipulation") {
        Record_Finding(state_.g_Detection_Overview_Array, Finding_Category::Execution, Finding_Source::LogFile,
                       platform::Unsigned_Decimal_Text(lsn),
                       platform::Format(u"%s (%s) has been executed.", {program, type}));
    }
    void Normal(std::u16string_view path, int times = 1) {
        for (int k = 0; k < times; ++k) context_.g_Normal_Time_Reversal_Array.push_back({std::u16string(path), u"x"});
    }
    void Normal_Creation_Update(std::u16string_view path, int times = 1) {
        for (int k = 0; k < times; ++k)
            context_.g_Normal_Creation_Time_Update_Array.push_back({std::u16string(path), u"x"});
    }

    // "<message>" of each timestamp finding, " (suppressed)" after one that is.
    Strings Run() {
        Link_LogFile_Timestamp_Tool_Execution(context_);
        Verify_Same_As_Normal_File_Claims(context_);
        Suppress_Normal_Time_Change_Findings(context_);
        Suppress_Program_Folder_Timestamp_Groups(context_);
        Strings out;
        for (const auto& o : state_.g_Detection_Overview_Array) {
            if (o->Category != Finding_Category::Timestamp_Manipulation) continue;
            for (const auto& d : o->Details)
                out.push_back(platform::Utf16_To_Utf8(d->Message) + (d->Valid == 1 ? "" : " (suppressed)"));
        }
        return out;
    }

private:
    Program_State state_;
    Detection_Context context_{state_};
};

constexpr char16_t Plain[] = u"[Suspicious] $SI timestamp of \"x.txt\" is changed to the past. => CreationTime : c";
constexpr char Plain_8[] = "[Suspicious] $SI timestamp of \"x.txt\" is changed to the past. => CreationTime : c";
constexpr char16_t Using[] =
    u"[Malicious] $SI timestamp of \"x.txt\" is changed to the past. (Using another normal file's timestamp) => "
    u"CreationTime : c";
constexpr char Using_8[] =
    "[Malicious] $SI timestamp of \"x.txt\" is changed to the past. (Using another normal file's timestamp) => "
    "CreationTime : c";

}  // namespace

// A plain finding of a file not created recently, made near the run of a
// timestamp tool, is blamed on that tool: the first one listed within 0x1000
// LSN units either way.
TEST(LogFile_Refinement, LinkToATimestampToolRun) {
    struct Execution {
        std::uint64_t lsn;
        const char16_t* program;
        const char16_t* type;
    };
    struct Case {
        const char* what;
        std::vector<Execution> executions;
        const char16_t* message;
        const char16_t* tool_kind;
        std::string expected;
    };
    const std::string after_tool_a = std::string("[Malicious] After execution of ToolA, ") + (Plain_8 + 13);
    const std::vector<Case> cases = {
        {"0x800 after", {{0x5800, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Tool", after_tool_a},
        {"0xFFF before", {{0x4001, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Tool", after_tool_a},
        {"0x1000 after", {{0x6000, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Tool", Plain_8},
        {"0x1000 before", {{0x4000, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Tool", Plain_8},
        {"the same LSN", {{0x5000, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Tool", after_tool_a},
        {"a finding blamed on malware is left", {{0x5800, u"ToolA", u"Timestamp Manipulation"}}, Plain, u"Malware",
         Plain_8},
        {"a program of another type is no timestamp tool", {{0x5800, u"ToolA", u"Data Wiping"}}, Plain, u"Tool", Plain_8},
        {"the first listed, not the nearest",
         {{0x5F00, u"ToolA", u"Timestamp Manipulation"}, {0x5001, u"ToolB", u"Timestamp Manipulation"}}, Plain, u"Tool",
         after_tool_a},
        {"others listed first out of the window or of another type",
         {{0x9000, u"ToolB", u"Timestamp Manipulation"}, {0x5001, u"ToolC", u"Wiping"},
          {0x5F00, u"ToolA", u"Timestamp Manipulation"}},
         Plain, u"Tool", after_tool_a},
        {"a one-character name names no tool", {{0x5800, u"T", u"Timestamp Manipulation"}}, Plain, u"Tool",
         std::string("[Malicious]") + (Plain_8 + 12)},
        {"nor an empty one", {{0x5800, u"", u"Timestamp Manipulation"}}, Plain, u"Tool",
         std::string("[Malicious]") + (Plain_8 + 12)},
        {"two characters do", {{0x5800, u"TS", u"Timestamp Manipulation"}}, Plain, u"Tool",
         std::string("[Malicious] After execution of TS, ") + (Plain_8 + 13)},
        {"a malicious message takes the prefix in place of its tag", {{0x5800, u"ToolA", u"Timestamp Manipulation"}},
         Using, u"Tool", std::string("[Malicious] After execution of ToolA, ") + (Using_8 + 12)},
    };
    for (const Case& c : cases) {
        Refinement r;
        r.Timestamp(0x5000, c.message, u"\\d\\x.txt", c.tool_kind);
        for (const Execution& e : c.executions) r.Execution(e.lsn, e.program, e.type);
        EXPECT_EQ(r.Run(), Strings{c.expected}) << c.what;
    }
    Refinement without_executions;
    without_executions.Timestamp(0x5000, Plain);
    EXPECT_EQ(without_executions.Run(), Strings{Plain_8});
}

// "Using another normal file's timestamp" is withdrawn when every file named
// after "(same as" is itself flagged in the same folder.
TEST(LogFile_Refinement, SameAsClaims) {
    const std::u16string claim = std::u16string(Using) + u"(same as a.txt, b.txt)";
    const std::string claim_8 = platform::Utf16_To_Utf8(claim);
    const std::string downgraded =
        "[Suspicious] $SI timestamp of \"x.txt\" is changed to the past.  => CreationTime : c(same as a.txt, b.txt)";
    struct Case {
        const char* what;
        std::u16string message;
        std::vector<std::u16string> flagged;  // paths of the other findings
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"both flagged", claim, {u"\\d\\a.txt", u"\\d\\b.txt"}, downgraded},
        {"one flagged", claim, {u"\\d\\a.txt"}, claim_8},
        {"flagged in another folder", claim, {u"\\e\\a.txt", u"\\e\\b.txt"}, claim_8},
        {"a zero 100-nanosecond part keeps the claim",
         claim + u", ModifiedTime : m(Zero in 100-nanoseconds)", {u"\\d\\a.txt", u"\\d\\b.txt"},
         claim_8 + ", ModifiedTime : m(Zero in 100-nanoseconds)"},
        {"every claim of the message counts",
         claim + u", ModifiedTime : m(same as c.txt)", {u"\\d\\a.txt", u"\\d\\b.txt"},
         claim_8 + ", ModifiedTime : m(same as c.txt)"},
        {"a name repeated in two claims", claim + u", ModifiedTime : m(same as b.txt)", {u"\\d\\a.txt", u"\\d\\b.txt"},
         downgraded + ", ModifiedTime : m(same as b.txt)"},
        {"a suspicious message is left", std::u16string(Plain) + u"(same as a.txt)", {u"\\d\\a.txt"},
         std::string(Plain_8) + "(same as a.txt)"},
        {"a claim without its closing bracket names nothing", std::u16string(Using) + u"(same as a.txt", {},
         "[Suspicious] $SI timestamp of \"x.txt\" is changed to the past.  => CreationTime : c(same as a.txt"},
    };
    for (const Case& c : cases) {
        Refinement r;
        r.Timestamp(0x5000, c.message);
        for (const std::u16string& path : c.flagged) r.Timestamp(0x6000, u"other", path);
        EXPECT_EQ(r.Run().front(), c.expected) << c.what;
    }
}

// A path whose time changes were judged normal twice has its findings
// suppressed: "changed to the past" against the normal reversals,
// "changed to the future" against the normal creation-time updates.
TEST(LogFile_Refinement, PathsJudgedNormalTwice) {
    const std::u16string future = u"[Suspicious] $SI creationTime of \"x.txt\" is changed to the future. => c";
    struct Case {
        const char* what;
        std::u16string message;
        std::u16string path;
        int reversals;
        int creation_updates;
        bool suppressed;
    };
    const std::vector<Case> cases = {
        {"past, twice", Plain, u"\\d\\x.txt", 2, 0, true},
        {"past, once", Plain, u"\\d\\x.txt", 1, 0, false},
        {"past, twice as a creation-time update too", Plain, u"\\d\\x.txt", 2, 2, true},
        {"future, twice", future, u"\\d\\x.txt", 0, 2, true},
        {"future, once", future, u"\\d\\x.txt", 2, 1, false},
        {"no path", Plain, u"", 2, 2, false},
    };
    for (const Case& c : cases) {
        Refinement r;
        r.Timestamp(0x5000, c.message, c.path);
        r.Normal(c.path, c.reversals);
        r.Normal_Creation_Update(c.path, c.creation_updates);
        r.Normal(u"\\d\\other.txt", 3);
        EXPECT_EQ(r.Run().front().ends_with(" (suppressed)"), c.suppressed) << c.what;
    }
}

// Installers and updates set the times of many files in one folder.
TEST(LogFile_Refinement, ProgramFolderGroups) {
    const std::u16string copied = u"[Suspicious] $SI timestamp ... => CreationTime : a, ModifiedTime : b";
    const std::u16string with_access = copied + u", AccessedTime : c";
    const std::u16string future =
        u"[Suspicious] $SI timestamp ... changed to the future. => CreationTime : a, ModifiedTime : b";
    struct Case {
        const char* what;
        std::vector<std::pair<std::u16string, std::u16string>> findings;  // path, message
        std::size_t suppressed;  // how many of them, from the first
    };
    const auto many = [](int n, const std::u16string& folder, const std::u16string& message) {
        std::vector<std::pair<std::u16string, std::u16string>> out;
        for (int k = 0; k < n; ++k)
            out.push_back({folder + platform::Format(u"f%d.dll", {k}), message});
        return out;
    };
    const auto plus = [](auto a, const auto& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::u16string tool = u"\\Program Files\\Tool\\";
    const std::vector<Case> cases = {
        {"20 in one program's folder, whatever they say", many(20, tool + u"bin\\", with_access), 20},
        {"19", many(19, tool, with_access), 0},
        {"4 with the creation and modified times only", many(4, u"\\Program Files (x86)\\Tool\\", copied), 4},
        {"3", many(3, tool, copied), 0},
        {"4 changed to the future are no package's times", many(4, tool, future), 0},
        {"4, one naming the access time", plus(many(3, tool, copied), many(1, tool + u"x\\", with_access)), 0},
        {"4, one naming the MFT time", plus(many(3, tool, copied), many(1, tool, copied + u", MFTModifiedTime : d")), 0},
        {"4 in one update package", many(4, u"\\Windows\\SoftwareDistribution\\Download\\abc\\", copied), 4},
        {"4 under ProgramData", many(4, u"\\ProgramData\\Vendor\\", copied), 4},
        {"the group is the program's folder: 2 and 2 in two programs",
         plus(many(2, tool, copied), many(2, u"\\Program Files\\Other\\", copied)), 0},
        {"files right in a program folder share the empty key: 4 are not enough",
         plus(many(2, u"\\Program Files\\", copied), many(2, u"\\ProgramData\\", copied)), 0},
        {"20 of them are",
         plus(plus(many(10, u"\\Program Files\\", copied), many(5, u"\\ProgramData\\", with_access)),
              many(5, u"\\Windows\\SoftwareDistribution\\Download\\", with_access)),
         20},
        {"another folder takes part in no group", many(20, u"\\Users\\u\\Tool\\", copied), 0},
        {"a path that only holds a program folder", many(20, u"\\x\\Program Files\\Tool\\", copied), 0},
    };
    for (const Case& c : cases) {
        Refinement r;
        for (const auto& [path, message] : c.findings) r.Timestamp(0x5000, message, path, u"Malware");
        const Strings out = r.Run();
        std::size_t suppressed = 0;
        for (const std::string& line : out) suppressed += line.ends_with(" (suppressed)");
        EXPECT_EQ(suppressed, c.suppressed) << c.what;
    }

    // A group counts the findings an earlier phase suppressed: 19 plus one
    // on a path judged normal twice make 20.
    Refinement r;
    for (int k = 0; k < 19; ++k) r.Timestamp(0x5000, with_access, tool + platform::Format(u"f%d.dll", {k}));
    r.Timestamp(0x5000, u"[Suspicious] changed to the past", tool + u"normal.dll");
    r.Normal(tool + u"normal.dll", 2);
    for (const std::string& line : r.Run()) EXPECT_TRUE(line.ends_with(" (suppressed)")) << line;
}
