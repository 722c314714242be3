#include "hostinfo/adapter_read.h"

#include "hostinfo/connectionname.h"
#include "hostinfo/gateway_mac.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "platform/systemtext.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvane {
namespace {

using Buffer = std::vector<uint64_t>;

// Room for size bytes and never less than one record: a platform that answers success with
// a short record must not make us read past the buffer.
template <typename Record> void reserve(Buffer& buffer, ULONG size) {
    buffer.assign(std::max<std::size_t>(size, sizeof(Record)) / 8 + 1, 0);
}

bool bufferTooSmall(DWORD rc) {
    return rc == ERROR_BUFFER_OVERFLOW || rc == ERROR_INSUFFICIENT_BUFFER;
}

QString fromWide(const WCHAR* text) {
    QString out;
    for (; text && *text; ++text)
        out.append(QChar(static_cast<char16_t>(*text)));
    return out;
}

QString yesNo(UINT flag) {
    return flag ? QStringLiteral("yes") : QStringLiteral("no");
}

struct MibFree {
    void operator()(void* table) const { iphlp().FreeMibTable(table); }
};
template <typename T> using MibTable = std::unique_ptr<T, MibFree>;

QString text6(const in6_addr& address) {
    char out[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &address, out, sizeof out);
    return QString::fromLatin1(out);
}

bool unspecified(const in6_addr& address) {
    static const in6_addr any{};
    return std::memcmp(&address, &any, sizeof any) == 0;
}

// An absent entry point is an older library: IPv4 only, nothing to report.
bool readFailed(const char* name, DWORD rc) {
    if (rc == NO_ERROR)
        return false;
    if (rc != ERROR_PROC_NOT_FOUND)
        ReportFailure(QString::fromLatin1(name), rc);
    return true;
}

using Ipv6ByIndex = std::unordered_map<DWORD, Ipv6Adapter>;

void readIpv6Addresses(Ipv6ByIndex& out) {
    MIB_UNICASTIPADDRESS_TABLE* raw = nullptr;
    const DWORD rc = iphlp().GetUnicastIpAddressTable(AF_INET6, &raw);
    const MibTable<MIB_UNICASTIPADDRESS_TABLE> table(raw);
    if (readFailed("GetUnicastIpAddressTable", rc) || !table)
        return;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& row = table->Table[i];
        if (row.Address.si_family != AF_INET6)
            continue;
        Ipv6Address a;
        a.address = text6(row.Address.Ipv6.sin6_addr);
        a.prefixLength = row.OnLinkPrefixLength;
        a.scope = ipv6ScopeText(row.ScopeId.Level);
        a.state = ipv6StateText(row.DadState, row.SuffixOrigin == IpSuffixOriginRandom);
        a.inUse = row.DadState == IpDadStatePreferred || row.DadState == IpDadStateDeprecated;
        out[row.InterfaceIndex].addresses.push_back(std::move(a));
    }
}

// The default routers: the main table's ::/0 rows with a next hop, through each adapter.
void readIpv6Gateways(Ipv6ByIndex& out) {
    MIB_IPFORWARD_TABLE2* raw = nullptr;
    const DWORD rc = iphlp().GetIpForwardTable2(AF_INET6, &raw);
    const MibTable<MIB_IPFORWARD_TABLE2> table(raw);
    if (readFailed("GetIpForwardTable2", rc) || !table)
        return;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& row = table->Table[i];
        const IP_ADDRESS_PREFIX& to = row.DestinationPrefix;
        if (to.Prefix.si_family != AF_INET6 || to.PrefixLength != 0 ||
            !unspecified(to.Prefix.Ipv6.sin6_addr) || row.NextHop.si_family != AF_INET6 ||
            unspecified(row.NextHop.Ipv6.sin6_addr))
            continue;
        const auto adapter = out.find(row.InterfaceIndex);
        if (adapter != out.end())
            adapter->second.gateways.push_back({text6(row.NextHop.Ipv6.sin6_addr), row.Metric});
    }
}

// A link asks its own IPv6 servers, else the system-wide ones. A link-local server is
// reachable only through the link its zone names.
void readIpv6DnsServers(Ipv6ByIndex& out) {
    CORVANE_DNS_SERVER_TABLE* raw = nullptr;
    const DWORD rc = iphlp().CorvaneGetDnsServerTable(AF_INET6, &raw);
    const MibTable<CORVANE_DNS_SERVER_TABLE> table(raw);
    if (readFailed("CorvaneGetDnsServerTable", rc) || !table)
        return;
    std::vector<const CORVANE_DNS_SERVER_ROW*> systemWide;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const CORVANE_DNS_SERVER_ROW& row = table->Table[i];
        if (row.Address.si_family != AF_INET6)
            continue;
        if (row.InterfaceIndex == 0) {
            systemWide.push_back(&row);
            continue;
        }
        const auto adapter = out.find(row.InterfaceIndex);
        const ULONG zone = row.Address.Ipv6.sin6_scope_id;
        if (adapter != out.end() && (zone == 0 || zone == row.InterfaceIndex))
            adapter->second.dnsServers.append(text6(row.Address.Ipv6.sin6_addr));
    }
    if (systemWide.empty())
        return;
    for (auto& [index, adapter] : out) {
        if (!adapter.dnsServers.isEmpty())
            continue;
        for (const CORVANE_DNS_SERVER_ROW* row : systemWide) {
            const ULONG zone = row->Address.Ipv6.sin6_scope_id;
            if (zone == 0 || zone == index)
                adapter.dnsServers.append(text6(row->Address.Ipv6.sin6_addr));
        }
    }
}

