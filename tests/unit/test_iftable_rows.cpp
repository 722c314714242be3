// Rows of the Interfaces page made from interface records.
#include "interfaces/iftable_rows.h"
#include "platform/systemtext.h"

#include <QColor>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace corvane;

namespace {

MIB_IFROW record(DWORD index, DWORD type, DWORD oper, const std::string& descr = "eth0") {
    MIB_IFROW r{};
    r.dwIndex = index;
    r.dwType = type;
    r.dwAdminStatus = MIB_IF_ADMIN_STATUS_UP;
    r.dwOperStatus = oper;
    std::memcpy(r.bDescr, descr.data(), descr.size());
    r.dwDescrLen = static_cast<DWORD>(descr.size() + 1);
    return r;
}

// A table buffer of the given byte size holding rows at the front.
struct TableBuffer {
    explicit TableBuffer(std::size_t bytes) : size(bytes), storage(new DWORD[(bytes + 3) / 4]()) {}
    MIB_IFTABLE& table() { return *reinterpret_cast<MIB_IFTABLE*>(storage.get()); }
    MIB_IFROW* rows() { return static_cast<MIB_IFROW*>(table().table); }
    std::size_t size;
    std::unique_ptr<DWORD[]> storage;
};

TEST(IfTableRows, TypeNames) {
    const std::pair<DWORD, const char*> cases[] = {
        {6, "Ethernet"}, {9, "TokenRing"}, {15, "FDDI"},   {23, "PPP"},  {24, "Loopback"},
        {28, "SLIP"},    {71, "Other"},    {131, "Other"}, {1, "Other"}, {0, "Other"},
    };
    for (const auto& [type, text] : cases)
        EXPECT_EQ(interfaceTypeText(type), QString::fromLatin1(text)) << type;
}

TEST(IfTableRows, OperStatusTextAndActiveMark) {
    struct Case {
        DWORD oper;
        bool ignore;
        const char* text;
        int mark;
    };
    const Case cases[] = {
        {0, false, "non-operational", 0},
        {1, false, "unreachable", 0},
        {2, false, "Cable disconnected", 0},
        {3, false, "connecting", 0},
        {4, false, "connected", 1},
        {5, false, "operational", 1},
        {7, false, "", 0},
        // Ignoring the status makes every row usable and flags the ones that were not.
        {2, true, "Cable disconnected (!)", 1},
        {7, true, " (!)", 1},
        {5, true, "operational", 1},
        {4, true, "connected", 1},
    };
    for (const Case& c : cases) {
        const IfTableRow r = makeIfTableRow(record(2, 6, c.oper), c.ignore);
        EXPECT_EQ(r.operStatus, QString::fromLatin1(c.text)) << c.oper << " " << c.ignore;
        EXPECT_EQ(r.activeMark, c.mark) << c.oper << " " << c.ignore;
    }
}

TEST(IfTableRows, ColumnTexts) {
    MIB_IFROW r = record(65539, 6, 5, "  eth0 - Ethernet (e1000)\t");
    const BYTE mac[] = {0x00, 0x0C, 0x29, 0x3A, 0x5B, 0x7C};
    std::memcpy(r.bPhysAddr, mac, sizeof mac);
    r.dwPhysAddrLen = 6;
    r.dwSpeed = 4294967295U;
    const IfTableRow row = makeIfTableRow(r, false);
    EXPECT_EQ(row.columns(), QStringList({"enabled", "0x10003", "00-0C-29-3A-5B-7C", "Ethernet",
                                          "4294967295", "operational", "eth0 - Ethernet (e1000)"}));

    r.dwSpeed = 100000000;
    EXPECT_EQ(makeIfTableRow(r, false).speed, "100000000");
    for (DWORD admin : {2U, 3U, 0U}) {
        r.dwAdminStatus = admin;
        EXPECT_EQ(makeIfTableRow(r, false).adminStatus, "disabled") << admin;
    }
    EXPECT_EQ(interfaceIndexText(0), "0x0");
    EXPECT_EQ(interfaceIndexText(0xFFFFFFFFU), "0xFFFFFFFF");
}

TEST(IfTableRows, AddressAndDescriptionStayInsideTheirFields) {
    MIB_IFROW r = record(1, 24, 5, "lo - Loopback");
    EXPECT_EQ(makeIfTableRow(r, false).address, "");
    // A claimed length beyond the field must not read the neighbouring fields.
    for (BYTE& b : r.bPhysAddr)
        b = 0xAB;
    r.dwAdminStatus = 0x11223344;
    r.dwPhysAddrLen = 200;
    EXPECT_EQ(makeIfTableRow(r, false).address, "AB-AB-AB-AB-AB-AB-AB-AB");

    std::memset(r.bDescr, 'x', sizeof r.bDescr);
    r.dwDescrLen = 100000;
    EXPECT_EQ(makeIfTableRow(r, false).description, QString(MAXLEN_IFDESCR, QLatin1Char('x')));
    r.dwDescrLen = 0;
    EXPECT_EQ(makeIfTableRow(r, false).description, "");

    // Only the ends are trimmed; the bytes are UTF-8, as the library writes them.
    const std::string odd = std::string("\x01 caf\xC3\xA9  bar\x00\x00", 14);
    std::memcpy(r.bDescr, odd.data(), odd.size());
    r.dwDescrLen = static_cast<DWORD>(odd.size());
    EXPECT_EQ(makeIfTableRow(r, false).description, QString::fromUtf8("café  bar"));
}

TEST(IfTableRows, IndexTextReadsBack) {
    for (DWORD index : {0U, 1U, 10U, 65539U, 0x7FFFFFFFU, 0xFFFFFFFFU})
        EXPECT_EQ(parseInterfaceIndex(interfaceIndexText(index)), index);
    EXPECT_EQ(parseInterfaceIndex("0x10003"), 65539U);
    EXPECT_EQ(parseInterfaceIndex("12"), 12U);
    for (const char* bad : {"", "0x", "0xZZ", "abc", "0x100000000", "-1"})
        EXPECT_FALSE(parseInterfaceIndex(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(IfTableRows, TableWalk) {
    // A table with only the loopback entry fits the first buffer.
    TableBuffer one(oneRowIfTableSize);
    ASSERT_EQ(oneRowIfTableSize, 864U);
    one.table().dwNumEntries = 1;
    one.rows()[0] = record(1, 24, 5, "lo - Loopback");
    ASSERT_EQ(makeIfTableRows(one.table(), one.size, false, false).size(), 1U);
    EXPECT_TRUE(makeIfTableRows(one.table(), one.size, true, false).empty());

    TableBuffer three(offsetof(MIB_IFTABLE, table) + 3 * sizeof(MIB_IFROW));
    three.table().dwNumEntries = 3;
    three.rows()[0] = record(1, 24, 5, "lo");
    three.rows()[1] = record(2, 6, 5, "eth0");
    three.rows()[2] = record(3, 71, 2, "wlan0");
    const auto rows = makeIfTableRows(three.table(), three.size, true, false);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0].description, "eth0");
    EXPECT_EQ(rows[1].description, "wlan0");
    EXPECT_EQ(rows[1].activeMark, 0);

    // A count larger than the buffer: only the rows that are there are read.
    three.table().dwNumEntries = 1000;
    EXPECT_EQ(makeIfTableRows(three.table(), three.size, false, false).size(), 3U);
    EXPECT_TRUE(makeIfTableRows(three.table(), 2, false, false).empty());
}

TEST(IfTableRows, ColourAndQuestion) {
    EXPECT_EQ(QColor::fromRgb(ifRowTextColour(0)), QColor(192, 192, 192));
    for (int word : {1, 0x80, 0x81})
        EXPECT_EQ(QColor::fromRgb(ifRowTextColour(word)), QColor(0, 0, 0)) << word;
    EXPECT_EQ(disableInterfaceQuestion("eth1 - Ethernet (veth)"),
              "About to administratively disable interface \"eth1 - Ethernet (veth)\"\n\n"
              "CAUTION!\nDisabling interfaces may corrupt network connectivity!\n\n"
              "Click [Yes] to disable the interface.");
}

} // namespace

// Descriptions and every other name from the system are UTF-8; what a terminal or a report
// row would act on is shown as "?".
TEST(SystemText, DecodedAsUtf8WithControlsMadeVisible) {
    const std::string utf8 = "v\xc3\xa9"
                             "0";
    EXPECT_EQ(descriptionText(reinterpret_cast<const BYTE*>(utf8.data()),
                              static_cast<DWORD>(utf8.size())),
              QString::fromUtf8("v\xc3\xa9"
                                "0"));
    const struct {
        const char* raw;
        const char* shown;
    } cases[] = {
        {"a\x1b[2J\x1b]0;pwned\x07", "a?[2J?]0;pwned?"},
        {"two\nlines\r", "two?lines?"},
        {"tab\tdel\x7f", "tab?del?"},
        {"c1\xc2\x9b"
         "31m",
         "c1?31m"},
        {"rtl\xe2\x80\xae"
         "gpj.exe",
         "rtl?gpj.exe"},
        {"plain-name_0.9", "plain-name_0.9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(systemText(c.raw), QString::fromUtf8(c.shown)) << c.raw;
    char field[4] = {'a', 'b', 'c', 'd'}; // unterminated fixed field
    EXPECT_EQ(systemText(field), QStringLiteral("abcd"));
}
