#include "routing/routelist_add.h"

#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "registry/route_name.h"
#include "routing/persistentroutes.h"
#include "routing/progress_pace.h"
#include "routing/route_edit.h"
#include "values/ip.h"

#include <algorithm>
#include <string>

namespace corvane {

ListAddResult addRouteList(const ListAddRequest& request, const std::function<void()>& progress) {
    ListAddResult result;
    // Every route must be one the store takes, or the kernel would hold a route the user
    // asked to keep that no restart brings back. Only the next hop can make it so: the
    // platform refuses masks with holes and host bits itself.
    if (request.persistent && request.nextHop == 0 && !request.routes.empty()) {
        result.failed = static_cast<int>(request.routes.size());
        showMessage(*persistentProblem(QString(), true), QStringLiteral("Error"), MsgIcon::Error);
        return result;
    }
    std::vector<std::string> names;
    names.reserve(std::min<std::size_t>(request.routes.size(), kPersistentBatch));
    ProgressPace pace(progress);
    const auto store = [&] {
        pace.tick(true);
        SetPersistent(names, true);
        names.clear();
        pace.tick(true);
    };
    for (const ListRoute& route : request.routes) {
        const std::uint32_t destination = ip(route.network.toStdString()).value();
        const std::uint32_t mask = ip(route.mask.toStdString()).value();
        const auto metric = static_cast<DWORD>(request.metric);
        MIB_IPFORWARDROW record = newRouteRecord(destination, mask, request.nextHop,
                                                 request.ifIndex, request.type, metric);
        const DWORD rc = iphlp().SetIpForwardEntry(&record);
        if (rc == NO_ERROR) {
            ++result.added;
            // Named by what the kernel was given, so that the name is the one its row shows.
            if (request.persistent) {
                names.push_back(reg::routeNameText({destination, mask, request.nextHop, metric}));
                if (names.size() == kPersistentBatch)
                    store();
            }
        } else {
            ++result.failed;
            ReportFailureForced(QStringLiteral("SetIPForwardEntry for ") + route.network, rc);
            pace.restart();
        }
        pace.tick();
    }
    if (!names.empty())
        store();
    return result;
}

} // namespace corvane
