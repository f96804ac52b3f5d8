// Which case a record reaches: its operations name the case, and the place in
// the FILE record it changes, or the bytes its data starts with, decide
// whether the case applies. A record that names a case without its
// conditions gives no event, no row and joins no transaction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ntfs/logfile/analysis/Analysis_Harness.h"

using namespace log_record_test;

namespace {

Log_Record With(Log_Record r, std::uint16_t record_offset, std::uint16_t attribute_offset) {
    r.record_offset = record_offset;
    r.attribute_offset = attribute_offset;
    return r;
}

TEST(LogFile_Analysis_Dispatch, ConditionsOfEachCase) {
    Bytes not_a_file_record = File_Record_Image({File_Name_Attribute(Root_Reference, u"a.txt")});
    std::memcpy(not_a_file_record.data(), "BAAD", 4);
    const Bytes runs{0x21, 0x10, 0x78, 0x26};
    const Bytes name = File_Name_Attribute(Root_Reference, u"c.txt");
    // A check-point record whose operations name the mapping-pairs case.
    Log_Record check_point_as_mapping_pairs = With(Check_Point(), 0xF8, 0x40);
    check_point_as_mapping_pairs.redo_operation = 0x09;
    check_point_as_mapping_pairs.undo_operation = 0x09;
    const struct {
        const char* what;
        Log_Record record;
        std::u16string event;
    } cases[] = {
        {"an image that is no FILE record", Initialize_File_Record(Place_Of(52), not_a_file_record), u""},
        // Resident content: attribute offset 0x18, record offset 0xF8 or more.
        {"resident content at record offset 0xF0 (another attribute)",
         Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0), 0xF0), u""},
        {"resident content from attribute offset 0x20",
         With(Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0)), 0x150, 0x20), u""},
        {"resident content at record offset 0xF8", Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0), 0xF8),
         u"Writing Content of Resident File"},
        // Mapping pairs: attribute offset 0x40, record offset above 0xF8.
        {"mapping pairs at record offset 0xF8", Update_Mapping_Pairs(Place_Of(70), runs, Bytes(8, 0), 0xF8), u""},
        {"mapping pairs at record offset 0x100", Update_Mapping_Pairs(Place_Of(70), runs, Bytes(8, 0), 0x100),
         u"Writing Content of Non-Resident File"},
        {"mapping pairs from attribute offset 0x48",
         With(Update_Mapping_Pairs(Place_Of(70), runs, Bytes(8, 0)), 0x190, 0x48), u""},
        {"a check point naming the mapping-pairs case", check_point_as_mapping_pairs, u""},
        // A whole $FILE_NAME: attribute offset 0, record offset 0x98 or more,
        // the data starting with the attribute type 0x30.
        {"a name without the whole attribute at the start of the data",
         With(Create_File_Name(Place_Of(52), name), 0x98, 0x18), u""},
        {"a name at record offset 0x90", With(Create_File_Name(Place_Of(52), name), 0x90, 0), u""},
        {"another attribute created whole", Create_File_Name(Place_Of(52), Standard_Information({}, 0x20)), u""},
        {"a name removed without the whole attribute",
         With(Delete_File_Name(Place_Of(52), name), 0x98, 0x18), u""},
        {"an unhandled pair of operations", Other_Record(0x15, 0x16), u""},
    };
    for (const auto& c : cases) {
        Analysis_Harness h;
        const _log_info cur = h.Run(In_Transaction(c.record, 0x50));
        EXPECT_EQ(cur.Event, c.event) << c.what;
        if (c.event.empty()) {
            EXPECT_TRUE(h.context.LogFile_Row_Array.empty()) << c.what;
            EXPECT_TRUE(h.context.Transaction_Log_Group_Array.Empty()) << c.what;
        }
    }
}

}  // namespace
