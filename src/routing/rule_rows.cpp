#include "routing/rule_rows.h"

#include "platform/routetables.h"
#include "platform/systemtext.h"
#include "routing/route_rows.h"

#include <QStringList>
#include <arpa/inet.h>
#include <netinet/in.h>

namespace corvane {
namespace {

QString prefixText(const IP_ADDRESS_PREFIX& p) {
    char buf[INET6_ADDRSTRLEN] = "";
    if (p.Prefix.si_family == AF_INET)
        ::inet_ntop(AF_INET, &p.Prefix.Ipv4.sin_addr, buf, sizeof buf);
    else if (p.Prefix.si_family == AF_INET6)
        ::inet_ntop(AF_INET6, &p.Prefix.Ipv6.sin6_addr, buf, sizeof buf);
    else
        return {};
    return QStringLiteral("%1/%2").arg(QLatin1String(buf)).arg(p.PrefixLength);
}

bool named(const IP_ADDRESS_PREFIX& p) {
    return p.Prefix.si_family != 0 && p.PrefixLength != 0;
}

QString rangeText(unsigned start, unsigned end) {
    return start == end ? QString::number(start) : QStringLiteral("%1-%2").arg(start).arg(end);
}

QString tableText(ULONG table, const RouteTableNames& names) {
    return systemText(names.name(table));
}

QString actionText(const CORVANE_RULE_ROW& r, const RouteTableNames& names) {
    QString text;
    switch (r.Action) {
    case CORVANE_RULE_TO_TABLE:
        text = QStringLiteral("lookup ") + tableText(r.Table, names);
        break;
    case CORVANE_RULE_GOTO:
        text = QStringLiteral("goto %1").arg(r.Goto);
        break;
    case CORVANE_RULE_NOP:
        text = QStringLiteral("nop");
        break;
    case CORVANE_RULE_BLACKHOLE:
        text = QStringLiteral("blackhole");
        break;
    case CORVANE_RULE_UNREACHABLE:
        text = QStringLiteral("unreachable");
        break;
    case CORVANE_RULE_PROHIBIT:
        text = QStringLiteral("prohibit");
        break;
    default:
        text = QStringLiteral("action %1").arg(r.Action);
        break;
    }
    if (r.SuppressPrefixLength >= 0)
        text += QStringLiteral(" suppress_prefixlength %1").arg(r.SuppressPrefixLength);
    if (r.SuppressIfGroup >= 0)
        text += QStringLiteral(" suppress_ifgroup %1").arg(r.SuppressIfGroup);
    return text;
}

QString selectorsText(const CORVANE_RULE_ROW& r) {
    QStringList parts;
    if (r.Flags & CORVANE_RULE_INVERT)
        parts << QStringLiteral("not");
    parts << QStringLiteral("from") << (named(r.Source) ? prefixText(r.Source) : "all");
    if (named(r.Destination))
        parts << QStringLiteral("to") << prefixText(r.Destination);
    if (r.Tos)
        parts << QStringLiteral("tos 0x%1").arg(r.Tos, 0, 16);
    if (r.FwMark || r.FwMask) {
        QString mark = QStringLiteral("fwmark 0x%1").arg(r.FwMark, 0, 16);
        if (r.FwMask != 0xFFFFFFFFU)
            mark += QStringLiteral("/0x%1").arg(r.FwMask, 0, 16);
        parts << mark;
    }
    // Interface names are whatever their creator chose.
    if (r.InInterface[0])
        parts << QStringLiteral("iif") << systemText(r.InInterface);
    if (r.OutInterface[0])
        parts << QStringLiteral("oif") << systemText(r.OutInterface);
    if (r.IpProtocol)
        parts << QStringLiteral("ipproto %1").arg(r.IpProtocol);
    if (r.SourcePortStart || r.SourcePortEnd)
        parts << QStringLiteral("sport ") + rangeText(r.SourcePortStart, r.SourcePortEnd);
    if (r.DestinationPortStart || r.DestinationPortEnd)
        parts << QStringLiteral("dport ") + rangeText(r.DestinationPortStart, r.DestinationPortEnd);
    if (r.UidStart || r.UidEnd)
        parts << QStringLiteral("uidrange %1-%2").arg(r.UidStart).arg(r.UidEnd);
    if (r.L3mdev)
        parts << QStringLiteral("l3mdev");
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString routeTableText(const RouteRow& row, const RouteTableNames& names) {
    // A store-only row of the first key has no table; one of the second keeps its own.
    if (row.table == routeTableMerged)
        return {};
    return tableText(row.table, names);
}

RuleRow ruleRow(const CORVANE_RULE_ROW& rule, const RouteTableNames& names) {
    RuleRow row;
    row.priority = rule.Priority;
    row.family = rule.Family == AF_INET6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4");
    row.selectors = selectorsText(rule);
    row.action = actionText(rule, names);
    return row;
}

std::vector<RuleRow> makeRuleRows(const CORVANE_RULE_ROW* rules, std::size_t count,
                                  const RouteTableNames& names) {
    std::vector<RuleRow> rows;
    if (!rules)
        return rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        rows.push_back(ruleRow(rules[i], names));
    return rows;
}

QString ruleCellText(const RuleRow& row, int column) {
    switch (column) {
    case rulecol::Priority:
        return QString::number(row.priority);
    case rulecol::Family:
        return row.family;
    case rulecol::Selectors:
        return row.selectors;
    case rulecol::Action:
        return row.action;
    default:
        return {};
    }
}

} // namespace corvane
