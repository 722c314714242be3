#include "service.h"

#include "authority.h"
#include "changes.h"
#include "corvane_result.h"
#include "dhcp/clients.h"
#include "guard.h"
#include "helperclient/protocol.h"
#include "inflight.h"
#include "journal.h"
#include "registry/route_name.h"
#include "requests.h"
#include "store.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <net/if.h>
#include <optional>
#include <string>
#include <systemd/sd-bus.h>
#include <utility>
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

unsigned long long monotonicUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL +
           static_cast<unsigned long long>(ts.tv_nsec) / 1000;
}

int answer(sd_bus_message* m, DWORD result) {
    return sd_bus_reply_method_return(m, "u", result);
}

// What one request asks. check runs at once, on the request as read; change runs when
// polkit has agreed, after the handler has returned, so it owns copies of what it uses.
// what describes the request for the journal and details for the authentication agent
// (describe*), each with the caller's text through printable().
struct Request {
    const char* action = nullptr;
    std::function<DWORD()> check;
    std::function<DWORD()> change;
    std::string what;
    std::string details;
    std::function<int(sd_bus_message*, DWORD)> reply; // empty: the one code
};

// The steps every request takes. A caller in another network namespace is refused first:
// its indexes and names are not the helper's. Then the request's own checks, and then the
// question to polkit, which is not asked past the caller's share (ERROR_BUSY).
int serve(sd_bus_message* m, Service& service, Request request) {
    service.lastRequest = monotonicUsec();
    const std::function<int(sd_bus_message*, DWORD)> reply = request.reply;
    const auto refuse = [&](sd_bus_message* msg, DWORD r) {
        return reply ? reply(msg, r) : answer(msg, r);
    };
    const char* sender = sd_bus_message_get_sender(m);
    const std::optional<Caller> caller = service.callers->of(sender);
    if (!caller)
        return refuse(m, ERROR_ACCESS_DENIED);
    if (!caller->sameNamespace) {
        logRefusal(caller->uid, request.what, "from another network namespace",
                   ERROR_ACCESS_DENIED);
        return refuse(m, ERROR_ACCESS_DENIED);
    }
    if (const DWORD r = sys::guarded(request.check); r != NO_ERROR) {
        logRefusal(caller->uid, request.what, "not accepted", r);
        return refuse(m, r);
    }
    const std::string what = request.what;
    Asked asked{sender,
                caller->uid,
                request.action,
                sd_bus_message_get_allow_interactive_authorization(m) > 0,
                std::move(request.details),
                std::move(request.what),
                std::move(request.change),
                std::move(request.reply)};
    switch (service.inflight->start(m, std::move(asked))) {
    case Inflight::Start::Asked:
        return 1;
    case Inflight::Start::Busy:
        logRefusal(caller->uid, what, "too many waiting", ERROR_BUSY);
        return refuse(m, ERROR_BUSY);
    case Inflight::Start::Failed:
        break;
    }
    logRefusal(caller->uid, what, "polkit could not be asked", ERROR_HELPER_FAILED);
    return refuse(m, ERROR_HELPER_FAILED);
}

Service& of(void* userdata) {
    return *static_cast<Service*>(userdata);
}

int onSetAdminStatus(sd_bus_message* m, void* userdata, sd_bus_error*) {
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    uint32_t status = 0;
    if (const int r = sd_bus_message_read(m, kAdminStatusSignature, &ifIndex, &name, &status);
        r < 0)
        return r;
    Request request;
    request.action = kActionInterfaces;
    request.check = [&] {
        return checkNamed([&] { return checkAdminStatus(ifIndex, status); }, ifIndex, name);
    };
    request.change = [ifIndex, status] { return sys::direct::setAdminStatus(ifIndex, status); };
    request.what = "interface " + std::to_string(ifIndex) + " " + printable(name) +
                   (status == MIB_IF_ADMIN_STATUS_UP     ? std::string(" up")
                    : status == MIB_IF_ADMIN_STATUS_DOWN ? std::string(" down")
                                                         : " state " + std::to_string(status));
    request.details = describeAdminStatus(name, status);
    return serve(m, of(userdata), std::move(request));
}

