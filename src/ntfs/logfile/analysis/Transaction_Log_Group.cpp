#include "ntfs/logfile/analysis/Transaction_Log_Group.h"

#include "ntfs/logfile/LogFile_Format.h"

void Transaction_Log_Group::Append(const _log_info& record) {
    const std::size_t position = records_.size();
    records_.push_back(record);
    const Log_Operation redo{record.Redo_Operation};
    if (Is_Index_Entry_Addition(redo)) {
        const auto cancelled = open_removals_by_name_.find(record.FileName);
        if (cancelled != open_removals_by_name_.end()) {
            for (const std::size_t removal : cancelled->second) open_removals_.erase(removal);
            open_removals_by_name_.erase(cancelled);
        }
    } else if (Is_Index_Entry_Removal(redo) && !record.FileName.empty()) {
        open_removals_.insert(position);
        open_removals_by_name_[record.FileName].push_back(position);
    }
}

const _log_info* Transaction_Log_Group::First_Removed_Entry() const {
    if (open_removals_.empty()) return nullptr;
    return &records_[*open_removals_.begin()];
}

const Transaction_Log_Group* Transaction_Log_Group_List::Find(const std::u16string& transaction_id) const {
    const auto found = by_id_.find(transaction_id);
    return found == by_id_.end() ? nullptr : &*found->second;
}

void Transaction_Log_Group_List::Append(const _log_info& record) {
    auto found = by_id_.find(record.TransactionID);
    if (found == by_id_.end()) {
        groups_.emplace_back(record.TransactionID);
        found = by_id_.emplace(record.TransactionID, std::prev(groups_.end())).first;
    }
    found->second->Append(record);
}

void Transaction_Log_Group_List::Commit(const std::u16string& transaction_id) {
    nameless_.erase(transaction_id);
    const auto found = by_id_.find(transaction_id);
    if (found == by_id_.end()) return;
    groups_.erase(found->second);
    by_id_.erase(found);
}

void Transaction_Log_Group_List::Note_Nameless_File_Record(const _log_info& record, bool is_directory) {
    nameless_[record.TransactionID].push_back(Nameless_File_Record{record, is_directory});
}

std::optional<Transaction_Log_Group_List::Nameless_File_Record> Transaction_Log_Group_List::Take_Nameless_File_Record(
    const std::u16string& transaction_id, const std::u16string& target_vcn, std::uint64_t cluster_index) {
    const auto found = nameless_.find(transaction_id);
    if (found == nameless_.end()) return std::nullopt;
    std::vector<Nameless_File_Record>& records = found->second;
    // The newest initialisation of the FILE record is the one the name belongs to.
    for (std::size_t k = records.size(); k-- > 0;) {
        if (records[k].Record.TargetVCN != target_vcn || records[k].Record.MFT_ClusterIndex != cluster_index) continue;
        Nameless_File_Record taken = std::move(records[k]);
        records.erase(records.begin() + static_cast<std::ptrdiff_t>(k));
        if (records.empty()) nameless_.erase(found);
        return taken;
    }
    return std::nullopt;
}
