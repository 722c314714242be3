#include "widgets/hints.h"

#include <QAction>
#include <QWidget>

namespace corvane {

void applyHint(QAction* action, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

void applyHint(QWidget* widget, const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    widget->setToolTip(bar < 0 ? hint : hint.left(bar));
    widget->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

} // namespace corvane
