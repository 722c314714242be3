// The routing table read while routes come and go: the platform's table outgrows the size it
// has just reported, and the read must still come back whole without a failure box.
#include "platform/iphelper.h"
#include "recording_prompter.h"
#include "registry/location.h"
#include "routing/route_read.h"
#include "session/machinestore.h"
#include "temp_dir.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

// The table a fake platform holds: rows grows by growth at every call, as under churn.
struct Churn {
    std::size_t rows = 100;
    std::size_t growth = 0;
    double factor = 1.0; // and grows by this factor too
    int calls = 0;
} churn;

std::size_t bytesFor(std::size_t rows) {
    return offsetof(MIB_IPFORWARDTABLE, table) + rows * sizeof(MIB_IPFORWARDROW);
}

DWORD growingTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) {
    ++churn.calls;
    churn.rows =
        static_cast<std::size_t>(static_cast<double>(churn.rows) * churn.factor) + churn.growth;
    const std::size_t need = bytesFor(churn.rows);
    if (*size < need) {
        *size = static_cast<ULONG>(need);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(churn.rows);
    for (std::size_t i = 0; i < churn.rows; ++i) {
        MIB_IPFORWARDROW& row = table->table[i];
        std::memset(&row, 0, sizeof row);
        row.dwForwardDest = htonl(0x0A000000U | static_cast<std::uint32_t>(i << 8));
        row.dwForwardMask = htonl(0xFFFFFF00U);
        row.dwForwardNextHop = htonl(0x0A320001U);
        row.dwForwardIfIndex = 2;
        row.dwForwardProto = 3;
    }
    *size = static_cast<ULONG>(need);
    return NO_ERROR;
}

class RouteRead : public ::testing::Test {
protected:
    RouteRead() {
        ::setenv(reg::kConfigDirVariable, dir.path().c_str(), 1);
        resetMachineStore();
        iphlp().GetIpForwardTable.set(growingTable);
        churn = Churn{};
    }
    ~RouteRead() override {
        iphlp().GetIpForwardTable.set(nullptr);
        ::unsetenv(reg::kConfigDirVariable);
        resetMachineStore();
    }
    test::TempDir dir;
    test::RecordingPrompter prompts;
};

TEST_F(RouteRead, ATableThatGrowsBetweenTheCallsIsStillReadWhole) {
    // Routes added between two calls, at several rates of churn.
    for (const std::size_t growth : {1, 16, 50, 400}) {
        churn = Churn{100, growth};
        const RouteTableRead read = readRouteTable({});
        EXPECT_TRUE(read.ok) << growth << " routes added per call";
        EXPECT_EQ(read.fill.rows.size(), churn.rows);
        EXPECT_LE(churn.calls, 1 + forwardTableAttempts);
    }
    churn = Churn{5000, 0, 1.2}; // a fifth more at every call
    EXPECT_TRUE(readRouteTable({}).ok);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(RouteRead, ATableThatKeepsOutgrowingTheBufferEndsInTheLastAnswer) {
    churn = Churn{100, 0, 4.0};
    const RouteTableRead read = readRouteTable({});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(churn.calls, 1 + forwardTableAttempts) << "bounded";
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_TRUE(prompts.messages[0].text.startsWith("GetFwTable failed: "))
        << prompts.messages[0].text.toStdString();
}

} // namespace
