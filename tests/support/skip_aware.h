// Runs every test and tells ctest when any of them skipped: ctest would otherwise count a
// binary whose tests all skipped (no root, a tool missing) as passed, and a run could be green
// with nothing tested. The code is ctest's SKIP_RETURN_CODE for our test binaries.
#pragma once

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

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
            const ::testing::TestResult* result = info.result();
            if (result == nullptr || !result->Skipped())
                continue;
            std::string why;
            for (int p = 0; p < result->total_part_count(); ++p)
                if (result->GetTestPartResult(p).skipped())
                    why += result->GetTestPartResult(p).message();
            // One line each, for test.sh to pick out of ctest's log.
            for (char& c : why)
                if (static_cast<unsigned char>(c) < 0x20)
                    c = ' ';
            std::fprintf(stderr, "  SKIPPED %s.%s: %s\n", suite.name(), info.name(), why.c_str());
        }
    }
    return kSkippedExitCode;
}

} // namespace corvane::test
