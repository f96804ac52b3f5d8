// The indexed timestamp rule and its refinement against the literal
// implementation, on many small random logs: a few files (some sharing one of
// their two identity texts), a few names, check points, creations, renames,
// moves, deletions, writes and time changes near every threshold, LSN steps
// around every window, times within a few seconds (some past year 9999), and
// now and then an LSN out of order or not a number.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "detection/logfile/Literal_LogFile_Timestamp.h"
#include "detection/logfile/Timestamp_Test_Support.h"
#include "platform/text.h"
#include "support/Detection_Builders.h"

using namespace test_support;

namespace {

class Random_Log {
public:
    explicit Random_Log(unsigned seed) : random_(seed) {}

    Log_Info_Rows Make() {
        Log_Info_Rows rows;
        // Some logs are dense with check points, so that the walks bounded by
        // 25 of them end inside the log.
        check_point_weight_ = Pick(0, 3) == 0 ? 14 : 2;
        const int count = Pick(4, check_point_weight_ > 2 ? 120 : 60);
        std::uint64_t lsn = 4096;
        for (int n = 0; n < count; ++n) {
            lsn = Next_Lsn(lsn);
            rows.push_back(Make_Event(lsn));
        }
        return rows;
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    template <class T>
    const T& One_Of(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(Pick(0, static_cast<int>(v.size()) - 1))];
    }

    std::uint64_t Next_Lsn(std::uint64_t lsn) {
        static const std::vector<std::uint64_t> steps = {0x10, 0x40, 0x100, 0x800, 0xFFF, 0x1000, 0x2000,
                                                         0x2001, 0x3000, 0x3001, 0x6000, 0x6001, 0x10000, 0x10001};
        if (Pick(0, 40) == 0) return lsn > 0x3000 ? lsn - 0x3000 : 0;  // out of order
        return lsn + (Pick(0, 2) == 0 ? One_Of(steps) : static_cast<std::uint64_t>(Pick(1, 0x200)));
    }

    // "2020-05-01 10:30:00" moved by `seconds`.
    static std::u16string Time(int seconds) {
        const int total = 30 * 60 + seconds;
        return platform::Format(u"2020-05-01 10:%0.2d:%0.2d", {total / 60, total % 60});
    }

    // The same time in year 30828: a time past year 9999 is written with all
    // the digits of its year.
    static std::u16string Long_Year_Time(int seconds) { return u"30828-09-14" + Time(seconds).substr(10); }

    std::u16string Change(const char16_t* label, int old_s, int new_s) {
        const int form = Pick(0, 7);
        // Now and then both times, or the new one, past year 9999.
        const std::u16string old_time = form == 3 ? Long_Year_Time(old_s) : Time(old_s);
        const std::u16string new_time = form == 3 || form == 4 ? Long_Year_Time(new_s) : Time(new_s);
        std::u16string text = std::u16string(label) + u" : " + old_time + u" -> " + new_time;
        switch (form) {
            case 0: text += u"(Zero in 100-nanoseconds)"; break;
            case 1: text += u"(same as " + One_Of(names_) + u")"; break;
            case 2: text += u"(same as b.txt, c.txt)"; break;
            default: break;
        }
        return text;
    }

    std::u16string Reversal_Detail() {
        static const std::vector<int> moves = {0, 5, 19, 20, 21, 60, 119, 120, 121, -20};
        std::u16string detail;
        const char16_t* labels[] = {u"CreationTime", u"ModifiedTime", u"MFTModifiedTime", u"AccessedTime"};
        const int mask = Pick(1, 15);
        for (int k = 0; k < 4; ++k) {
            if (!(mask & (1 << k))) continue;
            if (!detail.empty()) detail += u", ";
            detail += Change(labels[k], 0, -One_Of(moves));
        }
        if (Pick(0, 30) == 0) detail = detail.substr(0, static_cast<std::size_t>(Pick(0, static_cast<int>(detail.size()))));
        return detail;
    }

