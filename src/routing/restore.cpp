#include "routing/restore.h"

#include "platform/iphelper.h"
#include "platform/resulttext.h"
#include "platform/systemtext.h"
#include "platform/version.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "session/machinestore.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <ostream>

namespace corvane {
namespace {

template <typename Call> DWORD growingCall(std::vector<DWORD>& storage, ULONG size, Call call) {
    // Tables answer ERROR_INSUFFICIENT_BUFFER, the adapter list ERROR_BUFFER_OVERFLOW.
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0;
         attempt < 4 && (rc == ERROR_INSUFFICIENT_BUFFER || rc == ERROR_BUFFER_OVERFLOW);
         ++attempt) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
        rc = call(storage.data(), &size);
    }
    return rc;
}

DWORD readLiveRoutes(std::vector<MIB_IPFORWARDROW>& live) {
    TableStorage storage;
    ULONG size = 0;
    if (const DWORD rc = readForwardTable(storage, size); rc != NO_ERROR)
        return rc;
    const auto& table = *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    const std::size_t room =
        (size - offsetof(MIB_IPFORWARDTABLE, table)) / sizeof(MIB_IPFORWARDROW);
    const std::size_t count = std::min<std::size_t>(table.dwNumEntries, room);
    live.assign(table.table, table.table + count);
    return NO_ERROR;
}

DWORD readLocalAddresses(std::vector<LocalAddress>& locals) {
    std::vector<DWORD> storage;
    const DWORD rc = growingCall(storage, sizeof(IP_ADAPTER_INFO), [](DWORD* buffer, ULONG* size) {
        return iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer), size);
    });
    if (rc == ERROR_NO_DATA)
        return NO_ERROR;
    if (rc != NO_ERROR)
        return rc;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(storage.data()); a; a = a->Next) {
        for (const IP_ADDR_STRING* s = &a->IpAddressList; s; s = s->Next) {
            LocalAddress local;
            local.ifIndex = a->Index;
            if (parse_quad(s->IpAddress.String, local.address) &&
                parse_quad(s->IpMask.String, local.mask) && local.address != 0)
                locals.push_back(local);
        }
    }
    return NO_ERROR;
}

SOCKADDR_INET socketAddress(std::uint8_t family, const std::array<std::uint8_t, 16>& bytes) {
    SOCKADDR_INET a{};
    a.si_family = family;
    if (family == AF_INET)
        std::memcpy(&a.Ipv4.sin_addr, bytes.data(), 4);
    else
        std::memcpy(&a.Ipv6.sin6_addr, bytes.data(), 16);
    return a;
}

// The address bytes of a socket address of the family; false for another family.
bool bytesOf(const SOCKADDR_INET& a, std::uint8_t family, std::array<std::uint8_t, 16>& out) {
    out.fill(0);
    if (a.si_family != family)
        return false;
    if (family == AF_INET)
        std::memcpy(out.data(), &a.Ipv4.sin_addr, 4);
    else
        std::memcpy(out.data(), &a.Ipv6.sin6_addr, 16);
    return true;
}

bool linkLocal6(const std::array<std::uint8_t, 16>& a) {
    return a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
}

bool matches(const reg::WideRouteName& route, DWORD ifIndex, const CORVANE_ROUTE_ROW& row) {
    const MIB_IPFORWARD_ROW2& r = row.Route;
    std::array<std::uint8_t, 16> bytes{};
    if (row.Table != route.table || row.Type != CORVANE_ROUTE_UNICAST ||
        r.InterfaceIndex != ifIndex || r.Metric != route.metric ||
        r.DestinationPrefix.PrefixLength != route.prefixLength ||
        !bytesOf(r.DestinationPrefix.Prefix, route.family, bytes) || bytes != route.destination)
        return false;
    if (route.onLink()) {
        // No gateway, or the unspecified address of either family.
        std::array<std::uint8_t, 16> hop{};
        return r.NextHop.si_family == 0 || (bytesOf(r.NextHop, r.NextHop.si_family, hop) &&
                                            hop == std::array<std::uint8_t, 16>{});
    }
    return bytesOf(r.NextHop, route.family, bytes) && bytes == route.nextHop;
}

template <typename T> struct OwnedMibTable {
    T* table = nullptr;
    OwnedMibTable() = default;
    OwnedMibTable(const OwnedMibTable&) = delete;
    OwnedMibTable& operator=(const OwnedMibTable&) = delete;
    ~OwnedMibTable() {
        if (table)
            iphlp().FreeMibTable(table);
    }
};

DWORD readWideLive(std::vector<CORVANE_ROUTE_ROW>& routes) {
    IpHelper& h = iphlp();
    if (!h.CorvaneGetRouteTable || !h.FreeMibTable)
        return ERROR_NOT_SUPPORTED;
    OwnedMibTable<CORVANE_ROUTE_TABLE> t;
    const DWORD rc = h.CorvaneGetRouteTable(AF_UNSPEC, CORVANE_ALL_TABLES, &t.table);
    if (rc != NO_ERROR)
        return rc;
    if (!t.table)
        return ERROR_GEN_FAILURE;
    routes.assign(t.table->Table, t.table->Table + t.table->NumEntries);
    return NO_ERROR;
}

} // namespace

