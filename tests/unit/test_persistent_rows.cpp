// The second key's route names: read strictly, written in one text, and matched against the
// Routes page's rows of the kernel's tables.
#include "registry/route_name2.h"
#include "routing/persistent_rows.h"
#include "routing/restore.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

std::string stored(const std::string& text) {
    const reg::StorableWideName s = reg::storableWideRouteName(text);
    return s.fault == reg::WideRouteFault::None ? s.name : reg::wideRouteFaultText(s.fault);
}

// A row as kernelRouteRow makes it for a unicast route.
RouteRow kernelRow(const char* prefix, unsigned length, const char* hop, DWORD metric,
                   std::uint32_t table, DWORD ifIndex) {
    CORVANE_ROUTE_ROW r{};
    const bool v6 = std::strchr(prefix, ':') != nullptr;
    const int family = v6 ? AF_INET6 : AF_INET;
    r.Route.DestinationPrefix.Prefix.si_family = static_cast<ADDRESS_FAMILY>(family);
    inet_pton(family, prefix,
              v6 ? static_cast<void*>(&r.Route.DestinationPrefix.Prefix.Ipv6.sin6_addr)
                 : static_cast<void*>(&r.Route.DestinationPrefix.Prefix.Ipv4.sin_addr));
    r.Route.DestinationPrefix.PrefixLength = static_cast<UINT8>(length);
    if (hop) {
        r.Route.NextHop.si_family = static_cast<ADDRESS_FAMILY>(family);
        inet_pton(family, hop,
                  v6 ? static_cast<void*>(&r.Route.NextHop.Ipv6.sin6_addr)
                     : static_cast<void*>(&r.Route.NextHop.Ipv4.sin_addr));
    }
    r.Route.Metric = metric;
    r.Route.InterfaceIndex = ifIndex;
    r.Table = table;
    r.Type = CORVANE_ROUTE_UNICAST;
    return kernelRouteRow(r);
}

std::string nameOf(DWORD index) {
    return index == 7 ? "dv0" : index == 8 ? "wg,0" : "";
}

} // namespace

TEST(WideRouteNames, OneTextPerRouteAndStrictFields) {
    EXPECT_EQ(stored("inet6,2001:DB8:5:0:0::/64,FE80::1,0,254,dv0"),
              "inet6,2001:db8:5::/64,fe80::1,1024,254,dv0");
    EXPECT_EQ(stored("Inet,10.98.0.0/16,10.9.0.254,81,100,eth1"),
              "inet,10.98.0.0/16,10.9.0.254,81,100,eth1");
    // The interface comes last and may hold a comma.
    EXPECT_EQ(stored("inet6,::/0,::,5,100,wg,0"), "inet6,::/0,::,5,100,wg,0");
    EXPECT_EQ(stored("inet,0.0.0.0/0,10.9.0.254,4294967295,4294967295,a"),
              "inet,0.0.0.0/0,10.9.0.254,4294967295,4294967295,a");
    for (const char* bad : {
             "inet6,2001:db8::/64,::,1,254",           // no interface field
             "inet6,2001:db8::/64,::,1,254,",          // an empty one
             "inet6,2001:db8::/64,::,1,254,has space", // not a Linux name
             "inet6,2001:db8::/64,::,1,254,a:b",       // nor this
             "inet6,2001:db8::/64,::,1,254,sixteen-bytes-xx",
             "inet6,2001:db8::/129,::,1,254,dv0",     // too long a prefix
             "inet6,2001:db8::/064x,::,1,254,dv0",    //
             "inet6,2001:db8::1/64,::,1,254,dv0",     // host bits
             "inet6,2001:db8::/64,ff02::1,1,254,dv0", // multicast next hop
             "inet6,2001:db8::/64,::,-1,254,dv0",     // signed metric
             "inet6,2001:db8::/64,::,4294967296,254,dv0",
             "inet6,2001:db8::/64,::,1,255,dv0",      // local
             "inet6,2001:db8::/64,::,1,0,dv0",        // no table
             "inet,10.0.0.0/8,10.9.0.1,1,254,dv0",    // the first key's
             "inet,10.0.0.0/8,2001:db8::1,1,100,dv0", // a next hop of the other family
             "inet,010.0.0.0/8,10.9.0.1,1,100,dv0",   // leading zeros
             "inet,10.0.0.0/8,10.9.0.1, 1,100,dv0",   //
             "inet4,10.0.0.0/8,10.9.0.1,1,100,dv0",   //
             "10.0.0.0,255.0.0.0,10.9.0.1,1",         // a name of the first key
             "",
         })
        EXPECT_NE(reg::storableWideRouteName(bad).fault, reg::WideRouteFault::None) << bad;
    EXPECT_NE(reg::storableWideRouteName(std::string("inet6,::/0,::,1,254,dv0\0x", 25)).fault,
              reg::WideRouteFault::None)
        << "a zero byte inside the interface name";
    EXPECT_EQ(reg::storableWideRouteName(std::string(300, 'a')).fault,
              reg::WideRouteFault::TooLong);
    EXPECT_TRUE(reg::looksWide("inet6,garbage"));
    EXPECT_FALSE(reg::looksWide("10.0.0.0,255.0.0.0,10.9.0.1,1"));
    EXPECT_FALSE(reg::looksWide("inet6"));
}

