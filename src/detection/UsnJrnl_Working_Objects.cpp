#include "detection/UsnJrnl_Working_Objects.h"

const UsnJrnl_Record_Group2* UsnJrnl_Name_Parent_Map::Find(std::u16string_view file_name,
                                                          std::u16string_view parent_reference) const {
    const auto found = groups_.find(Key{file_name, parent_reference});
    return found == groups_.end() ? nullptr : &found->second;
}

void UsnJrnl_Name_Parent_Map::Append(std::u16string_view file_name, std::u16string_view parent_reference,
                                     Record_Index record) {
    groups_[Key{file_name, parent_reference}].Records.push_back(record);
}
