// The Report page: builds the status report from what the other pages show, keeps the
// history of blocks, the keys and popup of redtReport, and saving to a text file.
#pragma once

#include <QString>

namespace corvane {

class TfrmMain;

// Registers the refresh step and the Netstat toggles' rebuild, connects the handlers.
void installReportPage(TfrmMain& w);

void BuildReport(TfrmMain& w);
void acSaveReportExecute(TfrmMain& w);

// The page's text, lines joined by '\n'.
QString reportText(const TfrmMain& w);
// The name the next save dialog proposes: "ip_report", then the last chosen path.
QString reportSaveName();

} // namespace corvane
