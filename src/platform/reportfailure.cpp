#include "platform/reportfailure.h"

#include "platform/resulttext.h"
#include "shell/prompter.h"
#include "shell/runtimeoptions.h"

namespace corvane {
namespace {
unsigned failures = 0;
} // namespace

unsigned reportedFailureCount() {
    return failures;
}

void ReportFailureForced(const QString& callName, uint32_t code) {
    if (code == 0)
        return;
    ++failures;
    const QString text = resultText(code).trimmed();
    if (text.isEmpty())
        return;
    showMessage(QStringLiteral("%1 failed: %2").arg(callName, text), QStringLiteral("Error"),
                MsgIcon::Warning);
}

void ReportFailure(const QString& callName, uint32_t code) {
    if (!runtimeOptions().optNoErrorMessages)
        ReportFailureForced(callName, code);
    else if (code != 0)
        ++failures;
}

} // namespace corvane
