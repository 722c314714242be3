#include "routing/route_read.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "routing/persistent_rows.h"
#include "routing/persistentroutes.h"
#include "session/machinestore.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvane {
namespace {

// A size the platform's size field can carry.
constexpr std::size_t maxTableBytes = std::numeric_limits<ULONG>::max() / 2;

// The whole pages of base's bytes [from, to) handed back to the system (read again, they
// are zero); where the last of them ends, or from. A table's copy read once then weighs
// nothing by the time the rows made of it do.
std::size_t releasePages(char* base, std::size_t from, std::size_t to) {
    static const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0 || to <= from)
        return from;
    const auto page = static_cast<std::uintptr_t>(pageSize);
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t first = (start + from + page - 1) / page * page;
    const std::uintptr_t end = (start + to) / page * page;
    if (end <= first)
        return from;
    (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
    return end - start;
}

void sizeTo(TableStorage& storage, std::size_t bytes) {
    storage.clear();
    storage.resize((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
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

// The kernel's routes the forward table lacks, as far as the filters need them: with every
// table, the IPv4 routes of tables but main (the local table's tell the forward rows' table),
// then the IPv6 routes of every table. Each part is one table of the library.
struct KernelRoutes {
    MibTable<CORVANE_ROUTE_TABLE> parts[2];
    bool mainListed = true; // the IPv4 part holds the main table too
};

void readPart(MibTable<CORVANE_ROUTE_TABLE>& part, ADDRESS_FAMILY family, bool exceptMain) {
    IpHelper& h = iphlp();
    const DWORD rc = exceptMain ? h.CorvaneGetRouteTableExceptMain(family, &part.table)
                                : h.CorvaneGetRouteTable(family, CORVANE_ALL_TABLES, &part.table);
    if (rc != NO_ERROR || !part.table) {
        ReportFailure(QStringLiteral("GetRouteTable"), rc != NO_ERROR ? rc : ERROR_GEN_FAILURE);
        if (part.table)
            h.FreeMibTable(std::exchange(part.table, nullptr));
    }
}

void readKernelRoutes(KernelRoutes& routes, RouteFilters filters) {
    IpHelper& h = iphlp();
    if ((!filters.showIpv6 && !filters.allTables) || !h.CorvaneGetRouteTable || !h.FreeMibTable)
        return;
    if (!filters.allTables) {
        readPart(routes.parts[0], AF_INET6, false);
        return;
    }
    if (h.CorvaneGetRouteTableExceptMain) {
        // The main table's IPv4 routes are the forward table's, read already: a big main
        // table is then dumped once.
        routes.mainListed = false;
        readPart(routes.parts[0], AF_INET, true);
        if (filters.showIpv6)
            readPart(routes.parts[1], AF_INET6, false);
        return;
    }
    readPart(routes.parts[0], filters.showIpv6 ? AF_UNSPEC : AF_INET, false);
}

std::size_t kernelRowRoom(const KernelRoutes& routes, RouteFilters filters) {
    std::size_t room = 0;
    for (const auto& part : routes.parts)
        if (part.table)
            room += kernelRowRoom(part.table->Table, part.table->NumEntries, filters);
    return room;
}

void addKernelRoutes(RouteTableRead& out, const KernelRoutes& routes, RouteFilters filters) {
    for (const auto& part : routes.parts) {
        if (!part.table)
            continue;
        const CORVANE_ROUTE_ROW* rows = part.table->Table;
        const std::size_t count = part.table->NumEntries;
        if (filters.allTables && &part == &routes.parts[0])
            assignForwardTables(out.fill.rows, rows, count, routes.mainListed);
        // Family by family, as the one sorted run a single table gives: IPv4 rows sort first.
        appendKernelRows(rows, count, filters, out.fill.rows);
    }
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

DWORD readForwardTable(TableStorage& storage, ULONG& size) {
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

RouteTableRead readRouteTable(RouteFilters filters, TableStorage* kept) {
    RouteTableRead out;
    TableStorage own;
    TableStorage& storage = kept ? *kept : own;
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
    KernelRoutes kernel;
    readKernelRoutes(kernel, filters);
    const std::size_t extra = kernelRowRoom(kernel, filters);
    const auto& table = *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    // A buffer kept for the next fill keeps its pages; any other goes page by page as its
    // rows are made.
    std::size_t released = 0;
    const auto release = [&](std::size_t bytes) {
        released = releasePages(reinterpret_cast<char*>(storage.data()), released, bytes);
    };
    out.fill = kept ? makeRouteRows(table, size, filters, extra)
                    : makeRouteRows(table, size, filters, extra, release);
    if (!kept)
        TableStorage().swap(storage);
    addKernelRoutes(out, kernel, filters);
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
