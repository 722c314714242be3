#include "service.h"

#include "authority.h"
#include "changes.h"
#include "corvane_result.h"
#include "dhcp/clients.h"
#include "guard.h"
#include "protocol.h"
#include "requests.h"
#include "store.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <optional>
#include <string>
#include <systemd/sd-bus.h>
#include <vector>

namespace corvane::helper {
namespace {

std::string quad(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &networkOrder, text, sizeof text);
    return text;
}

// The index's name in the helper's namespace, which is where the change would be made.
std::optional<std::string> ownName(uint32_t ifIndex) {
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(ifIndex, name))
        return std::nullopt;
    return std::string(name);
}

// The request's checks, then whether the interface it names is the one with that index here.
template <typename Check> DWORD checkNamed(Check&& check, uint32_t ifIndex, const char* ifName) {
    const DWORD r = check();
    return r != NO_ERROR ? r : checkInterface(ifIndex, ifName, ownName(ifIndex));
}

void log(uid_t uid, const std::string& what, DWORD result) {
    // stderr goes to the journal under systemd.
    std::fprintf(stderr, "uid %u: %s: result %u\n", static_cast<unsigned>(uid), what.c_str(),
                 static_cast<unsigned>(result));
}

// The steps every request takes; check and change answer result codes. what describes the
// request for the log, details for the authentication agent (describe*); they are used only
// once the check has passed. A caller in another network namespace is refused first: its
// indexes and names are not the helper's.
template <typename Check, typename Change>
int serve(sd_bus_message* m, const char* action, Check&& check, Change&& change,
          const std::string& what, const std::string& details) {
    sd_bus* bus = sd_bus_message_get_bus(m);
    const char* sender = sd_bus_message_get_sender(m);
    const std::optional<uid_t> uid = sender ? callerUid(bus, sender) : std::nullopt;
    if (!uid)
        return sd_bus_reply_method_return(m, "u", ERROR_ACCESS_DENIED);
    if (!inOwnNetworkNamespace(bus, sender)) {
        log(*uid, what + " (from another network namespace)", ERROR_ACCESS_DENIED);
        return sd_bus_reply_method_return(m, "u", ERROR_ACCESS_DENIED);
    }
    DWORD result = sys::guarded(check);
    if (result == NO_ERROR) {
        const bool interactive = sd_bus_message_get_allow_interactive_authorization(m) > 0;
        if (authorise(bus, sender, action, interactive, details) != Verdict::Allowed) {
            log(*uid, what + " (not authorised)", ERROR_ACCESS_DENIED);
            return sd_bus_reply_method_return(m, "u", ERROR_ACCESS_DENIED);
        }
        result = sys::guarded(change);
    }
    log(*uid, what, result);
    return sd_bus_reply_method_return(m, "u", result);
}

int onSetAdminStatus(sd_bus_message* m, void*, sd_bus_error*) {
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    uint32_t status = 0;
    if (const int r = sd_bus_message_read(m, kAdminStatusSignature, &ifIndex, &name, &status);
        r < 0)
        return r;
    return serve(
        m, kActionInterfaces,
        [&] {
            return checkNamed([&] { return checkAdminStatus(ifIndex, status); }, ifIndex, name);
        },
        [&] { return sys::direct::setAdminStatus(ifIndex, status); },
        "interface " + std::to_string(ifIndex) + " " + printableName(name) +
            (status == MIB_IF_ADMIN_STATUS_UP     ? std::string(" up")
             : status == MIB_IF_ADMIN_STATUS_DOWN ? std::string(" down")
                                                  : " state " + std::to_string(status)),
        describeAdminStatus(name, status));
}

int onRoute(sd_bus_message* m, bool add) {
    RouteArgs a;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, kRouteSignature, &a.destination, &a.mask, &a.nextHop,
                                          &a.ifIndex, &name, &a.type, &a.protocol, &a.metric);
        r < 0)
        return r;
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = a.destination;
    row.dwForwardMask = a.mask;
    row.dwForwardNextHop = a.nextHop;
    row.dwForwardIfIndex = a.ifIndex;
    row.dwForwardType = a.type;
    row.dwForwardProto = a.protocol;
    row.dwForwardMetric1 = a.metric;
    return serve(
        m, kActionRoutes,
        [&] { return checkNamed([&] { return checkRoute(a); }, a.ifIndex, name); },
        [&] { return add ? sys::direct::addRoute(row) : sys::direct::deleteRoute(row); },
        std::string(add ? "add" : "delete") + " route " + quad(a.destination) + " mask " +
            quad(a.mask) + " via " + quad(a.nextHop) + " interface " + std::to_string(a.ifIndex) +
            " " + printableName(name) + " metric " + std::to_string(a.metric),
        describeRoute(add, a, name));
}

int onAddRoute(sd_bus_message* m, void*, sd_bus_error*) {
    return onRoute(m, true);
}
int onDeleteRoute(sd_bus_message* m, void*, sd_bus_error*) {
    return onRoute(m, false);
}

int onAddress(sd_bus_message* m, bool add) {
    uint32_t address = 0;
    uint32_t mask = 0;
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, kAddressSignature, &address, &mask, &ifIndex, &name);
        r < 0)
        return r;
    return serve(
        m, kActionAddresses,
        [&] {
            return checkNamed([&] { return checkAddress(address, mask, ifIndex); }, ifIndex, name);
        },
        [&]() -> DWORD {
            const auto prefix = static_cast<uint8_t>(__builtin_popcount(mask));
            if (!add)
                return sys::direct::deleteAddress(sys::NteKey{ifIndex, address, prefix});
            sys::NteKey added;
            return sys::direct::addAddress(address, mask, ifIndex, added);
        },
        std::string(add ? "add" : "delete") + " address " + quad(address) + " mask " + quad(mask) +
            " interface " + std::to_string(ifIndex) + " " + printableName(name),
        describeAddress(add, address, mask, name));
}

