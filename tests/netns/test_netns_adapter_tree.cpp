// The IP Info tree and the Host Info page of the real main window, offscreen, against the
// kernel of a private network namespace.
#include "../gui/gui_fixture.h"
#include "hostinfo/adaptertree.h"
#include "hostinfo/hostinfo_page.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "netns.h"
#include "report/reportpage.h"
#include "tree_popup.h"
#include "wait_for.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <fstream>
#include <map>
#include <sched.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class AdapterTreeNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        resolv = dir.filePath(QStringLiteral("resolv.conf")).toStdString();
        writeResolver("nameserver 10.0.0.53\n");
        qputenv("CORVANE_RESOLV_CONF", QByteArray::fromStdString(resolv));
        nsswitch = dir.filePath(QStringLiteral("nsswitch.conf")).toStdString();
        std::ofstream(nsswitch) << "hosts: files dns\n";
        qputenv("CORVANE_NSSWITCH_CONF", QByteArray::fromStdString(nsswitch));
        qputenv("CORVANE_RESOLVED_NETIF_DIR", dir.filePath(QStringLiteral("none")).toLocal8Bit());
        // Connection names come from the interface names alone.
        qputenv("CORVANE_NM_CONNECTIONS_DIR", dir.filePath(QStringLiteral("none")).toLocal8Bit());
        qputenv("CORVANE_NETWORKD_DIRS", dir.filePath(QStringLiteral("none")).toLocal8Bit());
        qputenv("CORVANE_NM_DEVICES_DIR", dir.filePath(QStringLiteral("none")).toLocal8Bit());
        qputenv("CORVANE_NETWORKD_LINKS_DIR", dir.filePath(QStringLiteral("none")).toLocal8Bit());
    }
    void TearDown() override {
        for (const std::string& link : links)
            shMayFail("ip link del " + link + " 2>/dev/null");
        for (const char* v :
             {"CORVANE_RESOLV_CONF", "CORVANE_NSSWITCH_CONF", "CORVANE_RESOLVED_NETIF_DIR",
              "CORVANE_NM_CONNECTIONS_DIR", "CORVANE_NETWORKD_DIRS", "CORVANE_NM_DEVICES_DIR",
              "CORVANE_NETWORKD_LINKS_DIR"})
            qunsetenv(v);
        MainWindowFixture::TearDown();
    }
    void writeResolver(const std::string& text) { std::ofstream(resolv) << text; }

    // A veth pair whose far end lives in peer (or nowhere in particular without one).
    void link(const std::string& name, const PeerNamespace* peer = nullptr,
              const std::string& peerMac = {}) {
        const std::string far = name + "p";
        sh("ip link add " + name + " type veth peer name " + far);
        links.push_back(name);
        if (peer) {
            sh("ip link set " + far + " netns " + peer->name());
            if (!peerMac.empty())
                peer->run("ip link set " + far + " address " + peerMac);
            peer->run("ip link set " + far + " up");
        } else {
            sh("ip link set " + far + " up");
        }
    }

    TfrmMain& refreshed() {
        if (!window)
            make();
        window->RefreshNetworkStatus();
        return *window;
    }

    const QStandardItem* adapter(const std::string& name) const {
        const QString prefix = QString::fromStdString(name) + QStringLiteral(" - ");
        for (int r = 0; r < PageProbe::model(window->tsIP)->rowCount(); ++r)
            if (PageProbe::model(window->tsIP)->item(r)->text().startsWith(prefix))
                return PageProbe::model(window->tsIP)->item(r);
        return nullptr;
    }
    static QStringList children(const QStandardItem* node) {
        QStringList out;
        for (int r = 0; node && r < node->rowCount(); ++r)
            out.append(node->child(r)->text());
        return out;
    }
    static const QStandardItem* child(const QStandardItem* node, const QString& text) {
        for (int r = 0; node && r < node->rowCount(); ++r)
            if (node->child(r)->text() == text)
                return node->child(r);
        return nullptr;
    }
    int rowWord(const std::string& name) const {
        const QString index = interfaceIndexText(
            static_cast<DWORD>(std::stoul(shOut("cat /sys/class/net/" + name + "/ifindex"))));
        const QStandardItemModel& m = *PageProbe::model(window->tsInterface);
        for (int r = 0; r < m.rowCount(); ++r)
            if (m.item(r, ifcol::Index)->text() == index)
                return m.item(r, 0)->data(ifRowDataRole).toInt();
        return -1;
    }
    QStringList listTexts(const QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out.append(list->item(i)->text());
        return out;
    }

    std::string resolv;
    std::string nsswitch;
    std::vector<std::string> links;
};

