#include "ntfs/logfile/analysis/LogFile_Analysis_Row_Index.h"

#include <initializer_list>

#include "ntfs/logfile/analysis/LogFile_Events.h"

namespace {

bool Contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

}  // namespace

bool Is_Naming_Event(std::u16string_view event) {
    for (const Log_Event naming : {Log_Event::File_Deletion, Log_Event::File_Creation, Log_Event::Directory_Creation,
                                   Log_Event::Renaming_File, Log_Event::Move_After})
        if (Contains(event, LogFile_Event_Text(naming))) return true;
    return false;
}

bool Is_Creation_Row(const _log_info& row) {
    return Contains(row.Event, Log_Event_Part::Creation) && !row.FileName.empty();
}

std::optional<std::size_t> LogFile_Row_Index::Newest_Naming_Row(const std::vector<_log_info>& rows,
                                                                 const std::u16string& target_vcn,
                                                                 const std::u16string& cluster_index) {
    return Newest(rows, target_vcn, cluster_index, &Record_Rows::Naming,
                  [](const _log_info& row) { return Is_Naming_Event(row.Event); });
}

std::optional<std::size_t> LogFile_Row_Index::Newest_Creation_Row(const std::vector<_log_info>& rows,
                                                                  const std::u16string& target_vcn,
                                                                  const std::u16string& cluster_index) {
    return Newest(rows, target_vcn, cluster_index, &Record_Rows::Creation, Is_Creation_Row);
}

const std::vector<std::size_t>& LogFile_Row_Index::Event_Rows(const std::vector<_log_info>& rows) {
    Sync(rows);
    return event_rows_;
}

void LogFile_Row_Index::Clear() {
    by_record_.clear();
    event_rows_.clear();
    indexed_ = 0;
    first_lsn_ = 0;
    last_lsn_ = 0;
}

template <typename Fits>
std::optional<std::size_t> LogFile_Row_Index::Newest(const std::vector<_log_info>& rows,
                                                     const std::u16string& target_vcn,
                                                     const std::u16string& cluster_index,
                                                     std::size_t Record_Rows::*slot, Fits fits) {
    Sync(rows);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto found = by_record_.find(Record_Key{target_vcn, cluster_index});
        if (found == by_record_.end() || found->second.*slot == None) return std::nullopt;
        const std::size_t position = found->second.*slot;
        const _log_info& row = rows[position];
        if (row.TargetVCN == target_vcn && row.ClusterIndex == cluster_index && fits(row)) return position;
        // The row there was changed since it was indexed: index the rows as they are now.
        Rebuild(rows);
    }
    return std::nullopt;
}

void LogFile_Row_Index::Sync(const std::vector<_log_info>& rows) {
    if (indexed_ > 0 &&
        (rows.size() < indexed_ || rows[0].ThisLSN != first_lsn_ || rows[indexed_ - 1].ThisLSN != last_lsn_)) {
        Rebuild(rows);
        return;
    }
    for (std::size_t p = indexed_; p < rows.size(); ++p) Add(p, rows[p]);
    indexed_ = rows.size();
    if (indexed_ > 0) {
        first_lsn_ = rows[0].ThisLSN;
        last_lsn_ = rows[indexed_ - 1].ThisLSN;
    }
}

void LogFile_Row_Index::Rebuild(const std::vector<_log_info>& rows) {
    Clear();
    Sync(rows);
}

void LogFile_Row_Index::Add(std::size_t position, const _log_info& row) {
    if (row.Event.empty()) return;  // neither a naming nor a creation row
    event_rows_.push_back(position);
    const bool naming = Is_Naming_Event(row.Event);
    const bool creation = Is_Creation_Row(row);
    if (!naming && !creation) return;
    Record_Rows& record = by_record_[Record_Key{row.TargetVCN, row.ClusterIndex}];
    if (naming) record.Naming = position;
    if (creation) record.Creation = position;
}
