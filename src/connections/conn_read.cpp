#include "connections/conn_read.h"
#include "platform/ifindex.h"

#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "platform/systemtext.h"
#include "session/options.h"

#include <QElapsedTimer>
#include <array>
#include <cstdlib>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace corvane {
namespace {

// The texts of one listing under the options as they stand when it starts.
class RowMaker {
public:
    explicit RowMaker(const ConnListing& listing) : listing_(listing) {
        filter.ignoreLocalhost = listing.ignoreLocalhost;
        filter.establishedOnly = listing.establishedOnly;
        sinceYield_.start();
    }

    ConnFilter filter;

    ConnRow tcp(DWORD state, DWORD localAddr, DWORD localPort, DWORD remoteAddr, DWORD remotePort) {
        ConnRow row;
        row.dataWord = 1;
        row.texts = {QStringLiteral("TCP"),      address(localAddr, true), port(localPort, "tcp"),
                     address(remoteAddr, false), port(remotePort, "tcp"),  tcpStateName(state),
                     viaInterface(remoteAddr)};
        return row;
    }
    ConnRow udp(DWORD localAddr, DWORD localPort) {
        ConnRow row;
        row.texts = {QStringLiteral("UDP"), address(localAddr, true), port(localPort, "udp")};
        return row;
    }

    // Lets the window breathe during long TCP listings. Pumping after every one of thousands
    // of rows costs more than the listing itself, so at most every few milliseconds.
    void yield() {
        if (!listing_.yield || sinceYield_.elapsed() < yieldIntervalMs)
            return;
        listing_.yield();
        sinceYield_.restart();
    }

private:
    static constexpr qint64 yieldIntervalMs = 10;

    QString address(DWORD a, bool isLocal) const {
        return listing_.resolveAddresses ? ResolveAddressName(a, isLocal) : dottedAddress(a);
    }
    QString port(DWORD p, const char* protocol) const {
        return listing_.resolvePorts ? ResolveServiceName(p, protocol) : portNumber(p);
    }
    // Many connections share a few peers; one lookup per peer and listing gives the same text.
    QString viaInterface(DWORD remoteAddr) {
        const auto it = via_.find(remoteAddr);
        if (it != via_.end())
            return it->second;
        DWORD index = 0;
        // No outgoing interface (a failed lookup) leaves the cell empty.
        QString text = iphlp().GetBestInterface(remoteAddr, &index) == NO_ERROR
                           ? interfaceIndexText(index)
                           : QString();
        via_.emplace(remoteAddr, text);
        return text;
    }

    const ConnListing& listing_;
    std::unordered_map<DWORD, QString> via_;
    QElapsedTimer sinceYield_;
};

struct FreeTable {
    void operator()(void* p) const { std::free(p); }
};
using ExTable = std::unique_ptr<void, FreeTable>;

// Every process of one snapshot; a failed snapshot is said once, even with error messages off.
std::optional<OwnerNames> takeOwnerNames() {
    OwnerNames names;
    IpHelper& h = iphlp();
    HANDLE snapshot = h.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr) {
        showMessage(QStringLiteral("Failed to get process names."), QStringLiteral("Error"),
                    MsgIcon::Warning);
        return std::nullopt;
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(PROCESSENTRY32);
    for (BOOL more = h.Process32First(snapshot, &entry); more;
         more = h.Process32Next(snapshot, &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        names.add(entry.th32ProcessID, systemText(entry.szExeFile));
    }
    h.CloseHandle(snapshot);
    return names;
}

bool extendedEntriesBound() {
    const IpHelper& h = iphlp();
    return h.AllocateAndGetTcpExTableFromStack && h.AllocateAndGetUdpExTableFromStack &&
           h.CreateToolhelp32Snapshot && h.Process32First && h.Process32Next;
}

// A plain table into storage, grown once to the size the platform asks for; nothing when
// the call failed (reported). The first try has room for one row.
template <typename Table, typename Get>
const Table* readPlainTable(std::vector<DWORD>& storage, Get get, const char* name) {
    DWORD size = 0;
    storage.assign(offsetof(Table, table) / sizeof(DWORD) + sizeof(Table::table[0]) / sizeof(DWORD),
                   0);
    DWORD rc = get(reinterpret_cast<Table*>(storage.data()), &size, BOOL{1});
    if (rc == ERROR_INSUFFICIENT_BUFFER) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        rc = get(reinterpret_cast<Table*>(storage.data()), &size, BOOL{1});
    }
    if (rc != NO_ERROR) {
        ReportFailure(QString::fromLatin1(name), rc);
        return nullptr;
    }
    return reinterpret_cast<const Table*>(storage.data());
}

} // namespace

QString ResolveAddressName(DWORD netAddr, bool isLocal) {
    QString dotted = dottedAddress(netAddr);
    const auto* b = reinterpret_cast<const unsigned char*>(&netAddr);
    const bool zero = netAddr == 0;
    const bool loop = b[0] == 127;
    if (zero || loop) {
        if (!isLocal)
            return zero ? dotted : QStringLiteral("localhost");
        std::array<char, 256> name{};
        if (::gethostname(name.data(), 255) != 0)
            return dotted;
        return systemText(name.data());
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = netAddr;
    std::array<char, NI_MAXHOST> host{};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host.data(),
                      static_cast<socklen_t>(host.size()), nullptr, 0, NI_NAMEREQD) != 0)
        return dotted;
    return systemText(host.data());
}

