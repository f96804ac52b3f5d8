#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ntfs/mft/File_Record.h"
#include "support/Mft_Record_Builder.h"

using namespace test_support;

namespace {

// A name of distinct letters, so an unrepaired sector end shows in it.
std::u16string Counting_Name(std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'A' + i % 26));
    return s;
}

Decoded_File_Record Decode(std::vector<std::uint8_t>& bytes, bool* accepted = nullptr) {
    Decoded_File_Record out;
    const bool ok = Decode_File_Record(bytes, out);
    if (accepted) *accepted = ok;
    return out;
}

}  // namespace

TEST(File_Record, HeaderTest) {
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"intact", [](auto&) {}, true},
        {"signature BAAD", [](auto& b) { b[0] = 'B'; b[1] = 'A'; b[2] = 'A'; b[3] = 'D'; }, false},
        {"NTFS 1.2 update-sequence offset 0x2A", [](auto& b) { b[4] = 0x2A; }, true},
        {"update-sequence offset 0x31", [](auto& b) { b[4] = 0x31; }, false},
        {"first attribute at 499", [](auto& b) { Put_U16(b, 0x14, 499); }, true},
        {"first attribute at 500", [](auto& b) { Put_U16(b, 0x14, 500); }, false},
        {"all zero", [](auto& b) { std::fill(b.begin(), b.end(), 0); }, false},
    };
    for (const auto& c : cases) {
        auto bytes = Mft_Record_Builder().Standard_Information(1).File_Name(Mft_Reference(5, 5), u"a").Build();
        c.damage(bytes);
        bool accepted = false;
        Decode(bytes, &accepted);
        EXPECT_EQ(accepted, c.accepted) << c.what;
    }
}

TEST(File_Record, RecordSizeComesFromRecordZero) {
    const auto r1024 = Mft_Record_Builder(1024).Build();
    const auto r4096 = Mft_Record_Builder(4096).Build();
    auto r2048 = Mft_Record_Builder(1024).Build();
    Put_U32(r2048, 0x1C, 2048);  // allocated size neither 1024 nor 4096
    auto not_file = r4096;
    not_file[0] = 'X';
    EXPECT_EQ(File_Record_Size_From_Record_0(Byte_View(r1024)), 1024u);
    EXPECT_EQ(File_Record_Size_From_Record_0(Byte_View(r4096)), 4096u);
    EXPECT_EQ(File_Record_Size_From_Record_0(Byte_View(r2048)), 1024u);
    EXPECT_EQ(File_Record_Size_From_Record_0(Byte_View(not_file)), 1024u);
    EXPECT_EQ(File_Record_Size_From_Record_0(Byte_View(r4096.data(), 0x1D)), 1024u);  // field cut off
}

// The name of the second attribute starts at 0x38 + 96 + 0x18 + 0x42 = 242
// and runs across the end of sector 1 (bytes 510-511).
TEST(File_Record, FixupRepairsEverySectorEnd) {
    const std::u16string long_name = Counting_Name(200);
    {
        auto bytes = Mft_Record_Builder().Standard_Information(1).File_Name(Mft_Reference(5, 5), long_name).Build();
        EXPECT_NE(bytes[510] | bytes[511] << 8, static_cast<int>(long_name[(510 - 242) / 2]));  // USN in place
        const auto record = Decode(bytes);
        ASSERT_EQ(record.Names.size(), 1u);
        EXPECT_EQ(record.Names[0].Name, long_name);
    }
    // 4096-byte records: a name across the end of sector 3 (byte 1534) is
    // repaired too, not only the first two sectors.
    {
        Mft_Record_Builder b(4096);
        b.Standard_Information(1).Named_Data(u"pad", 1200).File_Name(Mft_Reference(5, 5), Counting_Name(100));
        const std::size_t name_at = b.Attribute_Offset(2) + 0x18 + 0x42;
        ASSERT_LT(name_at, 1534u);
        ASSERT_GT(name_at + 200, 1536u);
        auto bytes = b.Build();
        const auto record = Decode(bytes);
        ASSERT_EQ(record.Names.size(), 1u);
        EXPECT_EQ(record.Names[0].Name, Counting_Name(100));
    }
}

TEST(File_Record, FixupThatCannotApplyLeavesTheRecordInUse) {
    const std::u16string long_name = Counting_Name(200);
    const std::size_t unit_at_510 = (510 - 242) / 2;
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        char16_t expected_unit;  // what the name holds at bytes 510-511
    };
    const std::vector<Case> cases = {
        // The sector end no longer holds the number: left as it is.
        {"sector end differs", [](auto& b) { Put_U16(b, 510, 0x4242); }, u'\x4242'},
        // Array offset 0x3F30: low byte passes the header test, the array is
        // far outside the record; no fix-up, the sector end keeps the number.
        {"array outside the record", [](auto& b) { Put_U16(b, 0x04, 0x3F30); }, u'\x0001'},
        {"count 0", [](auto& b) { Put_U16(b, 0x06, 0); }, u'\x0001'},
    };
    for (const auto& c : cases) {
        auto bytes = Mft_Record_Builder().Standard_Information(1).File_Name(Mft_Reference(5, 5), long_name).Build();
        c.damage(bytes);
        bool accepted = false;
        const auto record = Decode(bytes, &accepted);
        ASSERT_TRUE(accepted) << c.what;
        ASSERT_EQ(record.Names.size(), 1u) << c.what;
        EXPECT_EQ(record.Names[0].Name[unit_at_510], c.expected_unit) << c.what;
        EXPECT_EQ(record.Names[0].Name.size(), long_name.size()) << c.what;
    }
}

