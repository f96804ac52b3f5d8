#include "detection/logfile/LogFile_Event_Index.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "detection/logfile/LogFile_Detection_State.h"
#include "detection/logfile/LogFile_Event_Terms.h"
#include "detection/Rule_Numbers.h"
#include "platform/text.h"

namespace {

using Row = LogFile_Event_Index::Row;

std::uint32_t Bits_Of_Event_Text(std::u16string_view event) {
    using namespace Event_Bit;
    struct Test {
        std::u16string_view Text;
        bool Whole;  // equal rather than held
        std::uint32_t Bit;
    };
    static constexpr Test Tests[] = {
        {LogFile_Event_Text(Log_Event::Check_Point), true, Is_Check_Point},
        {Log_Event_Part::Named_Creation, false, Holds_Creation},
        {LogFile_Event_Text(Log_Event::File_Creation), false, Holds_File_Creation},
        {Log_Event_Part::Directory, false, Holds_Directory},
        {Log_Event_Part::Deletion, false, Holds_Deletion},
        {LogFile_Event_Text(Log_Event::File_Deletion), true, Is_File_Deletion},
        {LogFile_Event_Text(Log_Event::Renaming_File), true, Is_Renaming_File},
        {LogFile_Event_Text(Log_Event::Renaming_File), false, Holds_Renaming_File},
        {LogFile_Event_Text(Log_Event::Move_Before), true, Is_Move_Before},
        {LogFile_Event_Text(Log_Event::Move_After), true, Is_Move_After},
        {LogFile_Event_Text(Log_Event::Time_Reversal_Event), false, Holds_Time_Reversal},
        {LogFile_Event_Text(Log_Event::CreationTime_Update_Event), false, Holds_CreationTime_Update},
        {LogFile_Event_Text(Log_Event::Updating_Modified_Time), false, Holds_Updating_Modified},
        {LogFile_Event_Text(Log_Event::Updating_MFTModified_Time), false, Holds_Updating_MFTModified},
        {LogFile_Event_Text(Log_Event::Changing_FileAttribute), false, Holds_Changing_Attribute},
        {Log_Event_Part::Writing_Content, false, Holds_Writing_Content},
        {LogFile_Event_Text(Log_Event::Writing_Resident_Content), false, Holds_Writing_Resident},
    };
    std::uint32_t bits = 0;
    for (const Test& t : Tests)
        if (t.Whole ? event == t.Text : Holds(event, t.Text)) bits |= t.Bit;
    return bits;
}

struct View_Pair_Hash {
    std::size_t operator()(const std::pair<std::u16string_view, std::u16string_view>& p) const {
        const std::size_t a = std::hash<std::u16string_view>()(p.first);
        return a ^ (std::hash<std::u16string_view>()(p.second) + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
    }
};

template <class Map, class Key>
std::span<const Row> List_Of(const Map& map, const Key& key) {
    const auto found = map.find(key);
    if (found == map.end()) return {};
    return found->second;
}

}  // namespace

LogFile_Event_Index::LogFile_Event_Index(const Log_Info_Rows& rows) : rows_(rows) {
    // Rows are numbered in 32 bits; a log of four billion events does not fit
    // in memory long before.
    const std::size_t n = std::min<std::size_t>(rows.size(), No_Row - 1);
    lsn_.resize(n);
    file_.resize(n);
    bits_.resize(n);
    seconds_.assign(n, 0);
    check_points_before_.assign(n + 1, 0);
    creation_before_.assign(n, No_Row);

    // Most events share a handful of event texts; read each text once.
    std::unordered_map<std::u16string_view, std::uint32_t> bits_by_text;
    std::unordered_map<std::pair<std::u16string_view, std::u16string_view>, std::uint32_t, View_Pair_Hash> files;
    std::vector<Row> last_creation;  // per file
    std::vector<std::uint32_t> file_sizes;

    for (std::size_t i = 0; i < n; ++i) {
        const std::u16string_view event = rows.Field(i, Log_Field::Event);
        auto [text, added] = bits_by_text.try_emplace(event, 0);
        if (added) text->second = Bits_Of_Event_Text(event);
        std::uint32_t bits = text->second;

        const std::u16string_view detail = rows.Field(i, Log_Field::Detail);
        if ((bits & Event_Bit::Is_Renaming_File) && Holds(detail, u" ->")) bits |= Event_Bit::Has_Old_Name;
        const std::u16string_view event_time = rows.Field(i, Log_Field::EventTime);
        if (!event_time.empty()) {
            bits |= Event_Bit::Has_Event_Time;
            seconds_[i] = Time_Text_Seconds(event_time);
        }
        bits_[i] = bits;
        lsn_[i] = platform::Read_Unsigned_Decimal(rows.Field(i, Log_Field::LSN));

        const auto [file, new_file] = files.try_emplace(
            {rows.Field(i, Log_Field::TargetVCN), rows.Field(i, Log_Field::ClusterIndex)},
            static_cast<std::uint32_t>(files.size()));
        if (new_file) {
            last_creation.push_back(No_Row);
            last_deletion_.push_back(No_Row);
            file_sizes.push_back(0);
        }
        const std::uint32_t f = file->second;
        file_[i] = f;
        ++file_sizes[f];
        creation_before_[i] = last_creation[f];
        if (bits & Event_Bit::Holds_Creation) last_creation[f] = static_cast<Row>(i);
        if (bits & Event_Bit::Holds_Deletion) last_deletion_[f] = static_cast<Row>(i);

        check_points_before_[i + 1] = check_points_before_[i];
        if (bits & Event_Bit::Is_Check_Point) {
            check_points_.push_back(static_cast<Row>(i));
            ++check_points_before_[i + 1];
        }

        const std::u16string_view file_name = rows.Field(i, Log_Field::FileName);
        if (bits & (Event_Bit::Is_File_Deletion | Event_Bit::Is_Move_Before)) name_leaving_[file_name].push_back(i);
        if (bits & Event_Bit::Has_Old_Name) {
            const std::u16string_view old_name = Old_Name(i);
            name_leaving_[old_name].push_back(i);
            const std::u16string_view path = rows.Field(i, Log_Field::FullPath);
            const std::size_t slash = path.rfind(u'\\');
            if (slash != std::u16string_view::npos) {
                std::u16string key(path.substr(0, slash + 1));
                key += old_name;
                renamed_from_path_[std::move(key)].push_back(i);
            }
        }
        if (bits & Event_Bit::Holds_Renaming_File) renamed_to_[file_name].push_back(i);
    }

    file_start_.assign(file_sizes.size() + 1, 0);
    for (std::size_t f = 0; f < file_sizes.size(); ++f) file_start_[f + 1] = file_start_[f] + file_sizes[f];
    file_rows_.resize(n);
    position_in_file_.resize(n);
    std::vector<std::uint32_t> filled(file_start_.begin(), file_start_.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t at = filled[file_[i]]++;
        file_rows_[at] = static_cast<Row>(i);
        position_in_file_[i] = at - file_start_[file_[i]];
    }
}

std::u16string_view LogFile_Event_Index::Old_Name(std::size_t i) const {
    if (!Is(i, Event_Bit::Has_Old_Name)) return {};
    const std::u16string_view detail = rows_.Field(i, Log_Field::Detail);
    return detail.substr(0, detail.find(u" ->"));
}

LogFile_Event_Index::Row LogFile_Event_Index::Check_Point_Before(std::size_t i, std::size_t k) const {
    const std::size_t below = check_points_before_[std::min(i, Size())];
    return k >= 1 && k <= below ? check_points_[below - k] : No_Row;
}

LogFile_Event_Index::Row LogFile_Event_Index::Check_Point_After(std::size_t i, std::size_t k) const {
    const std::size_t through = check_points_before_[std::min(i + 1, Size())];
    return k >= 1 && through + k - 1 < check_points_.size() ? check_points_[through + k - 1] : No_Row;
}

std::span<const LogFile_Event_Index::Row> LogFile_Event_Index::File_Events(std::size_t i) const {
    const std::uint32_t f = file_[i];
    return std::span<const Row>(file_rows_).subspan(file_start_[f], file_start_[f + 1] - file_start_[f]);
}

std::span<const LogFile_Event_Index::Row> LogFile_Event_Index::Name_Leaving(std::u16string_view name) const {
    return List_Of(name_leaving_, name);
}

std::span<const LogFile_Event_Index::Row> LogFile_Event_Index::Renamed_From_Path(std::u16string_view path) const {
    const auto found = renamed_from_path_.find(std::u16string(path));
    if (found == renamed_from_path_.end()) return {};
    return found->second;
}

std::span<const LogFile_Event_Index::Row> LogFile_Event_Index::Renamed_To(std::u16string_view name) const {
    return List_Of(renamed_to_, name);
}

std::span<const LogFile_Event_Index::Row> Rows_Between(std::span<const LogFile_Event_Index::Row> list,
                                                        std::size_t first, std::size_t last) {
    if (first > last) return {};
    const auto begin = std::lower_bound(list.begin(), list.end(), first,
                                        [](LogFile_Event_Index::Row r, std::size_t v) { return r < v; });
    const auto end = std::upper_bound(begin, list.end(), last,
                                      [](std::size_t v, LogFile_Event_Index::Row r) { return v < r; });
    return {begin, end};
}

const LogFile_Event_Index& LogFile_Event_Index_Of(LogFile_Detection_State& context) {
    if (!context.g_LogFile_Event_Index)
        context.g_LogFile_Event_Index = std::make_unique<LogFile_Event_Index>(context.g_Log_Info_Array);
    return *context.g_LogFile_Event_Index;
}
