// corvane_bench_helper: makes one change through the stand-in library the way a page does and
// prints its result code, or times route changes; run as an unprivileged user, so that the
// changes go through the helper (tests/helper, bench/helper.sh).
//   route add|delete DEST MASK NEXTHOP IFINDEX METRIC
//   route2 add|delete PREFIX/LENGTH NEXTHOP|- IFINDEX METRIC TABLE   (either family; table 0:
//          CreateIpForwardEntry2 / DeleteIpForwardEntry2, else the table's own entry points)
//   link IFINDEX up|down
//   address add|delete ADDRESS MASK IFINDEX
//   persist add|delete NAME MACHINEFOLDER
//   bench COUNT IFINDEX NEXTHOP   (median time of one route change, in ms)
//   batch plain|persistent IFINDEX NEXTHOP METRIC MACHINEFOLDER DEST MASK [DEST MASK...]
//   batchbench COUNT IFINDEX NEXTHOP MACHINEFOLDER   (time of a persistent list of COUNT)
//   listbench COUNT IFINDEX NEXTHOP MACHINEFOLDER    (the same as the program adds a list)
#include "iphlpapi.h"
#include "platform/iphelper.h"
#include "routing/persistentroutes.h"
#include "routing/routelist_add.h"
#include "session/machinestore.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

uint32_t quad(const char* text) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) {
        std::fprintf(stderr, "not an address: %s\n", text);
        std::exit(2);
    }
    return a.s_addr;
}

uint32_t number(const char* text) {
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
}

MIB_IPFORWARDROW routeRow(uint32_t dest, uint32_t mask, uint32_t hop, uint32_t ifIndex,
                          uint32_t metric) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = dest;
    row.dwForwardMask = mask;
    row.dwForwardNextHop = hop;
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardType = MIB_IPROUTE_TYPE_INDIRECT;
    row.dwForwardProto = MIB_IPPROTO_NETMGMT;
    row.dwForwardMetric1 = metric;
    return row;
}

// "2001:db8::/64" or "10.1.0.0/16" into the prefix; "-" for a next hop on the link.
bool sockaddrOf(const std::string& text, SOCKADDR_INET& out) {
    out = {};
    if (text == "-")
        return true;
    if (inet_pton(AF_INET6, text.c_str(), &out.Ipv6.sin6_addr) == 1) {
        out.si_family = AF_INET6;
        return true;
    }
    if (inet_pton(AF_INET, text.c_str(), &out.Ipv4.sin_addr) == 1) {
        out.si_family = AF_INET;
        return true;
    }
    return false;
}

DWORD route2(const std::vector<std::string>& a) {
    MIB_IPFORWARD_ROW2 row{};
    const std::size_t slash = a[2].find('/');
    if (slash == std::string::npos ||
        !sockaddrOf(a[2].substr(0, slash), row.DestinationPrefix.Prefix) ||
        !sockaddrOf(a[3], row.NextHop)) {
        std::fprintf(stderr, "not a prefix or address\n");
        std::exit(2);
    }
    row.DestinationPrefix.PrefixLength = static_cast<UINT8>(number(a[2].c_str() + slash + 1));
    row.InterfaceIndex = number(a[4].c_str());
    row.Metric = number(a[5].c_str());
    const uint32_t table = number(a[6].c_str());
    const bool add = a[1] == "add";
    if (table == 0)
        return add ? CreateIpForwardEntry2(&row) : DeleteIpForwardEntry2(&row);
    return add ? CorvaneCreateRouteInTable(&row, table) : CorvaneDeleteRouteInTable(&row, table);
}

// The address's context as the adapter list hands it out.
ULONG contextOf(uint32_t address, uint32_t ifIndex) {
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<unsigned char> buffer(size);
    auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(info, &size) != NO_ERROR)
        return 0;
    for (const IP_ADAPTER_INFO* a = info; a; a = a->Next)
        for (const IP_ADDR_STRING* s = &a->IpAddressList; s; s = s->Next)
            if (a->Index == ifIndex && quad(s->IpAddress.String) == address)
                return s->Context;
    return 0;
}

