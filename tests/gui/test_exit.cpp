// The exit confirmation of tray mode and the end of the session: the countdown on an injected
// clock, what each answer does to the window, and SIGTERM or SIGHUP while a dialog is open.
#include "gui_fixture.h"
#include "shell/termsignals.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <csignal>

using namespace corvane;
using namespace corvane::test;

namespace {

class ExitQuery : public MainWindowFixture {
protected:
    // A window in tray mode whose size is saved on close.
    TfrmMain& trayWindow() {
        setOption(Option::AutoSaveSize, true);
        storeOptions();
        TfrmMain& w = make({}, &tray);
        showAndSettle();
        w.resize(700, 430);
        w.acTray->trigger();
        EXPECT_TRUE(w.trayMode);
        w.acRestoreFromTray->trigger();
        return w;
    }
    // The size the next start would find.
    QSize storedSize() {
        options->change([](Options& o) { o.storedWidth = o.storedHeight = 0; });
        EXPECT_TRUE(options->load());
        return {currentOptions().storedWidth, currentOptions().storedHeight};
    }
    FakeTray tray{true};
};

TEST_F(ExitQuery, DialogAsDesignedCountsDownOnItsClock) {
    TfrmExit& d = *frmExit;
    EXPECT_EQ(d.windowTitle(), "Exit Corvane");
    EXPECT_EQ(d.size(), QSize(401, 136));
    EXPECT_EQ(d.lblMessage->text(),
              "Click Terminate to close or Minimize to keep program in System Tray.");
    EXPECT_EQ(d.Label1->text() + d.lblTime->text() + " " + d.lblTimeout1->text(),
              "Program will terminate in 20 seconds.");
    EXPECT_EQ(d.btnOk->text(), "Terminate");
    EXPECT_EQ(d.btnCancel->text(), "Minimize");
    EXPECT_TRUE(d.btnCancel->isDefault());
    EXPECT_EQ(d.tmrTimeout->interval(), 20);
    EXPECT_EQ(d.pbarTimeout->minimum(), 0);
    EXPECT_EQ(d.pbarTimeout->maximum(), 10000);

    d.terminate = true; // left from an earlier close
    clockMs = 5000;
    d.show();
    EXPECT_FALSE(d.terminate);
    EXPECT_TRUE(d.tmrTimeout->isActive());
    struct Step {
        qint64 at; // ms after the show
        int bar;
        const char* label;
    };
    const Step steps[] = {{20, 9990, "20"},   {980, 9510, "20"},   {1000, 9500, "19"},
                          {1019, 9500, "19"}, {10000, 5000, "10"}, {19980, 10, "1"},
                          {19999, 10, "1"}};
    for (const Step& s : steps) {
        clockMs = 5000 + s.at;
        d.tmrTimeoutTimer();
        EXPECT_EQ(d.pbarTimeout->value(), s.bar) << s.at;
        EXPECT_EQ(d.lblTime->text(), s.label) << s.at;
    }
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(d.terminate);
    clockMs = 5000 + 20000;
    d.tmrTimeoutTimer();
    EXPECT_EQ(d.lblTime->text(), "0");
    EXPECT_TRUE(d.terminate);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.tmrTimeout->isActive());

    // Opened again, it starts from twenty; Escape answers Minimize.
    d.show();
    EXPECT_EQ(d.lblTime->text(), "20");
    EXPECT_EQ(d.pbarTimeout->value(), 10000);
    d.reject();
    EXPECT_FALSE(d.terminate);
    EXPECT_FALSE(d.tmrTimeout->isActive());
}

TEST_F(ExitQuery, LeftAloneTheProgramClosesWhenTheCountdownEnds) {
    // Twenty seconds of the dialog's clock pass in one real second.
    delete frmExit;
    QElapsedTimer real;
    real.start();
    frmExit = new TfrmExit(nullptr, [&real] { return real.elapsed() * 20; });
    TfrmMain& w = trayWindow();
    qint64 openFor = 0;
    QList<int> labels; // each second the label showed, in order
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int shown = frmExit->lblTime->text().toInt();
        if (frmExit->isVisible() && (labels.isEmpty() || labels.last() != shown))
            labels << shown;
    });
    beforeModalAnswer = [&](QDialog& d) {
        ASSERT_EQ(&d, frmExit);
        EXPECT_FALSE(w.Exit2->isEnabled());
        watch.start(4);
        QElapsedTimer t;
        t.start();
        d.exec();
        openFor = t.elapsed();
    };
    EXPECT_TRUE(w.close());
    EXPECT_EQ(modals, std::vector<QString>{"frmExit"});
    EXPECT_TRUE(w.isClosed());
    // A refresh of the window may hold the loop up for a while; the count only ever falls.
    ASSERT_GE(labels.size(), 2);
    EXPECT_EQ(labels.first(), 20);
    EXPECT_TRUE(std::is_sorted(labels.rbegin(), labels.rend()));
    EXPECT_EQ(frmExit->lblTime->text(), "0");
    EXPECT_GE(openFor, 950);
    EXPECT_LT(openFor, 3000);
    EXPECT_EQ(storedSize(), QSize(700, 430));
}

