// Adding and deleting secondary addresses through the real main window, offscreen, against the
// kernel of a private network namespace; every result is read back with `ip -j addr`.
#include "../gui/gui_fixture.h"
#include "addresses/address_commands.h"
#include "addresses/address_dialogs.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"
#include "platform/resulttext.h"
#include "tree_popup.h"
#include "without_netadmin.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>
#include <net/if.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class AddressDialogs : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        nameConnectionsAfterInterfaces();
        sh("ip link set lo up");
        // A description that begins with "WAN" is never offered; one that has it later is.
        for (const char* name : {"ad0", "WAN0", "xWAN1"}) {
            sh(std::string("ip link add ") + name + " type veth peer name " + name + "p");
            sh(std::string("ip link set ") + name + " up && ip link set " + name + "p up");
        }
        sh("ip addr add 10.30.0.1/24 dev ad0 && ip addr add 10.31.0.1/24 dev WAN0 && "
           "ip addr add 10.32.0.1/24 dev xWAN1");
    }
    void TearDown() override {
        if (inPrivateNetns())
            shMayFail("for l in ad0 WAN0 xWAN1; do ip link del $l 2>/dev/null; done");
        MainWindowFixture::TearDown();
    }

    TfrmMain& refreshed() {
        TfrmMain& w = window ? *window : make();
        setRuntime({});
        w.RefreshNetworkStatus();
        return w;
    }
    // "address/prefix" of every IPv4 address of the link, in the kernel's order.
    static std::string kernelAddresses(const char* link) {
        std::string out = shOut(std::string("ip -j -4 addr show dev ") + link +
                                " | jq -r '[.[].addr_info[] | \"\\(.local)/\\(.prefixlen)\"] | "
                                "join(\" \")'");
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
    QString description(const char* name) const { return test::description(*window, name); }
    void popupOn(const char* name) { test::popupOn(*window, name); }
    void openMainMenu() { emit window->IPAddress1->aboutToShow(); }
    QAction* popupItem(const char* name) const {
        for (QAction* a : window->tsIP->pmIPMenu->actions())
            if (a->objectName() == QLatin1String(name))
                return a;
        return nullptr;
    }
    // The enabled state of the popup's add and delete items.
    std::pair<bool, bool> popupItems() const {
        return {popupItem("AddIPaddress1")->isEnabled(),
                popupItem("DeleteIPaddress1")->isEnabled()};
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const MessageRequest& m : prompts.messages)
            out.push_back(m.text.toStdString());
        return out;
    }
    static QStringList items(const QComboBox& box) {
        QStringList out;
        for (int i = 0; i < box.count(); ++i)
            out << box.itemText(i);
        return out;
    }
    // Answers the add dialog: the address pasted, the mask as given, then Ok.
    void answerAdd(const QString& address, const QString& mask,
                   const std::function<void(TfrmAddIP&)>& look = {}) {
        beforeModalAnswer = [=, this](QDialog& dialog) {
            auto& d = dynamic_cast<TfrmAddIP&>(dialog);
            if (look)
                look(d);
            // Pasted: one key release checks the whole text.
            d.edtIP->setText(address);
            QTest::keyRelease(d.edtIP, Qt::Key_V, Qt::ControlModifier);
            d.cbxMask->setEditText(mask);
            modalAnswer = d.btnOk->isEnabled() ? QDialog::Accepted : QDialog::Rejected;
        };
    }
};

TEST_F(AddressDialogs, AddFromTheTreeLocksItsAdapterAndTheMenuFreesTheChoice) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    EXPECT_TRUE(w.acAddIP->isEnabled());
    EXPECT_FALSE(w.acDelIP->isEnabled()) << "no adapter has several addresses";
    popupOn("xWAN1");
    QStringList offered;
    bool locked = false;
    answerAdd(QStringLiteral("10.0.0.6"), QStringLiteral("255.0.0.0"), [&](TfrmAddIP& d) {
        offered = items(*d.cbxInterfaces);
        locked = !d.cbxInterfaces->isEnabled();
        EXPECT_EQ(d.cbxInterfaces->currentText(), description("xWAN1"));
        EXPECT_EQ(d.cbxMask->count(), 30);
        d.cbxInterfaces->setCurrentText(description("ad0")); // as the menu path would allow
    });
    popupItem("AddIPaddress1")->trigger();
    EXPECT_EQ(w.pcMain->currentWidget(), w.tsIP);
    EXPECT_TRUE(locked);
    EXPECT_TRUE(offered.contains(description("ad0")));
    EXPECT_TRUE(offered.contains(description("xWAN1")));
    EXPECT_FALSE(offered.contains(description("WAN0")));
    EXPECT_EQ(texts(), std::vector<std::string>{});
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24 10.0.0.6/8");
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24");

    // The main menu and the tool bar leave the list free; the last popup's adapter stays
    // preselected.
    openMainMenu();
    answerAdd(QStringLiteral("10.32.0.9"), QStringLiteral(" 255.255.255.0 "), [&](TfrmAddIP& d) {
        locked = !d.cbxInterfaces->isEnabled();
        EXPECT_EQ(d.cbxInterfaces->currentText(), description("xWAN1"));
    });
    w.acAddIP->trigger();
    EXPECT_FALSE(locked);
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24 10.32.0.9/24");
}

