#include "records/Compact_Rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

_USNJRNLINFO Usn(std::u16string usn, std::u16string name, std::u16string path) {
    _USNJRNLINFO r;
    r.TimeStamp = u"2020-08-02 10:00:00";
    r.USN = std::move(usn);
    r.FileName = std::move(name);
    r.FullPath = std::move(path);
    r.Event = u"File_Created , File_Closed";
    r.SourceInfo = u"Normal";
    r.FileAttr = u"Archive";
    r.CarvingFlag = u"";
    r.FileReferenceNumber = u"0x0001000000001234";
    r.ParentFileReferenceNumber = u"0x0005000000000005";
    return r;
}

void Expect_Same(const UsnJrnl_Row_View& v, const _USNJRNLINFO& r) {
    EXPECT_EQ(v.TimeStamp, r.TimeStamp);
    EXPECT_EQ(v.USN, r.USN);
    EXPECT_EQ(v.FileName, r.FileName);
    EXPECT_EQ(v.FullPath, r.FullPath);
    EXPECT_EQ(v.Event, r.Event);
    EXPECT_EQ(v.SourceInfo, r.SourceInfo);
    EXPECT_EQ(v.FileAttr, r.FileAttr);
    EXPECT_EQ(v.CarvingFlag, r.CarvingFlag);
    EXPECT_EQ(v.FileReferenceNumber, r.FileReferenceNumber);
    EXPECT_EQ(v.ParentFileReferenceNumber, r.ParentFileReferenceNumber);
}

}  // namespace

// Every field reads back as it went in, whether the name is stored as the
// tail of its path or on its own, and whatever the text holds.
TEST(Compact_Rows, FieldsReadBackAsStored) {
    const std::u16string long_text(0x9000, u'x');  // needs the two-unit length
    std::vector<_USNJRNLINFO> rows = {
        Usn(u"0", u"a.txt", u"\\dir\\a.txt"),                   // tail of the path
        Usn(u"8", u"b.txt", u"\\dir\\a.txt"),                   // not the tail
        Usn(u"16", u"a.txt", u"\\dira.txt"),                    // ends alike, no "\" before it
        Usn(u"24", u"", u"\\dir\\"),                            // empty name
        Usn(u"32", u"x\\a.txt", u"\\dir\\x\\a.txt"),            // a name holding "\"
        Usn(u"40", u"a.txt", u"a.txt"),                         // the whole path
        Usn(u"48", u"", u""),
        Usn(u"56", std::u16string(u"n\0ul", 4), std::u16string(u"\\d\\n\0ul", 7)),
        Usn(u"64", u"\uD55C\uAE00 \xD800", u"\\\uD55C\\\uD55C\uAE00 \xD800"),
        Usn(u"72", long_text, u"\\" + long_text),
        Usn(u"80", u"\xFFFF", u"\\\xFFFF"),
    };
    rows[1].Event = long_text;
    rows[2].TimeStamp = u"";
    rows[3].CarvingFlag = u"Y";
    UsnJrnl_Info_Rows table;
    for (const auto& r : rows) table.push_back(r);
    ASSERT_EQ(table.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        Expect_Same(table[i], rows[i]);
    }
}

// Equal shared texts are kept once; views stay where they are while the
// table grows over many chunks.
TEST(Compact_Rows, SharedTextsOnceAndViewsStable) {
    UsnJrnl_Info_Rows table;
    std::vector<std::u16string> paths;
    for (int i = 0; i < 200000; ++i) {
        _USNJRNLINFO r = Usn(std::u16string(u"1") + std::u16string(static_cast<std::size_t>(i % 7), u'0'),
                             u"file.txt", u"\\folder " + std::u16string(static_cast<std::size_t>(i % 50), u'f') + u"\\file.txt");
        r.USN = std::u16string(u"usn") + static_cast<char16_t>(u'A' + i % 26) + std::u16string(static_cast<std::size_t>(i % 40), u'9');
        r.FileReferenceNumber = i % 2 == 0 ? u"0x1" : u"0x2";
        table.push_back(r);
    }
    const std::u16string_view first_path = table[0].FullPath;
    const std::u16string_view first_frn = table[0].FileReferenceNumber;
    EXPECT_EQ(table[2].FileReferenceNumber.data(), first_frn.data());
    EXPECT_NE(table[1].FileReferenceNumber.data(), first_frn.data());
    EXPECT_EQ(table[199999].Event.data(), table[0].Event.data());
    EXPECT_EQ(table[0].FullPath.data(), first_path.data());
    EXPECT_EQ(table[199999].FullPath, u"\\folder " + std::u16string(199999 % 50, u'f') + u"\\file.txt");
    EXPECT_EQ(table[199999].FileName, u"file.txt");
    EXPECT_EQ(table.Field(12345, Usn_Field::USN),
              std::u16string(u"usn") + static_cast<char16_t>(u'A' + 12345 % 26) + std::u16string(12345 % 40, u'9'));
}

TEST(Compact_Rows, TruncateDropsLaterRowsOnly) {
    UsnJrnl_Info_Rows table;
    for (int i = 0; i < 70000; ++i) table.push_back(Usn(std::u16string(1, static_cast<char16_t>(u'0' + i % 10)), u"a", u"\\a"));
    table.Truncate(65537);
    EXPECT_EQ(table.size(), 65537u);
    table.push_back(Usn(u"last", u"b", u"\\b"));
    EXPECT_EQ(table[65537].USN, u"last");
    EXPECT_EQ(table[65536].USN, u"6");
    table.clear();
    EXPECT_TRUE(table.empty());
}

