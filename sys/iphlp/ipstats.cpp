// IPv4 counters, with the numbers of interfaces, addresses and routes the change check
// compares once a second.
#include "change_counts.h"
#include "errors.h"
#include "guard.h"
#include "ip_counters.h"
#include "iphlpapi.h"
#include "roots.h"

#include <string>

using namespace corvane::sys;

extern "C" {

DWORD GetIpStatistics(MIB_IPSTATS* stats) {
    return guarded([&]() -> DWORD {
        if (!stats)
            return ERROR_INVALID_PARAMETER;
        std::string snmp;
        if (!readFile(procRoot() + "/net/snmp", snmp))
            return ERROR_NOT_SUPPORTED; // a kernel without IPv4 counters
        MIB_IPSTATS s{};
        if (!parseIpCounters(snmp, s))
            return ERROR_INVALID_DATA;
        // A process that asks once (a report) pays no model; one that asks again gets it.
        ChangeCounts counts;
        if (const int e = countsOnce(counts))
            return resultFromErrno(e);
        s.dwNumIf = counts.interfaces;
        s.dwNumAddr = counts.addresses;
        s.dwNumRoutes = counts.routeRows;
        *stats = s;
        return NO_ERROR;
    });
}

DWORD GetRouteChangeCount(DWORD* changes) {
    return guarded([&]() -> DWORD {
        if (!changes)
            return ERROR_INVALID_PARAMETER;
        ChangeCounts counts;
        if (const int e = currentCounts(counts))
            return resultFromErrno(e);
        *changes = counts.routeChanges;
        return NO_ERROR;
    });
}
}
