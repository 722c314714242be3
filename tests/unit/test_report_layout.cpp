// The status report's fixed-width layout, block history and file writing.
#include "report/report_layout.h"
#include "report/textfile.h"
#include "temp_dir.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

using namespace corvane;

namespace {

ReportTable tableOf(const std::vector<QStringList>& rows) {
    return {static_cast<qsizetype>(rows.size()),
            [rows](qsizetype r, int c) { return rows[static_cast<std::size_t>(r)].value(c); }};
}

QStringList linesOf(const QString& text) {
    return text.split(QLatin1Char('\n'));
}

ReportInput smallInput() {
    ReportInput in;
    in.hostName = QStringLiteral("gw1");
    in.generatedAt = QStringLiteral("08/12/2026 10:00:00");
    in.treeLines = {QStringLiteral("Adapter eth0"), QStringLiteral("\tIP 10.0.0.1")};
    in.interfaces = tableOf({{"enabled", "0x2", "00-11-22-33-44-55", "Ethernet", "10 Gbit/s",
                              "Cable disconnected (!)", "eth0 - veth (veth)"}});
    in.routes = tableOf({{"10.1.0.0", "255.255.0.0", "10.0.0.254", "0x2", "20", "yes"}});
    in.connections = tableOf({{"UDP", "0.0.0.0", "53"}});
    return in;
}

} // namespace

TEST(ReportLayout, PadKeepsLongTextsWhole) {
    EXPECT_EQ(pad(u"abc", 6), QStringLiteral("abc   "));
    EXPECT_EQ(pad(u"abcdef", 6), QStringLiteral("abcdef"));
    EXPECT_EQ(pad(u"abcdefgh", 6), QStringLiteral("abcdefgh"));
    EXPECT_EQ(pad(u"", 3), QStringLiteral("   "));
    EXPECT_EQ(pad(u"x", -4), QStringLiteral("x"));
}

TEST(ReportLayout, BlockHasTheFixedSectionsInOrder) {
    const QStringList lines = linesOf(buildReportBlock(smallInput()));
    const QString rule(100, QLatin1Char('='));
    const QStringList expected = {
        "IP Information for host gw1",
        "Generated at: 08/12/2026 10:00:00",
        rule,
        "Adapter eth0",
        "\tIP 10.0.0.1",
        "",
        "",
        "Interface Information",
        rule,
        // One line in two pieces, not two lines.
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
        "Admin Status    IF Index  Address                 Type          Speed       Oper Status  "
        "   Description",
        // The 22-character oper status pushes the description right instead of being cut.
        "enabled         0x2       00-11-22-33-44-55       Ethernet      10 Gbit/s   Cable "
        "disconnected (!)eth0 - veth (veth)",
        "",
        "",
        "Routing Table",
        rule,
        "Destination Address Destination Mask    Next Hop            IF Index  Metric    "
        "Persistent",
        "10.1.0.0            255.255.0.0         10.0.0.254          0x2       20        yes",
        "",
        "",
        "Netstat Table",
        rule,
        "Protocol   Local Address   Local Port    Dest. Address   Dest. Port    Status        via "
        "IF",
        // A plain UDP row has no remote, status or interface texts: all spaces.
        "UDP        0.0.0.0         53            " + QString(16 + 14 + 14 + 10, QLatin1Char(' ')),
    };
    EXPECT_EQ(lines, expected);
}

TEST(ReportLayout, TitlesFollowTheFilters) {
    EXPECT_EQ(routingTitle(true, true),
              QStringLiteral("Routing Table, no local host routes, no broadcast routes"));
    EXPECT_EQ(routingTitle(false, true), QStringLiteral("Routing Table, no broadcast routes"));
    EXPECT_EQ(netstatTitle(true),
              QStringLiteral("Netstat Table (only established TCP connections)"));
}

