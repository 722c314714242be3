// The Netstat page's IPv6 endpoints against the kernel's sockets in a private namespace: a
// dual-stack listener, a dual-stack UDP socket, an IPv6-only loopback listener with a
// connection, an IPv4 peer of the dual-stack listener; owners, filters, names, the sort and
// the report, and the IPv4-only page and report with Show IPv6 off.
#include "../gui/gui_fixture.h"
#include "connections/conn_rows.h"
#include "connections/connmodel.h"
#include "connections/connpage.h"
#include "holder.h"
#include "netns.h"
#include "report/reportpage.h"

#include <QHeaderView>
#include <QTableView>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

RuntimeOptions run(bool ports, bool addresses, bool established, bool noLocal, bool ipv6 = true) {
    RuntimeOptions o;
    o.optResolvePorts = ports;
    o.optResolveAddresses = addresses;
    o.optEstablishedOnly = established;
    o.optIgnoreLocalhost = noLocal;
    o.optShowIpv6 = ipv6;
    return o;
}

class Netstat6Netns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        sh("ip link set lo up");
        holder = std::make_unique<Holder>(std::string("v6"));
        ASSERT_TRUE(holder->ready());
        v6onlyPort = holder->loPort;
        clientPort = holder->udpConnectedPort;
    }
    void TearDown() override {
        holder.reset();
        MainWindowFixture::TearDown();
    }

    TfrmMain& filled(const RuntimeOptions& options = run(false, false, false, false)) {
        TfrmMain& w = window ? *window : make();
        setRuntime(options);
        w.tsConnections->FillConnectionTable();
        return w;
    }
    const std::vector<ConnRow>& rows() const {
        return PageProbe::model(window->tsConnections)->rows();
    }
    std::vector<ConnRow> where(int column, const QString& text) const {
        std::vector<ConnRow> out;
        for (const ConnRow& r : rows())
            if (r.text(column) == text)
                out.push_back(r);
        return out;
    }
    static bool isV6(const ConnRow& r) { return r.text(0).endsWith(QLatin1String("v6")); }
    QString report() {
        setOption(Option::OverwriteReport, true); // one block: the one just built
        window->BuildReport();
        return window->tsReport->reportText();
    }
    static QString num(unsigned n) { return QString::number(n); }
    static QString lo() {
        return QStringLiteral("0x") + QString::number(::if_nametoindex("lo"), 16).toUpper();
    }

    std::unique_ptr<Holder> holder;
    unsigned v6onlyPort = 0, clientPort = 0;
};

