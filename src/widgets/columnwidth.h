// Column widths that hold their texts in whatever font the desktop gives the tables.
#pragma once

#include <QString>

class QTableView;

namespace corvane {

// The designed width, or more when the caption (in the header's font, with room for the sort
// arrow) or the widest cell text (in the view's font) would be cut.
int fittedColumnWidth(const QTableView& view, int designed, const QString& caption,
                      const QString& widest);

} // namespace corvane
