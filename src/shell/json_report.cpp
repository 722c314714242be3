#include "shell/json_report.h"

#include "connections/conn_rows.h"
#include "interfaces/iftable_rows.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "platform/routetables.h"
#include "registry/route_name.h"
#include "report/json_threads.h"
#include "report/json_writer.h"
#include "routing/persistent_rows.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"

#include <QString>
#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvane {
namespace {

// Linked lists in a platform buffer are followed this far at most: a loop in them must not
// hold the report for ever.
constexpr int listLimit = 4096;

struct MibFree {
    void operator()(void* table) const { iphlp().FreeMibTable(table); }
};
template <typename T> using MibTable = std::unique_ptr<T, MibFree>;

// A failed call is reported; an entry point an older library lacks is silently absent.
bool failed(const char* name, DWORD rc) {
    if (rc == NO_ERROR)
        return false;
    if (rc != ERROR_PROC_NOT_FOUND)
        ReportFailure(QString::fromLatin1(name), rc);
    return true;
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

// A fixed field that need not be terminated.
template <std::size_t N> std::string_view field(const char (&text)[N]) {
    return {text, strnlen(text, N)};
}

// Without the formatted printing inet_ntop goes through: a hundred thousand routes name three
// addresses each.
std::string quad(std::uint32_t hostOrder) {
    return reg::quadText(hostOrder);
}

std::string netQuad(std::uint32_t netOrder) {
    return quad(ntohl(netOrder));
}

std::string text6(const void* bytes) {
    char out[INET6_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET6, bytes, out, sizeof out);
    return out;
}

// SOCKADDR_INET of either family as text; nothing for another family.
std::optional<std::string> sockaddrText(const SOCKADDR_INET& a) {
    if (a.si_family == AF_INET)
        return netQuad(a.Ipv4.sin_addr.s_addr);
    if (a.si_family == AF_INET6)
        return text6(&a.Ipv6.sin6_addr);
    return std::nullopt;
}

const char* familyName(int family) {
    return family == AF_INET6 ? "ipv6" : "ipv4";
}

std::string macText(const BYTE* bytes, std::size_t length) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0)
            out += ':';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0xF];
    }
    return out;
}

int prefixOfMask(std::uint32_t hostOrderMask) {
    const int ones = std::popcount(hostOrderMask);
    // A mask whose ones are not contiguous has no prefix length.
    const std::uint32_t contiguous = ones == 0 ? 0 : ~std::uint32_t{0} << (32 - ones);
    return contiguous == hostOrderMask ? ones : -1;
}

void optionalString(JsonWriter& w, std::string_view key, const std::optional<std::string>& v) {
    if (v)
        w.field(key, *v);
    else
        w.nullField(key);
}

void optionalTime(JsonWriter& w, std::string_view key, INT64 seconds) {
    if (seconds > 0)
        w.field(key, isoTime(static_cast<std::time_t>(seconds)));
    else
        w.nullField(key);
}

// ---- host parameters ----

template <typename T> T* reserved(std::vector<std::uint64_t>& buffer, ULONG size) {
    buffer.assign(std::max<std::size_t>(size, sizeof(T)) / 8 + 1, 0);
    return reinterpret_cast<T*>(buffer.data());
}

// The texts of an address list, without the empty and 0.0.0.0 entries that stand for none.
std::vector<const IP_ADDR_STRING*> addressList(const IP_ADDR_STRING& first) {
    std::vector<const IP_ADDR_STRING*> out;
    int n = 0;
    for (const IP_ADDR_STRING* a = &first; a && n < listLimit; a = a->Next, ++n) {
        const std::string_view text = field(a->IpAddress.String);
        if (!text.empty() && text != "0.0.0.0")
            out.push_back(a);
    }
    return out;
}

void writeHost(JsonWriter& w) {
    w.key("host");
    std::vector<std::uint64_t> buffer;
    ULONG size = sizeof(FIXED_INFO);
    DWORD rc = iphlp().GetNetworkParams(reserved<FIXED_INFO>(buffer, size), &size);
    if (rc == ERROR_BUFFER_OVERFLOW)
        rc = iphlp().GetNetworkParams(reserved<FIXED_INFO>(buffer, size), &size);
    if (failed("GetNetworkParams", rc)) {
        w.null();
        return;
    }
    const auto& info = *reinterpret_cast<const FIXED_INFO*>(buffer.data());
    w.beginObject()
        .field("host_name", field(info.HostName))
        .field("domain_name", field(info.DomainName))
        .field("dns_enabled", info.EnableDns != 0)
        .field("routing_enabled", info.EnableRouting != 0)
        .field("proxy_arp_enabled", info.EnableProxy != 0)
        .field("node_type", info.NodeType);
    w.key("dns_servers").beginArray();
    for (const IP_ADDR_STRING* a : addressList(info.DnsServerList))
        w.string(field(a->IpAddress.String));
    w.endArray().endObject();
}

