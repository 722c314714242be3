// The Netstat page of the real main window against the kernel's sockets in a private network
// namespace: owner names, filters, name resolution, the column-click sort and the toggles.
#include "../gui/gui_fixture.h"
#include "connections/conn_rows.h"
#include "connections/connmodel.h"
#include "connections/connpage.h"
#include "holder.h"
#include "netns.h"
#include "report/reportpage.h"
#include "wait_for.h"

#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

// This process's own sockets on the namespace's non-loopback address.
class OwnSockets {
public:
    ~OwnSockets() {
        for (int fd : fds_)
            ::close(fd);
    }
    int listen(const char* address, unsigned port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = at(address, port);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, 4) != 0)
            return -1;
        fds_.push_back(fd);
        return fd;
    }
    bool connect(const char* address, unsigned port, int listener) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = at(address, port);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            return false;
        fds_.push_back(fd);
        const int accepted = ::accept(listener, nullptr, nullptr);
        fds_.push_back(accepted);
        return accepted >= 0;
    }

private:
    static sockaddr_in at(const char* address, unsigned port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = inet_addr(address);
        return a;
    }
    std::vector<int> fds_;
};

constexpr const char* ownAddress = "10.77.0.1";

class NetstatPageNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        sh("ip link set lo up");
        sh("ip link add d77 type veth peer name d77-p && ip link set d77-p up && "
           "ip link set d77 up && ip addr add 10.77.0.1/24 dev d77");
        holder = std::make_unique<Holder>(3);
        ASSERT_TRUE(holder->ready());
    }
    void TearDown() override {
        holder.reset();
        if (inPrivateNetns())
            shMayFail("ip link del d77 2>/dev/null");
        MainWindowFixture::TearDown();
    }

    TfrmMain& filled(RuntimeOptions options = {}) {
        TfrmMain& w = window ? *window : make();
        setRuntime(options);
        w.tsConnections->FillConnectionTable();
        return w;
    }
    const std::vector<ConnRow>& rows() const {
        return PageProbe::model(window->tsConnections)->rows();
    }
    // Rows whose column holds the text.
    std::vector<ConnRow> where(int column, const QString& text) const {
        std::vector<ConnRow> out;
        for (const ConnRow& r : rows())
            if (r.text(column) == text)
                out.push_back(r);
        return out;
    }
    static QString num(unsigned n) { return QString::number(n); }
    // What a header click does with sorting on: flip the arrow, which asks the model to sort.
    // (Synthetic mouse events leave a pointing device that crashes the test's exit.)
    void clickHeader(int section) {
        QHeaderView* h = window->tsConnections->lvConnections->horizontalHeader();
        const Qt::SortOrder order =
            h->sortIndicatorSection() == section && h->sortIndicatorOrder() == Qt::AscendingOrder
                ? Qt::DescendingOrder
                : Qt::AscendingOrder;
        h->setSortIndicator(section, order);
    }
    QStringList columnTexts(int column) const {
        QStringList out;
        for (const ConnRow& r : rows())
            out << r.text(column);
        return out;
    }

    std::unique_ptr<Holder> holder;
};

