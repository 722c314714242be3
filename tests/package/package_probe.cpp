// corvane_package_probe: the changes an unprivileged user's program makes through an installed
// package, without a window (scripts/package-e2e.sh). Prints "result N", the code answered.
//   route add|delete LIBRARY DEST MASK NEXTHOP IFNAME METRIC
//       through the entry points of LIBRARY (the installed libcorvane-iphlpapi.so), which hand
//       the change to the helper when this process lacks CAP_NET_ADMIN; also prints the file
//       the entry point was found in
//   link up|down LIBRARY IFNAME
//       the same for an interface's administrative state
//   persist add|delete NAME
//       through the helper client, the way the program stores persistent routes it may not
//       write itself; "result unreached" when no helper answered
#include "helperclient/client.h"
#include "iphlpapi.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

using RouteEntry = DWORD (*)(MIB_IPFORWARDROW*);
using LinkEntry = DWORD (*)(MIB_IFROW*);

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "corvane_package_probe: %s (usage: see the head of package_probe.cpp)\n",
                 why);
    std::exit(2);
}

uint32_t quad(const char* text) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1)
        usage("not a dotted quad");
    return a.s_addr;
}

uint32_t ifIndex(const char* name) {
    const uint32_t index = if_nametoindex(name);
    if (index == 0)
        usage("no such interface");
    return index;
}

// The entry point of the library file, and the file it was found in; exits when there is none.
template <typename Entry> Entry entryPoint(const char* file, const char* entry) {
    void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", file, dlerror());
        std::exit(1);
    }
    void* symbol = dlsym(library, entry);
    Dl_info found{};
    if (!symbol || !dladdr(symbol, &found) || !found.dli_fname) {
        std::fprintf(stderr, "%s lacks %s\n", file, entry);
        std::exit(1);
    }
    std::printf("library %s\n", found.dli_fname);
    return reinterpret_cast<Entry>(symbol);
}

int route(bool add, char** argv) {
    const auto change =
        entryPoint<RouteEntry>(argv[0], add ? "SetIpForwardEntry" : "DeleteIpForwardEntry");
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = quad(argv[1]);
    row.dwForwardMask = quad(argv[2]);
    row.dwForwardNextHop = quad(argv[3]);
    row.dwForwardIfIndex = ifIndex(argv[4]);
    row.dwForwardType = MIB_IPROUTE_TYPE_INDIRECT;
    row.dwForwardProto = MIB_IPPROTO_NETMGMT;
    row.dwForwardMetric1 = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 10));
    std::printf("result %u\n", static_cast<unsigned>(change(&row)));
    return 0;
}

int link(bool up, char** argv) {
    const auto change = entryPoint<LinkEntry>(argv[0], "SetIfEntry");
    MIB_IFROW row{};
    row.dwIndex = ifIndex(argv[1]);
    row.dwAdminStatus = up ? MIB_IF_ADMIN_STATUS_UP : MIB_IF_ADMIN_STATUS_DOWN;
    std::printf("result %u\n", static_cast<unsigned>(change(&row)));
    return 0;
}

int persist(bool add, const char* name) {
    const corvane::helper::Reply reply = corvane::helper::setPersistentRoutes({name}, add);
    if (!reply.reached)
        std::printf("result unreached\n");
    else
        std::printf("result %u\n", static_cast<unsigned>(reply.result));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() < 2)
        usage("no verb");
    if (a[0] == "link" && a.size() == 4 && (a[1] == "up" || a[1] == "down"))
        return link(a[1] == "up", argv + 3);
    if (a[1] != "add" && a[1] != "delete")
        usage("no verb");
    const bool add = a[1] == "add";
    if (a[0] == "route" && a.size() == 8)
        return route(add, argv + 3);
    if (a[0] == "persist" && a.size() == 3)
        return persist(add, argv[3]);
    usage("unknown command");
}
