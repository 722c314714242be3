// The table of platform entry points, bound by name from the two stand-in libraries.
#pragma once

#include "iphlpapi.h"
#include "tlhelp32.h"

#include <cstdint>
#include <string>
#include <type_traits>

namespace corvane {

// Bits of the load failure code for entry points the library lacks.
namespace loadbit {
inline constexpr uint32_t GetAdaptersInfo = 0x1;
inline constexpr uint32_t GetInterfaceInfo = 0x2;
inline constexpr uint32_t IpReleaseAddress = 0x4;
inline constexpr uint32_t IpRenewAddress = 0x8;
inline constexpr uint32_t GetPerAdapterInfo = 0x10;
inline constexpr uint32_t GetIfTable = 0x20;
inline constexpr uint32_t GetIfEntry = 0x40;
inline constexpr uint32_t GetNetworkParams = 0x80;
inline constexpr uint32_t SetIpForwardEntry = 0x100;
inline constexpr uint32_t DeleteIpForwardEntry = 0x200;
inline constexpr uint32_t GetIpStatistics = 0x400;
inline constexpr uint32_t SetIfEntry = 0x800;
inline constexpr uint32_t AddIPAddress = 0x1000;
inline constexpr uint32_t DeleteIPAddress = 0x2000;
inline constexpr uint32_t GetTcpTable = 0x4000;
inline constexpr uint32_t GetUdpTable = 0x8000;
inline constexpr uint32_t GetAdaptersAddresses = 0x10000;
inline constexpr uint32_t GetBestInterface = 0x20000;
inline constexpr uint32_t GetIpForwardTable = 0x40000;
inline constexpr uint32_t SendARP = 0x80000;
inline constexpr uint32_t AllocateAndGetTcpExTableFromStack = 0x1000000;
inline constexpr uint32_t AllocateAndGetUdpExTableFromStack = 0x2000000;
inline constexpr uint32_t SnapshotLibrary = 0x40000000;
inline constexpr uint32_t IpHelperLibrary = 0x80000000;
} // namespace loadbit

// What an absent entry point answers instead of being called.
template <typename R> R absentResult() {
    if constexpr (std::is_void_v<R>)
        return;
    else if constexpr (std::is_same_v<R, HANDLE>)
        return INVALID_HANDLE_VALUE;
    else if constexpr (std::is_same_v<R, BOOL>)
        return 0;
    else
        return ERROR_PROC_NOT_FOUND;
}

// One bound entry point. Calling an absent one never reaches the library.
template <typename Fn> class Entry;
template <typename R, typename... A> class Entry<R (*)(A...)> {
public:
    using Pointer = R (*)(A...);
    R operator()(A... args) const { return fn_ ? fn_(args...) : absentResult<R>(); }
    explicit operator bool() const { return fn_ != nullptr; }
    void set(Pointer fn) { fn_ = fn; }

private:
    Pointer fn_ = nullptr;
};

struct LoadFailure {
    uint32_t code = 0;
    bool base = false;     // IP Helper library, a base entry point or GetAdaptersAddresses missing
    bool extended = false; // an extended socket table entry point missing
    bool snapshot = false; // process snapshot library missing
    bool any() const { return base || extended || snapshot; }
};

struct LibraryPaths {
    std::string ipHelper;
    std::string snapshot;
    // The program's own (installpaths.h), unless CORVANE_IPHLPAPI_LIB / CORVANE_TOOLHELP_LIB say
    // otherwise.
    static LibraryPaths standard();
};

class IpHelper {
public:
    IpHelper() = default;
    ~IpHelper();
    IpHelper(const IpHelper&) = delete;
    IpHelper& operator=(const IpHelper&) = delete;

    // Loads both libraries and binds every entry point; xpFamily adds the extended socket
    // tables, GetAdaptersAddresses and the process snapshot.
    LoadFailure bind(bool xpFamily, const LibraryPaths& paths = LibraryPaths::standard());
    void unload();
    const LoadFailure& loadFailure() const { return failure_; }
    bool ipHelperLoaded() const { return ipHelperLib_ != nullptr; }

