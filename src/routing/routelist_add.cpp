#include "routing/routelist_add.h"

#include "helperclient/protocol.h"
#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "registry/route_name.h"
#include "routing/persistentroutes.h"
#include "routing/progress_pace.h"
#include "routing/route_edit.h"
#include "session/machinestore.h"
#include "values/ip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <string>

namespace corvane {

namespace {

// Through the helper: each part of the list in one request, authorised once, and stored by
// the helper itself when the store is the one it writes. False when the library makes the
// changes itself (or has no helper, or predates the call): then nothing was done.
bool addThroughHelper(const ListAddRequest& request, ProgressPace& pace, ListAddResult& result) {
    if (!iphlp().CorvaneAddIpForwardEntries)
        return false;
    const bool helperStores = request.persistent && persistentRoutesThroughHelper();
    const auto metric = static_cast<DWORD>(request.metric);
    std::vector<MIB_IPFORWARDROW> rows;
    std::vector<DWORD> codes;
    std::vector<std::string> names;
    bool storeShown = false;
    for (std::size_t start = 0; start < request.routes.size(); start += helper::kMaxRouteBatch) {
        const std::size_t end = std::min(request.routes.size(), start + helper::kMaxRouteBatch);
        rows.clear();
        for (std::size_t i = start; i < end; ++i) {
            const ListRoute& route = request.routes[i];
            rows.push_back(newRouteRecord(ip(route.network.toStdString()).value(),
                                          ip(route.mask.toStdString()).value(), request.nextHop,
                                          request.ifIndex, request.type, metric));
        }
        codes.assign(rows.size(), NO_ERROR);
        DWORD store = NO_ERROR;
        pace.tick(true);
        const DWORD rc =
            iphlp().CorvaneAddIpForwardEntries(rows.data(), static_cast<DWORD>(rows.size()),
                                               helperStores ? 1 : 0, codes.data(), &store);
        pace.tick(true);
        if (rc == ERROR_NOT_SUPPORTED && start == 0)
            return false;
        if (rc != NO_ERROR) {
            // Refused whole: one message for the rest of the list, not one per route.
            result.failed += static_cast<int>(request.routes.size() - start);
            ReportFailureForced(
                QStringLiteral("SetIPForwardEntry for ") + request.routes[start].network, rc);
            return true;
        }
        names.clear();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (codes[i] == NO_ERROR) {
                ++result.added;
                if (request.persistent && !helperStores)
                    names.push_back(reg::routeNameText({ntohl(rows[i].dwForwardDest),
                                                        ntohl(rows[i].dwForwardMask),
                                                        request.nextHop, metric}));
            } else {
                ++result.failed;
                ReportFailureForced(QStringLiteral("SetIPForwardEntry for ") +
                                        request.routes[start + i].network,
                                    codes[i]);
                pace.restart();
            }
        }
        if (!names.empty())
            SetPersistent(names, true);
        if (store != NO_ERROR && !storeShown) {
            storeShown = true;
            ReportHelperStoreFailure(store);
        }
    }
    return true;
}

} // namespace

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
    ProgressPace pace(progress);
    if (addThroughHelper(request, pace, result))
        return result;
    std::vector<std::string> names;
    names.reserve(std::min<std::size_t>(request.routes.size(), kPersistentBatch));
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
