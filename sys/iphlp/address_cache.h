// This computer's IPv4 addresses, read once and handed out again while no address change
// has been announced since: adding many routes then dumps the addresses once, not per route.
#pragma once

#include "netlink/records.h"

#include <memory>
#include <vector>

namespace corvane::sys {

using AddressList = std::vector<nl::Address>;

// The addresses as a fresh read would give them now. 0 or an errno.
int currentAddresses(std::shared_ptr<const AddressList>& out);

// Since the process started; tests tell reuse from reading with them.
struct AddressCacheStats {
    unsigned reads = 0;
    unsigned reuses = 0;
};
AddressCacheStats addressCacheStats();

} // namespace corvane::sys
