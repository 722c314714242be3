// The adapter pass on hand-made adapter lists, with the system's answers scripted.
#include "hostinfo/adapter_pass.h"
#include "platform/ifindex.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <gtest/gtest.h>
#include <map>

using namespace corvane;

namespace {

void setEntry(IP_ADDR_STRING& e, const char* address, const char* mask, DWORD context) {
    std::strncpy(e.IpAddress.String, address, sizeof e.IpAddress.String - 1);
    std::strncpy(e.IpMask.String, mask, sizeof e.IpMask.String - 1);
    e.Context = context;
}

// An adapter record with its address and gateway chains kept alive beside it.
struct Adapter {
    IP_ADAPTER_INFO info{};
    std::deque<IP_ADDR_STRING> extra;

    Adapter(const char* name, DWORD index, std::initializer_list<const char*> addresses) {
        std::strcpy(info.AdapterName, name);
        std::snprintf(info.Description, sizeof info.Description, "  %s - ethernet (veth) ", name);
        info.Index = index;
        info.Type = 6;
        const BYTE mac[6] = {0x02, 0x00, 0x0a, 0x0b, 0x0c, 0x0d};
        std::memcpy(info.Address, mac, 6);
        info.AddressLength = 6;
        IP_ADDR_STRING* last = nullptr;
        DWORD context = 10;
        for (const char* a : addresses) {
            IP_ADDR_STRING* e = last ? &extra.emplace_back() : &info.IpAddressList;
            setEntry(*e, a, std::strcmp(a, "0.0.0.0") == 0 ? "0.0.0.0" : "255.255.255.0",
                     context++);
            if (last)
                last->Next = e;
            last = e;
        }
    }
    void gateways(std::initializer_list<const char*> list) {
        IP_ADDR_STRING* last = nullptr;
        DWORD metric = 100;
        for (const char* g : list) {
            IP_ADDR_STRING* e = last ? &extra.emplace_back() : &info.GatewayList;
            setEntry(*e, g, "255.255.255.255", metric++);
            if (last)
                last->Next = e;
            last = e;
        }
    }
};

class ScriptedEnv : public AdapterPassEnv {
public:
    std::map<QString, QString> names; // adapter name -> connection name; missing: none
    std::map<DWORD, bool> up;         // missing: up
    std::map<QString, GatewayMac> macs;
    std::map<DWORD, std::optional<PerAdapterDns>> dns; // missing: no servers
    std::vector<DWORD> upQueries;
    QStringList macQueries;

    QString connectionName(const QString& adapterName, DWORD) override {
        const auto it = names.find(adapterName);
        return it == names.end() ? QString() : it->second;
    }
    bool isInterfaceUp(DWORD ifIndex) override {
        upQueries.push_back(ifIndex);
        const auto it = up.find(ifIndex);
        return it == up.end() || it->second;
    }
    GatewayMac gatewayMac(const QString& address) override {
        macQueries.append(address);
        return macs[address];
    }
    std::optional<PerAdapterDns> perAdapterInfo(DWORD ifIndex) override {
        const auto it = dns.find(ifIndex);
        return it == dns.end() ? std::optional<PerAdapterDns>(PerAdapterDns{}) : it->second;
    }
    QString dnsSuffix(DWORD) override { return QStringLiteral("lan.example"); }
    QDateTime now() override { return {QDate(2007, 6, 7), QTime(14, 5, 9, 123)}; }
    std::map<DWORD, Ipv6Adapter> v6;
    const Ipv6Adapter* ipv6(DWORD ifIndex) override {
        const auto it = v6.find(ifIndex);
        return it == v6.end() ? nullptr : &it->second;
    }
};

QStringList texts(const std::vector<TreeNode>& nodes) {
    QStringList out;
    for (const TreeNode& n : nodes)
        out.append(n.text);
    return out;
}

const TreeNode* find(const TreeNode& adapter, const QString& text) {
    for (const TreeNode& n : adapter.children)
        if (n.text == text)
            return &n;
    return nullptr;
}

bool hasPrefix(const TreeNode& adapter, const QString& prefix) {
    for (const TreeNode& n : adapter.children)
        if (n.text.startsWith(prefix))
            return true;
    return false;
}

} // namespace

