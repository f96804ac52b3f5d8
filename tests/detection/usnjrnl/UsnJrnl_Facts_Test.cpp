#include "detection/usnjrnl/UsnJrnl_Facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "detection/Rule_Numbers.h"
#include "detection/Rule_Terms.h"
#include "detection/usnjrnl/Literal_Timestamp_Rules.h"
#include "ntfs/usnjrnl/Usn_Record.h"

namespace {

_USNJRNLINFO Row(std::u16string time, std::u16string event, std::u16string reference = u"0x0000000000000001") {
    _USNJRNLINFO r;
    r.TimeStamp = std::move(time);
    r.USN = u"0";
    r.Event = std::move(event);
    r.FileAttr = u"Archive";
    r.FileReferenceNumber = std::move(reference);
    r.ParentFileReferenceNumber = u"0x0000000000000005";
    return r;
}

// A text as the journal reader writes it, after the export's "/" to ",".
std::u16string Reloaded(std::u16string text) {
    std::replace(text.begin(), text.end(), u'/', u',');
    return text;
}

}  // namespace

// The words the journal reader writes are the words the facts read back:
// every reason bit alone, all of them at once and the attribute words the
// rules test, through the reload.
TEST(UsnJrnl_Facts, ReadsWhatTheJournalReaderWrites) {
    namespace B = Usn_Reason_Bit;
    UsnJrnl_Info_Rows rows;
    std::uint32_t all = 0;
    for (const Usn_Reason_Word& word : Usn_Reason_Words) {
        rows.push_back(Row(u"2020-08-02 10:00:00", Reloaded(Usn_Reason_Text(word.Bit))));
        all |= word.Bit;
    }
    rows.push_back(Row(u"2020-08-02 10:00:00", Reloaded(Usn_Reason_Text(0xFFFFFFFF))));
    const std::uint32_t attributes[] = {0x10, 0x2000, 0x2010, 0x10000000};
    for (const std::uint32_t attribute : attributes) {
        _USNJRNLINFO r = Row(u"2020-08-02 10:00:00", u"File_Created");
        r.FileAttr = Reloaded(Usn_File_Attribute_Text(attribute));
        rows.push_back(r);
    }
    const UsnJrnl_Facts facts(rows);
    for (std::size_t i = 0; i < Usn_Reason_Words.size(); ++i) {
        const std::uint32_t bit = Usn_Reason_Words[i].Bit;
        SCOPED_TRACE(platform::Utf16_To_Utf8(rows.Field(i, Usn_Field::Event)));
        EXPECT_EQ(facts.Reasons(i), bit);
        EXPECT_TRUE(facts.Event_Is(i, bit == B::Desired_Storage_Class_Change ? 0 : bit));
        EXPECT_EQ(facts.Holds_Closed(i), bit == B::File_Closed);
        EXPECT_EQ(facts.Holds_Close(i), bit == B::File_Closed);
    }
    const std::size_t every = Usn_Reason_Words.size();
    EXPECT_EQ(facts.Reasons(every), all);
    EXPECT_TRUE(facts.Event_Is(every, all & ~B::Desired_Storage_Class_Change));
    const struct {
        bool holds_directory, is_directory, not_indexed;
    } expected[] = {{true, true, false}, {false, false, true}, {true, false, true}, {false, false, false}};
    for (std::size_t k = 0; k < std::size(attributes); ++k) {
        const std::size_t i = every + 1 + k;
        SCOPED_TRACE(platform::Utf16_To_Utf8(rows.Field(i, Usn_Field::FileAttr)));
        EXPECT_EQ(facts.Directory_Attribute(i), expected[k].holds_directory);
        EXPECT_EQ(facts.Attributes_Are_Directory(i), expected[k].is_directory);
        EXPECT_EQ(facts.Not_Content_Indexed(i), expected[k].not_indexed);
    }
}

// No reason word holds another, so the bits of a text joined from words are
// exactly its words.
TEST(UsnJrnl_Facts, NoReasonWordHoldsAnother) {
    for (const Usn_Reason_Word& a : Usn_Reason_Words) {
        for (const Usn_Reason_Word& b : Usn_Reason_Words) {
            if (a.Bit == b.Bit) continue;
            EXPECT_FALSE(Holds(a.Word, b.Word)) << platform::Utf16_To_Utf8(a.Word);
        }
    }
}