// ---- adapters ----

struct Ipv6Part {
    std::vector<const MIB_UNICASTIPADDRESS_ROW*> addresses;
    std::vector<const MIB_IPFORWARD_ROW2*> gateways;
};

struct DnsServer {
    std::string address;
    const char* family;
};

const char* scopeName(unsigned level) {
    switch (level) {
    case ScopeLevelInterface:
        return "host";
    case ScopeLevelLink:
        return "link";
    case ScopeLevelSubnet:
        return "subnet";
    case ScopeLevelAdmin:
        return "admin";
    case ScopeLevelSite:
        return "site";
    case ScopeLevelOrganization:
        return "organization";
    case ScopeLevelGlobal:
        return "global";
    default:
        return "other";
    }
}

const char* dadStateName(NL_DAD_STATE state) {
    switch (state) {
    case IpDadStateTentative:
        return "tentative";
    case IpDadStateDuplicate:
        return "duplicate";
    case IpDadStateDeprecated:
        return "deprecated";
    case IpDadStatePreferred:
        return "preferred";
    default:
        return "invalid";
    }
}

const char* prefixOriginName(NL_PREFIX_ORIGIN origin) {
    switch (origin) {
    case IpPrefixOriginManual:
        return "manual";
    case IpPrefixOriginWellKnown:
        return "well_known";
    case IpPrefixOriginDhcp:
        return "dhcp";
    case IpPrefixOriginRouterAdvertisement:
        return "router_advertisement";
    default:
        return "other";
    }
}

void lifetime(JsonWriter& w, std::string_view key, ULONG seconds) {
    if (seconds == INFINITE_LIFETIME)
        w.nullField(key);
    else
        w.field(key, seconds);
}

class AdapterSources {
public:
    AdapterSources() {
        MIB_UNICASTIPADDRESS_TABLE* a = nullptr;
        if (!failed("GetUnicastIpAddressTable", iphlp().GetUnicastIpAddressTable(AF_INET6, &a)))
            addresses_.reset(a);
        MIB_IPFORWARD_TABLE2* g = nullptr;
        if (!failed("GetIpForwardTable2", iphlp().GetIpForwardTable2(AF_INET6, &g)))
            forward_.reset(g);
        CORVANE_DNS_SERVER_TABLE* d = nullptr;
        if (!failed("CorvaneGetDnsServerTable", iphlp().CorvaneGetDnsServerTable(AF_UNSPEC, &d)))
            dns_.reset(d);
        index();
    }

    const Ipv6Part* ipv6(DWORD ifIndex) const {
        const auto it = ipv6_.find(ifIndex);
        return it == ipv6_.end() ? nullptr : &it->second;
    }
    // A link's own servers; the system-wide ones under index 0.
    const std::vector<DnsServer>& dns(DWORD ifIndex) const {
        static const std::vector<DnsServer> none;
        const auto it = dnsByIndex_.find(ifIndex);
        return it == dnsByIndex_.end() ? none : it->second;
    }

private:
    void index() {
        if (addresses_)
            for (ULONG i = 0; i < addresses_->NumEntries; ++i)
                if (addresses_->Table[i].Address.si_family == AF_INET6)
                    ipv6_[addresses_->Table[i].InterfaceIndex].addresses.push_back(
                        &addresses_->Table[i]);
        static const in6_addr any{};
        if (forward_)
            for (ULONG i = 0; i < forward_->NumEntries; ++i) {
                const MIB_IPFORWARD_ROW2& r = forward_->Table[i];
                const IP_ADDRESS_PREFIX& to = r.DestinationPrefix;
                if (to.Prefix.si_family == AF_INET6 && to.PrefixLength == 0 &&
                    r.NextHop.si_family == AF_INET6 &&
                    std::memcmp(&r.NextHop.Ipv6.sin6_addr, &any, sizeof any) != 0)
                    ipv6_[r.InterfaceIndex].gateways.push_back(&r);
            }
        if (dns_)
            for (ULONG i = 0; i < dns_->NumEntries; ++i) {
                const CORVANE_DNS_SERVER_ROW& r = dns_->Table[i];
                if (const auto text = sockaddrText(r.Address))
                    dnsByIndex_[r.InterfaceIndex].push_back(
                        {*text, familyName(r.Address.si_family)});
            }
    }

