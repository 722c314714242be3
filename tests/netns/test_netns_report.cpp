// `corvane --report` against a world built in a private network namespace: the fixed parts of
// the layout line by line, the rows of the interface, routing and netstat sections, and the
// command's outputs and failures.
#include "netns.h"
#include "temp_dir.h"

#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace corvane::test;
namespace fs = std::filesystem;

namespace {

const std::string rule(100, '=');

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines after a section's title, its rule and header, up to the next empty line.
std::vector<std::string> sectionRows(const std::vector<std::string>& lines,
                                     const std::string& titlePrefix, std::string* header) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        if (lines[i].rfind(titlePrefix, 0) != 0 || lines[i + 1] != rule)
            continue;
        *header = lines[i + 2];
        for (std::size_t j = i + 3; j < lines.size() && !lines[j].empty(); ++j)
            rows.push_back(lines[j]);
        break;
    }
    return rows;
}

std::string indexText(const std::string& link) {
    std::ostringstream s;
    s << "0x" << std::uppercase << std::hex
      << std::stoul(shOut("cat /sys/class/net/" + link + "/ifindex"));
    return s.str();
}

std::string macText(const std::string& link) {
    std::string mac = shOut("cat /sys/class/net/" + link + "/address");
    mac.erase(mac.find_last_not_of('\n') + 1);
    for (char& c : mac)
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return mac;
}

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        CORVANE_REQUIRE_NETNS();
        // Link-local addresses without detection, made before the first report: two runs see
        // the same tree.
        sh("sysctl -qw net.ipv6.conf.default.accept_dad=0");
        sh("ip link set lo up; ip link add rp0 type veth peer name rp1 && ip link set rp0 up && "
           "ip link set rp1 up && ip addr add 10.77.0.1/24 dev rp0 && "
           "ip addr add 10.77.0.9/24 dev rp0");
        sh("for i in $(seq 100); do [ $(ip -6 -o addr show scope link | wc -l) -ge 2 ] && break; "
           "sleep 0.05; done");
        sh("ip route add 10.88.0.0/16 via 10.77.0.2 metric 7 && "
           "ip route add default via 10.77.0.2 metric 5");
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("10.77.0.1"); // loopback rows are filtered by default
        socklen_t len = sizeof a;
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener_, 4), 0);
        ASSERT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port_ = ntohs(a.sin_port);
    }
    void TearDown() override {
        if (listener_ >= 0)
            ::close(listener_);
        if (inPrivateNetns())
            shMayFail("ip link del rp0 2>/dev/null");
    }
    // The command with a fresh settings store; its status, with the output file's text.
    std::string command(const std::string& args) const {
        return "CORVANE_CONFIG_DIR=" + (dir_.path() / "store").string() + " " CORVANE_BIN " " +
               args;
    }
    std::string outFile() const { return (dir_.path() / "report.txt").string(); }

    TempDir dir_;
    int listener_ = -1;
    int port_ = 0;
};

TEST_F(Report, MatchesTheWorldItWasBuiltIn) {
    sh(command("--report " + outFile()));
    const std::vector<std::string> lines = linesOf(shOut("cat " + outFile()));
    ASSERT_GT(lines.size(), 10u);

    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(lines[0], std::string("IP Information for host ") + host);
    EXPECT_EQ(lines[1].rfind("Generated at: ", 0), 0u);
    EXPECT_EQ(lines[2], rule);
    // The tree follows at once: a top-level line per adapter, children indented by tabs.
    std::size_t treeEnd = 3;
    while (treeEnd < lines.size() && !lines[treeEnd].empty())
        ++treeEnd;
    const std::vector<std::string> tree(lines.begin() + 3,
                                        lines.begin() + static_cast<long>(treeEnd));
    EXPECT_NE(std::find_if(tree.begin(), tree.end(),
                           [](const std::string& l) { return l.rfind("rp0", 0) == 0; }),
              tree.end());
    EXPECT_NE(std::find_if(tree.begin(), tree.end(),
                           [](const std::string& l) {
                               return l[0] == '\t' && l.find("10.77.0.9") != std::string::npos;
                           }),
              tree.end());
    ASSERT_LT(treeEnd + 2, lines.size());
    EXPECT_EQ(lines[treeEnd + 1], "");
    EXPECT_EQ(lines[treeEnd + 2], "Interface Information");

    std::string header;
    const std::vector<std::string> ifRows = sectionRows(lines, "Interface Information", &header);
    EXPECT_EQ(header, "Admin Status    IF Index  Address                 Type          Speed       "
                      "Oper Status     Description");
    for (const std::string link : {"rp0", "rp1"}) {
        const std::string prefix = pad("enabled", 16) + pad(indexText(link), 10) +
                                   pad(macText(link), 24) + pad("Ethernet", 14);
        EXPECT_EQ(std::count_if(ifRows.begin(), ifRows.end(),
                                [&](const std::string& r) { return r.rfind(prefix, 0) == 0; }),
                  1)
            << link;
    }

    const std::vector<std::string> routes = sectionRows(lines, "Routing Table", &header);
    EXPECT_EQ(header,
              "Destination Address Destination Mask    Next Hop            IF Index  Metric "
              "   Persistent");
    const std::string idx = indexText("rp0");
    for (const std::string& expected : {pad("0.0.0.0", 20) + pad("0.0.0.0", 20) +
                                            pad("10.77.0.2", 20) + pad(idx, 10) + pad("5", 10),
                                        pad("10.88.0.0", 20) + pad("255.255.0.0", 20) +
                                            pad("10.77.0.2", 20) + pad(idx, 10) + pad("7", 10),
                                        pad("10.77.0.0", 20) + pad("255.255.255.0", 20) +
                                            pad("10.77.0.1", 20) + pad(idx, 10) + pad("0", 10)})
        EXPECT_EQ(std::count(routes.begin(), routes.end(), expected), 1) << expected;

    // Filled after the refresh: the listener opened before the run is there.
    const std::vector<std::string> conns = sectionRows(lines, "Netstat Table", &header);
    EXPECT_EQ(header, "Protocol   Local Address   Local Port    Dest. Address   Dest. Port    "
                      "Status        via IF    Owner Process");
    const std::string listen =
        pad("TCP", 11) + pad("10.77.0.1", 16) + pad(std::to_string(port_), 14);
    const auto row = std::find_if(conns.begin(), conns.end(),
                                  [&](const std::string& r) { return r.rfind(listen, 0) == 0; });
    ASSERT_NE(row, conns.end());
    EXPECT_NE(row->find("test_netns_report"), std::string::npos) << *row;
}

