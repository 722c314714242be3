// What a persistent route name is: "destination,mask,next hop,metric". The one rule for the
// program, which writes the names, and the privileged helper, which checks them again before
// it stores them; plain C++, no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::reg {

// A dotted quad as the program's address value reads one: four decimal octets of at most
// 255 (leading zeros allowed, never octal), three dots, nothing else. Safe for any length.
bool readQuadDigits(std::string_view text, std::uint32_t& value);
// The same, at most 15 characters long: what the program takes for an address.
inline constexpr std::size_t kMaxQuadText = 15;
bool readQuad(std::string_view text, std::uint32_t& value);
std::string quadText(std::uint32_t value); // host order, "192.168.1.1"
// The same written at out (room for kMaxQuadText), without a string: its end returned.
char* writeQuad(char* out, std::uint32_t value);

struct RouteName {
    std::uint32_t destination = 0; // host order
    std::uint32_t mask = 0;
    std::uint32_t nextHop = 0;
    std::uint32_t metric = 0;
    bool operator==(const RouteName&) const = default;
};

// Four fields: three quads and a decimal metric from -2147483648 to 4294967295 (the list
// shows metrics signed, so "-1" and "4294967295" are one metric). Nothing else.
std::optional<RouteName> readRouteName(std::string_view text);
// The one text of a route: quads without leading zeros, the metric signed.
std::string routeNameText(const RouteName& route);

// Why a name is not stored. A route the platform library accepts has a contiguous mask and
// no host bits, so only a next hop of 0.0.0.0 (which would come back on-link through any
// interface) keeps an added route out of the store.
enum class RouteNameFault { None, TooLong, NotARoute, MaskWithHoles, HostBits, NoGateway };
const char* routeNameFaultText(RouteNameFault fault);

// Longest name taken in: room for every octet written with leading zeros.
inline constexpr std::size_t kMaxRouteNameText = 64;

// The name to store for text: its one text (routeNameText), or why there is none.
struct StorableName {
    RouteNameFault fault = RouteNameFault::None;
    std::string name; // fault None: what is stored
};
StorableName storableRouteName(std::string_view text);
RouteNameFault storableRoute(const RouteName& route);

} // namespace corvane::reg
