#include "report/reportpage.h"

#include "connections/connmodel.h"
#include "connections/connpage.h"
#include "report/report_layout.h"
#include "report/reportview.h"
#include "report/textfile.h"
#include "routing/routemodel.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/prompter.h"
#include "shell/runtimeoptions.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTreeView>

namespace corvane {
namespace {

QString& saveName() {
    static QString name = QStringLiteral("ip_report");
    return name;
}

void appendTreeLines(const QStandardItem* node, int depth, QStringList& lines) {
    lines.push_back(QString(depth, QLatin1Char('\t')) + node->text());
    for (int r = 0; r < node->rowCount(); ++r)
        if (const QStandardItem* child = node->child(r))
            appendTreeLines(child, depth + 1, lines);
}

QStringList treeLines(const QStandardItemModel& model) {
    QStringList lines;
    for (int r = 0; r < model.rowCount(); ++r)
        if (const QStandardItem* top = model.item(r))
            appendTreeLines(top, 0, lines);
    return lines;
}

ReportView& viewOf(const TfrmMain& w) {
    auto* view = w.redtReport->findChild<ReportView*>(QString(), Qt::FindDirectChildrenOnly);
    Q_ASSERT(view);
    return *view;
}

} // namespace

QString reportText(const TfrmMain& w) {
    return viewOf(w).text();
}

QString reportSaveName() {
    return saveName();
}

void BuildReport(TfrmMain& w) {
    const RuntimeOptions& o = runtimeOptions();
    const bool overwrite = frmSetup && frmSetup->cbxOverwriteReport->isChecked();

    ReportInput in;
    in.hostName = w.lblHostName->text();
    in.generatedAt = generatedAtText(QDateTime::currentDateTime(), QLocale::system());
    in.treeLines = treeLines(*w.tvInfoModel);
    const QStandardItemModel* ifModel = w.lvIfTableModel;
    in.interfaces = {ifModel->rowCount(), [ifModel](qsizetype r, int c) {
                         const QStandardItem* item = ifModel->item(static_cast<int>(r), c);
                         return item ? item->text() : QString();
                     }};
    const RouteModel* routes = w.lvFwTableModel;
    in.routes = {routes->rowCount(), [routes](qsizetype r, int c) {
                     return routeCellText(routes->row(static_cast<int>(r)), c);
                 }};
    const std::vector<ConnRow>& conns = w.lvConnectionsModel->rows();
    in.connections = {static_cast<qsizetype>(conns.size()), [&conns](qsizetype r, int c) {
                          return conns[static_cast<std::size_t>(r)].text(c);
                      }};
    in.ignoreLocalhost = o.optIgnoreLocalhost;
    in.ignoreBroadcasts = o.optIgnoreBroadcasts;
    in.establishedOnly = o.optEstablishedOnly;
    in.xpFamily = w.xpFamily;

    const QString block = buildReportBlock(in);
    const QString old = overwrite ? QString() : reportText(w);
    viewOf(w).setText(followReport(old, block, overwrite));
}

void acSaveReportExecute(TfrmMain& w) {
    FileRequest request;
    request.caption = QStringLiteral("Save IP Report");
    request.proposedName = saveName();
    request.filters = {QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*.*)")};
    request.defaultSuffix = QStringLiteral("txt");
    const std::optional<QString> chosen = prompter().saveFileName(request);
    if (!chosen)
        return;
    saveName() = *chosen;

    QString text = reportText(w);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QString error;
    if (!writeWholeFile(*chosen, localBytes(text), error))
        showMessage(QStringLiteral("Cannot write the report to \"%1\": %2").arg(*chosen, error),
                    QStringLiteral("Error"), MsgIcon::Error);
}

void installReportPage(TfrmMain& w) {
    w.refresh->setFill(FillStep::Report, [&w] { BuildReport(w); });
    setConnectionsReportBuilder([&w] { BuildReport(w); });
    QObject::connect(w.acSaveReport, &QAction::triggered, &w, [&w] { acSaveReportExecute(w); });
    new ReportView(w.redtReport);
}

} // namespace corvane