TEST_F(AddressDialogs, ThePopupActsOnTheAdapterUnderTheCursorOnly) {
    CORVANE_REQUIRE_NETNS();
    sh("ip addr add 10.32.0.2/24 dev xWAN1");
    TfrmMain& w = refreshed();
    using Items = std::pair<bool, bool>;
    // One address: nothing to delete there, though another adapter has several.
    popupOn("ad0");
    EXPECT_EQ(popupItems(), Items(true, false));
    popupItem("DeleteIPaddress1")->trigger();
    EXPECT_TRUE(modals.empty()) << "a dialog for another adapter";
    // Never offered for adding.
    popupOn("WAN0");
    EXPECT_EQ(popupItems(), Items(false, false));
    popupItem("AddIPaddress1")->trigger();
    EXPECT_TRUE(modals.empty());

    popupOn("xWAN1");
    EXPECT_EQ(popupItems(), Items(true, true));
    QStringList offered;
    bool locked = false;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelIP&>(dialog);
        d.FormShow();
        offered = items(*d.cbxInterfaces);
        locked = !d.cbxInterfaces->isEnabled();
        EXPECT_EQ(d.cbxInterfaces->currentText(),
                  description("xWAN1") + " (" + interfaceIndexText(if_nametoindex("xWAN1")) + ")");
        EXPECT_TRUE(d.cbxIPAddresses->itemText(0).startsWith(QStringLiteral("10.32.0.1 ")));
    };
    popupItem("DeleteIPaddress1")->trigger();
    EXPECT_EQ(modals.size(), 1u);
    EXPECT_TRUE(locked);
    // The tool bar's command after it is free to choose.
    beforeModalAnswer = [&](QDialog& dialog) {
        locked = !dynamic_cast<TfrmDelIP&>(dialog).cbxInterfaces->isEnabled();
    };
    w.acDelIP->trigger();
    EXPECT_FALSE(locked);

    // An adapter without a connection name gets neither.
    QStandardItem* node = nullptr;
    for (int r = 0; r < PageProbe::model(w.tsIP)->rowCount(); ++r)
        if (PageProbe::model(w.tsIP)->item(r)->text() == description("xWAN1"))
            node = PageProbe::model(w.tsIP)->item(r);
    ASSERT_NE(node, nullptr);
    node->setData(node->data(treeDataRole).toUInt() | 0x8, treeDataRole);
    popupOn("xWAN1");
    EXPECT_EQ(popupItems(), Items(false, false));

    // What changed between the popup and the click is not made up for with another adapter.
    w.RefreshNetworkStatus();
    popupOn("xWAN1");
    ASSERT_EQ(popupItems(), Items(true, true));
    sh("ip addr del 10.32.0.2/24 dev xWAN1");
    w.RefreshNetworkStatus();
    modals.clear();
    popupItem("DeleteIPaddress1")->trigger();
    EXPECT_TRUE(modals.empty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("can no longer take")));
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24");
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24");
}

TEST_F(AddressDialogs, AnAddressTheInterfaceHasIsRefusedWhateverItsMask) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    openMainMenu();
    for (const char* mask : {"255.255.0.0", "255.255.255.0"}) {
        prompts.messages.clear();
        answerAdd(QStringLiteral("10.30.0.1"), QString::fromLatin1(mask),
                  [&](TfrmAddIP& d) { d.cbxInterfaces->setCurrentText(description("ad0")); });
        w.acAddIP->trigger();
        EXPECT_EQ(texts(), std::vector<std::string>{"10.30.0.1 is already an address of this "
                                                    "interface (network mask 255.255.255.0). "
                                                    "Nothing was changed."})
            << mask;
        EXPECT_EQ(prompts.messages[0].caption, "Error");
    }
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24");
    // The same address on another interface is another matter.
    prompts.messages.clear();
    answerAdd(QStringLiteral("10.30.0.1"), QStringLiteral("255.255.255.0"),
              [&](TfrmAddIP& d) { d.cbxInterfaces->setCurrentText(description("xWAN1")); });
    w.acAddIP->trigger();
    EXPECT_EQ(texts(), std::vector<std::string>{});
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24 10.30.0.1/24");
}

