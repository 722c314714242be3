// Where the keyboard is when a dialog opens, on a screen that openbox manages as a user's
// desktop: each dialog is opened through its action in the shown main window and runs its
// real modal loop; digits typed at once, through the X server, land in its first field. The
// dialogs are closed without Ok, so nothing changes.
#include "../gui/gui_fixture.h"
#include "addresses/address_dialogs.h"
#include "netns.h"
#include "routing/frmip.h"
#include "routing/frmmodifyroutes.h"
#include "routing/frmroutelist.h"
#include "wait_for.h"
#include "wm_screen.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

using namespace corvane;
using namespace corvane::test;

CORVANE_WINDOW_MANAGER_SCREEN();

namespace {

// What the keyboard did in one dialog.
struct Opened {
    bool ran = false;    // the dialog was shown modally
    bool active = false; // and the window manager gave it the keyboard
    QString focus;       // the object name of the focused control
    bool inFirst = false;
    QString typed; // the first field's text after the digits
};

class DialogFocus : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        nameConnectionsAfterInterfaces();
        sh("ip link set lo up && ip link add fo0 type veth peer name fo0p && "
           "ip link set fo0 up && ip link set fo0p up");
        // Two addresses: the delete dialog is offered too.
        sh("ip addr add 10.80.0.1/24 dev fo0 && ip addr add 10.81.0.1/24 dev fo0 && "
           "ip route add 10.82.0.0/16 via 10.80.0.2");
        // The renewal dialog offers only what a DHCP client manages: one that asks no server
        // (it never gets a lease, so it changes nothing).
        files_ = "/tmp/" + uniqueName("corvane-focus");
        sh("/usr/sbin/dhclient -4 -nw -pf " + files_ + ".pid -lf " + files_ +
           ".leases fo0 "
           ">/dev/null 2>&1");
    }
    void TearDown() override {
        if (inPrivateNetns()) {
            if (const int pid =
                    std::atoi(shOut("cat " + files_ + ".pid 2>/dev/null || true").c_str());
                pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            shMayFail("rm -f " + files_ + ".pid " + files_ + ".leases");
            shMayFail("ip link del fo0 2>/dev/null");
        }
        MainWindowFixture::TearDown();
    }
    std::string files_;

    TfrmMain& shown() {
        TfrmMain& w = make();
        setRuntime({});
        w.show();
        EXPECT_TRUE(waitFor([&] { return w.isActiveWindow(); }))
            << "the main window never got focus";
        w.RefreshNetworkStatus();
        return w;
    }

    // Triggers the action, lets its dialog open for real and types digits (when given) as
    // soon as the window manager has given it the keyboard; before closing, prepare runs.
    Opened open(QAction* action, const std::function<QWidget*()>& first, const char* digits,
                const std::function<void(QDialog&)>& prepareNext = {}) {
        Opened o;
        setModalRunner([&](QDialog& d) {
            o.ran = true;
            QTimer::singleShot(0, &d, [&] {
                o.active = waitFor([&] { return QApplication::activeWindow() == &d; });
                const QWidget* f = QApplication::focusWidget();
                o.focus = f ? f->objectName() : QStringLiteral("(nothing)");
                o.inFirst = f && f == first();
                if (digits && o.active) {
                    QProcess::execute(QStringLiteral("xdotool"),
                                      {QStringLiteral("type"), QStringLiteral("--delay"),
                                       QStringLiteral("30"), QString::fromLatin1(digits)});
                    auto* edit = qobject_cast<QLineEdit*>(first());
                    waitFor([&] { return edit && edit->text() == QLatin1String(digits); }, 3000);
                    o.typed = edit ? edit->text() : QString();
                }
                if (prepareNext)
                    prepareNext(d);
                d.done(QDialog::Rejected);
            });
            return d.exec();
        });
        EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
        action->trigger();
        setModalRunner({});
        return o;
    }
};

#define EXPECT_KEYBOARD_IN(opened, name)                                                           \
    do {                                                                                           \
        const Opened& seen = (opened);                                                             \
        EXPECT_TRUE(seen.ran) << (name);                                                           \
        EXPECT_TRUE(seen.active) << (name) << ": never activated";                                 \
        EXPECT_TRUE(seen.inFirst) << (name) << ": the keyboard is in "                             \
                                  << seen.focus.toStdString();                                     \
    } while (0)

TEST_F(DialogFocus, AddressDialogsStartInTheirFirstField) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = shown();
    frmAddIP->edtIP->setText(QStringLiteral("10.9.9.9")); // kept from an earlier use
    Opened add = open(
        w.acAddIP, [] { return frmAddIP->edtIP; }, "10.1",
        // The user leaves the dialog from another field: the next opening starts over.
        [](QDialog&) { frmAddIP->cbxMask->setFocus(); });
    EXPECT_KEYBOARD_IN(add, "add");
    EXPECT_EQ(add.typed.toStdString(), "10.1") << "the earlier text is replaced by typing";
    Opened again = open(
        w.acAddIP, [] { return frmAddIP->edtIP; }, "7");
    EXPECT_KEYBOARD_IN(again, "add, again");
    EXPECT_EQ(again.typed.toStdString(), "7");

    EXPECT_KEYBOARD_IN(open(
                           w.acDelIP, [] { return frmDelIP->cbxIPAddresses; }, nullptr),
                       "delete");
    EXPECT_KEYBOARD_IN(open(
                           w.acRenewIP, [] { return frmRenewIP->cbxInterfaces; }, nullptr),
                       "renew");
}

TEST_F(DialogFocus, RouteDialogsAndOptionsStartInTheirFirstField) {
    CORVANE_REQUIRE_NETNS();
    TfrmMain& w = shown();
    Opened route = open(
        w.acAddRoute, [] { return frmModifyRoutes->edtNetwork; }, "10.1");
    EXPECT_KEYBOARD_IN(route, "route");
    EXPECT_EQ(route.typed.toStdString(), "10.1");
    Opened find = open(
        w.acBestRoute, [] { return frmIP->edtIP; }, "10.2");
    EXPECT_KEYBOARD_IN(find, "outgoing interface");
    EXPECT_EQ(find.typed.toStdString(), "10.2");
    // A list dialog's list is empty when it opens: loading one comes first.
    EXPECT_KEYBOARD_IN(open(
                           w.acAddFromList, [] { return frmAddRouteList->btnOpenList; }, nullptr),
                       "add list");
    w.RefreshNetworkStatus();
    EXPECT_KEYBOARD_IN(open(
                           w.acDelList, [] { return frmDelRouteList->btnOpenList; }, nullptr),
                       "delete list");
    EXPECT_KEYBOARD_IN(open(
                           w.acSetup, [] { return frmSetup->box(Option::AutoUpdate); }, nullptr),
                       "options");
}

} // namespace
