#include "helperclient/route2.h"

#include "corvane_result.h"

#include <algorithm>
#include <sys/socket.h>

namespace corvane::helper {
namespace {

constexpr uint32_t kTableLocal = 255;

bool hostBitsSet(const std::array<uint8_t, 16>& a, unsigned length, uint32_t prefix) {
    for (unsigned i = 0; i < length; ++i) {
        const unsigned before = i * 8;
        const unsigned keep = prefix >= before + 8 ? 8 : prefix > before ? prefix - before : 0;
        const auto mask = static_cast<uint8_t>(0xFF00U >> keep);
        if ((a[i] & ~mask & 0xFF) != 0)
            return true;
    }
    return false;
}

} // namespace

unsigned addressLength(uint32_t family) {
    return family == AF_INET ? 4 : family == AF_INET6 ? 16 : 0;
}

bool hasGateway(const Route2Args& r) {
    const unsigned length = addressLength(r.nextHopFamily);
    return length != 0 && std::any_of(r.nextHop.begin(), r.nextHop.begin() + length,
                                      [](uint8_t b) { return b != 0; });
}

DWORD checkRoute2(const Route2Args& r, bool add) {
    const unsigned length = addressLength(r.family);
    if (length == 0)
        return ERROR_INVALID_PARAMETER;
    if (r.prefixLength > length * 8)
        return ERROR_INVALID_NETMASK;
    // Refused rather than cleared: the route made would not be the one asked for.
    if (hostBitsSet(r.destination, length, r.prefixLength))
        return ERROR_INVALID_PARAMETER;
    // Bytes past the family's length would be ignored: a request carrying any is not one the
    // library built.
    const auto tail = [length](const std::array<uint8_t, 16>& a) {
        return std::any_of(a.begin() + length, a.end(), [](uint8_t b) { return b != 0; });
    };
    if (tail(r.destination))
        return ERROR_INVALID_PARAMETER;
    if (r.ifIndex == 0 || r.ifIndex > 0x7FFFFFFF)
        return ERROR_INVALID_PARAMETER;
    if (add && r.table == kTableLocal)
        return ERROR_INVALID_PARAMETER;
    if (r.nextHopFamily != 0 && r.nextHopFamily != r.family)
        return ERROR_INVALID_PARAMETER;
    if (r.nextHopFamily == 0) {
        if (std::any_of(r.nextHop.begin(), r.nextHop.end(), [](uint8_t b) { return b != 0; }) ||
            r.nextHopScope != 0)
            return ERROR_INVALID_PARAMETER;
        return NO_ERROR;
    }
    if (tail(r.nextHop))
        return ERROR_INVALID_PARAMETER;
    const bool multicast =
        r.family == AF_INET ? (r.nextHop[0] & 0xF0) == 0xE0 : r.nextHop[0] == 0xFF;
    if (hasGateway(r) && multicast)
        return ERROR_INVALID_PARAMETER;
    // A next hop is reached through the route's own interface.
    if (r.nextHopScope != 0 && (r.family != AF_INET6 || r.nextHopScope != r.ifIndex))
        return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

} // namespace corvane::helper
