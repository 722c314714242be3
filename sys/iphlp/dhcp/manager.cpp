#include "manager.h"

#include "networkd.h"
#include "networkmanager.h"

#include "roots.h"

#include <net/if.h>

namespace corvane::sys::dhcp {

Managers Managers::scan() {
    return {bus::system(), Clients::scan()};
}

namespace {

bool servesOurNamespace(sd_bus* bus, const char* service) {
    return bus::servesOurNamespace(bus, service, procRoot());
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
    // A lease held, or one asked for and not had yet.
    if (networkd_ && networkd::runsDhcp4(ifIndex))
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