// One dump of each table for the whole pass, whatever the number of adapters.
Ipv6ByIndex readIpv6() {
    Ipv6ByIndex out;
    if (!iphlp().FreeMibTable)
        return out; // tables we could not give back
    readIpv6Addresses(out);
    if (out.empty())
        return out;
    readIpv6Gateways(out);
    readIpv6DnsServers(out);
    return out;
}

// The pass's questions answered by the platform.
class PlatformEnv : public AdapterPassEnv {
public:
    PlatformEnv(const IP_ADAPTER_ADDRESSES* addresses, Ipv6ByIndex ipv6)
        : addresses_(addresses), ipv6_(std::move(ipv6)) {}

    QString connectionName(const QString& adapterName, DWORD ifIndex) override {
        return names_.lookup(adapterName, ifIndex);
    }
    bool isInterfaceUp(DWORD ifIndex) override {
        MIB_IFROW row{};
        row.dwIndex = ifIndex;
        const DWORD rc = iphlp().GetIfEntry(&row);
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetIfEntry"), rc);
            return false;
        }
        return row.dwAdminStatus == 1;
    }
    GatewayMac gatewayMac(const QString& address) override { return LookupGatewayMac(address); }
    std::optional<PerAdapterDns> perAdapterInfo(DWORD ifIndex) override {
        ULONG size = 52;
        Buffer buffer;
        reserve<IP_PER_ADAPTER_INFO>(buffer, size);
        DWORD rc = iphlp().GetPerAdapterInfo(
            ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        if (bufferTooSmall(rc)) {
            reserve<IP_PER_ADAPTER_INFO>(buffer, size);
            rc = iphlp().GetPerAdapterInfo(
                ifIndex, reinterpret_cast<IP_PER_ADAPTER_INFO*>(buffer.data()), &size);
        }
        if (rc != NO_ERROR) {
            ReportFailure(QStringLiteral("GetPerAdapterInfo"), rc);
            return std::nullopt;
        }
        const auto* info = reinterpret_cast<const IP_PER_ADAPTER_INFO*>(buffer.data());
        PerAdapterDns out;
        out.autoconfigEnabled = info->AutoconfigEnabled != 0;
        for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next)
            out.servers.append(QString::fromLatin1(
                s->IpAddress.String, static_cast<qsizetype>(strnlen(s->IpAddress.String, 16))));
        return out;
    }
    QString dnsSuffix(DWORD ifIndex) override {
        QString suffix = QStringLiteral("none");
        for (const IP_ADAPTER_ADDRESSES* a = addresses_; a; a = a->Next)
            if (a->IfIndex == ifIndex)
                suffix = fromWide(a->DnsSuffix);
        return suffix;
    }
    QDateTime now() override { return QDateTime::currentDateTime(); }
    const Ipv6Adapter* ipv6(DWORD ifIndex) override {
        const auto found = ipv6_.find(ifIndex);
        return found == ipv6_.end() ? nullptr : &found->second;
    }

private:
    const IP_ADAPTER_ADDRESSES* addresses_;
    const Ipv6ByIndex ipv6_;
    const ConnectionNames names_ = ConnectionNames::read();
};

// GetAdaptersAddresses for IPv4; false when there is no list (none, or a reported failure).
bool readAdapterAddresses(Buffer& buffer) {
    ULONG size = 0;
    DWORD rc = iphlp().GetAdaptersAddresses(AF_INET_IPH, 0, nullptr, nullptr, &size);
    if (rc == NO_ERROR)
        return false; // no adapters: no list
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_ADDRESSES>(buffer, size);
        rc = iphlp().GetAdaptersAddresses(
            AF_INET_IPH, 0, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersAddresses"), rc);
        return false;
    }
    return true;
}

bool readAdaptersInfo(Buffer& buffer) {
    ULONG size = 640;
    reserve<IP_ADAPTER_INFO>(buffer, size);
    DWORD rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (bufferTooSmall(rc)) {
        reserve<IP_ADAPTER_INFO>(buffer, size);
        rc = iphlp().GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetAdaptersInfo"), rc);
        return false;
    }
    return true;
}

} // namespace

std::optional<HostParams> readHostParams() {
    ULONG size = 584;
    // Never smaller than the record we read, whatever size the platform was told.
    Buffer buffer;
    reserve<FIXED_INFO>(buffer, size);
    DWORD rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        reserve<FIXED_INFO>(buffer, size);
        rc = iphlp().GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetNetworkParams"), rc);
        return std::nullopt;
    }
    const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
    return HostParams{systemText(info->HostName), systemText(info->DomainName),
                      yesNo(info->EnableDns), yesNo(info->EnableRouting), yesNo(info->EnableProxy)};
}

std::optional<AdapterPassResult> readAdapterInformation(bool xpFamily, bool logging,
                                                        bool showIpv6) {
    Buffer addressBuffer;
    const bool haveAddresses = xpFamily && readAdapterAddresses(addressBuffer);
    Buffer infoBuffer;
    if (!readAdaptersInfo(infoBuffer))
        return std::nullopt;
    PlatformEnv env(haveAddresses
                        ? reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(addressBuffer.data())
                        : nullptr,
                    showIpv6 ? readIpv6() : Ipv6ByIndex());
    return runAdapterPass(reinterpret_cast<const IP_ADAPTER_INFO*>(infoBuffer.data()), env,
                          logging);
}

} // namespace corvane
