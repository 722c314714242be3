// Failure reports, result texts and the platform version seam.
#include "corvane_result.h"
#include "platform/reportfailure.h"
#include "platform/resulttext.h"
#include "platform/version.h"
#include "recording_prompter.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(ReportFailure, ShowsNameAndTextUnderError) {
    test::RecordingPrompter prompts;
    setFailureMessagesSilenced(false);
    ReportFailure(QStringLiteral("SetIfEntry"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(prompts.messages.size(), 1u);
    const auto& m = prompts.messages[0];
    EXPECT_TRUE(m.text.startsWith(QStringLiteral("SetIfEntry failed: Access is denied.")));
    EXPECT_TRUE(m.text.contains(QStringLiteral("CAP_NET_ADMIN")));
    EXPECT_TRUE(m.text.contains(QStringLiteral("corvane-helper")));
    EXPECT_EQ(m.caption, QStringLiteral("Error"));
    EXPECT_EQ(m.icon, MsgIcon::Warning);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);
}

TEST(ReportFailure, SilencedOnlyWhenNotForced) {
    test::RecordingPrompter prompts;
    const unsigned before = reportedFailureCount();
    setFailureMessagesSilenced(true);
    ReportFailure(QStringLiteral("GetIfTable"), ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(prompts.messages.empty());
    ReportFailureForced(QStringLiteral("SetIpForwardEntry"), ERROR_OBJECT_ALREADY_EXISTS);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              QStringLiteral("SetIpForwardEntry failed: The object already exists."));
    setFailureMessagesSilenced(false);
    // Success is never reported, forced or not.
    ReportFailure(QStringLiteral("GetIfTable"), NO_ERROR);
    ReportFailureForced(QStringLiteral("GetIfTable"), NO_ERROR);
    EXPECT_EQ(prompts.messages.size(), 1u);
    // Silenced failures still count; successes don't.
    EXPECT_EQ(reportedFailureCount() - before, 2u);
}

TEST(ResultText, EveryCodeOfTheLibrariesHasItsOwnText) {
    const uint32_t codes[] = {ERROR_FILE_NOT_FOUND,
                              ERROR_ACCESS_DENIED,
                              ERROR_INVALID_HANDLE,
                              ERROR_NOT_ENOUGH_MEMORY,
                              ERROR_INVALID_DATA,
                              ERROR_NO_MORE_FILES,
                              ERROR_GEN_FAILURE,
                              ERROR_NOT_SUPPORTED,
                              ERROR_DEV_NOT_EXIST,
                              ERROR_BAD_NET_NAME,
                              ERROR_INVALID_PARAMETER,
                              ERROR_BUFFER_OVERFLOW,
                              ERROR_INSUFFICIENT_BUFFER,
                              ERROR_PROC_NOT_FOUND,
                              ERROR_BUSY,
                              ERROR_NO_DATA,
                              ERROR_CAN_NOT_COMPLETE,
                              ERROR_NOT_FOUND,
                              ERROR_NETWORK_UNREACHABLE,
                              ERROR_TIMEOUT,
                              ERROR_OBJECT_ALREADY_EXISTS,
                              ERROR_INVALID_NETMASK,
                              ERROR_INVALID_NTE_CONTEXT,
                              ERROR_NO_DHCP_CLIENT,
                              ERROR_DHCP_CLIENT_FAILED,
                              ERROR_KERNEL_REJECTED,
                              ERROR_ROUTE_AMBIGUOUS,
                              ERROR_DHCP_NO_ANSWER,
                              ERROR_DHCP_KEPT_BY_MANAGER,
                              ERROR_DHCP_NOT_FROM_HELPER,
                              ERROR_DHCP_MANAGER_REFUSED,
                              ERROR_WOULD_DELETE_OTHERS,
                              ERROR_HELPER_NOT_ALLOWED,
                              ERROR_HELPER_NOT_AUTHENTICATED,
                              ERROR_HELPER_FAILED};
    for (uint32_t c : codes) {
        SCOPED_TRACE(c);
        const QString t = resultText(c);
        EXPECT_FALSE(t.isEmpty());
        EXPECT_FALSE(t.startsWith(QStringLiteral("Unknown")));
        EXPECT_EQ(t, t.trimmed());
    }
    // errno values must never pass for codes: EDQUOT is 122, yet only the code means a buffer.
    EXPECT_TRUE(resultText(0xDEADBEEF).contains(QStringLiteral("0xdeadbeef")));
}

TEST(PlatformVersion, LevelsAndFlags) {
    struct {
        const char* env;
        unsigned major, minor;
        bool xp, vista;
    } cases[] = {
        {nullptr, 5, 1, true, false},   {"5.0", 5, 0, false, false},  {"5.2", 5, 2, true, false},
        {"6.1", 6, 1, false, true},     {"4", 4, 0, false, false},    {"x.1", 5, 1, true, false},
        {"5.1junk", 5, 1, true, false}, {"300.1", 5, 1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env ? c.env : "(unset)");
        if (c.env)
            ::setenv("CORVANE_PLATFORM_VERSION", c.env, 1);
        else
            ::unsetenv("CORVANE_PLATFORM_VERSION");
        const PlatformVersion v = platformVersion();
        EXPECT_EQ(v.major, c.major);
        EXPECT_EQ(v.minor, c.minor);
        EXPECT_EQ(v.xpFamily(), c.xp);
        EXPECT_EQ(v.vista(), c.vista);
        EXPECT_EQ(GetVersion(), c.major | (c.minor << 8));
    }
    ::unsetenv("CORVANE_PLATFORM_VERSION");
}

TEST(Prompter, ConsoleAnswersDefaultsAndConfirmDefaultsToNo) {
    setPrompter(nullptr);
    EXPECT_FALSE(confirm(QStringLiteral("Delete?"), QStringLiteral("Confirm")));
    EXPECT_FALSE(prompter().saveFileName({}).has_value());
    test::RecordingPrompter prompts;
    prompts.answer(MsgAnswer::Yes);
    EXPECT_TRUE(confirm(QStringLiteral("Delete?"), QStringLiteral("Confirm")));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(prompts.messages[0].defaultAnswer, MsgAnswer::No);
}
