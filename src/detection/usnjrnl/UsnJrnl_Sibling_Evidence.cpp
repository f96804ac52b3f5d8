#include "detection/usnjrnl/UsnJrnl_Sibling_Evidence.h"

#include <string_view>

#include "detection/Match_Modes.h"
#include "ntfs/mft/Mft_Index.h"
#include "platform/text.h"

namespace {

// The name up to its last ".", or the whole name.
std::u16string_view Base_Name(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

}  // namespace

Sibling_Evidence_Finder::Sibling_Evidence_Finder(const UsnJrnl_Detection_State& context,
                                                 UsnJrnl_Timestamp_Indexes& indexes)
    : context_(context),
      rows_(context.g_UsnJrnl_Info_Array),
      indexes_(indexes),
      time_text_(context.g_Parsing_Context.Hour_Offset) {}

Sibling_Evidence Sibling_Evidence_Finder::Scan(std::size_t index, const _usnjrnl_basic_info_changed_last_event_time& entry,
                                               const _ENTRYINFO_2& own, Tracked_Sibling_Test test,
                                               const std::u16string& both_format, Sibling_Scan_Steps steps,
                                               const std::u16string& Tm) {
    Sibling_Evidence found;
    const std::uint64_t parent = platform::Read_Hexadecimal(entry.ParentFileReferenceNumber(rows_));
    const std::u16string own_base = platform::MakeLower(Base_Name(own.Name));
    // A sibling whose modified time differs from the file's own is
    // evidence of nothing: only those with the same modified time are
    // visited, in the folder's order.
    for (const _ENTRYINFO_2* candidate : Siblings_Modified_At(parent, own.ModifiedTime)) {
        const _ENTRYINFO_2& sibling = *candidate;
        if (sibling.Name == own.Name) continue;
        const std::u16string base = platform::MakeLower(Base_Name(sibling.Name));
        // A copy or another version of the file itself is no witness.
        if (base.size() >= 3 && own_base.size() >= 3 &&
            (base == own_base || base.starts_with(own_base) || own_base.starts_with(base)))
            continue;
        if (Tracked_Sibling_Fails(index, sibling, parent, test)) continue;
        if (sibling.CreateTime == own.CreateTime && sibling.ModifiedTime == own.ModifiedTime) {
            found.Text = both_format;
            platform::Replace(found.Text, u"%s", platform::Cut_At_Nul(sibling.Name));
            found.Same_As = true;
            return found;
        }
        if (!steps.Modified_Step || sibling.ModifiedTime != own.ModifiedTime) continue;
        found.Text = platform::Format(u"ModifiedTime(%s) is same as %s", {Tm, sibling.Name});
        if (steps.Creation_Branch) found.Same_Modified = true;
        // In a folder where programs keep their scratch copies, an equal
        // modified time is enough.
        const std::u16string_view full_path = entry.FullPath(rows_);
        const std::size_t last = full_path.rfind(u'\\');
        if (last == std::u16string_view::npos) continue;
        const std::u16string_view folder = full_path.substr(0, last + 1);
        for (const _key_temp_path_info& row : context_.g_Key_Temp_Path_Array) {
            if (Signature_Matches(row, folder)) {
                found.Same_As = true;
                return found;
            }
        }
    }
    return found;
}

// The children of `parent` whose modified time is `modified`, in the folder's
// order; each folder is sorted out once, when first asked.
const std::vector<const _ENTRYINFO_2*>& Sibling_Evidence_Finder::Siblings_Modified_At(std::uint64_t parent,
                                                                                      std::uint64_t modified) {
    auto [folder, made] = siblings_by_modified_.try_emplace(parent);
    if (made)
        for (const _ENTRYINFO_2& child : context_.g_Parsing_Context.Mft.Children_Of(parent))
            folder->second[child.ModifiedTime].push_back(&child);
    static const std::vector<const _ENTRYINFO_2*> none;
    const auto found = folder->second.find(modified);
    return found == folder->second.end() ? none : found->second;
}

bool Sibling_Evidence_Finder::Tracked_Sibling_Fails(std::size_t index, const _ENTRYINFO_2& sibling,
                                                    std::uint64_t parent, Tracked_Sibling_Test test) {
    const auto& entries = context_.g_Basic_Info_Changed_Array;
    bool fails = false;
    std::u16string sibling_creation;
    const auto judge = [&](std::size_t b) {
        if (b == index || fails || entries[b].Removed) return;
        const auto& other = entries[b];
        if (test == Tracked_Sibling_Test::Any) {
            fails = true;
            return;
        }
        if (other.CreatedKnown != 1) return;
        if (sibling_creation.empty()) sibling_creation = time_text_.Text(sibling.CreateTime);
        if (other.CreatedEventTime(rows_) != sibling_creation) fails = true;
    };
    indexes_.For_Entries_Of_Reference(sibling.FileReference, judge);
    indexes_.For_Entries_Of_Name(sibling.Name, parent, judge);
    return fails;
}
