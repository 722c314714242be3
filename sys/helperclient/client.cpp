#include "helperclient/client.h"

#include "corvane_result.h"
#include "helperclient/protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <utility>

namespace corvane::helper {
namespace {

struct BusClose {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct Error {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    Error() = default;
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    ~Error() { sd_bus_error_free(&e); }
};

struct Runner {
    HelperRunner run = nullptr;
    void* context = nullptr;
};
std::mutex runnerLock;
Runner runner;

Runner currentRunner() {
    const std::lock_guard lock(runnerLock);
    return runner;
}

struct Blocking {
    sd_bus* bus;
    sd_bus_message* request;
    sd_bus_error* error;
    sd_bus_message** reply;
    int result;
};

extern "C" void blockingWork(void* argument) {
    auto* b = static_cast<Blocking*>(argument);
    b->result = sd_bus_call(b->bus, b->request, kCallTimeoutUsec, b->error, b->reply);
}

// The one call that can wait on the user; the runner chooses the thread it waits on.
int blockingCall(sd_bus* bus, sd_bus_message* request, sd_bus_error* error,
                 sd_bus_message** reply) {
    Blocking b{bus, request, error, reply, -ECANCELED};
    const Runner r = currentRunner();
    if (r.run)
        r.run(r.context, blockingWork, &b);
    else
        blockingWork(&b);
    return b.result;
}

Bus openBus() {
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0)
        return nullptr;
    Bus bus(raw);
    // The helper asks polkit to let an authentication agent ask the user.
    sd_bus_set_allow_interactive_authorization(bus.get(), 1);
    return bus;
}

// The index's name here; -ENODEV when no interface has it.
struct Name {
    char text[IF_NAMESIZE] = {};
};
int nameOf(uint32_t ifIndex, Name& name) {
    return ifIndex != 0 && if_indextoname(ifIndex, name.text) ? 0 : -ENODEV;
}

// fill appends the arguments and answers a negative errno on failure.
// The reply's first code; read takes the rest of a reply whose code is NO_ERROR.
template <typename Fill, typename Read>
Reply call(const char* method, Fill&& fill, Read&& read) noexcept {
    const Bus bus = openBus();
    if (!bus)
        return {};
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &raw, kBusName, kObjectPath, kInterface, method) <
        0)
        return {true, ERROR_NOT_ENOUGH_MEMORY};
    const Message request(raw);
    // An argument sd-bus refuses (a name that is not UTF-8) is the caller's fault.
    if (const int r = fill(request.get()); r < 0)
        return {true, r == -ENOMEM   ? ERROR_NOT_ENOUGH_MEMORY
                      : r == -ENODEV ? ERROR_DEV_NOT_EXIST
                                     : ERROR_INVALID_PARAMETER};
    Error error;
    sd_bus_message* replyRaw = nullptr;
    if (const int r = blockingCall(bus.get(), request.get(), &error.e, &replyRaw); r < 0) {
        // The runner did not run the call: it was never sent.
        if (r == -ECANCELED && !sd_bus_error_is_set(&error.e))
            return {true, ERROR_GEN_FAILURE};
        return replyOfBusError(error.e.name);
    }
    const Message reply(replyRaw);
    uint32_t code = ERROR_HELPER_FAILED;
    if (sd_bus_message_read(reply.get(), "u", &code) < 0)
        return {true, ERROR_HELPER_FAILED};
    if (code == 0 && read(reply.get()) < 0)
        return {true, ERROR_HELPER_FAILED};
    return {true, code};
}

template <typename Fill> Reply call(const char* method, Fill&& fill) noexcept {
    return call(method, std::forward<Fill>(fill), [](sd_bus_message*) { return 0; });
}

} // namespace

