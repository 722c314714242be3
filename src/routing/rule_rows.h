// Routing tables by name, and the policy rules as the Routes page and the report list them: one row
// per rule, in the kernel's order, with the texts an administrator reads in `ip rule`.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <cstddef>
#include <vector>

namespace corvane {

class RouteTableNames;
struct RouteRow;

// A route row's Table column: its table's name, else its number; empty for a row of the
// forward table that no table was found for, and for a stored row.
QString routeTableText(const RouteRow& row, const RouteTableNames& names);

namespace rulecol {
inline constexpr int Priority = 0;
inline constexpr int Family = 1;
inline constexpr int Selectors = 2;
inline constexpr int Action = 3;
inline constexpr int Count = 4;
} // namespace rulecol

struct RuleRow {
    unsigned priority = 0;
    QString family;    // "IPv4" or "IPv6"
    QString selectors; // "from 10.9.0.0/24 iif dv0", "all" when the rule names none
    QString action;    // "lookup main", "goto 32000", "prohibit" ...
};

// Rows of the table the library filled, count entries; names give the tables' names.
std::vector<RuleRow> makeRuleRows(const CORVANE_RULE_ROW* rules, std::size_t count,
                                  const RouteTableNames& names);
RuleRow ruleRow(const CORVANE_RULE_ROW& rule, const RouteTableNames& names);
QString ruleCellText(const RuleRow& row, int column);

} // namespace corvane
