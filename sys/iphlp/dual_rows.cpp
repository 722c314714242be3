#include "dual_rows.h"

#include "route_rows.h"
#include "socket_rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <tuple>

namespace corvane::sys {
namespace {

// Kernel address origins (IFA_PROTO_*), not in every kernel header.
constexpr uint8_t kAddrProtoLoopback = 1, kAddrProtoRouterAdv = 2, kAddrProtoLinkLocal = 3;

SCOPE_ID scopeId(uint8_t scope, uint32_t ifIndex) {
    SCOPE_ID id{};
    switch (scope) {
    case RT_SCOPE_HOST:
        id.Level = ScopeLevelInterface;
        break;
    case RT_SCOPE_LINK:
        id.Level = ScopeLevelLink;
        id.Zone = ifIndex & 0x0FFFFFFFu;
        break;
    case RT_SCOPE_SITE:
        id.Level = ScopeLevelSite;
        break;
    default:
        id.Level = ScopeLevelGlobal;
        break;
    }
    return id;
}

NL_DAD_STATE dadState(uint32_t flags) {
    if (flags & IFA_F_DADFAILED)
        return IpDadStateDuplicate;
    if (flags & (IFA_F_TENTATIVE | IFA_F_OPTIMISTIC))
        return IpDadStateTentative;
    if (flags & IFA_F_DEPRECATED)
        return IpDadStateDeprecated;
    return IpDadStatePreferred;
}

void origins(const nl::AnyAddress& a, MIB_UNICASTIPADDRESS_ROW& row) {
    const bool v6 = a.family == AF_INET6;
    if (a.scope == RT_SCOPE_HOST || a.proto == kAddrProtoLoopback) {
        row.PrefixOrigin = IpPrefixOriginWellKnown;
        row.SuffixOrigin = IpSuffixOriginWellKnown;
    } else if (a.flags & IFA_F_TEMPORARY) {
        row.PrefixOrigin = IpPrefixOriginRouterAdvertisement;
        row.SuffixOrigin = IpSuffixOriginRandom;
    } else if (a.proto == kAddrProtoLinkLocal || (v6 && isLinkLocal6(a.address))) {
        row.PrefixOrigin = IpPrefixOriginWellKnown;
        row.SuffixOrigin = IpSuffixOriginLinkLayerAddress;
    } else if (a.proto == kAddrProtoRouterAdv || (v6 && !(a.flags & IFA_F_PERMANENT))) {
        row.PrefixOrigin = IpPrefixOriginRouterAdvertisement;
        row.SuffixOrigin = IpSuffixOriginLinkLayerAddress;
    } else if (!(a.flags & IFA_F_PERMANENT)) {
        row.PrefixOrigin = IpPrefixOriginDhcp;
        row.SuffixOrigin = IpSuffixOriginDhcp;
    } else {
        row.PrefixOrigin = IpPrefixOriginManual;
        row.SuffixOrigin = IpSuffixOriginManual;
    }
}

NL_ROUTE_ORIGIN routeOrigin(const nl::AnyRoute& r) {
    switch (r.protocol) {
    case RTPROT_KERNEL:
        return NlroWellKnown;
    case RTPROT_RA:
        return NlroRouterAdvertisement;
    case RTPROT_DHCP:
        return NlroDHCP;
    default:
        return r.table == RT_TABLE_LOCAL ? NlroWellKnown : NlroManual;
    }
}

uint16_t port(DWORD p) {
    return ntohs(static_cast<uint16_t>(p));
}

bool tcp6Less(const MIB_TCP6ROW_OWNER_PID& a, const MIB_TCP6ROW_OWNER_PID& b) {
    if (const int c = std::memcmp(a.ucLocalAddr, b.ucLocalAddr, 16))
        return c < 0;
    if (port(a.dwLocalPort) != port(b.dwLocalPort))
        return port(a.dwLocalPort) < port(b.dwLocalPort);
    if (const int c = std::memcmp(a.ucRemoteAddr, b.ucRemoteAddr, 16))
        return c < 0;
    return port(a.dwRemotePort) < port(b.dwRemotePort);
}

bool udp6Less(const MIB_UDP6ROW_OWNER_PID& a, const MIB_UDP6ROW_OWNER_PID& b) {
    if (const int c = std::memcmp(a.ucLocalAddr, b.ucLocalAddr, 16))
        return c < 0;
    return port(a.dwLocalPort) < port(b.dwLocalPort);
}

} // namespace

bool isLinkLocal6(const nl::Ip& a) {
    return a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
}

SOCKADDR_INET sockaddrInet(uint8_t family, const nl::Ip& address, uint32_t zone) {
    SOCKADDR_INET s;
    std::memset(&s, 0, sizeof s);
    if (family == AF_INET) {
        s.Ipv4.sin_family = AF_INET;
        std::memcpy(&s.Ipv4.sin_addr, address.data(), 4);
    } else if (family == AF_INET6) {
        s.Ipv6.sin6_family = AF_INET6;
        std::memcpy(&s.Ipv6.sin6_addr, address.data(), 16);
        s.Ipv6.sin6_scope_id = zone;
    }
    return s;
}

MIB_UNICASTIPADDRESS_ROW unicastRow(const nl::AnyAddress& a) {
    MIB_UNICASTIPADDRESS_ROW row;
    std::memset(&row, 0, sizeof row);
    const bool linkScope = a.scope == RT_SCOPE_LINK;
    row.Address = sockaddrInet(a.family, a.address, linkScope ? a.index : 0);
    row.InterfaceLuid.Info.NetLuidIndex = a.index & 0xFFFFFFu;
    row.InterfaceIndex = a.index;
    origins(a, row);
    row.ValidLifetime = a.valid;
    row.PreferredLifetime = a.preferred;
    row.OnLinkPrefixLength = a.prefixLength;
    row.DadState = dadState(a.flags);
    row.SkipAsSource = row.DadState != IpDadStatePreferred;
    row.ScopeId = scopeId(a.scope, a.index);
    row.CreationTimeStamp = a.created;
    return row;
}

void appendRouteRows(const nl::AnyRoute& r, std::vector<CORVANE_ROUTE_ROW>& rows) {
    const DWORD proto = forwardProto(r.table, r.type, r.protocol);
    const NL_ROUTE_ORIGIN origin = routeOrigin(r);
    for (size_t i = 0; i < r.hopCount; ++i) {
        const nl::AnyHop& hop = r.hops[i];
        CORVANE_ROUTE_ROW& row = rows.emplace_back();
        std::memset(&row, 0, sizeof row);
        MIB_IPFORWARD_ROW2& f = row.Route;
        f.InterfaceLuid.Info.NetLuidIndex = hop.ifIndex & 0xFFFFFFu;
        f.InterfaceIndex = hop.ifIndex;
        f.DestinationPrefix.Prefix = sockaddrInet(r.family, r.destination);
        f.DestinationPrefix.PrefixLength = r.prefixLength;
        if (hop.gatewayFamily) {
            const bool zoned = hop.gatewayFamily == AF_INET6 && isLinkLocal6(hop.gateway);
            f.NextHop = sockaddrInet(hop.gatewayFamily, hop.gateway, zoned ? hop.ifIndex : 0);
        } else {
            f.NextHop = sockaddrInet(r.family, nl::Ip{}); // on-link
        }
        f.ValidLifetime = f.PreferredLifetime = r.expires ? r.expires : INFINITE_LIFETIME;
        f.Immortal = r.expires == 0;
        f.Metric = r.priority;
        f.Protocol = proto;
        f.Loopback = r.type == RTN_LOCAL;
        f.Origin = origin;
        row.Table = r.table;
        row.Type = r.type;
        row.KernelProtocol = r.protocol;
        row.Tos = r.tos;
        row.Scope = r.scope;
        row.Weight = hop.weight;
        if (r.hasSource)
            row.PreferredSource = sockaddrInet(r.family, r.preferredSource);
    }
}

CORVANE_RULE_ROW ruleRow(const nl::Rule& r) {
    CORVANE_RULE_ROW row;
    std::memset(&row, 0, sizeof row);
    row.Family = r.family;
    row.Action = r.action;
    row.Tos = r.tos;
    row.Priority = r.priority;
    row.Table = r.table;
    row.Goto = r.gotoTarget;
    row.Flags = r.flags;
    if (r.srcLength) {
        row.Source.Prefix = sockaddrInet(r.family, r.source);
        row.Source.PrefixLength = r.srcLength;
    }
    if (r.dstLength) {
        row.Destination.Prefix = sockaddrInet(r.family, r.destination);
        row.Destination.PrefixLength = r.dstLength;
    }
    if (r.hasMark) {
        row.FwMark = r.fwmark;
        row.FwMask = r.fwmask;
    }
    static_assert(sizeof row.InInterface == sizeof r.iif &&
                  sizeof row.OutInterface == sizeof r.oif);
    std::memcpy(row.InInterface, r.iif, sizeof row.InInterface);
    std::memcpy(row.OutInterface, r.oif, sizeof row.OutInterface);
    row.IpProtocol = r.ipProto;
    row.L3mdev = r.l3mdev;
    row.SourcePortStart = r.sportStart;
    row.SourcePortEnd = r.sportEnd;
    row.DestinationPortStart = r.dportStart;
    row.DestinationPortEnd = r.dportEnd;
    if (r.hasUid) {
        row.UidStart = r.uidStart;
        row.UidEnd = r.uidEnd;
    }
    row.SuppressPrefixLength = r.suppressPrefixLength;
    row.SuppressIfGroup = r.suppressIfGroup;
    return row;
}

MIB_TCP6ROW_OWNER_PID tcp6Row(const nl::AnySocket& s, DWORD pid) {
    MIB_TCP6ROW_OWNER_PID r;
    std::memset(&r, 0, sizeof r);
    r.dwState = tcpTableState(s.state);
    std::memcpy(r.ucLocalAddr, s.local.data(), 16);
    r.dwLocalScopeId = isLinkLocal6(s.local) ? s.boundIf : 0;
    r.dwLocalPort = s.localPort;
    // A listener has no peer, whatever the kernel left in the fields.
    if (r.dwState != MIB_TCP_STATE_LISTEN) {
        std::memcpy(r.ucRemoteAddr, s.remote.data(), 16);
        r.dwRemoteScopeId = isLinkLocal6(s.remote) ? s.boundIf : 0;
        r.dwRemotePort = s.remotePort;
    }
    r.dwOwningPid = pid;
    return r;
}

MIB_UDP6ROW_OWNER_PID udp6Row(const nl::AnySocket& s, DWORD pid) {
    MIB_UDP6ROW_OWNER_PID r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.ucLocalAddr, s.local.data(), 16);
    r.dwLocalScopeId = isLinkLocal6(s.local) ? s.boundIf : 0;
    r.dwLocalPort = s.localPort;
    r.dwOwningPid = pid;
    return r;
}