    MibTable<MIB_UNICASTIPADDRESS_TABLE> addresses_;
    MibTable<MIB_IPFORWARD_TABLE2> forward_;
    MibTable<CORVANE_DNS_SERVER_TABLE> dns_;
    std::unordered_map<DWORD, Ipv6Part> ipv6_;
    std::unordered_map<DWORD, std::vector<DnsServer>> dnsByIndex_;
};

void writeDnsServers(JsonWriter& w, std::string_view key, const std::vector<DnsServer>& servers) {
    w.key(key).beginArray();
    for (const DnsServer& s : servers)
        w.beginObject().field("address", s.address).field("family", s.family).endObject();
    w.endArray();
}

void writeIpv6(JsonWriter& w, const Ipv6Part* part) {
    w.key("ipv6_addresses").beginArray();
    if (part)
        for (const MIB_UNICASTIPADDRESS_ROW* a : part->addresses) {
            w.beginObject()
                .field("address", text6(&a->Address.Ipv6.sin6_addr))
                .field("prefix_length", a->OnLinkPrefixLength)
                .field("scope", scopeName(a->ScopeId.Level))
                .field("state", dadStateName(a->DadState))
                .field("origin", prefixOriginName(a->PrefixOrigin))
                .field("temporary", a->SuffixOrigin == IpSuffixOriginRandom);
            lifetime(w, "valid_lifetime", a->ValidLifetime);
            lifetime(w, "preferred_lifetime", a->PreferredLifetime);
            w.endObject();
        }
    w.endArray();
    w.key("ipv6_gateways").beginArray();
    if (part)
        for (const MIB_IPFORWARD_ROW2* g : part->gateways)
            w.beginObject()
                .field("address", text6(&g->NextHop.Ipv6.sin6_addr))
                .field("metric", g->Metric)
                .endObject();
    w.endArray();
}

void writeAdapters(JsonWriter& w) {
    std::vector<std::uint64_t> buffer;
    ULONG size = sizeof(IP_ADAPTER_INFO);
    DWORD rc = iphlp().GetAdaptersInfo(reserved<IP_ADAPTER_INFO>(buffer, size), &size);
    if (rc == ERROR_BUFFER_OVERFLOW)
        rc = iphlp().GetAdaptersInfo(reserved<IP_ADAPTER_INFO>(buffer, size), &size);
    // No adapter at all is an answer too, not a failure.
    const bool none = rc == ERROR_NO_DATA;
    const bool ok = !none && !failed("GetAdaptersInfo", rc);
    const AdapterSources sources;
    w.key("adapters").beginArray();
    int n = 0;
    for (auto* a = ok ? reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()) : nullptr;
         a && n < listLimit; a = a->Next, ++n) {
        w.beginObject()
            .field("index", a->Index)
            .field("name", field(a->AdapterName))
            .field("description", field(a->Description))
            .field("mac", macText(a->Address, std::min<std::size_t>(a->AddressLength,
                                                                    MAX_ADAPTER_ADDRESS_LENGTH)))
            .field("type", a->Type)
            .field("dhcp_enabled", a->DhcpEnabled != 0);
        w.key("ipv4_addresses").beginArray();
        for (const IP_ADDR_STRING* s : addressList(a->IpAddressList)) {
            w.beginObject().field("address", field(s->IpAddress.String));
            const std::string_view mask = field(s->IpMask.String);
            in_addr m{};
            const int prefix = ::inet_pton(AF_INET, std::string(mask).c_str(), &m) == 1
                                   ? prefixOfMask(ntohl(m.s_addr))
                                   : -1;
            w.field("netmask", mask);
            if (prefix >= 0)
                w.field("prefix_length", prefix);
            else
                w.nullField("prefix_length");
            w.endObject();
        }
        w.endArray();
        w.key("ipv4_gateways").beginArray();
        for (const IP_ADDR_STRING* s : addressList(a->GatewayList))
            w.string(field(s->IpAddress.String));
        w.endArray();
        w.key("dhcp");
        if (a->DhcpEnabled) {
            w.beginObject();
            const auto server = addressList(a->DhcpServer);
            if (server.empty())
                w.nullField("server");
            else
                w.field("server", field(server.front()->IpAddress.String));
            optionalTime(w, "lease_obtained", a->LeaseObtained);
            optionalTime(w, "lease_expires", a->LeaseExpires);
            w.endObject();
        } else {
            w.null();
        }
        writeIpv6(w, sources.ipv6(a->Index));
        writeDnsServers(w, "dns_servers", sources.dns(a->Index));
        w.endObject();
    }
    w.endArray();
    writeDnsServers(w, "system_dns_servers", sources.dns(0));
}

