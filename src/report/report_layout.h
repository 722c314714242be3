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

// Cells the report reads by their page's column number.
namespace reportcol {
inline constexpr int routePersistent = 5;
inline constexpr int routeTable = 7;
inline constexpr int ruleAction = 3;
} // namespace reportcol

// A table as the report reads it: the rows in on-screen order, a cell by row and column.
// A cell the row does not have is an empty text.
struct ReportTable {
    qsizetype rows = 0;
    std::function<QString(qsizetype row, int column)> cell;
};
// Appends a cell's text straight to out: a big table then makes no text per cell.
using CellAppender = std::function<void(QString& out, qsizetype row, int column)>;

struct ReportInput {
    QString hostName;
    QString generatedAt;
    QStringList treeLines;   // already indented with tabs
    ReportTable interfaces;  // Admin Status, Index, Address, Type, Speed, Oper Status, Description
    ReportTable routes;      // the Routes page's columns (fwcol), Table while allTables
    CellAppender routeCells; // when set, the same texts as routes.cell
    ReportTable rules;       // the policy rules (rulecol), while allTables
    ReportTable connections; // Protocol ... via Interface, then Owner Process
    bool ignoreLocalhost = false;
    bool ignoreBroadcasts = false;
    bool establishedOnly = false;
    bool xpFamily = false;
    bool allTables = false; // every routing table listed: the Table column and the rules
};

// A report's text as it is built: kept whole, or handed on in pieces that end at a line's
// end, so that a big report is never held at once (nor its encoded copy).
class ReportText {
public:
    using Sink = std::function<void(QStringView piece)>;
    ReportText() = default; // kept whole
    explicit ReportText(Sink sink);
    template <typename T> ReportText& operator+=(const T& piece) {
        text_ += piece;
        return *this;
    }
    // What has not been handed on yet; with no sink, everything.
    QString& text() { return text_; }
    // At the end of a line: the text gathered goes to the sink once there is enough of it.
    void lineDone() {
        if (sink_ && text_.size() >= pieceSize)
            handOn();
    }
    // The rest to the sink.
    void finish();

private:
    static constexpr qsizetype pieceSize = qsizetype{32} * 1024;
    void handOn();
    Sink sink_;
    QString text_;
};

// The text followed by spaces up to width; a longer text is kept whole.
void appendPadded(QString& line, QStringView text, int width);
inline void appendPadded(ReportText& out, QStringView text, int width) {
    appendPadded(out.text(), text, width);
}
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
void writeReportBlock(const ReportInput& input, ReportText& out);

// The page after a build: the block alone, or the old text, the separator and the block.
QString followReport(const QString& oldText, const QString& block, bool overwrite);

} // namespace corvane
