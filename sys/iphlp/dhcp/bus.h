// The bus calls DHCP makes to the network managers are those every caller of theirs makes.
#pragma once

#include "netmgr/bus.h"

namespace corvane::sys::dhcp {
namespace bus = netmgr::bus;
} // namespace corvane::sys::dhcp