// ---- interfaces ----

// The counted text up to its terminating zero, without the blanks around it.
std::string_view descriptionOf(const MIB_IFROW& r) {
    std::string_view d(reinterpret_cast<const char*>(r.bDescr),
                       std::min<DWORD>(r.dwDescrLen, MAXLEN_IFDESCR));
    d = d.substr(0, d.find('\0'));
    while (!d.empty() && static_cast<unsigned char>(d.back()) <= ' ')
        d.remove_suffix(1);
    while (!d.empty() && static_cast<unsigned char>(d.front()) <= ' ')
        d.remove_prefix(1);
    return d;
}

void writeInterfaces(JsonWriter& w) {
    std::vector<DWORD> storage;
    ULONG size = oneRowIfTableSize;
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int i = 0; i < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        rc = iphlp().GetIfTable(reinterpret_cast<MIB_IFTABLE*>(storage.data()), &size, BOOL{1});
    }
    w.key("interfaces").beginArray();
    if (!failed("GetIfTable", rc)) {
        const auto& t = *reinterpret_cast<const MIB_IFTABLE*>(storage.data());
        const DWORD rows = rowsWithin(t, storage.size() * sizeof(DWORD));
        for (DWORD i = 0; i < rows; ++i) {
            const MIB_IFROW& r = t.table[i];
            const auto* name = reinterpret_cast<const char16_t*>(r.wszName);
            const std::size_t nameLength =
                std::find(name, name + MAX_INTERFACE_NAME_LEN, u'\0') - name;
            w.beginObject()
                .field("index", r.dwIndex)
                .field("name",
                       QString::fromUtf16(name, static_cast<qsizetype>(nameLength)).toStdString())
                .field("description", descriptionOf(r))
                .field("type", r.dwType)
                .field("type_name", utf8(interfaceTypeText(r.dwType)))
                .field("mtu", r.dwMtu)
                .field("speed", r.dwSpeed)
                .field("mac",
                       macText(r.bPhysAddr, std::min<DWORD>(r.dwPhysAddrLen, MAXLEN_PHYSADDR)))
                .field("admin_up", r.dwAdminStatus == MIB_IF_ADMIN_STATUS_UP)
                .field("oper_status", r.dwOperStatus)
                .field("oper_status_name", utf8(operStatusText(r.dwOperStatus)))
                .field("loopback", r.dwType == IF_TYPE_SOFTWARE_LOOPBACK)
                .field("last_change", r.dwLastChange);
            w.key("counters")
                .beginObject()
                .field("in_octets", r.dwInOctets)
                .field("in_unicast_packets", r.dwInUcastPkts)
                .field("in_non_unicast_packets", r.dwInNUcastPkts)
                .field("in_discards", r.dwInDiscards)
                .field("in_errors", r.dwInErrors)
                .field("in_unknown_protocols", r.dwInUnknownProtos)
                .field("out_octets", r.dwOutOctets)
                .field("out_unicast_packets", r.dwOutUcastPkts)
                .field("out_non_unicast_packets", r.dwOutNUcastPkts)
                .field("out_discards", r.dwOutDiscards)
                .field("out_errors", r.dwOutErrors)
                .field("out_queue_length", r.dwOutQLen)
                .endObject();
            w.endObject();
        }
    }
    w.endArray();
}

// ---- routes, rules and the store ----

const char* routeTypeName(std::uint8_t type) {
    switch (type) {
    case CORVANE_ROUTE_UNICAST:
        return "unicast";
    case CORVANE_ROUTE_LOCAL:
        return "local";
    case CORVANE_ROUTE_BROADCAST:
        return "broadcast";
    case CORVANE_ROUTE_ANYCAST:
        return "anycast";
    case CORVANE_ROUTE_MULTICAST:
        return "multicast";
    case CORVANE_ROUTE_BLACKHOLE:
        return "blackhole";
    case CORVANE_ROUTE_UNREACHABLE:
        return "unreachable";
    case CORVANE_ROUTE_PROHIBIT:
        return "prohibit";
    case CORVANE_ROUTE_THROW:
        return "throw";
    default:
        return nullptr;
    }
}

