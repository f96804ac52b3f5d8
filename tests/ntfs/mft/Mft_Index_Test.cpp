#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/mft/Parse_MFT.h"
#include "support/Mft_Record_Builder.h"
#include "support/Temp_Dir.h"

using namespace test_support;

namespace {

constexpr std::uint64_t Root = 5 | (5ull << 48);
constexpr std::uint64_t Mft_Time = 0x01D46AEF9343A940ull;  // 2018-10-23 16:43:50.1 UTC

Mft_Record_Builder Dir(std::uint16_t sequence, std::uint64_t parent, const std::u16string& name,
                       std::uint16_t flags = Record_Flags::Directory) {
    Mft_Record_Builder b;
    b.Flags(flags).Sequence(sequence).Standard_Information(Mft_Time).File_Name(parent, name);
    return b;
}

Mft_Record_Builder File(std::uint16_t sequence, std::uint64_t parent, const std::u16string& name,
                        std::uint16_t flags = Record_Flags::File) {
    return Dir(sequence, parent, name, flags);
}

struct Indexed {
    Global_Parsing_Context context;

    explicit Indexed(const Mft_Image_Builder& image) {
        const auto bytes = image.Build();
        Index_MFT_Bytes(context, bytes);
    }
    std::u16string Path(std::uint64_t reference, const std::u16string& name) {
        Build_Full_Path(context, reference, name);
        return context.Full_Path;
    }
    const Mft_Index& Index() const { return context.Mft; }
};

Mft_Image_Builder Volume() {
    Mft_Image_Builder image;
    Put_Volume_Skeleton(image, 1024, Mft_Time);
    return image;
}

}  // namespace

// Which names become path nodes, and the flags their entries get.
TEST(Mft_Index, IndexingCases) {
    struct Case {
        const char* what;
        Mft_Record_Builder record;
        bool path_node;
        int is_directory;
        int is_deleted;
    };
    const std::uint64_t own = Mft_Reference(40, 1);
    const std::vector<Case> cases = {
        {"directory in use", Dir(1, Root, u"d"), true, 1, 0},
        {"deleted directory", Dir(1, Root, u"d", Record_Flags::Deleted_Directory), true, 1, 1},
        {"file in use", File(1, Root, u"f"), true, 0, 0},
        {"deleted file", File(1, Root, u"f", Record_Flags::Deleted_File), true, 0, 1},
        {"a \".\" name", File(1, own, u"."), true, 1, 0},
        {"file that is its own parent", File(1, own, u"f"), false, 0, 0},
        {"directory that is its own parent", Dir(1, own, u"d"), false, 1, 0},
        {"view index ($Secure, flags 9)", File(1, Root, u"$Secure", 0x0009), false, 0, 0},
        {"$Extend file (flags 0xD)", File(1, Root, u"$Quota", 0x000D), false, 0, 0},
        {"$Extend directory (flags 7)", File(1, Root, u"$Deleted", 0x0007), false, 1, 0},
    };
    for (const auto& c : cases) {
        auto image = Volume();
        image.Put(40, c.record);
        Indexed mft(image);
        const _ENTRYINFO_2* entry = mft.Index().Find_By_Reference(own);
        ASSERT_NE(entry, nullptr) << c.what;
        EXPECT_EQ(mft.Index().Find_Path_Node(own) != nullptr, c.path_node) << c.what;
        EXPECT_EQ(mft.Index().Find_By_Number(40) != nullptr, c.path_node) << c.what;
        EXPECT_EQ(entry->IsDirectory, c.is_directory) << c.what;
        EXPECT_EQ(entry->IsDeleted, c.is_deleted) << c.what;
        // Every accepted name is a child of its parent and found by its LSN.
        bool listed = false;
        for (const auto& child : mft.Index().Children_Of(entry->ParentReference)) listed |= child.FileReference == own;
        EXPECT_TRUE(listed) << c.what;
    }
}

TEST(Mft_Index, EntryCarriesRecordFields) {
    auto image = Volume();
    image.Put(40, Mft_Record_Builder()
                      .Flags(Record_Flags::File)
                      .Sequence(3)
                      .Lsn(987654321)
                      .Standard_Information(1, 2, 3, 4)
                      .File_Name(Root, u"report.docx")
                      .Data(70000, false)
                      .Named_Data(u"Zone.Identifier"));
    Indexed mft(image);
    const _ENTRYINFO_2* e = mft.Index().Find_By_Reference(Mft_Reference(40, 3));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ParentReference, Root);
    EXPECT_EQ(e->Name, u"report.docx");
    EXPECT_EQ(e->MFT_LSN, 987654321u);
    EXPECT_EQ(e->DataSize, 70000u);
    EXPECT_EQ(e->CreateTime, 1u);
    EXPECT_EQ(e->ModifiedTime, 2u);
    EXPECT_EQ(e->MFT_ModifiedTime, 3u);
    EXPECT_EQ(e->AccessTime, 4u);
    EXPECT_EQ(e->HasZoneIdentifier, 1);
    EXPECT_EQ(mft.Index().Find_By_LSN(987654321), e);
    EXPECT_EQ(mft.Index().Find_By_Reference(Mft_Reference(40, 2)), nullptr);  // same entry, other generation
}