TEST(WideRouteNames, RowsBearTheirNameAndAreMarkedByIt) {
    std::vector<RouteRow> rows = {
        kernelRow("2001:db8:5::", 64, "fe80::1", 1024, 254, 7),
        kernelRow("2001:db8:6::", 64, nullptr, 7, 100, 7),
        kernelRow("10.98.0.0", 16, "10.9.0.254", 81, 100, 8),
        kernelRow("10.97.0.0", 16, "10.9.0.254", 81, 254, 7), // the first key's: never here
        kernelRow("2001:db8:7::", 64, nullptr, 1024, 254, 9), // an interface without a name
        kernelRow("fe80::", 64, nullptr, 256, 255, 7),        // local: never stored
    };
    EXPECT_EQ(widePersistentRouteName(rows[0], nameOf),
              "inet6,2001:db8:5::/64,fe80::1,1024,254,dv0");
    EXPECT_EQ(widePersistentRouteName(rows[1], nameOf), "inet6,2001:db8:6::/64,::,7,100,dv0");
    EXPECT_EQ(widePersistentRouteName(rows[2], nameOf), "inet,10.98.0.0/16,10.9.0.254,81,100,wg,0");
    EXPECT_EQ(widePersistentRouteName(rows[3], nameOf), "");
    EXPECT_EQ(widePersistentRouteName(rows[4], nameOf), "");
    EXPECT_EQ(widePersistentRouteName(rows[5], nameOf), "");

    // Letter case ignored, as the store compares names; another interface is another route.
    const WidePersistentNames names({"INET6,2001:DB8:5::/64,FE80::1,1024,254,DV0",
                                     "inet6,2001:db8:6::/64,::,7,100,other",
                                     "inet,10.98.0.0/16,10.9.0.254,81,100,wg,0"});
    markWidePersistent(rows, names, nameOf);
    EXPECT_TRUE(rows[0].persistent);
    EXPECT_FALSE(rows[1].persistent);
    EXPECT_TRUE(rows[2].persistent);
    EXPECT_FALSE(rows[3].persistent);
}

