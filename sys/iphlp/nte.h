// NTE contexts: 32-bit ids naming one address on one interface. The kernel has no such id,
// so the library hands one out the first time it sees (interface, address, prefix) and keeps
// it for the life of the process; ids are never reused, so a stale one cannot hit another
// address.
#pragma once

#include <cstdint>
#include <optional>

namespace corvane::sys {

struct NteKey {
    uint32_t ifIndex = 0;
    uint32_t address = 0; // network byte order
    uint8_t prefixLength = 0;
    bool operator==(const NteKey&) const = default;
};

// The context of an address, assigned on first sight. Never 0. Thread-safe.
uint32_t nteContext(const NteKey& key);
// The address a context was given to, if any.
std::optional<NteKey> nteLookup(uint32_t context);

} // namespace corvane::sys