Reply replyOfBusError(const char* name) noexcept {
    const auto is = [name](const char* wanted) { return name && std::strcmp(name, wanted) == 0; };
    // No helper to talk to: the change then goes the way it would without one. One that is
    // installed but fails to start (Spawn.*) is not that: it is reported.
    if (is(SD_BUS_ERROR_SERVICE_UNKNOWN) || is(SD_BUS_ERROR_NAME_HAS_NO_OWNER))
        return {};
    if (is(SD_BUS_ERROR_ACCESS_DENIED))
        return {true, ERROR_HELPER_NOT_ALLOWED}; // the bus's policy does not let this user ask
    if (is(SD_BUS_ERROR_LIMITS_EXCEEDED))
        return {true, ERROR_BUSY};
    if (is(SD_BUS_ERROR_INVALID_ARGS))
        return {true, ERROR_INVALID_PARAMETER};
    if (is(SD_BUS_ERROR_NO_MEMORY))
        return {true, ERROR_NOT_ENOUGH_MEMORY};
    // Did not start, did not answer, or went away while asked: Spawn.*, NoReply, Timeout,
    // a dropped connection, and whatever else stands between the request and its answer.
    return {true, ERROR_HELPER_FAILED};
}

Reply setAdminStatus(uint32_t ifIndex, uint32_t status) noexcept {
    return call(kSetAdminStatus, [&](sd_bus_message* m) {
        Name name;
        const int r = nameOf(ifIndex, name);
        return r < 0 ? r
                     : sd_bus_message_append(m, kAdminStatusSignature, ifIndex, name.text, status);
    });
}

Reply changeRoute(bool add, const RouteArgs& a) noexcept {
    return call(add ? kAddRoute : kDeleteRoute, [&](sd_bus_message* m) {
        Name name;
        const int r = nameOf(a.ifIndex, name);
        return r < 0 ? r
                     : sd_bus_message_append(m, kRouteSignature, a.destination, a.mask, a.nextHop,
                                             a.ifIndex, name.text, a.type, a.protocol, a.metric);
    });
}

Reply changeRoute2(bool add, const Route2Args& a) noexcept {
    return call(add ? kAddRoute2 : kDeleteRoute2, [&](sd_bus_message* m) {
        Name name;
        if (const int r = nameOf(a.ifIndex, name); r < 0)
            return r;
        const size_t length = a.family == AF_INET ? 4 : 16;
        const size_t hopLength = a.nextHopFamily == 0 ? 0 : a.nextHopFamily == AF_INET ? 4 : 16;
        int r = sd_bus_message_append(m, "u", a.family);
        if (r >= 0)
            r = sd_bus_message_append_array(m, 'y', a.destination.data(), length);
        if (r >= 0)
            r = sd_bus_message_append(m, "uu", a.prefixLength, a.nextHopFamily);
        if (r >= 0)
            r = sd_bus_message_append_array(m, 'y', a.nextHop.data(), hopLength);
        if (r >= 0)
            r = sd_bus_message_append(m, "uusuu", a.nextHopScope, a.ifIndex, name.text, a.metric,
                                      a.table);
        return r;
    });
}

Reply changeAddress(bool add, uint32_t address, uint32_t mask, uint32_t ifIndex) noexcept {
    return call(add ? kAddAddress : kDeleteAddress, [&](sd_bus_message* m) {
        Name name;
        const int r = nameOf(ifIndex, name);
        return r < 0
                   ? r
                   : sd_bus_message_append(m, kAddressSignature, address, mask, ifIndex, name.text);
    });
}

Reply changeLease(bool renew, uint32_t ifIndex, const std::string& ifName) noexcept {
    return call(renew ? kRenewLease : kReleaseLease, [&](sd_bus_message* m) {
        Name name;
        const int r = ifName.empty() ? nameOf(ifIndex, name) : 0;
        return r < 0 ? r
                     : sd_bus_message_append(m, kLeaseSignature, ifIndex,
                                             ifName.empty() ? name.text : ifName.c_str());
    });
}

