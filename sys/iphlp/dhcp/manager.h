// Who manages an interface's DHCP: NetworkManager, systemd-networkd, or a DHCP client run on
// its own (dhclient, dhcpcd). Each is asked in turn; the first that runs DHCP there wins.
#pragma once

#include "bus.h"
#include "clients.h"
#include "lease.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::sys::dhcp {

enum class ManagerKind { NetworkManager, Networkd, Client };

struct Manager {
    ManagerKind kind = ManagerKind::Client;
    std::string object;               // the device or link object on the bus
    std::optional<Invocation> client; // for ManagerKind::Client
};

class Managers {
public:
    // The bus (when there is one) and one process scan.
    static Managers scan();
    Managers(bus::Bus bus, Clients clients);

    std::optional<Manager> managing(const std::string& ifName, uint32_t ifIndex) const;
    std::optional<Lease> leaseFor(const std::string& ifName, uint32_t ifIndex) const;

    sd_bus* bus() const { return bus_.get(); }
    const Clients& clients() const { return clients_; }

private:
    bus::Bus bus_;
    bool networkManager_ = false, networkd_ = false;
    Clients clients_;
};

} // namespace corvane::sys::dhcp
