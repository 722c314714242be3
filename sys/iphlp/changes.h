// The changes behind the change entry points, done with this process's own privilege. The
// entry points hand a change to the privileged helper when the process lacks CAP_NET_ADMIN;
// the helper, which holds it, calls these. Each validates its arguments; they may throw
// std::bad_alloc.
#pragma once

#include "dhcp/process.h"
#include "helperclient/route2.h"
#include "iphlpapi.h"
#include "nte.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::sys::direct {

DWORD setAdminStatus(uint32_t ifIndex, uint32_t status);
DWORD addRoute(const MIB_IPFORWARDROW& row);
DWORD deleteRoute(const MIB_IPFORWARDROW& row);
// Either family, any table (helper::Route2Args).
DWORD addRoute2(const helper::Route2Args& route);
DWORD deleteRoute2(const helper::Route2Args& route);
// added: the address made, for its NTE context.
DWORD addAddress(uint32_t address, uint32_t mask, uint32_t ifIndex, NteKey& added);
DWORD deleteAddress(const NteKey& key);
// wanted: the interface's name as the caller knows it, or empty for whatever has the index.
// Without mayStartClients (the privileged helper, whose sandbox a DHCP client's script cannot
// work in) a change that would start a client is refused; managers and running daemons are
// still driven.
DWORD changeLease(bool renew, uint32_t ifIndex, const std::string& wanted,
                  bool mayStartClients = true);

} // namespace corvane::sys::direct

namespace corvane::sys {

// The helper's answer when this process lacks CAP_NET_ADMIN and a helper answered; nothing
// when the change is to be done here (with the privilege, or as the refusal it meets).
template <typename Ask> std::optional<DWORD> throughHelper(Ask&& ask) {
    if (dhcp::mayAdministerNetwork())
        return std::nullopt;
    const auto reply = ask();
    if (!reply.reached)
        return std::nullopt;
    return reply.result;
}

} // namespace corvane::sys
