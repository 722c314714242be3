// The address dialogs' choices and the texts they read back.
#include "addresses/address_choices.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

const std::vector<InterfaceRow> rows = {
    {"Loopback lo", "0x1", 0x1},
    {"WAN Miniport wan0", "0x2", 0x1},
    {"Fast Ethernet eth0 (WAN side)", "0x3", 0x81},
    {"Wireless wlan0", "0xA", 0x0},
    {"Bridge br0", "0x1B", 0x81},
};

TEST(AddressChoices, OperationalInterfacesWithoutWanPrefix) {
    const InterfaceChoice none = operationalChoice(rows, 0);
    EXPECT_EQ(none.items,
              QStringList({"Loopback lo", "Fast Ethernet eth0 (WAN side)", "Bridge br0"}));
    EXPECT_EQ(none.selected, 0);
    EXPECT_EQ(operationalChoice(rows, 0x1B).selected, 2);
    EXPECT_TRUE(operationalChoice(rows, 0x1B).matched);
    // The index of an interface that is not offered selects nothing in particular, and says
    // so: the tree's popup must not stand another adapter in for it.
    EXPECT_EQ(operationalChoice(rows, 0xA).selected, 0);
    EXPECT_FALSE(operationalChoice(rows, 0xA).matched);
    EXPECT_FALSE(operationalChoice(rows, 0x2).matched) << "a WAN interface is never offered";
    EXPECT_EQ(operationalChoice({}, 3).selected, -1);
    EXPECT_EQ(operationalChoice({{"WAN only", "0x4", 1}}, 4).items, QStringList());
}

TEST(AddressChoices, SeveralAddressInterfacesCarryTheirIndex) {
    const InterfaceChoice c = severalAddressChoice(rows, 0x1B);
    EXPECT_EQ(c.items, QStringList({"Fast Ethernet eth0 (WAN side) (0x3)", "Bridge br0 (0x1B)"}));
    EXPECT_EQ(c.selected, 1);
    EXPECT_TRUE(c.matched);
    EXPECT_FALSE(severalAddressChoice(rows, 0x1).matched) << "one address only";
    EXPECT_EQ(severalAddressChoice(rows, 0x1).selected, 0);
    // The index is read from the last brackets, whatever the description holds.
    EXPECT_EQ(choiceIndex(c.items[0]), 3u);
    EXPECT_EQ(choiceIndex(c.items[1]), 0x1Bu);
    EXPECT_EQ(choiceIndex(QStringLiteral("no brackets")), std::nullopt);
    EXPECT_EQ(choiceIndex(QStringLiteral("x (0xZZ)")), std::nullopt);
    EXPECT_EQ(rowIndexOf(rows, QStringLiteral("Bridge br0")), 0x1Bu);
    EXPECT_EQ(rowIndexOf(rows, QStringLiteral("Bridge br")), std::nullopt);
}

TEST(AddressChoices, EntriesOfOneInterfaceAndTheirContexts) {
    const QStringList entries = {addressEntry("10.0.0.6", "255.0.0.0", 3, 2),
                                 addressEntry("10.0.0.7", "255.0.0.0", 4, 12),
                                 addressEntry("192.168.1.2", "255.255.255.0", 70000, 2)};
    EXPECT_EQ(entries[0], "10.0.0.6 255.0.0.0 (3):2");
    EXPECT_EQ(entriesOf(entries, 2),
              QStringList({"10.0.0.6 255.0.0.0 (3)", "192.168.1.2 255.255.255.0 (70000)"}));
    EXPECT_EQ(entriesOf(entries, 1), QStringList());
    EXPECT_EQ(entryContext(QStringLiteral("10.0.0.6 255.0.0.0 (3)")), 3u);
    EXPECT_EQ(entryContext(QStringLiteral("10.0.0.6 255.0.0.0 (4294967295)")), 0xFFFFFFFFu);
    for (const char* bad : {"", "10.0.0.6 (", "10.0.0.6 (x)", "(4294967296)", "()"})
        EXPECT_EQ(entryContext(QString::fromLatin1(bad)), std::nullopt) << bad;
}

void setText(char (&field)[16], const char* text) {
    std::strncpy(field, text, sizeof field - 1);
}

TEST(AddressChoices, EntriesFromTheAdapterListForOperationalRowsOnly) {
    IP_ADAPTER_INFO adapters[3] = {};
    adapters[0].Index = 3;
    setText(adapters[0].IpAddressList.IpAddress.String, "10.0.0.1");
    setText(adapters[0].IpAddressList.IpMask.String, "255.0.0.0");
    adapters[0].IpAddressList.Context = 5;
    IP_ADDR_STRING second = {};
    setText(second.IpAddress.String, "10.0.0.6");
    setText(second.IpMask.String, "255.0.0.0");
    second.Context = 6;
    adapters[0].IpAddressList.Next = &second;
    adapters[0].Next = &adapters[1];
    adapters[1].Index = 10; // its row is not operational
    setText(adapters[1].IpAddressList.IpAddress.String, "10.9.9.9");
    adapters[1].Next = &adapters[2];
    adapters[2].Index = 77; // no row at all
    EXPECT_EQ(addressEntries(adapters, rows),
              QStringList({"10.0.0.1 255.0.0.0 (5):3", "10.0.0.6 255.0.0.0 (6):3"}));
    EXPECT_EQ(addressEntries(nullptr, rows), QStringList());

    // An address an interface has, with whatever mask, and only on that interface.
    EXPECT_EQ(existingAddressMask(adapters, 3, ::inet_addr("10.0.0.6")), "255.0.0.0");
    EXPECT_EQ(existingAddressMask(adapters, 3, ::inet_addr("10.0.0.7")), std::nullopt);
    EXPECT_EQ(existingAddressMask(adapters, 10, ::inet_addr("10.0.0.6")), std::nullopt);
    EXPECT_EQ(existingAddressMask(adapters, 10, ::inet_addr("10.9.9.9")), "");
    // The 0.0.0.0 an adapter without an address lists is no address it has.
    EXPECT_EQ(existingAddressMask(adapters, 77, 0), std::nullopt);
}

TEST(AddressChoices, MaskListAndTypedQuads) {
    const QStringList masks = addressMaskList();
    ASSERT_EQ(masks.size(), 30);
    EXPECT_EQ(masks.front(), "128.0.0.0");
    EXPECT_EQ(masks[defaultMaskItem], "255.255.255.0");
    EXPECT_EQ(masks.back(), "255.255.255.252");
    EXPECT_EQ(typedQuad(QStringLiteral(" 255.0.0.0 ")), ::inet_addr("255.0.0.0"));
    EXPECT_EQ(typedQuad(QStringLiteral("255.0.255.0")), ::inet_addr("255.0.255.0"));
    // What inet_addr would turn into another address, or into 255.255.255.255.
    for (const char* typo :
         {"", "10.1.1", "255.255.255", "255.255.255.0.", "1.2.3.256", "0x10.0.0.1", "ten.0.0.1"})
        EXPECT_EQ(typedQuad(QString::fromLatin1(typo)), std::nullopt) << typo;
}

} // namespace
