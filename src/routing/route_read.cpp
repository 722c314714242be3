#include "routing/route_read.h"

#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "routing/persistentroutes.h"
#include "shell/machinestore.h"

#include <vector>

namespace corvane {
namespace {

// GetIpForwardTable into a buffer grown to the size the platform asks for, the last call
// sorted. A route added between two calls outgrows the size just reported, so the growth is
// tried a few times before the shortage counts as a failure.
DWORD readForwardTable(std::vector<DWORD>& storage, ULONG& size) {
    size = oneRowFwTableSize;
    storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    DWORD rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()),
                                         &size, BOOL{0});
    constexpr int attempts = 4;
    for (int i = 0; i < attempts; ++i) {
        if (rc == ERROR_INSUFFICIENT_BUFFER)
            storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
        rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()), &size,
                                       BOOL{1});
        if (rc != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
    return rc;
}

} // namespace

RouteTableRead readRouteTable(RouteFilters filters) {
    RouteTableRead out;
    std::vector<DWORD> storage;
    ULONG size = 0;
    const DWORD rc = readForwardTable(storage, size);
    out.names = PersistentNames(ReadPersistentRouteNames());
    // A store damaged while the program runs is first met here.
    reportStoreEvents();
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetFwTable"), rc);
        return out;
    }
    const auto& table = *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    out.fill = makeRouteRows(table, size, filters);
    markPersistent(out.fill.rows, out.names);
    out.activeDefault = activeDefaultRoute(out.fill.rows);
    out.ok = true;
    return out;
}

std::vector<RouteRow> readInactivePersistentRows(const std::vector<RouteRow>& rows) {
    return inactivePersistentRows(rows, ReadPersistentRouteNames());
}

} // namespace corvane
