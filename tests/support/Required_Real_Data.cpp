// In a build that requires the real samples (TREVALON_REQUIRE_REAL_DATA), a
// test that skips fails instead. The tests that read the samples skip only
// when they are absent, so where the samples must be present a skip means a
// sample went missing or a test looks in the wrong place; reported as a skip,
// it would leave the run green with those tests never run.
#include <gtest/gtest.h>

namespace {

class Skip_Fails : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        if (test.result()->Skipped())
            ADD_FAILURE() << "skipped, but this build requires the real samples in " << TREVALON_REAL_DATA_DIR
                          << " (TREVALON_REQUIRE_REAL_DATA is ON): no test may skip";
    }
};

// Appended after the result printer: the end of a test reaches the listeners
// in reverse order, so this one adds its failure before the printer and the
// exit code judge the test.
const bool Registered = [] {
    if (TREVALON_REQUIRE_REAL_DATA == 0) return false;
    testing::UnitTest::GetInstance()->listeners().Append(new Skip_Fails);
    return true;
}();

}  // namespace
