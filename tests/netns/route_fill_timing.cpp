// Times a full Routes refresh against `ip` in a private world of 100,000 routes: the two
// GetIpForwardTable calls a fill makes, FillRouteTable with the view's update, and
// `ip -4 route show`. Built on demand (target route_fill_timing), run as root; prints figures.
#include "../gui/gui_fixture.h"
#include "netns.h"
#include "routing/persistentroutes.h"
#include "routing/routemodel.h"
#include "routing/routespage.h"

#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr int kRoutes = 100000;
constexpr int kPairs = 100; // veth pairs: two hundred interfaces
constexpr int kRuns = 7;

using Clock = std::chrono::steady_clock;

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs f kRuns times after setup each time (untimed); the median in milliseconds.
double timed(const std::function<void()>& f, const std::function<void()>& setup = {}) {
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        if (setup)
            setup();
        const auto t = Clock::now();
        f();
        runs.push_back(millis(Clock::now() - t));
    }
    return median(runs);
}

void writeFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

// Interfaces with addresses, then kRoutes distinct /24s through their neighbours.
void buildWorld() {
    std::string links;
    for (int k = 0; k < kPairs; ++k) {
        const std::string a = "va" + std::to_string(k), b = "vb" + std::to_string(k);
        links += "link add " + a + " type veth peer name " + b + "\n";
        links += "link set " + a + " up\nlink set " + b + " up\n";
        links += "addr add 172.16." + std::to_string(k) + ".1/24 dev " + a + "\n";
        links += "addr add 172.17." + std::to_string(k) + ".1/24 dev " + b + "\n";
    }
    std::string routes = "route add default via 172.16.0.2\n";
    routes.reserve(size_t{kRoutes} * 48);
    for (int i = 0; i < kRoutes; ++i) {
        const uint32_t dst = (20U << 24) + (static_cast<uint32_t>(i) << 8);
        routes += "route add " + std::to_string(dst >> 24) + "." +
                  std::to_string((dst >> 16) & 255) + "." + std::to_string((dst >> 8) & 255) +
                  ".0/24 via 172.16." + std::to_string(i % kPairs) + ".2\n";
    }
    const std::string file = "/tmp/" + uniqueName("route-fill-timing");
    writeFile(file, links);
    sh("ip -batch " + file);
    writeFile(file, routes);
    sh("ip -batch " + file);
    std::remove(file.c_str());
}

double sizeCallTotal = 0; // milliseconds spent in the first of the two calls

// The calls FillRouteTable makes: the size with a one-row buffer, then the sorted fill.
size_t forwardTablePair() {
    std::vector<DWORD> buf(sizeof(MIB_IPFORWARDTABLE) / sizeof(DWORD) + 1);
    ULONG size = sizeof(MIB_IPFORWARDTABLE);
    const auto t = Clock::now();
    EXPECT_EQ(iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buf.data()), &size,
                                        BOOL{0}),
              ERROR_INSUFFICIENT_BUFFER);
    sizeCallTotal += millis(Clock::now() - t);
    buf.assign(size / sizeof(DWORD) + 1, 0);
    EXPECT_EQ(iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buf.data()), &size,
                                        BOOL{1}),
              NO_ERROR);
    return reinterpret_cast<const MIB_IPFORWARDTABLE*>(buf.data())->dwNumEntries;
}

class RouteFillTiming : public MainWindowFixture {};

TEST_F(RouteFillTiming, HundredThousandRoutes) {
    CORVANE_REQUIRE_NETNS();
    sh("sysctl -qw net.ipv6.conf.default.disable_ipv6=1");
    buildWorld();
    const std::string main = shOut("ip -4 route show table main | wc -l");
    std::printf("[ world    ] %d interfaces, %d routes in main\n", 2 * kPairs + 1, std::stoi(main));

    const double ipMain = timed([] { sh("ip -4 route show table main >/dev/null"); });
    const double ipBoth = timed([] {
        sh("ip -4 route show table main >/dev/null; ip -4 route show table local >/dev/null");
    });

    iphlp().bind(true);
    ASSERT_TRUE(iphlp().ipHelperLoaded());
    auto t = Clock::now();
    const size_t rows = forwardTablePair();
    const double coldPair = millis(Clock::now() - t);
    EXPECT_GT(rows, size_t{kRoutes});
    const double warmPair = timed([] { forwardTablePair(); });
    int n = 0;
    const auto addRoute = [&n] {
        sh("ip route add 30.0." + std::to_string(n++) + ".0/24 via 172.16.0.2");
    };
    sizeCallTotal = 0;
    const double changedPair = timed([] { forwardTablePair(); }, addRoute);
    const double changedSizeCall = sizeCallTotal / kRuns;

    // A store that holds persistent routes, some of them present.
    for (int i = 0; i < 100; ++i)
        SetPersistent("20.0." + std::to_string(i * 7) + ".0,255.255.255.0,172.16." +
                          std::to_string(i * 7 % kPairs) + ".2,0",
                      true);
    TfrmMain& w = make();
    showAndSettle();
    w.pcMain->setCurrentWidget(w.tsRoutes);
    QCoreApplication::processEvents();
    double fillOnly = 0;
    const auto fillAndPaint = [&] {
        const auto f = Clock::now();
        w.tsRoutes->FillRouteTable();
        fillOnly += millis(Clock::now() - f);
        QCoreApplication::processEvents(); // the view's update and paint
    };
    const double fillChanged = timed(fillAndPaint, addRoute);
    const double fillChangedOnly = fillOnly / kRuns;
    fillOnly = 0;
    const double fill = timed(fillAndPaint);
    EXPECT_GE(static_cast<size_t>(PageProbe::model(w.tsRoutes)->rowCount()), rows);
    EXPECT_EQ(PageProbe::model(w.tsRoutes)->index(0, 0).data().toString().toStdString(), "0.0.0.0");

    std::printf("[ figures  ] ip -4 route show table main: %.1f ms; main + local: %.1f ms\n",
                ipMain, ipBoth);
    std::printf("[ figures  ] GetIpForwardTable (size call + sorted fill call): first %.1f ms, "
                "after one route added %.1f ms (size call, mean %.1f ms), unchanged %.1f ms\n",
                coldPair, changedPair, changedSizeCall, warmPair);
    std::printf("[ figures  ] FillRouteTable with view update: after one route added %.1f ms "
                "(fill alone, mean %.1f ms); unchanged %.1f ms (fill alone, mean %.1f ms)\n",
                fillChanged, fillChangedOnly, fill, fillOnly / kRuns);
}

} // namespace
