#include "networkd.h"

#include "corvane_result.h"
#include "foreign_file.h"
#include "keyvalue.h"

#include <arpa/inet.h>
#include <array>
#include <pwd.h>
#include <systemd/sd-bus.h>

namespace corvane::sys::dhcp::networkd {
namespace {

// A few lines of KEY=VALUE.
constexpr size_t kLeaseFileCap = size_t{64} * 1024;

// networkd runs as its own user and writes its state as that user.
std::optional<uid_t> networkdUser() {
    passwd pw{};
    passwd* found = nullptr;
    std::array<char, 1024> buf{};
    if (::getpwnam_r("systemd-network", &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return std::nullopt;
    return found->pw_uid;
}

std::string leasePath(const std::string& dir, uint32_t ifIndex) {
    return dir + "/" + std::to_string(ifIndex);
}

bool sameTime(const std::optional<timespec>& a, const std::optional<timespec>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->tv_sec == b->tv_sec && a->tv_nsec == b->tv_nsec));
}

} // namespace

std::optional<std::string> link(sd_bus* bus, uint32_t ifIndex, const std::string& ifName) {
    return bus::networkdLink(bus, ifIndex, ifName);
}

std::optional<Lease> parseLeaseFile(std::string_view text, int64_t written) {
    Lease lease;
    bool any = false;
    forEachKeyValue(text, [&](std::string_view key, const std::string& value) {
        in_addr a{};
        if (key == "ADDRESS" && ::inet_pton(AF_INET, value.c_str(), &a) == 1) {
            lease.address = a.s_addr;
            any = true;
        } else if (key == "SERVER_ADDRESS" && ::inet_pton(AF_INET, value.c_str(), &a) == 1) {
            lease.server = a.s_addr;
        } else if (key == "LIFETIME" && written > 0) {
            if (const auto v = parseU32(value))
                lease.expires = *v == 0xFFFFFFFFU ? Lease::kNever : written + int64_t(*v);
        }
    });
    if (!any)
        return std::nullopt;
    lease.obtained = written;
    return lease;
}

std::optional<Lease> readLease(uint32_t ifIndex, const std::string& dir) {
    if (ifIndex == 0)
        return std::nullopt;
    const auto file = readForeignFile(leasePath(dir, ifIndex), kLeaseFileCap, networkdUser());
    if (!file)
        return std::nullopt;
    return parseLeaseFile(file->content, file->modified.tv_sec);
}

DWORD renew(sd_bus* bus, const std::string& link, uint32_t ifIndex, Clock::time_point deadline,
            const std::string& dir) {
    const std::string path = leasePath(dir, ifIndex);
    const auto owner = networkdUser();
    const auto before = foreignFileTime(path, owner);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus, kService, link.c_str(), "org.freedesktop.network1.Link",
                                     "Renew", &error, nullptr, "");
    const bool denied = sd_bus_error_has_name(&error, SD_BUS_ERROR_ACCESS_DENIED) ||
                        sd_bus_error_has_name(
                            &error, "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired");
    const bool refused = refusedByManager(error);
    sd_bus_error_free(&error);
    if (r < 0)
        return denied    ? ERROR_ACCESS_DENIED
               : refused ? ERROR_DHCP_MANAGER_REFUSED
                         : ERROR_DHCP_CLIENT_FAILED;
    // networkd writes the lease file again on every lease it is given.
    const bool renewed = waitUntil(
        [&] {
            const auto now = foreignFileTime(path, owner);
            return now && !sameTime(now, before);
        },
        deadline);
    return renewed ? NO_ERROR : ERROR_DHCP_NO_ANSWER;
}

} // namespace corvane::sys::dhcp::networkd
