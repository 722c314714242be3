// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetIpStatistics(MIB_IPSTATS*) {
    return ERROR_NOT_SUPPORTED;
}
}
