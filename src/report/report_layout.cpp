#include "report/report_layout.h"

#include "report/report_routes.h"
#include "session/options.h"

#include <QTime>
#include <algorithm>

namespace corvane {
namespace {

const QString nextBlockMark = QStringLiteral(">>>> Next Report Block <<<<");
const QString interfaceHeader =
    QStringLiteral("Admin Status    IF Index  Address                 Type          Speed       "
                   "Oper Status     Description");

constexpr int interfaceWidths[] = {16, 10, 24, 14, 12, 16}; // then Description, unpadded

// Appends one table row: padded cells, then the last one as it is.
template <std::size_t N>
void appendRow(ReportText& out, const ReportTable& table, qsizetype row, const int (&widths)[N]) {
    out += QLatin1Char('\n');
    for (std::size_t c = 0; c < N; ++c)
        appendPadded(out, table.cell(row, static_cast<int>(c)), widths[c]);
    out += table.cell(row, static_cast<int>(N));
    out.lineDone();
}

void appendLine(ReportText& out, QStringView line) {
    out += QLatin1Char('\n');
    out += line;
    out.lineDone();
}

void appendSectionStart(ReportText& out, QStringView title) {
    out += QLatin1String("\n\n");
    appendLine(out, title);
    appendLine(out, QString(reportRuleWidth, QLatin1Char('=')));
}

// The header and the rows of one family, in page order.
void appendConnectionTable(ReportText& out, const ReportInput& in, bool ipv6) {
    const ConnectionWidths widths = connectionWidths(in.connections, ipv6);
    appendLine(out, connectionHeader(widths, in.xpFamily));
    const int connWidths[] = {11, widths.local, 14, widths.remote, 14, 14, 10};
    for (qsizetype r = 0; r < in.connections.rows; ++r) {
        if (isIpv6ConnectionRow(in.connections, r) != ipv6)
            continue;
        out += QLatin1Char('\n');
        for (int c = 0; c < 7; ++c)
            appendPadded(out, in.connections.cell(r, c), connWidths[c]);
        if (in.xpFamily)
            out += in.connections.cell(r, 7);
        out.lineDone();
    }
}

// The IPv6 endpoints in a section of their own after the IPv4 ones; none without IPv6 rows.
void appendNetstatIpv6Section(ReportText& out, const ReportInput& in) {
    bool any = false;
    for (qsizetype r = 0; r < in.connections.rows && !any; ++r)
        any = isIpv6ConnectionRow(in.connections, r);
    if (!any)
        return;
    appendSectionStart(out, netstatIpv6Title(in.establishedOnly));
    appendConnectionTable(out, in, true);
}

} // namespace

void appendPadded(QString& line, QStringView text, int width) {
    // Appending from a ready row of blanks: a hundred thousand rows pad half a million cells.
    static const QString blanks(128, QLatin1Char(' '));
    line += text;
    for (qsizetype missing = width - text.size(); missing > 0; missing -= blanks.size())
        line.append(blanks.constData(), std::min(missing, blanks.size()));
}

QString pad(QStringView text, int width) {
    QString line;
    appendPadded(line, text, width);
    return line;
}

QString generatedAtText(const QDateTime& when, const QLocale& locale) {
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime t = when.time();
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
        text += QLatin1Char(' ') + locale.toString(t, QLocale::LongFormat);
    return text;
}

QString routingTitle(bool ignoreLocalhost, bool ignoreBroadcasts) {
    QString title = QStringLiteral("Routing Table");
    if (ignoreLocalhost)
        title += QStringLiteral(", no local host routes");
    if (ignoreBroadcasts)
        title += QStringLiteral(", no broadcast routes");
    return title;
}

QString netstatTitle(bool establishedOnly) {
    QString title = QStringLiteral("Netstat Table");
    if (establishedOnly)
        title += QStringLiteral(" (only established TCP connections)");
    return title;
}

bool isIpv6ConnectionRow(const ReportTable& connections, qsizetype row) {
    return connections.cell(row, 0).endsWith(QLatin1String("v6"));
}

QString netstatIpv6Title(bool establishedOnly) {
    QString title = QStringLiteral("Netstat Table, IPv6");
    if (establishedOnly)
        title += QStringLiteral(" (only established TCP connections)");
    return title;
}

ConnectionWidths connectionWidths(const ReportTable& connections, bool ipv6) {
    ConnectionWidths w;
    const auto widen = [](int& width, qsizetype length) {
        if (length >= width)
            width = static_cast<int>(length) + 1;
    };
    for (qsizetype r = 0; r < connections.rows; ++r) {
        if (isIpv6ConnectionRow(connections, r) != ipv6)
            continue;
        widen(w.local, connections.cell(r, 1).size());
        widen(w.remote, connections.cell(r, 3).size());
    }
    return w;
}

QString connectionHeader(const ConnectionWidths& widths, bool xpFamily) {
    QString header = QStringLiteral("Protocol   Local Address   ");
    appendPadded(header, QStringView(), widths.local - reportAddressWidth);
    header += QStringLiteral("Local Port    Dest. Address   ");
    appendPadded(header, QStringView(), widths.remote - reportAddressWidth);
    header += QStringLiteral("Dest. Port    Status        via IF");
    if (xpFamily)
        header += QStringLiteral("    Owner Process");
    return header;
}

ReportText::ReportText(Sink sink) : sink_(std::move(sink)) {
    // A row more than a piece: a piece never needs to grow.
    text_.reserve(pieceSize + 1024);
}

void ReportText::handOn() {
    sink_(text_);
    text_.resize(0); // the storage stays for the next piece
}

void ReportText::finish() {
    if (sink_ && !text_.isEmpty())
        handOn();
}

QString buildReportBlock(const ReportInput& in) {
    ReportText out;
    // About a hundred characters per line is the usual row; one allocation for big tables.
    out.text().reserve(
        (in.treeLines.size() + in.interfaces.rows + in.routes.rows + in.connections.rows + 20) *
        100);
    writeReportBlock(in, out);
    return std::move(out.text());
}

void writeReportBlock(const ReportInput& in, ReportText& out) {
    out += QStringLiteral("IP Information for host ") + in.hostName;
    appendLine(out, QStringLiteral("Generated at: ") + in.generatedAt);
    appendLine(out, QString(reportRuleWidth, QLatin1Char('=')));
    for (const QString& line : in.treeLines)
        appendLine(out, line);

    appendSectionStart(out, QStringLiteral("Interface Information"));
    appendLine(out, interfaceHeader);
    for (qsizetype r = 0; r < in.interfaces.rows; ++r)
        appendRow(out, in.interfaces, r, interfaceWidths);

    appendRouteSection(out, in);
    appendRuleSection(out, in);

    appendSectionStart(out, netstatTitle(in.establishedOnly));
    appendConnectionTable(out, in, false);
    appendNetstatIpv6Section(out, in);
}

QString followReport(const QString& oldText, const QString& block, bool overwrite) {
    if (overwrite || oldText.isEmpty())
        return block;
    return oldText + QStringLiteral("\n\n") + nextBlockMark + QStringLiteral("\n\n") + block;
}

void setReportContext(ReportInput& input, const RuntimeOptions& options, bool xpFamily) {
    input.generatedAt = generatedAtText(QDateTime::currentDateTime(), QLocale::system());
    input.ignoreLocalhost = options.optIgnoreLocalhost;
    input.ignoreBroadcasts = options.optIgnoreBroadcasts;
    input.establishedOnly = options.optEstablishedOnly;
    input.xpFamily = xpFamily;
    input.allTables = options.optAllRoutingTables;
}

} // namespace corvane
