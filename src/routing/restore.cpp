#include "routing/restore.h"

#include "platform/iphelper.h"
#include "platform/resulttext.h"
#include "platform/systemtext.h"
#include "platform/version.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "session/machinestore.h"
#include "values/ip.h"

#include <arpa/inet.h>
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
    std::vector<DWORD> storage;
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

} // namespace

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
    LiveNetwork live;
    if (const DWORD rc = readLiveNetwork(live); rc != NO_ERROR) {
        for (const std::string& name : names)
            out << "failed " << printableName(name) << ": " << resultText(rc).toStdString() << '\n';
        return anyFailed || !names.empty() ? 1 : 0;
    }
    for (const std::string& name : names) {
        const RestoreOutcome outcome = restoreStoredRoute(name, live);
        if (outcome.kind == RestoreOutcome::Kind::Failed) {
            out << "failed " << printableName(name) << ": " << outcome.reason << '\n';
            anyFailed = true;
        } else {
            out << "applied " << printableName(name) << '\n';
        }
    }
    return anyFailed ? 1 : 0;
}

} // namespace corvane
