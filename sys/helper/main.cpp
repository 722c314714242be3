// corvane-helper: makes the network changes of the program's stand-in library for callers
// that lack the privilege, once polkit agrees. Started on demand by the system bus; leaves
// when it has been idle a while.
#include "authority.h"
#include "helperclient/protocol.h"
#include "inflight.h"
#include "service.h"
#include "store.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

namespace {

constexpr uint64_t kIdleExitUsec = 30ULL * 1000 * 1000;
// While leaving, how often to look whether the last answers have gone.
constexpr uint64_t kLeavingPollUsec = 100ULL * 1000;
// The helper's own questions to the bus daemon are answered at once, or something is wrong.
constexpr uint64_t kDaemonTimeoutUsec = 5ULL * 1000 * 1000;

// CORVANE_HELPER_IDLE_SECONDS (whole seconds, 1 to 3600) of whoever starts the helper, for
// tests; the default otherwise.
uint64_t idleExitUsec() {
    const char* text = std::getenv("CORVANE_HELPER_IDLE_SECONDS");
    unsigned seconds = 0;
    if (!text)
        return kIdleExitUsec;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, seconds);
    if (ec != std::errc() || at != end || seconds < 1 || seconds > 3600)
        return kIdleExitUsec;
    return seconds * 1000000ULL;
}

uint64_t monotonicUsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

int fail(const char* what, int r) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(-r));
    return 1;
}

struct Idle {
    sd_bus* bus = nullptr;
    corvane::helper::Service* service = nullptr;
    corvane::helper::Inflight* inflight = nullptr;
    uint64_t idleUsec = kIdleExitUsec;
    bool leaving = false;
};

int onIdleTimer(sd_event_source* source, uint64_t now, void* userdata) noexcept {
    auto& idle = *static_cast<Idle*>(userdata);
    if (!idle.leaving) {
        const uint64_t quietSince = idle.service->lastRequest;
        if (!idle.inflight->empty() || now < quietSince + idle.idleUsec) {
            sd_event_source_set_time(source,
                                     (idle.inflight->empty() ? quietSince : now) + idle.idleUsec);
            return sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
        }
        // The name goes first, so that a request from now on starts a new helper, and what
        // came in meanwhile is still answered.
        sd_bus_release_name(idle.bus, corvane::helper::kBusName);
        idle.leaving = true;
    }
    while (sd_bus_process(idle.bus, nullptr) > 0) {
    }
    if (idle.inflight->empty())
        return sd_event_exit(sd_event_source_get_event(source), 0);
    sd_event_source_set_time(source, now + kLeavingPollUsec);
    return sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
}

int openBus(sd_event* event, sd_bus** bus, int priority) {
    int r = sd_bus_open_system(bus);
    if (r >= 0)
        r = sd_bus_set_exit_on_disconnect(*bus, 1);
    if (r >= 0)
        r = sd_bus_attach_event(*bus, event, priority);
    return r;
}

} // namespace

int main() {
    ::umask(022);
    sd_event* event = nullptr;
    if (const int r = sd_event_new(&event); r < 0)
        return fail("cannot make an event loop", r);
    // Callers write to bus; the helper's own questions go out on asker.
    sd_bus* bus = nullptr;
    sd_bus* asker = nullptr;
    if (const int r = openBus(event, &bus, SD_EVENT_PRIORITY_NORMAL); r < 0)
        return fail("cannot connect to the system bus", r);
    if (const int r = openBus(event, &asker, SD_EVENT_PRIORITY_IMPORTANT); r < 0)
        return fail("cannot connect to the system bus", r);
    sd_bus_set_method_call_timeout(asker, kDaemonTimeoutUsec);
    int r = 0;
    {
        corvane::helper::Callers callers(asker);
        corvane::helper::Inflight inflight(asker);
        corvane::helper::Service service{corvane::helper::storeFolder(), &callers, &inflight,
                                         monotonicUsec()};
        Idle idle{bus, &service, &inflight, idleExitUsec(), false};
        sd_bus_slot* slot = nullptr;
        sd_event_source* timer = nullptr;
        r = corvane::helper::publish(bus, service, &slot);
        if (r >= 0)
            r = sd_bus_request_name(bus, corvane::helper::kBusName, 0);
        if (r < 0) {
            sd_bus_flush_close_unref(bus);
            return fail("cannot take the helper's bus name", r);
        }
        r = sd_event_add_time_relative(event, &timer, CLOCK_MONOTONIC, idle.idleUsec, 0,
                                       onIdleTimer, &idle);
        if (r >= 0)
            r = sd_event_loop(event);
        sd_event_source_unref(timer);
        sd_bus_slot_unref(slot);
        // Before the asker goes: what still waits on polkit is cancelled.
    }
    sd_bus_flush_close_unref(asker);
    sd_bus_flush_close_unref(bus);
    sd_event_unref(event);
    if (r < 0)
        return fail("event loop", r);
    if (r > 0) {
        std::fprintf(stderr, "bus connection lost\n");
        return 1;
    }
    return 0;
}
