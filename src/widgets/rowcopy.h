// Selected rows of a list, table or tree as text that editors and spreadsheets take: one line
// per row, its cells separated by tabs, rows and columns in the order the view shows them.
#pragma once

#include <QString>

class QAbstractItemView;

namespace corvane {

// The selected rows of view; empty without a selection. Hidden columns are left out; tabs,
// line breaks and other control characters inside a cell become blanks, so every row stays
// one line of the same number of cells.
QString rowsAsText(const QAbstractItemView& view);

// Ctrl+C on view puts its selected rows on the clipboard. The context menu attached to the view
// (attachContextMenu) gets a "Copy" entry doing the same, unless it has a copy entry of its own.
void installRowCopy(QAbstractItemView* view);

} // namespace corvane