TEST(WideRouteNames, StoredRoutesTheKernelLacksBecomeRowsWhereTheListShowsThem) {
    const std::vector<RouteRow> rows = {kernelRow("2001:db8:5::", 64, "fe80::1", 1024, 254, 7)};
    const std::vector<std::string> names = {
        "inet6,2001:db8:5::/64,fe80::1,1024,254,dv0", // live
        "inet6,2001:db8:9::/64,::,5,254,dv0",         // gone
        "inet,10.98.0.0/16,10.9.0.254,81,100,dv0",    // gone, another table
        "inet6,broken",                               // no route: no row
    };
    const auto shown = [&](RouteFilters f) {
        std::vector<std::string> out;
        for (const RouteRow& r : inactiveWidePersistentRows(rows, names, f, nameOf))
            out.push_back(r.storedName());
        return out;
    };
    EXPECT_TRUE(shown({}).empty()) << "neither IPv6 nor the other tables listed";
    EXPECT_EQ(shown({false, false, true, false}),
              std::vector<std::string>{"inet6,2001:db8:9::/64,::,5,254,dv0"});
    EXPECT_EQ(shown({false, false, false, true}),
              std::vector<std::string>{"inet,10.98.0.0/16,10.9.0.254,81,100,dv0"});
    const std::vector<RouteRow> both =
        inactiveWidePersistentRows(rows, names, {false, false, true, true}, nameOf);
    ASSERT_EQ(both.size(), 2U);
    EXPECT_TRUE(both[0].inactive() && both[0].persistent);
    EXPECT_EQ(routeCellText(both[0], fwcol::Destination), "2001:db8:9::");
    EXPECT_EQ(routeCellText(both[0], fwcol::Mask), "/64");
    EXPECT_EQ(routeCellText(both[0], fwcol::NextHop), "::");
    EXPECT_EQ(routeCellText(both[0], fwcol::Metric), "5");
    EXPECT_EQ(both[1].table, 100U);
    // Deleted as a store-only row: by its name as stored.
    EXPECT_EQ(widePersistentRouteName(both[1], nameOf), names[2]);
}

TEST(WideRestore, PresentOnlyWithEveryFieldAndAddedWithTheInterface) {
    reg::WideRouteName route =
        *reg::readWideRouteName("inet6,2001:db8:5::/64,fe80::1,1024,100,dv0");
    CORVANE_ROUTE_ROW live[2] = {};
    const auto set = [](CORVANE_ROUTE_ROW& r, std::uint32_t table, DWORD metric, DWORD ifIndex) {
        r.Route.DestinationPrefix.Prefix.si_family = AF_INET6;
        inet_pton(AF_INET6, "2001:db8:5::", &r.Route.DestinationPrefix.Prefix.Ipv6.sin6_addr);
        r.Route.DestinationPrefix.PrefixLength = 64;
        r.Route.NextHop.si_family = AF_INET6;
        inet_pton(AF_INET6, "fe80::1", &r.Route.NextHop.Ipv6.sin6_addr);
        r.Route.Metric = metric;
        r.Route.InterfaceIndex = ifIndex;
        r.Table = table;
        r.Type = CORVANE_ROUTE_UNICAST;
    };
    set(live[0], 254, 1024, 7); // main, not table 100
    set(live[1], 100, 1025, 7); // another metric
    WideRestorePlan plan = planWideRestore(route, 7, live, 2);
    ASSERT_EQ(plan.kind, WideRestorePlan::Kind::Add);
    EXPECT_EQ(plan.record.InterfaceIndex, 7U);
    EXPECT_EQ(plan.record.Metric, 1024U);
    EXPECT_EQ(plan.record.NextHop.Ipv6.sin6_scope_id, 7U) << "a link-local next hop's zone";
    EXPECT_EQ(plan.record.DestinationPrefix.PrefixLength, 64);
    set(live[1], 100, 1024, 7);
    EXPECT_EQ(planWideRestore(route, 7, live, 2).kind, WideRestorePlan::Kind::Present);
    EXPECT_EQ(planWideRestore(route, 8, live, 2).kind, WideRestorePlan::Kind::Add)
        << "the same route on another interface is another route";
    EXPECT_EQ(planWideRestore(route, 0, live, 2).kind, WideRestorePlan::Kind::NoInterface);

    // On the link: a live row without a gateway is the route.
    route = *reg::readWideRouteName("inet6,2001:db8:5::/64,::,1024,100,dv0");
    EXPECT_EQ(planWideRestore(route, 7, live, 2).kind, WideRestorePlan::Kind::Add);
    live[1].Route.NextHop = {};
    EXPECT_EQ(planWideRestore(route, 7, live, 2).kind, WideRestorePlan::Kind::Present);
    EXPECT_EQ(planWideRestore(route, 7, live, 2).record.NextHop.si_family, 0);
}
