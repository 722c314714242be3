// Calls to the network managers on the system bus: each bounded in time, each failure a
// value (the managers may be absent, slow, or answer with anything).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <systemd/sd-bus.h>

namespace corvane::sys::netmgr::bus {

inline constexpr auto kCallTimeout = std::chrono::seconds(3);

struct BusDeleter {
    void operator()(sd_bus* b) const;
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

// The system bus, or nothing when there is none to reach.
Bus system();

// Whether a name has an owner on the bus right now (no activation).
bool hasOwner(sd_bus* bus, const char* name);
// The process that owns a name; 0 when there is none or the bus does not say.
uint32_t ownerPid(sd_bus* bus, const char* name);
// Whether the service runs and serves the interfaces of our network namespace: names and
// indexes here may be another interface's there (a container sharing the host's bus). When
// either namespace cannot be read under procRoot (no privilege), the manager is given the
// benefit.
bool servesOurNamespace(sd_bus* bus, const char* service, const std::string& procRoot);

// A property of an object, read with Properties.Get; no value on any error or type mismatch.
std::optional<std::string> objectPath(sd_bus* bus, const char* service, const std::string& path,
                                      const char* interface, const char* property);
std::optional<std::string> string(sd_bus* bus, const char* service, const std::string& path,
                                  const char* interface, const char* property);
std::optional<uint32_t> u32(sd_bus* bus, const char* service, const std::string& path,
                            const char* interface, const char* property);
// A dictionary of string values (NetworkManager's DHCP options); other values are left out.
std::optional<std::map<std::string, std::string>> stringDict(sd_bus* bus, const char* service,
                                                             const std::string& path,
                                                             const char* interface,
                                                             const char* property);

// networkd's link object of an interface, when it knows the link by that index and name.
std::optional<std::string> networkdLink(sd_bus* bus, uint32_t ifIndex, const std::string& ifName);

// A method call's reply and error, both freed with the object.
struct Call {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    Call() = default;
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    // The error's name and message with control characters escaped; empty without one.
    std::string errorText() const;
};

// Control characters (and bytes past ASCII) of what a daemon said, escaped as \xNN.
std::string printable(std::string_view text);

} // namespace corvane::sys::netmgr::bus
