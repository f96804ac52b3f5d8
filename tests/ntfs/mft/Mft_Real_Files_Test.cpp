// Real $MFT files written by Windows, checked against The Sleuth Kit's
// listings of the same volumes (fls, "/" separators, streams as ":name").
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "ntfs/mft/File_Record.h"
#include "ntfs/mft/Parse_MFT.h"
#include "platform/text.h"

namespace {

std::string Real(const std::string& relative) { return std::string(TREVALON_REAL_DATA_DIR) + "/" + relative; }

#define SKIP_WITHOUT(path)                                                         \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "real sample missing: " << (path)

// Entry number -> the names fls lists for it (streams and $OrphanFiles left out).
std::map<std::uint64_t, std::set<std::string>> Read_Fls(const std::string& path) {
    std::map<std::uint64_t, std::set<std::string>> listed;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(":\t");
        if (colon == std::string::npos) continue;
        const std::string id = line.substr(line.rfind(' ', colon) + 1, colon - line.rfind(' ', colon) - 1);
        std::string name = line.substr(colon + 2);
        name = name.substr(0, name.find('\t'));
        if (name.rfind("$OrphanFiles", 0) == 0) continue;
        const auto last = name.rfind('/');
        if (name.find(':', last == std::string::npos ? 0 : last) != std::string::npos) continue;  // a stream
        listed[std::stoull(id.substr(0, id.find('-')))].insert(name);
    }
    return listed;
}

struct Resolution {
    std::size_t entries = 0;
    std::size_t path_nodes = 0;
    std::size_t resolved = 0;   // entries with a non-empty full path
    std::size_t matched = 0;    // of those, equal to a listed name of the same entry
    std::size_t listed = 0;     // names in the listing
    std::set<std::string> mismatches;
};

// Parses the file and compares every full path that resolves with the listing.
Resolution Resolve_Against(Global_Parsing_Context& context, const std::string& mft, const std::string& fls) {
    EXPECT_EQ(Parse_MFT(context, mft), 0);
    const auto listed = Read_Fls(fls);
    Resolution r;
    r.entries = context.Mft.Entry_Count();
    r.path_nodes = context.Mft.Path_Node_Count();
    for (const auto& [entry, names] : listed) r.listed += names.size();
    for (const _ENTRYINFO_2& e : context.Mft.Entry_List()) {
        Build_Full_Path(context, e.FileReference, e.Name);
        if (context.Full_Path.empty()) continue;
        ++r.resolved;
        std::string path = platform::Utf16_To_Utf8(context.Full_Path);
        for (char& c : path)
            if (c == '\\') c = '/';
        if (!path.empty() && path[0] == '/') path.erase(0, 1);
        const auto it = listed.find(Entry_Number_Of(e.FileReference));
        if (it != listed.end() && it->second.count(path)) ++r.matched;
        else r.mismatches.insert(path);
    }
    return r;
}

std::u16string Path_Of(Global_Parsing_Context& context, std::uint64_t entry_number) {
    std::u16string name, path;
    if (!Lookup_MFT_Entry_By_Number(context, entry_number, &name, &path)) return u"<none>";
    return path;
}

std::size_t Count_Resolved(Global_Parsing_Context& context) {
    std::size_t resolved = 0;
    for (const _ENTRYINFO_2& e : context.Mft.Entry_List()) {
        Build_Full_Path(context, e.FileReference, e.Name);
        resolved += !context.Full_Path.empty();
    }
    return resolved;
}

}  // namespace

// For each file: entries indexed, path nodes, how many resolve, and that all
// that resolve (but the root's "\.") equal the listing. Those that do not
// resolve are names without a path node (records whose flags
// are not 0-3: $Secure 0x9, $Quota/$ObjId/$Reparse 0xD, $Repair/$UsnJrnl 0x5,
// $Deleted 0x7) and deleted entries whose parent record was reused.
TEST(Mft_Real_Files, PathsEqualTheSleuthKitListing) {
    struct Case {
        const char* mft;
        const char* fls;
        std::size_t entries, path_nodes, resolved, listed;
        // Listed names that have no path node here ($Extend\$Deleted 0x7,
        // $Extend\$RmMetadata\$Repair 0x5).
        std::size_t listed_unresolved;
    };
    const Case cases[] = {
        {"win10-20h1-volume/MFT", "win10-20h1-volume/oracle/tsk_fls_rp.txt", 54, 47, 47, 48, 2},
        {"tiny-volume-2013/MFT", "tiny-volume-2013/oracle/tsk_fls_rp.txt", 31, 27, 27, 26, 0},
        {"dfir-ntfs-mft/unicode.mft", "dfir-ntfs-mft/unicode.fls", 32, 26, 26, 27, 2},
        {"dfir-ntfs-mft/orphan.mft", "dfir-ntfs-mft/orphan.fls", 36, 30, 26, 27, 2},
        {"dfir-ntfs-mft/4k-large.mft", "dfir-ntfs-mft/4k-large.fls", 32, 26, 26, 27, 2},
    };
    for (const auto& c : cases) {
        SKIP_WITHOUT(Real(c.mft));
        Global_Parsing_Context context;
        const Resolution r = Resolve_Against(context, Real(c.mft), Real(c.fls));
        EXPECT_EQ(r.entries, c.entries) << c.mft;
        EXPECT_EQ(r.path_nodes, c.path_nodes) << c.mft;
        EXPECT_EQ(r.resolved, c.resolved) << c.mft;
        EXPECT_EQ(r.listed, c.listed) << c.mft;
        EXPECT_EQ(r.matched, r.resolved - 1) << c.mft;  // all but the root's "\."
        EXPECT_EQ(r.mismatches, std::set<std::string>{"."}) << c.mft;
        EXPECT_EQ(r.listed - r.matched, c.listed_unresolved) << c.mft;
    }
}