TEST(File_Record, AttributeWalk) {
    struct Expect {
        std::size_t names;
        bool has_si;
        std::uint64_t data_size;
        bool zone;
    };
    struct Case {
        const char* what;
        std::function<void(Mft_Record_Builder&)> build;
        std::function<void(const Mft_Record_Builder&, std::vector<std::uint8_t>&)> damage;
        Expect expect;
    };
    const std::uint64_t root = Mft_Reference(5, 5);
    const auto none = [](const Mft_Record_Builder&, std::vector<std::uint8_t>&) {};
    const std::vector<Case> cases = {
        {"complete",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a.txt").Data(100).Named_Data(u"Zone.Identifier"); },
         none, {1, true, 100, true}},
        {"stream name must be exactly Zone.Identifier",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a").Named_Data(u"Zone.Identifierx"); },
         none, {1, true, 0, false}},
        {"a later unnamed $DATA wins",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a").Data(10).Data(5'000'000'000ull, false); },
         none, {1, true, 5'000'000'000ull, false}},
        {"DOS alias dropped; Win32, POSIX and Win32+DOS names kept",
         [&](auto& b) {
             b.Standard_Information(1)
                 .File_Name(root, u"LONGNA~1.TXT", File_Name_Space::Dos)
                 .File_Name(root, u"Long name.txt", File_Name_Space::Win32)
                 .File_Name(root, u"posix", File_Name_Space::Posix)
                 .File_Name(root, u"short", File_Name_Space::Win32_And_Dos);
         },
         none, {3, true, 0, false}},
        {"zero attribute length ends the walk",
         [&](auto& b) { b.Standard_Information(1).Resident(0x40, {}, std::vector<std::uint8_t>(16)).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U32(bytes, b.Attribute_Offset(1) + 4, 0); }, {0, true, 0, false}},
        {"a type above 0xFF is the last attribute read",
         [&](auto& b) { b.Standard_Information(1).Resident(0x100, {}, std::vector<std::uint8_t>(16)).File_Name(root, u"a"); },
         none, {0, true, 0, false}},
        {"a length above the record size ends the walk",
         [&](auto& b) { b.Standard_Information(1).Resident(0x40, {}, std::vector<std::uint8_t>(16)).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U32(bytes, b.Attribute_Offset(1) + 4, 1025); }, {0, true, 0, false}},
        {"the end marker ends the walk",
         [&](auto& b) { b.Standard_Information(1).Resident(0x40, {}, std::vector<std::uint8_t>(16)).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U32(bytes, b.Attribute_Offset(1), 0xFFFFFFFF); }, {0, true, 0, false}},
        {"$STANDARD_INFORMATION content past the record",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U16(bytes, b.Attribute_Offset(0) + 0x14, 0x3F0); }, {0, false, 0, false}},
        {"$FILE_NAME content past the record",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U16(bytes, b.Attribute_Offset(1) + 0x14, 0x3F0); }, {0, true, 0, false}},
        {"$FILE_NAME name past the record",
         [&](auto& b) { b.Standard_Information(1).Resident(0x40, {}, std::vector<std::uint8_t>(560)).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { bytes[b.Attribute_Offset(2) + 0x18 + 0x40] = 255; }, {0, true, 0, false}},
        {"stream name past the record keeps what came before",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a").Data(10).Named_Data(u"Zone.Identifier"); },
         [](const auto& b, auto& bytes) { Put_U16(bytes, b.Attribute_Offset(3) + 0x0A, 0x3F0); }, {1, true, 10, false}},
        {"an attribute header cut by the record end",
         [&](auto& b) { b.Standard_Information(1).File_Name(root, u"a"); },
         [](const auto& b, auto& bytes) { Put_U32(bytes, b.Attribute_Offset(1) + 4, static_cast<std::uint32_t>(1022 - b.Attribute_Offset(1))); },
         {1, true, 0, false}},
    };
    for (const auto& c : cases) {
        Mft_Record_Builder b;
        c.build(b);
        auto bytes = b.Build();
        c.damage(b, bytes);
        bool accepted = false;
        const auto record = Decode(bytes, &accepted);
        ASSERT_TRUE(accepted) << c.what;
        EXPECT_EQ(record.Names.size(), c.expect.names) << c.what;
        EXPECT_EQ(record.Has_Standard_Information, c.expect.has_si) << c.what;
        EXPECT_EQ(record.Data_Size, c.expect.data_size) << c.what;
        EXPECT_EQ(record.Has_Zone_Identifier, c.expect.zone) << c.what;
    }
}

TEST(File_Record, ReadsHeaderTimesAndNames) {
    auto bytes = Mft_Record_Builder()
                     .Flags(Record_Flags::Deleted_Directory)
                     .Sequence(0x1234)
                     .Lsn(0x0000000102030405ull)
                     .Standard_Information(11, 22, 33, 44)
                     .File_Name(Mft_Reference(77, 3), std::u16string(u"ab\0cd", 5))  // ends at its NUL
                     .Build();
    const auto record = Decode(bytes);
    EXPECT_EQ(record.Flags, 2);
    EXPECT_EQ(record.Sequence_Number, 0x1234);
    EXPECT_EQ(record.Lsn, 0x0000000102030405ull);
    EXPECT_EQ(record.Create_Time, 11u);
    EXPECT_EQ(record.Modified_Time, 22u);
    EXPECT_EQ(record.Mft_Modified_Time, 33u);
    EXPECT_EQ(record.Access_Time, 44u);
    ASSERT_EQ(record.Names.size(), 1u);
    EXPECT_EQ(record.Names[0].Name, u"ab");
    EXPECT_EQ(record.Names[0].ParentReference, Mft_Reference(77, 3));
}
