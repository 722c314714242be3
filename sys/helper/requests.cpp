#include "requests.h"

#include "corvane_result.h"
#include "iphlpapi.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <charconv>
#include <limits>

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

// One decimal number without sign or leading zero, as the program writes it.
bool takeNumber(std::string_view& s, long long low, long long high, long long& out) {
    const char* begin = s.data();
    const char* end = s.data() + s.size();
    const bool negative = begin != end && *begin == '-';
    const char* digits = negative ? begin + 1 : begin;
    if (digits == end || *digits < '0' || *digits > '9' ||
        (*digits == '0' && digits + 1 != end && digits[1] >= '0' && digits[1] <= '9'))
        return false;
    if (negative && *digits == '0')
        return false;
    const auto [stop, ec] = std::from_chars(begin, end, out);
    if (ec != std::errc() || out < low || out > high)
        return false;
    s.remove_prefix(static_cast<size_t>(stop - begin));
    return true;
}

bool takeQuad(std::string_view& s, uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
        long long part = 0;
        if (i > 0) {
            if (s.empty() || s.front() != '.')
                return false;
            s.remove_prefix(1);
        }
        if (!s.empty() && s.front() == '-')
            return false;
        if (!takeNumber(s, 0, 255, part))
            return false;
        out = (out << 8) | static_cast<uint32_t>(part);
    }
    return true;
}

bool takeComma(std::string_view& s) {
    if (s.empty() || s.front() != ',')
        return false;
    s.remove_prefix(1);
    return true;
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
    if (!validIndex(ifIndex) || name.size() > 15)
        return ERROR_INVALID_PARAMETER;
    for (const char c : name)
        if (c <= ' ' || c > '~' || c == '/')
            return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

bool canonicalRouteName(std::string_view name) {
    if (name.size() > kMaxRouteNameLength)
        return false;
    uint32_t destination = 0;
    uint32_t mask = 0;
    uint32_t nextHop = 0;
    long long metric = 0;
    if (!takeQuad(name, destination) || !takeComma(name) || !takeQuad(name, mask) ||
        !takeComma(name) || !takeQuad(name, nextHop) || !takeComma(name) ||
        !takeNumber(name, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                    metric))
        return false;
    return name.empty() && contiguous(mask) && (destination & ~mask) == 0 && nextHop != 0;
}

} // namespace corvane::helper
