// Binding the entry points by name: load failure code, flags, and that an absent entry point
// is never reached.
#include "platform/iphelper.h"
#include "platform/routetables.h"

#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

using namespace corvane;

namespace {

std::string fake(const std::string& variant) {
    return std::string(FAKE_DIR) + "/libfake_iphlp_" + variant + ".so";
}

// Calls counted inside a fake library, read through the library's own counter.
int callsIn(const std::string& library, const char* entry) {
    void* lib = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        return -1;
    auto* calls = reinterpret_cast<int (*)(const char*)>(::dlsym(lib, "fake_calls"));
    const int n = calls ? calls(entry) : -1;
    ::dlclose(lib);
    return n;
}

struct Case {
    const char* what;
    std::string ipHelper;
    std::string snapshot;
    bool xpFamily;
    uint32_t code;
    bool base, extended, snapshotFlag;
};

} // namespace

TEST(Binding, FailureCodeAndFlags) {
    const std::string missing = "/nonexistent/libnothing.so";
    const Case cases[] = {
        {"complete", fake("full"), REAL_TOOLHELP, true, 0, false, false, false},
        {"ip helper library missing", missing, REAL_TOOLHELP, true, 0x80000000, true, false, false},
        {"both libraries missing: the snapshot is never tried", missing, missing, true, 0x80000000,
         true, false, false},
        {"GetTcpTable absent", fake("no_tcp"), REAL_TOOLHELP, true, 0x4000, true, false, false},
        {"GetAdaptersAddresses absent", fake("no_addresses"), REAL_TOOLHELP, true, 0x10000, true,
         false, false},
        {"GetAdaptersAddresses not wanted below the XP family", fake("no_addresses"), REAL_TOOLHELP,
         false, 0, false, false, false},
        {"extended tables absent", fake("no_extended"), REAL_TOOLHELP, true, 0x3000000, false, true,
         false},
        {"extended tables not wanted below the XP family", fake("no_extended"), missing, false, 0,
         false, false, false},
        {"forward table and ARP have bits of their own", fake("no_forward_arp"), REAL_TOOLHELP,
         true, 0x40000 | 0x80000, true, false, false},
        {"change entry points absent", fake("no_changes"), REAL_TOOLHELP, true,
         0x100 | 0x200 | 0x800 | 0x1000 | 0x2000, true, false, false},
        {"snapshot library missing", fake("full"), missing, true, 0x40000000, false, false, true},
        {"snapshot and an extended table missing", fake("no_extended"), missing, true,
         0x40000000 | 0x3000000, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IpHelper table;
        const LoadFailure f = table.bind(c.xpFamily, {c.ipHelper, c.snapshot});
        EXPECT_EQ(f.code, c.code);
        EXPECT_EQ(f.base, c.base);
        EXPECT_EQ(f.extended, c.extended);
        EXPECT_EQ(f.snapshot, c.snapshotFlag);
        EXPECT_EQ(f.any(), c.base || c.extended || c.snapshotFlag);
        EXPECT_EQ(table.loadFailure().code, c.code);
    }
}

TEST(Binding, AbsentEntryPointIsNeverCalled) {
    const std::string lib = fake("no_tcp");
    IpHelper table;
    table.bind(true, {lib, REAL_TOOLHELP});
    ASSERT_TRUE(table.ipHelperLoaded());
    EXPECT_FALSE(table.GetTcpTable);
    DWORD size = 0;
    EXPECT_EQ(table.GetTcpTable(nullptr, &size, 1), ERROR_PROC_NOT_FOUND);
    // The library has the function inside, only not exported: it must not have run.
    EXPECT_EQ(callsIn(lib, "GetTcpTable"), 0);
    // A present neighbour does reach the library.
    EXPECT_TRUE(table.GetUdpTable);
    EXPECT_EQ(table.GetUdpTable(nullptr, &size, 1), NO_ERROR);
    EXPECT_EQ(callsIn(lib, "GetUdpTable"), 1);
}

TEST(Binding, UnloadedTableAnswersWithoutCalling) {
    IpHelper table;
    table.bind(true, {"/nonexistent/lib.so", "/nonexistent/lib.so"});
    MIB_IPSTATS stats{};
    EXPECT_EQ(table.GetIpStatistics(&stats), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(table.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE);
    PROCESSENTRY32 entry{};
    EXPECT_EQ(table.Process32First(nullptr, &entry), 0);
    EXPECT_EQ(table.CloseHandle(nullptr), 0);
}

TEST(Binding, RebindAndUnloadForgetEntries) {
    IpHelper table;
    table.bind(true, {fake("full"), REAL_TOOLHELP});
    EXPECT_TRUE(table.GetTcpTable);
    table.bind(true, {fake("no_tcp"), REAL_TOOLHELP});
    EXPECT_FALSE(table.GetTcpTable);
    table.unload();
    EXPECT_FALSE(table.GetUdpTable);
    EXPECT_FALSE(table.Process32Next);
    EXPECT_FALSE(table.ipHelperLoaded());
}

TEST(Binding, RealStandInsExportEverything) {
    IpHelper table;
    const LoadFailure f = table.bind(true, {REAL_IPHLPAPI, REAL_TOOLHELP});
    EXPECT_EQ(f.code, 0u);
    EXPECT_FALSE(f.any());
    EXPECT_TRUE(table.Process32First && table.Process32Next && table.CloseHandle);
}

TEST(Binding, LibraryPathsFromEnvironment) {
    ::setenv("CORVANE_IPHLPAPI_LIB", "/x/a.so", 1);
    ::setenv("CORVANE_TOOLHELP_LIB", "/x/b.so", 1);
    LibraryPaths p = LibraryPaths::standard();
    EXPECT_EQ(p.ipHelper, "/x/a.so");
    EXPECT_EQ(p.snapshot, "/x/b.so");
    ::unsetenv("CORVANE_IPHLPAPI_LIB");
    ::unsetenv("CORVANE_TOOLHELP_LIB");
    p = LibraryPaths::standard();
    EXPECT_TRUE(p.ipHelper.ends_with("/libcorvane-iphlpapi.so"));
    EXPECT_TRUE(p.snapshot.ends_with("/libcorvane-toolhelp.so"));
}

TEST(Binding, LoadFailureText) {
    EXPECT_EQ(loadFailureText({0x4000, true, false, false}),
              "Couldn't load DLL functions  [Code = 0x00004000]");
    EXPECT_EQ(loadFailureText({0x80000000, true, false, false}),
              "Couldn't load DLL functions  [Code = 0x80000000]");
}

// The entry points of both families and every table are optional: a library without them
// (the fakes) binds without a failure, the real one has them all, and the program's name
// lookup works through them or falls back to numbers.
TEST(Binding, OptionalDualStackEntriesAndTableNames) {
    IpHelper table;
    EXPECT_EQ(table.bind(true, {fake("full"), REAL_TOOLHELP}).code, 0u);
    EXPECT_FALSE(table.GetIpForwardTable2 || table.CorvaneGetRouteTableNames ||
                 table.CreateIpForwardEntry2 || table.CorvaneDeleteRouteInTable);
    EXPECT_EQ(table.CreateIpForwardEntry2(nullptr), ERROR_PROC_NOT_FOUND);
    RouteTableNames names;
    names.load(table);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(names.name(254), "254");
    table.FreeMibTable(nullptr); // absent: answers nothing, calls nothing

    ASSERT_EQ(table.bind(true, {REAL_IPHLPAPI, REAL_TOOLHELP}).code, 0u);
    ::setenv("CORVANE_RT_TABLES_DIR", "/nonexistent", 1); // only the kernel's own names
    EXPECT_TRUE(table.GetExtendedTcpTable && table.GetExtendedUdpTable &&
                table.GetUnicastIpAddressTable && table.GetIpForwardTable2 && table.FreeMibTable &&
                table.CorvaneGetRouteTable && table.CorvaneGetRouteTableExceptMain &&
                table.CorvaneWarmReads && table.CorvaneGetRuleTable &&
                table.CorvaneGetRouteTableNames && table.CorvaneGetDnsServerTable &&
                table.CreateIpForwardEntry2 && table.DeleteIpForwardEntry2 &&
                table.CorvaneCreateRouteInTable && table.CorvaneDeleteRouteInTable);
    names.load(table);
    EXPECT_EQ(names.name(254), "main");
    EXPECT_EQ(names.name(255), "local");
    EXPECT_EQ(names.name(4242), "4242");
    ::unsetenv("CORVANE_RT_TABLES_DIR");
}