TEST_F(NetstatPageNetns, ListsTheHoldersSocketsWithItsName) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = filled();
    ASSERT_EQ(PageProbe::model(w.tsConnections)->columnCount(), 8);
    const QString lo = QStringLiteral("0x") + QString::number(::if_nametoindex("lo"), 16).toUpper();

    const auto listeners = where(conncol::LocalPort, num(holder->loPort));
    // The listener and the three accepted ends share the port.
    ASSERT_EQ(listeners.size(), 4u);
    int listening = 0;
    for (const ConnRow& r : listeners) {
        EXPECT_EQ(r.text(0), "TCP");
        EXPECT_EQ(r.dataWord, 1);
        EXPECT_EQ(r.text(conncol::OwnerProcess), "sockholder");
        if (r.text(conncol::Status) == QLatin1String("LISTENING")) {
            ++listening;
            EXPECT_EQ(r.text(conncol::LocalAddress), "127.0.0.1");
            EXPECT_EQ(r.text(conncol::RemoteAddress), "0.0.0.0");
            EXPECT_EQ(r.text(conncol::RemotePort), "0");
        } else {
            EXPECT_EQ(r.text(conncol::Status), "ESTABLISHED");
            EXPECT_EQ(r.text(conncol::ViaInterface), lo);
        }
    }
    EXPECT_EQ(listening, 1);
    const auto clients = where(conncol::RemotePort, num(holder->loPort));
    ASSERT_EQ(clients.size(), 3u);
    for (const ConnRow& r : clients)
        EXPECT_EQ(r.text(conncol::OwnerProcess), "sockholder");

    const auto wild = where(conncol::LocalPort, num(holder->anyPort));
    ASSERT_EQ(wild.size(), 1u);
    EXPECT_EQ(wild[0].text(conncol::LocalAddress), "0.0.0.0");

    const auto udp = where(conncol::LocalPort, num(holder->udpPort));
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].dataWord, 0);
    EXPECT_EQ(udp[0].texts, (QStringList{"UDP", "127.0.0.1", num(holder->udpPort), "", "", "", "",
                                         "sockholder"}));
    // TCP rows first, UDP rows after them, in table order.
    bool seenUdp = false;
    for (const ConnRow& r : rows()) {
        seenUdp = seenUdp || r.dataWord == 0;
        EXPECT_FALSE(seenUdp && r.dataWord == 1);
    }
    EXPECT_FALSE(w.tsConnections->lvConnections->selectionModel()->hasSelection());
}

TEST_F(NetstatPageNetns, PlainListingWithoutTheXpFamily) {
    CORVANE_REQUIRE_NETNS();
    qputenv("CORVANE_PLATFORM_VERSION", "5.0");
    TfrmMain& w = filled();
    EXPECT_EQ(PageProbe::model(w.tsConnections)->columnCount(), 7);
    const auto listeners = where(conncol::LocalPort, num(holder->loPort));
    ASSERT_EQ(listeners.size(), 4u);
    for (const ConnRow& r : listeners)
        EXPECT_EQ(r.texts.size(), 7);
    const auto udp = where(conncol::LocalPort, num(holder->udpPort));
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].texts, (QStringList{"UDP", "127.0.0.1", num(holder->udpPort)}));
}

TEST_F(NetstatPageNetns, EstablishedOnlyAndIgnoreLocalhostFilter) {
    CORVANE_REQUIRE_NETNS();
    OwnSockets own;
    const int listener = own.listen(ownAddress, 4711);
    ASSERT_GE(listener, 0);
    ASSERT_TRUE(own.connect(ownAddress, 4711, listener));

    filled(RuntimeOptions{false, false, true, false});
    ASSERT_FALSE(rows().empty());
    for (const ConnRow& r : rows()) {
        EXPECT_EQ(r.text(0), "TCP");
        EXPECT_EQ(r.text(conncol::Status), "ESTABLISHED");
    }
    EXPECT_EQ(where(conncol::RemotePort, num(holder->loPort)).size(), 3u);

    filled(RuntimeOptions{false, false, false, true});
    for (const ConnRow& r : rows())
        EXPECT_FALSE(r.text(conncol::LocalAddress).startsWith(QLatin1String("127.")))
            << r.texts.join(QLatin1Char(' ')).toStdString();
    // Not loopback: listener, both ends of the connection, and the holder's 0.0.0.0 listener.
    EXPECT_EQ(where(conncol::LocalAddress, QString::fromLatin1(ownAddress)).size(), 3u);
    EXPECT_EQ(where(conncol::LocalPort, num(holder->anyPort)).size(), 1u);
    EXPECT_TRUE(where(conncol::LocalPort, num(holder->udpPort)).empty());
}

