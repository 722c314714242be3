// The Netstat page's row logic and model: state names, filters, byte order of addresses and
// ports, owner lookup and the column-click sort.
#include "connections/conn_rows.h"
#include "connections/connmodel.h"

#include <QColor>
#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

DWORD addr(const char* dotted) {
    return inet_addr(dotted);
}
DWORD port(quint16 p) {
    return htons(p);
}

ConnRow row(std::initializer_list<const char*> texts, int word = 1) {
    ConnRow r;
    for (const char* t : texts)
        r.texts << QString::fromLatin1(t);
    r.dataWord = word;
    return r;
}

QStringList column(const std::vector<ConnRow>& rows, int c) {
    QStringList out;
    for (const ConnRow& r : rows)
        out << r.text(c);
    return out;
}

} // namespace

TEST(ConnRows, StateNamesCoverTheTableAndNothingBeyond) {
    EXPECT_EQ(tcpStateName(0), "???");
    EXPECT_EQ(tcpStateName(2), "LISTENING");
    EXPECT_EQ(tcpStateName(5), "ESTABLISHED");
    EXPECT_EQ(tcpStateName(12), "DELETE_TCB");
    // Values the platform never sends must not index past the table.
    EXPECT_EQ(tcpStateName(13), "???");
    EXPECT_EQ(tcpStateName(0xFFFFFFFFu), "???");
}

TEST(ConnRows, FiltersLookAtLocalAddressAndState) {
    const ConnFilter none;
    const ConnFilter noLocal{true, false};
    const ConnFilter established{false, true};
    EXPECT_FALSE(skipTcpRow(none, 2, addr("127.0.0.1")));
    EXPECT_TRUE(skipTcpRow(noLocal, 5, addr("127.0.0.1")));
    EXPECT_TRUE(skipTcpRow(noLocal, 5, addr("127.8.9.10")));
    EXPECT_FALSE(skipTcpRow(noLocal, 5, addr("10.0.0.127"))); // last octet is not the first
    EXPECT_FALSE(skipTcpRow(noLocal, 5, addr("0.0.0.0")));
    EXPECT_TRUE(skipTcpRow(established, 2, addr("10.0.0.1")));
    EXPECT_FALSE(skipTcpRow(established, 5, addr("10.0.0.1")));

    EXPECT_FALSE(skipUdpRow(none, addr("127.0.0.1")));
    EXPECT_TRUE(skipUdpRow(noLocal, addr("127.0.0.53")));
    EXPECT_FALSE(skipUdpRow(noLocal, addr("192.168.1.1")));
    EXPECT_TRUE(skipUdpRow(established, addr("192.168.1.1"))); // no UDP rows at all
}

TEST(ConnRows, AddressesAndPortsComeOutOfNetworkOrder) {
    EXPECT_EQ(dottedAddress(addr("192.168.0.1")), "192.168.0.1");
    EXPECT_EQ(dottedAddress(addr("10.20.30.255")), "10.20.30.255");
    EXPECT_EQ(portNumber(port(1025)), "1025");
    EXPECT_EQ(portNumber(port(0)), "0");
    EXPECT_EQ(portNumber(port(65535)), "65535");
    // Only the low 16 bits of the field hold the port.
    EXPECT_EQ(portNumber(port(80) | 0xABCD0000u), "80");
}

TEST(ConnRows, OwnerNamesTakeTheFirstEntryOfAPid) {
    OwnerNames names;
    names.add(10, QStringLiteral("first"));
    names.add(11, QStringLiteral("other"));
    names.add(10, QStringLiteral("second"));
    EXPECT_EQ(names.name(10), "first");
    EXPECT_EQ(names.name(11), "other");
    EXPECT_EQ(names.name(12), "???");
    EXPECT_EQ(OwnerNames().name(0), "???");
}

TEST(ConnRows, TextOrderFoldsOnlyLettersAToZ) {
    EXPECT_LT(compareConnTexts(QStringLiteral("1025"), QStringLiteral("135")), 0);
    EXPECT_LT(compareConnTexts(QStringLiteral("445"), QStringLiteral("80")), 0);
    EXPECT_LT(compareConnTexts(QStringLiteral("0x10"), QStringLiteral("0x2")), 0);
    EXPECT_LT(compareConnTexts(QStringLiteral("80"), QStringLiteral("800")), 0);
    EXPECT_LT(compareConnTexts(QString(), QStringLiteral("a")), 0);
    EXPECT_EQ(compareConnTexts(QStringLiteral("sshd"), QStringLiteral("SSHD")), 0);
    // Folded to upper case, "a" sorts before "_" (0x41 < 0x5F), although 0x61 would not.
    EXPECT_LT(compareConnTexts(QStringLiteral("a"), QStringLiteral("_")), 0);
    // No folding beyond ASCII letters.
    EXPECT_NE(compareConnTexts(QStringLiteral("\u00e4"), QStringLiteral("\u00c4")), 0);
    EXPECT_GT(compareConnTexts(QStringLiteral("b"), QStringLiteral("A")), 0);
}

