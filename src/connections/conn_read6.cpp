// The IPv6 endpoints of the Netstat page, listed after the IPv4 ones: one dump per protocol.
#include "connections/conn_read.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "platform/systemtext.h"

#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane {
namespace {

constexpr int maxTableTries = 4; // the table may grow between the measuring and the reading call

// A table by the two-call protocol into storage; nothing when the call failed. A system
// without IPv6 answers ERROR_NOT_SUPPORTED: it has nothing to list, which is no failure.
template <typename Table, typename Get>
const Table* readTable6(std::vector<DWORD>& storage, Get get, const char* name) {
    DWORD size = 0;
    DWORD rc = get(nullptr, &size);
    for (int i = 0; i < maxTableTries && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        rc = get(storage.data(), &size);
    }
    if (rc == ERROR_NOT_SUPPORTED)
        return nullptr;
    if (rc != NO_ERROR) {
        ReportFailure(QString::fromLatin1(name), rc);
        return nullptr;
    }
    if (storage.size() * sizeof(DWORD) < offsetof(Table, table))
        return nullptr;
    return reinterpret_cast<const Table*>(storage.data());
}

QString interfaceName(DWORD index) {
    std::array<char, IF_NAMESIZE> name{};
    return ::if_indextoname(index, name.data()) != nullptr ? systemText(name.data()) : QString();
}

// The interface towards a peer: the zone of a link-local peer, the IPv4 lookup for a mapped
// one, otherwise the longest matching prefix of the IPv6 forward table (read once, on the
// first peer that needs it). A route to one of this host's addresses leaves by loopback, as
// the IPv4 lookup answers.
class Via6 {
public:
    QString text(const Ip6Address& peer) {
        Key key{};
        std::copy(peer.bytes.begin(), peer.bytes.end(), key.begin());
        std::memcpy(key.data() + 16, &peer.zone, sizeof peer.zone);
        const auto it = cache_.find(key);
        if (it != cache_.end())
            return it->second;
        const std::optional<DWORD> index = lookup(peer);
        return cache_.emplace(key, index ? interfaceIndexText(*index) : QString()).first->second;
    }

private:
    using Key = std::array<unsigned char, 20>;
    struct Route {
        std::array<unsigned char, 16> prefix;
        int length;
        ULONG metric;
        DWORD ifIndex;
    };

    std::optional<DWORD> lookup(const Ip6Address& peer) {
        if (peer.zone != 0)
            return peer.zone;
        if (peer.mapped4()) {
            DWORD index = 0;
            if (iphlp().GetBestInterface(peer.mapped4Address(), &index) == NO_ERROR)
                return index;
            return std::nullopt;
        }
        loadRoutes();
        for (const Route& r : routes_)
            if (covers(r, peer))
                return r.ifIndex;
        return std::nullopt;
    }

    static bool covers(const Route& r, const Ip6Address& a) {
        const int whole = r.length / 8;
        if (!std::equal(r.prefix.begin(), r.prefix.begin() + whole, a.bytes.begin()))
            return false;
        const int rest = r.length % 8;
        if (rest == 0)
            return true;
        const auto mask = static_cast<unsigned char>(0xFF << (8 - rest));
        return (r.prefix[whole] & mask) == (a.bytes[whole] & mask);
    }

    void loadRoutes() {
        if (loaded_)
            return;
        loaded_ = true;
        IpHelper& h = iphlp();
        MIB_IPFORWARD_TABLE2* table = nullptr;
        if (!h.GetIpForwardTable2 || !h.FreeMibTable ||
            h.GetIpForwardTable2(AF_INET6, &table) != NO_ERROR || table == nullptr)
            return;
        const DWORD lo = ::if_nametoindex("lo");
        routes_.reserve(table->NumEntries);
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IPFORWARD_ROW2& row = table->Table[i];
            const SOCKADDR_IN6& p = row.DestinationPrefix.Prefix.Ipv6;
            if (p.sin6_family != AF_INET6 || row.DestinationPrefix.PrefixLength > 128)
                continue;
            Route r{};
            std::memcpy(r.prefix.data(), &p.sin6_addr, 16);
            r.length = row.DestinationPrefix.PrefixLength;
            r.metric = row.Metric;
            r.ifIndex = row.Loopback && lo != 0 ? lo : row.InterfaceIndex;
            routes_.push_back(r);
        }
        h.FreeMibTable(table);
        std::stable_sort(routes_.begin(), routes_.end(), [](const Route& a, const Route& b) {
            return a.length != b.length ? a.length > b.length : a.metric < b.metric;
        });
    }

    std::map<Key, QString> cache_;
    std::vector<Route> routes_;
    bool loaded_ = false;
};

class Rows6 {
public:
    Rows6(const ConnListing& listing, std::vector<ConnRow>& rows) : listing_(listing), rows_(rows) {
        filter_.ignoreLocalhost = listing.ignoreLocalhost;
        filter_.establishedOnly = listing.establishedOnly;
        sinceYield_.start();
    }

