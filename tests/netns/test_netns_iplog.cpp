// The IP address log of the real main window against the kernel of a private network
// namespace: what each refresh appends to iplog.txt in the settings folder.
#include "../gui/gui_fixture.h"
#include "netns.h"

#include <QFile>
#include <QRegularExpression>
#include <filesystem>
#include <fstream>

using namespace corvane;
using namespace corvane::test;

namespace {

class IpLogNetns : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        const std::string resolv = dir.filePath(QStringLiteral("resolv.conf")).toStdString();
        std::ofstream(resolv) << "nameserver 10.0.0.53\n";
        qputenv("CORVANE_RESOLV_CONF", QByteArray::fromStdString(resolv));
        qputenv("CORVANE_RESOLVED_NETIF_DIR", dir.filePath(QStringLiteral("none")).toLocal8Bit());
        nameConnectionsAfterInterfaces();
        setOption(Option::IpLogging, true);
        log = std::filesystem::path(dir.filePath(QStringLiteral("store")).toStdString()) /
              "iplog.txt";
    }
    void TearDown() override {
        for (const std::string& link : links)
            shMayFail("ip link del " + link + " 2>/dev/null");
        qunsetenv("CORVANE_RESOLV_CONF");
        qunsetenv("CORVANE_RESOLVED_NETIF_DIR");
        MainWindowFixture::TearDown();
    }
    // A veth pair with both ends up; addresses only where given.
    void link(const std::string& name, const std::string& address = {}) {
        sh("ip link add " + name + " type veth peer name " + name + "p");
        links.push_back(name);
        sh("ip link set " + name + " up && ip link set " + name + "p up");
        if (!address.empty())
            sh("ip addr add " + address + " dev " + name);
    }
    QStringList logLines() const {
        QFile f(QString::fromStdString(log.string()));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    }
    static QRegularExpression adapterLine(const QString& name, const QString& addresses) {
        return QRegularExpression(QStringLiteral(R"(^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d,\d{3} )") +
                                  QRegularExpression::escape(name) + QStringLiteral(" - [^:]*: ") +
                                  QRegularExpression::escape(addresses) + QLatin1Char('$'));
    }
    std::vector<std::string> links;
    std::filesystem::path log;
};

TEST_F(IpLogNetns, WrittenAfterStartAndWhenAnAddressChanges) {
    CORVANE_REQUIRE_NETNS();
    link("lga", "10.7.0.1/24");
    link("lgb"); // no address: 0.0.0.0, no line
    TfrmMain& w = make();
    w.RefreshNetworkStatus();
    QStringList lines = logLines();
    // The banner, one line (the veth ends without an address have none), the final break.
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Corvane Startup");
    EXPECT_TRUE(adapterLine("lga", "10.7.0.1 255.255.255.0").match(lines[2]).hasMatch())
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], "");

    w.RefreshNetworkStatus();
    EXPECT_EQ(logLines(), lines); // nothing changed, nothing written

    // A new address on one adapter brings every adapter's line again.
    sh("ip addr add 10.8.0.1/16 dev lgb");
    w.RefreshNetworkStatus();
    lines = logLines();
    ASSERT_EQ(lines.size(), 6) << lines.join('|').toStdString();
    EXPECT_TRUE(adapterLine("lga", "10.7.0.1 255.255.255.0").match(lines[3]).hasMatch());
    EXPECT_TRUE(adapterLine("lgb", "10.8.0.1 255.255.0.0").match(lines[4]).hasMatch())
        << lines[4].toStdString();

    // Several addresses: each with its mask and context, in one line.
    sh("ip addr add 10.7.0.2/24 dev lga");
    w.RefreshNetworkStatus();
    lines = logLines();
    ASSERT_EQ(lines.size(), 8);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral(R"(lga - [^:]*: 10\.7\.0\.1 255\.255\.255\.0 NTE:\d+ )"
                                          R"(10\.7\.0\.2 255\.255\.255\.0 NTE:\d+$)"))
            .match(lines[5])
            .hasMatch())
        << lines[5].toStdString();
    EXPECT_TRUE(prompts.messages.empty());

    // Logging off: neither collected nor written.
    setOption(Option::IpLogging, false);
    sh("ip addr add 10.9.0.1/24 dev lgb");
    w.RefreshNetworkStatus();
    EXPECT_EQ(logLines(), lines);
}

TEST_F(IpLogNetns, UnwritableLogWritesNothingAndSaysNothing) {
    CORVANE_REQUIRE_NETNS();
    link("lgc", "10.7.1.1/24");
    // Root writes any folder; a folder in the file's place refuses every user.
    std::filesystem::create_directories(log);
    TfrmMain& w = make();
    w.RefreshNetworkStatus();
    EXPECT_TRUE(std::filesystem::is_directory(log));
    EXPECT_TRUE(std::filesystem::is_empty(log));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(w.ipLogFile.startupPending());
    // Once it can be written, the banner comes with the first write, changed or not.
    std::filesystem::remove(log);
    w.RefreshNetworkStatus();
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1], "Corvane Startup");
    EXPECT_FALSE(w.ipLogFile.startupPending());
}

} // namespace
