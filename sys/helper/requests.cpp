#include "requests.h"

#include "corvane_result.h"
#include "helperclient/protocol.h"
#include "iphlpapi.h"
#include "journal.h"
#include "registry/route_name.h"

#include <algorithm>
#include <arpa/inet.h>

namespace corvane::helper {
namespace {

constexpr uint32_t kMaxIfIndex = 0x7FFFFFFF;

bool validIndex(uint32_t ifIndex) {
    return ifIndex != 0 && ifIndex <= kMaxIfIndex;
}

// Host order.
bool contiguous(uint32_t mask) {
    const uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

std::string quad(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &networkOrder, text, sizeof text);
    return text;
}

// address/prefix; a mask no prefix expresses (refused before it is shown) stays a mask.
std::string network(uint32_t address, uint32_t mask) {
    const uint32_t m = ntohl(mask);
    if (!contiguous(m))
        return quad(address) + " mask " + quad(mask);
    return quad(address) + "/" + std::to_string(__builtin_popcount(m));
}

} // namespace

DWORD checkAdminStatus(uint32_t ifIndex, uint32_t status) {
    if (!validIndex(ifIndex))
        return ERROR_INVALID_PARAMETER;
    if (status != MIB_IF_ADMIN_STATUS_UP && status != MIB_IF_ADMIN_STATUS_DOWN)
        return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

DWORD checkRoute(const RouteArgs& route) {
    const uint32_t mask = ntohl(route.mask);
    if (!contiguous(mask))
        return ERROR_INVALID_NETMASK;
    if (!validIndex(route.ifIndex) || (ntohl(route.destination) & ~mask) != 0)
        return ERROR_INVALID_PARAMETER;
    if (route.type > MIB_IPROUTE_TYPE_INDIRECT)
        return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

DWORD checkAddress(uint32_t address, uint32_t mask, uint32_t ifIndex) {
    // The same refusals as the library's own: no mask the kernel could express, no address,
    // a multicast or reserved one, or a network's broadcast.
    const uint32_t m = ntohl(mask);
    const uint32_t a = ntohl(address);
    if (!contiguous(m) || m == 0 || a == 0 || a >= 0xE0000000 || !validIndex(ifIndex))
        return ERROR_INVALID_PARAMETER;
    if (m <= 0xFFFFFFFCU && (a & ~m) == ~m)
        return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

DWORD checkLease(uint32_t ifIndex, std::string_view name) {
    return validIndex(ifIndex) && validInterfaceName(name) ? NO_ERROR : ERROR_INVALID_PARAMETER;
}

bool validInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > 15)
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c <= ' ' || c > '~' || c == '/'; });
}

DWORD checkInterface(uint32_t ifIndex, std::string_view claimed,
                     const std::optional<std::string>& actual) {
    if (!validIndex(ifIndex) || !validInterfaceName(claimed))
        return ERROR_INVALID_PARAMETER;
    return actual && *actual == claimed ? NO_ERROR : ERROR_DEV_NOT_EXIST;
}

std::string describeAdminStatus(std::string_view ifName, uint32_t status) {
    const std::string name = printable(ifName);
    if (status == MIB_IF_ADMIN_STATUS_UP)
        return "bring " + name + " up";
    if (status == MIB_IF_ADMIN_STATUS_DOWN)
        return "bring " + name + " down";
    return "set the state of " + name + " to " + std::to_string(status);
}

std::string describeRoute(bool add, const RouteArgs& route, std::string_view ifName) {
    std::string out =
        std::string(add ? "add" : "delete") + " route " + network(route.destination, route.mask);
    if (route.nextHop != 0)
        out += " via " + quad(route.nextHop);
    return out + " on " + printable(ifName);
}

std::string describeRoute2(bool add, const Route2Args& route, std::string_view ifName) {
    const auto text = [](uint32_t family, const std::array<uint8_t, 16>& bytes) {
        char out[INET6_ADDRSTRLEN] = {};
        inet_ntop(family == AF_INET ? AF_INET : AF_INET6, bytes.data(), out, sizeof out);
        return std::string(out);
    };
    std::string out = std::string(add ? "add" : "delete") + " route " +
                      text(route.family, route.destination) + "/" +
                      std::to_string(route.prefixLength);
    if (hasGateway(route))
        out += " via " + text(route.nextHopFamily, route.nextHop);
    out += " on " + printable(ifName);
    // Main (254), or main and local (0) for a removal, as every route of the list is.
    if (route.table != 0 && route.table != 254)
        out += " in table " + std::to_string(route.table);
    return out;
}

std::string describeAddress(bool add, uint32_t address, uint32_t mask, std::string_view ifName) {
    return std::string(add ? "add" : "delete") + " address " + network(address, mask) + " on " +
           printable(ifName);
}

std::string describeLease(bool renew, std::string_view ifName) {
    return std::string(renew ? "renew" : "release") + " the DHCP lease of " + printable(ifName);
}

std::string describePersistentRoutes(bool persistent, const std::vector<std::string>& names) {
    const std::string verb = persistent ? "store " : "forget ";
    if (names.size() == 1)
        return verb + "the persistent route " + printable(names.front());
    return verb + std::to_string(names.size()) + " persistent routes";
}

StoreNames namesToStore(const std::vector<std::string>& names) {
    StoreNames out;
    for (const std::string& name : names) {
        if (reg::looksWide(name)) {
            reg::StorableWideName stored = reg::storableWideRouteName(name);
            if (stored.fault == reg::WideRouteFault::None)
                out.accepted.push_back(std::move(stored.name));
            else
                out.refused.push_back({name, reg::RouteNameFault::None, stored.fault,
                                       reg::wideRouteFaultText(stored.fault)});
            continue;
        }
        reg::StorableName stored = reg::storableRouteName(name);
        if (stored.fault == reg::RouteNameFault::None)
            out.accepted.push_back(std::move(stored.name));
        else
            out.refused.push_back({name, stored.fault, reg::WideRouteFault::None,
                                   reg::routeNameFaultText(stored.fault)});
    }
    return out;
}

} // namespace corvane::helper
