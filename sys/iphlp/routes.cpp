// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetBestInterface(IPAddr, DWORD*) {
    return ERROR_NOT_SUPPORTED;
}
}
