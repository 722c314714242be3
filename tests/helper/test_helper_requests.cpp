// What the helper accepts, and the client's answer when no helper can be reached.
#include "corvane_result.h"
#include "helper/requests.h"
#include "helperclient/client.h"
#include "iphlpapi.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace corvane::helper {
namespace {

uint32_t quad(const char* s) {
    in_addr a{};
    inet_pton(AF_INET, s, &a);
    return a.s_addr;
}

RouteArgs route(const char* dest, const char* mask, uint32_t ifIndex = 2) {
    return RouteArgs{quad(dest), quad(mask), quad("10.0.0.1"), ifIndex, 4, 3, 1};
}

TEST(HelperRequests, RoutesNeedContiguousMaskCleanDestinationAndIndex) {
    EXPECT_EQ(checkRoute(route("10.1.0.0", "255.255.0.0")), NO_ERROR);
    EXPECT_EQ(checkRoute(route("0.0.0.0", "0.0.0.0")), NO_ERROR);
    EXPECT_EQ(checkRoute(route("10.1.0.0", "255.0.255.0")), ERROR_INVALID_NETMASK);
    EXPECT_EQ(checkRoute(route("10.1.0.5", "255.255.0.0")), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkRoute(route("10.1.0.0", "255.255.0.0", 0)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkRoute(route("10.1.0.0", "255.255.0.0", 0x80000000u)), ERROR_INVALID_PARAMETER);
    RouteArgs badType = route("10.1.0.0", "255.255.0.0");
    badType.type = 5;
    EXPECT_EQ(checkRoute(badType), ERROR_INVALID_PARAMETER);
}

TEST(HelperRequests, AddressesAndInterfaceStates) {
    EXPECT_EQ(checkAddress(quad("10.1.2.3"), quad("255.255.255.0"), 3), NO_ERROR);
    EXPECT_EQ(checkAddress(quad("10.1.2.3"), quad("255.0.255.0"), 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAddress(quad("224.0.0.1"), quad("255.255.255.0"), 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAddress(quad("10.1.2.255"), quad("255.255.255.0"), 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAddress(quad("10.1.2.255"), quad("255.255.255.255"), 3), NO_ERROR);
    EXPECT_EQ(checkAddress(quad("10.1.2.3"), 0, 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAddress(0, quad("255.255.255.0"), 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAdminStatus(3, MIB_IF_ADMIN_STATUS_DOWN), NO_ERROR);
    EXPECT_EQ(checkAdminStatus(3, 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkAdminStatus(0, MIB_IF_ADMIN_STATUS_UP), ERROR_INVALID_PARAMETER);
}

TEST(HelperRequests, LeaseNamesAreInterfaceNamesOnly) {
    EXPECT_EQ(checkLease(2, ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, "enp0s31f6"), NO_ERROR);
    EXPECT_EQ(checkLease(2, "../eth0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, "eth 0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, "a-name-of-16-chr"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, std::string_view("eth\0x", 5)), ERROR_INVALID_PARAMETER);
}

TEST(HelperRequests, TheNamedInterfaceMustBeTheIndexsHere) {
    const std::optional<std::string> eth0("eth0");
    EXPECT_EQ(checkInterface(2, "eth0", eth0), NO_ERROR);
    // Another namespace's index 2, or an older list's: this namespace's index 2 is another.
    EXPECT_EQ(checkInterface(2, "veth7", eth0), ERROR_DEV_NOT_EXIST);
    EXPECT_EQ(checkInterface(2, "eth0", std::nullopt), ERROR_DEV_NOT_EXIST);
    EXPECT_EQ(checkInterface(2, "eth", eth0), ERROR_DEV_NOT_EXIST);
    // No name is no interface; a name no interface can have is a malformed request.
    EXPECT_EQ(checkInterface(2, "", eth0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkInterface(2, "eth0/x", eth0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkInterface(0, "eth0", eth0), ERROR_INVALID_PARAMETER);
}

TEST(HelperRequests, DetailsSayWhatWillChange) {
    EXPECT_EQ(describeAdminStatus("eth0", MIB_IF_ADMIN_STATUS_DOWN), "bring eth0 down");
    EXPECT_EQ(describeAdminStatus("eth0", MIB_IF_ADMIN_STATUS_UP), "bring eth0 up");
    RouteArgs r{quad("10.0.0.0"), quad("255.0.0.0"), quad("192.168.1.1"), 2, 4, 3, 1};
    EXPECT_EQ(describeRoute(true, r, "eth0"), "add route 10.0.0.0/8 via 192.168.1.1 on eth0");
    r.nextHop = 0;
    EXPECT_EQ(describeRoute(false, r, "eth0"), "delete route 10.0.0.0/8 on eth0");
    const RouteArgs byDefault{0, 0, quad("10.9.0.2"), 3, 4, 3, 1};
    EXPECT_EQ(describeRoute(true, byDefault, "wlp2s0"),
              "add route 0.0.0.0/0 via 10.9.0.2 on wlp2s0");
    EXPECT_EQ(describeAddress(true, quad("10.0.0.6"), quad("255.0.0.0"), "eth0"),
              "add address 10.0.0.6/8 on eth0");
    EXPECT_EQ(describeAddress(false, quad("10.1.2.3"), quad("255.255.255.255"), "eth1"),
              "delete address 10.1.2.3/32 on eth1");
    EXPECT_EQ(describeLease(true, "eth0"), "renew the DHCP lease of eth0");
    EXPECT_EQ(describeLease(false, "eth0"), "release the DHCP lease of eth0");
    EXPECT_EQ(describePersistentRoutes(true, {"a", "b", "c"}), "store 3 persistent routes");
    EXPECT_EQ(describePersistentRoutes(false, {"10.50.0.0,255.255.0.0,10.9.0.2,5"}),
              "forget the persistent route 10.50.0.0,255.255.0.0,10.9.0.2,5");
    // What an agent shows cannot be made to say something else: no line breaks, no
    // terminal controls, no backslash sequences of the caller's.
    EXPECT_EQ(describeLease(true, "eth0\n\x1b[2J"), "renew the DHCP lease of eth0\\x0a\\x1b[2J");
    EXPECT_EQ(describePersistentRoutes(true, {"x\\n\x7f"}),
              "store the persistent route x\\x5cn\\x7f");
}

std::string stored(const char* name) {
    const StoreNames checked = namesToStore({name});
    return checked.accepted.empty() ? std::string("refused") : checked.accepted.front();
}

TEST(HelperRequests, RouteNamesAreStoredInTheOneTextOfTheirRoute) {
    EXPECT_EQ(stored("10.50.0.0,255.255.0.0,10.9.0.2,5"), "10.50.0.0,255.255.0.0,10.9.0.2,5");
    EXPECT_EQ(stored("0.0.0.0,0.0.0.0,192.168.1.1,-1"), "0.0.0.0,0.0.0.0,192.168.1.1,-1");
    EXPECT_EQ(stored("10.50.0.0,255.255.0.0,10.9.0.2,2147483647"),
              "10.50.0.0,255.255.0.0,10.9.0.2,2147483647");
    // What the program's address value reads is a quad here too; it is stored as its row
    // shows it, so that one route has one name.
    EXPECT_EQ(stored("010.50.0.0,255.255.0.0,10.9.0.2,5"), "10.50.0.0,255.255.0.0,10.9.0.2,5");
    EXPECT_EQ(stored("10.061.0.0,255.255.000.0,10.9.0.02,05"), "10.61.0.0,255.255.0.0,10.9.0.2,5");
    EXPECT_EQ(stored("10.50.0.0,255.255.0.0,10.9.0.2,-0"), "10.50.0.0,255.255.0.0,10.9.0.2,0");
    EXPECT_EQ(stored("10.50.0.0,255.255.0.0,10.9.0.2,4294967295"),
              "10.50.0.0,255.255.0.0,10.9.0.2,-1");
    for (const char* bad :
         {"10.50.0.0,255.255.0.0,10.9.0.2,4294967296", // past a 32-bit metric
          "10.50.0.0,255.255.0.0,10.9.0.2,-2147483649", "10.50.0.0,255.0.255.0,10.9.0.2,5",
          "10.50.0.1,255.255.0.0,10.9.0.2,5", "10.50.0.0,255.255.0.0,0.0.0.0,5",
          "10.50.0.0,255.255.0.0,10.9.0.2", "10.50.0.0,255.255.0.0,10.9.0.2,5,",
          "10.50.0.0,255.255.0.0,10.9.0.2,5\n[other]", "10.50.0.0,255.255.0.0,10.9.0.256,5",
          "10.50.0,255.255.0.0,10.9.0.2,5", "10.50.0.0 ,255.255.0.0,10.9.0.2,5",
          "-10.50.0.0,255.255.0.0,10.9.0.2,5", "10.50.0.0,255.255.0.0,10.9.0.2,+5",
          "0010.050.000.000,255.255.0.0,10.9.0.2,5", // a quad of 16 characters is none
          "10.50.0.0,255.255.0.0,10.9.0.2,0000000000000000000000000000000000000000000000005", ""})
        EXPECT_EQ(stored(bad), "refused") << bad;
}

TEST(HelperRequests, ARefusedNameFailsAloneWithItsReason) {
    const StoreNames checked =
        namesToStore({"10.60.0.0,255.255.0.0,10.9.0.2,1", "10.061.0.0,255.255.0.0,10.9.0.2,1",
                      "10.62.0.0,255.255.0.0,0.0.0.0,1", "10.63.0.5,255.255.0.0,10.9.0.2,1",
                      "10.64.0.0,255.0.255.0,10.9.0.2,1", "x"});
    EXPECT_EQ(checked.accepted, (std::vector<std::string>{"10.60.0.0,255.255.0.0,10.9.0.2,1",
                                                          "10.61.0.0,255.255.0.0,10.9.0.2,1"}));
    ASSERT_EQ(checked.refused.size(), 4U);
    EXPECT_EQ(checked.refused[0].name, "10.62.0.0,255.255.0.0,0.0.0.0,1");
    EXPECT_EQ(checked.refused[0].fault, reg::RouteNameFault::NoGateway);
    EXPECT_EQ(checked.refused[1].fault, reg::RouteNameFault::HostBits);
    EXPECT_EQ(checked.refused[2].fault, reg::RouteNameFault::MaskWithHoles);
    EXPECT_EQ(checked.refused[3].fault, reg::RouteNameFault::NotARoute);
}

// Names of the second key are checked by their own rule, as strictly: one text per route, and
// a refused one fails alone with its reason.
TEST(HelperRequests, WideNamesAreCheckedAndStoredInTheirOneText) {
    const StoreNames checked = namesToStore({
        "inet6,2001:DB8:5::/64,fe80::1,0,254,dv0",
        "inet,10.98.0.0/16,10.9.0.254,81,100,dv0",
        "inet,10.97.0.0/16,10.9.0.254,81,254,dv0",         // the first key's
        "inet6,2001:db8:6::1/64,::,1,100,dv0",             // host bits
        "inet6,2001:db8:6::/64,::,1,100,../../etc/passwd", // no interface name
        "inet6,2001:db8:6::/64,::,1,100,dv0\n[other]",
        "inet6,2001:db8:6::/64,::,1,255,dv0",
        "inet6,2001:db8:6::/64,ff02::1,1,100,dv0",
        "inet6,2001:db8:6::/64",
    });
    EXPECT_EQ(checked.accepted,
              (std::vector<std::string>{"inet6,2001:db8:5::/64,fe80::1,1024,254,dv0",
                                        "inet,10.98.0.0/16,10.9.0.254,81,100,dv0"}));
    ASSERT_EQ(checked.refused.size(), 7U);
    EXPECT_EQ(checked.refused[0].wideFault, reg::WideRouteFault::FirstKey);
    EXPECT_EQ(checked.refused[1].wideFault, reg::WideRouteFault::HostBits);
    EXPECT_EQ(checked.refused[2].wideFault, reg::WideRouteFault::BadInterface);
    EXPECT_EQ(checked.refused[3].wideFault, reg::WideRouteFault::BadInterface);
    EXPECT_EQ(checked.refused[4].wideFault, reg::WideRouteFault::LocalTable);
    EXPECT_EQ(checked.refused[5].wideFault, reg::WideRouteFault::BadNextHop);
    EXPECT_EQ(checked.refused[6].wideFault, reg::WideRouteFault::NotARoute);
    for (const auto& r : checked.refused)
        EXPECT_EQ(r.fault, reg::RouteNameFault::None) << r.name;
}

TEST(HelperClient, BusErrorsToldApart) {
    // No helper installed: the change is tried here.
    EXPECT_FALSE(replyOfBusError("org.freedesktop.DBus.Error.ServiceUnknown").reached);
    EXPECT_FALSE(replyOfBusError("org.freedesktop.DBus.Error.NameHasNoOwner").reached);
    const auto code = [](const char* name) {
        const Reply r = replyOfBusError(name);
        EXPECT_TRUE(r.reached) << name;
        return r.result;
    };
    // Installed, but it did not start, answer, or stay.
    EXPECT_EQ(code("org.freedesktop.DBus.Error.Spawn.ChildExited"), ERROR_HELPER_FAILED);
    EXPECT_EQ(code("org.freedesktop.DBus.Error.NoReply"), ERROR_HELPER_FAILED);
    EXPECT_EQ(code("org.freedesktop.DBus.Error.Timeout"), ERROR_HELPER_FAILED);
    EXPECT_EQ(code("System.Error.ECONNRESET"), ERROR_HELPER_FAILED);
    EXPECT_EQ(code(nullptr), ERROR_HELPER_FAILED);
    EXPECT_EQ(code("org.freedesktop.DBus.Error.AccessDenied"), ERROR_HELPER_NOT_ALLOWED);
    EXPECT_EQ(code("org.freedesktop.DBus.Error.LimitsExceeded"), ERROR_BUSY);
}

TEST(HelperClient, NoBusMeansNotReached) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
    EXPECT_FALSE(setAdminStatus(1, MIB_IF_ADMIN_STATUS_UP).reached);
    EXPECT_FALSE(changeRoute(true, route("10.1.0.0", "255.255.0.0")).reached);
    EXPECT_FALSE(setPersistentRoutes({"10.50.0.0,255.255.0.0,10.9.0.2,5"}, true).reached);
    EXPECT_FALSE(reachable());
}

} // namespace
} // namespace corvane::helper
