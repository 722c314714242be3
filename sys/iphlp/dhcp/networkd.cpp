#include "networkd.h"

#include "corvane_result.h"
#include "foreign_file.h"
#include "keyvalue.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <dirent.h>
#include <map>
#include <pwd.h>
#include <systemd/sd-bus.h>

namespace corvane::sys::dhcp::networkd {
namespace {

// A few lines of KEY=VALUE.
constexpr size_t kLeaseFileCap = size_t{64} * 1024;
constexpr size_t kStateFileCap = size_t{64} * 1024;
// A .network file, or one of its drop-ins, past this is none networkd is given by hand.
constexpr size_t kConfigFileCap = size_t{256} * 1024;
// Drop-ins read for one file.
constexpr size_t kMaxDropins = 64;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A file name networkd would take for a .network file: no folder, no control characters.
bool plainNetworkName(std::string_view name) {
    constexpr std::string_view suffix = ".network";
    return name.size() > suffix.size() && name.ends_with(suffix) && name.front() != '.' &&
           std::none_of(name.begin(), name.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == '/' || c == 0x7F;
           });
}

// The *.conf names in a drop-in folder, at most kMaxDropins of them.
std::vector<std::string> dropinNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name.size() > 5 && name.ends_with(".conf") && name.front() != '.' &&
            names.size() < kMaxDropins)
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

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

bool asksForDhcp4(const std::vector<std::string_view>& texts) {
    bool on = false;
    for (const std::string_view text : texts) {
        bool network = false;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos)
                end = text.size();
            const std::string_view line = trimmed(text.substr(pos, end - pos));
            pos = end + 1;
            if (line.empty() || line.front() == '#' || line.front() == ';')
                continue;
            if (line.front() == '[') {
                network = line == "[Network]";
                continue;
            }
            const size_t eq = line.find('=');
            if (!network || eq == std::string_view::npos || trimmed(line.substr(0, eq)) != "DHCP")
                continue;
            const std::string value = lower(trimmed(line.substr(eq + 1)));
            on = value == "yes" || value == "true" || value == "on" || value == "1" ||
                 value == "ipv4" || value == "both";
        }
    }
    return on;
}

bool runsDhcp4(uint32_t ifIndex, const Places& places) {
    if (ifIndex == 0)
        return false;
    if (readLease(ifIndex, places.leases))
        return true;
    const auto owner = networkdUser();
    const auto state =
        readForeignFile(places.links + "/" + std::to_string(ifIndex), kStateFileCap, owner);
    if (!state)
        return false;
    std::string admin, file;
    forEachKeyValue(state->content, [&](std::string_view key, std::string value) {
        if (key == "ADMIN_STATE")
            admin = std::move(value);
        else if (key == "NETWORK_FILE")
            file = std::move(value);
    });
    // Not a link it manages (unmanaged, pending), nor one it gave up on (failed, linger).
    if (admin != "configuring" && admin != "configured")
        return false;
    const size_t slash = file.rfind('/');
    if (file.empty() || file.front() != '/' || slash == std::string::npos ||
        !plainNetworkName(std::string_view(file).substr(slash + 1)))
        return false;
    const auto main = readForeignFile(file, kConfigFileCap);
    if (!main)
        return false;
    // The drop-ins by name, each from the first folder that has it.
    const std::string folderName = file.substr(slash + 1) + ".d";
    std::map<std::string, std::string> dropins;
    for (const std::string& dir : places.configDirs) {
        std::string folder = dir;
        folder += '/';
        folder += folderName;
        for (std::string& name : dropinNames(folder))
            if (dropins.size() < kMaxDropins) {
                std::string path = folder;
                path += '/';
                path += name;
                dropins.emplace(std::move(name), std::move(path));
            }
    }
    std::vector<ForeignFile> read;
    read.reserve(dropins.size());
    for (const auto& [name, path] : dropins)
        if (auto f = readForeignFile(path, kConfigFileCap))
            read.push_back(std::move(*f));
    std::vector<std::string_view> texts{main->content};
    for (const ForeignFile& f : read)
        texts.emplace_back(f.content);
    return asksForDhcp4(texts);
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
