// Writes of file content: a resident $DATA rewritten in the FILE record, and
// the run list of a non-resident $DATA updated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/logfile/analysis/Analysis_Harness.h"
#include "platform/text.h"

using namespace log_record_test;

namespace {

std::string U8(const std::u16string& text) { return platform::Utf16_To_Utf8(text); }

constexpr std::uint64_t Docs = Reference(41, 1);

std::vector<Log_Record> Create_In_Docs(std::uint64_t entry, const std::u16string& name) {
    return {
        Add_Index_Entry(Index_Place::Root, Place_Of(41), Index_Entry(Reference(entry, 1), Docs, name)),
        Initialize_File_Record(Place_Of(entry),
                               File_Record_Image({Standard_Information({}, 0x20), File_Name_Attribute(Docs, name)})),
    };
}

struct Volume : Analysis_Harness {
    Volume() { Index_Directories(context, {{41, 1, Root_Reference, u"docs"}}); }
};

TEST(LogFile_Analysis_Content, ResidentWriteNamedByTheFilesCreation) {
    Volume h;
    h.Run_All(Create_In_Docs(70, u"a.txt"));
    h.Run_All(Create_In_Docs(71, u"b.txt"));
    const _log_info cur = h.Run(Write_Resident_Data(Place_Of(70), Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, Bytes(6, 0)));
    EXPECT_EQ(cur.Event, u"Writing Content of Resident File");
    EXPECT_EQ(cur.Detail, u"Writing Size : 6");
    EXPECT_EQ(cur.FileName, u"a.txt");
    EXPECT_EQ(cur.FullPath, u"\\docs\\a.txt");
    EXPECT_EQ(h.Stored(cur.LSN, "Event"), "Writing Content of Resident File");

    // Without the creation in the log the write has no name (no guess).
    Volume g;
    const _log_info alone = g.Run(Write_Resident_Data(Place_Of(70), Bytes(451, 'x'), Bytes(451, 0)));
    EXPECT_EQ(alone.Detail, u"Writing Size : 451");
    EXPECT_EQ(alone.FileName, u"");
    EXPECT_EQ(g.Stored(alone.LSN, "Event"), "Writing Content of Resident File");
}

// A write carries the name the file has when it is written: the newest of
// its creation, renames and moves.
TEST(LogFile_Analysis_Content, WriteAfterARenameOrMoveTakesTheNewName) {
    constexpr std::uint64_t Work = Reference(46, 2);
    const auto rename = [](std::uint64_t from_parent, const std::u16string& from, std::uint64_t to_parent,
                           const std::u16string& to, std::uint32_t flags = 0x20) {
        return std::vector<Log_Record>{
            Delete_File_Name(Place_Of(70), File_Name_Attribute(from_parent, from, flags)),
            Create_File_Name(Place_Of(70), File_Name_Attribute(to_parent, to, flags)),
        };
    };
    const struct {
        const char* what;
        std::vector<Log_Record> change;
        std::u16string name;
        std::u16string path;
    } cases[] = {
        {"renamed", rename(Docs, u"New Text Document.txt", Docs, u"test.txt"), u"test.txt", u"\\docs\\test.txt"},
        {"moved", rename(Docs, u"New Text Document.txt", Work, u"New Text Document.txt"), u"New Text Document.txt",
         u"\\work\\New Text Document.txt"},
        {"renamed as a directory is", rename(Docs, u"New Text Document.txt", Docs, u"d", 0x10000000), u"d",
         u"\\docs\\d"},
    };
    for (const auto& c : cases) {
        Volume h;
        Index_Directories(h.context, {{46, 2, Root_Reference, u"work"}});
        h.Run_All(Create_In_Docs(70, u"New Text Document.txt"));
        h.Run_All(c.change);
        const _log_info resident = h.Run(Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0)));
        EXPECT_EQ(U8(resident.FileName), U8(c.name)) << c.what;
        EXPECT_EQ(U8(resident.FullPath), U8(c.path)) << c.what;
        const _log_info runs = h.Run(Update_Mapping_Pairs(Place_Of(70), Bytes{0x11, 0x01, 0x05}, Bytes(8, 0)));
        EXPECT_EQ(U8(runs.FileName), U8(c.name)) << c.what;
    }

    // A rename of another FILE record changes nothing.
    Volume h;
    h.Run_All(Create_In_Docs(70, u"New Text Document.txt"));
    h.Run_All(Create_In_Docs(71, u"b.txt"));
    h.Run(Delete_File_Name(Place_Of(71), File_Name_Attribute(Docs, u"b.txt")));
    h.Run(Create_File_Name(Place_Of(71), File_Name_Attribute(Docs, u"c.txt")));
    EXPECT_EQ(h.Run(Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0))).FileName, u"New Text Document.txt");
}

