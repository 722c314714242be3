// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
ULONG GetAdaptersAddresses(ULONG, ULONG, void*, IP_ADAPTER_ADDRESSES*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetPerAdapterInfo(ULONG, IP_PER_ADAPTER_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetInterfaceInfo(IP_INTERFACE_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
}
