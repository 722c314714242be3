// Message-box reports of a failed platform call: "<name> failed: <text>", caption "Error".
#pragma once

#include <QString>
#include <cstdint>

namespace corvane {

// The option "Disable Error Messages" as it is in effect; the shell keeps it current.
void setFailureMessagesSilenced(bool on);
bool failureMessagesSilenced();
// Silenced by the option "Disable Error Messages"; nothing is shown for code 0.
void ReportFailure(const QString& callName, uint32_t code);
// Always shown: changes of routes and addresses must never fail unseen.
void ReportFailureForced(const QString& callName, uint32_t code);
// Failed calls handed to either, shown or silenced, since the program started: the command
// line tells a complete report from one with gaps by it.
unsigned reportedFailureCount();

} // namespace corvane
