#include "manager.h"

#include "networkd.h"
#include "networkmanager.h"

#include "roots.h"

#include <array>
#include <net/if.h>
#include <unistd.h>

namespace corvane::sys::dhcp {

Managers Managers::scan() {
    return Managers(bus::system(), Clients::scan());
}

namespace {

std::string netnsOf(const std::string& pidDir) {
    std::array<char, 64> buf{};
    const ssize_t n = ::readlink((pidDir + "/ns/net").c_str(), buf.data(), buf.size());
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

// A manager on the bus serves the interfaces of its own network namespace: names and indexes
// here may be another interface's there (a container sharing the host's bus). When either
// namespace cannot be read (no privilege), the manager is given the benefit.
bool servesOurNamespace(sd_bus* bus, const char* service) {
    if (!bus::hasOwner(bus, service))
        return false;
    const uint32_t pid = bus::ownerPid(bus, service);
    if (pid == 0)
        return false;
    const std::string root = procRoot();
    std::string ours = netnsOf(root + "/thread-self");
    if (ours.empty())
        ours = netnsOf(root + "/self");
    const std::string theirs = netnsOf(root + "/" + std::to_string(pid));
    return ours.empty() || theirs.empty() || ours == theirs;
}

} // namespace

Managers::Managers(bus::Bus bus, Clients clients)
    : bus_(std::move(bus)), clients_(std::move(clients)) {
    // Asked once, so that a manager not running costs no failed call per interface.
    networkManager_ = servesOurNamespace(bus_.get(), networkmanager::kService);
    networkd_ = servesOurNamespace(bus_.get(), networkd::kService);
}

std::optional<Manager> Managers::managing(const std::string& ifName, uint32_t ifIndex) const {
    if (networkManager_)
        if (const auto device = networkmanager::device(bus_.get(), ifName))
            if (networkmanager::dhcp4Config(bus_.get(), *device))
                return Manager{ManagerKind::NetworkManager, *device, std::nullopt};
    // networkd keeps a lease file exactly while it holds a lease for the link.
    if (networkd_ && networkd::readLease(ifIndex))
        if (const auto link = networkd::link(bus_.get(), ifIndex, ifName))
            return Manager{ManagerKind::Networkd, *link, std::nullopt};
    if (auto client = clients_.managing(ifName))
        return Manager{ManagerKind::Client, {}, std::move(client)};
    return std::nullopt;
}

std::optional<Lease> Managers::leaseFor(const std::string& ifName, uint32_t ifIndex) const {
    const auto manager = managing(ifName, ifIndex);
    if (!manager)
        return std::nullopt;
    switch (manager->kind) {
    case ManagerKind::NetworkManager:
        return networkmanager::readLease(bus_.get(), manager->object).value_or(Lease{});
    case ManagerKind::Networkd:
        return networkd::readLease(ifIndex).value_or(Lease{});
    case ManagerKind::Client:
        break;
    }
    return clients_.leaseFor(ifName);
}

std::optional<Lease> leaseFor(const std::string& ifName) {
    return Managers::scan().leaseFor(ifName, ::if_nametoindex(ifName.c_str()));
}

bool managed(const std::string& ifName) {
    return Managers::scan().managing(ifName, ::if_nametoindex(ifName.c_str())).has_value();
}

} // namespace corvane::sys::dhcp