TEST_F(NetstatPageNetns, NamesForAddressesAndPorts) {
    CORVANE_REQUIRE_NETNS();
    OwnSockets own;
    ASSERT_GE(own.listen(ownAddress, 80), 0);
    ASSERT_GE(own.listen(ownAddress, 49152), 0);
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, 255), 0);
    const QString hostName = QString::fromLocal8Bit(host);

    filled(RuntimeOptions{true, true, false, false});
    // Both ends of the holder's three connections; closed ones of earlier tests may linger.
    int holderEnds = 0;
    for (const ConnRow& r : where(conncol::RemoteAddress, QStringLiteral("localhost"))) {
        EXPECT_EQ(r.text(conncol::LocalAddress), hostName);
        holderEnds += r.text(conncol::OwnerProcess) == QLatin1String("sockholder") ? 1 : 0;
    }
    EXPECT_EQ(holderEnds, 6);
    int wildListeners = 0;
    for (const ConnRow& r : rows())
        if (r.text(conncol::Status) == QLatin1String("LISTENING")) {
            EXPECT_EQ(r.text(conncol::RemoteAddress), "0.0.0.0");
            wildListeners += r.text(conncol::LocalAddress) == hostName ? 1 : 0;
        }
    EXPECT_GE(wildListeners, 2); // 127.0.0.1 and 0.0.0.0 both name the host

    const servent* http = ::getservbyport(htons(80), "tcp");
    const QString expect80 = http ? QString::fromLatin1(http->s_name) : QStringLiteral("80");
    EXPECT_EQ(where(conncol::LocalPort, expect80).size(), 1u);
    if (::getservbyport(htons(49152), "tcp") == nullptr) {
        EXPECT_EQ(where(conncol::LocalPort, QStringLiteral("49152")).size(), 1u);
    }
}

TEST_F(NetstatPageNetns, HeaderClicksSortLocalPortByValueAndRefillRestoresOrder) {
    CORVANE_REQUIRE_NETNS();
    OwnSockets own;
    for (unsigned p : {135u, 1025u, 80u, 445u})
        ASSERT_GE(own.listen(ownAddress, p), 0);
    TfrmMain& w = filled();
    const QStringList tableOrder = columnTexts(conncol::LocalPort);

    clickHeader(conncol::LocalPort);
    EXPECT_TRUE(PageProbe::model(w.tsConnections)->ascending());
    QStringList ports = columnTexts(conncol::LocalPort);
    EXPECT_LT(ports.indexOf("135"), ports.indexOf("1025"));
    EXPECT_LT(ports.indexOf("80"), ports.indexOf("445"));
    for (int i = 1; i < ports.size(); ++i)
        EXPECT_LE(compareConnCells(ports[i - 1], ports[i]), 0);

    // A click on another column sorts that one, the other way round.
    clickHeader(conncol::Status);
    EXPECT_FALSE(PageProbe::model(w.tsConnections)->ascending());
    EXPECT_EQ(PageProbe::model(w.tsConnections)->sortColumn(), conncol::Status);
    const QStringList states = columnTexts(conncol::Status);
    for (int i = 1; i < states.size(); ++i)
        EXPECT_GE(compareConnCells(states[i - 1], states[i]), 0);

    ASSERT_EQ(w.tsConnections->lvConnections->horizontalHeader()->sortIndicatorSection(),
              conncol::Status);
    w.tsConnections->FillConnectionTable();
    EXPECT_EQ(columnTexts(conncol::LocalPort), tableOrder);
    // Table order again, so no arrow; the sort state itself lives on until the next click.
    EXPECT_EQ(w.tsConnections->lvConnections->horizontalHeader()->sortIndicatorSection(), -1);
    EXPECT_EQ(PageProbe::model(w.tsConnections)->sortColumn(), conncol::Status);
}

