#include "interfaces.h"

#include "iphlpapi.h"
#include "roots.h"

#include <charconv>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sys {

DWORD interfaceType(const nl::Link& link, bool wireless) {
    switch (link.arpType) {
    case ARPHRD_ETHER:
        return wireless ? IF_TYPE_IEEE80211 : IF_TYPE_ETHERNET_CSMACD;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_RADIOTAP:
        return IF_TYPE_IEEE80211;
    case ARPHRD_LOOPBACK:
        return IF_TYPE_SOFTWARE_LOOPBACK;
    case ARPHRD_PPP:
        return IF_TYPE_PPP;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
        return IF_TYPE_SLIP;
    case ARPHRD_IEEE802_TR:
        return IF_TYPE_ISO88025_TOKENRING;
    case ARPHRD_FDDI:
        return IF_TYPE_FDDI;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
    case ARPHRD_SIT:
    case ARPHRD_NONE: // tun devices and other layer-3 tunnels
        return IF_TYPE_TUNNEL;
    default:
        return IF_TYPE_OTHER;
    }
}

DWORD operStatus(const nl::Link& link) {
    switch (link.operState) {
    case IF_OPER_UP:
        return MIB_IF_OPER_STATUS_OPERATIONAL;
    case IF_OPER_UNKNOWN:
        // Loopback and tun report no state of their own; running is what counts.
        return (link.flags & IFF_UP) && (link.flags & IFF_RUNNING)
                   ? MIB_IF_OPER_STATUS_OPERATIONAL
                   : MIB_IF_OPER_STATUS_NON_OPERATIONAL;
    case IF_OPER_DORMANT:
    case IF_OPER_LOWERLAYERDOWN:
        return MIB_IF_OPER_STATUS_DISCONNECTED;
    case IF_OPER_DOWN:
        // Switched off by the administrator is not the same as no carrier.
        return (link.flags & IFF_UP) ? MIB_IF_OPER_STATUS_DISCONNECTED
                                     : MIB_IF_OPER_STATUS_NON_OPERATIONAL;
    case IF_OPER_NOTPRESENT:
        return MIB_IF_OPER_STATUS_UNREACHABLE;
    case IF_OPER_TESTING:
        return MIB_IF_OPER_STATUS_CONNECTING;
    default:
        return MIB_IF_OPER_STATUS_NON_OPERATIONAL;
    }
}

std::string interfaceDescription(const nl::Link& link, DWORD type, const std::string& driver) {
    std::string what;
    if (link.kind == "veth")
        what = "Virtual Ethernet";
    else if (link.kind == "bridge")
        what = "Bridge";
    else if (link.kind == "tun")
        what = link.arpType == ARPHRD_ETHER ? "TAP" : "TUN";
    else if (link.kind == "vlan")
        what = "VLAN";
    else if (link.kind == "bond")
        what = "Bond";
    else if (link.kind == "wireguard")
        what = "WireGuard";
    else if (!link.kind.empty())
        what = link.kind;
    else if (type == IF_TYPE_SOFTWARE_LOOPBACK)
        what = "Loopback";
    else if (type == IF_TYPE_IEEE80211)
        what = "Wireless";
    else if (type == IF_TYPE_ETHERNET_CSMACD)
        what = "Ethernet";
    else if (type == IF_TYPE_PPP)
        what = "PPP";
    else if (type == IF_TYPE_TUNNEL)
        what = "Tunnel";
    else
        what = "Network interface";
    std::string text = link.name + " - " + what;
    if (!driver.empty())
        text += " (" + driver + ")";
    return text;
}

SysfsInfo readSysfsNow(const std::string& ifName) {
    SysfsInfo info;
    const std::string dir = sysfsRoot() + "/class/net/" + ifName;
    struct stat st {};
    info.wireless = ::stat((dir + "/wireless").c_str(), &st) == 0 ||
                    ::stat((dir + "/phy80211").c_str(), &st) == 0;
    std::string text;
    // Reading speed of a link without carrier fails with EINVAL; that is "no speed".
    if (readFile(dir + "/speed", text)) {
        long long mbit = 0;
        const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), mbit);
        if (ec == std::errc() && mbit > 0)
            info.speedBitsPerSecond = static_cast<uint64_t>(mbit) * 1000000ULL;
    }
    char target[512];
    const ssize_t n = ::readlink((dir + "/device/driver").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<size_t>(n));
        info.driver = path.substr(path.rfind('/') + 1);
    }
    return info;
}

DWORD clampSpeed(uint64_t bitsPerSecond) {
    return bitsPerSecond > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<DWORD>(bitsPerSecond);
}

} // namespace corvane::sys