WideRestorePlan planWideRestore(const reg::WideRouteName& route, DWORD ifIndex,
                                const CORVANE_ROUTE_ROW* live, std::size_t count) {
    WideRestorePlan plan;
    if (ifIndex == 0) {
        plan.kind = WideRestorePlan::Kind::NoInterface;
        plan.reason = "no interface is named " + printableName(route.ifName);
        return plan;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (matches(route, ifIndex, live[i])) {
            plan.kind = WideRestorePlan::Kind::Present;
            return plan;
        }
    }
    MIB_IPFORWARD_ROW2& r = plan.record;
    r.InterfaceIndex = ifIndex;
    r.DestinationPrefix.Prefix = socketAddress(route.family, route.destination);
    r.DestinationPrefix.PrefixLength = route.prefixLength;
    if (!route.onLink()) {
        r.NextHop = socketAddress(route.family, route.nextHop);
        if (route.family == AF_INET6 && linkLocal6(route.nextHop))
            r.NextHop.Ipv6.sin6_scope_id = ifIndex;
    }
    r.Metric = route.metric;
    r.Protocol = MIB_IPPROTO_NETMGMT;
    r.ValidLifetime = r.PreferredLifetime = INFINITE_LIFETIME;
    return plan;
}

RestoreOutcome restoreStoredWideRoute(const std::string& name, WideLiveNetwork& live) {
    RestoreOutcome outcome;
    const std::optional<reg::WideRouteName> route = reg::readWideRouteName(name);
    if (!route || reg::storableWideRoute(*route) == reg::WideRouteFault::NotARoute) {
        outcome.reason = reg::wideRouteFaultText(reg::WideRouteFault::NotARoute);
        return outcome;
    }
    if (!live.read) {
        live.readResult = readWideLive(live.routes);
        live.read = true;
    }
    if (live.readResult != NO_ERROR) {
        outcome.reason = resultText(live.readResult).toStdString();
        return outcome;
    }
    // The interface's index now: a name of 16 bytes or more names none.
    DWORD ifIndex = 0;
    if (reg::validLinuxInterfaceName(route->ifName))
        ifIndex = if_nametoindex(route->ifName.c_str());
    WideRestorePlan plan = planWideRestore(*route, ifIndex, live.routes.data(), live.routes.size());
    switch (plan.kind) {
    case WideRestorePlan::Kind::Present:
        outcome.kind = RestoreOutcome::Kind::Present;
        break;
    case WideRestorePlan::Kind::NoInterface:
        outcome.reason = std::move(plan.reason);
        break;
    case WideRestorePlan::Kind::Add: {
        if (!iphlp().CorvaneCreateRouteInTable) {
            outcome.reason = resultText(ERROR_NOT_SUPPORTED).toStdString();
            break;
        }
        if (const DWORD rc = iphlp().CorvaneCreateRouteInTable(&plan.record, route->table);
            rc != NO_ERROR) {
            outcome.reason = resultText(rc).toStdString();
            outcome.refused = true;
            break;
        }
        outcome.kind = RestoreOutcome::Kind::Added;
        CORVANE_ROUTE_ROW added{};
        added.Route = plan.record;
        added.Table = route->table;
        added.Type = CORVANE_ROUTE_UNICAST;
        live.routes.push_back(added);
        break;
    }
    }
    return outcome;
}

std::string printableName(const std::string& name) {
    return systemText(name).toStdString();
}

DWORD readLiveNetwork(LiveNetwork& live) {
    live.routes.clear();
    live.locals.clear();
    live.localsRead = false;
    return readLiveRoutes(live.routes);
}

RestoreOutcome restoreStoredRoute(const std::string& name, LiveNetwork& live) {
    RestoreOutcome outcome;
    const std::optional<PersistentRoute> route = parsePersistentRouteName(name);
    if (!route) {
        outcome.reason = "not a route of the form destination,mask,next hop,metric";
        return outcome;
    }
    RestorePlan plan = planRestore(*route, live.routes, live.locals);
    if (plan.kind != RestorePlan::Kind::Present && !live.localsRead) {
        if (const DWORD rc = readLocalAddresses(live.locals); rc != NO_ERROR) {
            live.locals.clear();
            outcome.reason = resultText(rc).toStdString();
            return outcome;
        }
        live.localsRead = true;
        plan = planRestore(*route, live.routes, live.locals);
    }
    switch (plan.kind) {
    case RestorePlan::Kind::Present:
        outcome.kind = RestoreOutcome::Kind::Present;
        break;
    case RestorePlan::Kind::NoInterface:
    case RestorePlan::Kind::NoNextHop:
        outcome.reason = std::move(plan.reason);
        break;
    case RestorePlan::Kind::Add:
        if (const DWORD rc = iphlp().SetIpForwardEntry(&plan.record); rc != NO_ERROR) {
            outcome.reason = resultText(rc).toStdString();
            outcome.refused = true;
        } else {
            outcome.kind = RestoreOutcome::Kind::Added;
            live.routes.push_back(plan.record);
        }
        break;
    }
    return outcome;
}

