// Where a persistent route lives besides the store: in the profile or the network file of the
// manager that keeps the interface its next hop lies on, so that the manager applies the
// route itself on every activation instead of removing it as a stranger's. The store value's
// data records the place: "nm:<connection uuid>" or "networkd:<drop-in path>"; empty (as in
// stores written before) when the route lives in the store alone.
#pragma once

#include "registry/format.h"
#include "registry/route_name.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::netmgr {

inline constexpr const char* kNetworkdConfigRoot = "/etc/systemd/network";
inline constexpr const char* kDropinName = "corvane-routes.conf";
inline constexpr std::string_view kNmPrefix = "nm:";
inline constexpr std::string_view kNetworkdPrefix = "networkd:";

// Where the system is: tests point these at a world of their own.
struct Homes {
    std::string procRoot = "/proc";
    std::string networkdRoot = kNetworkdConfigRoot;   // drop-ins go below it
    std::string networkdState = "/run/systemd/netif"; // links/<index>: NETWORK_FILE=
};

struct Placement {
    std::string data;    // what the store value records
    std::string failure; // why the manager keeping the interface did not take the route
};
// Puts the route where the manager of its next hop's interface keeps routes and has it
// applied there. Nothing placed and no failure when no manager keeps the interface, or when
// the profile holds the same route already (the user's, left to the user).
Placement placeRoute(const reg::RouteName& route, const Homes& homes = {});
// Takes the route out of the place data names (only that one entry); the failure, or empty.
// A place that is not one placeRoute makes is left alone.
std::string unplaceRoute(const reg::RouteName& route, std::string_view data,
                         const Homes& homes = {});

// Adds to the key the names it lacks (each placed, its data the place) or removes those it
// has (each taken out of its place), ASCII case ignored; whether the key changed. What a
// manager refused is added to failures, one printable line each: the store keeps the route
// all the same, and the keeper still re-applies it. The places made are added to placed
// (when given), for the caller to take back should the store not be written.
struct Placed {
    reg::RouteName route;
    std::string data;
};
bool changeStoredRoutes(reg::KeyData& key, const std::vector<std::string>& names, bool persistent,
                        std::vector<std::string>& failures, std::vector<Placed>* placed = nullptr,
                        const Homes& homes = {});
// Takes back what changeStoredRoutes placed, for a store write that failed.
void takeBack(const std::vector<Placed>& placed, const Homes& homes = {});

// Adds the route to (or takes it from) the ipv4 routes of a NetworkManager profile, given its
// settings object, without activating anything; empty, or the failure. What placeRoute and
// unplaceRoute do to a profile.
std::string changeProfileRoutes(const std::string& connection, const reg::RouteName& route,
                                bool add);

// The drop-in of our own for a .network file: one [Route] section per route.
std::string dropinText(const std::vector<reg::RouteName>& routes);
// The routes of such a drop-in; sections and lines that are none of ours are left out.
std::vector<reg::RouteName> parseDropin(std::string_view text);
// The drop-in's path for the .network file networkd names for a link; nothing for a name
// that is not a plain .network file's.
std::optional<std::string> dropinFor(std::string_view networkFile, const std::string& root);
// Whether a path is one dropinFor could give under root: the store's word is checked before
// a file is touched.
bool isDropinPath(std::string_view path, const std::string& root);

} // namespace corvane::sys::netmgr
