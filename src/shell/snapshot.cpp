#include "shell/snapshot.h"

namespace corvane {
namespace {

static_assert(reportcol::routePersistent == fwcol::Persistent &&
              reportcol::routeTable == fwcol::Table && reportcol::ruleAction == rulecol::Action);

void appendTreeLines(const TreeNode& node, int depth, QStringList& lines) {
    lines.push_back(QString(depth, QLatin1Char('\t')) + node.text);
    for (const TreeNode& child : node.children)
        appendTreeLines(child, depth + 1, lines);
}

template <typename Row, typename Cell>
ReportTable tableOf(const std::vector<Row>& rows, Cell cell) {
    return {static_cast<qsizetype>(rows.size()), [&rows, cell](qsizetype r, int c) {
                return cell(rows[static_cast<std::size_t>(r)], c);
            }};
}

} // namespace

QStringList treeLines(const std::vector<TreeNode>& adapters) {
    QStringList lines;
    for (const TreeNode& adapter : adapters)
        appendTreeLines(adapter, 0, lines);
    return lines;
}

ReportInput reportInputOf(const Snapshot& s) {
    ReportInput in;
    in.hostName = s.hostName;
    in.treeLines = treeLines(s.adapters);
    in.interfaces =
        tableOf(s.interfaces, [](const IfTableRow& r, int c) { return r.columns().value(c); });
    in.routes = tableOf(s.routes, [&s](const RouteRow& r, int c) {
        return c == fwcol::Table ? routeTableText(r, s.tableNames) : routeCellText(r, c);
    });
    in.routeCells = [&s](QString& out, qsizetype r, int c) {
        const RouteRow& row = s.routes[static_cast<std::size_t>(r)];
        if (c == fwcol::Table)
            out += routeTableText(row, s.tableNames);
        else
            appendRouteCellText(out, row, c);
    };
    in.rules = tableOf(s.rules, [](const RuleRow& r, int c) { return ruleCellText(r, c); });
    in.connections = tableOf(s.connections, [](const ConnRow& r, int c) { return r.text(c); });
    return in;
}

} // namespace corvane