TEST(AdapterPass, SeveralAddressesLayoutQueuesDeadEntryAndLogsEveryAddress) {
    Adapter a("eth0", 0x1a, {"10.0.0.5", "0.0.0.0"});
    ScriptedEnv env;
    env.names[QStringLiteral("eth0")] = QStringLiteral("Wired");
    const AdapterPassResult r = runAdapterPass(&a.info, env, true);

    ASSERT_EQ(r.adapters.size(), 1u);
    const TreeNode& node = r.adapters[0];
    EXPECT_EQ(node.text, QStringLiteral("eth0 - ethernet (veth)")); // trimmed
    EXPECT_EQ(node.image, 0);
    EXPECT_EQ(node.data, nodebit::SeveralAddresses);
    EXPECT_EQ(texts(node.children).mid(0, 5),
              (QStringList{"Connection Name: Wired", "GUID: eth0", "Index: 0x1A",
                           "Media Type: Ethernet", "MAC: 02-00-0A-0B-0C-0D"}));
    const TreeNode* list = find(node, QStringLiteral("IP Addresses"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(
        texts(list->children),
        (QStringList{"IP Address 1: 10.0.0.5", "Subnet Mask: 255.255.255.0", "NTE Context: 10",
                     "IP Address 2: 0.0.0.0", "Subnet Mask: 0.0.0.0", "NTE Context: 11"}));
    EXPECT_EQ(r.deadContexts, std::vector<ULONG>{11});
    EXPECT_EQ(r.addresses, (QStringList{"10.0.0.5", "0.0.0.0"}));
    EXPECT_TRUE(r.anyActive);
    EXPECT_TRUE(r.severalAddresses);
    EXPECT_EQ(r.severalIndexes, std::vector<DWORD>{0x1a});
    EXPECT_EQ(r.deleteChoices, QStringList{"eth0 - ethernet (veth)"});
    EXPECT_EQ(r.logLines, QStringList{"07-06-2007 14:05:09,123 eth0 - ethernet (veth): 10.0.0.5 "
                                      "255.255.255.0 NTE:10 0.0.0.0 0.0.0.0 NTE:11"});
}

TEST(AdapterPass, AdaptersThatAreNotActive) {
    // Only 0.0.0.0, with and without a connection name: the interface is never asked.
    Adapter named("eth1", 3, {"0.0.0.0"});
    Adapter unnamed("eth2", 4, {"0.0.0.0"});
    // A real address but administratively down.
    Adapter down("eth3", 5, {"10.1.0.1"});
    down.gateways({"10.1.0.254"});
    named.info.Next = &unnamed.info;
    unnamed.info.Next = &down.info;
    ScriptedEnv env;
    env.names[QStringLiteral("eth1")] = QStringLiteral("eth1");
    env.names[QStringLiteral("eth3")] = QStringLiteral("eth3");
    env.up[5] = false;
    const AdapterPassResult r = runAdapterPass(&named.info, env, true);

    ASSERT_EQ(r.adapters.size(), 3u);
    EXPECT_EQ(r.adapters[0].image, 1);
    EXPECT_EQ(r.adapters[0].data, nodebit::NotActive);
    EXPECT_EQ(r.adapters[1].image, 29);
    EXPECT_EQ(r.adapters[1].data, nodebit::NotActive | nodebit::NoConnectionName);
    EXPECT_EQ(r.adapters[1].children[0].text, QStringLiteral("Connection Name: none"));
    EXPECT_EQ(r.adapters[2].image, 1);
    EXPECT_EQ(env.upQueries, std::vector<DWORD>{5});
    for (const TreeNode& n : r.adapters) {
        EXPECT_FALSE(hasPrefix(n, QStringLiteral("Gateway"))) << n.text.toStdString();
        EXPECT_FALSE(hasPrefix(n, QStringLiteral("DHCP")));
        EXPECT_FALSE(hasPrefix(n, QStringLiteral("DNS")));
        EXPECT_NE(find(n, QStringLiteral("APIPA: status unknown")), nullptr);
    }
    EXPECT_NE(find(r.adapters[0], QStringLiteral("IP Address: 0.0.0.0")), nullptr);
    EXPECT_EQ(r.inactiveIndexes, (std::vector<DWORD>{3, 4, 5}));
    EXPECT_TRUE(r.addresses.isEmpty());
    EXPECT_FALSE(r.anyActive);
    // A 0.0.0.0 adapter logs nothing; an inactive one with a real address is still logged.
    ASSERT_EQ(r.logLines.size(), 1);
    EXPECT_TRUE(
        r.logLines[0].endsWith(QStringLiteral("eth3 - ethernet (veth): 10.1.0.1 255.255.255.0")));
}

TEST(AdapterPass, AutomaticPrivateAddressWithLeaseShowsNoGatewayOrWins) {
    Adapter a("wlan0", 7, {"169.254.10.20"});
    a.gateways({"169.254.0.1"});
    a.info.DhcpEnabled = 1;
    a.info.HaveWins = 1;
    setEntry(a.info.DhcpServer, "10.0.0.2", "", 0);
    a.info.LeaseObtained = 0;
    a.info.LeaseExpires = INT64_MAX;
    ScriptedEnv env;
    env.names[QStringLiteral("wlan0")] = QStringLiteral("Home");
    const AdapterPassResult r = runAdapterPass(&a.info, env, false);

    const TreeNode& n = r.adapters.at(0);
    EXPECT_EQ(n.data, nodebit::Apipa | nodebit::Dhcp);
    EXPECT_FALSE(hasPrefix(n, QStringLiteral("Gateway")));
    EXPECT_FALSE(hasPrefix(n, QStringLiteral("WINS")));
    EXPECT_TRUE(env.macQueries.isEmpty());
    const TreeNode* dhcp = find(n, QStringLiteral("DHCP"));
    ASSERT_NE(dhcp, nullptr);
    // An infinite lease and an unknown time must not turn into dates.
    EXPECT_EQ(texts(dhcp->children),
              (QStringList{"DHCP Server: 10.0.0.2", "Lease Obtained: unknown",
                           "Lease Expires: infinite"}));
    EXPECT_TRUE(r.logLines.isEmpty()); // logging off
}

TEST(AdapterPass, GatewaysSingleWithRouterNoteOrSeveralWithoutLookup) {
    Adapter single("eth0", 1, {"10.0.0.5"});
    single.gateways({"10.0.0.1"});
    Adapter two("eth1", 2, {"10.2.0.5"});
    two.gateways({"10.2.0.1", "10.2.0.2"});
    single.info.Next = &two.info;
    ScriptedEnv env;
    env.names[QStringLiteral("eth0")] = QStringLiteral("a");
    env.names[QStringLiteral("eth1")] = QStringLiteral("b");
    env.macs[QStringLiteral("10.0.0.1")] = {QStringLiteral("00-00-0C-07-AC-0A"), 0x00000C07AC0AULL};
    const AdapterPassResult r = runAdapterPass(&single.info, env, false);

    EXPECT_NE(
        find(r.adapters[0], QStringLiteral("Gateway: 10.0.0.1 (HSRP, MAC 00-00-0C-07-AC-0A)")),
        nullptr);
    const TreeNode* list = find(r.adapters[1], QStringLiteral("Default Gateway(s)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(texts(list->children), (QStringList{"IP Address: 10.2.0.1", "Metric: 100",
                                                  "IP Address: 10.2.0.2", "Metric: 101"}));
    EXPECT_EQ(env.macQueries, QStringList{"10.0.0.1"});
}

TEST(AdapterPass, VirtualRouterRules) {
    const auto note = [](uint64_t v) {
        return virtualRouterText(v, QStringLiteral("X")).toStdString();
    };
    EXPECT_EQ(note(0x00000C07AC0AULL), "(HSRP, MAC X)");
    EXPECT_EQ(note(0x00000C07ACFFULL), "(HSRP, MAC X)");
    EXPECT_EQ(note(0x00005E000105ULL), "(VRRP, MAC X)");
    EXPECT_EQ(note(0x0007B4000102ULL), "(GLBP, MAC X)");
    EXPECT_EQ(note(0x0007B4FFFFFFULL), "(GLBP, MAC X)");
    EXPECT_EQ(note(0x01000C07AC0AULL), ""); // multicast twin of an HSRP address
    EXPECT_EQ(note(0x00000C07AD0AULL), "");
    EXPECT_EQ(note(0x00005E000205ULL), ""); // VRRP for IPv6
    EXPECT_EQ(note(0x0007B5000102ULL), "");
}

TEST(AdapterPass, DnsServersAndSuffix) {
    Adapter first("eth0", 1, {"10.0.0.5"});
    Adapter second("eth1", 2, {"10.0.1.5"});
    Adapter failing("eth2", 3, {"10.0.2.5"});
    first.info.Next = &second.info;
    second.info.Next = &failing.info;
    ScriptedEnv env;
    for (const char* n : {"eth0", "eth1", "eth2"})
        env.names[QString::fromLatin1(n)] = QString::fromLatin1(n);
    env.dns[1] = PerAdapterDns{true, {"", "10.0.0.53"}};
    env.dns[2] = PerAdapterDns{false, {"10.0.0.53", "10.9.9.9"}};
    env.dns[3] = std::nullopt;
    const AdapterPassResult r = runAdapterPass(&first.info, env, false);

    const TreeNode* dns = find(r.adapters[0], QStringLiteral("DNS"));
    ASSERT_NE(dns, nullptr);
    EXPECT_EQ(texts(dns->children), (QStringList{"DNS Server: none", "DNS Server: 10.0.0.53"}));
    EXPECT_NE(find(r.adapters[0], QStringLiteral("APIPA: enabled")), nullptr);
    dns = find(r.adapters[1], QStringLiteral("DNS"));
    ASSERT_NE(dns, nullptr);
    EXPECT_EQ(texts(dns->children), (QStringList{"DNS Suffix: lan.example", "DNS Server: 10.0.0.53",
                                                 "DNS Server: 10.9.9.9"}));
    EXPECT_NE(find(r.adapters[1], QStringLiteral("APIPA: disabled")), nullptr);
    // The failed query leaves the adapter without DNS and its APIPA state unknown.
    EXPECT_EQ(find(r.adapters[2], QStringLiteral("DNS")), nullptr);
    EXPECT_NE(find(r.adapters[2], QStringLiteral("APIPA: status unknown")), nullptr);
    EXPECT_EQ(r.dnsServers, (QStringList{"10.0.0.53", "10.9.9.9"}));
}

TEST(AdapterPass, TextHelpers) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(leaseTimeText(1181225100).toStdString(), "07.06.07 14:05");
    EXPECT_EQ(leaseTimeText(INT64_MAX).toStdString(), "infinite");
    EXPECT_EQ(leaseTimeText(0).toStdString(), "unknown");
    // Far beyond what a calendar year can hold: the C library gives up, so must we.
    EXPECT_EQ(leaseTimeText(INT64_MAX - 1).toStdString(), "unknown");
    EXPECT_EQ(interfaceIndexText(0).toStdString(), "0x0");
    EXPECT_EQ(interfaceIndexText(0xABCDEF12).toStdString(), "0xABCDEF12");
    EXPECT_EQ(mediaTypeText(9).toStdString(), "Tokenring");
    EXPECT_EQ(mediaTypeText(71).toStdString(), "Other");
}

