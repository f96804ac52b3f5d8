#include <gtest/gtest.h>

#include "detection/Findings.h"

namespace {

// "Category/Source: location location ..." for each overview, in order.
std::vector<std::string> Layout(const Detection_Overview_List& overviews) {
    std::vector<std::string> out;
    for (const auto& o : overviews) {
        std::u16string line = o->Category + u"/" + o->Source + u":";
        for (const auto& d : o->Details) {
            EXPECT_EQ(d->Source, o->Source);
            line += u" " + d->DetectionLocation;
        }
        out.emplace_back(line.begin(), line.end());  // ASCII only
    }
    return out;
}

}  // namespace

TEST(Findings, RecordingFindsOrMakesTheOverviewOfCategoryAndSource) {
    Detection_Overview_List overviews;
    using namespace Finding_Category;
    Record_Finding(overviews, Timestamp_Manipulation, Finding_Source::LogFile, u"100", u"a");
    Record_Finding(overviews, Execution, Finding_Source::LogFile, u"200", u"b");
    // Same category, other source: a second overview.
    Record_Finding(overviews, Timestamp_Manipulation, Finding_Source::UsnJrnl, u"300", u"c");
    // An older pair receives later findings in its existing overview.
    auto& d = Record_Finding(overviews, Timestamp_Manipulation, Finding_Source::LogFile, u"400", u"d");
    EXPECT_EQ(d.Message, u"d");
    EXPECT_EQ(d.Valid, 1u);
    EXPECT_EQ(d.RecordIndex, 0u);
    EXPECT_TRUE(d.ToolKind.empty() && d.FullPath.empty() && d.EventTime.empty());
    // Comparison of category and source is exact.
    Record_Finding(overviews, u"timestamp manipulation", Finding_Source::LogFile, u"500", u"e");
    EXPECT_EQ(Layout(overviews), (std::vector<std::string>{"Timestamp Manipulation/$LogFile: 100 400",
                                                           "Execution of Suspicious Programs/$LogFile: 200",
                                                           "Timestamp Manipulation/$UsnJrnl:$J: 300",
                                                           "timestamp manipulation/$LogFile: 500"}));
    // A suppressed finding stays in place for the later phases.
    d.Valid = 0;
    EXPECT_EQ(overviews[0]->Details.size(), 2u);
}
