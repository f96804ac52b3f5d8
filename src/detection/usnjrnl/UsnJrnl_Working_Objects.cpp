#include "detection/usnjrnl/UsnJrnl_Working_Objects.h"

#include <algorithm>
#include <functional>

#include "detection/usnjrnl/UsnJrnl_Facts.h"

std::size_t Record_Lists::After(std::pair<std::size_t, std::size_t> range, Record_Index record) const {
    return static_cast<std::size_t>(std::upper_bound(records_.begin() + static_cast<std::ptrdiff_t>(range.first),
                                                     records_.begin() + static_cast<std::ptrdiff_t>(range.second),
                                                     record) -
                                    records_.begin());
}

std::size_t Record_Lists::Position(std::pair<std::size_t, std::size_t> range, Record_Index record) const {
    return static_cast<std::size_t>(std::lower_bound(records_.begin() + static_cast<std::ptrdiff_t>(range.first),
                                                     records_.begin() + static_cast<std::ptrdiff_t>(range.second),
                                                     record) -
                                    records_.begin());
}

std::vector<Record_Index> Sparse_Record_Lists::Range::To_Vector() const {
    std::vector<Record_Index> out;
    out.reserve(size());
    for (std::size_t k = 0; k < size(); ++k) out.push_back((*this)[k]);
    return out;
}

void Sparse_Record_Lists::Seal() {
    // Pairs sort by id, then by record: each id's records stay in record
    // order.
    std::sort(pairs_.begin(), pairs_.end());
    pairs_.shrink_to_fit();
}

Sparse_Record_Lists::Range Sparse_Record_Lists::Find(std::uint32_t id) const {
    const auto first = std::lower_bound(pairs_.begin(), pairs_.end(), std::uint64_t{id} << 32);
    const auto last = std::lower_bound(first, pairs_.end(), (std::uint64_t{id} + 1) << 32);
    return {pairs_.data() + (first - pairs_.begin()), pairs_.data() + (last - pairs_.begin())};
}

void First_Creation_Map::Build(const UsnJrnl_Facts& facts) {
    first_.assign(facts.File_Number_Count(), 0);
    for (std::size_t i = 0; i < facts.size(); ++i) {
        if (!facts.Holds(i, Usn_Reason_Bit::File_Created)) continue;
        std::uint32_t& first = first_[facts.File_Number(i)];
        if (first == 0) first = static_cast<std::uint32_t>(i) + 1;
    }
}

