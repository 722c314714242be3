#include "routing/routelist_add.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "routing/persistentroutes.h"
#include "routing/route_edit.h"
#include "values/ip.h"

#include <QElapsedTimer>
#include <string>

namespace corvane {
namespace {

// Short enough that a window painting between two calls still looks alive.
constexpr qint64 progressIntervalNs = 4'000'000;

} // namespace

ListAddResult addRouteList(const ListAddRequest& request, const std::function<void()>& progress) {
    ListAddResult result;
    std::vector<std::string> names;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    const auto tick = [&](bool always) {
        if (progress && (always || sinceProgress.nsecsElapsed() >= progressIntervalNs)) {
            progress();
            sinceProgress.restart();
        }
    };
    for (const ListRoute& route : request.routes) {
        const std::string network = route.network.toStdString();
        MIB_IPFORWARDROW record = newRouteRecord(
            ip(network).value(), ip(route.mask.toStdString()).value(), request.nextHop,
            request.ifIndex, request.type, static_cast<DWORD>(request.metric));
        const DWORD rc = iphlp().SetIpForwardEntry(&record);
        if (rc == NO_ERROR) {
            ++result.added;
            if (request.persistent)
                names.push_back(
                    typedRouteName(route.network, route.mask, request.nextHopText, request.metric));
        } else {
            ++result.failed;
            // A message box runs its own event loop: the time it stood open is no gap.
            ReportFailureForced(QStringLiteral("SetIPForwardEntry for ") + route.network, rc);
            sinceProgress.restart();
        }
        tick(false);
    }
    if (!names.empty()) {
        tick(true);
        SetPersistent(names, true);
        tick(true);
    }
    return result;
}

} // namespace corvane