QString ResolveServiceName(DWORD netPort, const char* protocol) {
    // The services database wants the port as a network-order int.
    const int port = static_cast<int>(htons(hostPort(netPort)));
    const servent* s = ::getservbyport(port, protocol);
    if (s == nullptr || s->s_name == nullptr)
        return portNumber(netPort);
    return systemText(s->s_name);
}

std::vector<ConnRow> ListConnectionsExtended(const ConnListing& listing) {
    RowMaker make(listing);
    std::vector<ConnRow> rows;
    IpHelper& h = iphlp();

    void* tcpRaw = nullptr;
    const DWORD tcpRc = h.AllocateAndGetTcpExTableFromStack(&tcpRaw, BOOL{1}, nullptr, 2, 2);
    const ExTable tcpTable(tcpRaw);
    if (tcpRc != NO_ERROR)
        ReportFailure(QStringLiteral("AllocateAndGetTcpExTableFromStack"), tcpRc);
    void* udpRaw = nullptr;
    const DWORD udpRc = h.AllocateAndGetUdpExTableFromStack(&udpRaw, BOOL{1}, nullptr, 2, 2);
    const ExTable udpTable(udpRaw);
    if (udpRc != NO_ERROR)
        ReportFailure(QStringLiteral("AllocateAndGetUdpExTableFromStack"), udpRc);

    // A failed snapshot leaves TCP rows without owner text but still names UDP rows "???".
    const std::optional<OwnerNames> owners = takeOwnerNames();
    const OwnerNames none;
    const OwnerNames& names = owners ? *owners : none;

    if (tcpRc == NO_ERROR && tcpTable) {
        const auto& t = *static_cast<const MIB_TCPEXTABLE*>(tcpTable.get());
        rows.reserve(t.dwNumEntries);
        for (DWORD i = 0; i < t.dwNumEntries; ++i) {
            const MIB_TCPEXROW& r = t.table[i];
            if (!skipTcpRow(make.filter, r.dwState, r.dwLocalAddr)) {
                ConnRow row = make.tcp(r.dwState, r.dwLocalAddr, r.dwLocalPort, r.dwRemoteAddr,
                                       r.dwRemotePort);
                if (owners)
                    row.texts.append(names.name(r.dwProcessId));
                rows.push_back(std::move(row));
            }
            make.yield();
        }
    }
    if (!make.filter.establishedOnly && udpRc == NO_ERROR && udpTable) {
        const auto& t = *static_cast<const MIB_UDPEXTABLE*>(udpTable.get());
        for (DWORD i = 0; i < t.dwNumEntries; ++i) {
            const MIB_UDPEXROW& r = t.table[i];
            if (skipUdpRow(make.filter, r.dwLocalAddr))
                continue;
            ConnRow row = make.udp(r.dwLocalAddr, r.dwLocalPort);
            row.texts << QString() << QString() << QString() << QString()
                      << names.name(r.dwProcessId);
            rows.push_back(std::move(row));
        }
    }
    appendIpv6Connections(listing, owners ? &names : nullptr, &names, rows);
    return rows;
}

std::vector<ConnRow> ListConnectionsPlain(const ConnListing& listing) {
    RowMaker make(listing);
    std::vector<ConnRow> rows;
    IpHelper& h = iphlp();

    std::vector<DWORD> storage;
    if (const auto* t = readPlainTable<MIB_TCPTABLE>(storage, h.GetTcpTable, "GetTcpTable")) {
        const DWORD n = rowsWithin(*t, storage.size() * sizeof(DWORD));
        for (DWORD i = 0; i < n; ++i) {
            const MIB_TCPROW& r = t->table[i];
            if (!skipTcpRow(make.filter, r.dwState, r.dwLocalAddr))
                rows.push_back(make.tcp(r.dwState, r.dwLocalAddr, r.dwLocalPort, r.dwRemoteAddr,
                                        r.dwRemotePort));
            make.yield();
        }
    }
    if (!make.filter.establishedOnly)
        if (const auto* t = readPlainTable<MIB_UDPTABLE>(storage, h.GetUdpTable, "GetUdpTable")) {
            const DWORD n = rowsWithin(*t, storage.size() * sizeof(DWORD));
            for (DWORD i = 0; i < n; ++i) {
                const MIB_UDPROW& r = t->table[i];
                if (!skipUdpRow(make.filter, r.dwLocalAddr))
                    rows.push_back(make.udp(r.dwLocalAddr, r.dwLocalPort));
            }
        }
    appendIpv6Connections(listing, nullptr, nullptr, rows);
    return rows;
}

ConnListing connListing(const RuntimeOptions& o, bool xpFamily) {
    ConnListing listing;
    listing.resolvePorts = o.optResolvePorts;
    listing.resolveAddresses = o.optResolveAddresses;
    listing.establishedOnly = o.optEstablishedOnly;
    listing.ignoreLocalhost = o.optIgnoreLocalhost;
    listing.xpFamily = xpFamily;
    listing.showIpv6 = o.optShowIpv6;
    return listing;
}

std::vector<ConnRow> readConnections(const ConnListing& listing) {
    if (!listing.xpFamily || !extendedEntriesBound())
        return ListConnectionsPlain(listing);
    try {
        return ListConnectionsExtended(listing);
    } catch (...) {
        return ListConnectionsPlain(listing);
    }
}

} // namespace corvane