// Texts that repeat over a hundred thousand rows, made once each.
class TextCache {
public:
    const std::string& protocol(DWORD p) {
        auto it = protocols_.find(p);
        if (it == protocols_.end())
            it = protocols_.emplace(p, utf8(protocolName(p))).first;
        return it->second;
    }
    // Nothing for a table without a name.
    const std::optional<std::string>& table(std::uint32_t id, const RouteTableNames& names) {
        auto it = tables_.find(id);
        if (it == tables_.end()) {
            std::optional<std::string> name = names.name(id);
            if (*name == std::to_string(id))
                name.reset();
            it = tables_.emplace(id, std::move(name)).first;
        }
        return it->second;
    }

private:
    std::unordered_map<DWORD, std::string> protocols_;
    std::unordered_map<std::uint32_t, std::optional<std::string>> tables_;
};

void writeRoute(JsonWriter& w, const RouteRow& r, const RouteTableNames& names, TextCache& cache) {
    w.beginObject().field("family", r.ipv6() ? "ipv6" : "ipv4");
    int prefix = r.prefixLength;
    if (r.ipv6()) {
        w.field("destination", text6(r.destination6.data())).nullField("netmask");
    } else {
        prefix = prefixOfMask(r.mask);
        w.field("destination", quad(r.destination)).field("netmask", quad(r.mask));
    }
    if (prefix >= 0)
        w.field("prefix_length", prefix);
    else
        w.nullField("prefix_length");
    // The next hop as the text report shows it; the gateway of the other family kept apart.
    std::optional<std::string> gateway;
    if (r.kernelType == 0 && r.type == MIB_IPROUTE_TYPE_INDIRECT)
        gateway = quad(r.nextHop); // the forward table's rows name no gateway of their own
    else if (r.nextHopFamily == familyIpv6)
        gateway = text6(r.nextHop6.data());
    else if (r.nextHopFamily == familyIpv4) {
        std::uint32_t v4 = 0;
        std::memcpy(&v4, r.nextHop6.data(), sizeof v4);
        gateway = netQuad(v4);
    }
    if (r.ipv6())
        w.field("next_hop", gateway ? *gateway : std::string("::"));
    else
        w.field("next_hop", quad(r.nextHop));
    optionalString(w, "gateway", gateway);
    w.field("interface_index", r.ifIndex).field("metric", r.metric);
    if (r.table == routeTableMerged)
        w.nullField("table").nullField("table_name");
    else {
        w.field("table", r.table);
        optionalString(w, "table_name", cache.table(r.table, names));
    }
    w.field("protocol", r.protocol).field("protocol_name", cache.protocol(r.protocol));
    // Rows of the forward table carry none of the kernel's own fields.
    const bool kernel = r.kernelType != 0;
    if (kernel) {
        w.field("kernel_protocol", r.kernelProtocol).field("scope", r.scope);
        if (const char* type = routeTypeName(r.kernelType))
            w.field("type", type);
        else
            w.field("type", "other");
    } else {
        w.nullField("kernel_protocol").nullField("scope").nullField("type");
    }
    w.field("default", prefix == 0)
        .field("persistent", r.persistent)
        .field("loopback", filteredOut(r, {.ignoreLocalhost = true}))
        .field("broadcast", filteredOut(r, {.ignoreBroadcasts = true}))
        .endObject();
}

void writeRouteRows(JsonWriter& w, const std::vector<RouteRow>& rows,
                    const RouteTableNames& names) {
    writeElementsOnTwoCores<TextCache>(
        w, rows.size(),
        [&](JsonWriter& part, std::size_t first, std::size_t last, TextCache& cache) {
            for (std::size_t i = first; i < last; ++i)
                if (!rows[i].inactive())
                    writeRoute(part, rows[i], names, cache);
        });
}

// Every row of every table, as the routing parts show them.
RouteTableRead readAllRoutes() {
    return readRouteTable(
        {.ignoreLocalhost = false, .ignoreBroadcasts = false, .showIpv6 = true, .allTables = true});
}

