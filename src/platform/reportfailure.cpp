#include "platform/reportfailure.h"

#include "platform/resulttext.h"
#include "shell/prompter.h"
#include "shell/runtimeoptions.h"

namespace corvane {

void ReportFailureForced(const QString& callName, uint32_t code) {
    if (code == 0)
        return;
    const QString text = resultText(code).trimmed();
    if (text.isEmpty())
        return;
    showMessage(QStringLiteral("%1 failed: %2").arg(callName, text), QStringLiteral("Error"),
                MsgIcon::Warning);
}

void ReportFailure(const QString& callName, uint32_t code) {
    if (!runtimeOptions().optNoErrorMessages)
        ReportFailureForced(callName, code);
}

} // namespace corvane
