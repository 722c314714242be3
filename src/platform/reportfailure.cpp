#include "platform/reportfailure.h"

#include "platform/prompter.h"
#include "platform/resulttext.h"

namespace corvane {
namespace {
unsigned failures = 0;
bool silenced = false;
} // namespace

void setFailureMessagesSilenced(bool on) {
    silenced = on;
}

bool failureMessagesSilenced() {
    return silenced;
}

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
    if (!silenced)
        ReportFailureForced(callName, code);
    else if (code != 0)
        ++failures;
}

} // namespace corvane
