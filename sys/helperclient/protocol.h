// What the privileged helper and its clients agree on: names on the system bus, the methods
// with their signatures, the authorisation actions and the limits of a request.
#pragma once

#include <cstddef>

namespace corvane::helper {

inline constexpr const char* kBusName = "org.corvane.Helper";
inline constexpr const char* kObjectPath = "/org/corvane/Helper";
inline constexpr const char* kInterface = "org.corvane.Helper";

// Every method answers one result code of the stand-in libraries ("u").
//
// A request that names an interface gives its index and its name as the client's network
// namespace knows them (if_indextoname there). The helper acts only where the name is the
// one its own namespace gives the index, so an index from another namespace, or from an
// older list, changes nothing.
//
// SetAdminStatus(ifIndex, ifName, status)
inline constexpr const char* kSetAdminStatus = "SetAdminStatus";
inline constexpr const char* kAdminStatusSignature = "usu";
// AddRoute/DeleteRoute(dest, mask, nextHop, ifIndex, ifName, type, proto, metric): the
// fields of a route row that the change reads, addresses in network byte order.
inline constexpr const char* kAddRoute = "AddRoute";
inline constexpr const char* kDeleteRoute = "DeleteRoute";
inline constexpr const char* kRouteSignature = "uuuusuuu";
// AddRoute2/DeleteRoute2(family, dest, prefixLength, nextHopFamily, nextHop, nextHopScope,
// ifIndex, ifName, metric, table): a route of either family in any table (Route2Args);
// addresses as 4 or 16 bytes, none for the next hop of a route on the link.
inline constexpr const char* kAddRoute2 = "AddRoute2";
inline constexpr const char* kDeleteRoute2 = "DeleteRoute2";
inline constexpr const char* kRoute2Signature = "uayuuayuusuu";
// AddAddress/DeleteAddress(address, mask, ifIndex, ifName), network byte order.
inline constexpr const char* kAddAddress = "AddAddress";
inline constexpr const char* kDeleteAddress = "DeleteAddress";
inline constexpr const char* kAddressSignature = "uuus";
// ReleaseLease/RenewLease(ifIndex, ifName)
inline constexpr const char* kReleaseLease = "ReleaseLease";
inline constexpr const char* kRenewLease = "RenewLease";
inline constexpr const char* kLeaseSignature = "us";
// SetPersistentRoutes(names, persistent): adds or removes persistent-route values.
inline constexpr const char* kSetPersistentRoutes = "SetPersistentRoutes";

inline constexpr const char* kActionInterfaces = "org.corvane.interfaces";
inline constexpr const char* kActionRoutes = "org.corvane.routes";
inline constexpr const char* kActionAddresses = "org.corvane.addresses";
inline constexpr const char* kActionDhcp = "org.corvane.dhcp";
inline constexpr const char* kActionPersistentRoutes = "org.corvane.persistent-routes";
// The polkit detail that says what the request would change, for the authentication agent
// and the policy's messages ("$(corvane.change)").
inline constexpr const char* kDetailChange = "corvane.change";

// A stored route name of the first key is four short fields; a request with more names than a route
// list could sensibly hold is refused rather than queued.
inline constexpr std::size_t kMaxRouteNameLength = 64;
// A name of the second key (registry/route_name2.h): family, two IPv6 texts, two numbers and
// an interface name.
inline constexpr std::size_t kMaxWideRouteNameLength = 192;
inline constexpr std::size_t kMaxRouteNames = 4096;

// An administrator may take a while to type a password.
inline constexpr unsigned long long kAuthorisationTimeoutUsec = 120ULL * 1000 * 1000;
inline constexpr unsigned long long kCallTimeoutUsec =
    kAuthorisationTimeoutUsec + 30ULL * 1000 * 1000;

} // namespace corvane::helper