namespace {

Ipv6Address v6Address(const char* address, int length, const char* scope, const char* state,
                      bool inUse) {
    return {QString::fromLatin1(address), length, QString::fromLatin1(scope),
            QString::fromLatin1(state), inUse};
}

} // namespace

// The IPv6 part follows every IPv4 entry and leaves the IPv4 part, bits and lists as they were.
TEST(AdapterPass, Ipv6PartFollowsTheIpv4EntriesAndFeedsHostInfoAfterThem) {
    Adapter first("eth0", 0x1a, {"10.0.0.5"});
    Adapter second("eth1", 0x1b, {"10.1.0.5"});
    first.info.Next = &second.info;
    ScriptedEnv env;
    env.names[QStringLiteral("eth0")] = QStringLiteral("Wired");
    env.dns[0x1a] = PerAdapterDns{true, {"10.0.0.53"}};
    const AdapterPassResult plain = runAdapterPass(&first.info, env, false);

    env.v6[0x1a] = {{v6Address("2001:db8::1", 64, "global", "preferred", true),
                     v6Address("2001:db8::2", 64, "global", "tentative", false),
                     v6Address("fe80::1", 64, "link", "deprecated, temporary", true)},
                    {{QStringLiteral("fe80::fe"), 1024}},
                    {QStringLiteral("2001:db8::53"), QStringLiteral("10.0.0.53")}};
    env.v6[0x1b] = {{v6Address("2001:db8:1::1", 48, "global", "preferred", true)},
                    {{QStringLiteral("fe80::a"), 100}, {QStringLiteral("fe80::b"), 200}},
                    {QStringLiteral("2001:db8::53")}};
    const AdapterPassResult r = runAdapterPass(&first.info, env, false);

    ASSERT_EQ(r.adapters.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const TreeNode& with = r.adapters[i];
        const TreeNode& without = plain.adapters[i];
        EXPECT_EQ(with.data, without.data);
        EXPECT_EQ(with.image, without.image);
        // Today's nodes first, unchanged.
        ASSERT_GT(with.children.size(), without.children.size());
        EXPECT_EQ(texts(with.children).mid(0, static_cast<qsizetype>(without.children.size())),
                  texts(without.children));
    }
    const TreeNode& a = r.adapters[0];
    const auto ipv4Count = static_cast<qsizetype>(plain.adapters[0].children.size());
    EXPECT_EQ(texts(a.children).mid(ipv4Count),
              (QStringList{"IPv6 Addresses", "IPv6 Gateway: fe80::fe", "IPv6 DNS"}));
    const TreeNode& list = a.children[static_cast<std::size_t>(ipv4Count)];
    EXPECT_EQ(list.image, 34);
    EXPECT_EQ(
        texts(list.children),
        (QStringList{"IPv6 Address 1: 2001:db8::1/64", "Scope: global", "State: preferred",
                     "IPv6 Address 2: 2001:db8::2/64", "Scope: global", "State: tentative",
                     "IPv6 Address 3: fe80::1/64", "Scope: link", "State: deprecated, temporary"}));
    EXPECT_EQ(a.children[static_cast<std::size_t>(ipv4Count) + 1].image, 18);
    const TreeNode& dns = a.children.back();
    EXPECT_EQ(dns.image, 3);
    EXPECT_EQ(texts(dns.children),
              (QStringList{"DNS Server: 2001:db8::53", "DNS Server: 10.0.0.53"}));

    const TreeNode* gateways = find(r.adapters[1], QStringLiteral("IPv6 Default Gateway(s)"));
    ASSERT_NE(gateways, nullptr);
    EXPECT_EQ(texts(gateways->children), (QStringList{"IPv6 Address: fe80::a", "Metric: 100",
                                                      "IPv6 Address: fe80::b", "Metric: 200"}));

    // Host Info: the IPv4 lists as before, then the IPv6 addresses in use and new servers.
    EXPECT_EQ(r.addresses, plain.addresses);
    EXPECT_EQ(r.addresses6, (QStringList{"2001:db8::1", "fe80::1", "2001:db8:1::1"}));
    EXPECT_EQ(r.dnsServers, plain.dnsServers + QStringList{"2001:db8::53"});
    EXPECT_EQ(r.logLines, plain.logLines);
}

