#include "detection/Rule_Terms.h"
#include "detection/usnjrnl/Program_Update_Periods.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "detection/Match_Modes.h"
#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "ntfs/mft/Mft_Index.h"
#include "output/Time_Text.h"
#include "platform/text.h"

namespace {

namespace Bit = Usn_Reason_Bit;

// A program's own scratch folder is busy all the time and says nothing about
// its updates.
constexpr std::u16string_view Temp_Component = u"Temp";

// A period goes on over a pause shorter than this...
constexpr std::uint64_t Period_Pause_Seconds = 40;
// ...and, for the next record of the same file (not a directory), over a
// pause shorter than this.
constexpr std::uint64_t Same_File_Pause_Seconds = 120;

// The program folder: the key without its trailing "\".
std::u16string_view Program_Folder(std::u16string_view key) {
    return key.empty() ? key : key.substr(0, key.size() - 1);
}

// Where a record lies below its update path: its program folder's key and
// the folder's own name.
struct Program_Key {
    std::u16string_view Key;
    std::u16string_view Last_Component;
};

// The key of `full_path` at folder depth `depth`: the path up to and
// including its depth-th "\" counted from the second character on. A
// directory one level short of that depth is the program folder itself.
// False when the record belongs to no program folder. `scratch` holds a key
// that is not a prefix of the path.
bool Find_Program_Key(std::u16string_view full_path, bool directory, std::uint64_t depth, std::u16string& scratch,
                      Program_Key& out) {
    if (depth == 0) {
        out = {full_path.substr(0, 1), {}};
        return true;
    }
    // The first character stands in for the "\" before the first component.
    std::size_t preceding = 0;
    std::size_t hit = std::u16string_view::npos;
    std::uint64_t found = 0;
    for (std::size_t from = 1; found < depth; ++found) {
        const std::size_t at = full_path.find(u'\\', from);
        if (at == std::u16string_view::npos) break;
        if (hit != std::u16string_view::npos) preceding = hit;
        hit = at;
        from = at + 1;
    }
    if (found == depth) {
        out = {full_path.substr(0, hit + 1), full_path.substr(preceding + 1, hit - preceding - 1)};
        return true;
    }
    if (!directory) return false;
    scratch.assign(full_path);
    scratch += u'\\';
    const std::size_t last = full_path.rfind(u'\\');
    out = {scratch, last == std::u16string_view::npos ? std::u16string_view() : full_path.substr(last + 1)};
    return true;
}

// Counts the files and directories below the program folder, found by
// climbing from the parent of one of the group's records (from the second
// on) to the folder in the $MFT. A group none of whose records leads there
// keeps both counts at 0.
void Count_Program_Folder(UsnJrnl_Detection_State& context, const Program_Operation_Candidate_Group& group) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const Mft_Index& mft = context.g_Parsing_Context.Mft;
    const std::u16string_view folder = Program_Folder(group.ProgramKey);
    for (std::size_t k = 1; k < group.Records.size(); ++k) {
        const Record_Index record = group.Records[k];
        const std::u16string_view full_path = rows.Field(record, Usn_Field::FullPath);
        if (full_path.empty()) return;
        const std::size_t last = full_path.rfind(u'\\');
        if (last == std::u16string_view::npos) return;
        // Each step drops one component of the path, so the climb ends
        // whatever parent links a damaged $MFT holds.
        std::u16string_view path = full_path.substr(0, last);
        std::uint64_t reference = platform::Read_Hexadecimal(rows.Field(record, Usn_Field::ParentFileReferenceNumber));
        for (;;) {
            const _ENTRYINFO_2* node = mft.Find_Path_Node(reference);
            if (node == nullptr) break;
            if (path == folder) {
                Count_Entries_Under_Directory(context, node->FileReference);
                return;
            }
            reference = node->ParentReference;
            const std::size_t cut = path.rfind(u'\\');
            if (cut == std::u16string_view::npos) break;
            path = path.substr(0, cut);
        }
    }
}

std::unique_ptr<Program_Update_Period> Open_Period(const UsnJrnl_Info_Rows& rows, Record_Index record) {
    auto period = std::make_unique<Program_Update_Period>();
    period->StartTime = period->EndTime = rows.Field(record, Usn_Field::TimeStamp);
    period->Records.push_back(record);
    return period;
}

void Close_Period(const UsnJrnl_Detection_State& context, const Program_Operation_Candidate_Group& group,
                  std::unique_ptr<Program_Update_Period> period, Program_Update_Period_Group& out) {
    period->ProgramKey = group.ProgramKey;
    period->FolderFileCount = context.g_File_Count;
    period->FolderDirectoryCount = context.g_Directory_Count;
    out.Periods.push_back(std::move(period));
}

