// ilTreeImages: the shared pictures of the main window's actions, menus, tool bar, tree and
// tray icon, addressed by index.
#pragma once

#include "widgets/imageindex.h"

#include <QIcon>
#include <QList>

namespace corvane {

class ImageList {
public:
    ImageList();                 // loads every picture; needs the GUI application
    QIcon icon(int index) const; // a null icon outside the list
    int count() const { return static_cast<int>(icons_.size()); }

private:
    QList<QIcon> icons_;
};

} // namespace corvane
