// Menus built from entry tables. Menu entries are items of their own that follow their action
// (text, pictures, enabled state) and trigger it, so one entry can differ from the action:
// Refresh1 is disabled during a refresh while the tool button stays enabled.
#pragma once

#include "widgets/actionlist.h"

#include <initializer_list>

class QMenu;
class QWidget;

namespace corvane {

class ImageList;

// One entry of a menu. Without an action it is a plain item of the menu's own (toggles and
// page commands) unless it has no name either: then it is a separator.
struct MenuEntry {
    const char* name;
    QAction* ActionList::*action;
    const char* caption = nullptr; // for plain items, or to differ from the action
    const char* hint = nullptr;
    int image = -1;
    const char* shortcut = nullptr;
    int helpContext = 0;
    bool checkable = false;
};

inline constexpr MenuEntry menuSeparator{nullptr, nullptr};

// Fills a menu from its entry table. Entries with a shortcut are added to keyOwner as well,
// so the key works whether or not the menu is shown.
void fillMenu(QMenu* menu, const ActionList& actions, const ImageList& images,
              std::initializer_list<MenuEntry> entries, QWidget* keyOwner = nullptr);
// A popup menu named name, owned by owner.
QMenu* popupMenu(QWidget* owner, const char* name);
// Opens the menu on a right click in control; on a tree, the node under the cursor is
// selected first.
void attachContextMenu(QWidget* control, QMenu* menu);
// The menu attached to control; nullptr when there is none.
QMenu* attachedContextMenu(const QWidget* control);

} // namespace corvane
