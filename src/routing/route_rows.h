// The Routes page's rows made from the platform's route records: texts, protocol names, row
// tags, filters, the active default route and persistent route names. No widgets and no
// platform calls, so a table of any size can be checked and timed on its own.
#pragma once

#include "iphlpapi.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace corvane {

// Column positions in lvFwTable.
namespace fwcol {
inline constexpr int Destination = 0;
inline constexpr int Mask = 1;
inline constexpr int NextHop = 2;
inline constexpr int Index = 3;
inline constexpr int Metric = 4;
inline constexpr int Persistent = 5;
inline constexpr int Protocol = 6;
inline constexpr int Count = 7;
// Shown only while every routing table is listed; after the others, so their positions hold.
inline constexpr int Table = 7;
inline constexpr int CountWithTable = 8;
} // namespace fwcol

inline constexpr int routeTagLocal = 2;
inline constexpr int routeTagDefaultBit = 0x80;
inline constexpr int routeTagInactive = 0x100;
// Room for the row count and one row: the first buffer tried.
inline constexpr ULONG oneRowFwTableSize = sizeof(MIB_IPFORWARDTABLE);

// Table number of rows the forward table gave: it merges the main and the local table.
inline constexpr std::uint32_t routeTableMerged = 0;
inline constexpr std::uint8_t familyIpv4 = 2;  // AF_INET
inline constexpr std::uint8_t familyIpv6 = 10; // AF_INET6

// One row of the list. Live rows keep the platform's numbers (host order) and are formatted
// when shown; a row that exists only in the store keeps the texts of its name.
// An IPv6 row (family familyIpv6) leaves the IPv4 numbers 0 and keeps its route in the
// fields below them; rows read from a routing table of the kernel also keep that table and
// the kernel's own description of the route, so a change can name exactly this route.
// Compact: a hundred thousand rows are held by every refresh.
struct RouteRow {
    // What a row from the store shows and is stored under; shared by the copies of a row.
    struct Stored {
        QStringList fields; // destination, mask, next hop, metric
        std::string name;   // the value name exactly as stored
    };
    // The route of a row read from a kernel's routing table, as a change names it; all 0
    // for the IPv4 rows GetIpForwardTable lists.
    struct Wide {
        std::uint8_t family = 0; // AF_INET or AF_INET6
        std::uint32_t table = 0; // the kernel's number
        std::array<std::uint8_t, 16> destination{};
        std::uint8_t prefixLength = 0;
        std::uint8_t nextHopFamily = 0; // 0 on the link
        std::array<std::uint8_t, 16> nextHop{};
        bool operator==(const Wide&) const = default;
    };

    std::uint32_t destination = 0;
    std::uint32_t mask = 0;
    std::uint32_t nextHop = 0;
    DWORD ifIndex = 0;
    DWORD metric = 0;
    DWORD protocol = 0;
    DWORD type = 0; // MIB_IPROUTE_TYPE_*
    int tag = 0;
    std::uint32_t table = routeTableMerged;      // the kernel's number
    std::uint32_t nextHopZone = 0;               // a link-local gateway's interface
    std::array<std::uint8_t, 16> destination6{}; // network order
    // The gateway as the kernel gave it, of either family (network order): an IPv4 row whose
    // gateway is IPv6 shows next hop 0.0.0.0 but keeps the gateway here.
    std::array<std::uint8_t, 16> nextHop6{};
    std::uint8_t family = familyIpv4;
    std::uint8_t prefixLength = 0;  // IPv6: of destination6
    std::uint8_t nextHopFamily = 0; // of nextHop6: 0 on-link, else the gateway's family
    std::uint8_t kernelType = 0;    // CORVANE_ROUTE_*; 0 for rows of the forward table
    std::uint8_t kernelProtocol = 0;
    std::uint8_t tos = 0;
    std::uint8_t scope = 0;
    bool persistent = false;
    // Kept apart from the tag: protocol numbers such as 10002 carry the tag's 0x100 bit, and
    // such a live route must still be deleted from the kernel and coloured as a route.
    bool storeOnly = false;
    bool fromKernelTable = false;         // read from a kernel's routing table: a "wide" row
    std::shared_ptr<const Stored> stored; // rows from the store only

    bool inactive() const { return storeOnly; }
    bool ipv6() const { return family == familyIpv6; }
    Wide wide() const;
    const QStringList& storedFields() const;
    const std::string& storedName() const;
    void setStored(QStringList fields, std::string name);
};

// Whether two rows stand for the same route (or the same stored name); the Persistent column,
// which a store change alone can flip, does not count.
bool sameRoute(const RouteRow& a, const RouteRow& b);

QString protocolName(DWORD protocol);
int routeTag(std::uint32_t destination, std::uint32_t mask, DWORD protocol);
// The destination is the last address of its classful network, or the limited broadcast.
bool isBroadcastRoute(std::uint32_t destination);
// IPv6 rows: the prefix address, "/" and its length as the mask, the gateway ("::" on-link).
QString routeCellText(const RouteRow& row, int column);
// The same text appended to out; a live IPv4 row's numbers are written without a text each.
void appendRouteCellText(QString& out, const RouteRow& row, int column);
// Destination, mask, next hop and metric texts joined by ","; for a row from the store, the
// name it is stored under, however malformed.
std::string persistentRouteName(const RouteRow& row);
// A live row shows next hop 0.0.0.0 where the platform cannot name one (a gateway of another
// family, a route without any). Its name would be restored as an on-link route through
// whatever interface reaches 0.0.0.0, so such a row has none: it is never stored, marked or
// matched as persistent.
bool hasPersistentName(const RouteRow& row);

