#include "widgets/rowcopy.h"

#include "widgets/hints.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <vector>

namespace corvane {
namespace {

struct ShownRow {
    std::vector<int> place; // row numbers from the top level down, as shown
    QModelIndex first;      // column 0 of the row
};

QString cellText(const QModelIndex& cell) {
    QString text = cell.data(Qt::DisplayRole).toString();
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return text;
}

const QHeaderView* columnHeader(const QAbstractItemView& view) {
    if (const auto* table = qobject_cast<const QTableView*>(&view))
        return table->horizontalHeader();
    if (const auto* tree = qobject_cast<const QTreeView*>(&view))
        return tree->header();
    return nullptr;
}

// Logical columns in the order on screen, hidden ones left out.
std::vector<int> shownColumns(const QAbstractItemView& view, const QModelIndex& parent) {
    std::vector<int> columns;
    const QHeaderView* header = columnHeader(view);
    if (!header) {
        const auto* list = qobject_cast<const QListView*>(&view);
        columns.push_back(list ? list->modelColumn() : 0);
        return columns;
    }
    const int count = view.model()->columnCount(parent);
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (logical >= 0 && logical < count && !header->isSectionHidden(logical))
            columns.push_back(logical);
    }
    return columns;
}

int shownPlace(const QAbstractItemView& view, const QModelIndex& index) {
    if (const auto* table = qobject_cast<const QTableView*>(&view))
        return table->verticalHeader()->visualIndex(index.row());
    return index.row();
}

std::vector<ShownRow> selectedRows(const QAbstractItemView& view) {
    std::vector<ShownRow> rows;
    const QItemSelectionModel* selection = view.selectionModel();
    if (!selection || !view.model())
        return rows;
    // Ranges, not indexes: a selection of every route holds a million cells.
    for (const QItemSelectionRange& range : selection->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r) {
            ShownRow row;
            row.first = view.model()->index(r, 0, range.parent());
            for (QModelIndex at = row.first; at.isValid(); at = at.parent())
                row.place.push_back(shownPlace(view, at));
            std::reverse(row.place.begin(), row.place.end());
            rows.push_back(std::move(row));
        }
    }
    std::sort(rows.begin(), rows.end(),
              [](const ShownRow& a, const ShownRow& b) { return a.place < b.place; });
    rows.erase(std::unique(rows.begin(), rows.end(),
                           [](const ShownRow& a, const ShownRow& b) { return a.place == b.place; }),
               rows.end());
    return rows;
}

void copyRows(const QAbstractItemView& view) {
    const QString text = rowsAsText(view);
    // Nothing selected leaves what the user copied before.
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool hasCopyEntry(const QMenu& menu) {
    for (const QAction* a : menu.actions()) {
        QString caption = a->text();
        caption.remove(QLatin1Char('&'));
        if (caption.startsWith(QLatin1String("Copy"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// Ctrl+C reaches the view before the view's own one-cell copy and any window shortcut.
class CopyKey : public QObject {
public:
    explicit CopyKey(QAbstractItemView* view) : QObject(view), view_(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != view_)
            return false;
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->matches(QKeySequence::Copy))
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        copyRows(*view_);
        return true;
    }

private:
    QAbstractItemView* view_;
};

} // namespace

QString rowsAsText(const QAbstractItemView& view) {
    QStringList lines;
    QModelIndex columnsOf;
    std::vector<int> columns;
    bool haveColumns = false;
    for (const ShownRow& row : selectedRows(view)) {
        if (!haveColumns || row.first.parent() != columnsOf) {
            columnsOf = row.first.parent();
            columns = shownColumns(view, columnsOf);
            haveColumns = true;
        }
        QStringList cells;
        for (int c : columns)
            cells.append(cellText(row.first.siblingAtColumn(c)));
        lines.append(cells.join(QLatin1Char('\t')));
    }
    return lines.join(QLatin1Char('\n'));
}

void installRowCopy(QAbstractItemView* view) {
    if (view->property("rowCopy").toBool())
        return;
    view->setProperty("rowCopy", true);
    view->installEventFilter(new CopyKey(view));
    QMenu* menu = attachedContextMenu(view);
    if (!menu || hasCopyEntry(*menu))
        return;
    menu->addSeparator();
    auto* item = menu->addAction(QStringLiteral("Copy"));
    item->setObjectName(menu->objectName() + QStringLiteral("Copy"));
    item->setShortcut(QKeySequence::Copy);
    item->setShortcutVisibleInContextMenu(true);
    applyHint(item, QStringLiteral("Copy selected rows to clipboard"));
    QObject::connect(menu, &QMenu::aboutToShow, item, [view, item] {
        item->setEnabled(view->selectionModel() && view->selectionModel()->hasSelection());
    });
    QObject::connect(item, &QAction::triggered, view, [view] { copyRows(*view); });
}

} // namespace corvane
