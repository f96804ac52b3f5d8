#include "detection/logfile/LogFile_History_Predicates.h"

#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "detection/logfile/LogFile_Event_Index.h"
#include "detection/logfile/LogFile_Event_Terms.h"

namespace {

using Row = LogFile_Event_Index::Row;
using namespace Event_Bit;

// The backward name watches look back to the fifth check point; the move
// sequences to the third in either direction. The check point that ends a
// walk is still examined.
constexpr std::size_t Name_Watch_Check_Points = 5;
constexpr std::size_t Move_Sequence_Check_Points = 3;

// A name passing to another file shows within this LSN distance after the
// change; walk B, which also asks that the events fall in the same second or
// the next, looks further.
constexpr std::uint64_t Walk_A_Window = 0x2000;
constexpr std::uint64_t Walk_B_Window = 0x10000;

// The first row a backward walk from i - 1 examines when it ends at the k-th
// check point (the start of the log when there are fewer).
std::size_t Walk_Floor(const LogFile_Event_Index& x, std::size_t i, std::size_t k) {
    const Row r = x.Check_Point_Before(i, k);
    return r == LogFile_Event_Index::No_Row ? 0 : r;
}

// The last row a forward walk from i + 1 examines when it ends at the k-th
// check point (the end of the log when there are fewer).
std::size_t Walk_Ceiling(const LogFile_Event_Index& x, std::size_t i, std::size_t k) {
    const Row r = x.Check_Point_After(i, k);
    return r == LogFile_Event_Index::No_Row ? x.Size() - 1 : r;
}

// How a forward walk of the name watches runs.
struct Walk_Style {
    std::uint64_t Window;
    // Walk B: only events of the same second as event i, or the next, count.
    bool Same_Second;
    // Watches 3 and 7 count another record where either text differs, and
    // the file's own rename or move away from its name ends them.
    bool Own_Leaving_Ends_Rename_And_Move;
    // Watch 5 likewise, for the file's own deletion of its name.
    bool Own_Leaving_Ends_Deletion;
    // Watch 9 keeps the moved file's path, and a move away must start there.
    bool Moved_Path_Kept;
};

constexpr Walk_Style Walk_A{Walk_A_Window, false, false, false, false};
constexpr Walk_Style Walk_B{Walk_B_Window, true, true, true, true};
constexpr Walk_Style Walk_A_After_B{Walk_A_Window, false, true, false, false};

class Name_Watches {
public:
    Name_Watches(LogFile_Detection_State& context, const LogFile_Event_Index& index, std::size_t i)
        : rows_(context.g_Log_Info_Array), x_(index), i_(i), name_(rows_.Field(i, Log_Field::FileName)) {}

    // The backward walk: a watch anchors on the nearest event of the file
    // with event i's name; from there back, evidence of the name leaving
    // another file explains the change.
    bool Backward(int created) const {
        const std::size_t floor = Walk_Floor(x_, i_, Name_Watch_Check_Points);
        const std::u16string_view path = rows_.Field(i_, Log_Field::FullPath);
        Row renamed_to = LogFile_Event_Index::No_Row;  // watch 1
        Row moved_to = LogFile_Event_Index::No_Row;    // watch 2
        Row created_as = LogFile_Event_Index::No_Row;  // watch 3
        const auto events = x_.File_Events(i_);
        for (std::size_t q = x_.Position_In_File(i_); q-- > 0;) {
            const Row j = events[q];
            if (j < floor) break;
            if (renamed_to == LogFile_Event_Index::No_Row && x_.Is(j, Is_Renaming_File) && Named(j)) {
                const std::u16string_view anchor_path = rows_.Field(j, Log_Field::FullPath);
                if (created == 0 || anchor_path.empty() || path.empty() || anchor_path == path) renamed_to = j;
            }
            if (moved_to == LogFile_Event_Index::No_Row && x_.Is(j, Is_Move_After) && Named(j)) moved_to = j;
            if (created == 1 && created_as == LogFile_Event_Index::No_Row && x_.Is(j, Holds_File_Creation) &&
                Named(j))
                created_as = j;
        }

        const std::span<const Row> leaving = x_.Name_Leaving(name_);
        // Watches 1 and 3 take the same evidence: anything of the name
        // leaving, from the nearer anchor back.
        const Row name_anchor = Nearer(renamed_to, created_as);
        if (name_anchor != LogFile_Event_Index::No_Row && !Rows_Between(leaving, floor, name_anchor).empty())
            return true;
        if (moved_to == LogFile_Event_Index::No_Row) return false;

        const std::u16string_view moved_path = rows_.Field(moved_to, Log_Field::FullPath);
        for (const Row j : Rows_Between(leaving, floor, moved_to)) {
            if (x_.Is(j, Is_File_Deletion)) return true;
            if (x_.Is(j, Is_Move_Before) && rows_.Field(j, Log_Field::FullPath) == moved_path) return true;
            if (created == 0 && x_.Is(j, Has_Old_Name)) return true;
        }
        // Once created, a rename counts only when it left the very path the
        // file was moved to.
        return created == 1 && !Rows_Between(x_.Renamed_From_Path(moved_path), floor, moved_to).empty();
    }

