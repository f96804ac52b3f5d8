#include "detection/logfile/LogFile_Refinement.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "detection/logfile/LogFile_Event_Terms.h"
#include "detection/Rule_Numbers.h"
#include "platform/text.h"

namespace {

using Detail = AntiForneisc_Behavior_Detection_Detail;
using Overview = AntiForneisc_Behavior_Detection_Overview;

// A timestamp tool's execution this close to a change (in LSN units, either
// way) is taken to have made it.
constexpr std::uint64_t Tool_Execution_Window = 0x1000;

// Paths judged normal this often have their findings suppressed.
constexpr std::size_t Normal_Repeats = 2;

// A folder with this many findings is an installation or an update, whatever
// the findings say; with this many, when every one changed only the creation
// and modified times back.
constexpr std::uint64_t Installer_Group_Size = 20;
constexpr std::uint64_t Copied_Times_Group_Size = 4;

bool Is_LogFile_Overview(const Overview& o, std::u16string_view category) {
    return o.Category == category && o.Source == Finding_Source::LogFile;
}

Overview* First_Overview(LogFile_Detection_State& context, std::u16string_view category) {
    for (const auto& o : context.g_Detection_Overview_Array)
        if (Is_LogFile_Overview(*o, category)) return o.get();
    return nullptr;
}

// The timestamp overviews of the $LogFile (the lookup-or-create rule keeps
// one, but a phase must not depend on it).
template <class Action>
void For_Each_Timestamp_Overview(LogFile_Detection_State& context, Action action) {
    for (const auto& o : context.g_Detection_Overview_Array)
        if (Is_LogFile_Overview(*o, Finding_Category::Timestamp_Manipulation)) action(*o);
}

std::uint64_t Location_Of(const Detail& d) { return platform::Read_Unsigned_Decimal(d.DetectionLocation); }

// ---- Link to a timestamp tool's execution ----

struct Tool_Execution {
    std::uint64_t Lsn;
    std::size_t Order;  // among the execution findings
    std::u16string Tool;
};

constexpr std::u16string_view Timestamp_Tool_Type = u"(Timestamp Manipulation)";

// "<program> (Timestamp Manipulation) has been executed.": the program name;
// empty when it is shorter than two characters.
std::u16string Tool_Name(std::u16string_view message) {
    const long long p = platform::Find(message, Timestamp_Tool_Type);
    return p > 2 ? platform::Left(message, p - 1) : std::u16string();
}

}  // namespace

void Link_LogFile_Timestamp_Tool_Execution(LogFile_Detection_State& context) {
    Overview* timestamps = First_Overview(context, Finding_Category::Timestamp_Manipulation);
    const Overview* executions = First_Overview(context, Finding_Category::Execution);
    if (timestamps == nullptr || executions == nullptr) return;

    // The executions of timestamp tools by LSN, each with its place in the
    // list: a finding takes the first one listed within the window, which is
    // not always the nearest.
    std::vector<Tool_Execution> tools;
    for (std::size_t order = 0; order < executions->Details.size(); ++order) {
        const Detail& e = *executions->Details[order];
        if (Holds(e.Message, Timestamp_Tool_Type)) tools.push_back({Location_Of(e), order, Tool_Name(e.Message)});
    }
    if (tools.empty()) return;
    std::stable_sort(tools.begin(), tools.end(),
                     [](const Tool_Execution& a, const Tool_Execution& b) { return a.Lsn < b.Lsn; });

    for (const auto& d : timestamps->Details) {
        if (d->ToolKind != u"Tool") continue;
        const std::uint64_t lsn = Location_Of(*d);
        const std::uint64_t low = lsn >= Tool_Execution_Window - 1 ? lsn - (Tool_Execution_Window - 1) : 0;
        const Tool_Execution* first = nullptr;
        auto it = std::lower_bound(tools.begin(), tools.end(), low,
                                   [](const Tool_Execution& t, std::uint64_t v) { return t.Lsn < v; });
        for (; it != tools.end() && Distance(it->Lsn, lsn) < Tool_Execution_Window; ++it)
            if (first == nullptr || it->Order < first->Order) first = &*it;
        if (first == nullptr) continue;

        std::u16string& message = d->Message;
        if (first->Tool.empty()) {
            platform::Replace(message, u"[Suspicious]", u"[Malicious]");
            continue;
        }
        const std::u16string prefix = platform::Format(u"[Malicious] After execution of %s,", {first->Tool});
        if (Begins_With(message, u"[Suspicious]")) platform::Replace(message, u"[Suspicious]", prefix);
        else if (Begins_With(message, u"[Malicious]")) platform::Replace(message, u"[Malicious]", prefix);
    }
}

namespace {

// The names a message says the new time was copied from: every
// "(same as a, b)" of it, in order, each name once.
std::vector<std::u16string> Same_As_Names(std::u16string_view message) {
    constexpr std::u16string_view Opening = u"(same as ";
    std::vector<std::u16string> names;
    // The search starts past the message's tag, and a hit is searched again
    // from 8 characters on (short of the whole opening, so never twice).
    for (long long from = 8;;) {
        const long long p = platform::Find(message, Opening, from);
        if (p < 0) break;
        from = p + 8;
        const long long close = platform::Find(message, u")", p + 8);
        const long long start = p + static_cast<long long>(Opening.size());
        for (std::u16string& piece : platform::Tokenize(platform::Mid(message, start, close - start), u",")) {
            if (!piece.empty() && piece.front() == u' ') piece.erase(0, 1);
            if (std::find(names.begin(), names.end(), piece) == names.end()) names.push_back(std::move(piece));
        }
    }
    return names;
}

std::u16string Folder_Of(std::u16string_view path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash + 1));
}

}  // namespace