void writeRoutingParts(JsonWriter& w, const RouteTableRead& read) {
    w.key("route_tables").beginArray();
    for (const std::uint32_t id : read.tableNames.ids())
        w.beginObject().field("id", id).field("name", read.tableNames.name(id)).endObject();
    w.endArray();

    w.key("routes").beginArray();
    writeRouteRows(w, read.fill.rows, read.tableNames);
    w.endArray();

    w.key("rules").beginArray();
    for (const RuleRow& r : read.rules)
        w.beginObject()
            .field("priority", r.priority)
            .field("family", r.family == QLatin1String("IPv6") ? "ipv6" : "ipv4")
            .field("selectors", utf8(r.selectors))
            .field("action", utf8(r.action))
            .endObject();
    w.endArray();

    // The store as it is now; a name is active when a live route bears it.
    const std::vector<std::string> stored = ReadPersistentRouteNames();
    std::unordered_set<std::string> inactive;
    for (const RouteRow& r : inactivePersistentRows(read.fill.rows, stored))
        inactive.insert(r.storedName());
    w.key("persistent_routes").beginArray();
    for (const std::string& name : stored) {
        w.beginObject()
            .field("name", name)
            .field("wide", false)
            .field("active", !inactive.contains(name));
        if (const std::optional<PersistentRoute> p = parsePersistentRouteName(name))
            w.field("destination", quad(p->destination))
                .field("netmask", quad(p->mask))
                .field("next_hop", quad(p->nextHop))
                .field("metric", p->metric);
        else
            w.nullField("destination")
                .nullField("netmask")
                .nullField("next_hop")
                .nullField("metric");
        w.endObject();
    }
    // The second key (IPv6 routes, other tables): active when a live row bears the name.
    const auto lowered = [](std::string t) {
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return t;
    };
    const InterfaceNameOf nameOf = systemInterfaceNames();
    std::unordered_set<std::string> borne;
    for (const RouteRow& r : read.fill.rows)
        if (r.persistent && !r.inactive() && hasWidePersistentName(r))
            borne.insert(lowered(widePersistentRouteName(r, nameOf)));
    for (const std::string& name : ReadWidePersistentRouteNames())
        w.beginObject()
            .field("name", name)
            .field("wide", true)
            .field("active", borne.contains(lowered(name)))
            .nullField("destination")
            .nullField("netmask")
            .nullField("next_hop")
            .nullField("metric")
            .endObject();
    w.endArray();
}

// ---- connections ----

// A two-call table into storage, grown to what the platform asks for, a few times at most
// (sockets come and go meanwhile); the last call's result.
template <typename Table, typename Get>
DWORD readSocketTable(std::vector<DWORD>& storage, Get get) {
    DWORD size = sizeof(Table);
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int i = 0; i < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 64, 0);
        size = static_cast<DWORD>(storage.size() * sizeof(DWORD));
        rc = get(storage.data(), &size);
    }
    return rc;
}

class Owners {
public:
    Owners() {
        IpHelper& h = iphlp();
        if (!h.CreateToolhelp32Snapshot)
            return;
        HANDLE snapshot = h.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr)
            return;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = h.Process32First(snapshot, &entry); more;
             more = h.Process32Next(snapshot, &entry))
            names_.emplace(entry.th32ProcessID, std::string(field(entry.szExeFile)));
        h.CloseHandle(snapshot);
    }
    void write(JsonWriter& w, DWORD pid) const {
        if (pid == 0) {
            w.nullField("owner_pid").nullField("owner_name");
            return;
        }
        w.field("owner_pid", pid);
        const auto it = names_.find(pid);
        if (it == names_.end())
            w.nullField("owner_name");
        else
            w.field("owner_name", it->second);
    }

private:
    std::unordered_map<DWORD, std::string> names_;
};

// One endpoint table as it was read: its rows, or the call's failure.
struct SocketTable {
    explicit SocketTable(const char* readBy) : call(readBy) {}
    const char* call; // the platform call that reads it, as a failure names it
    std::vector<DWORD> storage;
    DWORD rc = ERROR_NO_DATA; // until read
    template <typename Table> const Table* as() const {
        return rc == NO_ERROR ? reinterpret_cast<const Table*>(storage.data()) : nullptr;
    }
    template <typename Table> DWORD rows() const {
        return rowsWithin(*as<Table>(), storage.size() * sizeof(DWORD));
    }
};

// Every endpoint table and the processes' names, read before anything of them is written.
struct SocketTables {
    SocketTable tcp4{"GetExtendedTcpTable"}, udp4{"GetExtendedUdpTable"},
        tcp6{"GetExtendedTcpTable"}, udp6{"GetExtendedUdpTable"};
    std::optional<Owners> owners;

