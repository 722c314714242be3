// corvane-helper: makes the network changes of the program's stand-in library for callers
// that lack the privilege, once polkit agrees. Started on demand by the system bus; leaves
// when it has been idle a while.
#include "protocol.h"
#include "service.h"
#include "store.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

namespace {

constexpr uint64_t kIdleExitUsec = 30ULL * 1000 * 1000;

int fail(const char* what, int r) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(-r));
    return 1;
}

} // namespace

int main() {
    ::umask(022);
    corvane::helper::Service service{corvane::helper::storeFolder()};
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_system(&bus); r < 0)
        return fail("cannot connect to the system bus", r);
    sd_bus_slot* slot = nullptr;
    int r = corvane::helper::publish(bus, service, &slot);
    if (r >= 0)
        r = sd_bus_request_name(bus, corvane::helper::kBusName, 0);
    if (r < 0) {
        sd_bus_flush_close_unref(bus);
        return fail("cannot take the helper's bus name", r);
    }
    for (;;) {
        r = sd_bus_process(bus, nullptr);
        if (r < 0)
            break;
        if (r > 0)
            continue;
        r = sd_bus_wait(bus, kIdleExitUsec);
        if (r < 0)
            break; // the bus went away
        if (r == 0) {
            // Idle: the name goes first, so that a request from now on starts a new helper,
            // and what came in meanwhile is still answered.
            sd_bus_release_name(bus, corvane::helper::kBusName);
            while ((r = sd_bus_process(bus, nullptr)) > 0) {
            }
            break;
        }
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return r < 0 ? fail("bus connection lost", r) : 0;
}
