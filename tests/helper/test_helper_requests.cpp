// What the helper accepts, and the client's answer when no helper can be reached.
#include "corvane_result.h"
#include "helper/client.h"
#include "helper/requests.h"
#include "iphlpapi.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>

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
    EXPECT_EQ(checkLease(2, ""), NO_ERROR);
    EXPECT_EQ(checkLease(2, "enp0s31f6"), NO_ERROR);
    EXPECT_EQ(checkLease(2, "../eth0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, "eth 0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, "a-name-of-16-chr"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(checkLease(2, std::string_view("eth\0x", 5)), ERROR_INVALID_PARAMETER);
}

TEST(HelperRequests, OnlyCanonicalRouteNamesAreStored) {
    EXPECT_TRUE(canonicalRouteName("10.50.0.0,255.255.0.0,10.9.0.2,5"));
    EXPECT_TRUE(canonicalRouteName("0.0.0.0,0.0.0.0,192.168.1.1,-1"));
    EXPECT_TRUE(canonicalRouteName("10.50.0.0,255.255.0.0,10.9.0.2,2147483647"));
    for (const char* bad :
         {"10.50.0.0,255.255.0.0,10.9.0.2,2147483648", // past a signed 32-bit metric
          "10.50.0.0,255.255.0.0,10.9.0.2,-0", "10.50.0.0,255.255.0.0,10.9.0.2,05",
          "010.50.0.0,255.255.0.0,10.9.0.2,5", "10.50.0.0,255.0.255.0,10.9.0.2,5",
          "10.50.0.1,255.255.0.0,10.9.0.2,5", "10.50.0.0,255.255.0.0,0.0.0.0,5",
          "10.50.0.0,255.255.0.0,10.9.0.2", "10.50.0.0,255.255.0.0,10.9.0.2,5,",
          "10.50.0.0,255.255.0.0,10.9.0.2,5\n[other]", "10.50.0.0,255.255.0.0,10.9.0.256,5",
          "10.50.0,255.255.0.0,10.9.0.2,5", "10.50.0.0 ,255.255.0.0,10.9.0.2,5",
          "-10.50.0.0,255.255.0.0,10.9.0.2,5", ""})
        EXPECT_FALSE(canonicalRouteName(bad)) << bad;
}

TEST(HelperClient, NoBusMeansNotReached) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
    EXPECT_FALSE(setAdminStatus(2, MIB_IF_ADMIN_STATUS_UP).reached);
    EXPECT_FALSE(changeRoute(true, route("10.1.0.0", "255.255.0.0")).reached);
    EXPECT_FALSE(setPersistentRoutes({"10.50.0.0,255.255.0.0,10.9.0.2,5"}, true).reached);
    EXPECT_FALSE(reachable());
}

} // namespace
} // namespace corvane::helper
