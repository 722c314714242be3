// A stand-in library that answers every call with NO_ERROR (or with the code in
// FAKE_IPHLP_RESULT) and counts the calls, so a test can prove which entry points the
// program reached and how it takes their failures.
#include "iphlpapi.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {
std::map<std::string, int>& calls() {
    static std::map<std::string, int> c;
    return c;
}
DWORD count(const char* name) {
    ++calls()[name];
    const char* result = std::getenv("FAKE_IPHLP_RESULT");
    return result ? static_cast<DWORD>(std::strtoul(result, nullptr, 10)) : NO_ERROR;
}
} // namespace

extern "C" {

__attribute__((visibility("default"))) int fake_calls(const char* name) {
    const auto it = calls().find(name);
    return it == calls().end() ? 0 : it->second;
}
__attribute__((visibility("default"))) void fake_reset() {
    calls().clear();
}

DWORD GetNetworkParams(FIXED_INFO*, ULONG*) {
    return count(__func__);
}
DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) {
    return count(__func__);
}
ULONG GetAdaptersAddresses(ULONG, ULONG, void*, IP_ADAPTER_ADDRESSES*, ULONG*) {
    return count(__func__);
}
DWORD GetPerAdapterInfo(ULONG, IP_PER_ADAPTER_INFO*, ULONG*) {
    return count(__func__);
}
DWORD GetInterfaceInfo(IP_INTERFACE_INFO*, ULONG*) {
    return count(__func__);
}
DWORD GetIfTable(MIB_IFTABLE*, ULONG*, BOOL) {
    return count(__func__);
}
DWORD GetIfEntry(MIB_IFROW*) {
    return count(__func__);
}
DWORD SetIfEntry(MIB_IFROW*) {
    return count(__func__);
}
DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) {
    return count(__func__);
}
DWORD SetIpForwardEntry(MIB_IPFORWARDROW*) {
    return count(__func__);
}
DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW*) {
    return count(__func__);
}
DWORD GetIpStatistics(MIB_IPSTATS*) {
    return count(__func__);
}
DWORD GetTcpTable(MIB_TCPTABLE*, DWORD*, BOOL) {
    return count(__func__);
}
DWORD GetUdpTable(MIB_UDPTABLE*, DWORD*, BOOL) {
    return count(__func__);
}
DWORD AllocateAndGetTcpExTableFromStack(void**, BOOL, HANDLE, DWORD, DWORD) {
    return count(__func__);
}
DWORD AllocateAndGetUdpExTableFromStack(void**, BOOL, HANDLE, DWORD, DWORD) {
    return count(__func__);
}
DWORD GetBestInterface(IPAddr, DWORD*) {
    return count(__func__);
}
DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) {
    return count(__func__);
}
DWORD AddIPAddress(IPAddr, IPMask, DWORD, ULONG*, ULONG*) {
    return count(__func__);
}
DWORD DeleteIPAddress(ULONG) {
    return count(__func__);
}
DWORD IpReleaseAddress(IP_ADAPTER_INDEX_MAP*) {
    return count(__func__);
}
DWORD IpRenewAddress(IP_ADAPTER_INDEX_MAP*) {
    return count(__func__);
}
}