int onRoute(sd_bus_message* m, void* userdata, bool add) {
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
    Request request;
    request.action = kActionRoutes;
    request.check = [&] { return checkNamed([&] { return checkRoute(a); }, a.ifIndex, name); };
    request.change = [add, row] {
        return add ? sys::direct::addRoute(row) : sys::direct::deleteRoute(row);
    };
    request.what = std::string(add ? "add" : "delete") + " route " + quad(a.destination) +
                   " mask " + quad(a.mask) + " via " + quad(a.nextHop) + " interface " +
                   std::to_string(a.ifIndex) + " " + printable(name) + " metric " +
                   std::to_string(a.metric);
    request.details = describeRoute(add, a, name);
    return serve(m, of(userdata), std::move(request));
}

// An address of the bus request: exactly the family's bytes (none for a next hop on the link).
int readAddressBytes(sd_bus_message* m, uint32_t family, bool mayBeEmpty,
                     std::array<uint8_t, 16>& out, bool& fits) {
    const void* data = nullptr;
    size_t size = 0;
    const int r = sd_bus_message_read_array(m, 'y', &data, &size);
    if (r < 0)
        return r;
    const unsigned wanted = addressLength(family);
    fits = fits && ((size == 0 && mayBeEmpty && family == 0) || (wanted != 0 && size == wanted));
    if (fits && size > 0)
        std::memcpy(out.data(), data, size);
    return r;
}

int onRoute2(sd_bus_message* m, void* userdata, bool add) {
    Route2Args a;
    const char* name = nullptr;
    bool fits = true;
    int r = sd_bus_message_read(m, "u", &a.family);
    if (r >= 0)
        r = readAddressBytes(m, a.family, false, a.destination, fits);
    if (r >= 0)
        r = sd_bus_message_read(m, "uu", &a.prefixLength, &a.nextHopFamily);
    if (r >= 0)
        r = readAddressBytes(m, a.nextHopFamily, true, a.nextHop, fits);
    if (r >= 0)
        r = sd_bus_message_read(m, "uusuu", &a.nextHopScope, &a.ifIndex, &name, &a.metric,
                                &a.table);
    if (r < 0)
        return r;
    Request request;
    request.action = kActionRoutes;
    request.check = [&]() -> DWORD {
        if (!fits)
            return ERROR_INVALID_PARAMETER;
        return checkNamed([&] { return checkRoute2(a, add); }, a.ifIndex, name);
    };
    request.change = [add, a] {
        return add ? sys::direct::addRoute2(a) : sys::direct::deleteRoute2(a);
    };
    // Built from the checked request only: an address of the wrong length is not shown.
    request.details = fits ? describeRoute2(add, a, name) : std::string("a malformed route");
    request.what = request.details + " (interface " + std::to_string(a.ifIndex) + ", metric " +
                   std::to_string(a.metric) + ", table " + std::to_string(a.table) + ")";
    return serve(m, of(userdata), std::move(request));
}

int onAddRoute2(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onRoute2(m, userdata, true);
}
int onDeleteRoute2(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onRoute2(m, userdata, false);
}

int onAddRoute(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onRoute(m, userdata, true);
}
int onDeleteRoute(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onRoute(m, userdata, false);
}

int onAddress(sd_bus_message* m, void* userdata, bool add) {
    uint32_t address = 0;
    uint32_t mask = 0;
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, kAddressSignature, &address, &mask, &ifIndex, &name);
        r < 0)
        return r;
    Request request;
    request.action = kActionAddresses;
    request.check = [&] {
        return checkNamed([&] { return checkAddress(address, mask, ifIndex); }, ifIndex, name);
    };
    request.change = [add, address, mask, ifIndex]() -> DWORD {
        const auto prefix = static_cast<uint8_t>(__builtin_popcount(mask));
        if (!add)
            return sys::direct::deleteAddress(sys::NteKey{ifIndex, address, prefix});
        sys::NteKey added;
        return sys::direct::addAddress(address, mask, ifIndex, added);
    };
    request.what = std::string(add ? "add" : "delete") + " address " + quad(address) + " mask " +
                   quad(mask) + " interface " + std::to_string(ifIndex) + " " + printable(name);
    request.details = describeAddress(add, address, mask, name);
    return serve(m, of(userdata), std::move(request));
}

