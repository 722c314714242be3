// The helper's object on the system bus: each method checks its request, asks polkit about
// the caller, makes the change with the helper's privilege and answers the result code.
#pragma once

#include <filesystem>

struct sd_bus;
struct sd_bus_slot;

namespace corvane::helper {

struct Service {
    std::filesystem::path storeFolder;
};

// Publishes the object; the slot keeps it. A negative errno on failure.
int publish(sd_bus* bus, Service& service, sd_bus_slot** slot);

} // namespace corvane::helper