struct RouteFilters {
    bool ignoreLocalhost = false;
    bool ignoreBroadcasts = false;
    bool showIpv6 = false;
    bool allTables = false;
};

struct RouteFill {
    std::vector<RouteRow> rows;
    bool delListEnabled = false; // some row may be deleted by list
};

// A routing table's row of the kernel as a list row, table and kernel fields included.
RouteRow kernelRouteRow(const CORVANE_ROUTE_ROW& route);
// Whether the filters hide a row made by kernelRouteRow. Localhost: the loopback interface
// (index 1, as for the forward table's rows) and ::1. Broadcasts: for IPv4 the classful
// rule of the forward table's rows, for IPv6, which has none, what stands in for them:
// multicast and anycast routes.
bool filteredOut(const RouteRow& row, RouteFilters filters);
// Rows of the kernel's routing tables that the fill adds after the forward table's IPv4
// rows: with allTables the IPv4 rows of every other table, with showIpv6 the IPv6 rows of
// the main and local table (of every table with allTables). Rows already listed from the
// forward table (IPv4 main and local) are left out. Entries beyond count are never read.
// The main and local rows come first, merged and sorted as the forward table sorts, then
// each other table in the order of its number.
void appendKernelRows(const CORVANE_ROUTE_ROW* routes, std::size_t count, RouteFilters filters,
                      std::vector<RouteRow>& rows);
// How many rows appendKernelRows may add, at most: the room to reserve for them.
std::size_t kernelRowRoom(const CORVANE_ROUTE_ROW* routes, std::size_t count, RouteFilters filters);
// Gives the forward table's IPv4 rows the table the kernel holds them in (main or local),
// matched by destination, mask, interface and metric; a row the tables do not hold, or
// hold in both, stays merged. mainListed false: routes hold no main table routes (but the
// local table's), and a row the local table does not hold is the main table's.
void assignForwardTables(std::vector<RouteRow>& rows, const CORVANE_ROUTE_ROW* routes,
                         std::size_t count, bool mainListed = true);
// The identifying fields of the route of a row from the kernel's tables.
MIB_IPFORWARD_ROW2 routeRecord2(const RouteRow& row);

// The rows of a table the platform filled into a buffer of bufferSize bytes, in table order.
// Entries beyond the buffer are never read, whatever dwNumEntries claims.
// Room for extraRows more is reserved: rows added later then never move the table.
// doneWith, when given, is told now and then, and once at the end, how many bytes from the
// buffer's start are read for the last time.
RouteFill makeRouteRows(const MIB_IPFORWARDTABLE& table, std::size_t bufferSize,
                        RouteFilters filters, std::size_t extraRows = 0,
                        const std::function<void(std::size_t bytes)>& doneWith = {});

// The default route with the smallest metric (the earlier on a tie); -1 without one. Rows
// from the store take no part.
int activeDefaultRoute(const std::vector<RouteRow>& rows);

// A live row's route as the four numbers its persistent name is made of.
struct RouteKey {
    std::uint32_t destination = 0, mask = 0, nextHop = 0;
    DWORD metric = 0;
    bool operator==(const RouteKey&) const = default;
};
struct RouteKeyHash {
    std::size_t operator()(const RouteKey& k) const;
};
// The key whose name is exactly this text, when there is one: names written otherwise
// ("01", "010.0.0.0", "4294967295" for "-1") and names without a next hop name no live row.
std::optional<RouteKey> liveRouteKey(const std::string& name);

// The names of the persistent route store, looked up without regard to letter case as the
// store compares value names.
class PersistentNames {
public:
    PersistentNames() = default;
    explicit PersistentNames(const std::vector<std::string>& names);
    bool contains(const std::string& name) const;
    // Whether a live row's name is stored, without building the name.
    bool contains(const RouteRow& row) const;

private:
    std::unordered_set<std::string> lowered_;
    std::unordered_set<RouteKey, RouteKeyHash> live_; // stored names that a live row may bear
};

void markPersistent(std::vector<RouteRow>& rows, const PersistentNames& names);

// One row per stored name that matches no row's name exactly, in store order.
std::vector<RouteRow> inactivePersistentRows(const std::vector<RouteRow>& rows,
                                             const std::vector<std::string>& names);

// Text colour of a row while tables are coloured.
quint32 routeTextColour(const RouteRow& row); // as QRgb

// The confirmation asked before rows are deleted: one row names its route, several are
// counted.
QString deleteRouteQuestion(int selectedCount, const RouteRow& first);

// The record that deletes the route of a live row (network byte order). It names the row's
// metric too: routes that differ only in metric are different routes. IPv6 rows and rows of
// other tables than main and local get a record the platform refuses (interface 0).
MIB_IPFORWARDROW routeDeletionRecord(const RouteRow& row);

// A stored name read back as a route: four fields, three dotted quads and a decimal metric.
struct PersistentRoute {
    std::uint32_t destination = 0; // host order
    std::uint32_t mask = 0;
    std::uint32_t nextHop = 0;
    DWORD metric = 0;
};
std::optional<PersistentRoute> parsePersistentRouteName(const std::string& name);
// Whether re-applying the route would make the route it was stored from: not for next hop
// 0.0.0.0.
bool restorableRoute(const PersistentRoute& route);

} // namespace corvane
