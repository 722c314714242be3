// The networkd drop-in of persistent routes: its text read back, hostile paths from the store
// refused, and a store value's data kept apart from its name.
#include "netmgr/route_home.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::sys::netmgr;

namespace {

reg::RouteName route(const char* text) {
    return *reg::readRouteName(text);
}

} // namespace

TEST(RouteHomeDropin, TextReadsBackAndIgnoresWhatIsNotARouteOfOurs) {
    const std::vector<reg::RouteName> routes = {route("10.95.0.0,255.255.0.0,10.66.0.2,3"),
                                                route("0.0.0.0,0.0.0.0,10.66.0.1,4294967295"),
                                                route("10.1.2.3,255.255.255.255,10.66.0.2,0")};
    const std::string text = dropinText(routes);
    EXPECT_NE(text.find("[Route]\nDestination=10.95.0.0/16\nGateway=10.66.0.2\nMetric=3\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(parseDropin(text), routes);

    // A section without one of the three keys, another section's keys, and bad values.
    EXPECT_EQ(parseDropin("[Route]\nDestination=10.0.0.0/8\nGateway=10.0.0.1\n"
                          "[Network]\nDestination=10.0.0.0/8\nGateway=10.0.0.1\nMetric=1\n"
                          "[Route]\nDestination=10.0.0.0/33\nGateway=10.0.0.1\nMetric=1\n"
                          "[Route]\nDestination=10.0.0.0/\nGateway=10.0.0.1\nMetric=1\n"
                          "[Route]\nDestination=10.0.0.0/8\nGateway=10.0.0.1\nMetric=4294967296\n"
                          "[Route]\nDestination=10.0.0.0/8\nGateway=10.0.0.1\nMetric=-1\n"
                          "[Route]\nDestination=10.0.0.0/8\nGateway=1e.0.0.1\nMetric=1\n"),
              std::vector<reg::RouteName>{});
    static const char withNul[] = "\0\n[Route\n=\n[Route]\n=\nDestination\n";
    EXPECT_EQ(parseDropin(std::string(withNul, sizeof withNul - 1)), std::vector<reg::RouteName>{});
    // No line feed at the end.
    EXPECT_EQ(parseDropin("[Route]\nDestination=10.0.0.0/8\nGateway=10.0.0.1\nMetric=7"),
              std::vector<reg::RouteName>{route("10.0.0.0,255.0.0.0,10.0.0.1,7")});
}

TEST(RouteHomeDropin, PathsComeOnlyFromPlainNetworkFileNames) {
    const std::string root = "/etc/systemd/network";
    EXPECT_EQ(dropinFor("/run/systemd/network/50-eth.network", root),
              "/etc/systemd/network/50-eth.network.d/corvane-routes.conf");
    EXPECT_EQ(dropinFor("50-eth.network", root),
              "/etc/systemd/network/50-eth.network.d/corvane-routes.conf");
    for (const char* bad :
         {"", "/run/x/.network", "/run/x/50-eth.netdev", "/run/x/a b.network", "/run/x/a\n.network",
          "/run/x/", "/run/x/a\\b.network", "/run/x/caf\xc3\xa9.network"})
        EXPECT_FALSE(dropinFor(bad, root)) << bad;

    EXPECT_TRUE(isDropinPath("/etc/systemd/network/50-eth.network.d/corvane-routes.conf", root));
    for (const char* bad : {
             "/etc/systemd/network/../../shadow.network.d/corvane-routes.conf",
             "/etc/systemd/network/50-eth.network.d/../corvane-routes.conf",
             "/etc/systemd/network/50-eth.network.d/other.conf",
             "/etc/systemd/network/50-eth.network.d/x/corvane-routes.conf",
             "/etc/systemd/network/.network.d/corvane-routes.conf",
             "/etc/systemd/network-x/50-eth.network.d/corvane-routes.conf",
             "/etc/systemd/network/50-eth.netdev.d/corvane-routes.conf",
             "/etc/systemd/network/50-eth.network.d/corvane-routes.conf/",
             "etc/systemd/network/50-eth.network.d/corvane-routes.conf",
         })
        EXPECT_FALSE(isDropinPath(bad, root)) << bad;
}

TEST(RouteHomeStore, OldValuesAndForeignPlacesAreForgottenWithoutTouchingAnything) {
    // No bus in reach: nothing is placed, and a value's data of a place not ours (or of no
    // route) is left alone on removal.
    Homes homes;
    homes.networkdRoot = "/nonexistent-corvane-root";
    reg::KeyData key;
    key.values.emplace_back("10.95.0.0,255.255.0.0,10.66.0.2,3", reg::Value::ofString({}));
    key.values.emplace_back("10.96.0.0,255.255.0.0,10.66.0.2,3",
                            reg::Value::ofString("networkd:/etc/passwd"));
    key.values.emplace_back("not a route", reg::Value::ofString("nm:x"));
    std::vector<std::string> failures;
    EXPECT_FALSE(changeStoredRoutes(key, {"10.95.0.0,255.255.0.0,10.66.0.2,3"}, true, failures,
                                    nullptr, homes));
    EXPECT_TRUE(changeStoredRoutes(
        key,
        {"10.95.0.0,255.255.0.0,10.66.0.2,3", "10.96.0.0,255.255.0.0,10.66.0.2,3", "NOT A ROUTE"},
        false, failures, nullptr, homes));
    EXPECT_TRUE(key.values.empty());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures.front().find("not a drop-in of Corvane's"), std::string::npos)
        << failures.front();
}
