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
} // namespace fwcol

inline constexpr int routeTagLocal = 2;
inline constexpr int routeTagDefaultBit = 0x80;
inline constexpr int routeTagInactive = 0x100;
// Room for the row count and one row: the first buffer tried.
inline constexpr ULONG oneRowFwTableSize = sizeof(MIB_IPFORWARDTABLE);

// One row of the list. Live rows keep the platform's numbers (host order) and are formatted
// when shown; a row that exists only in the store keeps the texts of its name.
struct RouteRow {
    std::uint32_t destination = 0;
    std::uint32_t mask = 0;
    std::uint32_t nextHop = 0;
    DWORD ifIndex = 0;
    DWORD metric = 0;
    DWORD protocol = 0;
    DWORD type = 0; // MIB_IPROUTE_TYPE_*
    int tag = 0;
    bool persistent = false;
    QStringList storedFields; // inactive rows: destination, mask, next hop, metric
    std::string storedName;   // inactive rows: the value name exactly as stored
    // Kept apart from the tag: protocol numbers such as 10002 carry the tag's 0x100 bit, and
    // such a live route must still be deleted from the kernel and coloured as a route.
    bool storeOnly = false;
    // An IPv6 row or a row of a table other than main and local; family 0 for the IPv4 rows
    // GetIpForwardTable lists, whose numbers are the fields above.
    struct Wide {
        std::uint8_t family = 0; // AF_INET or AF_INET6
        std::uint32_t table = 0; // the kernel's number
        std::array<std::uint8_t, 16> destination{};
        std::uint8_t prefixLength = 0;
        std::uint8_t nextHopFamily = 0; // 0 on the link
        std::array<std::uint8_t, 16> nextHop{};
        bool operator==(const Wide&) const = default;
    } wide;

    bool inactive() const { return storeOnly; }
};

// Whether two rows stand for the same route (or the same stored name); the Persistent column,
// which a store change alone can flip, does not count.
bool sameRoute(const RouteRow& a, const RouteRow& b);

QString protocolName(DWORD protocol);
int routeTag(std::uint32_t destination, std::uint32_t mask, DWORD protocol);
// The destination is the last address of its classful network, or the limited broadcast.
bool isBroadcastRoute(std::uint32_t destination);
QString routeCellText(const RouteRow& row, int column);
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
};

struct RouteFill {
    std::vector<RouteRow> rows;
    bool delListEnabled = false; // some row may be deleted by list
};

// The rows of a table the platform filled into a buffer of bufferSize bytes, in table order.
// Entries beyond the buffer are never read, whatever dwNumEntries claims.
RouteFill makeRouteRows(const MIB_IPFORWARDTABLE& table, std::size_t bufferSize,
                        RouteFilters filters);

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
// metric too: routes that differ only in metric are different routes.
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