    bool Forward(const Walk_Style& style) const;

private:
    bool Named(std::size_t j) const { return rows_.Field(j, Log_Field::FileName) == name_; }
    static Row Nearer(Row a, Row b) {
        if (a == LogFile_Event_Index::No_Row) return b;
        if (b == LogFile_Event_Index::No_Row) return a;
        return a > b ? a : b;
    }

    const Log_Info_Rows& rows_;
    const LogFile_Event_Index& x_;
    std::size_t i_;
    std::u16string_view name_;
};

bool Name_Watches::Forward(const Walk_Style& style) const {
    using Names = std::unordered_set<std::u16string_view>;
    Names renamed_from, deleted, moved_away;
    bool move_after_rename = false, move_after_deletion = false, move_after_move = false;
    bool own_rename_seen = false, own_deletion_seen = false, own_move_seen = false;
    bool renamed_kept = false, moved_kept = false;
    std::u16string_view renamed_name, moved_name, moved_path;
    const std::u16string rename_of_own_name = std::u16string(name_) + u" ->";
    const std::u16string_view target_vcn = rows_.Field(i_, Log_Field::TargetVCN);
    const std::u16string_view cluster_index = rows_.Field(i_, Log_Field::ClusterIndex);
    const std::uint64_t lsn = x_.Lsn(i_);
    const std::int64_t own_seconds = x_.Event_Seconds(i_);
    std::int64_t last_seconds = 0;  // the zero date before any time is read

    // Evidence that `kept` left a file: deleted, renamed away or moved away.
    const auto leaves = [&](std::size_t k, std::u16string_view kept, std::u16string_view file_name) {
        return ((x_.Is(k, Is_File_Deletion | Is_Move_Before)) && file_name == kept) ||
               (x_.Is(k, Has_Old_Name) && x_.Old_Name(k) == kept);
    };

    for (std::size_t k = i_ + 1; k < x_.Size(); ++k) {
        bool counts = true;
        if (style.Same_Second) {
            if (x_.Is(k, Has_Event_Time)) last_seconds = x_.Event_Seconds(k);
            const std::int64_t after = last_seconds - own_seconds;
            counts = after == 0 || after == 1;
        }
        if (counts) {
            const bool same = x_.Same_File(i_, k);
            // "Another record" in the plain walk A: both texts differ.
            const bool apart = rows_.Field(k, Log_Field::TargetVCN) != target_vcn &&
                               rows_.Field(k, Log_Field::ClusterIndex) != cluster_index;
            const std::u16string_view file_name = rows_.Field(k, Log_Field::FileName);
            const bool has_old = x_.Is(k, Has_Old_Name);
            const std::u16string_view old_name = has_old ? x_.Old_Name(k) : std::u16string_view();
            const bool renaming = x_.Is(k, Is_Renaming_File);
            const bool deletion = x_.Is(k, Is_File_Deletion);
            const bool move_before = x_.Is(k, Is_Move_Before);
            const bool move_after = x_.Is(k, Is_Move_After);

            // 1. The file took a name that another file was renamed from.
            if (has_old) renamed_from.insert(old_name);
            if (same && renaming && !renamed_from.empty() && renamed_from.contains(file_name)) return true;
            // 2. ... or was moved to it.
            if (same && move_before && !renamed_from.empty() && file_name == name_) move_after_rename = true;
            if (move_after_rename && same && move_after && renamed_from.contains(file_name)) return true;
            // 3. Another file was renamed away from event i's name.
            if (has_old && old_name == name_) {
                if (!style.Own_Leaving_Ends_Rename_And_Move) {
                    if (apart) return true;
                } else if (!own_rename_seen) {
                    if (same) own_rename_seen = true;
                    else return true;
                }
            }
            // 4. The file took the name of a deleted file.
            if (deletion) deleted.insert(file_name);
            if (!deleted.empty()) {
                if (same && renaming && deleted.contains(file_name)) return true;
                if (same && move_before && file_name == name_) move_after_deletion = true;
            }
            if (move_after_deletion && same && move_after && deleted.contains(file_name)) return true;
            // 5. A file of event i's name was deleted.
            if (deletion && file_name == name_) {
                if (!style.Own_Leaving_Ends_Deletion) return true;
                if (!own_deletion_seen) {
                    if (same) own_deletion_seen = true;
                    else return true;
                }
            }
            // 6. The file took the name of a file moved away.
            if (apart && move_before) moved_away.insert(file_name);
            if (!moved_away.empty()) {
                if (same && renaming && moved_away.contains(file_name)) return true;
                if (same && move_before && file_name == name_) move_after_move = true;
            }
            if (move_after_move && same && move_after && moved_away.contains(file_name)) return true;
            // 7. A file of event i's name was moved away.
            if (move_before && file_name == name_) {
                if (!style.Own_Leaving_Ends_Rename_And_Move) {
                    if (apart) return true;
                } else if (!own_move_seen) {
                    if (same) own_move_seen = true;
                    else return true;
                }
            }
            // 8. The file was renamed from event i's name, and the new name
            // left again.
            if (same && renaming && Holds(rows_.Field(k, Log_Field::Detail), rename_of_own_name)) {
                renamed_kept = true;
                renamed_name = file_name;
            }
            if (renamed_kept && leaves(k, renamed_name, file_name)) return true;
            // 9. The file was moved, and the name it was moved to left again.
            if (same && move_after) {
                moved_kept = true;
                moved_name = file_name;
                moved_path = rows_.Field(k, Log_Field::FullPath);
            }
            if (moved_kept) {
                if (deletion && file_name == moved_name) return true;
                if (has_old && old_name == moved_name) return true;
                if (move_before && file_name == moved_name &&
                    (!style.Moved_Path_Kept || rows_.Field(k, Log_Field::FullPath) == moved_path))
                    return true;
            }
        }
        // Unsigned: an event with a smaller LSN than event i's ends the walk.
        if (x_.Lsn(k) - lsn > style.Window) break;
    }
    return false;
}

}  // namespace