void Verify_Same_As_Normal_File_Claims(LogFile_Detection_State& context) {
    For_Each_Timestamp_Overview(context, [](Overview& overview) {
        std::unordered_set<std::u16string_view> flagged_paths;
        for (const auto& d : overview.Details) flagged_paths.insert(d->FullPath);
        for (const auto& d : overview.Details) {
            std::u16string& message = d->Message;
            if (!Holds(message, u"[Malicious]") || !Holds(message, u"(same as") ||
                Holds(message, u"(Zero in 100-nanoseconds)"))
                continue;
            // When every file whose time was copied is flagged itself, the
            // copy says nothing about a normal file's time being borrowed.
            const std::u16string folder = Folder_Of(d->FullPath);
            bool all_flagged = true;
            for (const std::u16string& name : Same_As_Names(message))
                if (!flagged_paths.contains(folder + name)) {
                    all_flagged = false;
                    break;
                }
            if (!all_flagged) continue;
            platform::Replace(message, u"[Malicious]", u"[Suspicious]");
            platform::Replace(message, u"(Using another normal file's timestamp)", u"");
        }
    });
}

void Suppress_Normal_Time_Change_Findings(LogFile_Detection_State& context) {
    std::unordered_map<std::u16string_view, std::size_t> normal_reversals, normal_creation_updates;
    for (const auto& e : context.g_Normal_Time_Reversal_Array) ++normal_reversals[e.FullPath];
    for (const auto& e : context.g_Normal_Creation_Time_Update_Array) ++normal_creation_updates[e.FullPath];
    const auto count = [](const std::unordered_map<std::u16string_view, std::size_t>& counts,
                          std::u16string_view path) {
        const auto found = counts.find(path);
        return found == counts.end() ? 0 : found->second;
    };
    For_Each_Timestamp_Overview(context, [&](Overview& overview) {
        for (const auto& d : overview.Details) {
            if (d->FullPath.empty()) continue;
            if (Holds(d->Message, u"changed to the past") && count(normal_reversals, d->FullPath) >= Normal_Repeats)
                d->Valid = 0;
            if (Holds(d->Message, u"changed to the future") &&
                count(normal_creation_updates, d->FullPath) >= Normal_Repeats)
                d->Valid = 0;
        }
    });
}

namespace {

constexpr std::array<std::u16string_view, 3> Program_Folders = {u"\\Program Files\\", u"\\Program Files (x86)\\",
                                                                u"\\ProgramData\\"};
constexpr std::u16string_view Update_Download_Folder = u"\\Windows\\SoftwareDistribution\\Download\\";

// The path up to and including its n-th "\"; empty when it has fewer.
std::u16string_view Up_To_Backslash(std::u16string_view path, int n) {
    std::size_t at = std::u16string_view::npos;
    for (int k = 0; k < n; ++k) {
        at = path.find(u'\\', at == std::u16string_view::npos ? 0 : at + 1);
        if (at == std::u16string_view::npos) return {};
    }
    return path.substr(0, at + 1);
}

// The folder of one program (or one update package) a finding falls in;
// false when it is in none.
bool Group_Key(std::u16string_view path, std::u16string_view& key) {
    for (const std::u16string_view folder : Program_Folders)
        if (Begins_With(path, folder)) {
            key = Up_To_Backslash(path, 3);
            return true;
        }
    if (Begins_With(path, Update_Download_Folder)) {
        key = Up_To_Backslash(path, 5);
        return true;
    }
    return false;
}

// Installers and updates write their files with the times the package
// carries: the creation and modified times, set back.
bool Copied_Package_Times(std::u16string_view message) {
    return Holds(message, u"CreationTime") && Holds(message, u"ModifiedTime") && !Holds(message, u"MFTModifiedTime") &&
           !Holds(message, u"AccessedTime") && !Holds(message, u"changed to the future");
}

struct Timestamp_Manipulation_Detection_Group {
    std::u16string_view Key;
    std::uint64_t Count = 0;
    std::vector<Detail*> Details;  // not owned
};

}  // namespace

void Suppress_Program_Folder_Timestamp_Groups(LogFile_Detection_State& context) {
    For_Each_Timestamp_Overview(context, [](Overview& overview) {
        // Suppressed details count too: a folder is judged by all it holds.
        std::vector<Timestamp_Manipulation_Detection_Group> groups;
        std::unordered_map<std::u16string_view, std::size_t> group_of_key;
        for (const auto& d : overview.Details) {
            std::u16string_view key;
            if (!Group_Key(d->FullPath, key)) continue;
            const auto [found, added] = group_of_key.try_emplace(key, groups.size());
            if (added) groups.push_back({key, 0, {}});
            Timestamp_Manipulation_Detection_Group& group = groups[found->second];
            ++group.Count;
            group.Details.push_back(d.get());
        }
        for (const Timestamp_Manipulation_Detection_Group& group : groups) {
            bool suppress = group.Count >= Installer_Group_Size;
            if (!suppress && group.Count >= Copied_Times_Group_Size) {
                bool in_folder = Holds(group.Key, Update_Download_Folder);
                for (const std::u16string_view folder : Program_Folders)
                    in_folder = in_folder || Holds(group.Key, folder);
                suppress = in_folder && std::all_of(group.Details.begin(), group.Details.end(),
                                                    [](const Detail* d) { return Copied_Package_Times(d->Message); });
            }
            if (suppress)
                for (Detail* d : group.Details) d->Valid = 0;
        }
    });
}