    void tcp(const OwnerNames* owners) {
        std::vector<DWORD> storage;
        const auto* t = readTable6<CORVANE_TCP6TABLE_OWNER_PID_FLAGS>(
            storage,
            [](void* table, DWORD* size) {
                return iphlp().GetExtendedTcpTable(table, size, BOOL{1}, AF_INET6,
                                                   CORVANE_TCP_TABLE_OWNER_PID_FLAGS_ALL, 0);
            },
            "GetExtendedTcpTable");
        if (t == nullptr)
            return;
        const DWORD n = rowsWithin(*t, storage.size() * sizeof(DWORD));
        for (DWORD i = 0; i < n; ++i) {
            const MIB_TCP6ROW_OWNER_PID& r = t->table[i].Row;
            const Ip6Address local = Ip6Address::of(r.ucLocalAddr, r.dwLocalScopeId);
            if (!skipTcp6Row(filter_, r.dwState, local)) {
                const Ip6Address remote = Ip6Address::of(r.ucRemoteAddr, r.dwRemoteScopeId);
                ConnRow row;
                row.dataWord = 1;
                const bool v6only = (t->table[i].dwFlags & CORVANE_SOCKET_V6ONLY) != 0;
                row.texts = {ipv6Protocol(true, v6only, local),
                             address(local, true),
                             port(r.dwLocalPort, "tcp"),
                             address(remote, false),
                             port(r.dwRemotePort, "tcp"),
                             tcpStateName(r.dwState),
                             via_.text(remote)};
                if (owners != nullptr)
                    row.texts.append(owners->name(r.dwOwningPid));
                rows_.push_back(std::move(row));
            }
            yield();
        }
    }

    void udp(const OwnerNames* owners) {
        if (filter_.establishedOnly)
            return;
        std::vector<DWORD> storage;
        const auto* t = readTable6<CORVANE_UDP6TABLE_OWNER_PID_FLAGS>(
            storage,
            [](void* table, DWORD* size) {
                return iphlp().GetExtendedUdpTable(table, size, BOOL{1}, AF_INET6,
                                                   CORVANE_UDP_TABLE_OWNER_PID_FLAGS, 0);
            },
            "GetExtendedUdpTable");
        if (t == nullptr)
            return;
        const DWORD n = rowsWithin(*t, storage.size() * sizeof(DWORD));
        for (DWORD i = 0; i < n; ++i) {
            const MIB_UDP6ROW_OWNER_PID& r = t->table[i].Row;
            const Ip6Address local = Ip6Address::of(r.ucLocalAddr, r.dwLocalScopeId);
            if (skipUdp6Row(filter_, local))
                continue;
            ConnRow row;
            const bool v6only = (t->table[i].dwFlags & CORVANE_SOCKET_V6ONLY) != 0;
            row.texts = {ipv6Protocol(false, v6only, local), address(local, true),
                         port(r.dwLocalPort, "udp")};
            if (owners != nullptr)
                row.texts << QString() << QString() << QString() << QString()
                          << owners->name(r.dwOwningPid);
            rows_.push_back(std::move(row));
        }
    }

private:
    static constexpr qint64 yieldIntervalMs = 10;

    QString address(const Ip6Address& a, bool isLocal) const {
        if (listing_.resolveAddresses)
            return ResolveAddressName6(a, isLocal);
        return ipv6Text(a, a.zone != 0 ? interfaceName(a.zone) : QString());
    }
    QString port(DWORD p, const char* protocol) const {
        return listing_.resolvePorts ? ResolveServiceName(p, protocol) : portNumber(p);
    }
    void yield() {
        if (!listing_.yield || sinceYield_.elapsed() < yieldIntervalMs)
            return;
        listing_.yield();
        sinceYield_.restart();
    }

    const ConnListing& listing_;
    std::vector<ConnRow>& rows_;
    ConnFilter filter_;
    Via6 via_;
    QElapsedTimer sinceYield_;
};

} // namespace

bool ipv6EntriesBound() {
    const IpHelper& h = iphlp();
    return h.GetExtendedTcpTable && h.GetExtendedUdpTable;
}

void appendIpv6Connections(const ConnListing& listing, const OwnerNames* tcpOwners,
                           const OwnerNames* udpOwners, std::vector<ConnRow>& rows) {
    if (!listing.showIpv6 || !ipv6EntriesBound())
        return;
    Rows6 make(listing, rows);
    make.tcp(tcpOwners);
    make.udp(udpOwners);
}

QString ResolveAddressName6(const Ip6Address& a, bool isLocal) {
    QString text = ipv6Text(a, a.zone != 0 ? interfaceName(a.zone) : QString());
    const bool zero = a.unspecified();
    if (zero || a.loopback()) {
        if (!isLocal)
            return zero ? text : QStringLiteral("localhost");
        std::array<char, 256> name{};
        if (::gethostname(name.data(), 255) != 0)
            return text;
        return systemText(name.data());
    }
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, a.bytes.data(), 16);
    sa.sin6_scope_id = a.zone;
    std::array<char, NI_MAXHOST> host{};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host.data(),
                      static_cast<socklen_t>(host.size()), nullptr, 0, NI_NAMEREQD) != 0)
        return text;
    return systemText(host.data());
}

} // namespace corvane