int onAddAddress(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onAddress(m, userdata, true);
}
int onDeleteAddress(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onAddress(m, userdata, false);
}

int onLease(sd_bus_message* m, void* userdata, bool renew) {
    uint32_t ifIndex = 0;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, kLeaseSignature, &ifIndex, &name); r < 0)
        return r;
    const std::string wanted(name ? name : "");
    Request request;
    request.action = kActionDhcp;
    request.check = [&]() -> DWORD {
        if (const DWORD r =
                checkNamed([&] { return checkLease(ifIndex, wanted); }, ifIndex, wanted.c_str()))
            return r;
        // Nothing for an administrator to type a password for.
        return sys::dhcp::managed(wanted) ? NO_ERROR : ERROR_NO_DHCP_CLIENT;
    };
    request.change = [renew, ifIndex, wanted] {
        return sys::direct::changeLease(renew, ifIndex, wanted, false);
    };
    request.what = std::string(renew ? "renew" : "release") + " lease of interface " +
                   std::to_string(ifIndex) + " " + printable(wanted);
    request.details = describeLease(renew, wanted);
    return serve(m, of(userdata), std::move(request));
}

int onReleaseLease(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onLease(m, userdata, false);
}
int onRenewLease(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return onLease(m, userdata, true);
}

// What an element reader answers when the request is refused (too long, too many).
constexpr int kRefused = 2;

// An array read element by element, then the flag after it. Counted while read: readOne
// answers <0 for an error, 0 at the end, 1 for an element taken and kRefused for a request
// past a limit, which is refused before it is all in memory, its flag unread. 0 or -errno.
template <typename ReadOne>
int readArrayThenFlag(sd_bus_message* m, const char* contents, ReadOne readOne, bool& acceptable,
                      int& flag) {
    acceptable = true;
    flag = 0;
    if (const int r = sd_bus_message_enter_container(m, 'a', contents); r < 0)
        return r;
    for (;;) {
        const int r = readOne();
        if (r < 0)
            return r;
        if (r == 0)
            break;
        if (r == kRefused) {
            acceptable = false;
            return 0;
        }
    }
    if (const int r = sd_bus_message_exit_container(m); r < 0)
        return r;
    const int r = sd_bus_message_read(m, "b", &flag);
    return r < 0 ? r : 0;
}

