#include "platform/iphelper.h"

#include "platform/installpaths.h"
#include "platform/systemtext.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace corvane {
namespace {

// Refused, the installed library is bound instead, and the user is told why on standard
// error: root started with another user's environment must not run that user's code.
std::string fromEnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    std::string why;
    std::string file = trustedCodeFile(v, why);
    if (!file.empty())
        return file;
    // The path and the folders named in why are the user's: no escapes reach the terminal.
    const std::string text = std::string(name) + " is not used (" + v + ": " + why + ")";
    std::fprintf(stderr, "corvane: %s; the installed library is\n",
                 printable(QString::fromLocal8Bit(text)).toLocal8Bit().constData());
    return fallback;
}

} // namespace

LibraryPaths LibraryPaths::standard() {
    return {fromEnvOr("CORVANE_IPHLPAPI_LIB", privateLibrary("libcorvane-iphlpapi.so")),
            fromEnvOr("CORVANE_TOOLHELP_LIB", privateLibrary("libcorvane-toolhelp.so"))};
}

template <typename F> void IpHelper::forEachEntry(F&& f) {
    using enum Group;
    f("GetAdaptersAddresses", GetAdaptersAddresses, loadbit::GetAdaptersAddresses,
      AdapterAddresses);
    f("GetAdaptersInfo", GetAdaptersInfo, loadbit::GetAdaptersInfo, Base);
    f("GetInterfaceInfo", GetInterfaceInfo, loadbit::GetInterfaceInfo, Base);
    f("IpReleaseAddress", IpReleaseAddress, loadbit::IpReleaseAddress, Base);
    f("IpRenewAddress", IpRenewAddress, loadbit::IpRenewAddress, Base);
    f("SetHelperCallRunner", SetHelperCallRunner, 0u, Optional);
    f("CorvaneAddIpForwardEntries", CorvaneAddIpForwardEntries, 0u, Optional);
    f("GetPerAdapterInfo", GetPerAdapterInfo, loadbit::GetPerAdapterInfo, Base);
    f("GetIfTable", GetIfTable, loadbit::GetIfTable, Base);
    f("GetIfEntry", GetIfEntry, loadbit::GetIfEntry, Base);
    f("GetIpForwardTable", GetIpForwardTable, loadbit::GetIpForwardTable, Base);
    f("GetNetworkParams", GetNetworkParams, loadbit::GetNetworkParams, Base);
    f("SetIpForwardEntry", SetIpForwardEntry, loadbit::SetIpForwardEntry, Base);
    f("DeleteIpForwardEntry", DeleteIpForwardEntry, loadbit::DeleteIpForwardEntry, Base);
    f("GetIpStatistics", GetIpStatistics, loadbit::GetIpStatistics, Base);
    f("GetRouteChangeCount", GetRouteChangeCount, 0u, Optional);
    f("SetIfEntry", SetIfEntry, loadbit::SetIfEntry, Base);
    f("AddIPAddress", AddIPAddress, loadbit::AddIPAddress, Base);
    f("DeleteIPAddress", DeleteIPAddress, loadbit::DeleteIPAddress, Base);
    f("GetTcpTable", GetTcpTable, loadbit::GetTcpTable, Base);
    f("GetUdpTable", GetUdpTable, loadbit::GetUdpTable, Base);
    f("SendARP", SendARP, loadbit::SendARP, Base);
    f("GetBestInterface", GetBestInterface, loadbit::GetBestInterface, Base);
    f("AllocateAndGetTcpExTableFromStack", AllocateAndGetTcpExTableFromStack,
      loadbit::AllocateAndGetTcpExTableFromStack, Extended);
    f("AllocateAndGetUdpExTableFromStack", AllocateAndGetUdpExTableFromStack,
      loadbit::AllocateAndGetUdpExTableFromStack, Extended);
    f("GetExtendedTcpTable", GetExtendedTcpTable, 0u, Optional);
    f("GetExtendedUdpTable", GetExtendedUdpTable, 0u, Optional);
    f("GetUnicastIpAddressTable", GetUnicastIpAddressTable, 0u, Optional);
    f("GetIpForwardTable2", GetIpForwardTable2, 0u, Optional);
    f("FreeMibTable", FreeMibTable, 0u, Optional);
    f("CorvaneGetRouteTable", CorvaneGetRouteTable, 0u, Optional);
    f("CorvaneGetRouteTableExceptMain", CorvaneGetRouteTableExceptMain, 0u, Optional);
    f("CorvaneWarmReads", CorvaneWarmReads, 0u, Optional);
    f("CorvaneGetRuleTable", CorvaneGetRuleTable, 0u, Optional);
    f("CorvaneGetRouteTableNames", CorvaneGetRouteTableNames, 0u, Optional);
    f("CorvaneGetDnsServerTable", CorvaneGetDnsServerTable, 0u, Optional);
    f("CreateIpForwardEntry2", CreateIpForwardEntry2, 0u, Optional);
    f("DeleteIpForwardEntry2", DeleteIpForwardEntry2, 0u, Optional);
    f("CorvaneCreateRouteInTable", CorvaneCreateRouteInTable, 0u, Optional);
    f("CorvaneDeleteRouteInTable", CorvaneDeleteRouteInTable, 0u, Optional);
    // An absent snapshot entry point is not reported; it is simply never called.
    f("CreateToolhelp32Snapshot", CreateToolhelp32Snapshot, 0u, Snapshot);
    f("Process32First", Process32First, 0u, Snapshot);
    f("Process32Next", Process32Next, 0u, Snapshot);
    f("CloseHandle", CloseHandle, 0u, Snapshot);
}

