// What one refresh gathers, held as data: the report of the command line is built from it
// without a window, in the same order the pages show it.
#pragma once

#include "connections/conn_rows.h"
#include "hostinfo/adapter_pass.h"
#include "interfaces/iftable_rows.h"
#include "platform/routetables.h"
#include "report/report_layout.h"
#include "routing/route_rows.h"
#include "routing/rule_rows.h"

#include <vector>

namespace corvane {

struct Snapshot {
    QString hostName;
    std::vector<TreeNode> adapters;
    std::vector<IfTableRow> interfaces;
    std::vector<RouteRow> routes;
    RouteTableNames tableNames; // with all tables
    std::vector<RuleRow> rules; // with all tables
    std::vector<ConnRow> connections;
};

// Every node's text, depth first, indented with one tab per level.
QStringList treeLines(const std::vector<TreeNode>& adapters);

// The tables read the snapshot, which must outlive the input.
ReportInput reportInputOf(const Snapshot& snapshot);

} // namespace corvane
