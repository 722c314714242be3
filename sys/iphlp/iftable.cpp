// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetIfTable(MIB_IFTABLE*, ULONG*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetIfEntry(MIB_IFROW*) {
    return ERROR_NOT_SUPPORTED;
}
}
