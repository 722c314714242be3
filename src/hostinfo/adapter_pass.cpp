// The per-adapter rules of the IP Info tree.
#include "hostinfo/adapter_pass.h"
#include "platform/systemtext.h"

#include "platform/ifindex.h"
#include "values/ip.h"
#include "widgets/imageindex.h"

#include <climits>
#include <cstring>
#include <ctime>

namespace corvane {
namespace {

QString addressText(const IP_ADDR_STRING& e) {
    return systemText(e.IpAddress.String);
}
QString maskText(const IP_ADDR_STRING& e) {
    return systemText(e.IpMask.String);
}

TreeNode node(const QString& text, int image) {
    TreeNode n;
    n.text = text;
    n.image = image;
    return n;
}

QString logPrefix(const QDateTime& at, const QString& description) {
    const QDate d = at.date();
    const QTime t = at.time();
    return QString::asprintf("%02i-%02i-%04i %02i:%02i:%02i,%03i ", d.day(), d.month(), d.year(),
                             t.hour(), t.minute(), t.second(), t.msec()) +
           description + QLatin1Char(':');
}

void offerDnsServer(AdapterPassResult& r, const QString& server) {
    if (!r.dnsServers.contains(server))
        r.dnsServers.append(server);
}

void addDnsSection(TreeNode& adapter, TreeNode& apipa, const PerAdapterDns& info,
                   const QString& suffix, AdapterPassResult& r) {
    apipa.text = info.autoconfigEnabled ? QStringLiteral("APIPA: enabled")
                                        : QStringLiteral("APIPA: disabled");
    TreeNode dns = node(QStringLiteral("DNS"), img::Group);
    const QString first = info.servers.value(0);
    if (first.size() < 7) {
        dns.children.push_back(node(QStringLiteral("DNS Server: none"), img::Group));
    } else {
        dns.children.push_back(node(QStringLiteral("DNS Suffix: ") + suffix, img::Detail));
        dns.children.push_back(node(QStringLiteral("DNS Server: ") + first, img::Group));
        offerDnsServer(r, first);
    }
    for (qsizetype i = 1; i < info.servers.size(); ++i) {
        dns.children.push_back(node(QStringLiteral("DNS Server: ") + info.servers[i], img::Group));
        offerDnsServer(r, info.servers[i]);
    }
    adapter.children.push_back(std::move(dns));
}

void addGateways(TreeNode& adapter, const IP_ADAPTER_INFO& a, AdapterPassEnv& env) {
    if (a.GatewayList.Next) {
        TreeNode list = node(QStringLiteral("Default Gateway(s)"), img::Gateway);
        for (const IP_ADDR_STRING* g = &a.GatewayList; g; g = g->Next) {
            list.children.push_back(
                node(QStringLiteral("IP Address: ") + addressText(*g), img::Detail));
            list.children.push_back(
                node(QStringLiteral("Metric: %1").arg(g->Context), img::Detail));
        }
        adapter.children.push_back(std::move(list));
        return;
    }
    const QString gateway = addressText(a.GatewayList);
    QString text = QStringLiteral("Gateway: ") + gateway;
    // An adapter without gateway lists an empty entry; nothing to ask the network about.
    const ip parsed(gateway.toStdString());
    if (parsed.valid() && !parsed.is_zero()) {
        const GatewayMac mac = env.gatewayMac(gateway);
        const QString note =
            mac.text.isEmpty() ? QString() : virtualRouterText(mac.value, mac.text);
        if (!note.isEmpty())
            text += QLatin1Char(' ') + note;
    }
    adapter.children.push_back(node(text, img::Gateway));
}

// After every IPv4 entry, in the IPv4 layout's own shapes: an address group, the gateway
// node or list, a DNS branch. Each IPv6 address has three facts, so it always gets the group.
void addIpv6Part(TreeNode& adapter, const Ipv6Adapter& v6, AdapterPassResult& r) {
    TreeNode list = node(QStringLiteral("IPv6 Addresses"), img::IpAddresses);
    int n = 0;
    for (const Ipv6Address& a : v6.addresses) {
        list.children.push_back(node(
            QStringLiteral("IPv6 Address %1: %2/%3").arg(++n).arg(a.address).arg(a.prefixLength),
            img::Detail));
        list.children.push_back(node(QStringLiteral("Scope: ") + a.scope, img::Detail));
        list.children.push_back(node(QStringLiteral("State: ") + a.state, img::Detail));
        if (a.inUse)
            r.addresses6.append(a.address);
    }
    adapter.children.push_back(std::move(list));

    if (v6.gateways.size() == 1) {
        adapter.children.push_back(
            node(QStringLiteral("IPv6 Gateway: ") + v6.gateways.front().address, img::Gateway));
    } else if (!v6.gateways.empty()) {
        TreeNode gateways = node(QStringLiteral("IPv6 Default Gateway(s)"), img::Gateway);
        for (const Ipv6Gateway& g : v6.gateways) {
            gateways.children.push_back(
                node(QStringLiteral("IPv6 Address: ") + g.address, img::Detail));
            gateways.children.push_back(
                node(QStringLiteral("Metric: %1").arg(g.metric), img::Detail));
        }
        adapter.children.push_back(std::move(gateways));
    }

    if (!v6.dnsServers.isEmpty()) {
        TreeNode dns = node(QStringLiteral("IPv6 DNS"), img::Group);
        for (const QString& server : v6.dnsServers)
            dns.children.push_back(node(QStringLiteral("DNS Server: ") + server, img::Group));
        adapter.children.push_back(std::move(dns));
    }
}

void runOne(const IP_ADAPTER_INFO& a, AdapterPassEnv& env, bool logging, AdapterPassResult& r) {
    TreeNode adapter;
    adapter.text = systemText(a.Description).trimmed();
    adapter.data = 0;
    const QString adapterName = systemText(a.AdapterName);

    QString connection = env.connectionName(adapterName, a.Index);
    bool active = false;
    if (connection.isEmpty()) {
        const QString first = addressText(a.IpAddressList);
        active = first != QLatin1String("0.0.0.0") && env.isInterfaceUp(a.Index);
        adapter.image = active ? img::AdapterUnnamed : img::AdapterUnnamedInactive;
        if (!active)
            adapter.data = nodebit::NotActive;
        connection = QStringLiteral("none");
        adapter.data |= nodebit::NoConnectionName;
    } else {
        bool anyNonZero = false;
        for (const IP_ADDR_STRING* e = &a.IpAddressList; e; e = e->Next) {
            const ip address(addressText(*e).toStdString());
            if (!address.is_zero() && address.valid())
                anyNonZero = true;
            if (address.is_apipa())
                adapter.data |= nodebit::Apipa;
        }
        active = anyNonZero && env.isInterfaceUp(a.Index);
        if (active) {
            adapter.image = img::AdapterActive;
            r.anyActive = true;
        } else {
            adapter.image = img::AdapterInactive;
            adapter.data = nodebit::NotActive;
        }
    }

    if (!active)
        r.inactiveIndexes.push_back(a.Index);
    int count = 0;
    if (active) {
        for (const IP_ADDR_STRING* e = &a.IpAddressList; e; e = e->Next) {
            r.addresses.append(addressText(*e));
            ++count;
        }
    }

    QString logLine;
    if (logging)
        logLine = logPrefix(env.now(), adapter.text);

    adapter.children.push_back(
        node(QStringLiteral("Connection Name: ") + connection, img::ConnectionName));
    adapter.children.push_back(node(QStringLiteral("GUID: ") + adapterName, img::Detail));
    adapter.children.push_back(
        node(QStringLiteral("Index: ") + interfaceIndexText(a.Index), img::Index));
    adapter.children.push_back(
        node(QStringLiteral("Media Type: ") + mediaTypeText(a.Type), img::Media));
    adapter.children.push_back(node(QStringLiteral("MAC: ") + macText(a.Address), img::Mac));

    if (count > 1) {
        r.severalAddresses = true;
        r.deleteChoices.append(adapter.text);
        r.severalIndexes.push_back(a.Index);
        adapter.data |= nodebit::SeveralAddresses;
        TreeNode list = node(QStringLiteral("IP Addresses"), img::IpAddresses);
        int n = 0;
        for (const IP_ADDR_STRING* e = &a.IpAddressList; e; e = e->Next) {
            const QString address = addressText(*e);
            if (address == QLatin1String("0.0.0.0"))
                r.deadContexts.push_back(e->Context);
            list.children.push_back(
                node(QStringLiteral("IP Address %1: %2").arg(++n).arg(address), img::Detail));
            list.children.push_back(
                node(QStringLiteral("Subnet Mask: ") + maskText(*e), img::Detail));
            list.children.push_back(
                node(QStringLiteral("NTE Context: %1").arg(e->Context), img::Detail));
            if (logging)
                logLine +=
                    QStringLiteral(" %1 %2 NTE:%3").arg(address, maskText(*e)).arg(e->Context);
        }
        adapter.children.push_back(std::move(list));
    } else {
        const QString address = addressText(a.IpAddressList);
        const QString mask = maskText(a.IpAddressList);
        adapter.children.push_back(
            node(QStringLiteral("IP Address: ") + address, img::IpAddresses));
        adapter.children.push_back(node(QStringLiteral("Subnet Mask: ") + mask, img::Mask));
        if (logging) {
            const QString piece = QStringLiteral(" %1 %2").arg(address, mask);
            if (piece.contains(QLatin1String("0.0.0.0")))
                logLine.clear();
            else
                logLine += piece;
        }
    }
    if (logging && !logLine.isEmpty())
        r.logLines.append(logLine);

    adapter.children.push_back(node(QStringLiteral("APIPA: status unknown"), img::Apipa));
    const std::size_t apipaAt = adapter.children.size() - 1;

    if (active && !(adapter.data & nodebit::Apipa))
        addGateways(adapter, a, env);

    if (a.DhcpEnabled && active) {
        adapter.data |= nodebit::Dhcp;
        TreeNode dhcp = node(QStringLiteral("DHCP"), img::Group);
        dhcp.children.push_back(
            node(QStringLiteral("DHCP Server: ") + addressText(a.DhcpServer), img::Group));
        dhcp.children.push_back(
            node(QStringLiteral("Lease Obtained: ") + leaseTimeText(a.LeaseObtained),
                 img::LeaseObtained));
        dhcp.children.push_back(node(
            QStringLiteral("Lease Expires: ") + leaseTimeText(a.LeaseExpires), img::LeaseExpires));
        adapter.children.push_back(std::move(dhcp));
    }

    if (a.HaveWins && active && !ip(addressText(a.IpAddressList).toStdString()).is_apipa()) {
        TreeNode wins = node(QStringLiteral("WINS"), img::Group);
        wins.children.push_back(
            node(QStringLiteral("Primary WINS Server: ") + addressText(a.PrimaryWinsServer),
                 img::Group));
        wins.children.push_back(
            node(QStringLiteral("Secondary WINS Server: ") + addressText(a.SecondaryWinsServer),
                 img::Group));
        adapter.children.push_back(std::move(wins));
    }

    if (active) {
        if (const std::optional<PerAdapterDns> info = env.perAdapterInfo(a.Index)) {
            const QString first = info->servers.value(0);
            const QString suffix = first.size() < 7 ? QString() : env.dnsSuffix(a.Index);
            TreeNode& apipa = adapter.children[apipaAt];
            addDnsSection(adapter, apipa, *info, suffix, r);
        }
    }
    if (const Ipv6Adapter* v6 = env.ipv6(a.Index); v6 && !v6->addresses.empty())
        addIpv6Part(adapter, *v6, r);
    r.adapters.push_back(std::move(adapter));
}

} // namespace

AdapterPassResult runAdapterPass(const IP_ADAPTER_INFO* list, AdapterPassEnv& env, bool logging) {
    AdapterPassResult r;
    QStringList dns6;
    for (const IP_ADAPTER_INFO* a = list; a; a = a->Next) {
        runOne(*a, env, logging, r);
        if (const Ipv6Adapter* v6 = env.ipv6(a->Index); v6 && !v6->addresses.empty())
            for (const QString& server : v6->dnsServers)
                if (!dns6.contains(server))
                    dns6.append(server);
    }
    // The Host Info list names every IPv4 server first, as before.
    for (const QString& server : dns6)
        offerDnsServer(r, server);
    return r;
}

QString mediaTypeText(UINT type) {
    switch (type) {
    case 6:
        return QStringLiteral("Ethernet");
    case 9:
        return QStringLiteral("Tokenring");
    case 15:
        return QStringLiteral("FDDI");
    case 23:
        return QStringLiteral("PPP");
    case 24:
        return QStringLiteral("Loopback");
    case 28:
        return QStringLiteral("SLIP");
    default:
        return QStringLiteral("Other");
    }
}

QString macText(const BYTE (&address)[MAX_ADAPTER_ADDRESS_LENGTH]) {
    return QString::asprintf("%02X-%02X-%02X-%02X-%02X-%02X", address[0], address[1], address[2],
                             address[3], address[4], address[5]);
}

QString leaseTimeText(INT64 secondsSinceEpoch) {
    if (secondsSinceEpoch == INT64_MAX)
        return QStringLiteral("infinite");
    if (secondsSinceEpoch <= 0)
        return QStringLiteral("unknown");
    const auto t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return QStringLiteral("unknown");
    char text[15] = {};
    if (std::strftime(text, sizeof text, "%d.%m.%y %H:%M", &local) == 0)
        return QStringLiteral("unknown");
    return QString::fromLatin1(text);
}

QString ipv6ScopeText(ULONG scopeLevel) {
    switch (scopeLevel) {
    case ScopeLevelInterface:
        return QStringLiteral("host");
    case ScopeLevelLink:
        return QStringLiteral("link");
    case ScopeLevelSite:
        return QStringLiteral("site");
    case ScopeLevelGlobal:
        return QStringLiteral("global");
    default:
        return QStringLiteral("level %1").arg(scopeLevel);
    }
}

QString ipv6StateText(int dadState, bool temporary) {
    QString state;
    switch (dadState) {
    case IpDadStatePreferred:
        state = QStringLiteral("preferred");
        break;
    case IpDadStateDeprecated:
        state = QStringLiteral("deprecated");
        break;
    case IpDadStateTentative:
        state = QStringLiteral("tentative");
        break;
    case IpDadStateDuplicate:
        state = QStringLiteral("duplicate");
        break;
    default:
        state = QStringLiteral("invalid");
        break;
    }
    if (temporary)
        state += QStringLiteral(", temporary");
    return state;
}

QString virtualRouterText(uint64_t macValue, const QString& macText) {
    QString note;
    if ((macValue >> 8) == 0x00000C07ACULL)
        note = QStringLiteral("(HSRP, MAC %1)");
    if ((macValue >> 8) == 0x00005E0001ULL)
        note = QStringLiteral("(VRRP, MAC %1)");
    if ((macValue >> 24) == 0x0007B4ULL)
        note = QStringLiteral("(GLBP, MAC %1)");
    return note.isEmpty() ? note : note.arg(macText);
}

} // namespace corvane
