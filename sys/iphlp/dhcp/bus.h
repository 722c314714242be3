// The bus calls DHCP makes to the network managers are those every caller of theirs makes.
#pragma once

#include "netmgr/bus.h"

#include <systemd/sd-bus.h>

namespace corvane::sys::dhcp {
namespace bus = netmgr::bus;

// An error the manager answered with, as against one of the bus (the manager gone, or not
// answering): its refusal, which the user is told as such.
inline bool refusedByManager(const sd_bus_error& e) {
    for (const char* transport :
         {SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_NO_REPLY,
          SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_DISCONNECTED, SD_BUS_ERROR_NO_MEMORY,
          SD_BUS_ERROR_LIMITS_EXCEEDED})
        if (sd_bus_error_has_name(&e, transport))
            return false;
    return sd_bus_error_is_set(&e);
}
} // namespace corvane::sys::dhcp
