#include "service.h"

#include "authority.h"
#include "changes.h"
#include "corvane_result.h"
#include "guard.h"
#include "protocol.h"
#include "requests.h"
#include "store.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

void log(uid_t uid, const std::string& what, DWORD result) {
    // stderr goes to the journal under systemd.
    std::fprintf(stderr, "uid %u: %s: result %u\n", static_cast<unsigned>(uid), what.c_str(),
                 static_cast<unsigned>(result));
}

// The steps every request takes; check and change answer result codes. what describes the
// request for the log (from checked values only).
template <typename Check, typename Change>
int serve(sd_bus_message* m, const char* action, Check&& check, Change&& change,
          const std::string& what) {
    sd_bus* bus = sd_bus_message_get_bus(m);
    const char* sender = sd_bus_message_get_sender(m);
    const std::optional<uid_t> uid = sender ? callerUid(bus, sender) : std::nullopt;
    if (!uid)
        return sd_bus_reply_method_return(m, "u", ERROR_ACCESS_DENIED);
    DWORD result = sys::guarded(check);
    if (result == NO_ERROR) {
        const bool interactive = sd_bus_message_get_allow_interactive_authorization(m) > 0;
        if (authorise(bus, sender, action, interactive) != Verdict::Allowed) {
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
    uint32_t status = 0;
    if (const int r = sd_bus_message_read(m, "uu", &ifIndex, &status); r < 0)
        return r;
    return serve(
        m, kActionInterfaces, [&] { return checkAdminStatus(ifIndex, status); },
        [&] { return sys::direct::setAdminStatus(ifIndex, status); },
        "interface " + std::to_string(ifIndex) +
            (status == MIB_IF_ADMIN_STATUS_UP     ? std::string(" up")
             : status == MIB_IF_ADMIN_STATUS_DOWN ? std::string(" down")
                                                  : " state " + std::to_string(status)));
}

int onRoute(sd_bus_message* m, bool add) {
    RouteArgs a;
    if (const int r = sd_bus_message_read(m, kRouteSignature, &a.destination, &a.mask, &a.nextHop,
                                          &a.ifIndex, &a.type, &a.protocol, &a.metric);
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
        m, kActionRoutes, [&] { return checkRoute(a); },
        [&] { return add ? sys::direct::addRoute(row) : sys::direct::deleteRoute(row); },
        std::string(add ? "add" : "delete") + " route " + quad(a.destination) + " mask " +
            quad(a.mask) + " via " + quad(a.nextHop) + " interface " + std::to_string(a.ifIndex) +
            " metric " + std::to_string(a.metric));
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
    if (const int r = sd_bus_message_read(m, "uuu", &address, &mask, &ifIndex); r < 0)
        return r;
    return serve(
        m, kActionAddresses, [&] { return checkAddress(address, mask, ifIndex); },
        [&]() -> DWORD {
            const auto prefix = static_cast<uint8_t>(__builtin_popcount(mask));
            if (!add)
                return sys::direct::deleteAddress(sys::NteKey{ifIndex, address, prefix});
            sys::NteKey added;
            return sys::direct::addAddress(address, mask, ifIndex, added);
        },
        std::string(add ? "add" : "delete") + " address " + quad(address) + " mask " + quad(mask) +
            " interface " + std::to_string(ifIndex));
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
    if (const int r = sd_bus_message_read(m, "us", &ifIndex, &name); r < 0)
        return r;
    const std::string wanted(name ? name : "");
    const DWORD valid = checkLease(ifIndex, wanted);
    return serve(
        m, kActionDhcp, [&] { return valid; },
        [&] { return sys::direct::changeLease(renew, ifIndex, wanted); },
        std::string(renew ? "renew" : "release") + " lease of interface " +
            std::to_string(ifIndex) + (valid == NO_ERROR ? " " + wanted : std::string()));
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
        what);
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
    SD_BUS_METHOD(kSetAdminStatus, "uu", "u", caught<onSetAdminStatus>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kAddRoute, kRouteSignature, "u", caught<onAddRoute>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kDeleteRoute, kRouteSignature, "u", caught<onDeleteRoute>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kAddAddress, "uuu", "u", caught<onAddAddress>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kDeleteAddress, "uuu", "u", caught<onDeleteAddress>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kReleaseLease, "us", "u", caught<onReleaseLease>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kRenewLease, "us", "u", caught<onRenewLease>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kSetPersistentRoutes, "asb", "u", caught<onSetPersistentRoutes>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

} // namespace

int publish(sd_bus* bus, Service& service, sd_bus_slot** slot) {
    return sd_bus_add_object_vtable(bus, slot, kObjectPath, kInterface, kVtable, &service);
}

} // namespace corvane::helper