TEST(Mft_Index, RecordsWithoutNameOrStandardInformationAreSkippedButKeepTheirNumber) {
    auto image = Volume();
    image.Put(40, Mft_Record_Builder().File_Name(Root, u"no-si"));                  // no $STANDARD_INFORMATION
    image.Put(41, Mft_Record_Builder().Standard_Information(1));                      // no name
    image.Put(42, Mft_Record_Builder().Standard_Information(1).File_Name(Root, u"A~1", File_Name_Space::Dos));
    image.Put(43, Mft_Record_Builder().Standard_Information(1).File_Name(Root, std::u16string(u"\0x", 2)));
    auto bad = File(1, Root, u"bad-header").Build();
    bad[4] = 0x31;
    image.Put(44, bad);
    image.Put(45, File(1, Root, u"after.txt"));
    Indexed mft(image);
    for (std::uint64_t n = 40; n <= 44; ++n) EXPECT_EQ(mft.Index().Find_By_Number(n), nullptr) << n;
    ASSERT_NE(mft.Index().Find_By_Number(45), nullptr);
    EXPECT_EQ(mft.Index().Find_By_Number(45)->Name, u"after.txt");
    EXPECT_EQ(mft.Index().Entry_Count(), 3u);  // $MFT, ".", after.txt
}

TEST(Mft_Index, RootIsItsOwnChildAndChildrenKeepInsertionOrder) {
    auto image = Volume();
    image.Put(40, Dir(1, Root, u"dir"));
    image.Put(41, File(1, Mft_Reference(40, 1), u"b.txt"));
    image.Put(42, File(1, Mft_Reference(40, 1), u"a.txt"));
    image.Put(43, File(1, Mft_Reference(40, 2), u"other-generation.txt"));
    Indexed mft(image);

    std::vector<std::u16string> under_root;
    for (const auto& e : mft.Index().Children_Of(Root)) under_root.push_back(e.Name);
    EXPECT_EQ(under_root, (std::vector<std::u16string>{u"$MFT", u".", u"dir"}));

    const auto children = mft.Index().Children_Of(Mft_Reference(40, 1));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].Name, u"b.txt");
    EXPECT_EQ(children[1].Name, u"a.txt");
    EXPECT_TRUE(mft.Index().Children_Of(Mft_Reference(41, 1)).empty());
    const _ENTRYINFO_2* root = mft.Index().Find_Path_Node(Root);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->IsDirectory, 1);
}

TEST(Mft_Index, HardLinksAndSharedKeysAnswerWithTheFirstInserted) {
    auto image = Volume();
    image.Put(40, Dir(1, Root, u"first"));
    image.Put(41, Dir(1, Root, u"second"));
    // One record, two hard links: two entries and two path nodes, same reference.
    image.Put(42, Mft_Record_Builder()
                      .Lsn(5000)
                      .Standard_Information(1)
                      .File_Name(Mft_Reference(41, 1), u"link-b.txt")
                      .File_Name(Mft_Reference(40, 1), u"link-a.txt"));
    image.Put(43, File(1, Root, u"same-lsn.txt").Lsn(5000));
    Indexed mft(image);

    EXPECT_EQ(mft.Index().Entry_Count(), 7u);
    EXPECT_EQ(mft.Index().Path_Node_Count(), 7u);
    EXPECT_EQ(mft.Index().Find_Path_Node(Mft_Reference(42, 1))->Name, u"link-b.txt");
    EXPECT_EQ(mft.Index().Find_By_Reference(Mft_Reference(42, 1))->Name, u"link-b.txt");

    std::u16string name, path;
    ASSERT_EQ(Lookup_MFT_Entry_By_LSN(mft.context, 5000, &name, &path), 1);
    EXPECT_EQ(name, u"link-b.txt");
    EXPECT_EQ(path, u"\\second\\link-b.txt");
    ASSERT_EQ(Lookup_MFT_Entry_By_Number(mft.context, 42, &name, &path), 1);
    EXPECT_EQ(path, u"\\second\\link-b.txt");

    // Misses leave both outputs untouched.
    name = u"kept";
    path = u"kept too";
    EXPECT_EQ(Lookup_MFT_Entry_By_LSN(mft.context, 4999, &name, &path), 0);
    EXPECT_EQ(Lookup_MFT_Entry_By_Number(mft.context, 9, &name, &path), 0);  // 9: never put
    EXPECT_EQ(name, u"kept");
    EXPECT_EQ(path, u"kept too");
}