RestorePlan planRestore(const PersistentRoute& route, const std::vector<MIB_IPFORWARDROW>& live,
                        const std::vector<LocalAddress>& locals) {
    RestorePlan plan;
    // Not even a live row of the same name makes it present: that row's gateway, if any, is
    // one the table cannot name.
    if (!restorableRoute(route)) {
        plan.kind = RestorePlan::Kind::NoNextHop;
        plan.reason = "the next hop 0.0.0.0 names no gateway to restore the route through";
        return plan;
    }
    for (const MIB_IPFORWARDROW& r : live) {
        if (ntohl(r.dwForwardDest) == route.destination && ntohl(r.dwForwardMask) == route.mask &&
            ntohl(r.dwForwardNextHop) == route.nextHop && r.dwForwardMetric1 == route.metric) {
            plan.kind = RestorePlan::Kind::Present;
            return plan;
        }
    }
    DWORD ifIndex = 0;
    bool local = false;
    // 0.0.0.0 names no gateway at all: handed on, it makes a route out of whichever
    // interface the kernel picks, the loopback one included.
    if (route.nextHop != 0) {
        for (const LocalAddress& a : locals) {
            if (a.address == route.nextHop) {
                ifIndex = a.ifIndex;
                local = true;
                break;
            }
            if (ifIndex == 0 && a.mask != 0 && (a.address & a.mask) == (route.nextHop & a.mask))
                ifIndex = a.ifIndex;
        }
    }
    if (ifIndex == 0 && route.nextHop != 0) {
        // A peer of a point-to-point link lies in no local address's network, but a route
        // without a gateway leads to it: the narrowest one names the interface.
        std::uint32_t narrowest = 0;
        for (const MIB_IPFORWARDROW& r : live) {
            const std::uint32_t mask = ntohl(r.dwForwardMask);
            if (r.dwForwardType != MIB_IPROUTE_TYPE_DIRECT || mask == 0 || mask < narrowest ||
                (route.nextHop & mask) != ntohl(r.dwForwardDest))
                continue;
            narrowest = mask;
            ifIndex = r.dwForwardIfIndex;
        }
    }
    if (ifIndex == 0) {
        plan.kind = RestorePlan::Kind::NoInterface;
        plan.reason = "no local network reaches the next hop " + format_quad(route.nextHop);
        return plan;
    }
    MIB_IPFORWARDROW& record = plan.record;
    record.dwForwardDest = htonl(route.destination);
    record.dwForwardMask = htonl(route.mask);
    record.dwForwardNextHop = htonl(route.nextHop);
    record.dwForwardIfIndex = ifIndex;
    record.dwForwardType = local ? MIB_IPROUTE_TYPE_DIRECT : MIB_IPROUTE_TYPE_INDIRECT;
    record.dwForwardProto = MIB_IPPROTO_NETMGMT;
    record.dwForwardMetric1 = route.metric;
    record.dwForwardMetric2 = record.dwForwardMetric3 = record.dwForwardMetric4 =
        record.dwForwardMetric5 = 0xFFFFFFFFU;
    return plan;
}

int restorePersistentRoutes(std::ostream& out) {
    const LoadFailure failure = iphlp().bind(platformVersion().xpFamily());
    if (failure.base) {
        out << "failed: " << loadFailureText(failure) << '\n';
        return 1;
    }
    std::string unreadable;
    const std::vector<std::string> names = ReadPersistentRouteNames(&unreadable);
    // A store read only in part restores what it holds, but the run is no success: the
    // routes it lost would otherwise go missing at every boot without a word.
    bool anyFailed = !unreadable.empty();
    if (anyFailed)
        out << "failed to read the stored routes: " << printableName(unreadable) << '\n';
    for (const StoreNotice& notice : takeStoreNotices()) {
        for (const QString& line : notice.text.split(QLatin1Char('\n')))
            out << line.toStdString() << '\n';
        anyFailed = anyFailed || notice.icon != MsgIcon::Information;
    }
    std::string unreadableWide;
    const std::vector<std::string> wideNames = ReadWidePersistentRouteNames(&unreadableWide);
    const auto say = [&](const std::string& name, const RestoreOutcome& outcome) {
        if (outcome.kind == RestoreOutcome::Kind::Failed) {
            out << "failed " << printableName(name) << ": " << outcome.reason << '\n';
            anyFailed = true;
        } else {
            out << "applied " << printableName(name) << '\n';
        }
    };
    LiveNetwork live;
    if (const DWORD rc = readLiveNetwork(live); rc != NO_ERROR) {
        for (const std::string& name : names)
            out << "failed " << printableName(name) << ": " << resultText(rc).toStdString() << '\n';
        anyFailed = anyFailed || !names.empty();
    } else {
        for (const std::string& name : names)
            say(name, restoreStoredRoute(name, live));
    }
    WideLiveNetwork wide;
    for (const std::string& name : wideNames)
        say(name, restoreStoredWideRoute(name, wide));
    return anyFailed ? 1 : 0;
}

} // namespace corvane
