// The IP Info tree and the Host Info page of the real main window, offscreen, against the
// kernel of a private network namespace.
#include "../gui/gui_fixture.h"
#include "hostinfo/adaptertree.h"
#include "hostinfo/hostinfo_page.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "netns.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <fstream>
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
    EXPECT_EQ(children(none).size(), 8); // nothing beyond "APIPA: status unknown"
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
