#include "routing/route_deletion.h"

#include "platform/iphelper.h"
#include "routing/persistent_rows.h"
#include "routing/persistentroutes.h"
#include "routing/progress_pace.h"

#include <arpa/inet.h>
#include <cstring>
#include <string>

namespace corvane {

std::vector<bool> deleteRoutes(const std::vector<RouteRow>& routes, const DeletionRefused& refused,
                               const std::function<void()>& progress) {
    std::vector<bool> gone(routes.size(), false);
    ProgressPace pace(progress);
    // The names leave the store before their routes leave the kernel: the route keeper puts
    // back a stored route it finds missing, and a crash in between must leave a route that is
    // no longer persistent rather than a deleted one that comes back.
    // A route of the second key (IPv6, another table) is named with its interface's name.
    const InterfaceNameOf nameOf = systemInterfaceNames();
    const auto nameOfRoute = [&](const RouteRow& route) {
        return hasPersistentName(route) ? persistentRouteName(route)
                                        : widePersistentRouteName(route, nameOf);
    };
    std::vector<std::string> names;
    for (const RouteRow& route : routes)
        // A route that had no stored name is unaffected by the removal of its name.
        if (std::string name = nameOfRoute(route); !name.empty())
            names.push_back(std::move(name));
    // Only a name the store held goes back should its route stay.
    PersistentNames stored;
    WidePersistentNames storedWide;
    if (!names.empty()) {
        stored = PersistentNames(ReadPersistentRouteNames());
        storedWide = WidePersistentNames(ReadWidePersistentRouteNames());
        SetPersistent(names, false);
        pace.tick(true);
    }
    std::vector<std::string> back;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RouteRow& route = routes[i];
        if (!route.inactive()) {
            DWORD rc = NO_ERROR;
            if (std::optional<WideDeletion> wide = wideDeletionRecord(route)) {
                rc = wide->table == 0
                         ? iphlp().DeleteIpForwardEntry2(&wide->record)
                         : iphlp().CorvaneDeleteRouteInTable(&wide->record, wide->table);
            } else {
                MIB_IPFORWARDROW record = routeDeletionRecord(route);
                rc = iphlp().DeleteIpForwardEntry(&record);
            }
            if (rc != NO_ERROR) {
                if (hasPersistentName(route) && stored.contains(persistentRouteName(route)))
                    back.push_back(persistentRouteName(route));
                else if (hasWidePersistentName(route) && storedWide.contains(route, nameOf))
                    back.push_back(widePersistentRouteName(route, nameOf));
                if (refused)
                    refused(i, rc);
                pace.restart();
                continue;
            }
        }
        gone[i] = true;
        pace.tick();
    }
    // A refused route stays, and stays as persistent as it was.
    if (!back.empty()) {
        SetPersistent(back, true);
        pace.tick(true);
    }
    return gone;
}

std::optional<WideDeletion> wideDeletionRecord(const RouteRow& row) {
    const RouteRow::Wide w = row.wide();
    // IPv4 rows of main and local go the way they always went.
    const bool otherTable = w.table != 0 && w.table != 254 && w.table != 255;
    if (row.inactive() || !(w.family == AF_INET6 || (w.family == AF_INET && otherTable)))
        return std::nullopt;
    WideDeletion d;
    MIB_IPFORWARD_ROW2& r = d.record;
    r.InterfaceIndex = row.ifIndex;
    r.Metric = row.metric;
    r.DestinationPrefix.PrefixLength = w.prefixLength;
    const auto put = [](SOCKADDR_INET& to, std::uint8_t family,
                        const std::array<std::uint8_t, 16>& a) {
        to.si_family = family;
        if (family == AF_INET)
            std::memcpy(&to.Ipv4.sin_addr, a.data(), 4);
        else if (family == AF_INET6)
            std::memcpy(&to.Ipv6.sin6_addr, a.data(), 16);
    };
    put(r.DestinationPrefix.Prefix, w.family, w.destination);
    if (w.nextHopFamily == w.family) {
        put(r.NextHop, w.nextHopFamily, w.nextHop);
        if (w.family == AF_INET6 && w.nextHop[0] == 0xFE && (w.nextHop[1] & 0xC0) == 0x80)
            r.NextHop.Ipv6.sin6_scope_id = row.ifIndex;
    }
    // Main and local as the platform's own table lists them; any other only by its number.
    d.table = w.table == 254 || w.table == 255 || w.table == 0 ? 0 : w.table;
    return d;
}

QString deletionFailureName(const RouteRow& route) {
    if (wideDeletionRecord(route)) {
        const RouteRow::Wide w = route.wide();
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(w.family, w.destination.data(), text, sizeof text);
        QString name = QStringLiteral("Couldn't DeleteIpForwardEntry2 (%1/%2")
                           .arg(QString::fromLatin1(text))
                           .arg(w.prefixLength);
        if (w.table != 0 && w.table != 254)
            name += QStringLiteral(" table %1").arg(w.table);
        return name + QStringLiteral(".)");
    }
    return QStringLiteral("Couldn't DeleteIpForwardEntry (%1 %2.)")
        .arg(routeCellText(route, fwcol::Destination), routeCellText(route, fwcol::Mask));
}

QString moreDeletionFailuresText(int count) {
    return QStringLiteral("%1 more routes could not be deleted; they stay in the list.").arg(count);
}

} // namespace corvane
