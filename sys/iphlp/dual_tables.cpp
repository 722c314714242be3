// The later generation of the tables, both families: sockets with owners, unicast addresses,
// the forward table; and Corvane's own: every routing table, the policy rules, DNS servers.
#include "buffers.h"
#include "dual_rows.h"
#include "errors.h"
#include "forward_cache.h"
#include "guard.h"
#include "iphlpapi.h"
#include "netlink/diag.h"
#include "netlink/dual.h"
#include "netlink/read.h"
#include "owners.h"
#include "resolver.h"
#include "roots.h"
#include "route6_cache.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>

namespace corvane::sys {
namespace {

constexpr uint32_t kAllStates = ((1u << (nl::kTcpNewSynRecv + 1)) - 1) & ~1u;
constexpr uint32_t kListenState = 1u << nl::kTcpListen;

// The families one call reads, in order; empty for a family the call does not take.
std::vector<uint8_t> familiesOf(ADDRESS_FAMILY family) {
    switch (family) {
    case AF_INET:
        return {AF_INET};
    case AF_INET6:
        return {AF_INET6};
    case AF_UNSPEC:
        return {AF_INET, AF_INET6};
    default:
        return {};
    }
}

// The families of a call that answers a table through out, which starts null; none for no
// out or a family the call does not take (both ERROR_INVALID_PARAMETER).
template <typename Table> std::vector<uint8_t> tableFamilies(ADDRESS_FAMILY family, Table** out) {
    if (!out)
        return {};
    *out = nullptr;
    return familiesOf(family);
}

// A table of the shape { ULONG NumEntries; Row Table[1]; } in one malloc() block, released
// with FreeMibTable; *out stays null on failure.
template <typename Table, typename Row> DWORD allocate(Table** out, const std::vector<Row>& rows) {
    const size_t bytes = offsetof(Table, Table) + rows.size() * sizeof(Row);
    auto* table = static_cast<Table*>(std::malloc(bytes < sizeof(Table) ? sizeof(Table) : bytes));
    if (!table)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memset(static_cast<void*>(table), 0, sizeof(Table));
    table->NumEntries = static_cast<ULONG>(rows.size());
    if (!rows.empty())
        std::memcpy(&table->Table[0], rows.data(), rows.size() * sizeof(Row));
    *out = table;
    return NO_ERROR;
}

// Room for as many rows as the last answer of the same kind had: a big table then grows its
// storage once, not a few dozen times.
template <typename Row> void reserveLike(std::vector<Row>& rows, std::atomic<size_t>& last) {
    rows.reserve(last.load(std::memory_order_relaxed));
}

DWORD socketResult(int error) {
    // ENOENT from sock_diag: no diag handler for the protocol (or the family).
    return error == ENOENT ? ERROR_NOT_SUPPORTED : resultFromErrno(error);
}

// Reads the sockets and their owners once; make builds each row.
template <typename Table, typename Row, typename Make>
DWORD socketTable(void* out, DWORD* size, BOOL sorted, uint8_t family, uint8_t protocol,
                  uint32_t states, Make make) {
    std::vector<nl::AnySocket> sockets;
    if (const int e = nl::readAnySockets(family, protocol, states, sockets))
        return socketResult(e);
    std::vector<uint32_t> inodes;
    inodes.reserve(sockets.size());
    for (const nl::AnySocket& s : sockets)
        inodes.push_back(s.inode);
    const SocketOwners owners = recentSocketOwners(procRoot(), inodes);
    std::vector<Row> rows;
    rows.reserve(sockets.size());
    for (const nl::AnySocket& s : sockets) {
        const auto it = owners.find(s.inode);
        rows.push_back(make(s, it == owners.end() ? 0 : it->second));
    }
    if (sorted)
        sortRows(rows);
    return fillTable(static_cast<Table*>(out), size, rows);
}

DWORD tcpTable(void* out, DWORD* size, BOOL sorted, ULONG family, TCP_TABLE_CLASS tableClass) {
    if (!size || (family != AF_INET && family != AF_INET6))
        return ERROR_INVALID_PARAMETER;
    uint32_t states = kAllStates;
    switch (tableClass) {
    case TCP_TABLE_OWNER_PID_LISTENER:
        states = kListenState;
        break;
    case TCP_TABLE_OWNER_PID_CONNECTIONS:
        states = kAllStates & ~kListenState;
        break;
    case TCP_TABLE_OWNER_PID_ALL:
        break;
    case CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL:
        if (family != AF_INET6)
            return ERROR_INVALID_PARAMETER;
        return socketTable<CORVANE_TCP6TABLE_OWNER_PID_FLAGS, CORVANE_TCP6ROW_OWNER_PID_FLAGS>(
            out, size, sorted, AF_INET6, IPPROTO_TCP, kAllStates,
            [](const nl::AnySocket& s, DWORD pid) {
                return CORVANE_TCP6ROW_OWNER_PID_FLAGS{tcp6Row(s, pid), socketFlags(s)};
            });
    default:
        return ERROR_NOT_SUPPORTED;
    }
    if (family == AF_INET)
        return socketTable<MIB_TCPTABLE_OWNER_PID, MIB_TCPROW_OWNER_PID>(
            out, size, sorted, AF_INET, IPPROTO_TCP, states, tcp4Row);
    return socketTable<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>(
        out, size, sorted, AF_INET6, IPPROTO_TCP, states, tcp6Row);
}

DWORD udpTable(void* out, DWORD* size, BOOL sorted, ULONG family, UDP_TABLE_CLASS tableClass) {
    if (!size || (family != AF_INET && family != AF_INET6))
        return ERROR_INVALID_PARAMETER;
    if (tableClass == CORVANE_UDP_TABLE_OWNER_PID_FLAGS) {
        if (family != AF_INET6)
            return ERROR_INVALID_PARAMETER;
        return socketTable<CORVANE_UDP6TABLE_OWNER_PID_FLAGS, CORVANE_UDP6ROW_OWNER_PID_FLAGS>(
            out, size, sorted, AF_INET6, IPPROTO_UDP, kAllStates,
            [](const nl::AnySocket& s, DWORD pid) {
                return CORVANE_UDP6ROW_OWNER_PID_FLAGS{udp6Row(s, pid), socketFlags(s)};
            });
    }
    if (tableClass != UDP_TABLE_OWNER_PID)
        return ERROR_NOT_SUPPORTED;
    if (family == AF_INET)
        return socketTable<MIB_UDPTABLE_OWNER_PID, MIB_UDPROW_OWNER_PID>(
            out, size, sorted, AF_INET, IPPROTO_UDP, kAllStates, udp4Row);
    return socketTable<MIB_UDP6TABLE_OWNER_PID, MIB_UDP6ROW_OWNER_PID>(
        out, size, sorted, AF_INET6, IPPROTO_UDP, kAllStates, udp6Row);
}

std::atomic<size_t> g_lastAddresses{0}, g_lastForward{0}, g_lastRoutes{0};

DWORD unicastTable(ADDRESS_FAMILY family, MIB_UNICASTIPADDRESS_TABLE** out) {
    const std::vector<uint8_t> families = tableFamilies(family, out);
    if (families.empty())
        return ERROR_INVALID_PARAMETER;
    std::vector<MIB_UNICASTIPADDRESS_ROW> rows;
    reserveLike(rows, g_lastAddresses);
    for (const uint8_t f : families) {
        const size_t start = rows.size();
        if (const int e = nl::dumpAnyAddresses(
                f, [&] { rows.resize(start); },
                [&](const nl::AnyAddress& a) { rows.push_back(unicastRow(a)); }))
            return resultFromErrno(e);
    }
    g_lastAddresses = rows.size();
    return allocate(out, rows);
}

// Routes of the families, of the tables keep takes, as Corvane's rows: one dump per family,
// the IPv6 one shared by the calls of one refresh.
template <typename Keep>
int routeRows(const std::vector<uint8_t>& families, uint32_t tableId, Keep keep,
              std::vector<CORVANE_ROUTE_ROW>& rows) {
    const auto wanted = [&](uint32_t table) {
        return (tableId == CORVANE_ALL_TABLES || table == tableId) && keep(table);
    };
    for (const uint8_t f : families) {
        if (f == AF_INET6) {
            if (const int e = appendRoutes6(rows, wanted))
                return e;
            continue;
        }
        const size_t start = rows.size();
        if (const int e = nl::dumpAnyRoutes(
                f, tableId, [&] { rows.resize(start); },
                [&](const nl::AnyRoute& r) {
                    if (wanted(r.table))
                        appendRouteRows(r, rows);
                }))
            return e;
    }
    return 0;
}

// An IPv6 table straight from the shared read, with no list of rows in between: the rows
// of the tables keep takes, each made into the table's row by make.
template <typename Table, typename Row, typename Keep, typename Make>
DWORD table6(Keep keep, Make make, Table** out) {
    DWORD result = NO_ERROR;
    const int e = visitRoutes6([&](const std::vector<CORVANE_ROUTE_ROW>& rows, ULONG elapsed) {
        const auto n = static_cast<size_t>(std::count_if(
            rows.begin(), rows.end(), [&keep](const auto& r) { return keep(r.Table); }));
        const size_t bytes = offsetof(Table, Table) + n * sizeof(Row);
        auto* table =
            static_cast<Table*>(std::malloc(bytes < sizeof(Table) ? sizeof(Table) : bytes));
        if (!table) {
            result = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        std::memset(static_cast<void*>(table), 0, sizeof(Table));
        table->NumEntries = static_cast<ULONG>(n);
        size_t i = 0;
        for (const CORVANE_ROUTE_ROW& r : rows) {
            if (!keep(r.Table))
                continue;
            CORVANE_ROUTE_ROW row = r;
            ageRow(row, elapsed);
            table->Table[i++] = make(row);
        }
        *out = table;
    });
    return e ? resultFromErrno(e) : result;
}

// The forward table's choice, as GetIpForwardTable's: the main and the local table.
bool forwardTable(uint32_t table) {
    return table == CORVANE_TABLE_MAIN || table == CORVANE_TABLE_LOCAL;
}

DWORD forwardTable2(ADDRESS_FAMILY family, MIB_IPFORWARD_TABLE2** out) {
    const std::vector<uint8_t> families = tableFamilies(family, out);
    if (families.empty())
        return ERROR_INVALID_PARAMETER;
    if (family == AF_INET6)
        return table6<MIB_IPFORWARD_TABLE2, MIB_IPFORWARD_ROW2>(
            forwardTable, [](const CORVANE_ROUTE_ROW& r) { return r.Route; }, out);
    std::vector<CORVANE_ROUTE_ROW> rows;
    reserveLike(rows, g_lastForward);
    if (const int e = routeRows(families, CORVANE_ALL_TABLES, forwardTable, rows))
        return resultFromErrno(e);
    g_lastForward = rows.size();
    const size_t bytes =
        offsetof(MIB_IPFORWARD_TABLE2, Table) + rows.size() * sizeof(MIB_IPFORWARD_ROW2);
    auto* table = static_cast<MIB_IPFORWARD_TABLE2*>(
        std::malloc(bytes < sizeof(MIB_IPFORWARD_TABLE2) ? sizeof(MIB_IPFORWARD_TABLE2) : bytes));
    if (!table)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memset(static_cast<void*>(table), 0, sizeof(MIB_IPFORWARD_TABLE2));
    table->NumEntries = static_cast<ULONG>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        table->Table[i] = rows[i].Route;
    *out = table;
    return NO_ERROR;
}

DWORD routeTable(ADDRESS_FAMILY family, ULONG tableId, CORVANE_ROUTE_TABLE** out) {
    const std::vector<uint8_t> families = tableFamilies(family, out);
    if (families.empty())
        return ERROR_INVALID_PARAMETER;
    if (family == AF_INET6)
        return table6<CORVANE_ROUTE_TABLE, CORVANE_ROUTE_ROW>(
            [tableId](uint32_t table) { return tableId == CORVANE_ALL_TABLES || table == tableId; },
            [](const CORVANE_ROUTE_ROW& r) { return r; }, out);
    std::vector<CORVANE_ROUTE_ROW> rows;
    reserveLike(rows, g_lastRoutes);
    if (const int e = routeRows(
            families, tableId, [](uint32_t) { return true; }, rows))
        return resultFromErrno(e);
    g_lastRoutes = rows.size();
    return allocate(out, rows);
}

DWORD routeTableExceptMain(ADDRESS_FAMILY family, CORVANE_ROUTE_TABLE** out) {
    const std::vector<uint8_t> families = tableFamilies(family, out);
    if (families.empty())
        return ERROR_INVALID_PARAMETER;
    std::vector<CORVANE_ROUTE_ROW> rows;
    for (const uint8_t f : families) {
        if (f == AF_INET) {
            bool known = false;
            if (const int e = currentRowsBeyondMain(rows, known))
                return resultFromErrno(e);
            if (known)
                continue;
            rows.clear();
        }
        if (const int e = routeRows(
                {f}, CORVANE_ALL_TABLES, [](uint32_t table) { return table != CORVANE_TABLE_MAIN; },
                rows))
            return resultFromErrno(e);
    }
    return allocate(out, rows);
}

DWORD ruleTable(ADDRESS_FAMILY family, CORVANE_RULE_TABLE** out) {
    const std::vector<uint8_t> families = tableFamilies(family, out);
    if (families.empty())
        return ERROR_INVALID_PARAMETER;
    std::vector<CORVANE_RULE_ROW> rows;
    for (const uint8_t f : families) {
        const size_t start = rows.size();
        if (const int e = nl::dumpRules(
                f, [&] { rows.resize(start); },
                [&](const nl::Rule& r) { rows.push_back(ruleRow(r)); }))
            return resultFromErrno(e);
    }
    return allocate(out, rows);
}

} // namespace

bool parseDnsServer(const std::string& text, SOCKADDR_INET& out) {
    std::string s = text.substr(0, text.find('#'));
    std::string zone;
    if (!s.empty() && s.front() == '[') {
        const auto close = s.find(']');
        if (close == std::string::npos)
            return false;
        s = s.substr(1, close - 1);
    }
    if (const auto pct = s.find('%'); pct != std::string::npos) {
        zone = s.substr(pct + 1);
        s.resize(pct);
    }
    std::memset(&out, 0, sizeof out);
    if (s.find(':') == s.rfind(':')) { // IPv4, maybe with a port
        s = s.substr(0, s.find(':'));
        if (::inet_pton(AF_INET, s.c_str(), &out.Ipv4.sin_addr) != 1)
            return false;
        out.Ipv4.sin_family = AF_INET;
        return true;
    }
    if (::inet_pton(AF_INET6, s.c_str(), &out.Ipv6.sin6_addr) != 1)
        return false;
    out.Ipv6.sin6_family = AF_INET6;
    if (!zone.empty()) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(zone.c_str(), &end, 10);
        out.Ipv6.sin6_scope_id = end && *end == '\0' && n <= 0xFFFFFFFFul
                                     ? static_cast<uint32_t>(n)
                                     : ::if_nametoindex(zone.c_str());
    }
    return true;
}

namespace {

DWORD dnsServerTable(ADDRESS_FAMILY family, CORVANE_DNS_SERVER_TABLE** out) {
    if (tableFamilies(family, out).empty())
        return ERROR_INVALID_PARAMETER;
    std::vector<nl::Link> links;
    if (const int e = nl::readLinks(links))
        return resultFromErrno(e);
    std::vector<CORVANE_DNS_SERVER_ROW> rows;
    const auto add = [&](uint32_t index, const std::vector<std::string>& servers) {
        for (const std::string& s : servers) {
            CORVANE_DNS_SERVER_ROW row{};
            if (!parseDnsServer(s, row.Address))
                continue;
            if (family != AF_UNSPEC && row.Address.si_family != family)
                continue;
            row.InterfaceIndex = index;
            rows.push_back(row);
        }
    };
    for (const nl::Link& l : links)
        if (const auto link = readLinkResolver(l.index))
            add(l.index, link->servers);
    add(0, readResolvConf().nameservers);
    return allocate(out, rows);
}

} // namespace
} // namespace corvane::sys