int Is_Normal_CreationTime_Change(LogFile_Detection_State& context, std::size_t i, int created) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    if (!Holds(rows.Field(i, Log_Field::Detail), u"CreationTime")) return 0;
    const LogFile_Event_Index& x = LogFile_Event_Index_Of(context);
    const Name_Watches watches(context, x, i);
    if (watches.Backward(created)) return 1;
    if (created == 0) return 0;
    if (rows.Field(i, Log_Field::EventTime).empty()) return watches.Forward(Walk_A) ? 1 : 0;
    if (watches.Forward(Walk_B)) return 1;
    return watches.Forward(Walk_A_After_B) ? 1 : 0;
}

int Check_Move_Sequence_Before(LogFile_Detection_State& context, std::size_t i, std::u16string& first_step_lsn) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    const LogFile_Event_Index& x = LogFile_Event_Index_Of(context);
    const std::u16string_view name = rows.Field(i, Log_Field::FileName);
    const std::size_t floor = Walk_Floor(x, i, Move_Sequence_Check_Points);
    bool moved_in = false;   // Move_After under event i's name
    bool moved_out = false;  // Move_Before before that
    const auto events = x.File_Events(i);
    for (std::size_t q = x.Position_In_File(i); q-- > 0;) {
        const Row j = events[q];
        if (j < floor) break;
        if (!moved_in) {
            if (!x.Is(j, Is_Move_After) || rows.Field(j, Log_Field::FileName) != name) continue;
            moved_in = true;
        }
        if (x.Is(j, Is_Move_Before)) moved_out = true;
        if (moved_out && x.Is(j, Holds_Time_Reversal | Holds_CreationTime_Update)) {
            first_step_lsn = rows.Field(j, Log_Field::LSN);
            return x.Is(j, Holds_Time_Reversal) ? 1 : 2;
        }
    }
    return 0;
}

int Check_Move_Sequence_After(LogFile_Detection_State& context, std::size_t i) {
    const Log_Info_Rows& rows = context.g_Log_Info_Array;
    if (!Holds(rows.Field(i, Log_Field::Detail), u"CreationTime")) return 0;
    const LogFile_Event_Index& x = LogFile_Event_Index_Of(context);
    if (i + 1 >= x.Size()) return 0;
    const std::u16string_view name = rows.Field(i, Log_Field::FileName);
    const std::size_t ceiling = Walk_Ceiling(x, i, Move_Sequence_Check_Points);
    bool moved_out = false, moved_in = false, changed_again = false;
    const auto events = x.File_Events(i);
    for (std::size_t q = x.Position_In_File(i) + 1; q < events.size(); ++q) {
        const Row k = events[q];
        if (k > ceiling) break;
        bool step = true;
        if (!moved_out) {
            if (x.Is(k, Is_Move_Before) && rows.Field(k, Log_Field::FileName) == name) moved_out = true;
            else step = false;
        }
        if (step && x.Is(k, Is_Move_After)) moved_in = true;
        // A later time change of the moved file vetoes, however late.
        if (moved_in && x.Is(k, Holds_Time_Reversal | Holds_CreationTime_Update)) changed_again = true;
    }
    return moved_out && moved_in && !changed_again ? 1 : 0;
}