TEST_F(ExitQuery, AnswersDecideBetweenTheTrayAndTheEnd) {
    TfrmMain& w = trayWindow();
    bool exitEnabledMeanwhile = true;
    beforeModalAnswer = [&](QDialog&) { exitEnabledMeanwhile = w.Exit2->isEnabled(); };
    // Minimize: back to the notification area, the icon stays, Exit is enabled again.
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(exitEnabledMeanwhile);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(tray.shown);
    EXPECT_TRUE(w.trayMode);
    EXPECT_TRUE(w.Exit2->isEnabled());
    EXPECT_FALSE(w.isClosed());
    EXPECT_EQ(frmExit->windowIcon().cacheKey(), w.ilTreeImages.icon(img::Exit).cacheKey());
    // Terminate: the close goes ahead.
    beforeModalAnswer = [](QDialog&) { frmExit->btnOk->click(); };
    w.Exit2->trigger();
    EXPECT_TRUE(w.isClosed());
    EXPECT_EQ(modals.size(), 2u);
}

TEST_F(ExitQuery, NoQuestionOutsideTrayModeOrWithCloseImmediately) {
    {
        TfrmMain& w = make({}, &tray);
        showAndSettle();
        EXPECT_TRUE(w.close());
        EXPECT_TRUE(w.isClosed());
    }
    setOption(Option::CloseMode, true);
    TfrmMain& w = trayWindow();
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(w.isClosed());
    EXPECT_TRUE(modals.empty());
}

TEST_F(ExitQuery, TerminationDuringARefreshWaitsForItsEnd) {
    TerminationSignals termination;
    TfrmMain& w = trayWindow();
    QObject::connect(&termination, &TerminationSignals::received, &w, &TfrmMain::EndSession);
    bool loadedMeanwhile = false;
    // The connection listing lets events run part way through.
    w.refresh->setFill(FillStep::ConnectionTable, [&] {
        ::raise(SIGTERM);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        loadedMeanwhile = iphlp().ipHelperLoaded();
    });
    w.RefreshNetworkStatus();
    EXPECT_TRUE(loadedMeanwhile);
    QElapsedTimer t;
    t.start();
    while (!w.isClosed() && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(w.isClosed());
    EXPECT_TRUE(modals.empty());
    EXPECT_FALSE(iphlp().ipHelperLoaded());
}

TEST_F(ExitQuery, SessionEndQueryTurnsTrayModeOffAndSavesAtOnce) {
    TfrmMain& w = trayWindow();
    w.resize(640, 400);
    EXPECT_TRUE(w.QueryEndSession());
    EXPECT_FALSE(w.trayMode);
    EXPECT_FALSE(w.isClosed());
    EXPECT_EQ(storedSize(), QSize(640, 400));
    // The close that follows asks nothing.
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(modals.empty());
}

TEST_F(ExitQuery, TerminationSignalWhileTheExitDialogIsOpenEndsWithSettingsSaved) {
    TerminationSignals termination;
    ASSERT_TRUE(termination.installed());
    TfrmMain& w = trayWindow();
    QObject::connect(&termination, &TerminationSignals::received, &w, &TfrmMain::EndSession);
    int closedSignals = 0;
    QObject::connect(&w, &TfrmMain::closed, [&] { ++closedSignals; });
    QElapsedTimer t;
    beforeModalAnswer = [&](QDialog& d) {
        QTimer::singleShot(50, &d, [] { ::raise(SIGTERM); });
        t.start();
        d.exec();
    };
    w.Exit2->trigger();
    EXPECT_LT(t.elapsed(), 2000); // not the countdown: the clock stands still
    EXPECT_TRUE(w.isClosed());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_FALSE(w.trayMode);
    EXPECT_EQ(storedSize(), QSize(700, 430));
    // A second signal finds nothing left to do.
    ::raise(SIGHUP);
    QCoreApplication::processEvents();
    EXPECT_EQ(closedSignals, 1);
}

TEST_F(ExitQuery, HangUpWhileAnotherDialogIsOpenClosesItUnsavedAndEnds) {
    TerminationSignals termination;
    TfrmMain& w = trayWindow();
    QObject::connect(&termination, &TerminationSignals::received, &w, &TfrmMain::EndSession);
    w.hide(); // in the notification area
    beforeModalAnswer = [&](QDialog& d) {
        ASSERT_EQ(&d, frmSetup);
        frmSetup->box(Option::Toolbar)->click(); // an edit not yet confirmed
        QTimer::singleShot(50, &d, [] { ::raise(SIGHUP); });
        d.exec();
    };
    const bool toolbar = currentOptions().on(Option::Toolbar);
    w.acSetup->trigger();
    QCoreApplication::processEvents(); // the close queued behind the dialog's loop
    EXPECT_TRUE(w.isClosed());
    EXPECT_EQ(modals, std::vector<QString>{"frmSetup"});
    EXPECT_EQ(currentOptions().on(Option::Toolbar), toolbar);
    EXPECT_EQ(storedSize(), QSize(700, 430));
}

} // namespace