TEST(ReportLayout, AddressColumnsWidenPastTheLongestText) {
    // A 20-character local address: width 21, five more spaces in the header.
    const ReportTable conns = tableOf({
        {"TCP", "192.168.100.200:1234", "80", "10.0.0.1", "443", "ESTABLISHED", "0x2", "sshd"},
        {"TCP", "host", "22", "a-sixteen-chars!", "5000", "LISTEN", "0x1", "???"},
    });
    const ConnectionWidths w = connectionWidths(conns);
    EXPECT_EQ(w.local, 21);
    EXPECT_EQ(w.remote, 17); // 16 characters reach the starting width of 16
    EXPECT_EQ(connectionHeader(w, false),
              QStringLiteral("Protocol   Local Address        Local Port    Dest. Address    "
                             "Dest. Port    Status        via IF"));
    EXPECT_TRUE(connectionHeader(w, true).endsWith(QStringLiteral("via IF    Owner Process")));

    ReportInput in = smallInput();
    in.connections = conns;
    in.xpFamily = true;
    const QStringList lines = linesOf(buildReportBlock(in));
    EXPECT_EQ(lines.at(lines.size() - 2),
              QStringLiteral("TCP        192.168.100.200:1234 80            10.0.0.1         443 "
                             "          ESTABLISHED   0x2       sshd"));
    // Without the XP family the owner column is left out even when the row has it.
    in.xpFamily = false;
    EXPECT_FALSE(buildReportBlock(in).contains(QStringLiteral("sshd")));
}

TEST(ReportLayout, BlocksFollowEachOtherUnlessOverwritten) {
    EXPECT_EQ(followReport(QString(), QStringLiteral("B1"), false), QStringLiteral("B1"));
    EXPECT_EQ(followReport(QStringLiteral("B1"), QStringLiteral("B2"), true), QStringLiteral("B2"));
    const QString two = followReport(QStringLiteral("B1\nx"), QStringLiteral("B2"), false);
    EXPECT_EQ(linesOf(two), QStringList({"B1", "x", "", ">>>> Next Report Block <<<<", "", "B2"}));
    const QString three = followReport(two, QStringLiteral("B3"), false);
    EXPECT_EQ(three.count(QStringLiteral(">>>> Next Report Block <<<<")), 2);
    EXPECT_TRUE(three.startsWith(QStringLiteral("B1\n")));
}

TEST(ReportLayout, GeneratedAtLeavesOutMidnight) {
    const QLocale c = QLocale::c();
    const QDate day(2026, 12, 8);
    EXPECT_EQ(generatedAtText(QDateTime(day, QTime(0, 0, 0)), c),
              c.toString(day, QLocale::ShortFormat));
    const QString noon = generatedAtText(QDateTime(day, QTime(12, 0, 5)), c);
    EXPECT_TRUE(noon.startsWith(c.toString(day, QLocale::ShortFormat) + QLatin1Char(' ')));
    EXPECT_TRUE(noon.contains(QStringLiteral("12:00:05")));
}

