#include "detection/UsnJrnl_Working_Objects.h"

#include <algorithm>

const UsnJrnl_Record_Group2* UsnJrnl_Name_Parent_Map::Find(std::u16string_view file_name,
                                                          std::u16string_view parent_reference) const {
    const auto found = groups_.find(Key{file_name, parent_reference});
    return found == groups_.end() ? nullptr : &found->second;
}

void UsnJrnl_Name_Parent_Map::Append(std::u16string_view file_name, std::u16string_view parent_reference,
                                     Record_Index record) {
    groups_[Key{file_name, parent_reference}].Records.push_back(record);
}

void Record_Lists::Build(std::size_t count, const std::function<std::u16string_view(std::size_t)>& key) {
    key_of_.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        key_of_[i] = id_.try_emplace(key(i), static_cast<std::uint32_t>(id_.size())).first->second;
    start_.assign(id_.size() + 1, 0);
    for (std::size_t i = 0; i < count; ++i) ++start_[key_of_[i] + 1];
    for (std::size_t k = 0; k < id_.size(); ++k) start_[k + 1] += start_[k];
    records_.resize(count);
    position_.resize(count);
    std::vector<std::uint32_t> next(start_.begin(), start_.end() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        position_[i] = next[key_of_[i]]++;
        records_[position_[i]] = static_cast<Record_Index>(i);
    }
}

std::pair<std::size_t, std::size_t> Record_Lists::Range(std::u16string_view key) const {
    const auto found = id_.find(key);
    if (found == id_.end()) return {0, 0};
    return {start_[found->second], start_[found->second + 1]};
}

std::size_t Record_Lists::After(std::pair<std::size_t, std::size_t> range, Record_Index record) const {
    return static_cast<std::size_t>(std::upper_bound(records_.begin() + static_cast<std::ptrdiff_t>(range.first),
                                                     records_.begin() + static_cast<std::ptrdiff_t>(range.second),
                                                     record) -
                                    records_.begin());
}

std::vector<std::uint32_t> Backward_Window_Ends(const std::vector<std::int64_t>& seconds, std::int64_t below) {
    const std::size_t count = seconds.size();
    std::vector<std::uint32_t> ends(count, 0);
    // Records later than every record after them, nearest on top (times
    // falling towards the top), and records earlier than every record after
    // them (times rising towards the top).
    std::vector<std::uint32_t> later, earlier;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t time = seconds[i];
        while (!later.empty() && seconds[later.back()] <= time) later.pop_back();
        std::uint32_t end = later.empty() ? 0 : later.back() + 1;
        // The nearest record earlier than time - below is one of `earlier`.
        const auto first_not_below = std::lower_bound(
            earlier.begin(), earlier.end(), time - below, [&](std::uint32_t j, std::int64_t t) { return seconds[j] < t; });
        if (first_not_below != earlier.begin()) end = std::max(end, *(first_not_below - 1) + 1);
        ends[i] = end;
        later.push_back(static_cast<std::uint32_t>(i));
        while (!earlier.empty() && seconds[earlier.back()] >= time) earlier.pop_back();
        earlier.push_back(static_cast<std::uint32_t>(i));
    }
    return ends;
}

std::vector<std::uint32_t> Forward_Window_Ends(const std::vector<std::int64_t>& seconds, std::int64_t above) {
    const std::size_t count = seconds.size();
    std::vector<std::uint32_t> ends(count, static_cast<std::uint32_t>(count));
    std::vector<std::uint32_t> earlier, later;
    for (std::size_t i = count; i-- > 0;) {
        const std::int64_t time = seconds[i];
        while (!earlier.empty() && seconds[earlier.back()] >= time) earlier.pop_back();
        std::uint32_t end = earlier.empty() ? static_cast<std::uint32_t>(count) : earlier.back();
        // `later` holds times rising away from the top; the nearest record
        // later than time + above is the topmost such.
        const auto first_above = std::upper_bound(
            later.rbegin(), later.rend(), time + above, [&](std::int64_t t, std::uint32_t j) { return t < seconds[j]; });
        if (first_above != later.rend()) end = std::min(end, *first_above);
        ends[i] = end;
        earlier.push_back(static_cast<std::uint32_t>(i));
        while (!later.empty() && seconds[later.back()] <= time) later.pop_back();
        later.push_back(static_cast<std::uint32_t>(i));
    }
    return ends;
}