using namespace corvane::sys;

extern "C" {

DWORD GetExtendedTcpTable(void* table, DWORD* size, BOOL sorted, ULONG family,
                          TCP_TABLE_CLASS tableClass, ULONG /*reserved*/) {
    return guarded([&] { return tcpTable(table, size, sorted, family, tableClass); });
}

DWORD GetExtendedUdpTable(void* table, DWORD* size, BOOL sorted, ULONG family,
                          UDP_TABLE_CLASS tableClass, ULONG /*reserved*/) {
    return guarded([&] { return udpTable(table, size, sorted, family, tableClass); });
}

DWORD GetUnicastIpAddressTable(ADDRESS_FAMILY family, MIB_UNICASTIPADDRESS_TABLE** table) {
    return guarded([&] { return unicastTable(family, table); });
}

DWORD GetIpForwardTable2(ADDRESS_FAMILY family, MIB_IPFORWARD_TABLE2** table) {
    return guarded([&] { return forwardTable2(family, table); });
}

void FreeMibTable(void* memory) {
    std::free(memory);
}

DWORD CorvaneGetRouteTable(ADDRESS_FAMILY family, ULONG tableId, CORVANE_ROUTE_TABLE** table) {
    return guarded([&] { return routeTable(family, tableId, table); });
}

DWORD CorvaneGetRouteTableExceptMain(ADDRESS_FAMILY family, CORVANE_ROUTE_TABLE** table) {
    return guarded([&] { return routeTableExceptMain(family, table); });
}

DWORD CorvaneGetRuleTable(ADDRESS_FAMILY family, CORVANE_RULE_TABLE** table) {
    return guarded([&] { return ruleTable(family, table); });
}

DWORD CorvaneGetDnsServerTable(ADDRESS_FAMILY family, CORVANE_DNS_SERVER_TABLE** table) {
    return guarded([&] { return dnsServerTable(family, table); });
}
}