TEST_F(Netstat6Netns, DualStackV6OnlyAndEstablishedWithOwners) {
    CORVANE_REQUIRE_NETNS();
    filled();
    const auto s = [](const char* t) { return QString::fromLatin1(t); };

    const auto web = where(conncol::LocalPort, s("8080"));
    // The dual-stack listener, the accepted end of the IPv4 client, and the IPv4 client's row
    // whose remote port is 8080 does not count here.
    ASSERT_EQ(web.size(), 2u);
    const ConnRow& listener = web[0].text(conncol::Status) == s("LISTENING") ? web[0] : web[1];
    const ConnRow& accepted = &listener == &web[0] ? web[1] : web[0];
    EXPECT_EQ(listener.texts.mid(0, 6),
              (QStringList{"TCPv4v6", "::", "8080", "::", "0", "LISTENING"}));
    EXPECT_EQ(listener.text(conncol::OwnerProcess), "sockholder");
    EXPECT_EQ(listener.dataWord, 1);
    // The IPv4 peer of a dual-stack socket is named as the socket sees it.
    EXPECT_EQ(accepted.texts, (QStringList{"TCPv6", "::ffff:127.0.0.1", "8080", "::ffff:127.0.0.1",
                                           num(clientPort), "ESTABLISHED", lo(), "sockholder"}));
    const auto client = where(conncol::LocalPort, num(clientPort));
    ASSERT_EQ(client.size(), 1u);
    EXPECT_EQ(client[0].texts.mid(0, 5),
              (QStringList{"TCP", "127.0.0.1", num(clientPort), "127.0.0.1", "8080"}));

    const auto udp = where(conncol::LocalPort, s("5355"));
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].texts, (QStringList{"UDPv4v6", "::", "5355", "", "", "", "", "sockholder"}));
    EXPECT_EQ(udp[0].dataWord, 0);

    int listening = 0, established = 0;
    for (const ConnRow& r : rows()) {
        const bool toV6only = r.text(conncol::LocalPort) == num(v6onlyPort) ||
                              r.text(conncol::RemotePort) == num(v6onlyPort);
        if (!toV6only)
            continue;
        EXPECT_EQ(r.text(0), "TCPv6"); // IPv6-only: no IPv4 with it
        EXPECT_EQ(r.text(conncol::LocalAddress), "::1");
        EXPECT_EQ(r.text(conncol::OwnerProcess), "sockholder");
        if (r.text(conncol::Status) == s("LISTENING")) {
            ++listening;
            EXPECT_EQ(r.text(conncol::RemoteAddress), "::");
        } else {
            ++established;
            EXPECT_EQ(r.text(conncol::Status), "ESTABLISHED");
            EXPECT_EQ(r.text(conncol::RemoteAddress), "::1");
            EXPECT_EQ(r.text(conncol::ViaInterface), lo());
        }
    }
    EXPECT_EQ(listening, 1);
    EXPECT_EQ(established, 2);

    // After the IPv4 rows: IPv4 TCP, IPv4 UDP, IPv6 TCP, IPv6 UDP.
    int stage = 0;
    for (const ConnRow& r : rows()) {
        const int here = (isV6(r) ? 2 : 0) + (r.dataWord == 0 ? 1 : 0);
        EXPECT_GE(here, stage) << r.texts.join(' ').toStdString();
        stage = here;
    }
    EXPECT_EQ(stage, 3);

    // The report: the IPv4 table, then the IPv6 one under a title of its own.
    const QString text = report();
    const qsizetype v4 = text.indexOf(QStringLiteral("\nNetstat Table\n"));
    const qsizetype v6 = text.indexOf(QStringLiteral("\nNetstat Table, IPv6\n"));
    ASSERT_GE(v4, 0);
    ASSERT_GT(v6, v4);
    EXPECT_FALSE(text.mid(v4, v6 - v4).contains(QStringLiteral("v6 ")));
    const QStringList six = text.mid(v6).split(QLatin1Char('\n'));
    bool dualLine = false, udpLine = false;
    for (const QString& line : six) {
        dualLine = dualLine || (line.startsWith(QStringLiteral("TCPv4v6    ::  ")) &&
                                line.contains(QStringLiteral(" 8080 ")) &&
                                line.contains(QStringLiteral("LISTENING")) &&
                                line.endsWith(QStringLiteral("sockholder")));
        udpLine = udpLine || (line.startsWith(QStringLiteral("UDPv4v6    ::  ")) &&
                              line.endsWith(QStringLiteral("sockholder")));
    }
    EXPECT_TRUE(dualLine) << text.mid(v6).toStdString();
    EXPECT_TRUE(udpLine);
    // The widest IPv6 address widens only the IPv6 table: 16 characters, so 17.
    EXPECT_TRUE(six.at(3).startsWith(QStringLiteral("Protocol   Local Address    Local Port")))
        << six.at(3).toStdString();
}

TEST_F(Netstat6Netns, IgnoreLocalhostHidesLoopbackAndMappedLoopback) {
    CORVANE_REQUIRE_NETNS();
    filled(run(false, false, false, true));
    for (const ConnRow& r : rows()) {
        const QString local = r.text(conncol::LocalAddress);
        EXPECT_NE(local, "::1");
        EXPECT_FALSE(local.startsWith(QLatin1String("::ffff:127.")));
        EXPECT_FALSE(local.startsWith(QLatin1String("127.")));
    }
    // The wildcard endpoints stay.
    EXPECT_EQ(where(conncol::LocalPort, QStringLiteral("8080")).size(), 1u);
    EXPECT_EQ(where(conncol::LocalPort, QStringLiteral("5355")).size(), 1u);
    EXPECT_TRUE(where(conncol::LocalPort, num(v6onlyPort)).empty());
}

TEST_F(Netstat6Netns, EstablishedOnlyAsForIpv4) {
    CORVANE_REQUIRE_NETNS();
    filled(run(false, false, true, false));
    int v6 = 0;
    for (const ConnRow& r : rows()) {
        EXPECT_EQ(r.text(conncol::Status), "ESTABLISHED");
        EXPECT_EQ(r.dataWord, 1);
        v6 += isV6(r) ? 1 : 0;
    }
    EXPECT_EQ(v6, 3); // both ends on ::1 and the accepted IPv4 peer
    EXPECT_TRUE(report().contains(
        QStringLiteral("\nNetstat Table, IPv6 (only established TCP connections)\n")));
}

