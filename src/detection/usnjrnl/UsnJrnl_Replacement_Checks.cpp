// Whether a tracked file took the place of another file of its name: a save
// through a new file, which leaves the times of the file it replaced.
#include <string_view>

#include "detection/Rule_Numbers.h"
#include "detection/usnjrnl/UsnJrnl_Timestamp_Rules.h"
#include "platform/text.h"

namespace {

using Entry = _usnjrnl_basic_info_changed_last_event_time;
namespace Bit = Usn_Reason_Bit;

// A file takes the place of one deleted or renamed away less than this before.
constexpr std::uint64_t Replacement_Window_Seconds = 16;
// Creation records this close describe the same creation.
constexpr std::uint64_t Same_Creation_Seconds = 1;
// A file saved through a new file replaces one deleted this shortly before.
constexpr std::uint64_t Save_Window_Seconds = 5;

}  // namespace

int Match_UsnJrnl_Records_Within_15s(const UsnJrnl_Detection_State& context, const Entry& entry) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const auto usn = [&](Record_Index r) { return platform::Read_Unsigned_Decimal(rows.Field(r, Usn_Field::USN)); };
    const auto in_window = [&](Record_Index r, std::int64_t d) {
        return As_Unsigned(d - facts.Seconds(r)) < Replacement_Window_Seconds;
    };
    // The record that went away was itself created at the same moment (a
    // program's own save sequence): no replacement.
    const auto replaced = [&](Record_Index gone, std::int64_t d) {
        const std::uint32_t created = context.g_File_Created_Map.Of(facts.File_Number(gone));
        if (created == 0) return 1;
        return Magnitude(facts.Seconds(created - 1) - d) <= Same_Creation_Seconds ? 0 : 1;
    };
    int result = 0;
    const std::u16string_view parent = entry.ParentFileReferenceNumber(rows);
    if (entry.CreatedKnown == 1) {
        const std::int64_t d = facts.Seconds(entry.Created_Record);
        const std::uint64_t created_usn = usn(entry.Created_Record);
        const std::u16string_view created_name = entry.CreatedFileName(rows);
        if (context.g_File_Deleted_Map.Any_Of(created_name, parent, [&](Record_Index r) {
                if (!(usn(r) < created_usn && in_window(r, d))) return false;
                result = replaced(r, d);
                return true;
            }))
            return result;
        if (context.g_File_Renamed_Old_Map.Any_Of(created_name, parent, [&](Record_Index r) {
                return facts.File(r) != entry.File && usn(r) < created_usn && in_window(r, d);
            }))
            return 1;
    }
    if (entry.HasRenamedNew == 1) {
        const Sparse_Record_Lists::Range moved = context.g_File_Renamed_New_Map.Find(facts.Number_Of_File(entry.File));
        for (std::size_t k = 0; k < moved.size(); ++k) {
            const Record_Index moved_in = moved[k];
            const std::int64_t d = facts.Seconds(moved_in);
            const std::uint64_t moved_usn = usn(moved_in);
            const std::u16string_view name = rows.Field(moved_in, Usn_Field::FileName);
            const std::u16string_view moved_parent = rows.Field(moved_in, Usn_Field::ParentFileReferenceNumber);
            const std::uint32_t file = facts.File(moved_in);
            if (context.g_File_Deleted_Map.Any_Of(name, moved_parent,
                                                  [&](Record_Index r) { return usn(r) < moved_usn && in_window(r, d); }))
                return 1;
            if (context.g_File_Renamed_Old_Map.Any_Of(name, moved_parent, [&](Record_Index r) {
                    if (facts.File(r) == file || usn(r) >= moved_usn || !in_window(r, d)) return false;
                    result = entry.CreatedKnown == 0 ? 1 : replaced(r, d);
                    return true;
                }))
                return result;
        }
    }
    return 0;
}

int Find_UsnJrnl_File_Deleted(const UsnJrnl_Detection_State& context, UsnJrnl_Timestamp_Indexes& indexes,
                              const Entry& entry, const std::u16string& Tc, const std::u16string& Tm,
                              const std::u16string& Tf) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    const UsnJrnl_Facts& facts = *context.UsnJrnl_Record_Facts;
    const std::u16string_view created_time = entry.CreatedEventTime(rows);
    if (entry.CreatedKnown != 1 || !(Tc < created_time) || !(Tm < created_time)) return 0;
    const std::u16string_view file_name = entry.FileName(rows);
    const std::size_t dot = file_name.rfind(u'.');
    if (dot == std::u16string_view::npos) return 0;
    // Nothing in the folder can match when the last change is not the
    // MFT-modified time.
    if (entry.LastEventTime(rows) != Tf) return 0;
    const std::u16string_view base = file_name.substr(0, dot);
    const Record_Index last = entry.LastRecordIndex;
    const std::int64_t time = facts.Seconds(last);
    const Record_Lists& by_parent = indexes.By_Parent();
    const auto range = by_parent.Range(facts.Parent(last));
    const Index_Array& records = by_parent.Records();
    // The folder's records before the last change, latest first.
    for (std::size_t p = by_parent.Position(range, last); p-- > range.first;) {
        const Record_Index j = records[p];
        if (As_Unsigned(time - facts.Seconds(j)) > Save_Window_Seconds) return 0;
        if (!facts.Holds(j, Bit::File_Deleted)) continue;
        const std::u16string_view name = rows.Field(j, Usn_Field::FileName);
        const std::size_t other_dot = name.rfind(u'.');
        if (other_dot != std::u16string_view::npos && name.substr(0, other_dot) == base) return 1;
    }
    return 0;
}
