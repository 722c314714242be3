// Hints in the form "short hint|status-bar text": the short part becomes the tool tip, the
// other the status tip. A hint without "|" serves as both.
#pragma once

#include <QString>

class QAction;
class QWidget;

namespace corvane {

void applyHint(QAction* action, const QString& hint);
void applyHint(QWidget* widget, const QString& hint);

} // namespace corvane
