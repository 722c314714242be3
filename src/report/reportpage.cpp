#include "report/reportpage.h"

#include "platform/prompter.h"
#include "report/reportview.h"
#include "report/textfile.h"
#include "session/options.h"
#include "widgets/actionlist.h"
#include "widgets/folders.h"
#include "widgets/hints.h"
#include "widgets/images.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace corvane {
namespace {

// The report's columns line up only in a fixed-pitch face. Where the font set maps "Courier
// New" to a proportional one, the desktop's fixed-width font takes its place.
QFont reportFont() {
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    QFont monospace(QStringLiteral("monospace"));
    monospace.setStyleHint(QFont::Monospace);
    for (QFont font : {courier, QFontDatabase::systemFont(QFontDatabase::FixedFont), monospace,
                       QFont(QStringLiteral("DejaVu Sans Mono"))}) {
        font.setPixelSize(12);
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    courier.setPixelSize(12);
    return courier;
}

} // namespace

ReportPage::ReportPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsReport", 1500, parent) {
    redtReport = new QPlainTextEdit(this);
    redtReport->setObjectName(QStringLiteral("redtReport"));
    redtReport->setReadOnly(true);
    redtReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    redtReport->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    redtReport->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    redtReport->setFont(reportFont());
    redtReport->setTabChangesFocus(false);
    applyHint(redtReport, popupHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(redtReport);
    view_ = new ReportView(redtReport);

    pmReportMenu = popupMenu(this, "pmReportMenu");
    fillMenu(
        pmReportMenu, actions_, images_,
        {{"pmReportMenuSelectAll", nullptr, "Select All", "Selects the entire text",
          img::SelectAll},
         {"pmReportMenuCopy", nullptr, "Copy", "Copies selected text into clipboard", img::Copy},
         menuSeparator,
         {"SaveReport2", &ActionList::acSaveReport}});
    attachContextMenu(redtReport, pmReportMenu);
    // The report's own entries: they apply to the report text.
    QAction* selectAll = pmReportMenu->actions().value(0);
    QAction* copy = pmReportMenu->actions().value(1);
    selectAll->setEnabled(false);
    copy->setEnabled(false);
    connect(selectAll, &QAction::triggered, redtReport, &QPlainTextEdit::selectAll);
    connect(copy, &QAction::triggered, redtReport, &QPlainTextEdit::copy);
    connect(pmReportMenu, &QMenu::aboutToShow, this, [this, selectAll, copy] {
        selectAll->setEnabled(!redtReport->document()->isEmpty());
        copy->setEnabled(redtReport->textCursor().hasSelection());
    });
    connect(actions_.acSaveReport, &QAction::triggered, this, &ReportPage::acSaveReportExecute);
}

QString ReportPage::reportText() const {
    return view_->text();
}

void ReportPage::BuildReport(ReportInput input) {
    setReportContext(input, options().run, xpFamily_);
    const bool overwrite = options().on(Option::OverwriteReport);
    const QString block = buildReportBlock(input);
    const QString old = overwrite ? QString() : reportText();
    view_->setText(followReport(old, block, overwrite));
}

void ReportPage::acSaveReportExecute() {
    FileRequest request;
    request.caption = QStringLiteral("Save IP Report");
    request.directory = documentsFolder();
    request.proposedName = saveName_;
    request.filters = {QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*.*)")};
    request.defaultSuffix = QStringLiteral("txt");
    const std::optional<QString> chosen = prompter().saveFileName(request);
    if (!chosen)
        return;
    saveName_ = *chosen;

    QString text = reportText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QString error;
    if (!writeWholeFile(*chosen, localBytes(text), error))
        showMessage(QStringLiteral("Cannot write the report to \"%1\": %2").arg(*chosen, error),
                    QStringLiteral("Error"), MsgIcon::Error);
}

} // namespace corvane