TEST_F(NetstatPageNetns, TogglesRefillThisPageAndTheReport) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = filled();
    QSignalSpy reports(w.tsConnections, &NetstatPage::listingToggled);
    ASSERT_FALSE(where(conncol::LocalPort, num(holder->udpPort)).empty());

    w.item(QStringLiteral("EstablishedOnly1"))->trigger();
    EXPECT_TRUE(currentOptions().run.optEstablishedOnly);
    EXPECT_TRUE(where(conncol::LocalPort, num(holder->udpPort)).empty());
    EXPECT_EQ(reports.count(), 1);
    // The window answers the toggle with a new report block under the changed title.
    EXPECT_TRUE(w.tsReport->reportText().contains(netstatTitle(true)));
    w.item(QStringLiteral("EstablishedOnly1"))->trigger();
    EXPECT_FALSE(currentOptions().run.optEstablishedOnly);
    EXPECT_FALSE(where(conncol::LocalPort, num(holder->udpPort)).empty());

    w.item(QStringLiteral("ResolveIPAddresses1"))->trigger();
    EXPECT_TRUE(currentOptions().run.optResolveAddresses);
    EXPECT_FALSE(where(conncol::RemoteAddress, QStringLiteral("localhost")).empty());
    w.item(QStringLiteral("ResolveProtocolName1"))->trigger();
    EXPECT_TRUE(currentOptions().run.optResolvePorts);
    EXPECT_EQ(reports.count(), 4);

    // Only the run-time option changes; nothing is stored.
    EXPECT_FALSE(currentOptions().on(Option::ResolveAddresses));

    // Through the refresh cycle the page is filled too, and colours follow the setting.
    setRuntime({});
    PageProbe::model(w.tsConnections)->clear();
    w.RefreshNetworkStatus();
    EXPECT_FALSE(where(conncol::LocalPort, num(holder->udpPort)).empty());
    setOption(Option::ColoredTables, true);
    const QModelIndex first = PageProbe::model(w.tsConnections)->index(0, 0);
    EXPECT_EQ(first.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    setOption(Option::ColoredTables, false);
    EXPECT_FALSE(first.data(Qt::ForegroundRole).isValid());
}

} // namespace

namespace {

TEST_F(NetstatPageNetns, TenThousandConnectionsAllNamed) {
    CORVANE_REQUIRE_NETNS();
    constexpr int holders = 10, perHolder = 500; // within the default descriptor limit
    std::vector<std::unique_ptr<Holder>> more;
    for (int i = 0; i < holders; ++i) {
        more.push_back(std::make_unique<Holder>(perHolder));
        ASSERT_TRUE(more.back()->ready());
    }
    QElapsedTimer clock;
    clock.start();
    filled(RuntimeOptions{false, false, true, false});
    const qint64 ms = clock.elapsed();
    int named = 0;
    for (const ConnRow& r : rows())
        named += r.text(conncol::OwnerProcess) == QLatin1String("sockholder") ? 1 : 0;
    EXPECT_EQ(named, 2 * (holders * perHolder + 3));
    RecordProperty("fill_ms", static_cast<int>(ms));
}

} // namespace

namespace {

// The stored options are in force from the first refresh on: the first report lists what the
// page lists, not the loopback rows of the defaults.
TEST_F(NetstatPageNetns, FirstReportMatchesThePage) {
    CORVANE_REQUIRE_NETNS();
    setOption(Option::IgnoreLocalhost, true);
    setOption(Option::AutoUpdate, true);
    storeOptions();
    setOption(Option::IgnoreLocalhost, false);
    make();
    showAndSettle();
    // The first automatic update builds the first report, from the rows already listed.
    const auto reported = [this] {
        return window->tsReport->reportText().contains(QStringLiteral("Netstat Table"));
    };
    EXPECT_TRUE(corvane::test::waitFor(reported, 10'000));
    const QString report = window->tsReport->reportText();
    const qsizetype netstat = report.indexOf(QStringLiteral("Netstat Table"));
    ASSERT_GE(netstat, 0) << report.toStdString();
    EXPECT_EQ(report.indexOf(QStringLiteral("127.0.0.1"), netstat), -1) << report.toStdString();
    EXPECT_TRUE(where(conncol::LocalAddress, QStringLiteral("127.0.0.1")).empty());
    EXPECT_FALSE(where(conncol::LocalPort, num(holder->anyPort)).empty());
}

} // namespace