LoadFailure IpHelper::bind(bool xpFamily, const LibraryPaths& paths) {
    unload();
    failure_ = {};
    // An empty path is no library: dlopen would hand back the program itself.
    const auto open = [](const std::string& path) {
        return path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    };
    ipHelperLib_ = open(paths.ipHelper);
    if (!ipHelperLib_) {
        failure_.code |= loadbit::IpHelperLibrary;
        failure_.base = true;
        return failure_;
    }
    if (xpFamily) {
        snapshotLib_ = open(paths.snapshot);
        if (!snapshotLib_) {
            failure_.code |= loadbit::SnapshotLibrary;
            failure_.snapshot = true;
        }
    }
    forEachEntry([&](const char* name, auto& entry, uint32_t bit, Group group) {
        using Pointer = typename std::remove_reference_t<decltype(entry)>::Pointer;
        const bool wanted = group == Group::Base || group == Group::Optional || xpFamily;
        void* lib = group == Group::Snapshot ? snapshotLib_ : ipHelperLib_;
        void* sym = wanted && lib ? ::dlsym(lib, name) : nullptr;
        entry.set(reinterpret_cast<Pointer>(sym));
        if (sym || !wanted || group == Group::Snapshot || group == Group::Optional)
            return;
        failure_.code |= bit;
        if (group == Group::Extended)
            failure_.extended = true;
        else
            failure_.base = true;
    });
    return failure_;
}

void IpHelper::unload() {
    forEachEntry([](const char*, auto& entry, uint32_t, Group) { entry.set(nullptr); });
    if (ipHelperLib_)
        ::dlclose(ipHelperLib_);
    if (snapshotLib_)
        ::dlclose(snapshotLib_);
    ipHelperLib_ = snapshotLib_ = nullptr;
}

IpHelper::~IpHelper() {
    unload();
}

IpHelper& iphlp() {
    static IpHelper table;
    return table;
}

std::string loadFailureText(const LoadFailure& failure) {
    char text[80];
    std::snprintf(text, sizeof text, "%s [Code = 0x%08X]", "Couldn't load DLL functions ",
                  failure.code);
    return text;
}

} // namespace corvane
