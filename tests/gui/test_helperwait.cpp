// The window while a call to the privileged helper waits for the user's authorisation: the
// call runs on a worker, the window says it waits and takes no input, nothing refreshes, and
// all of it is undone afterwards.
#include "gui_fixture.h"
#include "shell/helperwait.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

// Stands in for a blocking call to the helper: sleeps on whatever thread runs it.
struct SlowCall {
    std::chrono::milliseconds lasts{0};
    std::atomic<bool> ran{false};
    std::thread::id on;
};

extern "C" void slowWork(void* argument) {
    auto* call = static_cast<SlowCall*>(argument);
    std::this_thread::sleep_for(call->lasts);
    call->on = std::this_thread::get_id();
    call->ran = true;
}

// What the window looked like at one moment of the wait.
struct Look {
    QString status;
    bool busyCursor = false;
    bool shown = false;
};

class HelperWaitTest : public MainWindowFixture {
protected:
    TfrmMain& window_() {
        TfrmMain& w = make();
        setRuntime({});
        w.setStatusText(QStringLiteral("Ready"));
        countRefreshes();
        return w;
    }
    static Look look(TfrmMain& w) {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return {w.panelText(0), cursor && cursor->shape() == Qt::WaitCursor, w.helperWait->shown()};
    }
};

TEST_F(HelperWaitTest, ASlowCallShowsTheWaitTakesNoInputAndRefreshesNothing) {
    TfrmMain& w = window_();
    ASSERT_NE(w.helperWait, nullptr);
    EXPECT_TRUE(iphlp().SetHelperCallRunner) << "the platform library takes the runner too";
    auto* button = new QPushButton(QStringLiteral("Other command"), &w);
    auto* edit = new QLineEdit(&w);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    showAndSettle();
    const int refreshesBefore = refreshes;

    Look early, during;
    QTimer::singleShot(100, &w, [&] { early = look(w); });
    QTimer::singleShot(450, &w, [&] {
        during = look(w);
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClicks(edit, QStringLiteral("10.1"));
        w.RefreshNetworkStatus(); // as a timer or a queued command would ask for one
    });
    SlowCall call;
    call.lasts = std::chrono::milliseconds(800);
    HelperWait::run(w.helperWait, &slowWork, &call);

    EXPECT_TRUE(call.ran);
    EXPECT_NE(call.on, std::this_thread::get_id()) << "the wait is not on the window's thread";
    EXPECT_EQ(early.status, QStringLiteral("Ready")) << "nothing shows before 250 ms";
    EXPECT_FALSE(early.busyCursor);
    EXPECT_EQ(during.status, QStringLiteral("Waiting for authorisation\u2026"));
    EXPECT_TRUE(during.busyCursor);
    EXPECT_TRUE(during.shown);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(edit->text(), QString());
    EXPECT_EQ(refreshes, refreshesBefore) << "no refresh inside the command";

    const Look after = look(w);
    EXPECT_EQ(after.status, QStringLiteral("Ready"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(after.shown);
    // The refresh asked for meanwhile runs once, from the event loop.
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, refreshesBefore + 1);
    // Input works again.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(HelperWaitTest, AQuickCallShowsNothing) {
    TfrmMain& w = window_();
    showAndSettle();
    bool everShown = false;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { everShown |= look(w).shown; });
    sample.start(5);
    SlowCall call;
    call.lasts = std::chrono::milliseconds(30);
    HelperWait::run(w.helperWait, &slowWork, &call);
    EXPECT_TRUE(call.ran);
    EXPECT_FALSE(everShown);
    EXPECT_EQ(w.panelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// A release or renewal already runs its platform call on a worker: the helper call inside it
// runs there, and the window shows the wait meanwhile.
TEST_F(HelperWaitTest, ACallFromAWorkerShowsTheWaitOnTheWindow) {
    TfrmMain& w = window_();
    showAndSettle();
    SlowCall call;
    call.lasts = std::chrono::milliseconds(700);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        HelperWait::run(w.helperWait, &slowWork, &call);
        done = true;
    });
    Look during;
    QTimer::singleShot(450, &w, [&] { during = look(w); });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    QCoreApplication::processEvents(); // the end, posted by the worker
    EXPECT_TRUE(call.ran);
    EXPECT_EQ(during.status, QStringLiteral("Waiting for authorisation\u2026"));
    EXPECT_TRUE(during.busyCursor);
    EXPECT_EQ(w.panelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(w.helperWait->waiting());
}

// An older platform library lacks the entry point: its calls just wait where they are made.
TEST_F(HelperWaitTest, ALibraryWithoutTheEntryPointIsNoFailure) {
    qputenv("CORVANE_IPHLPAPI_LIB", FAKE_NO_TCP);
    TfrmMain& w = window_();
    EXPECT_FALSE(iphlp().SetHelperCallRunner);
    EXPECT_FALSE(w.loadFailure.code & ~loadbit::GetTcpTable) << w.loadFailure.code;
    SlowCall call;
    HelperWait::run(w.helperWait, &slowWork, &call);
    EXPECT_TRUE(call.ran);
}

} // namespace