TEST_F(AddressDialogs, AddressCheckAndWhatThePlatformRefuses) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = refreshed();
    TfrmAddIP& d = *frmAddIP;
    const auto type = [&](const char* text) {
        d.edtIP->clear();
        QTest::keyClicks(d.edtIP, QString::fromLatin1(text));
        return d.btnOk->isEnabled();
    };
    EXPECT_FALSE(type("224.0.0.1"));
    EXPECT_EQ(d.edtIP->text(), "");
    ASSERT_EQ(prompts.messages.size(), 1u) << "one box for the address, however many keys";
    EXPECT_EQ(prompts.messages[0].text,
              "IP address must be in range from 1.0.0.1 to 223.255.255.254");
    EXPECT_EQ(prompts.messages[0].caption, "Error");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_TRUE(type("10.1.1.1"));
    EXPECT_FALSE(type("10.1.1."));
    EXPECT_FALSE(type("10.1.1"));
    EXPECT_TRUE(type(" 0.0.0.0"));
    EXPECT_EQ(d.edtIP->text(), "0.0.0.0");
    // Typed key by key it passes 255.255.255.2, a class E address, on the way; pasted whole
    // it passes the check.
    d.edtIP->setText(QStringLiteral("255.255.255.255"));
    d.edtIPKeyUp();
    EXPECT_TRUE(d.btnOk->isEnabled());
    prompts.messages.clear();

    // What passes the dialog's check but is no address of this host: the platform says so.
    const std::string before = kernelAddresses("ad0");
    openMainMenu();
    for (const auto& [address, mask] :
         std::initializer_list<std::pair<QString, QString>>{{"0.0.0.0", "255.0.0.0"},
                                                            {"255.255.255.255", "255.255.255.0"},
                                                            {"10.0.0.6", "255.0.255.0"}}) {
        prompts.messages.clear();
        answerAdd(address, mask, [&](TfrmAddIP& dialog) {
            dialog.cbxInterfaces->setCurrentText(description("ad0"));
        });
        w.acAddIP->trigger();
        EXPECT_EQ(texts(),
                  std::vector<std::string>{"Add IP Address failed: The parameter is incorrect."})
            << address.toStdString() << " " << mask.toStdString();
    }
    // A mask typo is refused before the platform sees it.
    for (const char* typo : {"255.255.255", "", "255.0.0.o"}) {
        prompts.messages.clear();
        answerAdd(QStringLiteral("10.0.0.6"), QString::fromLatin1(typo));
        w.acAddIP->trigger();
        ASSERT_EQ(prompts.messages.size(), 1u) << typo;
        EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("is not a network mask")))
            << prompts.messages[0].text.toStdString();
    }
    EXPECT_EQ(kernelAddresses("ad0"), before);
    // The mask is the text typed: no item that begins with it takes its place.
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QLineEdit* mask = d.cbxMask->lineEdit();
    mask->setFocus();
    ASSERT_TRUE(mask->hasFocus());
    mask->clear();
    QTest::keyClicks(mask, QStringLiteral("255.255.25"));
    EXPECT_EQ(d.cbxMask->currentText().toStdString(), "255.255.25");
    d.hide();
}

TEST_F(AddressDialogs, DeleteByContextAndInterfaceChangeRefills) {
    CORVANE_REQUIRE_NETNS();
    sh("ip addr add 10.0.0.6/8 dev ad0 && ip addr add 10.32.0.2/24 dev xWAN1");
    TfrmMain& w = refreshed();
    EXPECT_TRUE(w.acDelIP->isEnabled());
    openMainMenu();
    QStringList interfaces, ad0Addresses, xwanAddresses;
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelIP&>(dialog);
        d.FormShow();
        interfaces = items(*d.cbxInterfaces);
        d.cbxInterfaces->setCurrentIndex(1);
        d.cbxInterfacesChange();
        xwanAddresses = items(*d.cbxIPAddresses);
        d.cbxInterfaces->setCurrentIndex(0);
        d.cbxInterfacesChange();
        ad0Addresses = items(*d.cbxIPAddresses);
        d.cbxIPAddresses->setCurrentIndex(1);
        d.btnOkClick();
        modalAnswer = QDialog::Accepted;
    };
    w.acDelIP->trigger();
    const QString ad0Index = interfaceIndexText(if_nametoindex("ad0"));
    EXPECT_EQ(interfaces, QStringList({description("ad0") + " (" + ad0Index + ")",
                                       description("xWAN1") + " (" +
                                           interfaceIndexText(if_nametoindex("xWAN1")) + ")"}));
    ASSERT_EQ(ad0Addresses.size(), 2);
    EXPECT_TRUE(ad0Addresses[0].startsWith(QStringLiteral("10.30.0.1 255.255.255.0 (")));
    EXPECT_TRUE(ad0Addresses[1].startsWith(QStringLiteral("10.0.0.6 255.0.0.0 (")));
    ASSERT_EQ(xwanAddresses.size(), 2);
    EXPECT_TRUE(xwanAddresses[1].startsWith(QStringLiteral("10.32.0.2 255.255.255.0 (")));
    // The context in brackets is the one the tree shows for the address.
    const QString context = ad0Addresses[1].section(QLatin1Char('('), 1).chopped(1);
    EXPECT_EQ(frmDelIP->nteContext, context.toUInt());
    bool inTree = false;
    for (const QString& line : w.tsIP->treeLines())
        inTree = inTree || line.trimmed() == QStringLiteral("NTE Context: ") + context;
    EXPECT_TRUE(inTree);
    EXPECT_EQ(texts(), std::vector<std::string>{});
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24");
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24 10.32.0.2/24");

    // Ok with nothing listed deletes nothing.
    w.RefreshNetworkStatus();
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelIP&>(dialog);
        d.FormShow();
        d.cbxIPAddresses->clear();
        EXPECT_TRUE(d.btnOk->isEnabled()) << "the list was full when shown";
        d.btnOkClick();
        modalAnswer = QDialog::Accepted;
    };
    w.acDelIP->trigger();
    EXPECT_EQ(kernelAddresses("xWAN1"), "10.32.0.1/24 10.32.0.2/24");
    EXPECT_EQ(texts(), std::vector<std::string>{});
}

