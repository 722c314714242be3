// The main window and the notification area: tray mode, minimise and close in it, the exit
// confirmation, and the end of the session.
#include "shell/frmmain.h"

#include "session/options.h"
#include "shell/frmexit.h"
#include "widgets/modal.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMenu>
#include <QTimer>

namespace corvane {
namespace {

const QString noTrayTip =
    QStringLiteral("No notification area on this desktop: the window stays on the screen");

} // namespace

void TfrmMain::wireTray() {
    if (tray_)
        tray_->attach({this, ilTreeImages.icon(img::AdapterActive), &ilTreeImages, pmTrayMenu,
                       [this] { acRestoreFromTrayExecute(); },
                       [this](bool available) { updateTrayAvailability(available); }});
    updateTrayAvailability(tray_ && tray_->available());
}

void TfrmMain::updateTrayAvailability(bool available) {
    // Disabled buttons still show their tool tip, disabled menu entries their status tip.
    for (QAction* a : {acTray, acUnTray, acRestoreFromTray}) {
        a->setEnabled(available);
        if (!a->property("tipsWithTray").isValid())
            a->setProperty("tipsWithTray", QStringList{a->toolTip(), a->statusTip()});
        const QStringList tips = a->property("tipsWithTray").toStringList();
        a->setToolTip(available ? tips[0] : noTrayTip);
        a->setStatusTip(available ? tips[1] : noTrayTip);
    }
    if (available)
        return;
    // The icon went with the notification area: a hidden window would be out of reach.
    if (trayMode) {
        trayMode = false;
        tmrHide->stop();
        if (tray_)
            tray_->removeIcon();
        TrayIcon(TrayCommand::Show);
    }
}

bool TfrmMain::TrayIcon(TrayCommand command) {
    switch (command) {
    case TrayCommand::Add:
    case TrayCommand::AddAndHide:
        if (!tray_ || !tray_->addIcon())
            return false;
        if (command == TrayCommand::AddAndHide)
            TrayIcon(TrayCommand::Hide);
        return true;
    case TrayCommand::Remove:
    case TrayCommand::RemoveAndShow:
        if (tray_)
            tray_->removeIcon();
        if (command == TrayCommand::RemoveAndShow)
            TrayIcon(TrayCommand::Show);
        return true;
    case TrayCommand::Hide:
        hideMainWindow(*this);
        return true;
    case TrayCommand::Show:
        showMainWindow(*this);
        return true;
    }
    return false;
}

void TfrmMain::acTrayExecute() {
    // Hiding without an icon would leave no way back to the window.
    if (TrayIcon(TrayCommand::AddAndHide))
        trayMode = true;
}

void TfrmMain::acUnTrayExecute() {
    TrayIcon(TrayCommand::RemoveAndShow);
    activateWindow();
    raise();
    trayMode = false;
}

void TfrmMain::acRestoreFromTrayExecute() {
    TrayIcon(TrayCommand::Show);
    activateWindow();
    raise();
}

void TfrmMain::tmrHideTimer() {
    tmrHide->stop();
    // The notification area may have gone since the start.
    if (trayMode)
        TrayIcon(TrayCommand::Hide);
}

void TfrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // In tray mode minimising sends the window to the notification area, once the state
    // change is through: hiding also ends the minimised state.
    if (event->type() == QEvent::WindowStateChange && trayMode && isMinimized())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (trayMode && isMinimized())
                    TrayIcon(TrayCommand::Hide);
            },
            Qt::QueuedConnection);
}

bool TfrmMain::FormCloseQuery() {
    if (exitQuery_)
        return false; // asked already; the open dialog decides
    if (trayMode && !options.value().on(Option::CloseMode) && frmExit && !sessionEnding_) {
        frmExit->setWindowIcon(ilTreeImages.icon(img::Exit));
        Exit2->setEnabled(false);
        exitQuery_ = true;
        runModal(*frmExit);
        exitQuery_ = false;
        // The session may have ended meanwhile: then the close goes ahead.
        if (!frmExit->terminate && !sessionEnding_) {
            Exit2->setEnabled(true);
            TrayIcon(TrayCommand::Hide);
            return false;
        }
    }
    tmrAutoUpdate->stop();
    rememberWindowSize();
    options.save(true);
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    // A fill that lets events run (the listing yields) may be further out on the stack: the
    // library it reads has to outlive it, so the close waits for the refresh.
    if (refresh->busy()) {
        event->ignore();
        QTimer::singleShot(50, this, [this] { close(); });
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    closed_ = true;
    event->accept();
    emit closed();
}

bool TfrmMain::QueryEndSession() {
    trayMode = false;
    // Nothing may be lost if the session manager ends the process before any close.
    rememberWindowSize();
    options.save(true);
    return true;
}

void TfrmMain::EndSession() {
    if (closed_ || sessionEnding_)
        return;
    QueryEndSession();
    sessionEnding_ = true;
    if (exitQuery_ && frmExit) {
        // The close that asked goes ahead as if confirmed.
        frmExit->terminate = true;
        frmExit->accept();
        return;
    }
    // Other dialogs are answered no, and the close follows once their loops have returned.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
            d->reject();
    QMetaObject::invokeMethod(this, &TfrmMain::close, Qt::QueuedConnection);
}

void TfrmMain::closeBeforeQuit() {
    if (closed_)
        return;
    trayMode = false;
    sessionEnding_ = true;
    close();
}

} // namespace corvane
