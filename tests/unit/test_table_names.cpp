// Routing table names from iproute2's files, which anyone with write access to /etc or a
// package may have shaped: bad lines, duplicates, oversize files and links are survived, and
// name servers as the resolver files write them.
#include "dual_rows.h"
#include "iphlpapi.h"
#include "table_names.h"
#include "temp_dir.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace corvane::sys;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& content, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
}

} // namespace

TEST(TableNames, LinesCommentsAndWhatIsSkipped) {
    TableNames names;
    parseTableNames("#\n# reserved values\n#\n255\tlocal\n254 main # the main one\n"
                    "  100   vpn  \r\n0x10 hex\n"
                    "200\n"             // no name
                    "abc name\n"        // no number
                    "12x name\n"        // not all a number
                    "4294967296 big\n"  // above 32 bits
                    "201 two words\n"   // more than one name
                    "202 caf\xc3\xa9\n" // not ASCII
                    "203 " +
                        std::string(64, 'n') +
                        "\n" // too long for the record
                        "4294967295 top\n"
                        "100 again\n" // a number already named keeps its name
                        "101 vpn\n",  // a name may serve two numbers
                    names);
    const TableNames expected = {{255, "local"}, {254, "main"},        {100, "vpn"},
                                 {16, "hex"},    {4294967295u, "top"}, {101, "vpn"}};
    EXPECT_EQ(names, expected);
    TableNames last;
    parseTableNames("7 seven", last); // no final newline
    EXPECT_EQ(last, (TableNames{{7, "seven"}}));
}

TEST(TableNames, FilesInOrderAndTheOnesRefused) {
    const corvane::test::TempDir tmp("corvane-rt");
    const fs::path& dir = tmp.path();
    write(dir / "rt_tables", "255 local\n254 main\n100 first\n");
    fs::create_directory(dir / "rt_tables.d");
    write(dir / "rt_tables.d" / "b.conf", "100 late\n300 bee\n");
    write(dir / "rt_tables.d" / "a.conf", "300 ay\n301 ay2\n");
    write(dir / "rt_tables.d" / "notes.txt", "400 ignored\n");    // not .conf
    write(dir / "rt_tables.d" / "open.conf", "401 open\n", 0666); // others may write
    write(dir / "rt_tables.d" / "big.conf", "402 big\n" + std::string(kTableNameFileCap, '#'));
    write(dir / "target", "403 linked\n");
    fs::create_symlink(dir / "target", dir / "rt_tables.d" / "link.conf");
    fs::create_directory(dir / "rt_tables.d" / "dir.conf");
    const TableNames names = readTableNames(dir);
    const TableNames expected = {{100, "first"}, {253, "default"}, {254, "main"},
                                 {255, "local"}, {300, "ay"},      {301, "ay2"}};
    EXPECT_EQ(names, expected);

    // A main table file that is itself a link is refused too; the kernel's names remain.
    fs::remove(dir / "rt_tables");
    fs::create_symlink(dir / "target", dir / "rt_tables");
    fs::remove_all(dir / "rt_tables.d");
    EXPECT_EQ(readTableNames(dir), (TableNames{{253, "default"}, {254, "main"}, {255, "local"}}));
    // A file may rename the kernel's own tables.
    fs::remove(dir / "rt_tables");
    write(dir / "rt_tables", "254 primary\n");
    EXPECT_EQ(readTableNames(dir).at(254), "primary");
}

TEST(TableNames, EntryPointReadsTheFolderTheEnvironmentNames) {
    const corvane::test::TempDir tmp("corvane-rt");
    write(tmp.path() / "rt_tables", "100 vpn\n");
    ::setenv("CORVANE_RT_TABLES_DIR", tmp.path().c_str(), 1);
    CORVANE_TABLE_NAME_TABLE* t = nullptr;
    ASSERT_EQ(CorvaneGetRouteTableNames(&t), NO_ERROR);
    ::unsetenv("CORVANE_RT_TABLES_DIR");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->NumEntries, 4u);
    EXPECT_EQ(t->Table[0].Id, 100u); // by number
    EXPECT_STREQ(t->Table[0].Name, "vpn");
    EXPECT_EQ(t->Table[3].Id, 255u);
    EXPECT_STREQ(t->Table[3].Name, "local");
    FreeMibTable(t);
    EXPECT_EQ(CorvaneGetRouteTableNames(nullptr), ERROR_INVALID_PARAMETER);
}

TEST(DnsServers, AsTheResolverFilesWriteThem) {
    struct Case {
        const char* text;
        int family; // 0: refused
        const char* address;
        uint32_t zone;
    };
    const Case cases[] = {
        {"192.0.2.1", AF_INET, "192.0.2.1", 0},
        {"192.0.2.1:5353", AF_INET, "192.0.2.1", 0},
        {"192.0.2.1#dns.example", AF_INET, "192.0.2.1", 0},
        {"2001:db8::53", AF_INET6, "2001:db8::53", 0},
        {"[2001:db8::53]:853#dns.example", AF_INET6, "2001:db8::53", 0},
        {"fe80::1%3", AF_INET6, "fe80::1", 3},
        {"fe80::1%lo", AF_INET6, "fe80::1", 1},
        {"fe80::1%nosuchlink", AF_INET6, "fe80::1", 0},
        {"", 0, "", 0},
        {"[2001:db8::53", 0, "", 0},
        {"dns.example", 0, "", 0},
        {"192.0.2.300", 0, "", 0},
    };
    for (const Case& c : cases) {
        SOCKADDR_INET a;
        const bool ok = parseDnsServer(c.text, a);
        EXPECT_EQ(ok, c.family != 0) << c.text;
        if (!ok)
            continue;
        char buf[INET6_ADDRSTRLEN] = "";
        EXPECT_EQ(a.si_family, c.family) << c.text;
        if (c.family == AF_INET) {
            inet_ntop(AF_INET, &a.Ipv4.sin_addr, buf, sizeof buf);
        } else {
            inet_ntop(AF_INET6, &a.Ipv6.sin6_addr, buf, sizeof buf);
            EXPECT_EQ(a.Ipv6.sin6_scope_id, c.zone) << c.text;
        }
        EXPECT_STREQ(buf, c.address) << c.text;
    }
}
