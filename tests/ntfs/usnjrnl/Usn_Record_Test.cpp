// The record test and the decoding of one change-journal record, and the
// reason and attribute words.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ntfs/usnjrnl/Parse_UsnJrnl.h"
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

// The record test as its rules read, field by field and without the gate:
// whether a record starts at `at` of `b` (which holds at least its 60-byte
// fixed part there).
bool Rules_Accept(const std::vector<std::uint8_t>& b, std::size_t at) {
    const auto u16 = [&](std::size_t o) { return static_cast<unsigned>(b.at(at + o) | b.at(at + o + 1) << 8); };
    const std::uint32_t length = u16(0) | static_cast<std::uint32_t>(u16(2)) << 16;  // RecordLength
    if (u16(2) != 0 || u16(4) != 2 || u16(6) != 0) return false;  // below 65536, version 2.0
    if (length > b.size() - at) return false;                      // all there
    if (b.at(at + 39) != 0x01) return false;                       // TimeStamp's top byte
    const unsigned source_info = u16(44) | u16(46) << 16;
    if (source_info != 0 && source_info != 1 && source_info != 2 && source_info != 4) return false;
    if (u16(58) != 60) return false;                               // FileNameOffset
    return 60 + u16(56) <= length;                                 // the name inside the record
}

// The offsets at which the byte-aligned scan finds a record in `b`.
std::vector<std::size_t> Found_At(const std::vector<std::uint8_t>& b) {
    std::vector<std::size_t> found;
    Scan_Usn_Chunk(Byte_View(b.data(), b.size()), 1, [&](std::size_t o, const Usn_Record_V2&) { found.push_back(o); });
    return found;
}

// `record` at byte 13 (no multiple of 8) of zeros, with `tail` zeros after it.
std::vector<std::uint8_t> Placed(const std::vector<std::uint8_t>& record, std::size_t tail) {
    std::vector<std::uint8_t> b(13 + record.size() + tail, 0);
    std::copy(record.begin(), record.end(), b.begin() + 13);
    return b;
}

TEST(Usn_Record, Gate_Turns_Away_Only_What_The_Full_Test_Rejects) {
    struct Case {
        const char* what;
        Usn_Record_Builder record;
        bool gate;
        bool accepted;
    };
    const auto base = [] { return Usn_Record_Builder().Name(u"abc.txt"); };
    const std::vector<Case> cases = {
        {"plain record", base(), true, true},
        {"RecordLength 60, no name", base().Name(u"").Record_Length(60), true, true},
        {"RecordLength 59, no name", base().Name(u"").Record_Length(59), false, false},
        {"RecordLength 60, a name of one byte", base().Name(u"").Record_Length(60).Name_Length(1), true, false},
        {"RecordLength 0", base().Record_Length(0), false, false},
        {"RecordLength 0xFFFF, past the data", base().Record_Length(0xFFFF), true, false},
        {"RecordLength 0x10050", base().Record_Length(0x10050), false, false},
        {"RecordLength 0x01000050", base().Record_Length(0x01000050), false, false},
        {"MajorVersion 0x0102 (its low byte 2)", base().Version(0x0102, 0), false, false},
        {"MinorVersion 0x0100", base().Version(2, 0x0100), false, false},
        {"MinorVersion 1", base().Version(2, 1), false, false},
        {"MajorVersion 3", base().Version(3, 0), false, false},
        {"through the gate, time stamp 0", base().Time_Stamp(0), true, false},
        {"through the gate, name offset 64", base().Name_Offset(64), true, false},
    };
    for (const Case& c : cases) {
        const auto b = Placed(c.record.Build(), 64);
        EXPECT_EQ(Passes_Usn_Record_V2_Gate(Byte_View(b.data(), b.size()), 13), c.gate) << c.what;
        EXPECT_EQ(Rules_Accept(b, 13), c.accepted) << c.what;
        EXPECT_EQ(Found_At(b), c.accepted ? std::vector<std::size_t>{13} : std::vector<std::size_t>{}) << c.what;
    }
}

TEST(Usn_Record, Gated_Scan_Agrees_With_The_Rules_Over_Random_Heads) {
    // Lengths near the fixed part and near the data's end, versions one byte
    // off, and the fields behind the gate drawn as well.
    std::mt19937_64 random(60);
    const std::uint16_t versions[][2] = {{2, 0}, {2, 0}, {2, 1}, {0x0102, 0}, {3, 0}, {2, 0x0100}};
    int accepted_count = 0, short_length = 0;
    for (int i = 0; i < 3000; ++i) {
        Usn_Record_Builder record;
        record.Name(std::u16string(random() % 12, u'n'));
        const std::uint32_t length = random() % 4 == 0 ? static_cast<std::uint32_t>(random() % 0x20000)
                                                        : static_cast<std::uint32_t>(50 + random() % 60);
        const auto& version = versions[random() % std::size(versions)];
        record.Record_Length(length).Version(version[0], version[1]);
        if (random() % 4 == 0) record.Name_Length(static_cast<std::uint16_t>(random() % 40));
        if (random() % 8 == 0) record.Name_Offset(static_cast<std::uint16_t>(56 + random() % 8));
        if (random() % 8 == 0) record.Time_Stamp(random());
        if (random() % 8 == 0) record.Source_Info(static_cast<std::uint32_t>(random() % 9));
        const auto b = Placed(record.Build(), random() % 80);
        const bool gate = Passes_Usn_Record_V2_Gate(Byte_View(b.data(), b.size()), 13);
        const bool accepted = Rules_Accept(b, 13);
        ASSERT_TRUE(gate || !accepted) << "the gate turned away a record, length " << length;
        accepted_count += accepted;
        short_length += length < 60 && version[0] == 2 && version[1] == 0;
        ASSERT_EQ(Found_At(b), accepted ? std::vector<std::size_t>{13} : std::vector<std::size_t>{})
            << "length " << length << " version " << version[0] << "." << version[1];
    }
    // Both sides of the gate were met often.
    EXPECT_GT(accepted_count, 200);
    EXPECT_GT(short_length, 100);
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
    // Windows 10's storage-class bit on tiered storage is kept, after the
    // other changes and before the close.
    EXPECT_EQ(Usn_Reason_Text(0x01000100), u"File_Created / Desired_Storage_Class_Change");
    EXPECT_EQ(Usn_Reason_Text(0x81400100), u"File_Created / Transacted_Changed / Desired_Storage_Class_Change / File_Closed");
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