// The kernel's default (promote_secondaries 0) would take 192.168.77.200 along, silently.
TEST_F(AddressDialogs, DeletingTheFirstAddressOfANetworkKeepsTheOthers) {
    CORVANE_REQUIRE_NETNS();
    sh("sysctl -qw net.ipv4.conf.all.promote_secondaries=0 "
       "net.ipv4.conf.ad0.promote_secondaries=0");
    sh("ip addr add 192.168.77.125/24 dev ad0 && ip addr add 192.168.77.200/24 dev ad0");
    refreshed();
    popupOn("ad0");
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelIP&>(dialog);
        d.FormShow();
        const QStringList listed = items(*d.cbxIPAddresses);
        for (int i = 0; i < listed.size(); ++i)
            if (listed[i].startsWith(QStringLiteral("192.168.77.125 ")))
                d.cbxIPAddresses->setCurrentIndex(i);
        d.btnOkClick();
        modalAnswer = QDialog::Accepted;
    };
    popupItem("DeleteIPaddress1")->trigger();
    EXPECT_EQ(texts(), std::vector<std::string>{});
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24 192.168.77.200/24");
    EXPECT_EQ(shOut("sysctl -n net.ipv4.conf.ad0.promote_secondaries"), "0\n");
}

TEST_F(AddressDialogs, AnInterfaceGoneWhileTheDialogIsOpenIsLeftAlone) {
    CORVANE_REQUIRE_NETNS();
    sh("ip addr add 10.32.0.2/24 dev xWAN1");
    TfrmMain& w = refreshed();
    popupOn("xWAN1");
    answerAdd(QStringLiteral("10.33.0.1"), QStringLiteral("255.255.255.0"), [](TfrmAddIP&) {
        // Gone, and its index taken by another interface of the same name kind.
        sh("ip link del xWAN1 && ip link add xWAN2 type veth peer name xWAN2p && "
           "ip link set xWAN2 up");
    });
    w.acAddIP->trigger();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("is no longer there")));
    EXPECT_EQ(kernelAddresses("xWAN2"), "");
    shMayFail("ip link del xWAN2");
}

TEST_F(AddressDialogs, WithoutPrivilegeNothingChangesAndAccessIsDenied) {
    CORVANE_REQUIRE_NETNS();
    sh("ip addr add 10.0.0.6/8 dev ad0");
    TfrmMain& w = refreshed();
    popupOn("ad0");
    WithoutNetAdmin unprivileged;
    ASSERT_TRUE(unprivileged.ok());
    answerAdd(QStringLiteral("10.0.0.7"), QStringLiteral("255.0.0.0"));
    w.acAddIP->trigger();
    beforeModalAnswer = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TfrmDelIP&>(dialog);
        d.FormShow();
        d.cbxIPAddresses->setCurrentIndex(1);
        d.btnOkClick();
        modalAnswer = QDialog::Accepted;
    };
    // Forced: shown even with error messages off.
    setRuntime({false, false, false, false, false, true});
    w.acDelIP->trigger();
    const QString denied = resultText(ERROR_ACCESS_DENIED);
    EXPECT_EQ(texts(),
              (std::vector<std::string>{"Add IP Address failed: " + denied.toStdString(),
                                        "Delete IP Address failed: " + denied.toStdString()}));
    EXPECT_EQ(kernelAddresses("ad0"), "10.30.0.1/24 10.0.0.6/8");
}

} // namespace