TEST(Mft_Index, FullPaths) {
    auto image = Volume();
    image.Put(40, Dir(1, Root, u"Users"));
    image.Put(41, Dir(1, Mft_Reference(40, 1), u"alice"));
    image.Put(42, Dir(1, Mft_Reference(41, 1), u"Documents"));
    image.Put(43, File(1, Mft_Reference(42, 1), u"deep.txt"));
    image.Put(44, File(1, Root, u"top.txt"));
    image.Put(45, File(1, Root, u"archive.zip"));                        // a file ...
    image.Put(46, Dir(1, Mft_Reference(45, 1), u"inner"));               // ... holding a "directory"
    image.Put(47, File(1, Mft_Reference(46, 1), u"in-file.txt"));
    image.Put(48, File(1, Mft_Reference(99, 1), u"orphan.txt"));          // parent never indexed
    image.Put(49, Dir(2, Root, u"reused"));                               // entry 49 now at sequence 2
    image.Put(50, File(1, Mft_Reference(49, 1), u"stale-parent.txt"));   // still names sequence 1
    image.Put(51, Dir(1, Mft_Reference(52, 1), u"loop-a"));              // 51 -> 52 -> 51
    image.Put(52, Dir(1, Mft_Reference(51, 1), u"loop-b"));
    image.Put(53, File(1, Mft_Reference(51, 1), u"in-loop.txt"));
    image.Put(54, Dir(1, Mft_Reference(54, 1), u"self"));                 // own parent: no path node
    image.Put(55, File(1, Mft_Reference(54, 1), u"under-self.txt"));
    image.Put(56, File(1, Mft_Reference(57, 1), u"under-dot.txt"));
    image.Put(57, Dir(1, Mft_Reference(57, 1), u"."));                    // a second "." node
    Indexed mft(image);

    struct Case {
        const char* what;
        std::uint64_t reference;
        std::u16string name;
        std::u16string path;
    };
    const std::vector<Case> cases = {
        {"root", Root, u".", u"\\."},
        {"root by entry number only", Mft_Reference(5, 9), u"x", u"\\x"},
        {"under the root", Mft_Reference(44, 1), u"top.txt", u"\\top.txt"},
        {"directory under the root", Mft_Reference(40, 1), u"Users", u"\\Users"},
        {"deep", Mft_Reference(43, 1), u"deep.txt", u"\\Users\\alice\\Documents\\deep.txt"},
        {"the caller's name is used", Mft_Reference(43, 1), u"renamed.txt", u"\\Users\\alice\\Documents\\renamed.txt"},
        {"parent is a file: relative", Mft_Reference(46, 1), u"inner", u"inner"},
        {"ancestor is a file: relative", Mft_Reference(47, 1), u"in-file.txt", u"inner\\in-file.txt"},
        {"missing parent", Mft_Reference(48, 1), u"orphan.txt", u""},
        {"not indexed at all", Mft_Reference(200, 1), u"x", u""},
        {"own reference with an old sequence", Mft_Reference(49, 1), u"reused", u""},
        {"parent reused with a new sequence", Mft_Reference(50, 1), u"stale-parent.txt", u""},
        {"parent loop", Mft_Reference(53, 1), u"in-loop.txt", u""},
        {"inside the loop", Mft_Reference(51, 1), u"loop-a", u""},
        {"self-parented directory", Mft_Reference(55, 1), u"under-self.txt", u""},
        {"a \".\" ancestor ends like the root", Mft_Reference(56, 1), u"under-dot.txt", u"\\under-dot.txt"},
    };
    // Twice: the second round answers from the kept directory paths.
    for (int round = 0; round < 2; ++round)
        for (const auto& c : cases) EXPECT_EQ(mft.Path(c.reference, c.name), c.path) << c.what << " round " << round;
}

TEST(Mft_Index, CreationTimeComesOnlyFromRecordZeroNamedMft) {
    Mft_Image_Builder other_names;
    other_names.Put(0, File(1, Root, u"$MFTX"));
    other_names.Put(1, File(1, Root, u"$MFT"));
    Mft_Image_Builder zero_time;
    zero_time.Put(0, Mft_Record_Builder().Standard_Information(0).File_Name(Root, u"$MFT"));
    const struct {
        const char* what;
        Mft_Image_Builder image;
        std::u16string creation;
    } cases[] = {
        {"record 0 named $MFT, in UTC and never shifted", Volume(), u"2018-10-23 16:43:50"},
        {"$MFT in another record", other_names, u""},
        {"a zero time", zero_time, u"1601-01-01 00:00:00"},
    };
    for (const auto& c : cases) {
        Indexed mft(c.image);
        EXPECT_EQ(mft.context.MFT_Creation_Time, c.creation) << c.what;
    }
}