// Each fact answers what the text test it stands for answers, for texts as
// the reader joins them and for any other text.
TEST(UsnJrnl_Facts, EventFactsAreTheTextTests) {
    const std::vector<std::u16string> events = {
        u"File_Created",
        u"File_Created , File_Closed",
        u"File_Closed , File_Created",  // not the reader's order
        u"File_Created_Extra",          // holds the word, is no word
        u"Basic_Info_Changed , File_Closed",
        u"Basic_Info_Changed , Desired_Storage_Class_Change , File_Closed",
        u"File_Created , Desired_Storage_Class_Change",
        u"",
        u"Closed",
        u"Data_Added , Named_Data_Stream_Added",
        u"File_Renamed_New , File_Renamed_Old , File_Deleted",
    };
    UsnJrnl_Info_Rows rows;
    for (const std::u16string& e : events) rows.push_back(Row(u"2020-08-02 10:00:00", e));
    rows.push_back(Row(u"2020-08-02 10:00:00", u"File_Created"));
    const UsnJrnl_Facts facts(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::u16string_view event = rows.Field(i, Usn_Field::Event);
        SCOPED_TRACE(platform::Utf16_To_Utf8(event));
        for (const Usn_Reason_Word& word : Usn_Reason_Words) EXPECT_EQ(facts.Holds(i, word.Bit), Holds(event, word.Word));
        using test_support::literal::Event_Is;
        EXPECT_EQ(facts.Event_Is(i, Usn_Reason_Bit::File_Created), Event_Is(event, u"File_Created"));
        EXPECT_EQ(facts.Event_Is(i, Usn_Reason_Bit::Basic_Info_Changed | Usn_Reason_Bit::File_Closed),
                  Event_Is(event, u"Basic_Info_Changed , File_Closed"));
        EXPECT_EQ(facts.Event_Is(i, Usn_Reason_Bit::File_Created | Usn_Reason_Bit::File_Closed),
                  Event_Is(event, u"File_Created , File_Closed"));
        EXPECT_EQ(facts.Holds_Closed(i), Holds(event, u"Closed"));
        EXPECT_EQ(facts.Holds_Close(i), Holds(event, u"Close"));
    }
    // Equal event tuples share their facts.
    EXPECT_TRUE(facts.Event_Is(rows.size() - 1, Usn_Reason_Bit::File_Created));
}

// A whole Event text is compared without the storage-class word, and only
// as the reader joins the words.
TEST(UsnJrnl_Facts, EventIsWithoutTheStorageClassWord) {
    namespace B = Usn_Reason_Bit;
    const struct {
        const char16_t* event;
        std::uint32_t words;
        bool is;
    } cases[] = {
        {u"File_Created", B::File_Created, true},
        {u"File_Created , Desired_Storage_Class_Change", B::File_Created, true},
        {u"Basic_Info_Changed , Desired_Storage_Class_Change , File_Closed", B::Basic_Info_Changed | B::File_Closed,
         true},
        {u"Desired_Storage_Class_Change , File_Closed", B::File_Closed, true},
        {u"Desired_Storage_Class_Change", 0, true},
        // Another word beside it still counts.
        {u"File_Created , Desired_Storage_Class_Change , File_Closed", B::File_Created, false},
        {u"File_Created , File_Closed", B::File_Created, false},
        {u"Desired_Storage_Class_Change", B::File_Created, false},
        {u"", B::File_Created, false},
        // Only the whole word, as the reload joins the words.
        {u"File_Created , Desired_Storage_Class_Changes", B::File_Created, false},
        {u"File_Created ,Desired_Storage_Class_Change", B::File_Created, false},
        {u"File_Created / Desired_Storage_Class_Change", B::File_Created, false},
    };
    UsnJrnl_Info_Rows rows;
    for (const auto& c : cases) rows.push_back(Row(u"2020-08-02 10:00:00", c.event));
    const UsnJrnl_Facts facts(rows);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(facts.Event_Is(i, cases[i].words), cases[i].is) << platform::Utf16_To_Utf8(cases[i].event);
}

