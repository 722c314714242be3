// The helper's object on the system bus: each method checks its request, asks polkit about
// the caller and, once polkit agrees, makes the change with the helper's privilege and
// answers the result code. Nothing waits in a handler: polkit's answer comes later.
#pragma once

#include <filesystem>

struct sd_bus;
struct sd_bus_slot;

namespace corvane::helper {

class Callers;
class Inflight;

struct Service {
    std::filesystem::path storeFolder;
    Callers* callers = nullptr;
    Inflight* inflight = nullptr;
    // Monotonic µs of the last request, for leaving when idle.
    unsigned long long lastRequest = 0;
};

// Publishes the object; the slot keeps it. A negative errno on failure.
int publish(sd_bus* bus, Service& service, sd_bus_slot** slot);

} // namespace corvane::helper
