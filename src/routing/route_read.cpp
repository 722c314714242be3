#include "routing/route_read.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "routing/persistent_rows.h"
#include "routing/persistentroutes.h"
#include "session/machinestore.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace corvane {
namespace {

// A size the platform's size field can carry.
constexpr std::size_t maxTableBytes = std::numeric_limits<ULONG>::max() / 2;

void sizeTo(std::vector<DWORD>& storage, std::size_t bytes) {
    storage.assign((bytes + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
}

template <typename T> struct MibTable {
    T* table = nullptr;
    MibTable() = default;
    MibTable(const MibTable&) = delete;
    MibTable& operator=(const MibTable&) = delete;
    ~MibTable() {
        if (table)
            iphlp().FreeMibTable(table);
    }
};

// The kernel's routes of the families the filters need; the forward table has the rest.
// Empty when none are needed or the library has no such call.
void readKernelRoutes(MibTable<CORVANE_ROUTE_TABLE>& routes, RouteFilters filters) {
    IpHelper& h = iphlp();
    if ((!filters.showIpv6 && !filters.allTables) || !h.CorvaneGetRouteTable || !h.FreeMibTable)
        return;
    const ADDRESS_FAMILY family = !filters.allTables ? AF_INET6
                                  : filters.showIpv6 ? AF_UNSPEC
                                                     : AF_INET;
    const DWORD rc = h.CorvaneGetRouteTable(family, CORVANE_ALL_TABLES, &routes.table);
    if (rc != NO_ERROR || !routes.table) {
        ReportFailure(QStringLiteral("GetRouteTable"), rc != NO_ERROR ? rc : ERROR_GEN_FAILURE);
        if (routes.table)
            h.FreeMibTable(std::exchange(routes.table, nullptr));
    }
}

void addKernelRoutes(RouteTableRead& out, const CORVANE_ROUTE_TABLE* routes, RouteFilters filters) {
    if (!routes)
        return;
    const CORVANE_ROUTE_ROW* rows = routes->Table;
    const std::size_t count = routes->NumEntries;
    if (filters.allTables)
        assignForwardTables(out.fill.rows, rows, count);
    appendKernelRows(rows, count, filters, out.fill.rows);
}

void addRules(RouteTableRead& out, RouteFilters filters) {
    IpHelper& h = iphlp();
    out.tableNames.load(h);
    if (!h.CorvaneGetRuleTable || !h.FreeMibTable)
        return;
    MibTable<CORVANE_RULE_TABLE> rules;
    const DWORD rc = h.CorvaneGetRuleTable(filters.showIpv6 ? AF_UNSPEC : AF_INET, &rules.table);
    if (rc != NO_ERROR || !rules.table) {
        ReportFailure(QStringLiteral("GetRuleTable"), rc != NO_ERROR ? rc : ERROR_GEN_FAILURE);
        return;
    }
    out.rules = makeRuleRows(rules.table->Table, rules.table->NumEntries, out.tableNames);
}

} // namespace

DWORD readForwardTable(std::vector<DWORD>& storage, ULONG& size) {
    size = oneRowFwTableSize;
    sizeTo(storage, size);
    DWORD rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()),
                                         &size, BOOL{0});
    // Routes added between two calls outgrow the size just reported: under churn a buffer of
    // exactly that size is short again at the next call. Each retry leaves more room than the
    // one before, so a table growing at any steady rate fits after a few; one that outgrows
    // even that ends in the last call's answer.
    for (int attempt = 0; attempt < forwardTableAttempts; ++attempt) {
        if (rc == ERROR_INSUFFICIENT_BUFFER) {
            const std::size_t asked = std::max<std::size_t>(size, storage.size() * sizeof(DWORD));
            const std::size_t room = asked / 4 * static_cast<std::size_t>(attempt) +
                                     std::size_t{16} * sizeof(MIB_IPFORWARDROW);
            sizeTo(storage, std::min<std::size_t>(asked + room, maxTableBytes));
        }
        size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
        rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()), &size,
                                       BOOL{1});
        if (rc != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
    return rc;
}

RouteTableRead readRouteTable(RouteFilters filters) {
    RouteTableRead out;
    std::vector<DWORD> storage;
    ULONG size = 0;
    const DWORD rc = readForwardTable(storage, size);
    out.names = PersistentNames(ReadPersistentRouteNames());
    // A store damaged while the program runs is first met here.
    reportStoreEvents();
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetFwTable"), rc);
        return out;
    }
    // The kernel's rows are counted before the list is made, so that it is made once at its
    // full size; the forward table's copy goes as soon as its rows are made.
    MibTable<CORVANE_ROUTE_TABLE> kernel;
    readKernelRoutes(kernel, filters);
    const std::size_t extra =
        kernel.table ? kernelRowRoom(kernel.table->Table, kernel.table->NumEntries, filters) : 0;
    const auto& table = *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    out.fill = makeRouteRows(table, size, filters, extra);
    std::vector<DWORD>().swap(storage);
    addKernelRoutes(out, kernel.table, filters);
    if (filters.allTables)
        addRules(out, filters);
    markPersistent(out.fill.rows, out.names);
    // Rows of the second key are listed only with IPv6 or every table shown.
    if (filters.showIpv6 || filters.allTables)
        if (const std::vector<std::string> wide = ReadWidePersistentRouteNames(); !wide.empty())
            markWidePersistent(out.fill.rows, WidePersistentNames(wide), systemInterfaceNames());
    out.activeDefault = activeDefaultRoute(out.fill.rows);
    out.ok = true;
    return out;
}

std::vector<RouteRow> readInactivePersistentRows(const std::vector<RouteRow>& rows,
                                                 RouteFilters filters) {
    std::vector<RouteRow> extra = inactivePersistentRows(rows, ReadPersistentRouteNames());
    if (filters.showIpv6 || filters.allTables) {
        std::vector<RouteRow> wide = inactiveWidePersistentRows(
            rows, ReadWidePersistentRouteNames(), filters, systemInterfaceNames());
        extra.insert(extra.end(), std::make_move_iterator(wide.begin()),
                     std::make_move_iterator(wide.end()));
    }
    return extra;
}

} // namespace corvane