TEST(LogFile_Analysis_Content, CreationIsLookedForAmongThe29NewestRowsWithAnEvent) {
    const struct {
        const char* what;
        int events_between;
        int rows_without_event_between;
        bool named;
    } cases[] = {
        {"28 rows between", 28, 0, true},
        {"29 rows between", 29, 0, false},
        {"rows without an event do not count", 28, 40, true},
    };
    for (const auto& c : cases) {
        Volume h;
        h.Run_All(Create_In_Docs(70, u"a.txt"));
        for (int i = 0; i < c.events_between; ++i) h.Run(Check_Point());
        _log_info named_by_mft;
        named_by_mft.FileName = u"other.txt";
        for (int i = 0; i < c.rows_without_event_between; ++i) h.context.LogFile_Row_Array.push_back(named_by_mft);
        const Bytes pairs{0x21, 0x10, 0x78, 0x26, 0x00};
        const _log_info resident = h.Run(Write_Resident_Data(Place_Of(70), Bytes(8, 1), Bytes(8, 0)));
        EXPECT_EQ(resident.FileName, c.named ? u"a.txt" : u"") << c.what;
        h.context.LogFile_Row_Array.pop_back();  // the same look-back for the run list
        const _log_info runs = h.Run(Update_Mapping_Pairs(Place_Of(70), pairs, Bytes(8, 0)));
        EXPECT_EQ(runs.FileName, c.named ? u"a.txt" : u"") << c.what;
    }
}

TEST(LogFile_Analysis_Content, NonResidentWriteRunList) {
    const struct {
        const char* what;
        Bytes pairs;
        std::u16string detail;  // "": no event
    } cases[] = {
        {"one run", {0x22, 0x7D, 0x0D, 0x8A, 0x26, 0x00, 0x00, 0x00}, u"Data Runs(in Volume) : 9866(3453)"},
        // Taken from a Windows 10 log: the second run lies before the first.
        {"runs relative to the one before",
         {0x32, 0x00, 0x01, 0x78, 0x66, 0x06, 0x33, 0x00, 0x3F, 0x01, 0x8F, 0xCE, 0xF9,
          0x33, 0x00, 0x40, 0x01, 0x71, 0xF1, 0x04, 0x00, 0x00, 0x00, 0x00},
         u"Data Runs(in Volume) : 419448(256),13575(81664),337528(81920)"},
        {"first byte 0", {0x00, 0x21, 0x10, 0x78, 0x26, 0x00, 0x00, 0x00}, u""},
        {"a sparse run ends the list", {0x21, 0x10, 0x78, 0x26, 0x01, 0x10, 0x00, 0x00}, u"Data Runs(in Volume) : 9848(16)"},
        {"only a sparse run", {0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, u""},
        {"a run ending with the redo data", {0x21, 0x10, 0x78, 0x26}, u"Data Runs(in Volume) : 9848(16)"},
        {"a run passing the redo data", {0x21, 0x10, 0x78, 0x26, 0x22, 0x01}, u"Data Runs(in Volume) : 9848(16)"},
        {"a length of more than 8 bytes: its low 8 count",
         {0x19, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00},
         u"Data Runs(in Volume) : 32(16)"},
        {"an offset of more than 8 bytes counts as 0",
         {0x91, 0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x11, 0x01, 0x20, 0x00, 0x00},
         u"Data Runs(in Volume) : 0(5),32(1)"},
    };
    for (const auto& c : cases) {
        Volume h;
        h.Run_All(Create_In_Docs(70, u"a.txt"));
        // Undo bytes that would complete a run cut short by the redo length.
        const _log_info cur = h.Run(Update_Mapping_Pairs(Place_Of(70), c.pairs, Bytes{0x01, 0x10, 0x20, 0x30, 0, 0, 0, 0}));
        EXPECT_EQ(U8(cur.Detail), U8(c.detail)) << c.what;
        EXPECT_EQ(U8(cur.Event), c.detail.empty() ? "" : "Writing Content of Non-Resident File") << c.what;
        EXPECT_EQ(cur.FileName, c.detail.empty() ? u"" : u"a.txt") << c.what;
    }

    // Stored with its commas turned into "/", as every value is.
    Volume h;
    h.Run_All(Create_In_Docs(70, u"a.txt"));
    const _log_info cur = h.Run(Update_Mapping_Pairs(
        Place_Of(70), Bytes{0x21, 0x10, 0x78, 0x26, 0x11, 0x05, 0x10, 0x00}, Bytes(8, 0)));
    EXPECT_EQ(h.Stored(cur.LSN, "Detail"), "Data Runs(in Volume) : 9848(16)/9864(5)");
}

}  // namespace