TEST_F(AdapterTreeNetns, AddressLayoutsAndActiveState) {
    CORVANE_REQUIRE_NETNS();
    link("tvmulti");
    sh("ip addr add 10.50.0.5/24 dev tvmulti && ip addr add 10.50.0.6/24 dev tvmulti");
    sh("ip link set tvmulti up");
    link("tvnone");
    sh("ip link set tvnone up");
    link("tvdown");
    sh("ip addr add 10.51.0.5/24 dev tvdown");
    TfrmMain& w = refreshed();

    const QStandardItem* multi = adapter("tvmulti");
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->data(treeDataRole).toUInt(), 0x4u);
    const QStandardItem* list = child(multi, QStringLiteral("IP Addresses"));
    ASSERT_NE(list, nullptr);
    const QStringList lines = children(list);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("IP Address 1: 10.50.0.5"));
    EXPECT_EQ(lines[1], QStringLiteral("Subnet Mask: 255.255.255.0"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("NTE Context: ")));
    EXPECT_EQ(lines[3], QStringLiteral("IP Address 2: 10.50.0.6"));
    EXPECT_NE(lines[2], lines[5]);
    EXPECT_EQ(rowWord("tvmulti") & 0x80, 0x80);
    EXPECT_TRUE(PageProbe::state(w.tsIP).severalAddresses);
    EXPECT_TRUE(w.acDelIP->isEnabled());

    const QStandardItem* none = adapter("tvnone");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->data(treeDataRole).toUInt(), 0x8000u);
    EXPECT_EQ(none->data(Qt::UserRole).toInt(), 1);
    EXPECT_NE(child(none, QStringLiteral("IP Address: 0.0.0.0")), nullptr);
    // Nothing beyond "APIPA: status unknown" but its link-local IPv6 address.
    const QStringList noneChildren = children(none);
    ASSERT_GE(noneChildren.size(), 8);
    EXPECT_EQ(noneChildren[7], QStringLiteral("APIPA: status unknown"));
    for (const QString& extra : noneChildren.mid(8))
        EXPECT_EQ(extra, QStringLiteral("IPv6 Addresses"));
    EXPECT_EQ(rowWord("tvnone"), 0);

    const QStandardItem* down = adapter("tvdown");
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->data(treeDataRole).toUInt(), 0x8000u);
    EXPECT_NE(child(down, QStringLiteral("IP Address: 10.51.0.5")), nullptr);

    // Only active adapters feed the Host Info page.
    EXPECT_EQ(listTexts(w.tsHost->lbxIPAddresses), (QStringList{"10.50.0.5", "10.50.0.6"}));
    EXPECT_EQ(w.panelText(1), QStringLiteral("10.50.0.5, 10.50.0.6"));
    EXPECT_TRUE(prompts.messages.empty());

    // The popup works on the adapter of a node two levels down.
    w.tsIP->tvInfo->setCurrentIndex(list->child(3)->index());
    w.tsIP->pmIPMenuPopup();
    EXPECT_EQ(PageProbe::state(w.tsIP).selectedAdapterIndex,
              std::stoul(shOut("cat /sys/class/net/tvmulti/ifindex")));
    // Its address items follow it, not the other adapters.
    for (QAction* a : w.tsIP->pmIPMenu->actions()) {
        if (a->objectName() == QLatin1String("DeleteIPaddress1")) {
            EXPECT_EQ(a->isEnabled(), (rowWord("tvmulti") & 0x81) == 0x81);
        }
    }
    EXPECT_FALSE(w.acRenew->isEnabled());
    w.tsIP->CopytoClipboard1Click();
    EXPECT_EQ(w.eCopy->text(), QStringLiteral("10.50.0.6"));
}

