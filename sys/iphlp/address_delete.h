// Deleting one IPv4 address without losing others. The kernel deletes a primary address
// together with the secondaries of its network unless the interface promotes one of them
// (promote_secondaries, off by default): for such a delete, promotion is turned on for the
// interface and then set back. Where it cannot be turned on, nothing is deleted.
#pragma once

#include "iphlpapi.h"
#include "netlink/records.h"
#include "nte.h"

#include <functional>
#include <vector>

namespace corvane::sys {

// The kernel work of one delete; each step returns 0 or an errno.
struct AddressDeleteSteps {
    std::function<int(std::vector<nl::Address>&)> readAddresses; // of the key's interface
    std::function<int(bool& on)> readPromotion;
    std::function<int(bool on)> setPromotion;
    std::function<int()> remove;
};

// The other addresses a delete of key would take with it when nothing is promoted.
std::vector<nl::Address> takenAlong(const std::vector<nl::Address>& addresses, const NteKey& key);

DWORD deleteKeepingOthers(const NteKey& key, const AddressDeleteSteps& steps);

// The reads and the promotion setting against the running kernel, all through rtnetlink (the
// helper's sandbox keeps /proc/sys read-only); the caller supplies remove.
AddressDeleteSteps kernelPromotionSteps(const NteKey& key);

} // namespace corvane::sys
