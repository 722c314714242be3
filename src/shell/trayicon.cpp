#include "shell/trayicon.h"

#include "widgets/images.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace corvane {

QString shortenedHint(const QString& hint, int limit) {
    if (hint.size() <= limit)
        return hint;
    const QString more = QStringLiteral("\u2026");
    const QStringList lines = hint.split(QLatin1Char('\n'));
    if (lines.first().size() + 2 > limit)
        return lines.first().left(limit - 1) + more;
    // Whole lines only: half an address reads as another address.
    QString kept = lines.first();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (kept.size() + 1 + lines[i].size() + 2 > limit)
            break;
        kept += QLatin1Char('\n') + lines[i];
    }
    return kept + QLatin1Char('\n') + more;
}

void showMainWindow(QWidget& window) {
    // Hidden from its minimised state, the platform window may still be minimised (see
    // below): ended now, as it is about to be mapped anyway.
    if (QWindow* handle = window.windowHandle();
        handle && !window.isMinimized() && (handle->windowStates() & Qt::WindowMinimized))
        handle->setWindowStates(handle->windowStates() & ~Qt::WindowMinimized);
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
}

void hideMainWindow(QWidget& window) {
    window.hide();
    // A minimised window hides in its normal state, on the widget alone: on X, ending the
    // platform window's minimised state maps it again, an empty frame nobody paints.
    if (window.isMinimized())
        window.overrideWindowState(window.windowState() & ~Qt::WindowMinimized);
}

TsxTrayIcon::TsxTrayIcon(QObject* owner) : QObject(owner) {
    setObjectName(QStringLiteral("sxTrayIcon"));
    sys_ = new QSystemTrayIcon(this);
    connect(sys_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    animateTimer_ = new QTimer(this);
    animateTimer_->setInterval(animateInterval_);
    connect(animateTimer_, &QTimer::timeout, this, &TsxTrayIcon::Animate);
    // Trays come and go with the desktop's panels; no signal says so.
    wasAvailable_ = available();
    watch_ = new QTimer(this);
    watch_->setInterval(1000);
    connect(watch_, &QTimer::timeout, this, &TsxTrayIcon::watchAvailability);
    watch_->start();
}

TsxTrayIcon::~TsxTrayIcon() {
    Icons = nullptr;
    PopupMenu = nullptr;
    TrayMessage(Message::Delete);
}

void TsxTrayIcon::setAnimateInterval(int ms) {
    animateInterval_ = ms > 0 ? ms : 1000;
    animateTimer_->setInterval(animateInterval_);
}

void TsxTrayIcon::setHint(const QString& hint) {
    hint_ = hint;
    ModifyIcon();
}

void TsxTrayIcon::setIcon(const QIcon& icon) {
    icon_ = icon;
    ModifyIcon();
}

void TsxTrayIcon::setShowHint(bool show) {
    showHint_ = show;
    ModifyIcon();
}

QString TsxTrayIcon::tip() const {
    return showHint_ ? shortenedHint(hint_) : QString();
}

void TsxTrayIcon::attach(const TrayWiring& wiring) {
    mainWindow = wiring.window;
    setIcon(wiring.icon);
    Icons = wiring.frames;
    setAnimateInterval(0);
    PopupMenu = wiring.menu;
    PopupButton = TPopupButton::pbRight;
    setShowHint(true);
    // The window is the connections' context: gone with it, they stop.
    QObject* context = wiring.window;
    if (!context)
        context = this;
    if (wiring.restore)
        connect(this, &TsxTrayIcon::OnLeftBtnDblClick, context, wiring.restore);
    if (wiring.availabilityChanged)
        connect(this, &TsxTrayIcon::availabilityChanged, context, wiring.availabilityChanged);
}

bool TsxTrayIcon::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TsxTrayIcon::TrayMessage(Message message) {
    switch (message) {
    case Message::Add:
        if (!available())
            return false;
        sys_->setIcon(icon_);
        sys_->setToolTip(tip());
        sys_->show();
        added_ = true;
        return true;
    case Message::Modify:
        if (!added_)
            return false;
        sys_->setIcon(icon_);
        sys_->setToolTip(tip());
        return true;
    case Message::Delete:
        if (!added_)
            return false;
        sys_->hide();
        added_ = false;
        return true;
    }
    return false;
}

void TsxTrayIcon::ModifyIcon() {
    emit OnModifyIcon();
    TrayMessage(Message::Modify);
}

bool TsxTrayIcon::TrayIcon(TrayCommand command) {
    switch (command) {
    case TrayCommand::Add:
        return TrayMessage(Message::Add);
    case TrayCommand::AddAndHide:
        // Hiding without an icon would leave no way back to the window.
        if (!TrayMessage(Message::Add))
            return false;
        return TrayIcon(TrayCommand::Hide);
    case TrayCommand::Remove:
        return TrayMessage(Message::Delete);
    case TrayCommand::RemoveAndShow:
        TrayMessage(Message::Delete);
        return TrayIcon(TrayCommand::Show);
    case TrayCommand::Hide:
        if (mainWindow)
            hideMainWindow(*mainWindow);
        return mainWindow != nullptr;
    case TrayCommand::Show:
        if (mainWindow)
            showMainWindow(*mainWindow);
        return mainWindow != nullptr;
    }
    return false;
}

void TsxTrayIcon::activated(int reason) {
    // The platform reports presses and double clicks; releases and moves never arrive.
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        emit OnLeftBtnDown();
        if (PopupButton == TPopupButton::pbLeft)
            PopMenu();
        break;
    case QSystemTrayIcon::Context:
        emit OnRightBtnDown();
        if (PopupButton == TPopupButton::pbRight)
            PopMenu();
        break;
    case QSystemTrayIcon::DoubleClick:
        emit OnLeftBtnDblClick();
        break;
    default:
        break;
    }
}

void TsxTrayIcon::PopMenu() {
    if (!PopupMenu)
        return;
    QPoint at = QCursor::pos();
    // Some window systems do not tell where the pointer is: the icon stands in for it.
    if (!QGuiApplication::screenAt(at)) {
        const QRect icon = geometry();
        if (icon.isEmpty())
            return;
        at = icon.center();
    }
    PopupMenu->popup(at);
}

void TsxTrayIcon::StartAnimate() {
    if (!animateTimer_->isActive())
        animateTimer_->start();
}

void TsxTrayIcon::EndAnimate() {
    if (animateTimer_->isActive())
        animateTimer_->stop();
}

void TsxTrayIcon::Animate() {
    if (!Icons)
        return;
    animateIndex_ = animateIndex_ >= Icons->count() - 1 ? 0 : animateIndex_ + 1;
    icon_ = Icons->icon(animateIndex_);
    ModifyIcon();
}

bool TsxTrayIcon::Loaded() {
    if (!StartOnTray)
        return true;
    // Without a notification area the window stays: nothing else would lead back to it.
    return !TrayMessage(Message::Add);
}

QRect TsxTrayIcon::geometry() const {
    return added_ ? sys_->geometry() : QRect();
}

void TsxTrayIcon::watchAvailability() {
    const bool now = available();
    if (now == wasAvailable_)
        return;
    wasAvailable_ = now;
    emit availabilityChanged(now);
}

} // namespace corvane