TEST(Mft_Real_Files, Win10Volume) {
    const std::string mft = Real("win10-20h1-volume/MFT");
    SKIP_WITHOUT(mft);
    Global_Parsing_Context context;
    ASSERT_EQ(Parse_MFT(context, mft), 0);
    EXPECT_EQ(context.MFT_Creation_Time, u"2020-07-25 12:24:44");
    EXPECT_EQ(Path_Of(context, 65), u"\\test_dir_2\\file_2_1.txt");
    EXPECT_EQ(Path_Of(context, 41), u"\\$RECYCLE.BIN\\S-1-5-21-3147666227-266946789-163173005-1001\\desktop.ini");
    EXPECT_EQ(Path_Of(context, 42), u"<none>");  // $UsnJrnl, flags 0x5: no path node
    // The LSN stored in FILE record 52 is that of a log record in the volume's $LogFile.
    std::u16string name, path;
    ASSERT_EQ(Lookup_MFT_Entry_By_LSN(context, 67159305, &name, &path), 1);
    EXPECT_EQ(name, u"file_1.txt");
    EXPECT_EQ(path, u"\\test_dir\\file_1.txt");
    // The children of test_dir: its eleven files and the long name.
    const _ENTRYINFO_2* test_dir = context.Mft.Find_By_Number(50);
    ASSERT_NE(test_dir, nullptr);
    EXPECT_EQ(context.Mft.Children_Of(test_dir->FileReference).size(), 12u);
}

TEST(Mft_Real_Files, UnicodeNames) {
    const std::string mft = Real("dfir-ntfs-mft/unicode.mft");
    SKIP_WITHOUT(mft);
    Global_Parsing_Context context;
    ASSERT_EQ(Parse_MFT(context, mft), 0);
    EXPECT_EQ(Path_Of(context, 43), u"\\\u041F\u0440\u0438\u0432\u0435\u0442\\\u043F\u0440\u0438\u0432\u0435\u0442.txt");
}

TEST(Mft_Real_Files, DeletedAndOrphanedEntriesAreIndexedWithoutPath) {
    const std::string orphan = Real("dfir-ntfs-mft/orphan.mft");
    const std::string deleted = Real("dfir-ntfs-mft/deleted.mft");
    SKIP_WITHOUT(orphan);
    {
        // 2.txt .. 5.txt name parent 39 at sequence 1; record 39 is now "n1" at sequence 2.
        Global_Parsing_Context context;
        ASSERT_EQ(Parse_MFT(context, orphan), 0);
        const char16_t* names[] = {u"2.txt", u"3.txt", u"4.txt", u"5.txt"};
        for (std::uint64_t n = 44; n <= 47; ++n) {
            const _ENTRYINFO_2* e = context.Mft.Find_By_Number(n);
            ASSERT_NE(e, nullptr) << n;
            EXPECT_EQ(e->Name, names[n - 44]);
            EXPECT_EQ(e->IsDeleted, 1);
            EXPECT_EQ(Path_Of(context, n), u"") << n;
        }
        EXPECT_EQ(Path_Of(context, 39), u"\\n1");
    }
    SKIP_WITHOUT(deleted);
    {
        // \1\2\3\4\file.txt, all deleted: each deletion raised the record's
        // sequence number, so every parent link is stale and only \1 (whose
        // parent is the root) resolves.
        Global_Parsing_Context context;
        ASSERT_EQ(Parse_MFT(context, deleted), 0);
        EXPECT_EQ(context.Mft.Entry_Count(), 37u);
        EXPECT_EQ(context.Mft.Path_Node_Count(), 31u);
        EXPECT_EQ(Count_Resolved(context), 26u);
        EXPECT_EQ(Path_Of(context, 39), u"\\1");
        const _ENTRYINFO_2* file = context.Mft.Find_By_Number(47);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->Name, u"file.txt");
        EXPECT_EQ(file->IsDeleted, 1);
        EXPECT_EQ(Path_Of(context, 47), u"");
        for (std::uint64_t n : {39u, 43u, 44u, 45u, 46u}) EXPECT_EQ(context.Mft.Find_By_Number(n)->IsDirectory, 1) << n;
    }
}

