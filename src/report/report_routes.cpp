#include "report/report_routes.h"

namespace corvane {
namespace {

constexpr int routeWidths[] = {20, 20, 20, 10, 10}; // then Persistent
constexpr int persistentWidth = 12;                 // when the Table column follows
constexpr int ruleWidths[] = {10, 8, 40};           // then Action

// Padded, and apart from what follows even when longer: an IPv6 address can outgrow its
// column, which an IPv4 one never does.
void appendCell(ReportText& out, QStringView text, int width) {
    appendPadded(out, text, width);
    if (text.size() >= width)
        out += QLatin1Char(' ');
}

void appendCell(ReportText& out, const ReportInput& in, qsizetype row, int column, int width) {
    if (!in.routeCells) {
        appendCell(out, in.routes.cell(row, column), width);
        return;
    }
    QString& text = out.text();
    const qsizetype start = text.size();
    in.routeCells(text, row, column);
    const qsizetype length = text.size() - start;
    appendPadded(text, QStringView(), width - static_cast<int>(length));
    if (length >= width)
        text += QLatin1Char(' ');
}

void appendSectionStart(ReportText& out, QStringView title) {
    out += QLatin1String("\n\n\n");
    out += title;
    out += QLatin1Char('\n');
    out += QString(reportRuleWidth, QLatin1Char('='));
}

} // namespace

QString routeReportHeader(bool allTables) {
    QString header;
    const char* captions[] = {"Destination Address", "Destination Mask", "Next Hop", "IF Index",
                              "Metric"};
    for (std::size_t c = 0; c < std::size(captions); ++c)
        appendPadded(header, QString::fromLatin1(captions[c]), routeWidths[c]);
    if (!allTables)
        return header + QStringLiteral("Persistent");
    appendPadded(header, QStringLiteral("Persistent"), persistentWidth);
    return header + QStringLiteral("Table");
}

void appendRouteSection(ReportText& out, const ReportInput& in) {
    appendSectionStart(out, routingTitle(in.ignoreLocalhost, in.ignoreBroadcasts));
    out += QLatin1Char('\n');
    out += routeReportHeader(in.allTables);
    const ReportTable& t = in.routes;
    for (qsizetype r = 0; r < t.rows; ++r) {
        out += QLatin1Char('\n');
        for (std::size_t c = 0; c < std::size(routeWidths); ++c)
            appendCell(out, in, r, static_cast<int>(c), routeWidths[c]);
        if (!in.allTables) {
            if (in.routeCells)
                in.routeCells(out.text(), r, reportcol::routePersistent);
            else
                out += t.cell(r, reportcol::routePersistent);
        } else {
            appendCell(out, in, r, reportcol::routePersistent, persistentWidth);
            out += t.cell(r, reportcol::routeTable);
        }
        out.lineDone();
    }
}

void appendRuleSection(ReportText& out, const ReportInput& in) {
    if (!in.allTables)
        return;
    appendSectionStart(out, QStringLiteral("Policy Rules"));
    out += QLatin1Char('\n');
    appendPadded(out, QStringLiteral("Priority"), ruleWidths[0]);
    appendPadded(out, QStringLiteral("Family"), ruleWidths[1]);
    appendPadded(out, QStringLiteral("Selectors"), ruleWidths[2]);
    out += QStringLiteral("Action");
    const ReportTable& t = in.rules;
    for (qsizetype r = 0; r < t.rows; ++r) {
        out += QLatin1Char('\n');
        for (std::size_t c = 0; c < std::size(ruleWidths); ++c)
            appendCell(out, t.cell(r, static_cast<int>(c)), ruleWidths[c]);
        out += t.cell(r, reportcol::ruleAction);
        out.lineDone();
    }
}

} // namespace corvane