TEST(ConnRows, SortIsStableInBothDirectionsAndTreatsMissingTextsAsEmpty) {
    std::vector<ConnRow> rows = {row({"TCP", "a", "80"}), row({"UDP", "b", "135"}, 0),
                                 row({"TCP", "c", "1025"}), row({"UDP", "d", "80"}, 0),
                                 row({"TCP", "e"})};
    sortConnRows(rows, 2, true);
    EXPECT_EQ(column(rows, 2), (QStringList{"", "80", "80", "135", "1025"})); // by value
    EXPECT_EQ(column(rows, 1), (QStringList{"e", "a", "d", "b", "c"}));       // equal keep order
    sortConnRows(rows, 2, false);
    EXPECT_EQ(column(rows, 1), (QStringList{"c", "b", "a", "d", "e"}));
    sortConnRows(rows, 1, false); // texts as texts
    EXPECT_EQ(column(rows, 1), (QStringList{"e", "d", "c", "b", "a"}));
}

TEST(ConnModel, EveryClickFlipsTheDirectionWhateverTheColumn) {
    ConnectionModel m(0, 7);
    m.setRows({row({"TCP", "10.0.0.2", "80"}), row({"UDP", "10.0.0.1", "135"}, 0),
               row({"TCP", "10.0.0.3", "1025"})});
    // Switching sorting on asks the model to sort; only armed clicks count.
    m.sort(0, Qt::DescendingOrder);
    EXPECT_FALSE(m.ascending());
    EXPECT_EQ(m.index(0, 2).data().toString(), "80");
    m.armColumnClicks();
    m.sort(2, Qt::DescendingOrder); // the order the header asks for does not matter
    EXPECT_TRUE(m.ascending());
    EXPECT_EQ(m.sortColumn(), 2);
    EXPECT_EQ(m.index(0, 2).data().toString(), "80");
    EXPECT_EQ(m.index(2, 2).data().toString(), "1025");
    m.columnClick(1);
    EXPECT_FALSE(m.ascending());
    EXPECT_EQ(m.index(0, 1).data().toString(), "10.0.0.3");
    // A refill shows table order again; the direction stays for the next click.
    m.setRows({row({"TCP", "x", "9"}), row({"TCP", "y", "10"})});
    EXPECT_EQ(m.index(0, 1).data().toString(), "x");
    m.columnClick(2);
    EXPECT_TRUE(m.ascending());
    EXPECT_EQ(m.index(0, 2).data().toString(), "9");
}

TEST(ConnModel, ColumnsCaptionsColoursAndTexts) {
    ConnectionModel m(0, 7);
    ASSERT_TRUE(m.setHeaderData(0, Qt::Horizontal, QStringLiteral("Protocol")));
    ASSERT_TRUE(m.insertColumn(7));
    ASSERT_TRUE(m.setHeaderData(7, Qt::Horizontal, QStringLiteral("Owner Process")));
    EXPECT_EQ(m.columnCount(), 8);
    EXPECT_EQ(m.headerData(7, Qt::Horizontal).toString(), "Owner Process");
    EXPECT_FALSE(m.setHeaderData(8, Qt::Horizontal, QStringLiteral("x")));

    m.setRows({row({"TCP", "1.2.3.4"}), row({"UDP", "5.6.7.8"}, 0)});
    EXPECT_EQ(m.index(0, 0).data(connDataWordRole).toInt(), 1);
    EXPECT_EQ(m.index(1, 0).data(connDataWordRole).toInt(), 0);
    EXPECT_EQ(m.index(0, 5).data().toString(), ""); // beyond the row's texts

    bool coloured = false;
    m.coloured = [&coloured] { return coloured; };
    EXPECT_FALSE(m.index(0, 0).data(Qt::ForegroundRole).isValid());
    coloured = true;
    EXPECT_EQ(m.index(0, 3).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    EXPECT_EQ(m.index(1, 3).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 0));

    const std::vector<QStringList> texts = m.rowTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], (QStringList{"UDP", "5.6.7.8"}));
}