// Cuts the group's records into periods at their pauses.
void Cut_Into_Periods(const UsnJrnl_Detection_State& context, const Program_Operation_Candidate_Group& group,
                      Program_Update_Period_Group& out) {
    const std::vector<Record_Index>& records = group.Records;
    if (records.size() < 2) return;
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    std::unique_ptr<Program_Update_Period> open = Open_Period(rows, records[0]);
    std::int64_t end_seconds = facts.Seconds(records[0]);
    for (std::size_t k = 1; k < records.size(); ++k) {
        const Record_Index record = records[k];
        // Counted before the split: a record that opens a new period counts
        // in the one it closes.
        if (facts.Holds_Close(record)) {
            ++open->CloseCount;
            if (facts.Holds(record, Bit::Basic_Info_Changed)) ++open->BasicInfoCloseCount;
            else ++open->OtherCloseCount;
        }
        // Unsigned: a record earlier than the period's end opens a new one.
        const std::uint64_t gap = As_Unsigned(facts.Seconds(record) - end_seconds);
        const bool continues = gap < Period_Pause_Seconds ||
                               (gap < Same_File_Pause_Seconds && !facts.Directory_Attribute(record) &&
                                facts.File(record) == facts.File(records[k - 1]));
        if (continues) {
            open->Records.push_back(record);
            open->EndTime = rows.Field(record, Usn_Field::TimeStamp);
        } else {
            Close_Period(context, group, std::move(open), out);
            open = Open_Period(rows, record);
        }
        end_seconds = facts.Seconds(record);
    }
    Close_Period(context, group, std::move(open), out);
}

// What one period creates, deletes and changes, each file or directory
// counted once by its FileReferenceNumber (its id), each folder by its
// ParentFileReferenceNumber.
struct Period_Sets {
    std::unordered_set<std::uint32_t> Seen_Files, Changed_Files, Created_Files, Deleted_Files, Parent_Folders;
    std::unordered_set<std::uint32_t> Seen_Directories, Changed_Directories, Time_Changed_Directories,
        Deleted_Directories;
    // With each directory's first creation record.
    std::unordered_map<std::uint32_t, Record_Index> Created_Directories;
};

void Index_Period(const UsnJrnl_Detection_State& context, Shifted_Time_Text_Maker& time_text,
                  Program_Update_Period& period) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const Mft_Index& mft = context.g_Parsing_Context.Mft;
    const std::u16string_view folder = Program_Folder(period.ProgramKey);
    Period_Sets sets;
    for (const Record_Index record : period.Records) {
        const std::uint32_t reference = facts.File(record);
        const bool directory = facts.Directory_Attribute(record);
        if (directory) {
            // The program folder's own records say nothing about what lies in it.
            if (rows.Field(record, Usn_Field::FullPath) == folder) {
                if (facts.Holds(record, Bit::File_Created)) period.FolderCreated = 1;
                continue;
            }
            if (facts.Holds(record, Bit::File_Created)) sets.Created_Directories.try_emplace(reference, record);
            if (facts.Holds(record, Bit::File_Deleted)) sets.Deleted_Directories.insert(reference);
            if (facts.Holds(record, Bit::Basic_Info_Changed)) {
                sets.Changed_Directories.insert(reference);
                if (!sets.Time_Changed_Directories.contains(reference)) {
                    const auto created = sets.Created_Directories.find(reference);
                    if (created != sets.Created_Directories.end()) {
                        const _ENTRYINFO_2* entry =
                            mft.Find_By_Reference(platform::Read_Hexadecimal(facts.File_Text(reference)));
                        if (entry != nullptr && entry->IsDeleted == 0 &&
                            time_text.Text(entry->CreateTime) != rows.Field(created->second, Usn_Field::TimeStamp))
                            sets.Time_Changed_Directories.insert(reference);
                    }
                }
            }
            sets.Seen_Directories.insert(reference);
        } else {
            sets.Seen_Files.insert(reference);
            if (facts.Holds(record, Bit::Basic_Info_Changed)) sets.Changed_Files.insert(reference);
            // A file renamed into the folder counts as created when the
            // journal holds its creation anywhere.
            if (facts.Holds(record, Bit::File_Created) ||
                (facts.Holds(record, Bit::File_Renamed_New) &&
                 context.g_File_Created_Map.Of(facts.File_Number(record)) != 0))
                sets.Created_Files.insert(reference);
            if (facts.Holds(record, Bit::File_Deleted)) sets.Deleted_Files.insert(reference);
            sets.Parent_Folders.insert(facts.Parent(record));
        }
    }
    const auto count = [](const auto& set) { return static_cast<std::uint32_t>(set.size()); };
    period.FilesSeen = count(sets.Seen_Files);
    period.FilesWithBasicInfo = count(sets.Changed_Files);
    period.FilesWithoutBasicInfo = period.FilesSeen - period.FilesWithBasicInfo;
    period.FilesCreated = count(sets.Created_Files);
    period.FilesDeleted = count(sets.Deleted_Files);
    period.ParentFolders = count(sets.Parent_Folders);
    period.DirectoriesSeen = count(sets.Seen_Directories);
    period.DirectoriesWithBasicInfo = count(sets.Changed_Directories);
    period.DirectoriesWithoutBasicInfo = period.DirectoriesSeen - period.DirectoriesWithBasicInfo;
    period.DirectoriesTimeChanged = count(sets.Time_Changed_Directories);
    period.DirectoriesCreated = count(sets.Created_Directories);
    period.DirectoriesDeleted = count(sets.Deleted_Directories);
    // A period's records never go back in time (a record earlier than the
    // period's end opens a new period), so the span is not negative.
    period.Span = static_cast<std::uint32_t>(facts.Seconds(period.Records.back()) - facts.Seconds(period.Records.front()));
}

}  // namespace