TEST(ReportFile, ReplacesRegularFilesAndWritesDevicesInPlace) {
    test::TempDir dir;
    const QString path = QString::fromStdString((dir.path() / "r.txt").string());
    QString error;
    ASSERT_TRUE(writeWholeFile(path, "first\r\n", error)) << error.toStdString();
    ASSERT_TRUE(writeWholeFile(path, "second", error));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("second"));

    // A link in the path's place is replaced by the report; the file it named is untouched.
    const QString link = QString::fromStdString((dir.path() / "link.txt").string());
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(writeWholeFile(link, "third", error)) << error.toStdString();
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    QFile replaced(link);
    ASSERT_TRUE(replaced.open(QIODevice::ReadOnly));
    EXPECT_EQ(replaced.readAll(), QByteArray("third"));
    QFile through(path);
    ASSERT_TRUE(through.open(QIODevice::ReadOnly));
    EXPECT_EQ(through.readAll(), QByteArray("second"));

    // Renaming over /dev/null would replace the device with a file.
    ASSERT_TRUE(writeWholeFile(QStringLiteral("/dev/null"), "x", error));
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    EXPECT_FALSE(writeWholeFile(QString::fromStdString((dir.path() / "missing" / "r.txt").string()),
                                "x", error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ReportFile, LocalBytesNarrowAsciiAndEncodeTheRest) {
    EXPECT_EQ(localBytes(QStringLiteral("eth0 \t 10.0.0.1\r\n")),
              QByteArray("eth0 \t 10.0.0.1\r\n"));
    const QString named = QStringLiteral("Kabelgebundene Verbindung \u00e4");
    EXPECT_EQ(localBytes(named), named.toLocal8Bit());
    EXPECT_TRUE(localBytes(QString()).isEmpty());
}

TEST(ReportLayout, Ipv6RowsGetATableOfTheirOwnAfterTheIpv4One) {
    ReportInput in = smallInput();
    in.xpFamily = true;
    in.connections = tableOf({
        {"TCP", "10.0.0.1", "22", "10.0.0.9", "5000", "ESTABLISHED", "0x2", "sshd"},
        {"TCPv4v6", "::", "8080", "::", "0", "LISTENING", "", "java"},
        {"UDP", "0.0.0.0", "53", "", "", "", "", "dnsd"},
        {"UDPv6", "fe80::1234:5678:9abc:def0%eth0", "546", "", "", "", "", "dhcp6"},
    });
    const QStringList lines = linesOf(buildReportBlock(in));
    const qsizetype v4 = lines.indexOf(QStringLiteral("Netstat Table"));
    const qsizetype v6 = lines.indexOf(QStringLiteral("Netstat Table, IPv6"));
    ASSERT_GE(v4, 0);
    ASSERT_EQ(v6, v4 + 7); // rule, header, two rows, two empty lines
    // The IPv4 table keeps its widths whatever the IPv6 addresses are.
    EXPECT_EQ(lines.at(v4 + 2), connectionHeader(ConnectionWidths{}, true));
    EXPECT_EQ(lines.at(v4 + 3),
              QStringLiteral("TCP        10.0.0.1        22            10.0.0.9        5000 "
                             "         ESTABLISHED   0x2       sshd"));
    EXPECT_TRUE(lines.at(v4 + 4).startsWith(QStringLiteral("UDP        0.0.0.0 ")));
    // The IPv6 table is widened by its 30-character address alone.
    EXPECT_EQ(lines.at(v6 + 2), connectionHeader(ConnectionWidths{31, 16}, true));
    EXPECT_EQ(lines.at(v6 + 3), QStringLiteral("TCPv4v6    ") + pad(u"::", 31) + pad(u"8080", 14) +
                                    pad(u"::", 16) + pad(u"0", 14) + pad(u"LISTENING", 14) +
                                    pad(u"", 10) + QStringLiteral("java"));
    EXPECT_TRUE(lines.at(v6 + 4).startsWith(
        QStringLiteral("UDPv6      fe80::1234:5678:9abc:def0%eth0 546 ")));
    EXPECT_EQ(lines.size(), v6 + 5);

    // Without IPv6 rows there is no IPv6 section at all.
    in.connections =
        tableOf({{"TCP", "10.0.0.1", "22", "10.0.0.9", "5000", "ESTABLISHED", "0x2", "sshd"}});
    EXPECT_FALSE(buildReportBlock(in).contains(QStringLiteral("IPv6")));
    in.establishedOnly = true;
    EXPECT_EQ(netstatIpv6Title(true),
              QStringLiteral("Netstat Table, IPv6 (only established TCP connections)"));
}

// A report handed on in pieces is the same text as one built whole, each piece ending where
// a line does, and none of it held back after the finish.
TEST(ReportLayout, PiecesEndAtLineEndsAndMakeTheWholeText) {
    ReportInput in = smallInput();
    std::vector<QStringList> routes;
    for (int i = 0; i < 3000; ++i)
        routes.push_back({QStringLiteral("10.%1.%2.0").arg(i / 256).arg(i % 256), "255.255.255.0",
                          "10.0.0.254", "0x2", "20", ""});
    in.routes = tableOf(routes);
    QStringList pieces;
    ReportText out([&](QStringView piece) { pieces.push_back(piece.toString()); });
    writeReportBlock(in, out);
    out += QLatin1Char('\n');
    EXPECT_FALSE(out.text().isEmpty()); // the last piece waits for the finish
    out.finish();
    EXPECT_TRUE(out.text().isEmpty());
    ASSERT_GT(pieces.size(), 3);
    for (qsizetype p = 0; p + 1 < pieces.size(); ++p)
        EXPECT_TRUE(pieces[p + 1].startsWith(QLatin1Char('\n'))) << p;
    EXPECT_EQ(pieces.join(QString()), buildReportBlock(in) + QLatin1Char('\n'));
}
