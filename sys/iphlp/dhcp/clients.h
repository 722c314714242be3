// Which DHCP client manages an interface: found by one scan of the process list, and
// remembered for the life of the process so that a client stopped by a release can be
// started again by the renewal that follows.
#pragma once

#include "lease.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys::dhcp {

enum class ClientKind { Dhclient, Dhcpcd };

struct Invocation {
    ClientKind kind = ClientKind::Dhclient;
    int pid = 0; // 0: not running now (remembered from an earlier scan)
    uint64_t startTime = 0;
    std::vector<std::string> interfaces; // named on its command line; empty: all it finds
    std::vector<std::string> options;    // passed again to its commands (files, protocol ...)
    std::string leaseFile;               // dhclient's lease database
    bool manager = false;                // dhcpcd serving every interface from one daemon
    bool titled = false;                 // dhcpcd whose process title hid its arguments
    bool verified = false;               // seen running the installed client program

    bool running() const { return pid > 0; }
    bool names(const std::string& ifName) const;
};

// A process's command line (the NUL-separated arguments of /proc/PID/cmdline) when it is a
// DHCP client looking after IPv4 addresses: not a one-shot control command, not IPv6 only.
std::optional<Invocation> parseCommandLine(std::string_view raw);

class Clients {
public:
    // The clients running in this network namespace: the installed client programs, run by
    // root (or, for dhcpcd's privilege-separated processes, by dhcpcd's own user).
    static Clients scan();
    explicit Clients(std::vector<Invocation> running, std::string dhcpcdDir = "/var/lib/dhcpcd");

    const std::vector<Invocation>& running() const { return running_; }
    // A running client naming the interface, else a running client that names none and
    // holds a lease for it, else the last client seen managing it.
    std::optional<Invocation> managing(const std::string& ifName) const;
    // No value when no client manages the interface; an empty lease when its client holds
    // none that can be read.
    std::optional<Lease> leaseFor(const std::string& ifName) const;
    const std::string& dhcpcdDir() const { return dhcpcdDir_; }

private:
    std::optional<Lease> leaseOf(const Invocation& client, const std::string& ifName) const;

    std::vector<Invocation> running_;
    std::string dhcpcdDir_;
};

// Through whoever manages the interface (manager.h): one scan per call, so a listing
// should use Managers::scan() once.
std::optional<Lease> leaseFor(const std::string& ifName);
bool managed(const std::string& ifName);

// Tests start from a clean memory.
void forgetRememberedClients();

} // namespace corvane::sys::dhcp
