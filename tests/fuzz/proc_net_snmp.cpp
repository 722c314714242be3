// /proc/net/snmp, of which the IPv4 counters are read.
#include "fuzz_support.h"
#include "ip_counters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        MIB_IPSTATS stats{};
        corvane::sys::parseIpCounters(corvane::fuzz::text(data, size), stats);
        // Interface and address counts come from elsewhere; the text must not reach them.
        FUZZ_CHECK(stats.dwNumIf == 0 && stats.dwNumAddr == 0 && stats.dwNumRoutes == 0);
    });
}