    void read() {
        IpHelper& h = iphlp();
        tcp4.rc = readSocketTable<MIB_TCPTABLE_OWNER_PID>(tcp4.storage, [&](void* p, DWORD* n) {
            return h.GetExtendedTcpTable(p, n, BOOL{1}, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
        });
        udp4.rc = readSocketTable<MIB_UDPTABLE_OWNER_PID>(udp4.storage, [&](void* p, DWORD* n) {
            return h.GetExtendedUdpTable(p, n, BOOL{1}, AF_INET, UDP_TABLE_OWNER_PID, 0);
        });
        tcp6.rc = readSocketTable<CORVANE_TCP6TABLE_OWNER_PID_FLAGS>(
            tcp6.storage, [&](void* p, DWORD* n) {
                return h.GetExtendedTcpTable(p, n, BOOL{1}, AF_INET6,
                                             CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL, 0);
            });
        udp6.rc = readSocketTable<CORVANE_UDP6TABLE_OWNER_PID_FLAGS>(
            udp6.storage, [&](void* p, DWORD* n) {
                return h.GetExtendedUdpTable(p, n, BOOL{1}, AF_INET6,
                                             CORVANE_UDP_TABLE_OWNER_PID_FLAGS, 0);
            });
        owners.emplace();
    }
    // On the thread that reports; in the order the tables are read.
    void reportFailures() const {
        for (const SocketTable* t : {&tcp4, &udp4, &tcp6, &udp6})
            (void)failed(t->call, t->rc);
    }
};

bool loopback4(DWORD netAddr) {
    return (ntohl(netAddr) >> 24) == 127;
}

void endpoint(JsonWriter& w, const char* side, const std::string& address, DWORD scope,
              DWORD port) {
    const std::string s(side);
    w.field(s + "_address", address)
        .field(s + "_scope_id", scope)
        .field(s + "_port", hostPort(port));
}

void tcpState(JsonWriter& w, DWORD state) {
    std::string name = utf8(tcpStateName(state));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    w.field("state", name)
        .field("state_code", state)
        .field("established", state == MIB_TCP_STATE_ESTAB);
}

void writeConnections(JsonWriter& w, const SocketTables& tables) {
    const Owners& owners = *tables.owners;
    w.key("connections").beginArray();
    if (const auto* t = tables.tcp4.as<MIB_TCPTABLE_OWNER_PID>()) {
        struct Stateless {};
        writeElementsOnTwoCores<Stateless>(
            w, tables.tcp4.rows<MIB_TCPTABLE_OWNER_PID>(),
            [&](JsonWriter& part, std::size_t first, std::size_t last, Stateless&) {
                for (std::size_t i = first; i < last; ++i) {
                    const MIB_TCPROW_OWNER_PID& r = t->table[i];
                    part.beginObject()
                        .field("protocol", "tcp")
                        .field("family", "ipv4")
                        .field("dual_stack", false);
                    endpoint(part, "local", netQuad(r.dwLocalAddr), 0, r.dwLocalPort);
                    endpoint(part, "remote", netQuad(r.dwRemoteAddr), 0, r.dwRemotePort);
                    tcpState(part, r.dwState);
                    part.field("loopback", loopback4(r.dwLocalAddr));
                    owners.write(part, r.dwOwningPid);
                    part.endObject();
                }
            });
    }
    if (const auto* t = tables.udp4.as<MIB_UDPTABLE_OWNER_PID>()) {
        const DWORD n = tables.udp4.rows<MIB_UDPTABLE_OWNER_PID>();
        for (DWORD i = 0; i < n; ++i) {
            const MIB_UDPROW_OWNER_PID& r = t->table[i];
            w.beginObject()
                .field("protocol", "udp")
                .field("family", "ipv4")
                .field("dual_stack", false);
            endpoint(w, "local", netQuad(r.dwLocalAddr), 0, r.dwLocalPort);
            w.nullField("remote_address").nullField("remote_scope_id").nullField("remote_port");
            w.nullField("state").nullField("state_code").field("established", false);
            w.field("loopback", loopback4(r.dwLocalAddr));
            owners.write(w, r.dwOwningPid);
            w.endObject();
        }
    }
    if (const auto* t = tables.tcp6.as<CORVANE_TCP6TABLE_OWNER_PID_FLAGS>()) {
        const DWORD n = tables.tcp6.rows<CORVANE_TCP6TABLE_OWNER_PID_FLAGS>();
        for (DWORD i = 0; i < n; ++i) {
            const MIB_TCP6ROW_OWNER_PID& r = t->table[i].Row;
            const Ip6Address local = Ip6Address::of(r.ucLocalAddr, r.dwLocalScopeId);
            const bool v6only = (t->table[i].dwFlags & CORVANE_SOCKET_V6ONLY) != 0;
            w.beginObject()
                .field("protocol", "tcp")
                .field("family", "ipv6")
                .field("dual_stack", !v6only && local.unspecified());
            endpoint(w, "local", text6(r.ucLocalAddr), r.dwLocalScopeId, r.dwLocalPort);
            endpoint(w, "remote", text6(r.ucRemoteAddr), r.dwRemoteScopeId, r.dwRemotePort);
            tcpState(w, r.dwState);
            w.field("loopback", local.loopback());
            owners.write(w, r.dwOwningPid);
            w.endObject();
        }
    }
    if (const auto* t = tables.udp6.as<CORVANE_UDP6TABLE_OWNER_PID_FLAGS>()) {
        const DWORD n = tables.udp6.rows<CORVANE_UDP6TABLE_OWNER_PID_FLAGS>();
        for (DWORD i = 0; i < n; ++i) {
            const MIB_UDP6ROW_OWNER_PID& r = t->table[i].Row;
            const Ip6Address local = Ip6Address::of(r.ucLocalAddr, r.dwLocalScopeId);
            const bool v6only = (t->table[i].dwFlags & CORVANE_SOCKET_V6ONLY) != 0;
            w.beginObject()
                .field("protocol", "udp")
                .field("family", "ipv6")
                .field("dual_stack", !v6only && local.unspecified());
            endpoint(w, "local", text6(r.ucLocalAddr), r.dwLocalScopeId, r.dwLocalPort);
            w.nullField("remote_address").nullField("remote_scope_id").nullField("remote_port");
            w.nullField("state").nullField("state_code").field("established", false);
            w.field("loopback", local.loopback());
            owners.write(w, r.dwOwningPid);
            w.endObject();
        }
    }
    w.endArray();
}

// ---- IP statistics ----

void writeIpStatistics(JsonWriter& w) {
    w.key("ip_statistics");
    MIB_IPSTATS s{};
    if (failed("GetIpStatistics", iphlp().GetIpStatistics(&s))) {
        w.null();
        return;
    }
    w.beginObject()
        .field("forwarding", s.dwForwarding == 1)
        .field("default_ttl", s.dwDefaultTTL)
        .field("in_receives", s.dwInReceives)
        .field("in_header_errors", s.dwInHdrErrors)
        .field("in_address_errors", s.dwInAddrErrors)
        .field("forwarded_datagrams", s.dwForwDatagrams)
        .field("in_unknown_protocols", s.dwInUnknownProtos)
        .field("in_discards", s.dwInDiscards)
        .field("in_delivers", s.dwInDelivers)
        .field("out_requests", s.dwOutRequests)
        .field("routing_discards", s.dwRoutingDiscards)
        .field("out_discards", s.dwOutDiscards)
        .field("out_no_routes", s.dwOutNoRoutes)
        .field("reassembly_timeout", s.dwReasmTimeout)
        .field("reassembly_required", s.dwReasmReqds)
        .field("reassembly_oks", s.dwReasmOks)
        .field("reassembly_fails", s.dwReasmFails)
        .field("fragment_oks", s.dwFragOks)
        .field("fragment_fails", s.dwFragFails)
        .field("fragment_creates", s.dwFragCreates)
        .field("interfaces", s.dwNumIf)
        .field("addresses", s.dwNumAddr)
        .field("routes", s.dwNumRoutes)
        .endObject();
}

} // namespace

