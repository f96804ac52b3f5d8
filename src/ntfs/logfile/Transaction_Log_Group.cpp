#include "ntfs/logfile/Transaction_Log_Group.h"

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
    const auto found = by_id_.find(transaction_id);
    if (found == by_id_.end()) return;
    groups_.erase(found->second);
    by_id_.erase(found);
}
