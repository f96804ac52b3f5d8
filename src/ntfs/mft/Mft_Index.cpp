#include "ntfs/mft/Mft_Index.h"

#include <algorithm>

#include "ntfs/Ntfs_Layout.h"

namespace {

void Sort(std::vector<Mft_Index::Key_Index>& v) {
    // Entries are appended in insertion order, so the index breaks ties the
    // way an insertion-ordered multimap would.
    std::sort(v.begin(), v.end(), [](const Mft_Index::Key_Index& x, const Mft_Index::Key_Index& y) {
        return x.Key != y.Key ? x.Key < y.Key : x.Index < y.Index;
    });
}

}  // namespace

void Mft_Index::Add_Entry(_ENTRYINFO_2 entry, bool path_node) {
    if (entries_.size() >= Prefix_Missing) return;
    entries_.push_back(std::move(entry));
    is_path_node_.push_back(path_node ? 1 : 0);
    path_node_count_ += path_node ? 1 : 0;
}

void Mft_Index::Finish() {
    const std::size_t n = entries_.size();
    std::uint64_t highest_number = 0;
    for (const _ENTRYINFO_2& e : entries_) highest_number = std::max(highest_number, Entry_Number_Of(e.FileReference));
    const std::size_t table_size = n ? static_cast<std::size_t>(highest_number) + 1 : 0;
    first_entry_.assign(table_size, No_Node);
    first_path_node_.assign(table_size, No_Node);
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto number = static_cast<std::size_t>(Entry_Number_Of(entries_[i].FileReference));
        if (first_entry_[number] == No_Node) first_entry_[number] = i;
        if (is_path_node_[i] && first_path_node_[number] == No_Node) first_path_node_[number] = i;
    }

    by_lsn_.clear();
    by_parent_.clear();
    by_lsn_.reserve(n);
    by_parent_.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        by_lsn_.push_back({entries_[i].MFT_LSN, i});
        by_parent_.push_back({entries_[i].ParentReference, i});
    }
    Sort(by_lsn_);
    Sort(by_parent_);

    path_cache_.Reset(n);
}

const Mft_Index::Key_Index* Mft_Index::First_Of(const std::vector<Key_Index>& sorted, std::uint64_t key) {
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                     [](const Key_Index& x, std::uint64_t k) { return x.Key < k; });
    if (it == sorted.end() || it->Key != key) return nullptr;
    return &*it;
}

std::uint32_t Mft_Index::Path_Node_Of(std::uint64_t full_reference) const {
    const std::uint64_t number = Entry_Number_Of(full_reference);
    if (number >= first_path_node_.size()) return No_Node;
    const std::uint32_t node = first_path_node_[static_cast<std::size_t>(number)];
    if (node == No_Node || entries_[node].FileReference != full_reference) return No_Node;
    return node;
}

const _ENTRYINFO_2* Mft_Index::Find_Path_Node(std::uint64_t full_reference) const {
    const std::uint32_t node = Path_Node_Of(full_reference);
    return node == No_Node ? nullptr : &entries_[node];
}

const _ENTRYINFO_2* Mft_Index::Find_By_Number(std::uint64_t entry_number) const {
    if (entry_number >= first_path_node_.size()) return nullptr;
    const std::uint32_t node = first_path_node_[static_cast<std::size_t>(entry_number)];
    return node == No_Node ? nullptr : &entries_[node];
}

const _ENTRYINFO_2* Mft_Index::Find_By_LSN(std::uint64_t lsn) const {
    const Key_Index* found = First_Of(by_lsn_, lsn);
    return found ? &entries_[found->Index] : nullptr;
}

const _ENTRYINFO_2* Mft_Index::Find_By_Reference(std::uint64_t full_reference) const {
    const std::uint64_t number = Entry_Number_Of(full_reference);
    if (number >= first_entry_.size()) return nullptr;
    const std::uint32_t first = first_entry_[static_cast<std::size_t>(number)];
    if (first == No_Node || entries_[first].FileReference != full_reference) return nullptr;
    return &entries_[first];
}