// Any user names their executable: escape sequences and line breaks in it must neither reach
// the terminal the report is printed on nor split a report row.
TEST_F(Report, NamesChosenByUsersAreMadePrintable) {
    const std::string d = dir_.path().string();
    sh("cd " + d +
       " && n=$(printf 'x\\033[2J\\033]0;pwned\\007\\nrow') && cp " SOCKHOLDER
       " \"$n\" && mkfifo hold && { sleep 61 > hold & echo $! > sleep.pid; } && "
       "{ \"./$n\" < hold > ports.txt & } && "
       "for i in $(seq 100); do [ -s ports.txt ] && break; sleep 0.1; done && [ -s ports.txt ]");
    const std::string report = shOut(command("--report -"));
    std::istringstream ports(shOut("cat " + d + "/ports.txt"));
    int loPort = 0, anyPort = 0;
    ports >> loPort >> anyPort;
    // The holder ends when its input does: the sleep that feeds it, ended by its pid.
    shMayFail("kill $(cat " + d + "/sleep.pid)");

    EXPECT_EQ(report.find('\x1b'), std::string::npos);
    EXPECT_EQ(report.find('\x07'), std::string::npos);
    std::string header;
    const std::vector<std::string> conns = sectionRows(linesOf(report), "Netstat Table", &header);
    const std::string listen =
        pad("TCP", 11) + pad("0.0.0.0", 16) + pad(std::to_string(anyPort), 14);
    const auto row = std::find_if(conns.begin(), conns.end(),
                                  [&](const std::string& r) { return r.rfind(listen, 0) == 0; });
    ASSERT_NE(row, conns.end()) << report;
    EXPECT_NE(row->find("x?[2J?]0;pwned??row"), std::string::npos) << *row;
}

TEST_F(Report, WritesToStandardOutputAndFailsLoudly) {
    const std::string out = shOut(command("--report"));
    const std::string dash = shOut(command("--report -"));
    const auto withoutDate = [](std::string text) {
        const std::size_t at = text.find("\nGenerated at: ");
        return text.erase(at, text.find('\n', at + 1) - at);
    };
    EXPECT_EQ(out.rfind("IP Information for host ", 0), 0u);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(withoutDate(out), withoutDate(dash));

    const std::string bad = (dir_.path() / "missing" / "r.txt").string();
    const std::string err = (dir_.path() / "err.txt").string();
    EXPECT_NE(shMayFail(command("--report " + bad + " 2>" + err)), 0);
    EXPECT_NE(shOut("cat " + err).find(bad), std::string::npos);

    // Platform calls that fail leave gaps: the report is written, the run is not a success.
    const std::string gaps = (dir_.path() / "gaps.txt").string();
    EXPECT_EQ(shMayFail("CORVANE_IPHLPAPI_LIB=" FAKE_FULL " FAKE_IPHLP_RESULT=5 " +
                        command("--report " + gaps + " 2>" + err)),
              1);
    EXPECT_EQ(shOut("head -c 24 " + gaps), "IP Information for host ");
    EXPECT_NE(shOut("cat " + err).find("failed: Access is denied"), std::string::npos);
    // Settings that cannot be stored are said, but the report itself is whole.
    EXPECT_EQ(shMayFail("CORVANE_CONFIG_DIR=/proc/no-store " CORVANE_BIN " --report " + gaps +
                        " 2>" + err),
              0);
    EXPECT_NE(shOut("cat " + err).find("settings"), std::string::npos);

    const std::string help = shOut(CORVANE_BIN " --help");
    EXPECT_NE(help.find("--report [FILE]"), std::string::npos);
    EXPECT_NE(help.find("--restore-persistent-routes"), std::string::npos);
}

