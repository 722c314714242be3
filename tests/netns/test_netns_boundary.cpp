// Out of memory inside an entry point: the caller is C, so the failure must come back as a
// result code, never as an exception unwinding into it.
#include "iphlpapi.h"
#include "netns.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <net/if.h>
#include <new>
#include <vector>

namespace {

// Allocations of the test thread fail from the n-th on while armed; other threads (the
// library's notification reader) are left alone.
thread_local long allocationsLeft = -1;
thread_local bool failed = false;

void* allocate(std::size_t n) {
    if (allocationsLeft == 0) {
        failed = true;
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0)
        --allocationsLeft;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
// Callers of the non-throwing forms have a fallback (stable_sort sorts in place): these are
// left alone, but must come from the same heap as the rest.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace corvane::test;

namespace {

struct EntryPoint {
    const char* name;
    std::function<DWORD()> call;
};

// An entry point that allocates its table by family; the table, if any, is released.
template <typename Table> DWORD allocated(DWORD (*get)(ADDRESS_FAMILY, Table**), ADDRESS_FAMILY f) {
    Table* t = nullptr;
    const DWORD rc = get(f, &t);
    FreeMibTable(t);
    return rc;
}

std::vector<EntryPoint> entryPoints() {
    static MIB_IFTABLE ifTable[64];
    static MIB_IPFORWARDTABLE fwTable[64];
    static MIB_IFROW row;
    static MIB_IPFORWARDROW route;
    static MIB_IPSTATS stats;
    const DWORD bd0 = ::if_nametoindex("bd0");
    const auto routeRow = [bd0] {
        MIB_IPFORWARDROW r{};
        r.dwForwardDest = ::inet_addr("10.77.0.0");
        r.dwForwardMask = ::inet_addr("255.255.0.0");
        r.dwForwardNextHop = ::inet_addr("10.76.0.2");
        r.dwForwardIfIndex = bd0;
        r.dwForwardType = 4;
        r.dwForwardProto = 3;
        r.dwForwardMetric1 = 7;
        return r;
    };
    return {
        {"GetIfTable",
         [] {
             ULONG size = sizeof ifTable;
             return GetIfTable(ifTable, &size, 1);
         }},
        {"GetIfEntry",
         [bd0] {
             row = MIB_IFROW{};
             row.dwIndex = bd0;
             return GetIfEntry(&row);
         }},
        {"SetIfEntry",
         [bd0] {
             row = MIB_IFROW{};
             row.dwIndex = bd0;
             row.dwAdminStatus = MIB_IF_ADMIN_STATUS_UP;
             return SetIfEntry(&row);
         }},
        {"GetIpForwardTable",
         [] {
             ULONG size = sizeof fwTable;
             return GetIpForwardTable(fwTable, &size, 1);
         }},
        {"GetBestInterface",
         [] {
             DWORD index = 0;
             return GetBestInterface(::inet_addr("10.76.0.9"), &index);
         }},
        {"SetIpForwardEntry",
         [routeRow] {
             route = routeRow();
             return SetIpForwardEntry(&route);
         }},
        {"DeleteIpForwardEntry",
         [routeRow] {
             route = routeRow();
             return DeleteIpForwardEntry(&route);
         }},
        {"GetIpStatistics", [] { return GetIpStatistics(&stats); }},
        {"GetRouteChangeCount",
         [] {
             DWORD changes = 0;
             return GetRouteChangeCount(&changes);
         }},
        {"AddIPAddress",
         [bd0] {
             ULONG context = 0, instance = 0;
             return AddIPAddress(::inet_addr("10.76.1.1"), ::inet_addr("255.255.255.0"), bd0,
                                 &context, &instance);
         }},
        {"DeleteIPAddress", [] { return DeleteIPAddress(12345); }},
        {"AllocateAndGetTcpExTableFromStack",
         [] {
             void* t = nullptr;
             const DWORD rc = AllocateAndGetTcpExTableFromStack(&t, 1, nullptr, 0, AF_INET);
             std::free(t);
             return rc;
         }},
        {"GetExtendedTcpTable",
         [] {
             static uint8_t buf[64 * 1024];
             DWORD size = sizeof buf;
             return GetExtendedTcpTable(buf, &size, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0);
         }},
        {"GetExtendedUdpTable",
         [] {
             static uint8_t buf[64 * 1024];
             DWORD size = sizeof buf;
             return GetExtendedUdpTable(buf, &size, 1, AF_INET6, CORVANE_UDP_TABLE_OWNER_PID_FLAGS,
                                        0);
         }},
        {"GetUnicastIpAddressTable", [] { return allocated(GetUnicastIpAddressTable, AF_UNSPEC); }},
        {"GetIpForwardTable2", [] { return allocated(GetIpForwardTable2, AF_UNSPEC); }},
        {"CorvaneGetRouteTable",
         [] {
             CORVANE_ROUTE_TABLE* t = nullptr;
             const DWORD rc = CorvaneGetRouteTable(AF_UNSPEC, CORVANE_ALL_TABLES, &t);
             FreeMibTable(t);
             return rc;
         }},
        {"CorvaneGetRouteTableExceptMain",
         [] { return allocated(CorvaneGetRouteTableExceptMain, AF_UNSPEC); }},
        {"CorvaneGetRuleTable", [] { return allocated(CorvaneGetRuleTable, AF_UNSPEC); }},
        {"CorvaneGetDnsServerTable", [] { return allocated(CorvaneGetDnsServerTable, AF_UNSPEC); }},
        {"CorvaneGetRouteTableNames",
         [] {
             CORVANE_TABLE_NAME_TABLE* t = nullptr;
             const DWORD rc = CorvaneGetRouteTableNames(&t);
             FreeMibTable(t);
             return rc;
         }},
    };
}

TEST(Boundary, AnAllocationFailureBecomesAResultCodeInEveryEntryPoint) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link add bd0 type veth peer name bd1 && ip link set bd0 up && ip link set bd1 up");
    sh("ip addr add 10.76.0.1/24 dev bd0");
    for (const EntryPoint& e : entryPoints()) {
        // Fail the first allocation, then the second, ... until a call needs no more.
        for (long k = 0; k < 400; ++k) {
            allocationsLeft = k;
            failed = false;
            DWORD rc = 0;
            bool escaped = false;
            try {
                rc = e.call();
            } catch (...) {
                escaped = true;
            }
            const bool exhausted = !failed;
            allocationsLeft = -1;
            EXPECT_FALSE(escaped) << e.name << " let an exception out at allocation " << k;
            if (escaped)
                break;
            if (exhausted)
                break; // the call finished before the failing allocation
            EXPECT_NE(rc, static_cast<DWORD>(NO_ERROR))
                << e.name << " claimed success with allocation " << k << " failed";
        }
    }
    shMayFail("ip link del bd0");
}

} // namespace
