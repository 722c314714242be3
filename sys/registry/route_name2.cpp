#include "registry/route_name2.h"

#include "registry/format.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstring>
#include <limits>

namespace corvane::reg {
namespace {

constexpr std::size_t kFields = 6;

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::optional<std::uint8_t> familyOf(std::string_view word) {
    if (sameWord(word, "inet"))
        return kFamilyInet;
    if (sameWord(word, "inet6"))
        return kFamilyInet6;
    return std::nullopt;
}

unsigned lengthOf(std::uint8_t family) {
    return family == kFamilyInet ? 4 : 16;
}

// inet_pton reads to a terminating zero: the text is copied, and one with a zero inside, or
// longer than any address, is none.
bool readAddress(std::uint8_t family, std::string_view text, std::array<std::uint8_t, 16>& out) {
    char buffer[INET6_ADDRSTRLEN] = {};
    if (text.empty() || text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos)
        return false;
    std::memcpy(buffer, text.data(), text.size());
    out.fill(0);
    return inet_pton(family == kFamilyInet ? AF_INET : AF_INET6, buffer, out.data()) == 1;
}

std::string addressText(std::uint8_t family, const std::array<std::uint8_t, 16>& a) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(family == kFamilyInet ? AF_INET : AF_INET6, a.data(), text, sizeof text);
    return text;
}

// Digits only, no sign, no blank; the value fits 32 bits.
bool readUnsigned(std::string_view text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() ||
        v > std::numeric_limits<std::uint32_t>::max())
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool hostBitsSet(const WideRouteName& r) {
    const unsigned length = lengthOf(r.family);
    for (unsigned i = 0; i < length; ++i) {
        const unsigned before = i * 8;
        const unsigned keep = r.prefixLength >= before + 8 ? 8
                              : r.prefixLength > before    ? r.prefixLength - before
                                                           : 0;
        if ((r.destination[i] & ~(0xFF00U >> keep) & 0xFFU) != 0)
            return true;
    }
    return false;
}

} // namespace

bool WideRouteName::onLink() const {
    return std::all_of(nextHop.begin(), nextHop.end(), [](std::uint8_t b) { return b == 0; });
}

bool validLinuxInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > 15 || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c <= ' ' || c > '~' || c == '/' || c == ':'; });
}

bool looksWide(std::string_view text) {
    const std::size_t comma = text.find(',');
    return comma != std::string_view::npos && familyOf(text.substr(0, comma)).has_value();
}

std::optional<WideRouteName> readWideRouteName(std::string_view text) {
    if (text.size() > kMaxWideRouteNameText)
        return std::nullopt;
    std::array<std::string_view, kFields> fields;
    // The interface comes last and takes the rest, commas and all.
    for (std::size_t i = 0; i + 1 < kFields; ++i) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        fields[i] = text.substr(0, comma);
        text.remove_prefix(comma + 1);
    }
    fields[kFields - 1] = text;
    WideRouteName r;
    const std::optional<std::uint8_t> family = familyOf(fields[0]);
    if (!family)
        return std::nullopt;
    r.family = *family;
    const std::string_view prefix = fields[1];
    const std::size_t slash = prefix.find('/');
    std::uint32_t length = 0;
    if (slash == std::string_view::npos ||
        !readAddress(r.family, prefix.substr(0, slash), r.destination) ||
        prefix.size() - slash - 1 > 3 || !readUnsigned(prefix.substr(slash + 1), length) ||
        length > lengthOf(r.family) * 8)
        return std::nullopt;
    r.prefixLength = static_cast<std::uint8_t>(length);
    if (!readAddress(r.family, fields[2], r.nextHop) || !readUnsigned(fields[3], r.metric) ||
        !readUnsigned(fields[4], r.table))
        return std::nullopt;
    r.ifName = std::string(fields[5]);
    return r;
}

std::string wideRouteNameText(const WideRouteName& r) {
    std::string out = r.family == kFamilyInet ? "inet," : "inet6,";
    out += addressText(r.family, r.destination);
    out += '/';
    out += std::to_string(r.prefixLength);
    out += ',';
    out += addressText(r.family, r.nextHop);
    out += ',';
    out += std::to_string(r.metric);
    out += ',';
    out += std::to_string(r.table);
    out += ',';
    out += r.ifName;
    return out;
}

const char* wideRouteFaultText(WideRouteFault fault) {
    switch (fault) {
    case WideRouteFault::None:
        return "stored";
    case WideRouteFault::TooLong:
        return "the name is too long";
    case WideRouteFault::NotARoute:
        return "not a route of the form family,prefix/length,next hop,metric,table,interface";
    case WideRouteFault::HostBits:
        return "the destination has bits outside the prefix";
    case WideRouteFault::FirstKey:
        return "an IPv4 route of the main table is stored as destination,mask,next hop,metric";
    case WideRouteFault::LocalTable:
        return "the table is 0 or the local table";
    case WideRouteFault::BadNextHop:
        return "the next hop is a multicast address";
    case WideRouteFault::BadInterface:
        return "the interface name is not one Linux allows";
    }
    return "refused";
}

WideRouteFault storableWideRoute(const WideRouteName& r) {
    if (r.family != kFamilyInet && r.family != kFamilyInet6)
        return WideRouteFault::NotARoute;
    if (r.prefixLength > lengthOf(r.family) * 8)
        return WideRouteFault::NotARoute;
    const auto tail = [&](const std::array<std::uint8_t, 16>& a) {
        return std::any_of(a.begin() + lengthOf(r.family), a.end(),
                           [](std::uint8_t b) { return b != 0; });
    };
    if (tail(r.destination) || tail(r.nextHop))
        return WideRouteFault::NotARoute;
    if (hostBitsSet(r))
        return WideRouteFault::HostBits;
    if (r.table == 0 || r.table == kLocalTable)
        return WideRouteFault::LocalTable;
    if (r.family == kFamilyInet && r.table == kMainTable)
        return WideRouteFault::FirstKey;
    const bool multicast =
        r.family == kFamilyInet ? (r.nextHop[0] & 0xF0) == 0xE0 : r.nextHop[0] == 0xFF;
    if (multicast)
        return WideRouteFault::BadNextHop;
    if (!validLinuxInterfaceName(r.ifName))
        return WideRouteFault::BadInterface;
    return WideRouteFault::None;
}

StorableWideName storableWideRouteName(std::string_view text) {
    StorableWideName out;
    if (text.size() > kMaxWideRouteNameText) {
        out.fault = WideRouteFault::TooLong;
        return out;
    }
    std::optional<WideRouteName> route = readWideRouteName(text);
    if (!route) {
        out.fault = WideRouteFault::NotARoute;
        return out;
    }
    if (route->family == kFamilyInet6 && route->metric == 0)
        route->metric = kIpv6DefaultMetric;
    out.fault = storableWideRoute(*route);
    if (out.fault == WideRouteFault::None)
        out.name = wideRouteNameText(*route);
    return out;
}

void splitRouteNamesByKey(const std::vector<std::string>& names, std::vector<std::string>& first,
                          std::vector<std::string>& wide) {
    for (const std::string& name : names)
        (looksWide(name) ? wide : first).push_back(name);
}

void changeWideRouteNames(KeyData& key, const std::vector<std::string>& names, bool persistent) {
    for (const std::string& name : names) {
        if (persistent) {
            if (!key.find(name))
                key.set(name, Value::ofString({}));
        } else {
            key.erase(name);
        }
    }
}

} // namespace corvane::reg
