#include "dhcpcd.h"

#include "corvane_result.h"
#include "foreign_file.h"
#include "keyvalue.h"

#include <arpa/inet.h>
#include <cstring>
#include <dirent.h>
#include <net/if.h>
#include <utility>

namespace corvane::sys::dhcp::dhcpcd {
namespace {

// Fixed part of a BOOTP/DHCP message, then the options after the magic cookie.
constexpr size_t kCiaddr = 12, kYiaddr = 16, kSname = 44, kFile = 108, kCookie = 236;
constexpr size_t kOptions = 240;
constexpr uint8_t kMagic[4] = {99, 130, 83, 99};
constexpr uint8_t kPad = 0, kEnd = 255, kLeaseTime = 51, kOverload = 52, kServerId = 54;

struct Options {
    std::optional<uint32_t> server; // network byte order
    std::optional<uint32_t> leaseTime;
    uint8_t overload = 0;
};

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Reads the options in [begin, end); a length running past the end stops the walk.
void readOptions(const uint8_t* begin, const uint8_t* end, Options& out) {
    const uint8_t* p = begin;
    while (p < end && *p != kEnd) {
        if (*p == kPad) {
            ++p;
            continue;
        }
        if (end - p < 2 || end - p - 2 < p[1])
            return;
        const uint8_t code = p[0], len = p[1];
        const uint8_t* value = p + 2;
        if (code == kServerId && len == 4)
            std::memcpy(&out.server.emplace(), value, 4);
        else if (code == kLeaseTime && len == 4)
            out.leaseTime = be32(value);
        else if (code == kOverload && len == 1)
            out.overload = value[0];
        p = value + len;
    }
}

// A DHCP message fits in one UDP datagram.
constexpr size_t kLeaseFileCap = size_t{64} * 1024;

int64_t mtimeOf(const std::string& path) {
    const auto t = foreignFileTime(path);
    return t ? t->tv_sec : 0;
}

Lease leaseFrom(uint32_t address, const Options& o, int64_t written) {
    Lease lease;
    lease.address = address;
    lease.server = o.server.value_or(0);
    lease.obtained = written;
    if (o.leaseTime && written != 0)
        lease.expires = *o.leaseTime == 0xFFFFFFFFU ? Lease::kNever : written + *o.leaseTime;
    return lease;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::optional<Lease> parseLeaseMessage(std::string_view message, int64_t written) {
    const auto* m = reinterpret_cast<const uint8_t*>(message.data());
    if (message.size() < kOptions || std::memcmp(m + kCookie, kMagic, 4) != 0 || m[0] != 2)
        return std::nullopt;
    Options o;
    readOptions(m + kOptions, m + message.size(), o);
    // Options that did not fit may continue in the file and server-name fields.
    const uint8_t overload = o.overload;
    if (overload & 1)
        readOptions(m + kFile, m + kCookie, o);
    if (overload & 2)
        readOptions(m + kSname, m + kFile, o);
    uint32_t address = 0;
    std::memcpy(&address, m + kYiaddr, 4);
    // An informed address is the client's own, not one handed out.
    if (address == 0)
        std::memcpy(&address, m + kCiaddr, 4);
    return leaseFrom(address, o, written);
}

std::optional<Lease> parseDump(std::string_view text, int64_t written) {
    Options o;
    uint32_t address = 0;
    bool any = false;
    forEachKeyValue(text, [&](std::string_view key, std::string value) {
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        in_addr a{};
        if (key == "ip_address" && ::inet_pton(AF_INET, value.c_str(), &a) == 1) {
            address = a.s_addr;
            any = true;
        } else if (key == "dhcp_server_identifier" &&
                   ::inet_pton(AF_INET, value.c_str(), &a) == 1) {
            o.server = a.s_addr;
            any = true;
        } else if (key == "dhcp_lease_time") {
            if (const auto v = parseU32(value))
                o.leaseTime = *v;
        }
    });
    if (!any)
        return std::nullopt;
    return leaseFrom(address, o, written);
}

std::string leaseFile(const std::string& dir, const std::string& ifName) {
    if (ifName.empty() || ifName.find('/') != std::string::npos)
        return {};
    std::string exact = dir + "/" + ifName + ".lease";
    if (foreignFileTime(exact))
        return exact;
    // A wireless interface's lease is kept per network: "<interface>-<SSID>.lease". The
    // newest is the current one; a name that is itself an interface belongs to that one.
    std::string best;
    int64_t bestTime = -1;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return {};
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, ifName.size() + 1, ifName + "-") != 0 || !endsWith(name, ".lease"))
            continue;
        const std::string stem = name.substr(0, name.size() - 6);
        if (::if_nametoindex(stem.c_str()) != 0)
            continue;
        std::string path = dir;
        path.append("/").append(name);
        const auto t = foreignFileTime(path);
        if (t && t->tv_sec > bestTime) {
            bestTime = t->tv_sec;
            best = std::move(path);
        }
    }
    ::closedir(d);
    return best;
}

std::optional<Lease> readLease(const std::string& dir, const Invocation& client,
                               const std::string& ifName) {
    const std::string path = leaseFile(dir, ifName);
    if (path.empty())
        return std::nullopt;
    if (const auto file = readForeignFile(path, kLeaseFileCap))
        return parseLeaseMessage(file->content, file->modified.tv_sec);
    const int64_t written = mtimeOf(path);
    // The file is root's alone; the daemon tells anyone through its unprivileged socket.
    const std::string program = systemProgram("dhcpcd");
    if (program.empty() || !client.running())
        return std::nullopt;
    std::string dump;
    if (!run(command(program, client, "-U", ifName), Clock::now() + std::chrono::seconds(3), &dump)
             .succeeded())
        return std::nullopt;
    return parseDump(dump, written);
}

std::vector<std::string> command(const std::string& program, const Invocation& client,
                                 const char* action, const std::string& ifName) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), client.options.begin(), client.options.end());
    argv.insert(argv.end(), {action, ifName});
    return argv;
}

DWORD release(const Invocation& client, const std::string& ifName, Clock::time_point deadline) {
    if (!client.running())
        return NO_ERROR;
    if (client.manager)
        return ERROR_NOT_SUPPORTED;
    const std::string program = systemProgram("dhcpcd");
    if (program.empty())
        return ERROR_NO_DHCP_CLIENT;
    // -k returns once the daemon has released the lease and exited.
    return resultOf(run(command(program, client, "-k", ifName), deadline));
}

DWORD renew(const Invocation& client, const std::string& ifName, const std::string& dir,
            Clock::time_point deadline, bool mayStart) {
    const std::string program = systemProgram("dhcpcd");
    if (program.empty())
        return ERROR_NO_DHCP_CLIENT;
    if (!client.running()) {
        if (!mayStart)
            return ERROR_DHCP_NOT_FROM_HELPER;
        // -n starts a daemon that is not running, and returns once it holds an address.
        return resultOf(run(command(program, client, "-n", ifName), deadline));
    }
    // A running daemon is only signalled; it has renewed when it writes the new lease.
    const auto before = foreignFileTime(leaseFile(dir, ifName));
    const DWORD rc = resultOf(run(command(program, client, "-n", ifName), deadline));
    if (rc != NO_ERROR)
        return rc;
    const auto renewed = [&] {
        const auto now = foreignFileTime(leaseFile(dir, ifName));
        return now && (!before || now->tv_sec != before->tv_sec || now->tv_nsec != before->tv_nsec);
    };
    return waitUntil(renewed, deadline) ? NO_ERROR : ERROR_DHCP_NO_ANSWER;
}

} // namespace corvane::sys::dhcp::dhcpcd
