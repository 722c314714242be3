// What the route dialogs accept as typed, and the record that puts a route back as it was.
#include "routing/route_edit.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

struct Typed {
    const char* network;
    const char* mask;
    const char* nextHop;
    const char* field; // the words the message must name the field with; nullptr: accepted
};

class RouteInput : public ::testing::TestWithParam<Typed> {};

TEST_P(RouteInput, IsRefusedNamingTheFieldOrAccepted) {
    const Typed& t = GetParam();
    const std::optional<QString> problem =
        routeInputProblem(QString::fromLatin1(t.network), QString::fromLatin1(t.mask),
                          QString::fromLatin1(t.nextHop));
    if (!t.field) {
        EXPECT_FALSE(problem) << problem->toStdString();
        return;
    }
    ASSERT_TRUE(problem) << t.network << " " << t.mask << " " << t.nextHop;
    EXPECT_TRUE(problem->contains(QLatin1String(t.field))) << problem->toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RouteInput,
    ::testing::Values(
        // Typos that an address parse turning them into 0.0.0.0 made a default route of.
        Typed{"10.60.0.0", "255.255.x", "10.40.0.254", "network mask \"255.255.x\""},
        Typed{"10.80.0.0.5", "255.255.0.0", "", "network address \"10.80.0.0.5\""},
        Typed{"", "255.255.0.0", "", "network address is missing"},
        Typed{"10.60.0.0", "", "", "network mask is missing"},
        Typed{"10.60.0.0", "255.255.0.0", "10.0.0.22x", "next hop address \"10.0.0.22x\""},
        Typed{"10.60.0.0", "255.255.0.0", " 10.0.0.22", "next hop address \" 10.0.0.22\""},
        Typed{"10.60.0.0", "255.255.0.0", "0.0.0.0.0", "next hop address"},
        // Quads that are no subnet mask: the platform takes only contiguous ones.
        Typed{"10.60.0.0", "255.0.255.0", "", "not a subnet mask"},
        Typed{"10.60.0.0", "0.0.0.255", "", "not a subnet mask"},
        Typed{"10.60.0.0", "10.0.0.0", "", "not a subnet mask"},
        // Routes as they may be made: on the link with or without 0.0.0.0, every mask length.
        Typed{"10.60.0.0", "255.255.0.0", "", nullptr},
        Typed{"10.60.0.0", "255.255.0.0", "0.0.0.0", nullptr},
        Typed{"10.60.0.0", "255.255.0.0", "10.40.0.254", nullptr},
        Typed{"0.0.0.0", "0.0.0.0", "10.40.0.254", nullptr},
        Typed{"10.60.0.2", "255.255.255.254", "", nullptr},
        Typed{"255.255.255.255", "255.255.255.255", "", nullptr},
        Typed{"010.060.000.000", "255.255.000.000", "", nullptr}));

TEST(RouteInputMessages, ShowTheTypedTextHarmlessAndShort) {
    const std::optional<QString> control =
        routeInputProblem(QStringLiteral("10.0.0.0\x1b[2J"), QStringLiteral("255.0.0.0"), {});
    ASSERT_TRUE(control);
    EXPECT_FALSE(control->contains(QChar(0x1b)));
    EXPECT_TRUE(control->contains(QStringLiteral("\"10.0.0.0?[2J\""))) << control->toStdString();

    const std::optional<QString> pasted = nextHopProblem(QString(5000, QLatin1Char('1')));
    ASSERT_TRUE(pasted);
    EXPECT_LT(pasted->size(), 200);
    EXPECT_TRUE(pasted->contains(QStringLiteral("...\"")));
}

TEST(RouteInputNextHop, OnlyAnEmptyFieldOrZeroMeansOnTheLink) {
    EXPECT_TRUE(onLinkNextHop({}));
    EXPECT_TRUE(onLinkNextHop(QStringLiteral("0.0.0.0")));
    for (const char* text : {"0.0.0.00", "10.0.0.22x", " ", "10.40.0.1"})
        EXPECT_FALSE(onLinkNextHop(QString::fromLatin1(text))) << text;
    EXPECT_FALSE(nextHopProblem({}));
    EXPECT_FALSE(nextHopProblem(QStringLiteral("10.40.0.1")));
    EXPECT_TRUE(nextHopProblem(QStringLiteral(" ")));
}

// A stored name holds no interface, and the boot-time restore refuses next hop 0.0.0.0.
TEST(RouteInputPersistent, AnOnLinkRouteCannotBeStored) {
    for (const char* hop : {"", "0.0.0.0"}) {
        const std::optional<QString> problem = persistentProblem(QString::fromLatin1(hop), true);
        ASSERT_TRUE(problem) << hop;
        EXPECT_TRUE(problem->contains(QStringLiteral("cannot be persistent")));
        EXPECT_FALSE(persistentProblem(QString::fromLatin1(hop), false));
    }
    EXPECT_FALSE(persistentProblem(QStringLiteral("10.40.0.1"), true));
}

TEST(RouteInputAlignment, IsAddressAndMaskWhateverTheAddressLooksLike) {
    EXPECT_EQ(alignedNetwork(QStringLiteral("10.1.2.3"), QStringLiteral("255.0.0.0")), "10.0.0.0");
    EXPECT_EQ(alignedNetwork(QStringLiteral("010.1.2.3"), QStringLiteral("255.255.255.255")),
              "10.1.2.3");
    // Addresses that look like masks are still addresses: never a default route.
    EXPECT_EQ(alignedNetwork(QStringLiteral("255.255.255.255"), QStringLiteral("255.255.255.255")),
              "255.255.255.255");
    EXPECT_EQ(alignedNetwork(QStringLiteral("255.255.0.0"), QStringLiteral("255.255.0.0")),
              "255.255.0.0");
    EXPECT_EQ(alignedNetwork(QStringLiteral("10.1.2.3"), QStringLiteral("0.0.0.0")), "0.0.0.0");
}

TEST(RouteRestoreRecord, KeepsTheRoutesOwnTypeProtocolMetricAndInterface) {
    RouteRow onLink;
    onLink.destination = 0x0A3D0000; // 10.61.0.0/16 on the link, shown with the own address
    onLink.mask = 0xFFFF0000;
    onLink.nextHop = 0x0A280001;
    onLink.ifIndex = 7;
    onLink.metric = 42;
    onLink.protocol = MIB_IPPROTO_RIP;
    onLink.type = MIB_IPROUTE_TYPE_DIRECT;
    const MIB_IPFORWARDROW back = restoreRecord(onLink);
    EXPECT_EQ(back.dwForwardType, DWORD{MIB_IPROUTE_TYPE_DIRECT});
    EXPECT_EQ(back.dwForwardProto, DWORD{MIB_IPPROTO_RIP});
    EXPECT_EQ(back.dwForwardMetric1, 42U);
    EXPECT_EQ(back.dwForwardIfIndex, 7U);
    EXPECT_EQ(ntohl(back.dwForwardDest), onLink.destination);
    EXPECT_EQ(ntohl(back.dwForwardMask), onLink.mask);
    EXPECT_EQ(ntohl(back.dwForwardNextHop), onLink.nextHop);

    RouteRow viaGateway = onLink;
    viaGateway.type = MIB_IPROUTE_TYPE_INDIRECT;
    EXPECT_EQ(restoreRecord(viaGateway).dwForwardType, DWORD{MIB_IPROUTE_TYPE_INDIRECT});
}

} // namespace