int onSetPersistentRoutes(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Service& service = of(userdata);
    // The largest request there is: not read at all while its caller's share is taken.
    const char* sender = sd_bus_message_get_sender(m);
    if (const std::optional<Caller> caller = service.callers->of(sender);
        caller && !service.inflight->wouldAdmit(sender, caller->uid)) {
        logRefusal(caller->uid, "persistent routes", "too many waiting", ERROR_BUSY);
        return answer(m, ERROR_BUSY);
    }
    std::vector<std::string> names;
    bool acceptable = true;
    int persistent = 0;
    if (const int r = readArrayThenFlag(
            m, "s",
            [&] {
                const char* name = nullptr;
                const int got = sd_bus_message_read_basic(m, 's', &name);
                if (got <= 0)
                    return got;
                // Only a name to store must be one the program writes; any stored one may go.
                const std::size_t length = std::strlen(name);
                if (names.size() == kMaxRouteNames ||
                    length > (reg::looksWide(name) ? kMaxWideRouteNameLength : kMaxRouteNameLength))
                    return kRefused;
                names.emplace_back(name);
                return 1;
            },
            acceptable, persistent);
        r < 0)
        return r;
    // A name to store goes in under the one text of its route; a refused one fails alone,
    // with its reason in the journal, and the others are stored.
    StoreNames checked;
    if (acceptable && persistent) {
        checked = namesToStore(names);
        names = checked.accepted;
    }
    std::string what = std::string(persistent ? "store " : "forget ") +
                       std::to_string(names.size()) + " persistent route(s)";
    if (names.size() == 1)
        what += " " + printable(names.front());
    constexpr std::size_t listedRefusals = 8;
    for (std::size_t i = 0; i < checked.refused.size() && i < listedRefusals; ++i)
        what += "; refused " + printable(checked.refused[i].name) + " (" +
                checked.refused[i].reason + ")";
    if (checked.refused.size() > listedRefusals)
        what += "; " + std::to_string(checked.refused.size() - listedRefusals) + " more refused";
    const bool anyRefused = !checked.refused.empty();
    const bool allRefused = anyRefused && names.empty();
    Request request;
    request.action = kActionPersistentRoutes;
    request.check = [&] { return acceptable && !allRefused ? NO_ERROR : ERROR_INVALID_PARAMETER; };
    request.details = describePersistentRoutes(persistent != 0, names);
    request.what = std::move(what);
    request.change = [folder = service.storeFolder, names = std::move(names),
                      store = persistent != 0, anyRefused] {
        std::string failure;
        std::vector<std::string> placement;
        const DWORD rc = storePersistentRoutes(folder, names, store, failure, placement);
        if (rc != NO_ERROR)
            logFault("store: " + printable(failure, 1024));
        // Stored all the same, and kept by the keeper; the journal says where it is not.
        for (const std::string& line : placement)
            logFault("route kept in the store only: " + printable(line, 1024));
        return rc == NO_ERROR && anyRefused ? DWORD{ERROR_INVALID_PARAMETER} : rc;
    };
    return serve(m, service, std::move(request));
}

// What an AddRoutes request comes to: each route's code, and the store's.
struct BatchOutcome {
    std::vector<uint32_t> results;
    uint32_t store = NO_ERROR;
};

