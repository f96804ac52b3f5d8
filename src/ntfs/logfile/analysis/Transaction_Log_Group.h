// The open transactions of the log-record analysis: every analysed record
// that yields an event is kept, by copy, in the group of its transaction id
// until the transaction's commit record arrives. Later records of the same
// transaction take their names from it (a deallocated FILE record from the
// directory entry removed before it).
#pragma once

#include <cstddef>
#include <iterator>
#include <list>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "records/Records.h"

// One open transaction.
class Transaction_Log_Group {
public:
    explicit Transaction_Log_Group(std::u16string transaction_id) : TransactionID(std::move(transaction_id)) {}

    // "0x%X" of the transaction id: the group's key.
    std::u16string TransactionID;

    // The records of the transaction, in arrival order.
    const std::vector<_log_info>& Records() const { return records_; }
    void Append(const _log_info& record);

    // The first record that removed a directory entry with a name ("Delete
    // Index Entry Allocation" / "Delete Index Entry Root") and whose name no
    // later record of the group added back ("Add Index Entry ..."); nullptr
    // when there is none. Kept up to date by Append, so a deallocation in a
    // long transaction does not rescan the group.
    const _log_info* First_Removed_Entry() const;

private:
    std::vector<_log_info> records_;
    // Positions of the removals that no later addition has cancelled, and the
    // same positions by name, so an addition cancels its name's removals at once.
    std::set<std::size_t> open_removals_;
    std::unordered_map<std::u16string, std::vector<std::size_t>> open_removals_by_name_;
};

// The open transactions in creation order, indexed by transaction id. A group
// is made when the first record of its transaction with an event arrives, so
// no two open groups share an id.
class Transaction_Log_Group_List {
public:
    Transaction_Log_Group_List() = default;
    Transaction_Log_Group_List(const Transaction_Log_Group_List&) = delete;
    Transaction_Log_Group_List& operator=(const Transaction_Log_Group_List&) = delete;
    Transaction_Log_Group_List(Transaction_Log_Group_List&&) = default;
    Transaction_Log_Group_List& operator=(Transaction_Log_Group_List&&) = default;

    // The open group of the transaction id, or nullptr.
    const Transaction_Log_Group* Find(const std::u16string& transaction_id) const;
    // Appends a copy of `record` to the group of its TransactionID, making
    // the group (at the end) when there is none.
    void Append(const _log_info& record);
    // Ends the group of the transaction id and forgets the FILE records it
    // initialised without a name; nothing when there is neither.
    void Commit(const std::u16string& transaction_id);

    // A FILE record initialised with no long $FILE_NAME (only
    // $STANDARD_INFORMATION, perhaps a DOS name): Windows 10 makes a file so
    // and adds its long name in a later record of the same transaction. The
    // record is kept as the creation case left it (times, attribute word),
    // with whether its FILE record header says it is a directory.
    struct Nameless_File_Record {
        _log_info Record;
        bool Is_Directory = false;
    };
    void Note_Nameless_File_Record(const _log_info& record, bool is_directory);
    // The FILE record (TargetVCN text and MFT_ClusterIndex) that the
    // transaction initialised without a long name, taken out so that it
    // names one creation only; nullopt when there is none.
    std::optional<Nameless_File_Record> Take_Nameless_File_Record(const std::u16string& transaction_id,
                                                                  const std::u16string& target_vcn,
                                                                  std::uint64_t cluster_index);

    std::size_t Size() const { return groups_.size(); }
    bool Empty() const { return groups_.empty(); }
    std::list<Transaction_Log_Group>::const_iterator begin() const { return groups_.begin(); }
    std::list<Transaction_Log_Group>::const_iterator end() const { return groups_.end(); }

private:
    std::list<Transaction_Log_Group> groups_;
    std::unordered_map<std::u16string, std::list<Transaction_Log_Group>::iterator> by_id_;
    // By transaction id, in the order noted.
    std::unordered_map<std::u16string, std::vector<Nameless_File_Record>> nameless_;
};
