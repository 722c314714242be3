// The persistent routes the first key cannot hold: IPv6 routes, and IPv4 routes of a table
// other than main. They live under a key of their own beside it (kPersistentRoutes2Key), so
// that the first key keeps exactly the names older versions and the boot-time restore of
// those versions read. One value per route, its name the route:
//
//   family,prefix/length,next hop,metric,table,interface
//   inet6,2001:db8:5::/64,fe80::1,1024,254,eth0
//   inet,10.9.0.0/24,10.1.0.1,0,100,eth1
//   inet6,2001:db8:7::/48,::,1024,100,wg0
//
// family "inet" or "inet6"; the prefix and the next hop in the family's usual text (the next
// hop the unspecified address for a route on the link); metric and table unsigned decimals;
// the interface's name last, since a Linux interface name may hold a comma (never a colon,
// a slash or a blank). The value's data is empty. Plain C++, no Qt: the program writes the
// names, and the privileged helper checks them again by the same rule before it stores them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::reg {

inline constexpr const char* kPersistentRoutes2Key =
    R"(SYSTEM\CurrentControlSet\Services\Tcpip\Parameters\CorvanePersistentRoutes2)";

inline constexpr std::uint8_t kFamilyInet = 2;   // AF_INET
inline constexpr std::uint8_t kFamilyInet6 = 10; // AF_INET6
inline constexpr std::uint32_t kMainTable = 254;
inline constexpr std::uint32_t kLocalTable = 255;
// IPv6 routes added with metric 0 get this one from the kernel: stored so, the name matches
// the route the kernel holds.
inline constexpr std::uint32_t kIpv6DefaultMetric = 1024;

struct WideRouteName {
    std::uint8_t family = kFamilyInet6;
    std::array<std::uint8_t, 16> destination{}; // network order; IPv4 in the first four
    std::uint8_t prefixLength = 0;
    std::array<std::uint8_t, 16> nextHop{}; // all zero: on the link
    std::uint32_t metric = 0;
    std::uint32_t table = kMainTable;
    std::string ifName;
    bool onLink() const;
    bool operator==(const WideRouteName&) const = default;
};

// Longest name taken in; a canonical one is at most about 130 characters.
inline constexpr std::size_t kMaxWideRouteNameText = 192;

// Six fields as above, nothing else; the family word and hex digits in either case. Safe for
// any input.
std::optional<WideRouteName> readWideRouteName(std::string_view text);
// The one text of a route: lower case, addresses as inet_ntop writes them.
std::string wideRouteNameText(const WideRouteName& route);
// Whether a text is meant as such a name (begins with a family word and a comma), however
// malformed the rest: names of the first key begin with a digit.
bool looksWide(std::string_view text);

enum class WideRouteFault {
    None,
    TooLong,
    NotARoute,   // not six fields of the form above
    HostBits,    // the prefix has bits past its length
    FirstKey,    // an IPv4 route of the main table: stored under the first key
    LocalTable,  // table 0 or 255
    BadNextHop,  // a multicast next hop
    BadInterface // empty, too long, or holding a colon, slash or blank
};
const char* wideRouteFaultText(WideRouteFault fault);
WideRouteFault storableWideRoute(const WideRouteName& route);

struct StorableWideName {
    WideRouteFault fault = WideRouteFault::None;
    std::string name; // fault None: what is stored
};
// The name to store for a text: the one text of its route (an IPv6 metric of 0 stored as the
// kernel's 1024), or why there is none.
StorableWideName storableWideRouteName(std::string_view text);

struct KeyData;
// The names by the key they go in, in their order.
void splitRouteNamesByKey(const std::vector<std::string>& names, std::vector<std::string>& first,
                          std::vector<std::string>& wide);
// The second key's names added (each once, with empty data) or removed: no manager places
// them, only the store keeps them.
void changeWideRouteNames(KeyData& key, const std::vector<std::string>& names, bool persistent);

// An interface name as Linux allows one: 1 to 15 printable bytes, no slash, colon or blank.
bool validLinuxInterfaceName(std::string_view name);

} // namespace corvane::reg
