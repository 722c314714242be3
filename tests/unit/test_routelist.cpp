// Route list files: which lines become routes, which are refused with a message, and which
// files are read at all.
#include "routing/routelist.h"
#include "routing/routelist_match.h"
#include "temp_dir.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// "network mask@line" per route, for compact expectations.
std::vector<std::string> rows(const RouteList& list) {
    std::vector<std::string> out;
    for (const ListRoute& r : list.routes)
        out.push_back(
            (r.network + QLatin1Char(' ') + r.mask + QLatin1Char('@') + QString::number(r.line))
                .toStdString());
    return out;
}

std::vector<std::string> rows(std::string_view text) {
    return rows(parseRouteList(text));
}

RouteRow liveRow(std::uint32_t destination, std::uint32_t mask, DWORD ifIndex, DWORD metric) {
    RouteRow r;
    r.destination = destination;
    r.mask = mask;
    r.nextHop = 0x0A000001;
    r.ifIndex = ifIndex;
    r.metric = metric;
    r.protocol = 3;
    r.tag = 3;
    return r;
}

QString qpath(const fs::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

TEST(RouteListLines, RoutesAmongRemarksAndEmptyLinesKeepTheirLineNumbers) {
    const RouteList list = parseRouteList("10.0.0.0 255.0.0.0\n"
                                          "\n"
                                          "routes for the lab network\n"
                                          "172.16.0.0 255.240.0.0\n");
    EXPECT_EQ(rows(list),
              (std::vector<std::string>{"10.0.0.0 255.0.0.0@1", "172.16.0.0 255.240.0.0@4"}));
    EXPECT_TRUE(list.refused.empty());
    EXPECT_TRUE(rows("").empty());
    EXPECT_TRUE(rows("\n\n\r\n").empty());
}

TEST(RouteListLines, DefaultRouteIsRefusedWithItsLineAndTextsTheRestLoads) {
    const RouteList list = parseRouteList("10.0.0.0 255.0.0.0\n"
                                          "# remark\n"
                                          "0.0.0.0 0.0.0.0\n"
                                          "192.168.1.0 255.255.255.0\n"
                                          "000.0.0.0 255.0.0.0 \r\n" // fails the count first
                                          "0.00.0.0 128.0.0.0\r\n");
    EXPECT_EQ(rows(list),
              (std::vector<std::string>{"10.0.0.0 255.0.0.0@1", "192.168.1.0 255.255.255.0@4"}));
    ASSERT_EQ(list.refused.size(), 2u);
    EXPECT_EQ(defaultRouteMessage(list.refused[0]),
              "Default routes are not allowed. Ignoring routing entry in line 3 "
              "(0.0.0.0 0.0.0.0).");
    // Whatever the mask, and written as in the file.
    EXPECT_EQ(list.refused[1].line, 6);
    EXPECT_EQ(list.refused[1].network, "0.00.0.0");
    EXPECT_EQ(list.refused[1].mask, "128.0.0.0");
    // An invalid pair is a remark, not a refused default route.
    EXPECT_TRUE(parseRouteList("0.0.0.0 mask\n0.0.0.0\n").refused.empty());
}

TEST(RouteListLines, BlanksDecideByTheFieldCount) {
    // Two blanks, a leading blank, a blank before the line end, a tab, a third word.
    EXPECT_TRUE(rows("10.0.0.0  255.0.0.0\n"
                     " 10.0.0.0 255.0.0.0\n"
                     "10.0.0.0 255.0.0.0 \n"
                     "10.0.0.0 255.0.0.0 \r\n"
                     "10.0.0.0\t255.0.0.0\n"
                     "10.0.0.0 255.0.0.0 extra\n"
                     "10.0.0.0 255.0.0.0  three word remark\n")
                    .empty());
    // The last line has no line end: a blank there is the very end and changes nothing.
    EXPECT_EQ(rows("# x\n10.0.0.0 255.0.0.0 "), (std::vector<std::string>{"10.0.0.0 255.0.0.0@2"}));
    // Two blanks reset the count, so a two-word remark after them brings it back to two.
    EXPECT_EQ(rows("10.0.0.0 255.0.0.0  two words\n"),
              (std::vector<std::string>{"10.0.0.0 255.0.0.0@1"}));
}

TEST(RouteListLines, AddressesAreCheckedButKeptAsWritten) {
    EXPECT_EQ(rows("10.1.2.3 255.0.0.0\n"
                   "010.001.002.000 255.255.0.0\n"
                   "10.0.0.0 255.0.255.0\n"),
              (std::vector<std::string>{"10.1.2.3 255.0.0.0@1", "010.001.002.000 255.255.0.0@2",
                                        "10.0.0.0 255.0.255.0@3"}));
    EXPECT_TRUE(rows("10.0.0 255.0.0.0\n"
                     "256.0.0.0 255.0.0.0\n"
                     "10.0.0.0 255.0.0.0.0\n"
                     "10.0.0.0 /8\n"
                     "10.0.0.0/8 255.0.0.0\n"
                     "10.0.0.000000000 255.0.0.0\n") // 16 characters
                    .empty());
}

TEST(RouteListLines, CrLfLoadsLikeLfAndDuplicatesStay) {
    const std::string lf = "# list\n10.0.0.0 255.0.0.0\n0.0.0.0 0.0.0.0\n10.0.0.0 255.0.0.0\n"
                           "10.0.0.0 255.0.0.0 \n172.16.0.0 255.240.0.0";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const RouteList a = parseRouteList(lf);
    const RouteList b = parseRouteList(crlf);
    EXPECT_EQ(rows(a), (std::vector<std::string>{"10.0.0.0 255.0.0.0@2", "10.0.0.0 255.0.0.0@4",
                                                 "172.16.0.0 255.240.0.0@6"}));
    EXPECT_EQ(rows(a), rows(b));
    ASSERT_EQ(b.refused.size(), 1u);
    EXPECT_EQ(defaultRouteMessage(a.refused[0]), defaultRouteMessage(b.refused[0]));
}

TEST(RouteListLines, LongLineIsOneLineAndItsTailNeverARoute) {
    // A remark whose tail, past 254 characters, reads like a route.
    const std::string remark = "# " + std::string(260, 'x') + " 10.9.0.0 255.255.0.0\n";
    const std::string tail = std::string(300, 'x') + "\n10.9.0.0 255.255.0.0\n";
    EXPECT_EQ(rows(remark + "172.16.0.0 255.240.0.0\n"),
              (std::vector<std::string>{"172.16.0.0 255.240.0.0@2"}));
    EXPECT_EQ(rows(tail), (std::vector<std::string>{"10.9.0.0 255.255.0.0@2"}));
    // A route with a long remark after two blanks is still judged as a whole.
    const std::string word(300, 'r');
    EXPECT_EQ(rows("10.0.0.0 255.0.0.0  " + word + " " + word + "\n"),
              (std::vector<std::string>{"10.0.0.0 255.0.0.0@1"}));
    EXPECT_TRUE(rows("10.0.0.0 255.0.0.0  " + word + " " + word + " three\n").empty());
}

TEST(RouteListLines, MessageShowsNoControlCharacters) {
    const QString message =
        defaultRouteMessage({7, QStringLiteral("0.0.0.0\x1b[2J"), QStringLiteral("0.0.0.0\r")});
    EXPECT_EQ(message, "Default routes are not allowed. Ignoring routing entry in line 7 "
                       "(0.0.0.0?[2J 0.0.0.0?).");
}

TEST(RouteListFiles, RegularFilesAndLinksToThemAreRead) {
    const test::TempDir tmp("corvane-routelist");
    test::spit(tmp.path() / "list.cfg", "10.0.0.0 255.0.0.0\r\n0.0.0.0 0.0.0.0\r\n");
    fs::create_symlink(tmp.path() / "list.cfg", tmp.path() / "link.cfg");
    for (const char* name : {"list.cfg", "link.cfg"}) {
        const std::optional<RouteList> list = readRouteListFile(qpath(tmp.path() / name));
        ASSERT_TRUE(list) << name;
        EXPECT_EQ(rows(*list), (std::vector<std::string>{"10.0.0.0 255.0.0.0@1"}));
        ASSERT_EQ(list->refused.size(), 1u);
        EXPECT_EQ(list->refused[0].line, 2);
    }
    // Up to the limit is still a list.
    ASSERT_EQ(::truncate((tmp.path() / "list.cfg").c_str(), kRouteListFileLimit), 0);
    EXPECT_TRUE(readRouteListFile(qpath(tmp.path() / "list.cfg")));
}

TEST(RouteListFiles, AnythingButABoundedRegularFileIsRefusedAtOnce) {
    const test::TempDir tmp("corvane-routelist");
    const fs::path& dir = tmp.path();
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    test::spit(dir / "big.cfg", "10.0.0.0 255.0.0.0\n");
    ASSERT_EQ(::truncate((dir / "big.cfg").c_str(), kRouteListFileLimit + 1), 0);
    fs::create_symlink(dir / "absent", dir / "dangling");
    for (const fs::path& p : {dir / "fifo", dir, dir / "big.cfg", dir / "absent", dir / "dangling",
                              fs::path("/dev/zero"), fs::path("")}) {
        SCOPED_TRACE(p.string());
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(readRouteListFile(qpath(p)));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    }
}

TEST(RouteListFiles, ShippedExamplesLoad) {
    const auto add = readRouteListFile(QStringLiteral(CORVANE_DIST_DIR "/routes-example.cfg"));
    ASSERT_TRUE(add);
    EXPECT_EQ(rows(*add), (std::vector<std::string>{
                              "192.0.2.0 255.255.255.0@17", "198.51.100.0 255.255.255.0@18",
                              "203.0.113.0 255.255.255.0@19", "198.18.0.0 255.254.0.0@20"}));
    const auto del =
        readRouteListFile(QStringLiteral(CORVANE_DIST_DIR "/routes-delete-example.cfg"));
    ASSERT_TRUE(del);
    EXPECT_EQ(rows(*del), (std::vector<std::string>{"198.51.100.0 255.255.255.0@11",
                                                    "203.0.113.0 255.255.255.0@12"}));
    EXPECT_TRUE(add->refused.empty() && del->refused.empty());
}

TEST(DeleteByList, NetworkMaskInterfaceAndTheMetricAsShown) {
    const std::vector<RouteRow> table{
        liveRow(0x0A000000, 0xFF000000, 2, 1),          // 10.0.0.0/8 metric 1
        liveRow(0x0A000000, 0xFF000000, 2, 10),         // the same with metric 10
        liveRow(0x0A000000, 0xFF000000, 3, 1),          // another interface
        liveRow(0xAC100000, 0xFFF00000, 2, 0xFFFFFFFF), // 172.16.0.0/12, shown as "-1"
        liveRow(0xC0A80100, 0xFFFFFF00, 2, 1),          // 192.168.1.0/24, not listed
    };
    std::vector<RouteRow> withStored = table;
    RouteRow stored;
    stored.storeOnly = true;
    stored.tag = routeTagInactive;
    stored.setStored({"10.0.0.0", "255.0.0.0", "10.0.0.1", "1"}, "10.0.0.0,255.0.0.0,10.0.0.1,1");
    withStored.push_back(stored);
    const std::vector<ListRoute> list{{"10.0.0.0", "255.0.0.0", 1},
                                      {"172.16.0.0", "255.240.0.0", 2},
                                      {"010.0.0.0", "255.0.0.0", 3}};
    EXPECT_EQ(rowsNamedByList(withStored, list, 2, 1), (std::vector<int>{0}));
    EXPECT_EQ(rowsNamedByList(table, list, 2, 10), (std::vector<int>{1}));
    EXPECT_EQ(rowsNamedByList(table, list, 3, 1), (std::vector<int>{2}));
    EXPECT_EQ(rowsNamedByList(table, list, 2, -1), (std::vector<int>{3}));
    EXPECT_TRUE(rowsNamedByList(table, list, 4, 1).empty());
    EXPECT_TRUE(rowsNamedByList(table, {}, 2, 1).empty());
}
