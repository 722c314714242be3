// Release and renewal of an interface's DHCP lease, through the DHCP client that really
// manages the interface.
#include "changes.h"
#include "dhcp/clients.h"
#include "dhcp/dhclient.h"
#include "dhcp/dhcpcd.h"
#include "dhcp/manager.h"
#include "dhcp/networkd.h"
#include "dhcp/networkmanager.h"
#include "dhcp/process.h"
#include "errors.h"
#include "guard.h"
#include "helperclient/client.h"
#include "iphlpapi.h"
#include "netlink/read.h"

#include <algorithm>
#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <mutex>
#include <new>
#include <optional>
#include <string>

namespace {

using namespace corvane::sys;
using dhcp::Clock;

constexpr auto kReleaseLimit = std::chrono::seconds(10);
constexpr auto kRenewLimit = std::chrono::seconds(30);

// The map entry's name, UTF-16 to UTF-8; no value when it is unterminated or malformed.
std::optional<std::string> entryName(const WCHAR (&name)[MAX_ADAPTER_NAME]) {
    std::string out;
    for (size_t i = 0; i < MAX_ADAPTER_NAME; ++i) {
        uint32_t c = name[i];
        if (c == 0)
            return out;
        if (c >= 0xDC00 && c <= 0xDFFF)
            return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= MAX_ADAPTER_NAME || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00U);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::nullopt;
}

// One change at a time: two renewals of one interface would start two clients.
std::timed_mutex changes;

enum class Action { Release, Renew };

} // namespace

namespace {

// The addresses the user added: permanent ones other than the lease's. A DHCP client's script
// may take them away with its own (dhclient's flushes every address of the interface's label,
// NetworkManager's Reapply drops what it did not make).
std::vector<nl::Address> userAddresses(uint32_t ifIndex, uint32_t leased) {
    std::vector<nl::Address> all, kept;
    if (nl::readAddresses(all, ifIndex) != 0)
        return kept;
    for (const nl::Address& a : all)
        if ((a.flags & IFA_F_PERMANENT) && a.address != leased && a.address != 0)
            kept.push_back(a);
    return kept;
}

void restore(uint32_t ifIndex, const std::vector<nl::Address>& before) {
    if (before.empty())
        return;
    std::vector<nl::Address> now;
    if (nl::readAddresses(now, ifIndex) != 0)
        return;
    for (const nl::Address& a : before) {
        if (std::any_of(now.begin(), now.end(),
                        [&](const nl::Address& n) { return n.address == a.address; }))
            continue;
        const uint32_t mask =
            a.prefixLength == 0 ? 0 : htonl(~uint32_t{0} << (32 - a.prefixLength));
        NteKey added;
        direct::addAddress(a.address, mask, ifIndex, added);
    }
}

DWORD throughManager(const dhcp::Managers& managers, const dhcp::Manager& manager, Action action,
                     const nl::Link& link, Clock::time_point deadline, bool mayStart) {
    switch (manager.kind) {
    case dhcp::ManagerKind::NetworkManager:
        // Its only release is disconnecting the device, which would take every address and
        // route of the interface along and leave it so until someone connects it again.
        if (action == Action::Release)
            return ERROR_DHCP_KEPT_BY_MANAGER;
        return dhcp::networkmanager::renew(managers.bus(), manager.object, deadline);
    case dhcp::ManagerKind::Networkd:
        // networkd has no release verb at all; its Renew asks the server again.
        if (action == Action::Release)
            return ERROR_DHCP_KEPT_BY_MANAGER;
        return dhcp::networkd::renew(managers.bus(), manager.object, link.index, deadline);
    case dhcp::ManagerKind::Client:
        break;
    }
    const dhcp::Invocation& client = *manager.client;
    // Its options are replayed with our privilege: only for a client known to be genuine.
    if (!client.verified)
        return ERROR_ACCESS_DENIED;
    if (client.kind == dhcp::ClientKind::Dhclient)
        return action == Action::Release
                   ? dhcp::dhclient::release(client, link.name, deadline, mayStart)
                   : dhcp::dhclient::renew(client, link.name, deadline, mayStart);
    return action == Action::Release
               ? dhcp::dhcpcd::release(client, link.name, deadline)
               : dhcp::dhcpcd::renew(client, link.name, managers.clients().dhcpcdDir(), deadline,
                                     mayStart);
}

} // namespace

DWORD corvane::sys::direct::changeLease(bool renew, uint32_t ifIndex, const std::string& wanted,
                                        bool mayStartClients) {
    const Action action = renew ? Action::Renew : Action::Release;
    if (ifIndex == 0 || ifIndex > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    if (!dhcp::mayAdministerNetwork())
        return ERROR_ACCESS_DENIED;
    nl::Link link;
    if (const int err = nl::readLink(ifIndex, link))
        return resultFromErrno(err);
    // An entry from an older list whose index now belongs to another interface.
    if (!wanted.empty() && wanted != link.name)
        return ERROR_DEV_NOT_EXIST;

    const auto deadline = Clock::now() + (action == Action::Release ? kReleaseLimit : kRenewLimit);
    std::unique_lock lock(changes, std::defer_lock);
    if (!lock.try_lock_until(deadline))
        return ERROR_BUSY;
    const dhcp::Managers managers = dhcp::Managers::scan();
    const auto manager = managers.managing(link.name, link.index);
    if (!manager)
        return ERROR_NO_DHCP_CLIENT;
    const auto lease = managers.leaseFor(link.name, link.index);
    const auto added = userAddresses(link.index, lease ? lease->address : 0);
    const DWORD rc = throughManager(managers, *manager, action, link, deadline, mayStartClients);
    restore(link.index, added);
    return rc;
}

namespace {

DWORD drive(const IP_ADAPTER_INDEX_MAP* adapter, Action action) {
    if (!adapter || adapter->Index == 0 || adapter->Index > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    const auto wanted = entryName(adapter->Name);
    if (!wanted)
        return ERROR_INVALID_PARAMETER;
    const bool renew = action == Action::Renew;
    if (const auto r = throughHelper(
            [&] { return corvane::helper::changeLease(renew, adapter->Index, *wanted); }))
        return *r;
    return direct::changeLease(renew, adapter->Index, *wanted);
}

} // namespace

extern "C" {

DWORD IpReleaseAddress(IP_ADAPTER_INDEX_MAP* adapter) {
    return corvane::sys::guarded([adapter] { return drive(adapter, Action::Release); });
}

DWORD IpRenewAddress(IP_ADAPTER_INDEX_MAP* adapter) {
    return corvane::sys::guarded([adapter] { return drive(adapter, Action::Renew); });
}
}