TEST(Mft_Real_Files, FourKilobyteRecords) {
    const std::string mft = Real("dfir-ntfs-mft/4k-large.mft");
    SKIP_WITHOUT(mft);
    Global_Parsing_Context context;
    ASSERT_EQ(Parse_MFT(context, mft), 0);
    EXPECT_EQ(Path_Of(context, 39), u"\\1.txt");
    EXPECT_EQ(Path_Of(context, 43), u"\\2.txt");
    EXPECT_EQ(context.Mft.Find_By_Number(39)->DataSize, 3216u);  // resident, larger than a 1024-byte record
    EXPECT_EQ(Path_Of(context, 37), u"\\System Volume Information\\IndexerVolumeGuid");
}

TEST(Mft_Real_Files, WindowsXpAndNistVolumes) {
    const std::string xw = Real("ez-mft/xw_MFT");
    const std::string nist = Real("ez-mft/nist_dfr16_MFT");
    SKIP_WITHOUT(xw);
    {
        Global_Parsing_Context context;
        ASSERT_EQ(Parse_MFT(context, xw), 0);
        EXPECT_EQ(context.Mft.Entry_Count(), 617u);
        EXPECT_EQ(context.Mft.Path_Node_Count(), 611u);
        // Not resolved: $Secure, $Quota, $ObjId, $Reparse (no path node) and
        // 24 deleted entries whose parent was reused or is gone.
        EXPECT_EQ(Count_Resolved(context), 589u);
        EXPECT_EQ(context.MFT_Creation_Time, u"2004-05-03 16:05:01");
        EXPECT_EQ(Path_Of(context, 37), u"\\Docs\\IHK-Au\u00DFenwirtschaft.tif");
        EXPECT_EQ(Path_Of(context, 59),
                  u"\\Documents and Settings\\EdgarAllanPoe\\Local Settings\\Temp\\Temporary Internet Files\\"
                  u"Content.IE5\\0P2NGHQ3\\Messages.txt");
    }
    SKIP_WITHOUT(nist);
    {
        Global_Parsing_Context context;
        ASSERT_EQ(Parse_MFT(context, nist), 0);
        EXPECT_EQ(context.Mft.Entry_Count(), 113u);
        EXPECT_EQ(context.Mft.Path_Node_Count(), 109u);
        EXPECT_EQ(Count_Resolved(context), 109u);
        // Record 0 has all four $STANDARD_INFORMATION times zero.
        EXPECT_EQ(context.MFT_Creation_Time, u"1601-01-01 00:00:00");
        EXPECT_EQ(Path_Of(context, 99), u"\\Y08\\Y08L01\\Y08L02\\Y08L03\\Y08L04\\Y08L05\\Y08L06\\Y08L07");
    }
}

// The cluster size each volume's $MFTMirr gives, and the record size of
// record 0. xw_MFT's $MFT is fragmented: its own $DATA in record 0 covers
// only part of it and would give no whole cluster size.
TEST(Mft_Real_Files, ClusterAndRecordSizesOfEachVolume) {
    const struct {
        const char* mft;
        std::uint64_t bytes_per_cluster, record_size;
    } cases[] = {
        {"win10-20h1-volume/MFT", 4096, 1024}, {"dfir-ntfs-mft/unicode.mft", 4096, 1024},
        {"dfir-ntfs-mft/orphan.mft", 4096, 1024}, {"dfir-ntfs-mft/deleted.mft", 4096, 1024},
        {"dfir-ntfs-mft/4k-large.mft", 4096, 4096}, {"tiny-volume-2013/MFT", 512, 1024},
        {"ez-mft/nist_dfr16_MFT", 512, 1024}, {"ez-mft/xw_MFT", 2048, 1024},
    };
    for (const auto& c : cases) {
        SKIP_WITHOUT(Real(c.mft));
        Global_Parsing_Context context;
        ASSERT_EQ(Parse_MFT(context, Real(c.mft)), 0) << c.mft;
        EXPECT_EQ(context.Mft.Geometry().Bytes_Per_Cluster, c.bytes_per_cluster) << c.mft;
        EXPECT_EQ(context.Mft.Geometry().File_Record_Size, c.record_size) << c.mft;
    }
}