int onAddAddress(sd_bus_message* m, void*, sd_bus_error*) {
    return onAddress(m, true);
}
int onDeleteAddress(sd_bus_message* m, void*, sd_bus_error*) {
    return onAddress(m, false);
}

int onLease(sd_bus_message* m, bool renew) {
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, kLeaseSignature, &ifIndex, &name); r < 0)
        return r;
    const std::string wanted(name ? name : "");
    return serve(
        m, kActionDhcp,
        [&]() -> DWORD {
            if (const DWORD r = checkNamed([&] { return checkLease(ifIndex, wanted); }, ifIndex,
                                           wanted.c_str()))
                return r;
            // Nothing for an administrator to type a password for.
            return sys::dhcp::managed(wanted) ? NO_ERROR : ERROR_NO_DHCP_CLIENT;
        },
        [&] { return sys::direct::changeLease(renew, ifIndex, wanted, false); },
        std::string(renew ? "renew" : "release") + " lease of interface " +
            std::to_string(ifIndex) + " " + printableName(wanted),
        describeLease(renew, wanted));
}

int onReleaseLease(sd_bus_message* m, void*, sd_bus_error*) {
    return onLease(m, false);
}
int onRenewLease(sd_bus_message* m, void*, sd_bus_error*) {
    return onLease(m, true);
}

int onSetPersistentRoutes(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const Service& service = *static_cast<Service*>(userdata);
    std::vector<std::string> names;
    bool acceptable = true;
    if (const int r = sd_bus_message_enter_container(m, 'a', "s"); r < 0)
        return r;
    // Counted while read: a request past the limit is refused before it is all in memory.
    for (;;) {
        const char* name = nullptr;
        const int r = sd_bus_message_read_basic(m, 's', &name);
        if (r < 0)
            return r;
        if (r == 0)
            break;
        // Only a name to store must be one the program writes; any stored one may go.
        if (names.size() == kMaxRouteNames || std::strlen(name) > kMaxRouteNameLength) {
            acceptable = false;
            break;
        }
        names.emplace_back(name);
    }
    int persistent = 0;
    if (acceptable) {
        if (const int r = sd_bus_message_exit_container(m); r < 0)
            return r;
        if (const int r = sd_bus_message_read(m, "b", &persistent); r < 0)
            return r;
    }
    // A name to store goes in under the one text of its route; a refused one fails alone,
    // with its reason in the journal, and the others are stored.
    StoreNames checked;
    if (acceptable && persistent) {
        checked = namesToStore(names);
        names = checked.accepted;
    }
    std::string failure;
    std::string what = std::string(persistent ? "store " : "forget ") +
                       std::to_string(names.size()) + " persistent route(s)";
    if (names.size() == 1)
        what += " " + printableName(names.front());
    constexpr std::size_t listedRefusals = 8;
    for (std::size_t i = 0; i < checked.refused.size() && i < listedRefusals; ++i)
        what += "; refused " + printableName(checked.refused[i].name) + " (" +
                reg::routeNameFaultText(checked.refused[i].fault) + ")";
    if (checked.refused.size() > listedRefusals)
        what += "; " + std::to_string(checked.refused.size() - listedRefusals) + " more refused";
    const bool anyRefused = !checked.refused.empty();
    return serve(
        m, kActionPersistentRoutes,
        [&] {
            return acceptable && !(anyRefused && names.empty()) ? NO_ERROR
                                                                : ERROR_INVALID_PARAMETER;
        },
        [&] {
            const DWORD rc =
                storePersistentRoutes(service.storeFolder, names, persistent != 0, failure);
            if (rc != NO_ERROR)
                std::fprintf(stderr, "store: %s\n", failure.c_str());
            return rc == NO_ERROR && anyRefused ? DWORD{ERROR_INVALID_PARAMETER} : rc;
        },
        what, describePersistentRoutes(persistent != 0, names));
}

// sd-bus is C: an exception (only bad_alloc can come) must not unwind into it. It answers
// the caller with an error instead.
template <int (*Handler)(sd_bus_message*, void*, sd_bus_error*)>
int caught(sd_bus_message* m, void* userdata, sd_bus_error* error) noexcept {
    try {
        return Handler(m, userdata, error);
    } catch (...) {
        return -ENOMEM;
    }
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD(kSetAdminStatus, kAdminStatusSignature, "u", caught<onSetAdminStatus>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kAddRoute, kRouteSignature, "u", caught<onAddRoute>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kDeleteRoute, kRouteSignature, "u", caught<onDeleteRoute>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kAddAddress, kAddressSignature, "u", caught<onAddAddress>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kDeleteAddress, kAddressSignature, "u", caught<onDeleteAddress>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kReleaseLease, kLeaseSignature, "u", caught<onReleaseLease>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kRenewLease, kLeaseSignature, "u", caught<onRenewLease>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kSetPersistentRoutes, "asb", "u", caught<onSetPersistentRoutes>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

} // namespace

int publish(sd_bus* bus, Service& service, sd_bus_slot** slot) {
    return sd_bus_add_object_vtable(bus, slot, kObjectPath, kInterface, kVtable, &service);
}

} // namespace corvane::helper