    Entry<decltype(&::GetNetworkParams)> GetNetworkParams;
    Entry<decltype(&::GetAdaptersInfo)> GetAdaptersInfo;
    Entry<decltype(&::GetAdaptersAddresses)> GetAdaptersAddresses;
    Entry<decltype(&::GetPerAdapterInfo)> GetPerAdapterInfo;
    Entry<decltype(&::GetInterfaceInfo)> GetInterfaceInfo;
    Entry<decltype(&::GetIfTable)> GetIfTable;
    Entry<decltype(&::GetIfEntry)> GetIfEntry;
    Entry<decltype(&::SetIfEntry)> SetIfEntry;
    Entry<decltype(&::GetIpForwardTable)> GetIpForwardTable;
    Entry<decltype(&::SetIpForwardEntry)> SetIpForwardEntry;
    Entry<decltype(&::DeleteIpForwardEntry)> DeleteIpForwardEntry;
    Entry<decltype(&::GetIpStatistics)> GetIpStatistics;
    Entry<decltype(&::GetRouteChangeCount)> GetRouteChangeCount; // optional, never reported
    Entry<decltype(&::GetTcpTable)> GetTcpTable;
    Entry<decltype(&::GetUdpTable)> GetUdpTable;
    Entry<decltype(&::AllocateAndGetTcpExTableFromStack)> AllocateAndGetTcpExTableFromStack;
    Entry<decltype(&::AllocateAndGetUdpExTableFromStack)> AllocateAndGetUdpExTableFromStack;
    Entry<decltype(&::GetBestInterface)> GetBestInterface;
    Entry<decltype(&::SendARP)> SendARP;
    Entry<decltype(&::AddIPAddress)> AddIPAddress;
    Entry<decltype(&::DeleteIPAddress)> DeleteIPAddress;
    Entry<decltype(&::IpReleaseAddress)> IpReleaseAddress;
    Entry<decltype(&::IpRenewAddress)> IpRenewAddress;
    // Optional, never reported: an older library's helper calls wait where they are made.
    Entry<decltype(&::SetHelperCallRunner)> SetHelperCallRunner;
    // Optional, never reported: an older library's route lists go in a route at a time.
    Entry<decltype(&::CorvaneAddIpForwardEntries)> CorvaneAddIpForwardEntries;
    // Optional, never reported: both families and every routing table. An older library
    // lacks them, and the program then shows IPv4 and the main table as before.
    Entry<decltype(&::GetExtendedTcpTable)> GetExtendedTcpTable;
    Entry<decltype(&::GetExtendedUdpTable)> GetExtendedUdpTable;
    Entry<decltype(&::GetUnicastIpAddressTable)> GetUnicastIpAddressTable;
    Entry<decltype(&::GetIpForwardTable2)> GetIpForwardTable2;
    Entry<decltype(&::FreeMibTable)> FreeMibTable;
    Entry<decltype(&::CorvaneGetRouteTable)> CorvaneGetRouteTable;
    Entry<decltype(&::CorvaneGetRouteTableExceptMain)> CorvaneGetRouteTableExceptMain;
    Entry<decltype(&::CorvaneWarmReads)> CorvaneWarmReads;
    Entry<decltype(&::CorvaneGetRuleTable)> CorvaneGetRuleTable;
    Entry<decltype(&::CorvaneGetRouteTableNames)> CorvaneGetRouteTableNames;
    Entry<decltype(&::CorvaneGetDnsServerTable)> CorvaneGetDnsServerTable;
    // Optional, never reported: route changes of either family and any table. Without them
    // IPv6 routes and those of other tables cannot be added or deleted.
    Entry<decltype(&::CreateIpForwardEntry2)> CreateIpForwardEntry2;
    Entry<decltype(&::DeleteIpForwardEntry2)> DeleteIpForwardEntry2;
    Entry<decltype(&::CorvaneCreateRouteInTable)> CorvaneCreateRouteInTable;
    Entry<decltype(&::CorvaneDeleteRouteInTable)> CorvaneDeleteRouteInTable;

    Entry<decltype(&::CreateToolhelp32Snapshot)> CreateToolhelp32Snapshot;
    Entry<decltype(&::Process32First)> Process32First;
    Entry<decltype(&::Process32Next)> Process32Next;
    Entry<decltype(&::CloseHandle)> CloseHandle;

private:
    enum class Group { Base, AdapterAddresses, Extended, Snapshot, Optional };
    // Calls f(name, entry, bit, group) for every entry point.
    template <typename F> void forEachEntry(F&& f);
    void* ipHelperLib_ = nullptr;
    void* snapshotLib_ = nullptr;
    LoadFailure failure_;
};

// The program's one table, bound at start-up.
IpHelper& iphlp();

// The load failure message shown once at the first show: "Couldn't load DLL functions  [Code
// = 0x...]".
std::string loadFailureText(const LoadFailure& failure);

} // namespace corvane
