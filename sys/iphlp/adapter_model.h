// The adapter lists as plain records, built from what the kernel reports; adapter_layout
// places them into the callers' buffers.
#pragma once

#include "corvane_types.h"
#include "dhcp_lease.h"
#include "interfaces.h"
#include "netlink/records.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sys {

// One IP_ADDR_STRING: texts as the records carry them.
struct AddrText {
    std::string address;
    std::string mask;
    DWORD context = 0;
};

struct AdapterInfo {
    uint32_t index = 0;
    std::string name;
    std::string description;
    std::vector<uint8_t> mac;
    DWORD type = 0;
    std::vector<AddrText> addresses; // never empty: "0.0.0.0" when the link has none
    std::vector<AddrText> gateways;  // empty when no default route leaves through the link
    std::optional<DhcpLease> lease;
};

struct AdapterAddresses {
    uint32_t index = 0;
    std::string name;
    std::string description;
    std::string friendlyName;
    std::string dnsSuffix;
    std::vector<uint8_t> mac;
    DWORD mtu = 0;
    DWORD type = 0;
    DWORD operStatus = 0;
};

std::string dottedQuad(uint32_t networkOrder);
std::string prefixMask(uint8_t prefixLength); // "255.255.255.0" for 24

// A gateway is one host; its list entry says so with a host mask.
inline constexpr const char* kGatewayMask = "255.255.255.255";

using SysfsReader = std::function<SysfsInfo(const std::string& ifName)>;

// Type and description exactly as the interface table shows them, so pages can match.
struct LinkFace {
    DWORD type = 0;
    std::string description;
};
LinkFace linkFace(const nl::Link& link, const SysfsInfo& sysfs);

// One entry per link that is not software loopback, by index. Addresses keep the kernel's
// order (primary first) and get their NTE contexts; gateways are the main table's default
// routes through the link, lowest metric first.
std::vector<AdapterInfo> buildAdapterInfo(const std::vector<nl::Link>& links,
                                          const std::vector<nl::Address>& addresses,
                                          const std::vector<nl::Route>& routes,
                                          const SysfsReader& sysfs,
                                          const LeaseLookup& leaseOf = {});

// IPv4 link-local autoconfiguration is done outside the kernel, if at all; the only
// evidence Linux shows is a 169.254/16 address on the link.
bool hasLinkLocalAddress(uint32_t ifIndex, const std::vector<nl::Address>& addresses);

} // namespace corvane::sys