Mft_Index::Entry_Range Mft_Index::Children_Of(std::uint64_t parent_reference) const {
    const auto [first, last] = std::equal_range(
        by_parent_.begin(), by_parent_.end(), Key_Index{parent_reference, 0},
        [](const Key_Index& x, const Key_Index& y) { return x.Key < y.Key; });
    if (first == last) return Entry_Range();
    return Entry_Range(&entries_, &*first, &*first + (last - first));
}

std::uint32_t Mft_Index::Resolve_Prefix(std::uint32_t node) {
    // Climb until a node whose prefix is known or needs no parent, marking
    // the nodes on the way; meeting a marked node again is a parent loop.
    path_cache_.Climb.clear();
    std::uint32_t base = Prefix_Missing;
    std::uint32_t at = node;
    for (;;) {
        const std::uint32_t known = path_cache_.Slot_Of[at];
        if (known == Prefix_In_Progress) break;  // a loop: no path
        if (known != Prefix_Unknown) {
            base = known;
            break;
        }
        const _ENTRYINFO_2& entry = entries_[at];
        if (entry.Name == u".") {  // the root's own node
            base = path_cache_.Slot_Of[at] = Prefix_Backslash;
            break;
        }
        if (entry.IsDirectory == 0) {  // under a file the path stays relative
            base = path_cache_.Slot_Of[at] = Prefix_Empty;
            break;
        }
        path_cache_.Slot_Of[at] = Prefix_In_Progress;
        path_cache_.Climb.push_back(at);
        if (Is_Root_Reference(entry.ParentReference)) {
            base = Prefix_Backslash;
            break;
        }
        at = Path_Node_Of(entry.ParentReference);
        if (at == No_Node) break;  // an ancestor that was never indexed
    }
    // Unwind from the top: each directory's prefix is its parent's prefix,
    // its name and a backslash.
    for (auto it = path_cache_.Climb.rbegin(); it != path_cache_.Climb.rend(); ++it) {
        if (base != Prefix_Missing) {
            const std::u16string& parent_text = path_cache_.Texts[base];
            const std::u16string& name = entries_[*it].Name;
            // A prefix already past the longest path gives no path below it;
            // it is not kept, so the memo never holds texts past the limit.
            if (parent_text.size() + name.size() + 1 > Max_Full_Path_Units) {
                base = Prefix_Missing;
            } else {
                std::u16string text;
                text.reserve(parent_text.size() + name.size() + 1);
                text.append(parent_text).append(name).push_back(u'\\');
                path_cache_.Texts.push_back(std::move(text));
                base = static_cast<std::uint32_t>(path_cache_.Texts.size() - 1);
            }
        }
        path_cache_.Slot_Of[*it] = base;
    }
    path_cache_.Climb.clear();
    return path_cache_.Slot_Of[node];
}

std::u16string Mft_Index::Full_Path_Of(std::uint64_t reference, std::u16string_view name) {
    std::u16string path;
    Full_Path_Of(reference, name, path);
    return path;
}

void Mft_Index::Full_Path_Of(std::uint64_t reference, std::u16string_view name, std::u16string& out) {
    out.clear();
    if (Is_Root_Reference(reference)) {
        if (1 + name.size() > Max_Full_Path_Units) return;
        out.push_back(u'\\');
        out.append(name);
        return;
    }
    const std::uint32_t own = Path_Node_Of(reference);
    if (own == No_Node) return;
    const std::uint32_t parent = Path_Node_Of(entries_[own].ParentReference);
    if (parent == No_Node) return;
    const std::uint32_t slot = Resolve_Prefix(parent);
    if (slot == Prefix_Missing || path_cache_.Texts[slot].size() + name.size() > Max_Full_Path_Units) return;
    out.append(path_cache_.Texts[slot]).append(name);
}
