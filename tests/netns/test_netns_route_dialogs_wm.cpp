// The route dialog on a screen that openbox manages, in its real modal loop, with real message
// boxes: typed into with key clicks on the focused widgets and closed with Enter, as a user
// does. The focus moves as on a desktop, so what the dialog does when a box it opens takes the
// focus happens here as it does there; the kernel of a private namespace shows the outcome.
#include "../gui/gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "netns.h"
#include "routing/frmmodifyroutes.h"
#include "widgets/qtprompter.h"
#include "wm_screen.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <net/if.h>

using namespace corvane;
using namespace corvane::test;

CORVANE_WINDOW_MANAGER_SCREEN();

namespace {

// Works the modal windows from inside the loops they run. A step waits until it is ready,
// then acts; an act may open a window and block in its loop, so the next poll is always
// scheduled before acting. Every message box that becomes the active window is recorded and
// answered with its default button. When the time is up every dialog is rejected, again at
// each poll, so the test always ends.
class ModalScript {
public:
    struct Step {
        const char* what;
        std::function<bool()> ready;
        std::function<void()> act;
    };
    void then(Step step) { steps_.push_back(std::move(step)); }
    void start(int budgetMs) {
        budgetMs_ = budgetMs;
        clock_.start();
        QTimer::singleShot(0, &context_, [this] { poll(); });
    }
    void stop() { stopped_ = true; }

    std::vector<QString> boxes; // texts of the boxes answered, in order
    bool timedOut = false;
    std::string stuckAt;

private:
    void poll() {
        if (stopped_)
            return;
        QTimer::singleShot(20, &context_, [this] { poll(); });
        if (clock_.elapsed() > budgetMs_) {
            if (!timedOut)
                stuckAt = steps_.empty() ? "(a box)" : steps_.front().what;
            timedOut = true;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
                    d->reject();
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isActiveWindow()) {
            boxes.push_back(box->text());
            box->defaultButton()->click();
            return;
        }
        if (!steps_.empty() && steps_.front().ready()) {
            const Step step = std::move(steps_.front());
            steps_.pop_front();
            step.act();
        }
    }

    QObject context_;
    std::deque<Step> steps_;
    QElapsedTimer clock_;
    qint64 budgetMs_ = 0;
    bool stopped_ = false;
};

QWidget* focused() {
    return QApplication::focusWidget();
}

class RouteDialogOnADesktop : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        if (!inPrivateNetns())
            return;
        // The real modal loop and real boxes: nothing here waits without a bound (the script
        // closes what stays open).
        qunsetenv("CORVANE_NO_MODAL");
        setModalRunner({});
        nameConnectionsAfterInterfaces();
        sh("ip link set lo up && ip link add rw0 type veth peer name rw0p && "
           "ip link set rw0 up && ip link set rw0p up && ip addr add 10.40.0.1/24 dev rw0 && "
           "ip route add default via 10.40.0.254 metric 5");
        TfrmMain& w = make();
        setRuntime({});
        w.RefreshNetworkStatus();
        boxes = std::make_unique<QtPrompter>(&w);
        setPrompter(boxes.get());
    }
    void TearDown() override {
        setPrompter(nullptr);
        boxes.reset();
        qputenv("CORVANE_NO_MODAL", "1");
        if (inPrivateNetns())
            shMayFail("ip link del rw0 2>/dev/null");
        MainWindowFixture::TearDown();
    }
    static std::string kernelRoutes() { return shOut("ip route show table main"); }
    QString rw0() const {
        const QString index = interfaceIndexText(if_nametoindex("rw0"));
        for (int r = 0; r < window->tsInterface->rowCount(); ++r)
            if (window->tsInterface->cellText(r, ifcol::Index) == index)
                return window->tsInterface->cellText(r, ifcol::Description);
        return {};
    }
    // "dst gateway dev metric" of the main table's routes under prefix.
    static std::string kernelRoute(const std::string& prefix) {
        return shOut("ip -j route show table main " + prefix +
                     " | jq -r '.[] | \"\\(.dst) \\(.gateway // \"-\") \\(.dev) "
                     "\\(.metric // 0)\"'");
    }

    // Opens the add dialog for real; fills it through the keyboard: network, Tab, mask, back
    // to the network with Shift+Tab, Enter there. What the dialog holds once the box about it
    // is answered is kept.
    struct Seen {
        bool stayedOpen = false;
        QString network, mask;
    };
    Seen addTyping(const char* network, const char* mask, ModalScript& script) {
        TfrmModifyRoutes& d = *frmModifyRoutes;
        Seen seen;
        const auto dialogActive = [&d] {
            return QApplication::activeModalWidget() == &d && d.isActiveWindow();
        };
        const QString face = rw0();
        script.then({"the dialog is active", dialogActive, [&d, network, mask, face] {
                         d.cbxInterfaces->setCurrentIndex(d.cbxInterfaces->findText(face));
                         d.cbxInterfacesChange();
                         QTest::mouseClick(d.edtNetwork, Qt::LeftButton);
                         ASSERT_EQ(focused(), d.edtNetwork);
                         QTest::keyClicks(focused(), QString::fromLatin1(network));
                         QTest::keyClick(focused(), Qt::Key_Tab);
                         ASSERT_EQ(focused(), d.cbxMask);
                         QTest::keyClicks(focused(), QString::fromLatin1(mask));
                         QTest::keyClick(focused(), Qt::Key_Tab, Qt::ShiftModifier);
                         ASSERT_EQ(focused(), d.edtNetwork);
                         QTest::keyClick(focused(), Qt::Key_Return);
                     }});
        script.then({"back in the dialog or past it",
                     [&d, dialogActive] { return dialogActive() || !d.isVisible(); },
                     [&d, &seen] {
                         seen = {d.isVisible(), d.edtNetwork->text(), d.cbxMask->currentText()};
                         if (d.isVisible())
                             d.btnCancel->click();
                     }});
        script.start(20000);
        window->acAddRoute->trigger();
        script.stop();
        EXPECT_FALSE(script.timedOut) << "stuck at: " << script.stuckAt;
        return seen;
    }

    std::unique_ptr<QtPrompter> boxes;
};