// Root with another user's environment (sudo -E) that names that user's library: the report
// comes from the installed library, and the run says why the named one was passed over.
TEST_F(Report, ALibraryAnotherUserOwnsIsNotLoaded) {
    ::chmod(dir_.path().c_str(), 0711);
    const fs::path theirs = dir_.path() / "theirs";
    fs::create_directory(theirs);
    ::chmod(theirs.c_str(), 0777);
    static std::string planted;
    planted = (theirs / "libiphlpapi.so").string();
    ASSERT_EQ(runUnprivileged(
                  [] { return std::system(("cp " FAKE_FULL " " + planted).c_str()) == 0 ? 0 : 1; }),
              0);
    const std::string err = (dir_.path() / "err.txt").string();
    EXPECT_EQ(shMayFail("CORVANE_IPHLPAPI_LIB=" + planted + " FAKE_IPHLP_RESULT=5 " +
                        command("--report " + outFile() + " 2>" + err)),
              0)
        << shOut("cat " + err);
    const std::string said = shOut("cat " + err);
    EXPECT_NE(
        said.find("CORVANE_IPHLPAPI_LIB is not used (" + planted + ": it belongs to another user)"),
        std::string::npos)
        << said;
    EXPECT_EQ(said.find("Access is denied"), std::string::npos) << said;
    EXPECT_NE(shOut("cat " + outFile()).find("10.77.0.1"), std::string::npos);
}

// Neither command starts a window system: with a platform plugin that does not exist, one
// that did would end at once.
TEST_F(Report, CommandsRunWithoutAWindowSystem) {
    const std::string noDisplay =
        "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=corvane-no-such-plugin ";
    const std::string err = (dir_.path() / "err.txt").string();
    EXPECT_EQ(shMayFail(noDisplay + command("--report " + outFile() + " 2>" + err)), 0)
        << shOut("cat " + err);
    EXPECT_EQ(shOut("head -c 24 " + outFile()), "IP Information for host ");
    EXPECT_EQ(shMayFail(noDisplay + command("--restore-persistent-routes >/dev/null 2>" + err)), 0)
        << shOut("cat " + err);
}

// The boot-time restore with a store that has one damaged line: what could not be read is
// said, the rest is restored, and the run fails, every time until the store is mended.
TEST_F(Report, RestoreSaysWhatItCouldNotReadAndRestoresTheRest) {
    const fs::path store = dir_.path() / "store";
    fs::create_directories(store);
    const std::string damaged =
        "[SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\PersistentRoutes]\n"
        "\"10.91.0.0,255.255.0.0,10.77.0.2,5\" = str:\"\"\n"
        "\"10.92.0.0,255.255.0.0,10.77.0.2,5\" = dword:1\n"
        "\"10.93.0.0,255.255.0.0,0.0.0.0,1\" = str:\"\"\n"
        "\"10.88.0.0,255.255.0.0,10.77.0.2,50\" = str:\"\"\n"
        "\"10.94.0.0,255.255.0.0,10.77.0.2,1\\x1B[2J\" = str:\"\"\n";
    std::ofstream(store / "machine.reg", std::ios::binary) << damaged;
    const std::string out = (dir_.path() / "restore.txt").string();

    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(shMayFail(command("--restore-persistent-routes >" + out)), 1);
        const std::string said = shOut("cat " + out);
        EXPECT_NE(said.find("machine.reg could not be read in full (line 3: unknown value type"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("kept as " + (store / "machine.reg.corrupt-").string()),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("\napplied 10.91.0.0,255.255.0.0,10.77.0.2,5\n"), std::string::npos);
        EXPECT_NE(said.find("\nfailed 10.93.0.0,255.255.0.0,0.0.0.0,1: the next hop 0.0.0.0 "
                            "names no gateway to restore the route through\n"),
                  std::string::npos)
            << said;
        // Present with another metric is another route: added beside it.
        EXPECT_NE(said.find("\napplied 10.88.0.0,255.255.0.0,10.77.0.2,50\n"), std::string::npos);
        EXPECT_NE(said.find("\nfailed 10.94.0.0,255.255.0.0,10.77.0.2,1?[2J: not a route"),
                  std::string::npos)
            << said;
        EXPECT_EQ(said.find('\x1b'), std::string::npos);
    }
    EXPECT_NE(shOut("ip route show 10.91.0.0/16"), "");
    EXPECT_EQ(shOut("ip route show 10.93.0.0/16"), "");
    EXPECT_EQ(shOut("ip route show 10.88.0.0/16 | wc -l"), "2\n");
    // Only read: the file stands as it was, and one copy of it is kept.
    EXPECT_EQ(slurp(store / "machine.reg"), damaged);
    EXPECT_EQ(shOut("ls " + store.string() + " | grep -c corrupt"), "1\n");
}