// An adapter with IPv6 but no usable IPv4 address stays inactive; its IPv6 part is still shown.
TEST(AdapterPass, Ipv6OnAnInactiveAdapterIsShownWithoutChangingItsState) {
    Adapter a("eth0", 0x1a, {"0.0.0.0"});
    ScriptedEnv env;
    env.names[QStringLiteral("eth0")] = QStringLiteral("Wired");
    env.v6[0x1a] = {{v6Address("fe80::1", 64, "link", "preferred", true)}, {}, {}};
    const AdapterPassResult r = runAdapterPass(&a.info, env, false);
    ASSERT_EQ(r.adapters.size(), 1u);
    EXPECT_EQ(r.adapters[0].data, nodebit::NotActive);
    EXPECT_FALSE(r.anyActive);
    EXPECT_EQ(texts(r.adapters[0].children).mid(7),
              (QStringList{"APIPA: status unknown", "IPv6 Addresses"}));
    EXPECT_TRUE(r.addresses.isEmpty());
    EXPECT_EQ(r.addresses6, QStringList{"fe80::1"});
    // An empty record is no IPv6 part.
    env.v6[0x1a].addresses.clear();
    EXPECT_EQ(runAdapterPass(&a.info, env, false).adapters[0].children.size(), 8u);
}

TEST(AdapterPass, Ipv6ScopeAndStateWords) {
    EXPECT_EQ(ipv6ScopeText(ScopeLevelInterface), QStringLiteral("host"));
    EXPECT_EQ(ipv6ScopeText(ScopeLevelLink), QStringLiteral("link"));
    EXPECT_EQ(ipv6ScopeText(ScopeLevelSite), QStringLiteral("site"));
    EXPECT_EQ(ipv6ScopeText(ScopeLevelGlobal), QStringLiteral("global"));
    EXPECT_EQ(ipv6ScopeText(9), QStringLiteral("level 9"));
    EXPECT_EQ(ipv6StateText(IpDadStatePreferred, false), QStringLiteral("preferred"));
    EXPECT_EQ(ipv6StateText(IpDadStateDeprecated, true), QStringLiteral("deprecated, temporary"));
    EXPECT_EQ(ipv6StateText(IpDadStateTentative, false), QStringLiteral("tentative"));
    EXPECT_EQ(ipv6StateText(IpDadStateDuplicate, false), QStringLiteral("duplicate"));
    EXPECT_EQ(ipv6StateText(77, false), QStringLiteral("invalid"));
}
