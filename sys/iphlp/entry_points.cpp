// Entry points whose Linux implementation has not been written yet answer "not supported",
// so the program reports an honest failure instead of showing made-up tables.
#include "iphlpapi.h"

extern "C" {

DWORD GetNetworkParams(FIXED_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
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
DWORD GetIfTable(MIB_IFTABLE*, ULONG*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetIfEntry(MIB_IFROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD SetIfEntry(MIB_IFROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD SetIpForwardEntry(MIB_IPFORWARDROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD GetIpStatistics(MIB_IPSTATS*) {
    return ERROR_NOT_SUPPORTED;
}
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
DWORD GetBestInterface(IPAddr, DWORD*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD AddIPAddress(IPAddr, IPMask, DWORD, ULONG*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD DeleteIPAddress(ULONG) {
    return ERROR_NOT_SUPPORTED;
}
DWORD IpReleaseAddress(IP_ADAPTER_INDEX_MAP*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD IpRenewAddress(IP_ADAPTER_INDEX_MAP*) {
    return ERROR_NOT_SUPPORTED;
}
}