std::string isoTime(std::time_t when) {
    struct tm local {};
    if (!::localtime_r(&when, &local))
        return {};
    char text[40] = "";
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return text;
}

void writeJsonReport(const std::function<void(std::string_view)>& put, const char* version) {
    // Handed on in pieces of about this size, each ending with a row: the text is never held
    // whole, and its memory is used again for every piece.
    constexpr std::size_t kPiece = 64U << 10;
    // The routes' dump and the connections' pass over every process run beside the other
    // reads.
    if (iphlp().CorvaneWarmReads)
        (void)iphlp().CorvaneWarmReads();
    std::string out;
    out.reserve(kPiece + (4U << 10));
    JsonWriter w(out);
    w.spillTo(put, kPiece);
    w.beginObject().field("schema_version", jsonReportSchemaVersion);
    w.key("generator").beginObject().field("name", "corvane").field("version", version).endObject();
    w.field("generated_at", isoTime(std::time(nullptr)));
    writeHost(w);
    writeAdapters(w);
    writeInterfaces(w);
    // Both read before either is written, on two threads: this one turns the routes' dump
    // into rows while the other dumps the sockets and shares the read-ahead's pass over every
    // process for their owners.
    RouteTableRead routes;
    SocketTables sockets;
    besides([&] { routes = readAllRoutes(); }, [&] { sockets.read(); });
    writeRoutingParts(w, routes);
    sockets.reportFailures();
    writeConnections(w, sockets);
    writeIpStatistics(w);
    w.endObject();
    out += '\n';
    w.flush();
}

} // namespace corvane
