#include "registry/route_name.h"

#include <array>
#include <charconv>
#include <limits>

namespace corvane::reg {

bool readQuadDigits(std::string_view text, std::uint32_t& value) {
    constexpr std::uint32_t tooBig = 256;
    std::uint32_t result = 0;
    std::uint32_t octet = 0;
    int dots = 0;
    bool hasDigits = false;
    for (const char c : text) {
        if (c == '.') {
            if (!hasDigits || octet >= tooBig || dots == 3)
                return false;
            result = (result << 8) | octet;
            octet = 0;
            hasDigits = false;
            ++dots;
        } else if (c >= '0' && c <= '9') {
            // Saturated, so that no run of digits wraps into a small octet.
            octet = octet >= tooBig ? tooBig : octet * 10 + static_cast<std::uint32_t>(c - '0');
            hasDigits = true;
        } else {
            return false;
        }
    }
    if (dots != 3 || !hasDigits || octet >= tooBig)
        return false;
    value = (result << 8) | octet;
    return true;
}

bool readQuad(std::string_view text, std::uint32_t& value) {
    return text.size() <= kMaxQuadText && readQuadDigits(text, value);
}

char* writeQuad(char* out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned octet = (value >> shift) & 0xFFU;
        if (octet >= 100)
            *out++ = static_cast<char>('0' + octet / 100);
        if (octet >= 10)
            *out++ = static_cast<char>('0' + octet / 10 % 10);
        *out++ = static_cast<char>('0' + octet % 10);
        if (shift != 0)
            *out++ = '.';
    }
    return out;
}

std::string quadText(std::uint32_t value) {
    std::array<char, kMaxQuadText> buffer{};
    return {buffer.data(), writeQuad(buffer.data(), value)};
}

std::optional<RouteName> readRouteName(std::string_view text) {
    std::array<std::string_view, 4> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t comma = text.find(',');
        if ((comma == std::string_view::npos) != (i == fields.size() - 1))
            return std::nullopt;
        fields[i] = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    }
    RouteName route;
    if (!readQuad(fields[0], route.destination) || !readQuad(fields[1], route.mask) ||
        !readQuad(fields[2], route.nextHop))
        return std::nullopt;
    const std::string_view m = fields[3];
    long long metric = 0;
    const auto [end, ec] = std::from_chars(m.data(), m.data() + m.size(), metric);
    if (m.empty() || ec != std::errc() || end != m.data() + m.size() ||
        metric < std::numeric_limits<std::int32_t>::min() ||
        metric > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    route.metric = static_cast<std::uint32_t>(metric);
    return route;
}

std::string routeNameText(const RouteName& route) {
    return quadText(route.destination) + ',' + quadText(route.mask) + ',' +
           quadText(route.nextHop) + ',' + std::to_string(static_cast<std::int32_t>(route.metric));
}

const char* routeNameFaultText(RouteNameFault fault) {
    switch (fault) {
    case RouteNameFault::None:
        return "stored";
    case RouteNameFault::TooLong:
        return "the name is too long";
    case RouteNameFault::NotARoute:
        return "not a route of the form destination,mask,next hop,metric";
    case RouteNameFault::MaskWithHoles:
        return "the mask is not contiguous";
    case RouteNameFault::HostBits:
        return "the destination has bits outside the mask";
    case RouteNameFault::NoGateway:
        return "the next hop 0.0.0.0 names no gateway to restore the route through";
    }
    return "refused";
}

RouteNameFault storableRoute(const RouteName& route) {
    const std::uint32_t inverted = ~route.mask;
    if ((inverted & (inverted + 1)) != 0)
        return RouteNameFault::MaskWithHoles;
    if ((route.destination & ~route.mask) != 0)
        return RouteNameFault::HostBits;
    if (route.nextHop == 0)
        return RouteNameFault::NoGateway;
    return RouteNameFault::None;
}

StorableName storableRouteName(std::string_view text) {
    StorableName out;
    if (text.size() > kMaxRouteNameText) {
        out.fault = RouteNameFault::TooLong;
        return out;
    }
    const std::optional<RouteName> route = readRouteName(text);
    out.fault = route ? storableRoute(*route) : RouteNameFault::NotARoute;
    if (out.fault == RouteNameFault::None)
        out.name = routeNameText(*route);
    return out;
}

} // namespace corvane::reg