// One gateway per adapter, its far end carrying the given physical address.
TEST_F(AdapterTreeNetns, GatewayPhysicalAddressRules) {
    CORVANE_REQUIRE_NETNS();
    const struct {
        const char* mac;
        const char* expected;
    } cases[] = {
        {"00:00:0c:07:ac:0a", "Gateway: 10.60.0.1 (HSRP, MAC 00-00-0C-07-AC-0A)"},
        {"00:00:5e:00:01:05", "Gateway: 10.60.0.1 (VRRP, MAC 00-00-5E-00-01-05)"},
        {"00:07:b4:00:01:02", "Gateway: 10.60.0.1 (GLBP, MAC 00-07-B4-00-01-02)"},
        {"02:00:0c:07:ac:0a", "Gateway: 10.60.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mac);
        PeerNamespace router("gw");
        link("tvgw", &router, c.mac);
        router.run("ip addr add 10.60.0.1/24 dev tvgwp");
        sh("ip addr add 10.60.0.5/24 dev tvgw && ip link set tvgw up");
        sh("ip route add default via 10.60.0.1 dev tvgw");
        refreshed();
        const QStandardItem* gw = adapter("tvgw");
        ASSERT_NE(gw, nullptr);
        EXPECT_NE(child(gw, QString::fromLatin1(c.expected)), nullptr)
            << children(gw).join(QLatin1Char('|')).toStdString();
        sh("ip link del tvgw");
        links.clear();
    }
}

TEST_F(AdapterTreeNetns, TwoGatewaysAreListedWithTheirMetrics) {
    CORVANE_REQUIRE_NETNS();
    link("tvtwo");
    sh("ip addr add 10.70.0.5/24 dev tvtwo && ip link set tvtwo up");
    sh("ip route add default via 10.70.0.1 dev tvtwo metric 10");
    sh("ip route add default via 10.70.0.2 dev tvtwo metric 20");
    refreshed();
    const QStandardItem* list = child(adapter("tvtwo"), QStringLiteral("Default Gateway(s)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(children(list), (QStringList{"IP Address: 10.70.0.1", "Metric: 10",
                                           "IP Address: 10.70.0.2", "Metric: 20"}));
}

TEST_F(AdapterTreeNetns, HostInfoLabelsAndSharedDnsServer) {
    CORVANE_REQUIRE_NETNS();
    ASSERT_EQ(::unshare(CLONE_NEWUTS), 0);
    ASSERT_EQ(::sethostname("corvane-host", 12), 0);
    writeResolver("search lan.example\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n");
    sh("echo 1 > /proc/sys/net/ipv4/ip_forward");
    sh("echo 0 > /proc/sys/net/ipv4/conf/all/proxy_arp");
    for (const std::string name : {"tvdns1", "tvdns2"}) {
        link(name);
        sh("ip link set " + name + " up");
    }
    sh("ip addr add 10.80.0.5/24 dev tvdns1 && ip addr add 10.81.0.5/24 dev tvdns2");
    TfrmMain& w = refreshed();

    EXPECT_EQ(w.tsHost->lblHostName->text(), QStringLiteral("corvane-host"));
    EXPECT_EQ(w.tsHost->lblRoutingEnabled->text(), QStringLiteral("yes"));
    EXPECT_EQ(w.tsHost->lblProxyARPEnabled->text(), QStringLiteral("no"));
    EXPECT_EQ(w.tsHost->lblDNSEnabled->text(), QStringLiteral("yes"));
    EXPECT_EQ(listTexts(w.tsHost->lbxDNSServers), (QStringList{"10.0.0.53", "10.0.0.54"}));
    const QStandardItem* dns = child(adapter("tvdns2"), QStringLiteral("DNS"));
    EXPECT_EQ(children(dns), (QStringList{"DNS Suffix: lan.example", "DNS Server: 10.0.0.53",
                                          "DNS Server: 10.0.0.54"}));
    EXPECT_EQ(w.applicationTitle, QStringLiteral("Corvane @ corvane-host\n10.80.0.5\n10.81.0.5"));

    sh("echo 0 > /proc/sys/net/ipv4/ip_forward");
    std::ofstream(nsswitch) << "hosts: files myhostname\n";
    refreshed();
    EXPECT_EQ(w.tsHost->lblRoutingEnabled->text(), QStringLiteral("no"));
    EXPECT_EQ(w.tsHost->lblDNSEnabled->text(), QStringLiteral("no"));
    EXPECT_TRUE(prompts.messages.empty());
}

} // namespace

