// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
}
