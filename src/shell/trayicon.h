// TsxTrayIcon: the program's icon in the notification area, on QSystemTrayIcon (a
// StatusNotifierItem where the desktop has a watcher for it, the XEmbed tray otherwise).
#pragma once

#include "shell/trayservice.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace corvane {

class ImageList;

enum class TPopupButton { _pbNone, pbLeft, pbRight };

// The tip the icon shows: the hint itself, or, past limit characters, its leading whole lines
// and a line "…"; a first line too long alone is cut and ends in "…".
inline constexpr int kTrayHintLimit = 63;
QString shortenedHint(const QString& hint, int limit = kTrayHintLimit);

class TsxTrayIcon : public QObject, public TrayIconService {
    Q_OBJECT
public:
    explicit TsxTrayIcon(QObject* owner = nullptr);
    ~TsxTrayIcon() override;

    int AnimateInterval() const { return animateInterval_; }
    void setAnimateInterval(int ms); // 0 or less means 1000
    QString Hint() const { return hint_; }
    void setHint(const QString& hint) override;
    QIcon Icon() const { return icon_; }
    void setIcon(const QIcon& icon);
    const ImageList* Icons = nullptr; // animation frames
    QPointer<QMenu> PopupMenu;
    TPopupButton PopupButton = TPopupButton::_pbNone;
    bool ShowHint() const { return showHint_; }
    void setShowHint(bool show);
    bool StartOnTray = false;
    // The window the commands show and hide.
    QPointer<QWidget> mainWindow;

    bool TrayIcon(TrayCommand command);
    enum class Message { Add = 0, Modify = 1, Delete = 2 };
    // False when the platform refused: no notification area, or a change to no icon.
    bool TrayMessage(Message message);
    void ModifyIcon();
    void PopMenu();
    void StartAnimate();
    void EndAnimate();
    void Animate();
    int animationIndex() const { return animateIndex_; }
    // After the owner is set up: with StartOnTray the icon is added. False: the main window
    // is not to be shown.
    bool Loaded();

    // The tip as given to the platform; empty without ShowHint.
    QString tip() const;
    bool iconShown() const { return added_; }
    // Where the icon is on the screen; empty where the platform does not tell.
    QRect geometry() const;

    // TrayIconService
    void attach(const TrayWiring& wiring) override;
    bool available() const override;
    bool addIcon() override { return TrayMessage(Message::Add); }
    void removeIcon() override { TrayMessage(Message::Delete); }

signals:
    void OnLeftBtnDown();
    void OnLeftBtnUp();
    void OnLeftBtnDblClick();
    void OnRightBtnDown();
    void OnRightBtnUp();
    void OnRightBtnDblClick();
    void OnMouseMove();
    void OnModifyIcon();
    // The notification area came or went (checked once a second).
    void availabilityChanged(bool available);

private:
    void activated(int reason);
    void watchAvailability();

    QSystemTrayIcon* sys_ = nullptr;
    QTimer* animateTimer_ = nullptr;
    QTimer* watch_ = nullptr;
    int animateInterval_ = 1000;
    QString hint_;
    QIcon icon_;
    bool showHint_ = false;
    int animateIndex_ = 0;
    bool added_ = false;
    bool wasAvailable_ = false;
};

} // namespace corvane
