#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "detection/Detection_Test_Support.h"
#include "detection/usnjrnl/Literal_Timestamp_Rules.h"
#include "detection/usnjrnl/UsnJrnl_Record_Rules.h"
#include "app/Signature_Loading.h"
#include "output/Time_Text.h"
#include "support/Detection_Builders.h"

using namespace test_support;

namespace {

// A small random volume: a few files in a few folders (one under an update
// path, one a key temporary folder), a journal of a few hundred records
// within minutes, and an $MFT whose times sometimes follow the journal and
// sometimes were set back.
class Random_Volume {
public:
    // With `bursts`, now and then many records of other files share one
    // second, so that look-backs span more records than they read one by one.
    explicit Random_Volume(std::uint64_t seed, bool bursts = false) : seed_(seed), bursts_(bursts) {}

    std::uint64_t Next() {
        seed_ = seed_ * 6364136223846793005ull + 1442695040888963407ull;
        return seed_ >> 33;
    }

    void Fill(Program_State& state) {
        const char16_t* folders[] = {u"\\Users\\Me", u"\\Program Files\\Vendor", u"\\Users\\Me\\AppData\\Local\\Temp",
                                     u"\\Data"};
        const char16_t* names[] = {u"a.txt", u"ab.doc", u"report.docx", u"rep.docx", u"x.bin", u"x.tmp", u"notes"};
        const char16_t* reasons[] = {u"Basic_Info_Changed",
                                     u"Basic_Info_Changed , File_Closed",
                                     u"Data_Truncated , Basic_Info_Changed",
                                     u"Data_Truncated , Basic_Info_Changed , File_Closed",
                                     u"File_Created",
                                     u"File_Created , File_Closed",
                                     u"File_Deleted , File_Closed",
                                     u"File_Renamed_Old",
                                     u"File_Renamed_New",
                                     u"File_Renamed_New , File_Closed",
                                     u"Data_Added , Data_Truncated",
                                     u"Data_Overwritten",
                                     u"Compression_Changed",
                                     u"Object_ID_Changed",
                                     u"File_Closed",
                                     u"Data_Truncated , File_Closed"};
        constexpr int Files = 8;
        std::int64_t second = 13'240'800'000 + 36'000;  // 2020-08-02 10:00:00 UTC
        Shifted_Time_Text_Maker text(0);
        const int records = 50 + static_cast<int>(Next() % 250);
        for (int r = 0; r < records; ++r) {
            const int file = static_cast<int>(Next() % Files);
            const int folder = static_cast<int>(Next() % 8 < 6 ? file % 4 : Next() % 4);
            const std::u16string name = Next() % 6 == 0 ? names[Next() % 7] : names[file % 7];
            _USNJRNLINFO row;
            row.USN = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(r) * 96);
            row.TimeStamp = text.Text(static_cast<std::uint64_t>(second) * 10'000'000ull);
            row.FileName = name;
            row.FullPath = std::u16string(folders[folder]) + u"\\" + name;
            row.FileAttr = Next() % 20 == 0 ? u"Directory" : u"Archive";
            row.SourceInfo = u"0";
            if (Next() % 9 == 0) {
                // The tool, then its change.
                row.FileName = u"TIMESTOMP.EXE-1A2B3C4D.pf";
                row.FullPath = u"\\Windows\\Prefetch\\" + row.FileName;
                row.Event = u"File_Created , File_Closed";
                row.FileReferenceNumber = Ref(90);
                row.ParentFileReferenceNumber = Ref(91);
            } else {
                // A third of the records are a change of times with its close.
                row.Event = reasons[Next() % 3 == 0 ? 0 : Next() % 16];
                row.FileReferenceNumber = Ref(60 + static_cast<std::uint64_t>(file));
                row.ParentFileReferenceNumber = Ref(40 + static_cast<std::uint64_t>(folder));
            }
            state.g_UsnJrnl_Info_Array.push_back(row);
            if (row.Event == reasons[0] && Next() % 4 != 0) {
                row.USN = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(r) * 96 + 48);
                row.Event = reasons[1];
                state.g_UsnJrnl_Info_Array.push_back(row);
            }
            if (bursts_ && Next() % 12 == 0) {
                _USNJRNLINFO filler = row;
                const int count = 70 + static_cast<int>(Next() % 60);
                for (int k = 0; k < count; ++k) {
                    filler.USN = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(r) * 96 + 49 + k);
                    filler.FileName = u"filler.dat";
                    filler.FullPath = u"\\Data\\filler.dat";
                    filler.Event = k % 2 == 0 ? u"Data_Overwritten" : u"Data_Overwritten , File_Closed";
                    filler.FileReferenceNumber = Ref(96 + static_cast<std::uint64_t>(k % 3));
                    filler.ParentFileReferenceNumber = Ref(43);
                    state.g_UsnJrnl_Info_Array.push_back(filler);
                }
                // The file's own change closes after the burst.
                if (row.Event == reasons[0]) {
                    row.USN = platform::Unsigned_Decimal_Text(static_cast<std::uint64_t>(r) * 96 + 95);
                    row.Event = reasons[Next() % 2 == 0 ? 1 : 3];
                    state.g_UsnJrnl_Info_Array.push_back(row);
                }
            }
            const std::uint64_t step = Next() % 10;
            if (step < 5) second += 0;
            else if (step < 8) second += 1 + static_cast<std::int64_t>(Next() % 3);
            else if (step < 9) second += static_cast<std::int64_t>(Next() % 20);
            else second -= static_cast<std::int64_t>(Next() % 3);
        }

        Mft_Entries mft;
        mft.Root();
        const char16_t* folder_names[] = {u"Me", u"Vendor", u"Temp", u"Data"};
        for (std::uint64_t f = 0; f < 4; ++f) mft.Directory(40 + f, 1, Mft_Root_Reference, folder_names[f]);
        const std::uint64_t start = static_cast<std::uint64_t>(13'240'800'000 + 36'000) * 10'000'000ull;
        const std::uint64_t stomped = 131907744000000000ull;
        for (std::uint64_t file = 0; file < Files + 3; ++file) {
            if (Next() % 7 == 0) continue;  // no $MFT entry
            const std::uint64_t folder = Next() % 8 < 6 ? file % 4 : Next() % 4;
            mft.File(60 + file, 1, Mft_Reference(40 + folder, 1),
                     file < Files ? names[file % 7] : names[Next() % 7]);
            const auto time = [&]() -> std::uint64_t {
                switch (Next() % 4) {
                    case 0: return stomped;
                    case 1: return stomped + (Next() % 3) * 10'000'000ull;
                    default: return start + (Next() % 600) * 10'000'000ull + (Next() % 2) * 1234567;
                }
            };
            mft.Last().CreateTime = time();
            mft.Last().ModifiedTime = Next() % 2 == 0 ? mft.Last().CreateTime : time();
            mft.Last().MFT_ModifiedTime = Next() % 2 == 0 ? mft.Last().ModifiedTime : time();
            mft.Last().DataSize = Next() % 2 == 0 ? 4096 : 4097;
            mft.Last().IsDeleted = Next() % 15 == 0 ? 1 : 0;
            mft.Last().HasZoneIdentifier = Next() % 15 == 0 ? 1 : 0;
        }
        mft.Install(state.g_Parsing_Context);

        Add_Signature_Text(state, u"ProgramUpdatePath|\\Program Files\\|Same|2");
        Add_Signature_Text(state, u"KeyTempPath|\\AppData\\Local\\Temp\\|Include");
        Add_Signature_Text(state, Next() % 2 == 0 ? u"Execution|Timestamp Manipulation|Same|TIMESTOMP|Timestomp"
                                                  : u"Execution|Timestamp Manipulation|Same|TIMESTOMP|T");
    }