const _program_update_path_info* Update_Path_Of(const UsnJrnl_Detection_State& context,
                                                std::u16string_view full_path) {
    for (const _program_update_path_info& row : context.g_Update_Path_Signature_Array)
        if (Signature_Matches(row, full_path)) return &row;
    return nullptr;
}

void Group_By_Update_Path(UsnJrnl_Detection_State& context, std::size_t i) {
    if (context.g_Update_Path_Signature_Array.empty()) return;
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const std::u16string_view full_path = rows.Field(i, Usn_Field::FullPath);
    if (full_path.empty()) return;
    const _program_update_path_info* update_path = Update_Path_Of(context, full_path);
    if (update_path == nullptr) return;
    std::u16string scratch;
    Program_Key key;
    if (!Find_Program_Key(full_path, context.UsnJrnl_Record_Facts->Directory_Attribute(i), update_path->FolderDepth,
                          scratch, key))
        return;
    if (key.Last_Component == Temp_Component) return;

    const Record_Index record = static_cast<Record_Index>(i);
    const auto found = context.Program_Group_Of_Key.find(key.Key);
    if (found != context.Program_Group_Of_Key.end()) {
        context.Program_Operation_Candidate_Group_Array[found->second]->Records.push_back(record);
        return;
    }
    auto group = std::make_unique<Program_Operation_Candidate_Group>();
    group->ProgramKey = key.Key;
    group->Records.push_back(record);
    context.Program_Group_Of_Key.emplace(group->ProgramKey, context.Program_Operation_Candidate_Group_Array.size());
    context.Program_Operation_Candidate_Group_Array.push_back(std::move(group));
}

void Build_Creation_Map(UsnJrnl_Detection_State& context) {
    context.g_File_Created_Map.Build(*context.UsnJrnl_Record_Facts);
}

void Build_Lifecycle_Maps(UsnJrnl_Detection_State& context) {
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    context.g_File_Renamed_New_Map.clear();
    for (std::size_t i = 0; i < facts.size(); ++i)
        if (facts.Holds(i, Bit::File_Renamed_New))
            context.g_File_Renamed_New_Map.Add(facts.File_Number(i), static_cast<Record_Index>(i));
    context.g_File_Renamed_New_Map.Seal();
    context.g_File_Deleted_Map.Build(context.g_UsnJrnl_Info_Array, context.UsnJrnl_Record_Facts, Bit::File_Deleted);
    context.g_File_Renamed_Old_Map.Build(context.g_UsnJrnl_Info_Array, context.UsnJrnl_Record_Facts,
                                         Bit::File_Renamed_Old);
}

void Build_Program_Periods(UsnJrnl_Detection_State& context) {
    Read_UsnJrnl_Facts(context);
    for (const auto& group : context.Program_Operation_Candidate_Group_Array) {
        auto periods = std::make_unique<Program_Update_Period_Group>();
        periods->ProgramKey = group->ProgramKey;
        context.g_File_Count = 0;
        context.g_Directory_Count = 0;
        Count_Program_Folder(context, *group);
        Cut_Into_Periods(context, *group, *periods);
        context.Program_Update_Period_Group_Array.push_back(std::move(periods));
    }
}

void Index_Period_Events(UsnJrnl_Detection_State& context) {
    Read_UsnJrnl_Facts(context);
    Shifted_Time_Text_Maker time_text(context.g_Parsing_Context.Hour_Offset);
    for (const auto& group : context.Program_Update_Period_Group_Array)
        for (const auto& period : group->Periods) Index_Period(context, time_text, *period);
}

int Count_Entries_Under_Directory(UsnJrnl_Detection_State& context, std::uint64_t reference) {
    const Mft_Index& mft = context.g_Parsing_Context.Mft;
    // Each directory is expanded once: the root lists itself among its
    // children, and a damaged $MFT can list a directory below itself. A
    // listing of a directory already expanded still counts as a directory.
    std::unordered_set<std::uint64_t> expanded = {reference};
    std::vector<std::uint64_t> pending = {reference};
    while (!pending.empty()) {
        const std::uint64_t directory = pending.back();
        pending.pop_back();
        for (const _ENTRYINFO_2& child : mft.Children_Of(directory)) {
            if (child.IsDirectory == 0) {
                ++context.g_File_Count;
                continue;
            }
            ++context.g_Directory_Count;
            if (expanded.insert(child.FileReference).second) pending.push_back(child.FileReference);
        }
    }
    return 1;
}
