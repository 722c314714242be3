// The main window's side of the refresh cycle and its timers.
#include "shell/frmmain.h"

#include "shell/frmsetup.h"
#include "shell/prompter.h"
#include "shell/uptime.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

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
    refresh = new RefreshCycle(*this, *tmrRefreshWait, *tmrAutoUpdate, this);
    // The tree's expansion is the shell's; the pages register their fills when they arrive.
    const auto treeWide = [this](bool expand) {
        tvInfo->setUpdatesEnabled(false);
        if (expand)
            tvInfo->expandAll();
        else
            tvInfo->collapseAll();
        tvInfo->setUpdatesEnabled(true);
    };
    refresh->setFill(FillStep::ExpandTree, [treeWide] { treeWide(true); });
    refresh->setFill(FillStep::CollapseTree, [treeWide] { treeWide(false); });
}

void TfrmMain::RefreshNetworkStatus() {
    refresh->run();
}

void TfrmMain::setRefreshItemEnabled(bool enabled) {
    if (Refresh1)
        Refresh1->setEnabled(enabled);
}

RefreshOptions TfrmMain::refreshOptions() const {
    RefreshOptions o;
    if (!frmSetup)
        return o;
    o.autoUpdate = frmSetup->cbxAutoUpdate->isChecked();
    o.showInactivePersistentRoutes = frmSetup->cbxShowInactivePRoutes->isChecked();
    o.overwriteReport = frmSetup->cbxOverwriteReport->isChecked();
    o.autoExpandTree = frmSetup->cbxAutoExpand->isChecked();
    o.removeDeadAddresses = frmSetup->cbxAutoIPRemove->isChecked();
    return o;
}

void TfrmMain::tmrUptimeTimer() {
    if (pcMain->currentWidget() == tsHost)
        lblUptime->setText(FormatUptime());
}

void TfrmMain::tmrModifyUpdateTimer() {
    // Stopped first: a refresh that outlasts the interval must not announce the change twice.
    tmrModifyUpdate->stop();
    RefreshNetworkStatus();
    showMessage(QStringLiteral("Route successfully modified."), QStringLiteral("Success"),
                MsgIcon::Information);
}

void TfrmMain::tmrHideTimer() {
    tmrHide->stop();
    TrayIcon(TrayCommand::Hide);
}

} // namespace corvane