private:
    static std::u16string Ref(std::uint64_t entry) {
        return platform::Format(u"0x%.16llX", {static_cast<unsigned long long>(Mft_Reference(entry, 1))});
    }
    std::uint64_t seed_;
    bool bursts_;
};

std::string Entry_Line(std::u16string_view reference, std::u16string_view last_usn, std::uint32_t paired,
                       std::uint32_t unpaired, unsigned creation_gap, unsigned creation_event_gap, unsigned modified_gap,
                       unsigned reported) {
    return platform::Utf16_To_Utf8(std::u16string(reference) + u" " + std::u16string(last_usn)) + " P" +
           std::to_string(paired) + " U" + std::to_string(unpaired) + " C" + std::to_string(creation_gap) +
           std::to_string(creation_event_gap) + std::to_string(modified_gap) + " R" + std::to_string(reported);
}

std::vector<std::string> Entry_Lines(const Detection_Context& context) {
    const UsnJrnl_Info_Rows& rows = context.g_UsnJrnl_Info_Array;
    std::vector<std::string> out;
    for (const auto& e : context.g_Basic_Info_Changed_Array)
        if (!e.Removed)
            out.push_back(Entry_Line(e.FileReferenceNumber(rows), e.LastUSN(rows), e.PairedCount, e.UnpairedCount,
                                     e.CreationGapFlag, e.CreationEventGapFlag, e.ModifiedGapFlag, e.Reported));
    return out;
}

std::vector<std::string> Entry_Lines(const literal::Entries& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries)
        out.push_back(Entry_Line(e->FileReferenceNumber, e->LastUSN, e->PairedCount, e->UnpairedCount,
                                 e->CreationGapFlag, e->CreationEventGapFlag, e->ModifiedGapFlag, e->Reported));
    return out;
}

// On random small volumes, the indexed rules find exactly what the plain
// scans find, and track the same entries in the same order.
void Expect_Indexed_Rules_Match_Literal_Scans(bool bursts, std::uint64_t seeds, int least_with_findings) {
    int with_findings = 0;
    for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        Program_State indexed_state, literal_state;
        Random_Volume(seed, bursts).Fill(indexed_state);
        Random_Volume(seed, bursts).Fill(literal_state);

        Detection_Context indexed(indexed_state);
        Run_UsnJrnl_Half(indexed);

        Detection_Context literal(literal_state);
        Run_UsnJrnl_Periods(literal);
        literal::Rules rules(literal);
        rules.Track_All();
        rules.Classify();
        rules.Detect();
        Free_UsnJrnl_Working_Objects(literal);
        rules.Link();

        ASSERT_EQ(Entry_Lines(indexed), Entry_Lines(rules.Tracked())) << "seed " << seed;
        const auto findings = Findings_Of(indexed_state, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl);
        ASSERT_EQ(findings,
                  Findings_Of(literal_state, Finding_Category::Timestamp_Manipulation, Finding_Source::UsnJrnl))
            << "seed " << seed;
        with_findings += findings.empty() ? 0 : 1;
    }
    // The volumes exercise the rules, not just the skips.
    EXPECT_GT(with_findings, least_with_findings);
}

}  // namespace

TEST(UsnJrnl_Timestamp_Differential, IndexedRulesMatchTheLiteralScans) {
    Expect_Indexed_Rules_Match_Literal_Scans(false, 300, 30);
}

// The same where bursts of other files' records lie between a change and
// its close.
TEST(UsnJrnl_Timestamp_Differential, IndexedRulesMatchTheLiteralScansAcrossBursts) {
    Expect_Indexed_Rules_Match_Literal_Scans(true, 100, 10);
}
