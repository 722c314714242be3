// The notification-area icon as the main window uses it, and the commands that move the
// window between the screen and the icon.
#pragma once

#include <QIcon>
#include <functional>

class QMenu;
class QString;
class QWidget;

namespace corvane {

class ImageList;

// What the window hands the icon: itself to show and hide, the picture and its animation
// frames, the menu, and where a double click and a change of the notification area go.
struct TrayWiring {
    QWidget* window = nullptr;
    QIcon icon;
    const ImageList* frames = nullptr;
    QMenu* menu = nullptr;
    std::function<void()> restore;
    std::function<void(bool)> availabilityChanged;
};

class TrayIconService {
public:
    virtual ~TrayIconService() = default;
    // Once, while the window is being made.
    virtual void attach(const TrayWiring& wiring) = 0;
    // False when the desktop offers no notification area.
    virtual bool available() const = 0;
    // False when the icon could not be added (no notification area).
    virtual bool addIcon() = 0;
    virtual void removeIcon() = 0;
    virtual void setHint(const QString& hint) = 0;
};

// Commands of TrayIcon: add the icon (and hide the window), remove it (and show the window),
// hide or show the window.
enum class TrayCommand {
    Add = 0,
    AddAndHide = 1,
    Remove = 2,
    RemoveAndShow = 3,
    Hide = 4,
    Show = 5
};

// Showing restores a minimised window.
void showMainWindow(QWidget& window);
void hideMainWindow(QWidget& window);

} // namespace corvane
