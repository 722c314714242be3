#include "widgets/columnwidth.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <algorithm>

namespace corvane {

int fittedColumnWidth(const QTableView& view, int designed, const QString& caption,
                      const QString& widest) {
    const QHeaderView& header = *view.horizontalHeader();
    const QStyle& style = *view.style();
    const int headerRoom = 2 * style.pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header) +
                           style.pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, &header) + 4;
    const int cellRoom =
        2 * (style.pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1) + 4;
    const int forCaption = header.fontMetrics().horizontalAdvance(caption) + headerRoom;
    const int forCells =
        widest.isEmpty() ? 0 : view.fontMetrics().horizontalAdvance(widest) + cellRoom;
    return std::max({designed, forCaption, forCells});
}

} // namespace corvane
