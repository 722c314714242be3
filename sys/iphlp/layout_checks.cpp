// Callers size their first buffer from these figures, so the records must keep them.
#include "iphlpapi.h"

#include <cstddef>

static_assert(sizeof(MIB_IFROW) == 860);
static_assert(sizeof(MIB_IFTABLE) == 864);
static_assert(sizeof(MIB_IPFORWARDROW) == 56);
static_assert(sizeof(MIB_IPSTATS) == 23 * sizeof(DWORD));
static_assert(sizeof(MIB_TCPTABLE) == 24);
static_assert(sizeof(MIB_UDPTABLE) == 12);
static_assert(sizeof(MIB_TCPEXROW) == 24);
static_assert(sizeof(MIB_UDPEXROW) == 12);
static_assert(offsetof(MIB_IFROW, dwIndex) == 512);
static_assert(offsetof(MIB_IFROW, bDescr) == 604);
