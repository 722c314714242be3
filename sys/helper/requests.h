// What the helper accepts: every request is checked again here, whatever the caller checked,
// before anything of it reaches the kernel or the store. Pure functions.
#pragma once

#include "client.h"
#include "corvane_types.h"
#include "registry/route_name.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::helper {

// NO_ERROR, or the code the request is refused with.
DWORD checkAdminStatus(uint32_t ifIndex, uint32_t status);
DWORD checkRoute(const RouteArgs& route);
DWORD checkAddress(uint32_t address, uint32_t mask, uint32_t ifIndex);
// name: empty, or an interface name as the kernel allows it (at most 15 bytes, printable,
// no slash, no blank).
DWORD checkLease(uint32_t ifIndex, std::string_view name);
// The names of a request to store, by the program's own rule (reg::storableRouteName):
// each taken name in the one text of its route, and the others with why. One refused name
// keeps only itself out of the store.
struct StoreNames {
    std::vector<std::string> accepted;
    struct Refusal {
        std::string name;
        reg::RouteNameFault fault;
    };
    std::vector<Refusal> refused;
};
StoreNames namesToStore(const std::vector<std::string>& names);
// A caller's text for the journal: control bytes, bytes past ASCII and backslashes escaped,
// cut short after 80 characters.
std::string printableName(std::string_view name);

} // namespace corvane::helper
