// What the helper accepts: every request is checked again here, whatever the caller checked,
// before anything of it reaches the kernel or the store. Pure functions.
#pragma once

#include "corvane_types.h"
#include "helperclient/client.h"
#include "registry/route_name.h"
#include "registry/route_name2.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::helper {

// NO_ERROR, or the code the request is refused with.
DWORD checkAdminStatus(uint32_t ifIndex, uint32_t status);
DWORD checkRoute(const RouteArgs& route);
// Either family, any table: checkRoute2 of helperclient/route2.h, the library's own rule.
DWORD checkAddress(uint32_t address, uint32_t mask, uint32_t ifIndex);
DWORD checkLease(uint32_t ifIndex, std::string_view name);
// An interface name as the kernel allows it: 1 to 15 bytes, printable, no slash, no blank.
bool validInterfaceName(std::string_view name);
// The name the request gives the index against the one this namespace gives it (none: no
// interface has the index). A mismatch means the caller saw another interface under that
// index, in an older list or another namespace: ERROR_DEV_NOT_EXIST, as for an interface
// that went away.
DWORD checkInterface(uint32_t ifIndex, std::string_view claimed,
                     const std::optional<std::string>& actual);
// The names of a request to store, by the program's own rules (reg::storableRouteName, and
// reg::storableWideRouteName for a name that begins with a family word): each taken name in
// the one text of its route, and the others with why. One refused name keeps only itself out
// of the store.
struct StoreNames {
    std::vector<std::string> accepted;
    struct Refusal {
        std::string name;
        reg::RouteNameFault fault = reg::RouteNameFault::None;     // a name of the first key
        reg::WideRouteFault wideFault = reg::WideRouteFault::None; // one of the second
        const char* reason = "";                                   // the fault's text
    };
    std::vector<Refusal> refused;
};
StoreNames namesToStore(const std::vector<std::string>& names);
// What a request would change, in words for the authentication agent to show (polkit's
// detail kDetailChange). Built from checked values; the name goes through printable().
std::string describeAdminStatus(std::string_view ifName, uint32_t status);
std::string describeRoute(bool add, const RouteArgs& route, std::string_view ifName);
// "add route 2001:db8::/64 via fe80::1 on eth0 in table 100"; the table only when not main.
std::string describeRoute2(bool add, const Route2Args& route, std::string_view ifName);
std::string describeAddress(bool add, uint32_t address, uint32_t mask, std::string_view ifName);
std::string describeLease(bool renew, std::string_view ifName);
// names: those that will be stored or forgotten; one is shown by its name.
std::string describePersistentRoutes(bool persistent, const std::vector<std::string>& names);

} // namespace corvane::helper