TEST(Mft_Index, ParseMftFromFile) {
    Temp_Dir dir;
    Global_Parsing_Context context;
    EXPECT_EQ(Parse_MFT(context, dir.File("missing")), 1);
    EXPECT_EQ(context.MFT_Unavailable, 1);

    EXPECT_EQ(Parse_MFT(context, dir.Path()), 1);  // a directory is not an $MFT

    const auto short_file = dir.Write("short", std::string(1023, 'F'));
    EXPECT_EQ(Parse_MFT(context, short_file), 0);
    EXPECT_EQ(context.MFT_Unavailable, 0);
    EXPECT_TRUE(context.Mft.Empty());

    // Records past the first read block, and a partial record at the end.
    auto image = Volume();
    image.Put(40, Dir(1, Root, u"far"));
    image.Put(5000, File(7, Mft_Reference(40, 1), u"beyond-first-block.txt"));
    auto bytes = image.Build();
    bytes.resize(bytes.size() + 700, 0x46);
    const std::string path = dir.File("MFT");
    dir.Write("MFT", std::string(bytes.begin(), bytes.end()));
    Global_Parsing_Context parsed;
    ASSERT_EQ(Parse_MFT(parsed, path), 0);
    std::u16string name, full;
    ASSERT_EQ(Lookup_MFT_Entry_By_Number(parsed, 5000, &name, &full), 1);
    EXPECT_EQ(full, u"\\far\\beyond-first-block.txt");
    EXPECT_EQ(parsed.Mft.Find_By_Number(5000)->FileReference, Mft_Reference(5000, 7));
    EXPECT_EQ(parsed.MFT_Creation_Time, u"2018-10-23 16:43:50");
}

TEST(Mft_Index, FourKilobyteRecords) {
    Mft_Image_Builder image(4096);
    Put_Volume_Skeleton(image, 4096, Mft_Time);
    image.Put(40, Mft_Record_Builder(4096).Flags(Record_Flags::Directory).Standard_Information(1).File_Name(Root, u"dir"));
    image.Put(41, Mft_Record_Builder(4096)
                      .Standard_Information(1)
                      .Data(3000)  // resident data no 1024-byte record could hold
                      .File_Name(Mft_Reference(40, 1), u"big.txt"));
    Indexed mft(image);
    EXPECT_EQ(mft.Index().Entry_Count(), 4u);
    EXPECT_EQ(mft.Path(Mft_Reference(41, 1), u"big.txt"), u"\\dir\\big.txt");
    EXPECT_EQ(mft.Index().Find_By_Number(41)->DataSize, 3000u);
}

// A chain of directories whose paths pass the longest path Windows can open
// (32,767 units): past it a path is "", also for every name below.
TEST(Mft_Index, PathsStopAtTheLongestWindowsCanOpen) {
    const std::u16string long_name(255, u'd');
    auto image = Volume();
    // Entry 40 + i is the directory at depth i + 1, its path (i + 1) x 256 units.
    const std::uint64_t depth = 130;
    for (std::uint64_t i = 0; i < depth; ++i)
        image.Put(40 + i, Dir(1, i == 0 ? Root : Mft_Reference(40 + i - 1, 1), long_name));
    const std::uint64_t at_127 = Mft_Reference(40 + 126, 1);  // path of 32,512 units
    image.Put(200, File(1, at_127, std::u16string(254, u'f')));
    image.Put(201, File(1, at_127, std::u16string(255, u'f')));
    Indexed mft(image);

    EXPECT_EQ(mft.Path(at_127, long_name).size(), 127u * 256);
    EXPECT_EQ(mft.Path(Mft_Reference(200, 1), std::u16string(254, u'f')).size(), 32767u);
    EXPECT_EQ(mft.Path(Mft_Reference(201, 1), std::u16string(255, u'f')), u"");
    EXPECT_EQ(mft.Path(Mft_Reference(40 + 127, 1), long_name), u"");  // depth 128: 32,768 units
    EXPECT_EQ(mft.Path(Mft_Reference(40 + depth - 1, 1), long_name), u"");
    std::u16string name, path = u"untouched";
    ASSERT_EQ(Lookup_MFT_Entry_By_Number(mft.context, 40 + depth - 1, &name, &path), 1);
    EXPECT_EQ(path, u"");
    // A name under the root as long as the limit allows, and one past it.
    EXPECT_EQ(mft.Path(Root, std::u16string(32766, u'r')).size(), 32767u);
    EXPECT_EQ(mft.Path(Root, std::u16string(32767, u'r')), u"");
}
