// The status report's text: the fixed-width lines of one report block and how blocks follow
// each other. No widgets, so the layout rules can be checked on their own.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>

namespace corvane {

inline constexpr int reportRuleWidth = 100;
inline constexpr int reportAddressWidth = 16; // the address columns' starting width

// A table as the report reads it: the rows in on-screen order, a cell by row and column.
// A cell the row does not have is an empty text.
struct ReportTable {
    qsizetype rows = 0;
    std::function<QString(qsizetype row, int column)> cell;
};

struct ReportInput {
    QString hostName;
    QString generatedAt;
    QStringList treeLines;   // already indented with tabs
    ReportTable interfaces;  // Admin Status, Index, Address, Type, Speed, Oper Status, Description
    ReportTable routes;      // Destination, Mask, Next Hop, Index, Metric, Persistent
    ReportTable connections; // Protocol ... via Interface, then Owner Process
    bool ignoreLocalhost = false;
    bool ignoreBroadcasts = false;
    bool establishedOnly = false;
    bool xpFamily = false;
};

// The text followed by spaces up to width; a longer text is kept whole.
void appendPadded(QString& line, QStringView text, int width);
QString pad(QStringView text, int width);

// "Generated at: "'s value: short date and long time, the time left out at midnight.
QString generatedAtText(const QDateTime& when, const QLocale& locale);

QString routingTitle(bool ignoreLocalhost, bool ignoreBroadcasts);
QString netstatTitle(bool establishedOnly);

struct ConnectionWidths {
    int local = reportAddressWidth;
    int remote = reportAddressWidth;
};
// Whether a connection row is an IPv6 socket's: its Protocol ends in "v6" (TCPv6, UDPv4v6).
bool isIpv6ConnectionRow(const ReportTable& connections, qsizetype row);
// Widens a column to one more than every address text that reaches its width, row by row,
// over the rows of one family. IPv6 rows get a table of their own, so that their long
// addresses leave the IPv4 table as it has always been.
ConnectionWidths connectionWidths(const ReportTable& connections, bool ipv6 = false);
QString netstatIpv6Title(bool establishedOnly);
QString connectionHeader(const ConnectionWidths& widths, bool xpFamily);

struct RuntimeOptions;
// The parts of a report that are no page's data: the time and the options in effect.
void setReportContext(ReportInput& input, const RuntimeOptions& options, bool xpFamily);

// One report block, lines joined by '\n' without a final line end.
QString buildReportBlock(const ReportInput& input);

// The page after a build: the block alone, or the old text, the separator and the block.
QString followReport(const QString& oldText, const QString& block, bool overwrite);

} // namespace corvane
