// `corvane --report --json` in a dual-stack world of its own: valid against the published
// schema, row for row the same as the text report, with the world's routes, rules and sockets
// in it, hostile names kept as data, and written as safely as the text.
#include "netns.h"
#include "temp_dir.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace corvane::test;
namespace fs = std::filesystem;

namespace {

QJsonObject parsed(const std::string& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return doc.object();
}

// The rows of an array whose members have every given value.
int countWhere(const QJsonArray& rows, const QJsonObject& values) {
    int n = 0;
    for (const auto& row : rows) {
        const QJsonObject o = row.toObject();
        bool all = true;
        for (auto it = values.begin(); it != values.end() && all; ++it)
            all = o.value(it.key()) == it.value();
        n += all ? 1 : 0;
    }
    return n;
}

class JsonReport : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        sh("sysctl -qw net.ipv6.conf.default.accept_dad=0");
        sh("ip link set lo up; ip link add jr0 type veth peer name jr1 && ip link set jr0 up && "
           "ip link set jr1 up && ip addr add 10.78.0.1/24 dev jr0 && "
           "ip -6 addr add 2001:db8:78::1/64 dev jr0");
        sh("ip route add 10.89.0.0/16 via 10.78.0.2 metric 7 && "
           "ip -6 route add 2001:db8:89::/48 via 2001:db8:78::2 metric 9 && "
           "ip route add 10.90.0.0/16 via 10.78.0.2 table 100 && "
           "ip -6 route add 2001:db8:90::/48 via 2001:db8:78::2 table 100 && "
           "ip rule add from 10.78.0.0/24 lookup 100 priority 100 && "
           "ip -6 rule add from 2001:db8:78::/64 lookup 100 priority 101");
        // The text report lists everything only with localhost shown and every table: the
        // settings a first run writes, with those two changed.
        const std::string store = (dir_.path() / "store").string();
        sh(command("--report /dev/null"));
        sh("sed -i -e '/^\"Ignore localhost\" =/d' -e '/^\"Show all routing tables\" =/d' "
           "-e '/^\\[Software\\\\halvern\\\\zorvent\\]$/a \"Ignore localhost\" = int:0\\n"
           "\"Show all routing tables\" = int:1' " +
           store + "/machine.reg");
        ASSERT_NE(shOut("cat " + store + "/machine.reg").find("\"Ignore localhost\" = int:0"),
                  std::string::npos);
        // Persistent routes of both keys: one of each borne by a live route, one not.
        std::ofstream(store + "/machine.reg", std::ios::app)
            << "\n[SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\PersistentRoutes]\n"
               "\"10.89.0.0,255.255.0.0,10.78.0.2,7\" = str:\"\"\n"
               "\"10.91.0.0,255.255.0.0,10.78.0.2,7\" = str:\"\"\n"
               "\n[SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\"
               "CorvanePersistentRoutes2]\n"
               "\"inet6,2001:db8:89::/48,2001:db8:78::2,9,254,jr0\" = str:\"\"\n"
               "\"inet6,2001:db8:91::/48,2001:db8:78::2,9,254,jr0\" = str:\"\"\n";
    }
    void TearDown() override {
        if (!holderDir_.empty())
            shMayFail("kill $(cat " + holderDir_ + "/sleep.pid) 2>/dev/null");
        if (inPrivateNetns())
            shMayFail("ip link del jr0 2>/dev/null; ip rule del priority 100; "
                      "ip -6 rule del priority 101; ip route flush table 100; "
                      "ip -6 route flush table 100");
    }
    std::string command(const std::string& args) const {
        return "CORVANE_CONFIG_DIR=" + (dir_.path() / "store").string() + " " CORVANE_BIN " " +
               args;
    }
    // The IPv6 socket holder under the given executable name, until the test ends.
    void holdSockets(const std::string& name) {
        holderDir_ = dir_.path().string();
        sh("cd " + holderDir_ + " && n=" + name +
           " && cp " SOCKHOLDER
           " \"$n\" && mkfifo hold && { sleep 61 > hold & echo $! > sleep.pid; } && "
           "{ \"./$n\" v6 < hold > ports.txt & } && "
           "for i in $(seq 100); do [ -s ports.txt ] && break; sleep 0.1; done && [ -s ports.txt "
           "]");
    }
    std::string check(const std::string& json, const std::string& text = {}) const {
        return "python3 " CHECK_SCRIPT " " SCHEMA " " + json + (text.empty() ? "" : " " + text);
    }

    TempDir dir_;
    std::string holderDir_;
};

