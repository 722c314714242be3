#include "routing/route_deletion.h"

#include "platform/iphelper.h"
#include "routing/persistentroutes.h"
#include "routing/progress_pace.h"

#include <string>

namespace corvane {

std::vector<bool> deleteRoutes(const std::vector<RouteRow>& routes, const DeletionRefused& refused,
                               const std::function<void()>& progress) {
    std::vector<bool> gone(routes.size(), false);
    ProgressPace pace(progress);
    // The names leave the store before their routes leave the kernel: the route keeper puts
    // back a stored route it finds missing, and a crash in between must leave a route that is
    // no longer persistent rather than a deleted one that comes back.
    std::vector<std::string> names;
    for (const RouteRow& route : routes)
        // A route that had no stored name is unaffected by the removal of its name.
        if (hasPersistentName(route))
            names.push_back(persistentRouteName(route));
    // Only a name the store held goes back should its route stay.
    PersistentNames stored;
    if (!names.empty()) {
        stored = PersistentNames(ReadPersistentRouteNames());
        SetPersistent(names, false);
        pace.tick(true);
    }
    std::vector<std::string> back;
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RouteRow& route = routes[i];
        if (!route.inactive()) {
            MIB_IPFORWARDROW record = routeDeletionRecord(route);
            const DWORD rc = iphlp().DeleteIpForwardEntry(&record);
            if (rc != NO_ERROR) {
                if (hasPersistentName(route) && stored.contains(persistentRouteName(route)))
                    back.push_back(persistentRouteName(route));
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

QString deletionFailureName(const RouteRow& route) {
    return QStringLiteral("Couldn't DeleteIpForwardEntry (%1 %2.)")
        .arg(routeCellText(route, fwcol::Destination), routeCellText(route, fwcol::Mask));
}

QString moreDeletionFailuresText(int count) {
    return QStringLiteral("%1 more routes could not be deleted; they stay in the list.").arg(count);
}

} // namespace corvane
