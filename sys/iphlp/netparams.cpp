// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetNetworkParams(FIXED_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
}
