// The persistent route store: one value per route under a key of the machine store. The value
// names are the routes; a value's data says where else the route lives (the profile or network
// file of its interface's manager, sys/netmgr/route_home.h), empty when nowhere.
#pragma once

#include "registry/route_name.h"
#include "registry/route_name2.h"

#include <string>
#include <vector>

namespace corvane {

extern const char* const persistentRoutesKey;
// IPv6 routes and routes of other tables than main, under a key of their own
// (registry/route_name2.h); every call below takes a name of either key and acts on its own
// key, told apart by reg::looksWide.
extern const char* const persistentRoutes2Key;

// The value names, read in one pass over the store; empty when the key cannot be read, and
// then failure (when given) says why.
std::vector<std::string> ReadPersistentRouteNames(std::string* failure = nullptr);
// The value names of the second key, the same way.
std::vector<std::string> ReadWidePersistentRouteNames(std::string* failure = nullptr);
// Whether the store holds a value of that name (letter case ignored); false when unreadable.
bool IsPersistent(const std::string& name);
// Adds or removes the value of that name, creating the key when missing; an added route is
// also put where its interface's manager keeps routes, a removed one taken out of there. What
// a manager refuses is written to standard error: the route is stored all the same. False when the
// store could not be written; the failure has been shown. A name is added in the one text of its
// route (reg::storableRouteName, the helper's rule too); one the store does not take is not added
// (false, nothing shown).
bool SetPersistent(const std::string& name, bool persistent);
struct RefusedRouteName {
    std::string name;
    reg::RouteNameFault fault = reg::RouteNameFault::None;     // a name of the first key
    reg::WideRouteFault wideFault = reg::WideRouteFault::None; // one of the second
};
// SetPersistent for many names in one store write (none when nothing would change), so that
// a long list costs one locked rewrite of the store rather than one per name. The same rules
// per name; false when the write failed (shown once) or a name was left out (nothing shown,
// but added to refused when given), and then the other names are stored all the same.
bool SetPersistent(const std::vector<std::string>& names, bool persistent,
                   std::vector<RefusedRouteName>* refused = nullptr);

} // namespace corvane
