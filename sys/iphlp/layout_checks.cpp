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
static_assert(sizeof(SOCKADDR_INET) == 28);
static_assert(sizeof(MIB_TCP6ROW_OWNER_PID) == 56);
static_assert(sizeof(MIB_UDP6ROW_OWNER_PID) == 28);
static_assert(sizeof(MIB_TCPROW_OWNER_PID) == sizeof(MIB_TCPEXROW));
static_assert(offsetof(MIB_TCP6TABLE_OWNER_PID, table) == 4);
static_assert(sizeof(SCOPE_ID) == 4 && sizeof(NET_LUID) == 8);
static_assert(offsetof(MIB_UNICASTIPADDRESS_ROW, InterfaceLuid) == 32);
static_assert(offsetof(MIB_IPFORWARD_ROW2, DestinationPrefix) == 12);