namespace {

TEST_F(AdapterTreeNetns, ConnectionNameFromSystemConfiguration) {
    CORVANE_REQUIRE_NETNS();
    const auto folder = [&](const char* name) {
        QString path = dir.filePath(QLatin1String(name));
        QDir().mkpath(path);
        return path;
    };
    const auto write = [](const QString& folder, const std::string& file, const std::string& text) {
        std::ofstream(folder.toStdString() + "/" + file) << text;
    };
    const QString nm = folder("nm"), devices = folder("devices");
    const QString networkd = folder("networkd"), links = folder("links");
    write(nm, "a-office.nmconnection",
          "[connection]\nid=Office LAN\nuuid=0a0a0a0a-1111-4111-8111-000000000001\n"
          "type=ethernet\ninterface-name=tvnm\n");
    write(nm, "b-lab.nmconnection",
          "[connection]\nid=Lab LAN\nuuid=0A0A0A0A-1111-4111-8111-000000000002\n"
          "interface-name=tvnm\n");
    write(nm, "c-any.nmconnection",
          "[connection]\nid=Any \x1b[31mwire\nuuid=0a0a0a0a-1111-4111-8111-000000000003\n");
    write(networkd, "20-lab.network", "[Match]\nName=tvlab* other\n\n[Network]\nDHCP=no\n");
    write(networkd, "30-bymac.network", "[Match]\nMACAddress=02:00:00:00:00:01\n");
    qputenv("CORVANE_NM_CONNECTIONS_DIR", nm.toLocal8Bit());
    qputenv("CORVANE_NETWORKD_DIRS", networkd.toLocal8Bit());
    qputenv("CORVANE_NM_DEVICES_DIR", devices.toLocal8Bit());
    qputenv("CORVANE_NETWORKD_LINKS_DIR", links.toLocal8Bit());
    for (const std::string name : {"tvnm", "tvany", "tvlab1", "tvlab2", "tvlab3", "tvplain"})
        link(name);
    // What each daemon notes about the links it runs, by interface index.
    const auto state = [&](const QString& folder, const std::string& link,
                           const std::string& text) {
        std::string index = shOut("cat /sys/class/net/" + link + "/ifindex");
        write(folder, index.erase(index.find_last_not_of('\n') + 1), text);
    };
    state(devices, "tvnm",
          "[device]\nmanaged=true\nconnection-uuid=0a0a0a0a-1111-4111-8111-000000000002\n");
    state(devices, "tvany",
          "[device]\nmanaged=true\nconnection-uuid=0a0a0a0a-1111-4111-8111-000000000003\n");
    state(devices, "tvplain", "[device]\nmanaged=false\n");
    state(links, "tvlab1",
          "# This is private data. Do not parse.\nADMIN_STATE=configured\n"
          "NETWORK_FILE=/etc/systemd/network/30-bymac.network\n");
    state(links, "tvlab2", "ADMIN_STATE=unmanaged\n");
    refreshed();
    const auto name = [&](const std::string& link) { return adapter(link)->child(0)->text(); };
    EXPECT_EQ(name("tvnm"), QStringLiteral("Connection Name: Lab LAN"));
    EXPECT_EQ(name("tvany"), QStringLiteral("Connection Name: Any ?[31mwire"));
    EXPECT_EQ(name("tvlab1"), QStringLiteral("Connection Name: 30-bymac"));
    EXPECT_EQ(name("tvlab2"), QStringLiteral("Connection Name: tvlab2"));
    // Without run state the configuration files are matched by name.
    EXPECT_EQ(name("tvlab3"), QStringLiteral("Connection Name: 20-lab"));
    EXPECT_EQ(name("tvplain"), QStringLiteral("Connection Name: tvplain"));
}

} // namespace

