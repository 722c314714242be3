// The report's routing sections: the routing table (IPv6 rows and the Table column as the
// Routes page shows them) and the policy rules.
#pragma once

#include "report/report_layout.h"

namespace corvane {

// The header of the routing table: with the Table column while every table is listed.
QString routeReportHeader(bool allTables);
// The routing table's section: title, rule, header and rows.
void appendRouteSection(ReportText& out, const ReportInput& in);
// "Policy Rules": only while every table is listed, nothing otherwise.
void appendRuleSection(ReportText& out, const ReportInput& in);

} // namespace corvane
