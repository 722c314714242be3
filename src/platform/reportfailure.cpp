#include "platform/reportfailure.h"

#include "platform/prompter.h"
#include "platform/resulttext.h"

#include <utility>

namespace corvane {
namespace {
unsigned failures = 0;
bool silenced = false;
int batchDepth = 0;
QSet<QString> shownInBatch;

void show(const QString& callName, uint32_t code) {
    const QString text = resultText(code).trimmed();
    if (text.isEmpty())
        return;
    showMessage(QStringLiteral("%1 failed: %2").arg(callName, text), QStringLiteral("Error"),
                MsgIcon::Warning);
}
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
    show(callName, code);
}

void ReportFailure(const QString& callName, uint32_t code) {
    if (code == 0)
        return;
    ++failures;
    if (silenced)
        return;
    if (batchDepth > 0) {
        // Noted before the box opens: its event loop may run more of the same refresh.
        if (shownInBatch.contains(callName))
            return;
        shownInBatch.insert(callName);
    }
    show(callName, code);
}

FailureBatch::FailureBatch() {
    if (batchDepth++ == 0)
        shownInBatch.clear();
}

FailureBatch::~FailureBatch() {
    if (--batchDepth == 0)
        shownInBatch.clear();
}

FailureBatchPause::FailureBatchPause()
    : depth_(std::exchange(batchDepth, 0)), shown_(std::exchange(shownInBatch, {})) {}

FailureBatchPause::~FailureBatchPause() {
    batchDepth = depth_;
    shownInBatch = std::move(shown_);
}

} // namespace corvane