TEST_F(Netstat6Netns, NamesAsForIpv4) {
    CORVANE_REQUIRE_NETNS();
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, 255), 0);
    const QString hostName = QString::fromLocal8Bit(host);
    filled(run(true, true, false, false));

    int v6Listeners = 0, localhostPeers = 0;
    for (const ConnRow& r : rows()) {
        if (!isV6(r))
            continue;
        if (r.text(conncol::Status) == QLatin1String("LISTENING")) {
            ++v6Listeners;
            EXPECT_EQ(r.text(conncol::LocalAddress), hostName); // :: and ::1 name the host
            EXPECT_EQ(r.text(conncol::RemoteAddress), "::");
        } else if (r.text(conncol::OwnerProcess) == QLatin1String("sockholder")) {
            // Closed connections of earlier tests may linger, without an owner.
            EXPECT_EQ(r.text(conncol::LocalAddress), hostName);
            localhostPeers += r.text(conncol::RemoteAddress) == QLatin1String("localhost") ? 1 : 0;
        }
    }
    EXPECT_EQ(v6Listeners, 2);
    EXPECT_EQ(localhostPeers, 3); // ::1 twice and ::ffff:127.0.0.1
    const servent* llmnr = ::getservbyport(htons(5355), "udp");
    const QString udpPort = llmnr ? QString::fromLatin1(llmnr->s_name) : QStringLiteral("5355");
    const auto udp = where(conncol::LocalPort, udpPort);
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].text(0), "UDPv4v6");
}

TEST_F(Netstat6Netns, ShowIpv6OffListsAndReportsTheIpv4RowsAlone) {
    CORVANE_REQUIRE_NETNS();
    filled();
    std::vector<QStringList> ipv4;
    for (const ConnRow& r : rows())
        if (!isV6(r))
            ipv4.push_back(r.texts);
    const QString with = report();

    filled(run(false, false, false, false, false));
    std::vector<QStringList> off;
    for (const ConnRow& r : rows())
        off.push_back(r.texts);
    EXPECT_EQ(off, ipv4);
    const QString without = report();
    // The IPv4 table reads the same as with IPv6 shown: same rows, same widths.
    const qsizetype a = with.indexOf(QStringLiteral("\nNetstat Table\n"));
    const qsizetype b = with.indexOf(QStringLiteral("\n\n\nNetstat Table, IPv6\n"));
    const qsizetype c = without.indexOf(QStringLiteral("\nNetstat Table\n"));
    ASSERT_GE(a, 0);
    ASSERT_GT(b, a);
    ASSERT_GE(c, 0);
    EXPECT_FALSE(without.mid(c).contains(QStringLiteral("IPv6")));
    EXPECT_FALSE(without.mid(c).contains(QStringLiteral("v6 ")));
    EXPECT_EQ(with.mid(a, b - a), without.mid(c));
}

TEST_F(Netstat6Netns, SortMixesTheFamiliesByTextAndPortsByValue) {
    CORVANE_REQUIRE_NETNS();
    std::vector<int> fds;
    for (uint16_t port : {9000, 1000}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        fds.push_back(fd);
    }
    TfrmMain& w = filled();
    ConnectionModel& model = *PageProbe::model(w.tsConnections);
    model.columnClick(conncol::Protocol); // ascending
    QStringList protocols;
    for (const ConnRow& r : rows())
        protocols << r.text(0);
    for (int i = 1; i < protocols.size(); ++i)
        EXPECT_LE(compareConnTexts(protocols[i - 1], protocols[i]), 0);
    // TCP < TCPv4v6 < TCPv6 < UDPv4v6.
    EXPECT_LT(protocols.lastIndexOf("TCP"), protocols.indexOf("TCPv4v6"));
    EXPECT_LT(protocols.lastIndexOf("TCPv4v6"), protocols.indexOf("TCPv6"));
    EXPECT_LT(protocols.lastIndexOf("TCPv6"), protocols.indexOf("UDPv4v6"));

    model.columnClick(conncol::LocalPort); // descending, families mixed
    QStringList ports;
    for (const ConnRow& r : rows())
        ports << r.text(conncol::LocalPort);
    for (int i = 1; i < ports.size(); ++i)
        EXPECT_GE(compareConnCells(ports[i - 1], ports[i]), 0);
    // By value: 9000 (IPv4) > 8080 (IPv6) > 1000 (IPv4), the families interleaved.
    const auto at = [this](const char* protocol, const char* port) {
        const std::vector<ConnRow>& all = rows();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i].text(0) == QLatin1String(protocol) &&
                all[i].text(conncol::LocalPort) == QLatin1String(port))
                return static_cast<int>(i);
        return -1;
    };
    ASSERT_GE(at("TCP", "9000"), 0);
    EXPECT_LT(at("TCP", "9000"), at("TCPv4v6", "8080"));
    EXPECT_LT(at("TCPv4v6", "8080"), at("TCP", "1000"));
    for (int fd : fds)
        ::close(fd);
}

} // namespace