    Log_Event Make_Event(std::uint64_t lsn) {
        static const std::vector<std::pair<std::uint32_t, std::uint64_t>> files = {
            {0x10, 0}, {0x10, 2}, {0x11, 0}, {0x11, 2}};
        static const std::vector<std::u16string> folders = {u"\\d\\", u"\\e\\", u"\\Program Files\\p\\"};
        Log_Event e(lsn);
        if (Pick(0, 60) == 0) e.Lsn_Text(u"x" + platform::Unsigned_Decimal_Text(lsn));
        const auto& file = One_Of(files);
        e.File(file.first, file.second);
        std::u16string name = One_Of(names_);
        if (Pick(0, 12) == 0) name += u" <Guessed>";
        e.Name(name);
        if (Pick(0, 8) != 0) e.Path(One_Of(folders) + name);
        if (Pick(0, 3) != 0) e.Event_Time(Time(Pick(0, 3)));
        else if (Pick(0, 40) == 0) e.Event_Time(u"not a time");

        if (Pick(0, 22 + check_point_weight_) < check_point_weight_) return e.Event(u"# Check Point").Name(u"").Path(u"");
        switch (Pick(2, 22)) {
            case 2: e.Event(u"File Creation"); break;
            case 3: e.Event(u"Directory Creation"); break;
            case 4:
            case 5: {
                const std::u16string old_name = One_Of(names_);
                e.Event(u"Renaming File").Detail(Pick(0, 10) == 0 ? old_name : old_name + u" -> " + name);
                break;
            }
            case 6: e.Event(u"Move(Before)"); break;
            case 7: e.Event(u"Move(After)"); break;
            case 8: e.Event(u"File Deletion"); break;
            case 9:
            case 10:
            case 11:
            case 12: e.Event(u"Time Reversal Event").Detail(Reversal_Detail()); break;
            case 13: {
                static const std::vector<int> moves = {0, 60, 119, 120, 121, -30};
                e.Event(u"CreationTime Update Event").Detail(Change(u"CreationTime", 0, One_Of(moves)));
                break;
            }
            case 14: {
                static const std::vector<const char16_t*> sizes = {u"39", u"40", u"7", u"512", u"x", u"-3"};
                e.Event(u"Writing Content of Resident File").Detail(u"Writing Size : " + std::u16string(One_Of(sizes)));
                break;
            }
            case 15: e.Event(u"Writing Content of Non-Resident File"); break;
            case 16: e.Event(u"Updating Modified Time"); break;
            case 17: e.Event(u"Updating MFTModified Time"); break;
            case 18: e.Event(u"Changing FileAttribute"); break;
            case 19: e.Event(u"Time Reversal Event & Changing FileAttribute").Detail(Reversal_Detail()); break;
            case 20:
                e.Event(u"File Creation").Name(u"TIMESTOMP.EXE-0A1B2C3D.pf").Path(u"\\Windows\\Prefetch\\TIMESTOMP.EXE-0A1B2C3D.pf");
                break;
            default: break;
        }
        return e;
    }

    std::mt19937 random_;
    int check_point_weight_ = 2;
    std::vector<std::u16string> names_ = {u"a.txt", u"b.txt", u"c.txt"};
};

}  // namespace

TEST(LogFile_Timestamp_Differential, IndexedRuleGivesTheLiteralFindings) {
    int with_findings = 0;
    for (unsigned seed = 1; seed <= 6000; ++seed) {
        Random_Log generator(seed);
        Program_State state;
        state.g_Log_Info_Array = generator.Make();
        ASSERT_TRUE(Add_Signatures(state, {u"Execution|Timestamp Manipulation|Same|TIMESTOMP|TimeStomp"}));
        const Timestamp_Outcome indexed = Run_LogFile_Half(state);

        literal_rule::Outcome literal;
        const AntiForneisc_Behavior_Detection_Overview* executions = nullptr;
        for (const auto& o : state.g_Detection_Overview_Array)
            if (o->Category == u"Execution of Suspicious Programs") executions = o.get();
        literal_rule::Run(state.g_Log_Info_Array, literal, executions);
        const Timestamp_Outcome expected =
            Timestamp_Outcome_Of(literal.Overviews, literal.Normal_Reversals, literal.Normal_Creation_Updates);

        ASSERT_EQ(indexed.Findings, expected.Findings) << "seed " << seed;
        ASSERT_EQ(indexed.Normal_Reversals, expected.Normal_Reversals) << "seed " << seed;
        ASSERT_EQ(indexed.Normal_Creation_Updates, expected.Normal_Creation_Updates) << "seed " << seed;
        with_findings += !expected.Findings.empty();
    }
    // The generator reaches the findings, not only the normal cases.
    EXPECT_GT(with_findings, 600);
}