// A typo in the mask, Enter in the network field: read as 0.0.0.0 the network was "aligned",
// the box took the focus, the field's exit handler saw 0.0.0.0 and set the mask to 0.0.0.0,
// and a default route was added with success said.
TEST_F(RouteDialogOnADesktop, ATypoInTheMaskIsRefusedAndTheDialogKeepsWhatWasTyped) {
    CORVANE_REQUIRE_NETNS();
    const std::string before = kernelRoutes();
    ModalScript script;
    const Seen seen = addTyping("10.60.0.0", "255.255.x", script);
    ASSERT_EQ(script.boxes.size(), 1U);
    EXPECT_TRUE(script.boxes[0].contains(QLatin1String("network mask \"255.255.x\"")))
        << script.boxes[0].toStdString();
    EXPECT_TRUE(seen.stayedOpen);
    EXPECT_EQ(seen.network, "10.60.0.0");
    EXPECT_EQ(seen.mask, "255.255.x");
    EXPECT_EQ(kernelRoutes(), before);
}

// The network the alignment writes may be 0.0.0.0 from a valid pair; the box that says so
// takes the focus from the field, and the mask typed must still be the one used.
TEST_F(RouteDialogOnADesktop, TheBoxTakingTheFocusNeverChangesTheTypedMask) {
    CORVANE_REQUIRE_NETNS();
    ModalScript script;
    const Seen seen = addTyping("0.1.2.3", "255.0.0.0", script);
    ASSERT_EQ(script.boxes.size(), 2U);
    EXPECT_EQ(script.boxes[0], "Network address 0.0.0.0 has been aligned according to given "
                               "subnet mask 255.0.0.0.");
    EXPECT_EQ(script.boxes[1], "Route successfully added.");
    EXPECT_FALSE(seen.stayedOpen);
    EXPECT_EQ(frmModifyRoutes->cbxMask->currentText(), "255.0.0.0");
    EXPECT_EQ(kernelRoute("0.0.0.0/8"), "0.0.0.0/8 10.40.0.254 rw0 1\n");
    EXPECT_EQ(kernelRoute("0.0.0.0/0"), "default 10.40.0.254 rw0 5\n") << "no other default";
}

} // namespace
