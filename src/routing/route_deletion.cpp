#include "routing/route_deletion.h"

#include "platform/iphelper.h"
#include "routing/persistentroutes.h"
#include "routing/progress_pace.h"

#include <string>

namespace corvane {

std::vector<bool> deleteRoutes(const std::vector<RouteRow>& routes, const DeletionRefused& refused,
                               const std::function<void()>& progress) {
    std::vector<bool> gone(routes.size(), false);
    std::vector<std::string> names;
    ProgressPace pace(progress);
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const RouteRow& route = routes[i];
        if (!route.inactive()) {
            MIB_IPFORWARDROW record = routeDeletionRecord(route);
            const DWORD rc = iphlp().DeleteIpForwardEntry(&record);
            if (rc != NO_ERROR) {
                if (refused)
                    refused(i, rc);
                pace.restart();
                continue;
            }
        }
        gone[i] = true;
        // A route that had no stored name is unaffected by the removal of its name.
        if (hasPersistentName(route))
            names.push_back(persistentRouteName(route));
        pace.tick();
    }
    if (!names.empty()) {
        pace.tick(true);
        SetPersistent(names, false);
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