std::uint32_t UsnJrnl_Name_Parent_Map::Key(std::u16string_view name, std::u16string_view parent) {
    const std::uint64_t n = std::hash<std::u16string_view>()(name);
    const std::uint64_t h = n ^ (std::hash<std::u16string_view>()(parent) + 0x9E3779B97F4A7C15ull + (n << 6) + (n >> 2));
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

void UsnJrnl_Name_Parent_Map::Make() const {
    if (made_) return;
    made_ = true;
    if (facts_ == nullptr || !*facts_) return;
    const UsnJrnl_Facts& facts = **facts_;
    std::size_t count = 0;
    for (std::size_t i = 0; i < facts.size(); ++i) count += facts.Holds(i, reason_) ? 1 : 0;
    keys_.reserve(count);
    for (std::size_t i = 0; i < facts.size(); ++i)
        if (facts.Holds(i, reason_))
            keys_.push_back(std::uint64_t{Key(rows_->Field(i, Usn_Field::FileName),
                                              rows_->Field(i, Usn_Field::ParentFileReferenceNumber))}
                                << 32 |
                            static_cast<Record_Index>(i));
    // Each key's records stay in record order: the pairs sort by key, then
    // by record.
    std::sort(keys_.begin(), keys_.end());
}

std::size_t UsnJrnl_Name_Parent_Map::First_Of(std::uint32_t key) const {
    return static_cast<std::size_t>(std::lower_bound(keys_.begin(), keys_.end(), std::uint64_t{key} << 32) -
                                    keys_.begin());
}

std::vector<Record_Index> UsnJrnl_Name_Parent_Map::Find(std::u16string_view file_name,
                                                        std::u16string_view parent_reference) const {
    std::vector<Record_Index> out;
    Any_Of(file_name, parent_reference, [&](Record_Index r) {
        out.push_back(r);
        return false;
    });
    return out;
}

std::size_t UsnJrnl_Name_Parent_Map::size() const {
    Make();
    // Within one key, a pair counts when no earlier record of the key has
    // the same texts.
    std::size_t count = 0;
    for (std::size_t p = 0; p < keys_.size();) {
        std::size_t end = p;
        while (end < keys_.size() && keys_[end] >> 32 == keys_[p] >> 32) ++end;
        for (std::size_t q = p; q < end; ++q) {
            const Record_Index r = static_cast<Record_Index>(keys_[q]);
            const std::u16string_view name = rows_->Field(r, Usn_Field::FileName);
            const std::u16string_view parent = rows_->Field(r, Usn_Field::ParentFileReferenceNumber);
            bool first = true;
            for (std::size_t o = p; o < q && first; ++o) first = !Is(static_cast<Record_Index>(keys_[o]), name, parent);
            if (first) ++count;
        }
        p = end;
    }
    return count;
}

void Backward_Window_Ends(const Seconds_Array& seconds, std::int64_t below_a, std::int64_t below_b,
                          const Record_Index* wanted, std::size_t count, Index_Array& ends_a, Index_Array& ends_b) {
    ends_a.assign(count, 0);
    ends_b.assign(count, 0);
    if (count == 0) return;
    // Records later than every record after them, nearest on top (times
    // falling towards the top), and records earlier than every record after
    // them (times rising towards the top).
    std::vector<std::uint32_t> later, earlier;
    const auto earlier_end = [&](std::int64_t time, std::int64_t below, std::uint32_t end) {
        // The nearest record earlier than time - below is one of `earlier`.
        const auto first_not_below = std::lower_bound(
            earlier.begin(), earlier.end(), time - below, [&](std::uint32_t j, std::int64_t t) { return seconds[j] < t; });
        return first_not_below == earlier.begin() ? end : std::max(end, *(first_not_below - 1) + 1);
    };
    std::size_t next = 0;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        const std::int64_t time = seconds[i];
        while (!later.empty() && seconds[later.back()] <= time) later.pop_back();
        if (wanted[next] == i) {
            const std::uint32_t end = later.empty() ? 0 : later.back() + 1;
            ends_a[next] = earlier_end(time, below_a, end);
            ends_b[next] = earlier_end(time, below_b, end);
            if (++next == count) return;
        }
        later.push_back(static_cast<std::uint32_t>(i));
        while (!earlier.empty() && seconds[earlier.back()] >= time) earlier.pop_back();
        earlier.push_back(static_cast<std::uint32_t>(i));
    }
}

void Forward_Window_Ends(const Seconds_Array& seconds, std::int64_t above, const Record_Index* wanted,
                         std::size_t count, Index_Array& ends) {
    const std::size_t records = seconds.size();
    ends.assign(count, static_cast<std::uint32_t>(records));
    std::vector<std::uint32_t> earlier, later;
    std::size_t next = count;
    for (std::size_t i = records; i-- > 0 && next > 0;) {
        const std::int64_t time = seconds[i];
        while (!earlier.empty() && seconds[earlier.back()] >= time) earlier.pop_back();
        if (wanted[next - 1] == i) {
            std::uint32_t end = earlier.empty() ? static_cast<std::uint32_t>(records) : earlier.back();
            // `later` holds times rising away from the top; the nearest
            // record later than time + above is the topmost such.
            const auto first_above = std::upper_bound(
                later.rbegin(), later.rend(), time + above, [&](std::int64_t t, std::uint32_t j) { return t < seconds[j]; });
            if (first_above != later.rend()) end = std::min(end, *first_above);
            ends[--next] = end;
        }
        earlier.push_back(static_cast<std::uint32_t>(i));
        while (!later.empty() && seconds[later.back()] <= time) later.pop_back();
        later.push_back(static_cast<std::uint32_t>(i));
    }
}

void Event_Time_Lists::Append(Chain& chain, std::int64_t seconds) {
    const std::uint32_t link = static_cast<std::uint32_t>(times_.size());
    times_.push_back(seconds);
    next_.push_back(None);
    if (chain.Last == None) chain.First = link;
    else next_[chain.Last] = link;
    chain.Last = link;
}