TEST(Compact_Rows, LogRowsKeepTheirThirteenFields) {
    _log_info r;
    r.LSN = u"5052554";
    r.EventTime = u"2015-03-02 08:30:00";
    r.Event = u"Updating Modified Time";
    r.Detail = u"2015-03-02 08:29:59 -> 2015-03-02 08:30:00";
    r.FileName = u"New Text Document.txt <Guessed>";
    r.FullPath = u"\\Users\\New Text Document.txt";
    r.CreateTime = u"a";
    r.ModifiedTime = u"b";
    r.MFT_ModifiedTime = u"c";
    r.AccessTime = u"d";
    r.RedoInfo = u"Update Resident Value";
    r.TargetVCN = u"0x3";
    r.ClusterIndex = u"4";
    Log_Info_Rows table;
    table.push_back(r);
    r.LSN = u"5052600";
    table.push_back(r);
    const Log_Info_Row_View v = table[1];
    EXPECT_EQ(v.LSN, u"5052600");
    EXPECT_EQ(v.FileName, r.FileName);
    EXPECT_EQ(v.FullPath, r.FullPath);
    EXPECT_EQ(v.Detail, r.Detail);
    EXPECT_EQ(v.CreateTime, u"a");
    EXPECT_EQ(v.ModifiedTime, u"b");
    EXPECT_EQ(v.MFT_ModifiedTime, u"c");
    EXPECT_EQ(v.AccessTime, u"d");
    EXPECT_EQ(v.RedoInfo, r.RedoInfo);
    EXPECT_EQ(v.TargetVCN, u"0x3");
    EXPECT_EQ(v.ClusterIndex, u"4");
    EXPECT_EQ(table[0].Event.data(), v.Event.data());
}

// Many distinct shared texts (the tables grow again and again) and texts at
// the edges of the length marks, including ones longer than a chunk.
TEST(Compact_Rows, GrowingTablesAndLengthEdges) {
    UsnJrnl_Info_Rows table;
    std::vector<_USNJRNLINFO> rows;
    const std::size_t lengths[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x10000, (1u << 20) - 3, (3u << 20) + 1};
    for (std::size_t n : lengths) {
        _USNJRNLINFO r = Usn(std::u16string(n, u'\xFFFF'), u"f", u"\\" + std::u16string(n % 7, u'\x8000') + u"\\f");
        r.Event = std::u16string(n, u'e');
        rows.push_back(r);
    }
    for (int i = 0; i < 30000; ++i) {
        _USNJRNLINFO r = Usn(u"u", u"n", u"\\n");
        r.TimeStamp = u"t" + std::u16string(static_cast<std::size_t>(i % 97), u'x') + static_cast<char16_t>(u'A' + i % 50);
        r.FileReferenceNumber = u"0x" + std::u16string(1, static_cast<char16_t>(0x4E00 + i));
        rows.push_back(r);
    }
    for (const auto& r : rows) table.push_back(r);
    for (std::size_t i = 0; i < rows.size(); i += (i < 20 ? 1 : 997)) {
        SCOPED_TRACE(i);
        Expect_Same(table[i], rows[i]);
    }
    Expect_Same(table[rows.size() - 1], rows.back());
}

// Shared tuples are numbered densely in the order first met: equal texts,
// equal ids. A table whose look-ups were released still reads back, and
// appending to it finds the tuples it holds again.
TEST(Compact_Rows, TupleIdsAreDenseAndSurviveReleasedLookups) {
    UsnJrnl_Info_Rows table;
    const auto add = [&](std::u16string usn, std::u16string reference, std::u16string time) {
        _USNJRNLINFO r = Usn(std::move(usn), u"a", u"\\a");
        r.FileReferenceNumber = std::move(reference);
        r.TimeStamp = std::move(time);
        table.push_back(r);
    };
    add(u"0", u"0x1", u"t1");
    add(u"8", u"0x2", u"t1");
    add(u"16", u"0x1", u"t2");
    EXPECT_EQ(table.Tuple_Id(0, Usn_Field::FileReferenceNumber), 0u);
    EXPECT_EQ(table.Tuple_Id(1, Usn_Field::FileReferenceNumber), 1u);
    EXPECT_EQ(table.Tuple_Id(2, Usn_Field::FileReferenceNumber), 0u);
    EXPECT_EQ(table.Tuple_Id(2, Usn_Field::TimeStamp), 1u);
    EXPECT_EQ(table.Tuple_Count(Usn_Field::FileReferenceNumber), 2u);
    EXPECT_EQ(table.Tuple_Count(Usn_Field::ParentFileReferenceNumber), 1u);
    EXPECT_EQ(table.Tuple_Field(1, Usn_Field::FileReferenceNumber), u"0x2");
    // Fields of one group share its ids.
    EXPECT_EQ(table.Tuple_Field(table.Tuple_Id(0, Usn_Field::Event), Usn_Field::FileAttr), u"Archive");

    const std::size_t before = table.Memory_Bytes();
    table.Release_Lookups();
    EXPECT_LT(table.Memory_Bytes(), before);
    EXPECT_EQ(table[2].FileReferenceNumber, u"0x1");
    add(u"24", u"0x2", u"t3");
    add(u"32", u"0x3", u"t3");
    EXPECT_EQ(table.Tuple_Id(3, Usn_Field::FileReferenceNumber), 1u);
    EXPECT_EQ(table.Tuple_Id(4, Usn_Field::FileReferenceNumber), 2u);
    EXPECT_EQ(table.Tuple_Id(4, Usn_Field::TimeStamp), table.Tuple_Id(3, Usn_Field::TimeStamp));
    EXPECT_EQ(table.Tuple_Count(Usn_Field::FileReferenceNumber), 3u);
    EXPECT_EQ(table[4].FileReferenceNumber, u"0x3");
    EXPECT_EQ(table[0].TimeStamp, u"t1");
}
