// Placeholder until the Linux implementation lands.
#include "iphlpapi.h"

extern "C" {

DWORD GetTcpTable(MIB_TCPTABLE*, DWORD*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetUdpTable(MIB_UDPTABLE*, DWORD*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD AllocateAndGetTcpExTableFromStack(void**, BOOL, HANDLE, DWORD, DWORD) {
    return ERROR_NOT_SUPPORTED;
}
DWORD AllocateAndGetUdpExTableFromStack(void**, BOOL, HANDLE, DWORD, DWORD) {
    return ERROR_NOT_SUPPORTED;
}
}
