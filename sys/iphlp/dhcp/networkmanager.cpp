#include "networkmanager.h"

#include "corvane_result.h"

#include <arpa/inet.h>
#include <climits>
#include <cstring>
#include <ctime>
#include <systemd/sd-bus.h>
#include <thread>

namespace corvane::sys::dhcp::networkmanager {
namespace {

constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
constexpr uint32_t kPreserveExternalIp = 0x1; // NM_DEVICE_REAPPLY_FLAGS_PRESERVE_EXTERNAL_IP

struct Message {
    sd_bus_message* m = nullptr;
    ~Message() { sd_bus_message_unref(m); }
};
struct Error {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    ~Error() { sd_bus_error_free(&e); }
};

std::optional<int64_t> number(const std::map<std::string, std::string>& options, const char* key) {
    const auto it = options.find(key);
    if (it == options.end() || it->second.empty())
        return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(it->second.c_str(), &end, 10);
    if (*end != '\0' || v < 0)
        return std::nullopt;
    return v;
}

uint32_t address(const std::map<std::string, std::string>& options, const char* key) {
    const auto it = options.find(key);
    in_addr a{};
    return it != options.end() && ::inet_pton(AF_INET, it->second.c_str(), &a) == 1 ? a.s_addr : 0;
}

// Copies the current dict entry's a{sv} value of the "ipv4" setting with dhcp-timeout
// replaced; the reply is positioned inside the entry, past its key.
int copyIpv4(sd_bus_message* to, sd_bus_message* from, int32_t& oldTimeout) {
    int r = sd_bus_message_enter_container(from, 'a', "{sv}");
    if (r <= 0)
        return r < 0 ? r : -EBADMSG;
    if ((r = sd_bus_message_open_container(to, 'a', "{sv}")) < 0)
        return r;
    for (;;) {
        r = sd_bus_message_enter_container(from, 'e', "sv");
        if (r < 0)
            return r;
        if (r == 0)
            break;
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(from, 's', &key)) <= 0)
            return r < 0 ? r : -EBADMSG;
        if (std::strcmp(key, "dhcp-timeout") == 0) {
            const char* contents = nullptr;
            if ((r = sd_bus_message_peek_type(from, nullptr, &contents)) < 0)
                return r;
            if (contents && std::strcmp(contents, "i") == 0)
                r = sd_bus_message_read(from, "v", "i", &oldTimeout);
            else
                r = sd_bus_message_skip(from, "v");
            if (r < 0)
                return r;
        } else {
            if ((r = sd_bus_message_open_container(to, 'e', "sv")) < 0 ||
                (r = sd_bus_message_append_basic(to, 's', key)) < 0 ||
                (r = sd_bus_message_copy(to, from, false)) < 0 ||
                (r = sd_bus_message_close_container(to)) < 0)
                return r;
        }
        if ((r = sd_bus_message_exit_container(from)) < 0)
            return r;
    }
    if ((r = sd_bus_message_exit_container(from)) < 0)
        return r;
    if ((r = sd_bus_message_append(to, "{sv}", "dhcp-timeout", "i",
                                   toggledDhcpTimeout(oldTimeout))) < 0)
        return r;
    return sd_bus_message_close_container(to);
}

// The Reapply call for the applied connection, dhcp-timeout toggled.
int reapplyMessage(sd_bus* bus, const std::string& device, sd_bus_message* applied, uint32_t flags,
                   sd_bus_message** out) {
    Message m;
    int r = sd_bus_message_new_method_call(bus, &m.m, kService, device.c_str(), kDevice, "Reapply");
    if (r < 0)
        return r;
    if ((r = sd_bus_message_rewind(applied, true)) < 0 ||
        (r = sd_bus_message_enter_container(applied, 'a', "{sa{sv}}")) <= 0)
        return r < 0 ? r : -EBADMSG;
    if ((r = sd_bus_message_open_container(m.m, 'a', "{sa{sv}}")) < 0)
        return r;
    bool sawIpv4 = false;
    int32_t oldTimeout = 0;
    for (;;) {
        r = sd_bus_message_enter_container(applied, 'e', "sa{sv}");
        if (r < 0)
            return r;
        if (r == 0)
            break;
        const char* setting = nullptr;
        if ((r = sd_bus_message_read_basic(applied, 's', &setting)) <= 0)
            return r < 0 ? r : -EBADMSG;
        if ((r = sd_bus_message_open_container(m.m, 'e', "sa{sv}")) < 0 ||
            (r = sd_bus_message_append_basic(m.m, 's', setting)) < 0)
            return r;
        if (std::strcmp(setting, "ipv4") == 0) {
            sawIpv4 = true;
            r = copyIpv4(m.m, applied, oldTimeout);
        } else {
            r = sd_bus_message_copy(m.m, applied, false);
        }
        if (r < 0 || (r = sd_bus_message_close_container(m.m)) < 0 ||
            (r = sd_bus_message_exit_container(applied)) < 0)
            return r;
    }
    // Without an ipv4 setting the connection uses DHCP with the defaults.
    if (!sawIpv4 && (r = sd_bus_message_append(m.m, "{sa{sv}}", "ipv4", 1, "dhcp-timeout", "i",
                                               toggledDhcpTimeout(0))) < 0)
        return r;
    if ((r = sd_bus_message_close_container(m.m)) < 0 ||
        (r = sd_bus_message_exit_container(applied)) < 0)
        return r;
    uint64_t version = 0;
    if ((r = sd_bus_message_read(applied, "t", &version)) <= 0)
        return r < 0 ? r : -EBADMSG;
    if ((r = sd_bus_message_append(m.m, "tu", version, flags)) < 0)
        return r;
    *out = m.m;
    m.m = nullptr;
    return 0;
}