double medianMs(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int bench(int count, uint32_t ifIndex, uint32_t hop) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> adds;
    std::vector<double> deletes;
    std::vector<MIB_IPFORWARDROW> rows;
    rows.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i)
        rows.push_back(routeRow(htonl(0x0AC80000u | (static_cast<uint32_t>(i) << 8)),
                                htonl(0xFFFFFF00u), hop, ifIndex, 10));
    for (auto& row : rows) {
        const auto start = Clock::now();
        if (const DWORD rc = SetIpForwardEntry(&row)) {
            std::printf("result %u\n", rc);
            return 1;
        }
        adds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    for (auto& row : rows) {
        const auto start = Clock::now();
        if (const DWORD rc = DeleteIpForwardEntry(&row)) {
            std::printf("result %u\n", rc);
            return 1;
        }
        deletes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("add median_ms %.3f\ndelete median_ms %.3f\n", medianMs(adds), medianMs(deletes));
    return 0;
}

// Each route's code, the store's and what the store then holds.
int batch(const std::vector<std::string>& a, char** argv) {
    corvane::resetMachineStore(a[5]);
    std::vector<MIB_IPFORWARDROW> rows;
    for (std::size_t i = 6; i + 1 < a.size(); i += 2)
        rows.push_back(routeRow(quad(argv[i + 1]), quad(argv[i + 2]), quad(argv[4]),
                                number(argv[3]), number(argv[5])));
    std::vector<DWORD> results(rows.size());
    DWORD store = 0;
    const DWORD rc = CorvaneAddIpForwardEntries(rows.data(), static_cast<DWORD>(rows.size()),
                                                a[1] == "persistent", results.data(), &store);
    for (std::size_t i = 0; i < results.size(); ++i)
        std::printf("route %zu %u\n", i, results[i]);
    std::printf("store %u\n", store);
    for (const std::string& name : corvane::ReadPersistentRouteNames())
        std::printf("stored %s\n", name.c_str());
    std::printf("result %u\n", rc);
    return 0;
}

int batchBench(int count, uint32_t ifIndex, uint32_t hop, const char* folder) {
    using Clock = std::chrono::steady_clock;
    corvane::resetMachineStore(folder);
    std::vector<MIB_IPFORWARDROW> rows;
    rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        rows.push_back(routeRow(htonl(0x0B000000u | (static_cast<uint32_t>(i) << 8)),
                                htonl(0xFFFFFF00u), hop, ifIndex, 10));
    std::vector<DWORD> results(rows.size());
    DWORD store = 0;
    const auto start = Clock::now();
    const DWORD rc = CorvaneAddIpForwardEntries(rows.data(), static_cast<DWORD>(rows.size()), 1,
                                                results.data(), &store);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const auto added = std::count(results.begin(), results.end(), DWORD{NO_ERROR});
    std::printf("batch added %ld store %u\nbatch add_ms %.1f\nresult %u\n",
                static_cast<long>(added), store, ms, rc);
    return 0;
}

int listBench(int count, uint32_t ifIndex, const char* hop, const char* folder) {
    using Clock = std::chrono::steady_clock;
    corvane::resetMachineStore(folder);
    // The library beside this program, which is the one it is linked with.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    if (corvane::iphlp().bind(false, {self + "/libcorvane-iphlpapi.so", ""}).base) {
        std::printf("result %u\n", ERROR_PROC_NOT_FOUND);
        return 1;
    }
    corvane::ListAddRequest request;
    for (int i = 0; i < count; ++i)
        request.routes.push_back({QStringLiteral("12.%1.%2.0").arg(i / 256).arg(i % 256),
                                  QStringLiteral("255.255.255.0"), i + 1});
    request.ifIndex = ifIndex;
    request.nextHop = ntohl(quad(hop));
    request.metric = 10;
    request.nextHopText = QString::fromLatin1(hop);
    request.persistent = true;
    const auto start = Clock::now();
    const corvane::ListAddResult done = corvane::addRouteList(request, {});
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("list added %d failed %d stored %zu\nlist add_ms %.1f\n", done.added, done.failed,
                corvane::ReadPersistentRouteNames().size(), ms);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    const auto is = [&](size_t n, const char* verb) { return a.size() == n && a[0] == verb; };
    DWORD rc = ERROR_INVALID_PARAMETER;
    if (is(7, "route")) {
        MIB_IPFORWARDROW row =
            routeRow(quad(argv[3]), quad(argv[4]), quad(argv[5]), number(argv[6]), number(argv[7]));
        rc = a[1] == "add" ? SetIpForwardEntry(&row) : DeleteIpForwardEntry(&row);
    } else if (is(7, "route2")) {
        rc = route2(a);
    } else if (is(3, "link")) {
        MIB_IFROW row{};
        row.dwIndex = number(argv[2]);
        row.dwAdminStatus = a[2] == "up" ? MIB_IF_ADMIN_STATUS_UP : MIB_IF_ADMIN_STATUS_DOWN;
        rc = SetIfEntry(&row);
    } else if (is(5, "address")) {
        const uint32_t address = quad(argv[3]);
        const uint32_t ifIndex = number(argv[5]);
        if (a[1] == "add") {
            ULONG context = 0;
            ULONG instance = 0;
            rc = AddIPAddress(address, quad(argv[4]), ifIndex, &context, &instance);
        } else {
            rc = DeleteIPAddress(contextOf(address, ifIndex));
        }
    } else if (is(4, "persist")) {
        corvane::resetMachineStore(argv[4]);
        const bool ok = corvane::SetPersistent(a[2], a[1] == "add");
        for (const std::string& name : corvane::ReadPersistentRouteNames())
            std::printf("stored %s\n", name.c_str());
        rc = ok ? NO_ERROR : ERROR_ACCESS_DENIED;
    } else if (a.size() >= 8 && a.size() % 2 == 0 && a[0] == "batch") {
        return batch(a, argv);
    } else if (is(5, "batchbench")) {
        return batchBench(std::atoi(argv[2]), number(argv[3]), quad(argv[4]), argv[5]);
    } else if (is(5, "listbench")) {
        return listBench(std::atoi(argv[2]), number(argv[3]), argv[4], argv[5]);
    } else if (is(4, "bench")) {
        return bench(std::atoi(argv[2]), number(argv[3]), quad(argv[4]));
    } else {
        std::fprintf(stderr, "usage: see the head of helper_probe.cpp\n");
        return 2;
    }
    std::printf("result %u\n", rc);
    return 0;
}