MIB_TCPROW_OWNER_PID tcp4Row(const nl::AnySocket& s, DWORD pid) {
    MIB_TCPROW_OWNER_PID r{};
    r.dwState = tcpTableState(s.state);
    std::memcpy(&r.dwLocalAddr, s.local.data(), 4);
    r.dwLocalPort = s.localPort;
    if (r.dwState != MIB_TCP_STATE_LISTEN) {
        std::memcpy(&r.dwRemoteAddr, s.remote.data(), 4);
        r.dwRemotePort = s.remotePort;
    }
    r.dwOwningPid = pid;
    return r;
}

MIB_UDPROW_OWNER_PID udp4Row(const nl::AnySocket& s, DWORD pid) {
    MIB_UDPROW_OWNER_PID r{};
    std::memcpy(&r.dwLocalAddr, s.local.data(), 4);
    r.dwLocalPort = s.localPort;
    r.dwOwningPid = pid;
    return r;
}

DWORD socketFlags(const nl::AnySocket& s) {
    return s.v6only ? CORVANE_SOCKET_V6ONLY : 0;
}

void sortRows(std::vector<MIB_TCP6ROW_OWNER_PID>& rows) {
    std::stable_sort(rows.begin(), rows.end(), tcp6Less);
}
void sortRows(std::vector<MIB_UDP6ROW_OWNER_PID>& rows) {
    std::stable_sort(rows.begin(), rows.end(), udp6Less);
}
void sortRows(std::vector<CORVANE_TCP6ROW_OWNER_PID_FLAGS>& rows) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return tcp6Less(a.Row, b.Row); });
}
void sortRows(std::vector<CORVANE_UDP6ROW_OWNER_PID_FLAGS>& rows) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return udp6Less(a.Row, b.Row); });
}

void sortRows(std::vector<MIB_TCPROW_OWNER_PID>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::make_tuple(ntohl(a.dwLocalAddr), port(a.dwLocalPort), ntohl(a.dwRemoteAddr),
                               port(a.dwRemotePort)) <
               std::make_tuple(ntohl(b.dwLocalAddr), port(b.dwLocalPort), ntohl(b.dwRemoteAddr),
                               port(b.dwRemotePort));
    });
}
void sortRows(std::vector<MIB_UDPROW_OWNER_PID>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::make_pair(ntohl(a.dwLocalAddr), port(a.dwLocalPort)) <
               std::make_pair(ntohl(b.dwLocalAddr), port(b.dwLocalPort));
    });
}

} // namespace corvane::sys