// What tells one lease from the next: the configuration object and the expiry it names.
std::string leaseMark(sd_bus* bus, const std::string& device) {
    const auto config = dhcp4Config(bus, device);
    if (!config)
        return {};
    const auto options = bus::stringDict(bus, kService, *config,
                                         "org.freedesktop.NetworkManager.DHCP4Config", "Options");
    if (!options)
        return {};
    const auto expiry = options->find("expiry");
    return *config + " " + (expiry == options->end() ? std::string() : expiry->second);
}

DWORD resultOfError(const sd_bus_error& e) {
    if (sd_bus_error_has_name(&e, SD_BUS_ERROR_ACCESS_DENIED) ||
        sd_bus_error_has_name(&e, "org.freedesktop.NetworkManager.PermissionDenied") ||
        sd_bus_error_has_name(&e, SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED))
        return ERROR_ACCESS_DENIED;
    if (sd_bus_error_has_name(&e, SD_BUS_ERROR_NO_REPLY) ||
        sd_bus_error_has_name(&e, SD_BUS_ERROR_TIMEOUT))
        return ERROR_TIMEOUT;
    return refusedByManager(e) ? ERROR_DHCP_MANAGER_REFUSED : ERROR_DHCP_CLIENT_FAILED;
}

} // namespace

std::optional<std::string> device(sd_bus* bus, const std::string& ifName) {
    if (!bus || ifName.empty())
        return std::nullopt;
    Message reply;
    Error error;
    const char* path = nullptr;
    if (sd_bus_call_method(bus, kService, "/org/freedesktop/NetworkManager",
                           "org.freedesktop.NetworkManager", "GetDeviceByIpIface", &error.e,
                           &reply.m, "s", ifName.c_str()) < 0 ||
        sd_bus_message_read(reply.m, "o", &path) <= 0 || !path)
        return std::nullopt;
    return std::string(path);
}

std::optional<std::string> dhcp4Config(sd_bus* bus, const std::string& device) {
    auto path = bus::objectPath(bus, kService, device, kDevice, "Dhcp4Config");
    if (!path || *path == "/")
        return std::nullopt;
    return path;
}

Lease leaseFromOptions(const std::map<std::string, std::string>& options) {
    Lease lease;
    lease.address = address(options, "ip_address");
    lease.server = address(options, "dhcp_server_identifier");
    const auto expiry = number(options, "expiry");
    const auto time = number(options, "dhcp_lease_time");
    if (time && *time == 0xFFFFFFFFLL) {
        lease.expires = Lease::kNever;
    } else if (expiry) {
        lease.expires = *expiry;
        if (time && *time <= *expiry)
            lease.obtained = *expiry - *time;
    }
    return lease;
}

std::optional<Lease> readLease(sd_bus* bus, const std::string& device) {
    const auto config = dhcp4Config(bus, device);
    if (!config)
        return std::nullopt;
    const auto options = bus::stringDict(bus, kService, *config,
                                         "org.freedesktop.NetworkManager.DHCP4Config", "Options");
    return options ? leaseFromOptions(*options) : Lease{};
}

int32_t toggledDhcpTimeout(int32_t current) {
    // Endless: with the default, a server silent for 45 seconds would make NetworkManager
    // give the address up while its lease is still valid. One reapplied already takes the
    // next value down.
    return current == INT32_MAX ? INT32_MAX - 1 : INT32_MAX;
}

DWORD renew(sd_bus* bus, const std::string& device, Clock::time_point deadline) {
    // Asked first: a device with no active connection is refused by NetworkManager itself.
    Message applied;
    Error error;
    if (sd_bus_call_method(bus, kService, device.c_str(), kDevice, "GetAppliedConnection", &error.e,
                           &applied.m, "u", 0u) < 0)
        return resultOfError(error.e);
    if (!dhcp4Config(bus, device))
        return ERROR_NO_DHCP_CLIENT;
    // A new lease is told from the old by its expiry, in whole seconds: one obtained this
    // very second is waited past.
    const auto held = readLease(bus, device);
    while (held && held->obtained >= std::time(nullptr) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string before = leaseMark(bus, device);
    DWORD rc = ERROR_DHCP_CLIENT_FAILED;
    // Keeping the addresses it did not make is a flag of newer versions; older ones refuse
    // the flag, and what they take away is put back by the caller.
    for (const uint32_t flags : {kPreserveExternalIp, 0u}) {
        Message call;
        if (reapplyMessage(bus, device, applied.m, flags, &call.m) < 0)
            return ERROR_DHCP_CLIENT_FAILED;
        Error e;
        Message reply;
        if (sd_bus_call(bus, call.m, 0, &e.e, &reply.m) >= 0) {
            rc = NO_ERROR;
            break;
        }
        rc = resultOfError(e.e);
        if (!sd_bus_error_has_name(&e.e, SD_BUS_ERROR_INVALID_ARGS) &&
            !sd_bus_error_has_name(&e.e, "org.freedesktop.NetworkManager.Device.InvalidArgument"))
            break;
    }
    if (rc != NO_ERROR)
        return rc;
    const bool renewed = waitUntil(
        [&] {
            const std::string now = leaseMark(bus, device);
            return !now.empty() && now != before;
        },
        deadline);
    return renewed ? NO_ERROR : ERROR_DHCP_NO_ANSWER;
}

} // namespace corvane::sys::dhcp::networkmanager
