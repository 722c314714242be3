// The helper's limits on what waits for polkit, its reading of polkit's answers, and the
// escaping and counting of what it writes to the journal.
#include "helper/admission.h"
#include "helper/authority.h"
#include "helper/journal.h"

#include <gtest/gtest.h>
#include <string>

namespace corvane::helper {
namespace {

TEST(HelperAdmission, EachLimitHoldsAndFreesOnRelease) {
    Admission a;
    // One connection: four wait, the fifth is turned away.
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(a.admit(":1.1", 1000));
    EXPECT_FALSE(a.wouldAdmit(":1.1", 1000));
    EXPECT_TRUE(a.wouldAdmit(":1.2", 1000));
    EXPECT_FALSE(a.admit(":1.1", 1000));
    // The same user from other connections: eight in all.
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(a.admit(":1.2", 1000));
    EXPECT_FALSE(a.admit(":1.3", 1000));
    EXPECT_EQ(a.pending(), 8u);
    // Another user is not held up by the first.
    EXPECT_TRUE(a.admit(":1.4", 1001));
    // An answer frees the place it held, for the connection and the user.
    a.release(":1.1", 1000);
    EXPECT_TRUE(a.admit(":1.1", 1000));
    EXPECT_FALSE(a.admit(":1.1", 1000));
}

TEST(HelperAdmission, TotalBoundsManyUsers) {
    Admission a;
    int admitted = 0;
    for (uid_t uid = 0; uid < 40; ++uid)
        admitted += a.admit(":1." + std::to_string(uid), uid) ? 1 : 0;
    EXPECT_EQ(admitted, 32);
    EXPECT_EQ(a.pending(), 32u);
    a.release(":1.0", 0);
    EXPECT_TRUE(a.admit(":1.99", 99));
    // A release with nothing waiting does not open room past the limit.
    Admission empty(AdmissionLimits{1, 1, 1});
    empty.release(":1.1", 1);
    EXPECT_TRUE(empty.admit(":1.1", 1));
    EXPECT_FALSE(empty.admit(":1.2", 2));
}

TEST(HelperVerdict, RefusalsToldApart) {
    EXPECT_EQ(verdictOf(true, false, false), Verdict::Allowed);
    EXPECT_EQ(verdictOf(true, true, false), Verdict::Allowed);
    EXPECT_EQ(verdictOf(false, false, false), Verdict::NotAllowed);
    EXPECT_EQ(verdictOf(false, true, false), Verdict::NotAuthenticated);
    EXPECT_EQ(verdictOf(false, false, true), Verdict::NotAuthenticated);
    EXPECT_EQ(verdictOf(nullptr), Verdict::Failed);
}

TEST(HelperJournal, PrintableEscapesWhatCouldForgeALine) {
    EXPECT_EQ(printable("hv0"), "hv0");
    EXPECT_EQ(printable("hv0\n uid 0: delete route"), "hv0\\x0a uid 0: delete route");
    EXPECT_EQ(printable("a\rb\x1b[2Jc\x7f"), "a\\x0db\\x1b[2Jc\\x7f");
    EXPECT_EQ(printable("10.1.0.0\\x0a"), "10.1.0.0\\x5cx0a");
    // Valid UTF-8 is kept; stray, cut short, overlong and surrogate bytes are not.
    EXPECT_EQ(printable("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(printable("x\xc3"), "x\\xc3");
    EXPECT_EQ(printable("\xff\xfe"), "\\xff\\xfe");
    EXPECT_EQ(printable("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(printable("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    // C1 controls, line and paragraph separators, reordering marks.
    EXPECT_EQ(printable("a\xc2\x85z"), "a\\xc2\\x85z");
    EXPECT_EQ(printable("a\xe2\x80\xa8z"), "a\\xe2\\x80\\xa8z");
    EXPECT_EQ(printable("a\xe2\x80\xaez"), "a\\xe2\\x80\\xaez");
    EXPECT_EQ(printable(std::string_view("a\0b", 3)), "a\\x00b");
    // Long text is cut, and a sequence cut by the limit is escaped, not half shown.
    EXPECT_EQ(printable(std::string(100, 'a')), std::string(80, 'a') + "...");
    EXPECT_EQ(printable(std::string(79, 'a') + "\xc3\xa9"), std::string(79, 'a') + "\\xc3...");
}

TEST(HelperJournal, RefusalsLimitedPerUidAndWindow) {
    RefusalLimit limit;
    unsigned before = 0;
    constexpr uint64_t t0 = 1'000'000;
    for (unsigned i = 0; i < RefusalLimit::kRefusalLines; ++i)
        ASSERT_EQ(limit.refusal(65534, t0 + i, &before), RefusalLimit::Say::Line);
    EXPECT_EQ(limit.refusal(65534, t0 + 100, &before), RefusalLimit::Say::Suppressed);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(limit.refusal(65534, t0 + 200, &before), RefusalLimit::Say::Nothing);
    // Another user's refusals are still written.
    EXPECT_EQ(limit.refusal(1000, t0 + 300, &before), RefusalLimit::Say::Line);
    // The next window says how many went unwritten, then writes again.
    EXPECT_EQ(limit.refusal(65534, t0 + RefusalLimit::kWindowUsec, &before),
              RefusalLimit::Say::Line);
    EXPECT_EQ(before, 1001u);
    EXPECT_EQ(limit.refusal(65534, t0 + RefusalLimit::kWindowUsec + 1, &before),
              RefusalLimit::Say::Line);
    EXPECT_EQ(before, 0u);
}

TEST(HelperJournal, ManyUidsDoNotGrowWithoutBound) {
    RefusalLimit limit;
    unsigned before = 0;
    for (uid_t uid = 0; uid < 100000; ++uid)
        ASSERT_EQ(limit.refusal(uid, uid, &before), RefusalLimit::Say::Line);
    EXPECT_LE(limit.tracked(), RefusalLimit::kTrackedUids);
}

} // namespace
} // namespace corvane::helper