TEST_F(Report, NeverWritesThroughAPlantedLinkNorWaitsForAPipe) {
    // A shared folder as /tmp is, where another user planted links to root's files.
    const std::string shared = (dir_.path() / "s").string();
    const std::string victim = (dir_.path() / "passwd").string();
    const std::string absent = (dir_.path() / "profile.d" / "corvane.sh").string();
    sh("mkdir -m 1777 " + shared + " && mkdir " + dir_.path().string() + "/profile.d && " +
       "echo 'root:x:0:0::/root:/bin/sh' > " + victim + " && ln -s " + victim + " " + shared +
       "/r.txt && ln -s " + absent + " " + shared + "/d.txt && chown -h 65534:65534 " + shared +
       "/r.txt " + shared + "/d.txt");
    EXPECT_EQ(shMayFail(command("--report " + shared + "/r.txt")), 0);
    EXPECT_EQ(shMayFail(command("--report " + shared + "/d.txt")), 0);
    EXPECT_EQ(shOut("cat " + victim), "root:x:0:0::/root:/bin/sh\n");
    EXPECT_NE(shMayFail("test -e " + absent), 0);
    for (const char* name : {"/r.txt", "/d.txt"}) {
        EXPECT_EQ(shMayFail("test -f " + shared + name + " && test ! -L " + shared + name), 0);
        EXPECT_EQ(shOut("head -c 24 " + shared + name), "IP Information for host ");
    }

    // A pipe nobody reads fails the command at once; the timeout's own status would be 124.
    const std::string fifo = (dir_.path() / "fifo").string();
    const std::string err = (dir_.path() / "err.txt").string();
    sh("mkfifo " + fifo);
    EXPECT_EQ(shMayFail("timeout 60 env " + command("--report " + fifo + " 2>" + err)), 1);
    EXPECT_NE(shOut("cat " + err).find("reading"), std::string::npos);
    EXPECT_EQ(shMayFail(command("--report /dev/null")), 0);
}

// The command line as a shell sees it: status, and which stream says what.
TEST(CommandLine, MistakesAndAMissingDisplayAreSaidPlainly) {
    TempDir dir;
    const std::string out = (dir.path() / "out").string(), err = (dir.path() / "err").string();
    const auto run = [&](const std::string& args) {
        return shMayFail("CORVANE_CONFIG_DIR=" + (dir.path() / "store").string() + " " +
                         CORVANE_BIN " " + args + " >" + out + " 2>" + err);
    };
    const auto cat = [](const std::string& file) { return shOut("cat " + file); };

    for (const std::string bad :
         {"--bogus", "-x", "extra", "--report --bogus", "--report - --restore-persistent-routes",
          "--keep-persistent-routes --restore-persistent-routes",
          "--report --keep-persistent-routes"}) {
        EXPECT_EQ(run(bad), 2) << bad;
        EXPECT_EQ(cat(out), "") << bad; // no report nobody asked for
        EXPECT_EQ(cat(err).rfind("corvane: ", 0), 0u) << bad;
        EXPECT_NE(cat(err).find("Usage: corvane"), std::string::npos) << bad;
    }
    EXPECT_NE(cat(err).find("exclude each other"), std::string::npos);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_NE(cat(err).find("'--bogus'"), std::string::npos);

    EXPECT_EQ(run("--version"), 0);
    EXPECT_EQ(cat(out), "corvane " CORVANE_VERSION "\n");
    EXPECT_EQ(run("--help"), 0);
    EXPECT_NE(cat(out).find("--version"), std::string::npos);

    // A display that nobody serves: which one, and that the report needs none.
    const std::string noDisplay =
        "timeout 30 env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=:7391 " CORVANE_BIN;
    EXPECT_EQ(shMayFail(noDisplay + " >" + out + " 2>" + err), 1);
    EXPECT_NE(cat(err).find("cannot open the display \":7391\" (DISPLAY)"), std::string::npos)
        << cat(err);
    EXPECT_NE(cat(err).find("--report"), std::string::npos);
    EXPECT_EQ(cat(err).find("Reinstalling"), std::string::npos);
}

} // namespace