TEST_F(JsonReport, ValidAndTheSameRowsAsTheText) {
    holdSockets("holder6");
    const std::string json = (dir_.path() / "report.json").string();
    const std::string text = (dir_.path() / "report.txt").string();
    sh(command("--report " + text));
    sh(command("--json --report " + json));
    // Every interface, route, rule and connection of the one is in the other.
    EXPECT_EQ(shMayFail(check(json, text)), 0) << shOut("cat " + text);

    const QJsonObject r = parsed(shOut("cat " + json));
    EXPECT_EQ(r.value("schema_version").toInt(), 1);
    const QJsonArray routes = r.value("routes").toArray();
    EXPECT_EQ(countWhere(routes, {{"destination", "10.90.0.0"},
                                  {"prefix_length", 16},
                                  {"gateway", "10.78.0.2"},
                                  {"table", 100},
                                  {"table_name", QJsonValue::Null}}),
              1);
    EXPECT_EQ(countWhere(routes, {{"family", "ipv6"},
                                  {"destination", "2001:db8:90::"},
                                  {"prefix_length", 48},
                                  {"table", 100}}),
              1);
    EXPECT_EQ(countWhere(routes, {{"family", "ipv6"},
                                  {"destination", "2001:db8:89::"},
                                  {"next_hop", "2001:db8:78::2"},
                                  {"metric", 9},
                                  {"table_name", "main"},
                                  {"kernel_protocol", 3}}),
              1);
    EXPECT_EQ(countWhere(routes, {{"destination", "::1"}, {"loopback", true}}), 1);
    EXPECT_EQ(countWhere(r.value("rules").toArray(),
                         {{"priority", 101}, {"family", "ipv6"}, {"action", "lookup 100"}}),
              1);
    const QJsonArray stored = r.value("persistent_routes").toArray();
    EXPECT_EQ(countWhere(stored, {{"destination", "10.89.0.0"}, {"active", true}, {"wide", false}}),
              1);
    EXPECT_EQ(countWhere(stored, {{"destination", "10.91.0.0"}, {"active", false}}), 1);
    EXPECT_EQ(countWhere(stored, {{"name", "inet6,2001:db8:89::/48,2001:db8:78::2,9,254,jr0"},
                                  {"active", true},
                                  {"wide", true}}),
              1);
    EXPECT_EQ(countWhere(stored, {{"name", "inet6,2001:db8:91::/48,2001:db8:78::2,9,254,jr0"},
                                  {"active", false},
                                  {"wide", true}}),
              1);
    EXPECT_EQ(countWhere(routes, {{"destination", "10.89.0.0"}, {"persistent", true}}), 1);
    EXPECT_EQ(countWhere(routes, {{"destination", "2001:db8:89::"}, {"persistent", true}}), 1);
    // Both families of one adapter, and the sockets with their owner.
    int adapters = 0;
    for (const auto& a : r.value("adapters").toArray()) {
        const QJsonObject o = a.toObject();
        if (o.value("name") != "jr0")
            continue;
        ++adapters;
        EXPECT_EQ(countWhere(o.value("ipv4_addresses").toArray(),
                             {{"address", "10.78.0.1"}, {"prefix_length", 24}}),
                  1);
        EXPECT_EQ(countWhere(o.value("ipv6_addresses").toArray(),
                             {{"address", "2001:db8:78::1"}, {"scope", "global"}}),
                  1);
    }
    EXPECT_EQ(adapters, 1);
    const QJsonArray conns = r.value("connections").toArray();
    EXPECT_EQ(countWhere(conns, {{"protocol", "tcp"},
                                 {"local_port", 8080},
                                 {"dual_stack", true},
                                 {"state", "listening"},
                                 {"owner_name", "holder6"}}),
              1);
    EXPECT_EQ(countWhere(conns, {{"protocol", "udp"}, {"local_port", 5355}, {"dual_stack", true}}),
              1);
    EXPECT_GE(countWhere(conns, {{"family", "ipv6"}, {"established", true}, {"loopback", true}}),
              1);
    // Counters are numbers, not texts.
    for (const auto& i : r.value("interfaces").toArray())
        EXPECT_TRUE(i.toObject().value("counters").toObject().value("in_octets").isDouble());
}

// An executable's name is chosen by its user: escapes, line breaks and bytes that are no
// UTF-8 stay data, never raw control characters or invalid text.
TEST_F(JsonReport, HostileNamesStayData) {
    holdSockets("\"$(printf 'x\\033[2J\\nrow\\377')\"");
    const std::string out = shOut(command("--report - --json"));
    for (const char c : out)
        ASSERT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << int(c);
    const std::string json = (dir_.path() / "stdout.json").string();
    std::ofstream(json) << out;
    EXPECT_EQ(shMayFail(check(json)), 0);
    const QJsonObject r = parsed(out);
    EXPECT_GE(countWhere(r.value("connections").toArray(),
                         {{"local_port", 8080},
                          {"owner_name", QString::fromUtf8("x\x1b[2J\nrow\xEF\xBF\xBD")}}),
              1);
}

// Written as the text is: a link in the report's place is replaced, never followed.
TEST_F(JsonReport, ReplacesALinkRatherThanItsTarget) {
    const fs::path target = dir_.path() / "target";
    std::ofstream(target) << "keep";
    const fs::path link = dir_.path() / "link.json";
    fs::create_symlink(target, link);
    sh(command("--report " + link.string() + " --json"));
    EXPECT_EQ(shOut("cat " + target.string()), "keep");
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(shMayFail(check(link.string())), 0);
}

TEST_F(JsonReport, JsonWithoutReportIsAUsageError) {
    EXPECT_EQ(shMayFail(command("--json 2>/dev/null")), 2);
}

} // namespace
