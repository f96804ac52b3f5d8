// The record test and the decoding of one change-journal record, and the
// reason and attribute words.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/usnjrnl/Usn_Record.h"
#include "ntfs/usnjrnl/Usn_Test_Support.h"
#include "support/Usn_Record_Builder.h"

using test_support::Usn_Record_Builder;
using usn_test::Attribute_Words;
using usn_test::Bit_Word;
using usn_test::Reason_Words;

namespace {

std::optional<Usn_Record_V2> Decode(const std::vector<std::uint8_t>& bytes) {
    return Decode_Usn_Record_V2(Byte_View(bytes.data(), bytes.size()));
}

TEST(Usn_Record, Decodes_Every_Field) {
    const auto bytes = Usn_Record_Builder()
                           .Usn(0x123456789A)
                           .File_Reference(0x000D000000013252ull)
                           .Parent(0x00060000000009EBull)
                           .Time_Stamp(0x01D4B1D0E4F5A6B7ull)
                           .Reason(0x80000001)
                           .Source_Info(2)
                           .Attributes(0x20)
                           .Name(u"large_file.txt")
                           .Build();
    ASSERT_EQ(bytes.size(), 88u);
    const auto r = Decode(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Record_Length, 88u);
    EXPECT_EQ(r->Usn, 0x123456789Aull);
    EXPECT_EQ(r->File_Reference_Number, 0x000D000000013252ull);
    EXPECT_EQ(r->Parent_File_Reference_Number, 0x00060000000009EBull);
    EXPECT_EQ(r->Time_Stamp, 0x01D4B1D0E4F5A6B7ull);
    EXPECT_EQ(r->Reason, 0x80000001u);
    EXPECT_EQ(r->Source_Info, 2u);
    EXPECT_EQ(r->File_Attributes, 0x20u);
    EXPECT_EQ(r->File_Name, u"large_file.txt");
}

TEST(Usn_Record, Each_Record_Test) {
    struct Case {
        const char* what;
        Usn_Record_Builder record;
        bool valid;
    };
    const auto base = [] { return Usn_Record_Builder().Name(u"abc.txt"); };  // 60 + 14 -> 80 bytes
    const std::vector<Case> cases = {
        {"plain record", base(), true},
        {"USN 0 is kept", base().Usn(0), true},
        {"RecordLength upper half not 0", base().Record_Length(0x10050), false},
        {"RecordLength below the fixed part", base().Record_Length(56).Name_Length(0), false},
        {"RecordLength exactly the name's end", base().Record_Length(74), true},
        {"RecordLength one byte short of the name", base().Record_Length(73), false},
        {"RecordLength past the data", base().Record_Length(88), false},
        {"major version 3", base().Version(3, 0), false},
        {"major version 4", base().Version(4, 0), false},
        {"minor version 1", base().Version(2, 1), false},
        {"time stamp top byte 0x00", base().Time_Stamp(0x00FFFFFFFFFFFFFFull), false},
        {"time stamp top byte 0x02", base().Time_Stamp(0x0200000000000000ull), false},
        {"time stamp 0", base().Time_Stamp(0), false},
        {"earliest time stamp with top byte 0x01", base().Time_Stamp(0x0100000000000000ull), true},
        {"SourceInfo 1", base().Source_Info(1), true},
        {"SourceInfo 2", base().Source_Info(2), true},
        {"SourceInfo 4", base().Source_Info(4), true},
        {"SourceInfo 3", base().Source_Info(3), false},
        {"SourceInfo 8", base().Source_Info(8), false},
        {"name offset 0", base().Name_Offset(0), false},
        {"name offset 64", base().Name_Offset(64), false},
        {"name length 0", base().Name_Length(0), true},
        {"name length up to the record's end", base().Name_Length(20), true},
        {"name length past the record's end", base().Name_Length(21), false},
        {"name length 0xFFFF", base().Name_Length(0xFFFF), false},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(c.record.Build()).has_value(), c.valid) << c.what;
}

TEST(Usn_Record, A_Record_Cut_Anywhere_Is_Not_Decoded) {
    const auto bytes = Usn_Record_Builder().Name(u"abc.txt").Build();
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(Decode_Usn_Record_V2(Byte_View(bytes.data(), size))) << size << " bytes";
    EXPECT_TRUE(Decode_Usn_Record_V2(Byte_View(bytes.data(), bytes.size())));
}

TEST(Usn_Record, Pattern_Looks_At_Eight_Bytes_Only) {
    auto bytes = Usn_Record_Builder().Build();
    const Byte_View view(bytes.data(), bytes.size());
    EXPECT_TRUE(Is_Usn_Record_V2_Pattern(view, 0));
    EXPECT_FALSE(Is_Usn_Record_V2_Pattern(Byte_View(bytes.data(), 7), 0));
    EXPECT_FALSE(Is_Usn_Record_V2_Pattern(view, bytes.size() - 7));
    bytes[0] = 0xFF;  // any lower half of RecordLength passes
    bytes[1] = 0xFF;
    EXPECT_TRUE(Is_Usn_Record_V2_Pattern(Byte_View(bytes.data(), bytes.size()), 0));
}

TEST(Usn_Record, Names) {
    // A zero unit ends the name.
    EXPECT_EQ(Decode(Usn_Record_Builder().Name(std::u16string(u"ab\0cd", 5)).Build())->File_Name, u"ab");
    // An odd byte count: the last unit has only its low byte.
    EXPECT_EQ(Decode(Usn_Record_Builder().Name_Bytes({'a', 0, 'b', 0, 'c'}).Build())->File_Name, u"abc");
    // A name of non-ASCII units, an unpaired surrogate included, is kept as is.
    const std::u16string odd_name = u"\u00E9t\u00E9\xD800x";
    EXPECT_EQ(Decode(Usn_Record_Builder().Name(odd_name).Build())->File_Name, odd_name);
    // Only carved data can hold a name longer than 1023 units; it is cut.
    const std::u16string long_name(3000, u'n');
    EXPECT_EQ(Decode(Usn_Record_Builder().Name(long_name).Build())->File_Name, std::u16string(1023, u'n'));
}

std::u16string All_Words(const std::vector<Bit_Word>& table) {
    std::u16string text;
    for (const auto& e : table) text += (text.empty() ? u"" : u" / ") + std::u16string(e.word);
    return text;
}

TEST(Usn_Record, Reason_Words) {
    for (const auto& e : Reason_Words) EXPECT_EQ(Usn_Reason_Text(e.bit), e.word) << std::hex << e.bit;
    EXPECT_EQ(Usn_Reason_Text(0x80000102), u"File_Created / Data_Added / File_Closed");
    EXPECT_EQ(Usn_Reason_Text(0x80008103), u"File_Created / Basic_Info_Changed / Data_Added / Data_Overwritten / File_Closed");
    std::uint32_t all = 0;
    for (const auto& e : Reason_Words) all |= e.bit;
    EXPECT_EQ(Usn_Reason_Text(0xFFFFFFFF), All_Words(Reason_Words));
    EXPECT_EQ(Usn_Reason_Text(0), u"");
    // Bits outside the table add nothing.
    EXPECT_EQ(Usn_Reason_Text(~all), u"");
    EXPECT_EQ(Usn_Reason_Text(~all | 0x200), u"File_Deleted");
}

TEST(Usn_Record, Attribute_Words) {
    for (const auto& e : Attribute_Words) EXPECT_EQ(Usn_File_Attribute_Text(e.bit), e.word) << std::hex << e.bit;
    EXPECT_EQ(Usn_File_Attribute_Text(0x16), u"Directory / Hidden / System");
    std::uint32_t all = 0;
    for (const auto& e : Attribute_Words) all |= e.bit;
    EXPECT_EQ(Usn_File_Attribute_Text(0xFFFFFFFF), All_Words(Attribute_Words));
    EXPECT_EQ(Usn_File_Attribute_Text(0), u"");
    EXPECT_EQ(Usn_File_Attribute_Text(~all), u"");
}

}  // namespace
