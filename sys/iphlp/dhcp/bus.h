// Calls to the network managers on the system bus: each bounded in time, each failure a
// value (the managers may be absent, slow, or answer with anything).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct sd_bus;

namespace corvane::sys::dhcp::bus {

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

} // namespace corvane::sys::dhcp::bus