namespace {

Ip6Address ip6(const char* text, DWORD zone = 0) {
    UCHAR bytes[16] = {};
    EXPECT_EQ(inet_pton(AF_INET6, text, bytes), 1) << text;
    return Ip6Address::of(bytes, zone);
}

} // namespace

TEST(ConnRows6, LoopbackIncludesTheMappedIpv4LoopbackNet) {
    EXPECT_TRUE(ip6("::1").loopback());
    EXPECT_TRUE(ip6("::ffff:127.0.0.1").loopback());
    EXPECT_TRUE(ip6("::ffff:127.255.0.9").loopback());
    EXPECT_FALSE(ip6("::ffff:10.0.0.127").loopback());
    EXPECT_FALSE(ip6("::").loopback());
    EXPECT_FALSE(ip6("::2").loopback());
    EXPECT_FALSE(ip6("1::1").loopback());
    EXPECT_FALSE(ip6("::127.0.0.1").loopback()); // the old compatible form is not mapped
    EXPECT_TRUE(ip6("::ffff:10.1.2.3").mapped4());
    EXPECT_EQ(ip6("::ffff:10.1.2.3").mapped4Address(), addr("10.1.2.3"));
    EXPECT_TRUE(ip6("::").unspecified());
    EXPECT_FALSE(ip6("::", 3).loopback());

    const ConnFilter noLocal{true, false};
    const ConnFilter established{false, true};
    EXPECT_TRUE(skipTcp6Row(noLocal, 5, ip6("::1")));
    EXPECT_TRUE(skipTcp6Row(noLocal, 2, ip6("::ffff:127.0.0.1")));
    EXPECT_FALSE(skipTcp6Row(noLocal, 2, ip6("::")));
    EXPECT_TRUE(skipTcp6Row(established, 2, ip6("2001:db8::1")));
    EXPECT_FALSE(skipTcp6Row(established, 5, ip6("2001:db8::1")));
    EXPECT_TRUE(skipUdp6Row(established, ip6("2001:db8::1")));
    EXPECT_TRUE(skipUdp6Row(noLocal, ip6("::1")));
    EXPECT_FALSE(skipUdp6Row(noLocal, ip6("::")));
}

TEST(ConnRows6, TextsAndFamilyMarks) {
    EXPECT_EQ(ipv6Text(ip6("2001:0db8:0:0:0:0:0:1")), "2001:db8::1");
    EXPECT_EQ(ipv6Text(ip6("::ffff:127.0.0.1")), "::ffff:127.0.0.1");
    EXPECT_EQ(ipv6Text(ip6("fe80::1", 7), QStringLiteral("eth0")), "fe80::1%eth0");
    EXPECT_EQ(ipv6Text(ip6("fe80::1", 7)), "fe80::1%7"); // an interface gone since
    EXPECT_EQ(ipv6Text(ip6("::")), "::");

    // Only a socket on the unspecified address that is not IPv6-only takes IPv4 too.
    EXPECT_EQ(ipv6Protocol(true, false, ip6("::")), "TCPv4v6");
    EXPECT_EQ(ipv6Protocol(true, true, ip6("::")), "TCPv6");
    EXPECT_EQ(ipv6Protocol(true, false, ip6("::1")), "TCPv6");
    EXPECT_EQ(ipv6Protocol(false, false, ip6("::")), "UDPv4v6");
    EXPECT_EQ(ipv6Protocol(false, true, ip6("2001:db8::5")), "UDPv6");
}

TEST(ConnRows6, MixedFamiliesSortByText) {
    std::vector<ConnRow> rows = {row({"UDPv6", "::1", "53"}, 0), row({"TCP", "10.0.0.1", "80"}),
                                 row({"TCPv6", "2001:db8::1", "443"}),
                                 row({"UDP", "0.0.0.0", "5353"}, 0),
                                 row({"TCPv4v6", "::", "8080"})};
    sortConnRows(rows, 0, true);
    EXPECT_EQ(column(rows, 0), QStringList({"TCP", "TCPv4v6", "TCPv6", "UDP", "UDPv6"}));
    // Addresses as text: digits before ':' before letters.
    sortConnRows(rows, 1, true);
    EXPECT_EQ(column(rows, 1), QStringList({"0.0.0.0", "10.0.0.1", "2001:db8::1", "::", "::1"}));
}
