// Runs every test and tells ctest when any of them skipped: ctest would otherwise count a
// binary whose tests all skipped (no root, a tool missing) as passed, and a run could be green
// with nothing tested. The code is ctest's SKIP_RETURN_CODE for our test binaries.
#pragma once

#include <cstdio>
#include <gtest/gtest.h>

namespace corvane::test {

inline constexpr int kSkippedExitCode = 77;

// RUN_ALL_TESTS(), except that a run without failures but with skips ends with
// kSkippedExitCode after naming the skipped tests.
inline int runAllTestsShowingSkips() {
    const int rc = RUN_ALL_TESTS();
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    if (rc != 0 || all.skipped_test_count() == 0)
        return rc;
    std::fprintf(stderr, "%d of %d tests skipped:\n", all.skipped_test_count(),
                 all.test_to_run_count());
    for (int s = 0; s < all.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *all.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const ::testing::TestInfo& info = *suite.GetTestInfo(t);
            if (info.result() != nullptr && info.result()->Skipped())
                std::fprintf(stderr, "  SKIPPED %s.%s\n", suite.name(), info.name());
        }
    }
    return kSkippedExitCode;
}

} // namespace corvane::test
