// GetNetworkParams: host name and domain, the resolver's servers and whether host names go
// to them, and the forwarding and proxy-ARP switches of procfs.
#include "adapter_layout.h"
#include "guard.h"
#include "iphlpapi.h"
#include "resolver.h"
#include "roots.h"

#include <cstdlib>
#include <dirent.h>
#include <new>
#include <sys/utsname.h>

namespace corvane::sys {
namespace {

// A procfs switch: "1\n" is on; unreadable counts as off.
bool procSwitch(const std::string& path) {
    std::string text;
    return readFile(path, text) && std::atoi(text.c_str()) != 0;
}

// The kernel answers proxy ARP on an interface when "all" or that interface asks for it.
bool anyProxyArp(const std::string& confDir) {
    DIR* dir = ::opendir(confDir.c_str());
    if (!dir)
        return false;
    bool on = false;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        // "default" only seeds interfaces created later.
        if (name == "." || name == ".." || name == "default")
            continue;
        std::string path = confDir;
        path.append("/").append(name).append("/proxy_arp");
        if (procSwitch(path)) {
            on = true;
            break;
        }
    }
    ::closedir(dir);
    return on;
}

DWORD networkParams(FIXED_INFO* info, ULONG* size) {
    const ResolverConfig resolver = readResolvConf();
    NetworkParams p;
    utsname uts{};
    if (::uname(&uts) == 0) {
        const std::string node = uts.nodename;
        const size_t dot = node.find('.');
        p.hostName = node.substr(0, dot);
        if (dot != std::string::npos)
            p.domainName = node.substr(dot + 1);
    }
    if (p.domainName.empty() && !resolver.search.empty())
        p.domainName = resolver.search.front();
    p.dnsServers = ipv4Servers(resolver.nameservers);
    p.dnsEnabled = dnsEnabled(resolver);
    // No NetBIOS name service runs here; without one, names go by broadcast.
    p.nodeType = BROADCAST_NODETYPE;
    const std::string ipv4 = procRoot() + "/sys/net/ipv4";
    p.routing = procSwitch(ipv4 + "/ip_forward");
    p.proxyArp = anyProxyArp(ipv4 + "/conf");
    return layoutNetworkParams(p, info, size);
}

} // namespace
} // namespace corvane::sys

extern "C" {

DWORD GetNetworkParams(FIXED_INFO* info, ULONG* size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    return corvane::sys::guarded([&] { return corvane::sys::networkParams(info, size); });
}
}