namespace {

// The texts of an adapter's IPv6 address group, keyed by address: its scope and state.
std::map<QString, std::pair<QString, QString>> ipv6Facts(const QStandardItem* list) {
    std::map<QString, std::pair<QString, QString>> out;
    for (int r = 0; list && r + 2 < list->rowCount(); r += 3) {
        QString address = list->child(r)->text();
        address = address.mid(address.indexOf(QLatin1Char(':')) + 2);
        out[address] = {list->child(r + 1)->text(), list->child(r + 2)->text()};
    }
    return out;
}

QString firstLine(const std::string& text) {
    return QString::fromStdString(text.substr(0, text.find('\n')));
}

// The states and scopes the kernel gives IPv6 addresses, the link-local default routers and
// the servers of both families, in the tree, Host Info and the report; and with Show IPv6
// off, the tree, lists and report as they are without IPv6.
TEST_F(AdapterTreeNetns, Ipv6AddressesGatewaysAndServers) {
    CORVANE_REQUIRE_NETNS();
    sh("ip link set lo up");
    writeResolver("nameserver 10.0.0.53\nnameserver 2001:db8::53\nnameserver fe80::1%tv6\n");
    link("tv6");
    link("tv6b");
    sh("sysctl -qw net.ipv6.conf.tv6.accept_dad=0 net.ipv6.conf.tv6.use_tempaddr=2");
    sh("ip link set tv6 up && ip link set tv6b up");
    sh("ip -6 addr add 2001:db8:2::5/64 dev tv6 mngtmpaddr nodad");
    // The kernel makes the link-local and temporary addresses once it sees the carrier, a
    // little later: only then may detection start again.
    ASSERT_TRUE(waitFor([] {
        return !shOut("ip -6 -o addr show dev tv6 scope link").empty() &&
               !shOut("ip -6 -o addr show dev tv6 temporary").empty();
    }));
    // The tentative address then waits on a detection that takes 20 s.
    sh("sysctl -qw net.ipv6.conf.tv6.accept_dad=1 net.ipv6.neigh.tv6.retrans_time_ms=20000");
    sh("ip -6 addr add 2001:db8:1::1/64 dev tv6 nodad");
    sh("ip -6 addr add 2001:db8:1::2/64 dev tv6 preferred_lft 0 nodad");
    sh("ip -6 addr add 2001:db8:1::3/64 dev tv6");
    sh("ip addr add 10.9.0.1/24 dev tv6");
    sh("ip -6 route add default via fe80::1 dev tv6 metric 100");
    TfrmMain& w = refreshed();

    const QStandardItem* a = adapter("tv6");
    ASSERT_NE(a, nullptr);
    const QStringList top = children(a);
    const qsizetype at = top.indexOf(QStringLiteral("IPv6 Addresses"));
    ASSERT_GT(at, top.indexOf(QStringLiteral("DNS"))) << top.join('|').toStdString();
    EXPECT_EQ(top.mid(at), (QStringList{"IPv6 Addresses", "IPv6 Gateway: fe80::1", "IPv6 DNS"}));
    const QStandardItem* list = a->child(static_cast<int>(at));
    const auto facts = ipv6Facts(list);
    const auto expect = [&](const QString& address, const char* scope, const char* state) {
        const auto found = facts.find(address);
        ASSERT_NE(found, facts.end()) << address.toStdString();
        EXPECT_EQ(found->second.first, QStringLiteral("Scope: ") + QLatin1String(scope));
        EXPECT_EQ(found->second.second, QStringLiteral("State: ") + QLatin1String(state));
    };
    expect(QStringLiteral("2001:db8:1::1/64"), "global", "preferred");
    expect(QStringLiteral("2001:db8:1::2/64"), "global", "deprecated");
    expect(QStringLiteral("2001:db8:1::3/64"), "global", "tentative");
    expect(QStringLiteral("2001:db8:2::5/64"), "global", "preferred");
    const QString linkLocal =
        firstLine(shOut("ip -6 -o addr show dev tv6 scope link | awk '{print $4}'"));
    expect(linkLocal, "link", "preferred");
    const QString temporary =
        firstLine(shOut("ip -6 -o addr show dev tv6 temporary | awk '{print $4}'"));
    ASSERT_FALSE(temporary.isEmpty());
    expect(temporary, "global", "preferred, temporary");
    EXPECT_EQ(facts.size(), 6u);
    // The system-wide servers; the link-local one only on the link its zone names.
    EXPECT_EQ(children(child(a, QStringLiteral("IPv6 DNS"))),
              (QStringList{"DNS Server: 2001:db8::53", "DNS Server: fe80::1"}));
    EXPECT_EQ(children(child(adapter("tv6b"), QStringLiteral("IPv6 DNS"))),
              QStringList{"DNS Server: 2001:db8::53"});
    const QStandardItem* lo = adapter("lo");
    if (lo)
        expect(QStringLiteral("::1/128"), "host", "preferred");
    // The route dialogs' gateway is an IPv4 one, and this adapter has none.
    EXPECT_EQ(w.tsIP->gatewayNodeText(description(w, "tv6")), QStringLiteral("Gateway: "));

    // Host Info: every IPv4 address, then the IPv6 ones in use; the servers likewise.
    const QStringList addresses = listTexts(w.tsHost->lbxIPAddresses);
    const auto v6 = std::find_if(addresses.begin(), addresses.end(),
                                 [](const QString& t) { return t.contains(QLatin1Char(':')); });
    const qsizetype firstV6 = v6 - addresses.begin();
    ASSERT_GT(firstV6, 0) << addresses.join('|').toStdString();
    for (qsizetype i = 0; i < addresses.size(); ++i)
        EXPECT_EQ(addresses[i].contains(QLatin1Char(':')), i >= firstV6) << i;
    EXPECT_TRUE(addresses.contains(QStringLiteral("10.9.0.1")));
    EXPECT_TRUE(addresses.contains(QStringLiteral("2001:db8:1::2")));
    EXPECT_FALSE(addresses.contains(QStringLiteral("2001:db8:1::3"))) << "tentative: not in use";
    EXPECT_EQ(listTexts(w.tsHost->lbxDNSServers),
              (QStringList{"10.0.0.53", "2001:db8::53", "fe80::1"}));
    // Title and status panel name the IPv4 addresses alone, as before.
    EXPECT_FALSE(w.panelText(1).contains(QLatin1Char(':')));
    EXPECT_FALSE(w.applicationTitle.contains(QStringLiteral("2001:")));

    // The popup on an address two levels down works on its adapter; the copy is the address.
    w.tsIP->tvInfo->setCurrentIndex(list->child(0)->index());
    w.tsIP->pmIPMenuPopup();
    EXPECT_EQ(PageProbe::state(w.tsIP).selectedAdapterIndex, if_nametoindex("tv6"));
    w.tsIP->CopytoClipboard1Click();
    EXPECT_TRUE(w.eCopy->text().endsWith(QStringLiteral("/64"))) << w.eCopy->text().toStdString();
    EXPECT_FALSE(w.eCopy->text().contains(QLatin1Char(' ')));

    // The report holds the tree: the IPv6 lines after the adapter's IPv4 ones.
    w.BuildReport();
    const QString report = w.tsReport->reportText();
    EXPECT_TRUE(report.contains(QStringLiteral("\n\tIPv6 Addresses\n\t\tIPv6 Address 1: ")));
    EXPECT_TRUE(report.contains(QStringLiteral("\n\tIPv6 Gateway: fe80::1\n\tIPv6 DNS\n"
                                               "\t\tDNS Server: 2001:db8::53\n"
                                               "\t\tDNS Server: fe80::1\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("\t\tState: deprecated\n")));

    // A second default router turns the node into a list with the metrics.
    sh("ip -6 route add default via fe80::2 dev tv6 metric 200");
    refreshed();
    EXPECT_EQ(children(child(adapter("tv6"), QStringLiteral("IPv6 Default Gateway(s)"))),
              (QStringList{"IPv6 Address: fe80::1", "Metric: 100", "IPv6 Address: fe80::2",
                           "Metric: 200"}));
    const QStringList withIpv6 = w.tsIP->treeLines();
    std::vector<uint32_t> bits;
    for (int r = 0; r < PageProbe::model(w.tsIP)->rowCount(); ++r)
        bits.push_back(PageProbe::model(w.tsIP)->item(r)->data(treeDataRole).toUInt());

    // Show IPv6 off: the tree is the IPv4 tree, node for node, and nothing else changes.
    RuntimeOptions off = currentOptions().run;
    off.optShowIpv6 = false;
    setRuntime(off);
    refreshed();
    const QStringList withoutIpv6 = w.tsIP->treeLines();
    QStringList stripped;
    bool inIpv6 = false;
    for (const QString& line : withIpv6) {
        if (line.startsWith(QStringLiteral("\tIPv6")))
            inIpv6 = true;
        else if (!line.startsWith(QStringLiteral("\t\t")))
            inIpv6 = false;
        if (!inIpv6)
            stripped.append(line);
    }
    EXPECT_EQ(withoutIpv6, stripped);
    EXPECT_FALSE(withoutIpv6.join('\n').contains(QStringLiteral("IPv6")));
    for (int r = 0; r < PageProbe::model(w.tsIP)->rowCount(); ++r)
        EXPECT_EQ(PageProbe::model(w.tsIP)->item(r)->data(treeDataRole).toUInt(),
                  bits[static_cast<std::size_t>(r)]);
    for (const QString& address : listTexts(w.tsHost->lbxIPAddresses))
        EXPECT_FALSE(address.contains(QLatin1Char(':'))) << address.toStdString();
    EXPECT_EQ(listTexts(w.tsHost->lbxDNSServers), QStringList{"10.0.0.53"});
    w.BuildReport();
    const QString latest =
        w.tsReport->reportText().split(QStringLiteral("Next Report Block")).last();
    EXPECT_TRUE(latest.contains(QStringLiteral("\n\t\tDNS Server: 10.0.0.53\n")));
    EXPECT_FALSE(latest.contains(QStringLiteral("IPv6")));
    EXPECT_TRUE(prompts.messages.empty());
}

} // namespace
