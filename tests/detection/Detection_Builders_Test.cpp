#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/mft/Parse_MFT.h"
#include "support/Detection_Builders.h"
#include "support/Mft_Record_Builder.h"

using namespace test_support;

namespace {

// What the detection reads of an index: every entry with its flags and
// whether a path runs through it, the children of the root, and paths (which
// fill the index's path cache, so the index is not const).
std::vector<std::string> Index_Summary(Mft_Index& index) {
    std::vector<std::string> out;
    for (const _ENTRYINFO_2& e : index.Entry_List()) {
        const std::uint64_t number = e.FileReference & 0xFFFFFFFFFFFFull;
        out.push_back(std::to_string(number) + "/" + std::to_string(e.FileReference >> 48) + " " +
                      platform::Utf16_To_Utf8(e.Name) + " parent " + std::to_string(e.ParentReference & 0xFFFF) +
                      (e.IsDirectory ? " dir" : "") + (e.IsDeleted ? " deleted" : "") +
                      (index.Find_Path_Node(e.FileReference) == &e ? " node" : "") + " path " +
                      platform::Utf16_To_Utf8(index.Full_Path_Of(e.FileReference, e.Name)));
    }
    std::string children = "root children:";
    for (const _ENTRYINFO_2& e : index.Children_Of(Mft_Root_Reference)) children += " " + platform::Utf16_To_Utf8(e.Name);
    out.push_back(children);
    return out;
}

}  // namespace

// The entry builder files entries as the $MFT reader files the same records,
// so detection tests can build an index without FILE record bytes.
TEST(Detection_Builders, MftEntriesIndexedAsTheReaderIndexesThem) {
    const std::uint64_t dir = Mft_Reference(40, 2);
    Mft_Image_Builder image;
    const auto record = [](std::uint16_t flags, std::uint16_t sequence, std::uint64_t parent, const std::u16string& name) {
        Mft_Record_Builder b;
        b.Flags(flags).Sequence(sequence).Standard_Information(0).File_Name(parent, name);
        return b;
    };
    image.Put(5, record(Record_Flags::Directory, 5, Mft_Root_Reference, u"."));
    image.Put(40, record(Record_Flags::Directory, 2, Mft_Root_Reference, u"docs"));
    image.Put(41, record(Record_Flags::File, 1, dir, u"a.txt"));
    image.Put(42, record(Record_Flags::Deleted_File, 3, dir, u"gone.docx"));
    image.Put(43, record(Record_Flags::File, 1, Mft_Reference(43, 1), u"self"));
    Global_Parsing_Context parsed;
    Index_MFT_Bytes(parsed, image.Build());

    Mft_Entries entries;
    entries.File(43, 1, Mft_Reference(43, 1), u"self")  // added out of order on purpose
        .Root()
        .Directory(40, 2, Mft_Root_Reference, u"docs")
        .File(41, 1, dir, u"a.txt")
        .File(42, 3, dir, u"gone.docx");
    entries.Last().IsDeleted = 1;
    Global_Parsing_Context built;
    entries.Install(built);

    EXPECT_EQ(Index_Summary(built.Mft), Index_Summary(parsed.Mft));
    EXPECT_EQ(Index_Summary(built.Mft),
              (std::vector<std::string>{"5/5 . parent 5 dir node path \\.", "40/2 docs parent 5 dir node path \\docs",
                                        "41/1 a.txt parent 40 node path \\docs\\a.txt",
                                        "42/3 gone.docx parent 40 deleted node path \\docs\\gone.docx",
                                        "43/1 self parent 43 path ", "root children: . docs"}));
}
