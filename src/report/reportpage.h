// The Report page: the status report built from what the window's pages show, the history of
// blocks, the keys and popup of redtReport, and saving to a text file.
#pragma once

#include "report/report_layout.h"
#include "widgets/page.h"

class QPlainTextEdit;

namespace corvane {

class ReportView;

class ReportPage : public Page {
    Q_OBJECT
public:
    explicit ReportPage(const PageContext& context, QWidget* parent = nullptr);

    QPlainTextEdit* redtReport = nullptr;
    QMenu* pmReportMenu = nullptr;
    // Set once the platform is bound: the owner column of the connection section.
    void setXpFamily(bool xpFamily) { xpFamily_ = xpFamily; }

    // The pages' data in their on-screen order; the page adds the time and the options.
    void BuildReport(ReportInput input);
    void acSaveReportExecute();

    // The page's text, lines joined by '\n'.
    QString reportText() const;
    // The name the next save dialog proposes: "ip_report", then the last chosen path.
    QString reportSaveName() const { return saveName_; }

private:
    bool xpFamily_ = false;
    ReportView* view_ = nullptr;
    QString saveName_ = QStringLiteral("ip_report");
};

} // namespace corvane