int answerBatch(sd_bus_message* m, DWORD result, const BatchOutcome* outcome) {
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    const bool served = result == NO_ERROR && outcome;
    if (r >= 0)
        r = sd_bus_message_append(reply, "u", result);
    if (r >= 0)
        r = sd_bus_message_append_array(reply, 'u', served ? outcome->results.data() : nullptr,
                                        served ? outcome->results.size() * sizeof(uint32_t) : 0);
    if (r >= 0)
        r = sd_bus_message_append(reply, "u", served ? outcome->store : uint32_t{NO_ERROR});
    if (r >= 0)
        r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

int onAddRoutes(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Service& service = of(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (const std::optional<Caller> caller = service.callers->of(sender);
        caller && !service.inflight->wouldAdmit(sender, caller->uid)) {
        logRefusal(caller->uid, "route list", "too many waiting", ERROR_BUSY);
        return answerBatch(m, ERROR_BUSY, nullptr);
    }
    RouteArgs shared;
    const char* name = nullptr;
    if (const int r = sd_bus_message_read(m, "usuuuu", &shared.ifIndex, &name, &shared.nextHop,
                                          &shared.type, &shared.protocol, &shared.metric);
        r < 0)
        return r;
    std::vector<RouteArgs> routes;
    bool acceptable = true;
    int persistent = 0;
    if (const int r = readArrayThenFlag(
            m, "(uu)",
            [&] {
                RouteArgs a = shared;
                const int got = sd_bus_message_read(m, "(uu)", &a.destination, &a.mask);
                if (got <= 0)
                    return got;
                if (routes.size() == kMaxRouteBatch)
                    return kRefused;
                routes.push_back(a);
                return 1;
            },
            acceptable, persistent);
        r < 0)
        return r;
    // Each route checked as a request of its own would be; one refused fails alone.
    auto outcome = std::make_shared<BatchOutcome>();
    outcome->results.reserve(routes.size());
    std::size_t accepted = 0;
    for (const RouteArgs& a : routes) {
        outcome->results.push_back(checkRoute(a));
        accepted += outcome->results.back() == NO_ERROR ? 1 : 0;
    }
    std::string what = "add " + std::to_string(accepted) + " of " + std::to_string(routes.size()) +
                       " route(s) via " + quad(shared.nextHop) + " interface " +
                       std::to_string(shared.ifIndex) + " " + printable(name) + " metric " +
                       std::to_string(shared.metric) + (persistent ? ", persistent" : "");
    Request request;
    request.action = kActionRoutes; // which implies storing them
    request.reply = [outcome](sd_bus_message* msg, DWORD result) {
        return answerBatch(msg, result, outcome.get());
    };
    // A stored route without a gateway would come back on any interface: refused whole, as
    // the store refuses its name.
    request.check = [&]() -> DWORD {
        if (!acceptable || (persistent && shared.nextHop == 0) ||
            checkRoute(shared) == ERROR_INVALID_PARAMETER)
            return ERROR_INVALID_PARAMETER;
        return checkInterface(shared.ifIndex, name ? name : "", ownName(shared.ifIndex));
    };
    // Nothing left to ask for: the caller learns each route's refusal at once.
    if (acceptable && accepted == 0 && request.check() == NO_ERROR) {
        if (!routes.empty())
            if (const std::optional<Caller> caller = service.callers->of(sender))
                logRefusal(caller->uid, what, "not accepted", ERROR_INVALID_PARAMETER);
        return answerBatch(m, NO_ERROR, outcome.get());
    }
    request.details = "add " + std::to_string(accepted) + " routes via " + quad(shared.nextHop) +
                      " on " + printable(name) + (persistent ? " and restore them at boot" : "");
    request.what = std::move(what);
    request.change = [outcome, routes = std::move(routes), folder = service.storeFolder,
                      store = persistent != 0]() -> DWORD {
        std::vector<std::string> names;
        std::size_t failed = 0;
        for (std::size_t i = 0; i < routes.size(); ++i) {
            if (outcome->results[i] != NO_ERROR)
                continue;
            const RouteArgs& a = routes[i];
            MIB_IPFORWARDROW row{};
            row.dwForwardDest = a.destination;
            row.dwForwardMask = a.mask;
            row.dwForwardNextHop = a.nextHop;
            row.dwForwardIfIndex = a.ifIndex;
            row.dwForwardType = a.type;
            row.dwForwardProto = a.protocol;
            row.dwForwardMetric1 = a.metric;
            outcome->results[i] = sys::direct::addRoute(row);
            if (outcome->results[i] != NO_ERROR)
                ++failed;
            else if (store)
                names.push_back(reg::routeNameText(
                    {ntohl(a.destination), ntohl(a.mask), ntohl(a.nextHop), a.metric}));
        }
        if (failed)
            logFault(std::to_string(failed) + " route(s) of the list refused by the kernel");
        if (store && !names.empty()) {
            // By the store's own rules, though the names are the helper's.
            const StoreNames checked = namesToStore(names);
            std::string failure;
            std::vector<std::string> placement;
            outcome->store =
                storePersistentRoutes(folder, checked.accepted, true, failure, placement);
            if (outcome->store != NO_ERROR)
                logFault("store: " + printable(failure, 1024));
            for (const std::string& line : placement)
                logFault("route kept in the store only: " + printable(line, 1024));
            if (outcome->store == NO_ERROR && !checked.refused.empty())
                outcome->store = ERROR_INVALID_PARAMETER;
        }
        return NO_ERROR;
    };
    return serve(m, service, std::move(request));
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
    SD_BUS_METHOD(kAddRoute2, kRoute2Signature, "u", caught<onAddRoute2>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD(kDeleteRoute2, kRoute2Signature, "u", caught<onDeleteRoute2>,
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
    SD_BUS_METHOD(kAddRoutes, kAddRoutesSignature, kAddRoutesReply, caught<onAddRoutes>,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

} // namespace

int publish(sd_bus* bus, Service& service, sd_bus_slot** slot) {
    return sd_bus_add_object_vtable(bus, slot, kObjectPath, kInterface, kVtable, &service);
}

} // namespace corvane::helper