TEST(UsnJrnl_Facts, AttributeAndCarvingFacts) {
    struct Case {
        const char16_t* attr;
        const char16_t* carving;
        bool holds_directory, is_directory, not_indexed, carved;
    };
    const Case cases[] = {
        {u"Directory", u"", true, true, false, false},
        {u"Directory / Hidden", u"Y", true, false, false, true},
        {u"Archive / Not_Content_Indexed", u"y", false, false, true, false},
        {u"", u"YY", false, false, false, false},
    };
    UsnJrnl_Info_Rows rows;
    for (const Case& c : cases) {
        _USNJRNLINFO r = Row(u"2020-08-02 10:00:00", u"File_Created");
        r.FileAttr = c.attr;
        r.CarvingFlag = c.carving;
        rows.push_back(r);
    }
    const UsnJrnl_Facts facts(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(facts.Directory_Attribute(i), cases[i].holds_directory);
        EXPECT_EQ(facts.Attributes_Are_Directory(i), cases[i].is_directory);
        EXPECT_EQ(facts.Not_Content_Indexed(i), cases[i].not_indexed);
        EXPECT_EQ(facts.Carved(i), cases[i].carved);
    }
}

// Seconds are the parser's, and two times compare as their texts do, also
// where a text is not a well-formed time (whose seconds say nothing of its
// order) or is well-formed but reads as a failure date.
TEST(UsnJrnl_Facts, TimesAreSecondsAndCompareAsTexts) {
    const std::vector<std::u16string> times = {
        u"2020-08-02 10:00:00", u"2020-08-02 10:00:59", u"2020-08-02 10:00:60", u"2020-08-02 10:01:00",
        u"2020-08-02 10:01:5x", u"2020-08-02 10:01:05", u"1899-12-29 00:00:00", u"1899-12-30 00:00:00",
        u"2020-02-30 00:00:00", u"not a time",          u"",                    u"60056-01-01 00:00:00",
        u"2020-08-02 10:00:59", u"0099-12-31 23:59:59", u"2020-08-02 10:01:05",
    };
    UsnJrnl_Info_Rows rows;
    for (const std::u16string& t : times) rows.push_back(Row(t, u"File_Created"));
    const UsnJrnl_Facts facts(rows);
    for (std::size_t a = 0; a < times.size(); ++a) {
        SCOPED_TRACE(platform::Utf16_To_Utf8(times[a]));
        EXPECT_EQ(facts.Seconds(a), Time_Text_Seconds(times[a]));
        for (std::size_t b = 0; b < times.size(); ++b) {
            const int expected = times[a] < times[b] ? -1 : times[a] == times[b] ? 0 : 1;
            const int got = facts.Compare_Time_Texts(a, b);
            EXPECT_EQ(got < 0 ? -1 : got == 0 ? 0 : 1, expected) << platform::Utf16_To_Utf8(times[b]);
        }
        const std::u16string_view initial = u"1970-01-01 00:00:00";
        const int got = facts.Compare_Time_Texts(initial, Time_Text_Seconds(initial), a);
        EXPECT_EQ(got < 0 ? -1 : got == 0 ? 0 : 1, initial < times[a] ? -1 : initial == times[a] ? 0 : 1);
    }
}

// Reference texts as the reader writes them have one id per number; texts
// written otherwise that read as the same number share a file number.
TEST(UsnJrnl_Facts, FileIdsAndFileNumbers) {
    UsnJrnl_Info_Rows rows;
    for (const char16_t* reference : {u"0x000000000000002A", u"0x000000000000002B", u"0x000000000000002A"})
        rows.push_back(Row(u"2020-08-02 10:00:00", u"File_Created", reference));
    {
        const UsnJrnl_Facts facts(rows);
        EXPECT_EQ(facts.File(0), facts.File(2));
        EXPECT_NE(facts.File(0), facts.File(1));
        EXPECT_EQ(facts.File_Count(), 2u);
        EXPECT_EQ(facts.File_Number_Count(), 2u);
        EXPECT_EQ(facts.File_Number(1), facts.File(1));
        EXPECT_EQ(facts.File_Text(facts.File(1)), u"0x000000000000002B");
    }
    for (const char16_t* reference : {u"0x2A", u"", u"0x0000000000000000"})
        rows.push_back(Row(u"2020-08-02 10:00:00", u"File_Created", reference));
    const UsnJrnl_Facts facts(rows);
    EXPECT_EQ(facts.File_Count(), 5u);
    EXPECT_EQ(facts.File_Number_Count(), 3u);
    EXPECT_NE(facts.File(3), facts.File(0));
    EXPECT_EQ(facts.File_Number(3), facts.File_Number(0));
    EXPECT_EQ(facts.File_Number(4), facts.File_Number(5));
    EXPECT_NE(facts.File_Number(4), facts.File_Number(1));
    EXPECT_EQ(facts.Parent(0), facts.Parent(5));
    EXPECT_EQ(facts.Parent_Count(), 1u);
}
