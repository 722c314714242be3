// Message-box reports of a failed platform call: "<name> failed: <text>", caption "Error".
#pragma once

#include <QSet>
#include <QString>
#include <cstdint>

namespace corvane {

// The option "Disable Error Messages" as it is in effect; the shell keeps it current.
void setFailureMessagesSilenced(bool on);
bool failureMessagesSilenced();
// Silenced by the option "Disable Error Messages"; nothing is shown for code 0. Inside a
// FailureBatch a call name already shown in it shows no further box.
void ReportFailure(const QString& callName, uint32_t code);
// Always shown, each on its own: changes of routes and addresses must never fail unseen.
void ReportFailureForced(const QString& callName, uint32_t code);
// Failed calls handed to either, shown or silenced, since the program started: the command
// line tells a complete report from one with gaps by it.
unsigned reportedFailureCount();

// Held by a refresh around its fill steps. Interfaces that vanish under a refresh fail one
// per-row call for each row, and every box is modal: one box per call name says as much.
// Batches nest; the outermost one starts afresh and ends the batch.
class FailureBatch {
public:
    FailureBatch();
    ~FailureBatch();
    FailureBatch(const FailureBatch&) = delete;
    FailureBatch& operator=(const FailureBatch&) = delete;
};

// Held by work that runs inside a refresh's event loop but is not part of it (a change the
// user started, a statistics window's tick): its reports are shown as if no batch were open.
class FailureBatchPause {
public:
    FailureBatchPause();
    ~FailureBatchPause();
    FailureBatchPause(const FailureBatchPause&) = delete;
    FailureBatchPause& operator=(const FailureBatchPause&) = delete;

private:
    int depth_;
    QSet<QString> shown_;
};

} // namespace corvane