Reply setPersistentRoutes(const std::vector<std::string>& names, bool persistent) noexcept {
    Reply last{true, 0};
    for (size_t start = 0; start < names.size(); start += kMaxRouteNames) {
        const size_t end = std::min(names.size(), start + kMaxRouteNames);
        last = call(kSetPersistentRoutes, [&](sd_bus_message* m) {
            if (const int r = sd_bus_message_open_container(m, 'a', "s"); r < 0)
                return r;
            for (size_t i = start; i < end; ++i)
                if (const int r = sd_bus_message_append_basic(m, 's', names[i].c_str()); r < 0)
                    return r;
            if (const int r = sd_bus_message_close_container(m); r < 0)
                return r;
            return sd_bus_message_append(m, "b", persistent ? 1 : 0);
        });
        if (!last.reached || last.result != 0)
            return last;
    }
    return last;
}

BatchReply addRoutes(const RouteArgs& shared, const std::vector<RouteDestination>& routes,
                     bool persistent) noexcept {
    BatchReply out;
    if (routes.size() > kMaxRouteBatch) {
        out.reply = {true, ERROR_INVALID_PARAMETER};
        return out;
    }
    try {
        out.results.reserve(routes.size());
    } catch (...) {
        out.reply = {true, ERROR_NOT_ENOUGH_MEMORY};
        return out;
    }
    out.reply = call(
        kAddRoutes,
        [&](sd_bus_message* m) {
            Name name;
            int r = nameOf(shared.ifIndex, name);
            if (r >= 0)
                r = sd_bus_message_append(m, "usuuuu", shared.ifIndex, name.text, shared.nextHop,
                                          shared.type, shared.protocol, shared.metric);
            if (r >= 0)
                r = sd_bus_message_open_container(m, 'a', "(uu)");
            for (size_t i = 0; r >= 0 && i < routes.size(); ++i)
                r = sd_bus_message_append(m, "(uu)", routes[i].destination, routes[i].mask);
            if (r >= 0)
                r = sd_bus_message_close_container(m);
            return r < 0 ? r : sd_bus_message_append(m, "b", persistent ? 1 : 0);
        },
        [&](sd_bus_message* reply) {
            const void* data = nullptr;
            size_t size = 0;
            int r = sd_bus_message_read_array(reply, 'u', &data, &size);
            // One code per route, or the answer is not the helper's.
            if (r < 0 || size != routes.size() * sizeof(uint32_t))
                return r < 0 ? r : -EBADMSG;
            const auto* codes = static_cast<const uint32_t*>(data);
            out.results.assign(codes, codes + routes.size());
            uint32_t store = 0;
            r = sd_bus_message_read(reply, "u", &store);
            out.store = store;
            return r;
        });
    return out;
}

void setRunner(HelperRunner run, void* context) noexcept {
    const std::lock_guard lock(runnerLock);
    runner = {run, run ? context : nullptr};
}

bool reachable() noexcept {
    // Asked of the bus alone: looking must not start the helper.
    const Bus bus = openBus();
    if (!bus)
        return false;
    const auto askBus = [&](const char* method, const char* types, auto&&... args) {
        Error error;
        sd_bus_message* reply = nullptr;
        const int r =
            sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", method, &error.e, &reply, types, args...);
        return Message(r < 0 ? nullptr : reply);
    };
    if (const Message owned = askBus("NameHasOwner", "s", kBusName)) {
        int has = 0;
        if (sd_bus_message_read(owned.get(), "b", &has) >= 0 && has)
            return true;
    }
    const Message names = askBus("ListActivatableNames", "");
    char** list = nullptr;
    if (!names || sd_bus_message_read_strv(names.get(), &list) < 0)
        return false;
    bool found = false;
    for (char** n = list; n && *n; ++n)
        found = found || std::strcmp(*n, kBusName) == 0;
    for (char** n = list; n && *n; ++n)
        std::free(*n);
    std::free(list);
    return found;
}

} // namespace corvane::helper
