// The main window's side of the refresh cycle and its timers.
#include "shell/frmmain.h"

#include "hostinfo/hostinfo_page.h"
#include "platform/prompter.h"
#include "session/options.h"
#include "shell/uptime.h"

#include <QAction>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>

namespace corvane {

void TfrmMain::createTimers() {
    struct TimerSpec {
        QTimer* TfrmMain::*member;
        const char* name;
        int interval;
        bool enabled;
    };
    const TimerSpec timers[] = {
        {&TfrmMain::tmrAutoUpdate, "tmrAutoUpdate", 1000, false}, // enabled by the options
        {&TfrmMain::tmrUptime, "tmrUptime", 100, true},
        {&TfrmMain::tmrRefreshWait, "tmrRefreshWait", 1000, false},
        {&TfrmMain::tmrModifyUpdate, "tmrModifyUpdate", 2000, false},
        {&TfrmMain::tmrHide, "tmrHide", 2000, false},
        {&TfrmMain::tmrIntStat, "tmrIntStat", 200, false},
        {&TfrmMain::tmrIpStat, "tmrIpStat", 200, false},
    };
    for (const TimerSpec& spec : timers) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(spec.name));
        timer->setInterval(spec.interval);
        if (spec.enabled)
            timer->start();
        this->*spec.member = timer;
    }
    connect(tmrUptime, &QTimer::timeout, this, &TfrmMain::tmrUptimeTimer);
    connect(tmrModifyUpdate, &QTimer::timeout, this, &TfrmMain::tmrModifyUpdateTimer);
    connect(tmrHide, &QTimer::timeout, this, &TfrmMain::tmrHideTimer);
}

void TfrmMain::createRefreshCycle() {
    // The pages register their steps once they exist.
    refresh = new RefreshCycle(*this, *tmrRefreshWait, *tmrAutoUpdate, this);
}

void TfrmMain::RefreshNetworkStatus() {
    refresh->run();
}

void TfrmMain::setRefreshItemEnabled(bool enabled) {
    if (Refresh1)
        Refresh1->setEnabled(enabled);
}

RefreshOptions TfrmMain::refreshOptions() const {
    return refreshOptionsOf(options.value());
}

void TfrmMain::tmrUptimeTimer() {
    if (pcMain->currentWidget() == tsHost)
        tsHost->setUptimeText(FormatUptime());
}

void TfrmMain::tmrModifyUpdateTimer() {
    // Its box would take input in the middle of a wait for authorisation: the next tick tells.
    if (refresh->held())
        return;
    // Stopped first: a refresh that outlasts the interval must not announce the change twice.
    tmrModifyUpdate->stop();
    RefreshNetworkStatus();
    showMessage(QStringLiteral("Route successfully modified."), QStringLiteral("Success"),
                MsgIcon::Information);
}

} // namespace corvane
