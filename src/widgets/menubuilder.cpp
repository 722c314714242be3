#include "widgets/menubuilder.h"

#include "widgets/hints.h"
#include "widgets/images.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QTreeView>

namespace corvane {
namespace {

QAction* followAction(QAction* source, QObject* owner, const MenuEntry& e) {
    auto* item = new QAction(owner);
    item->setObjectName(QString::fromLatin1(e.name));
    const auto sync = [item, source, caption = e.caption, hint = e.hint] {
        item->setText(caption ? QString::fromUtf8(caption) : source->text());
        if (hint) {
            applyHint(item, QString::fromUtf8(hint));
        } else {
            item->setToolTip(source->toolTip());
            item->setStatusTip(source->statusTip());
        }
        item->setIcon(source->icon());
        item->setEnabled(source->isEnabled());
        item->setVisible(source->isVisible());
    };
    sync();
    QObject::connect(source, &QAction::changed, item, sync);
    QObject::connect(item, &QAction::triggered, source, &QAction::trigger);
    return item;
}

constexpr const char* menuProperty = "contextMenu";

} // namespace

void fillMenu(QMenu* menu, const ActionList& actions, const ImageList& images,
              std::initializer_list<MenuEntry> entries, QWidget* keyOwner) {
    for (const MenuEntry& e : entries) {
        if (!e.name) {
            menu->addSeparator();
            continue;
        }
        QAction* item = nullptr;
        if (e.action) {
            item = followAction(actions.*e.action, menu, e);
        } else {
            item = new QAction(QString::fromUtf8(e.caption), menu);
            item->setObjectName(QString::fromLatin1(e.name));
            if (e.hint)
                applyHint(item, QString::fromUtf8(e.hint));
            item->setCheckable(e.checkable);
        }
        if (e.image >= 0)
            item->setIcon(images.icon(e.image));
        if (e.shortcut) {
            item->setShortcut(QKeySequence(QString::fromLatin1(e.shortcut)));
            if (keyOwner)
                keyOwner->addAction(item);
        }
        if (e.helpContext)
            item->setProperty("helpContext", e.helpContext);
        menu->addAction(item);
    }
}

QMenu* popupMenu(QWidget* owner, const char* name) {
    auto* menu = new QMenu(owner);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

void attachContextMenu(QWidget* control, QMenu* menu) {
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    control->setProperty(menuProperty, QVariant::fromValue(QPointer<QMenu>(menu)));
    QObject::connect(control, &QWidget::customContextMenuRequested, menu,
                     [control, menu](const QPoint& at) {
                         if (auto* tree = qobject_cast<QTreeView*>(control)) {
                             const QModelIndex index = tree->indexAt(at);
                             if (index.isValid())
                                 tree->setCurrentIndex(index);
                         }
                         QWidget* area = control;
                         if (auto* scroller = qobject_cast<QAbstractScrollArea*>(control))
                             area = scroller->viewport();
                         menu->popup(area->mapToGlobal(at));
                     });
}

QMenu* attachedContextMenu(const QWidget* control) {
    return control->property(menuProperty).value<QPointer<QMenu>>().data();
}

} // namespace corvane
