// Text colours fixed by design (navy values, coloured rows) in whatever palette the desktop
// has. In a light palette they stay as designed; on a dark background the same hue is lightened
// until it reaches the contrast that text needs.
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace corvane {

// WCAG 2 text threshold.
inline constexpr double minTextContrast = 4.5;

double relativeLuminance(const QColor& c);
// Between 1 and 21.
double contrastRatio(const QColor& a, const QColor& b);
// fixed as it may be drawn on background.
QColor fixedTextColour(const QColor& fixed, const QColor& background);

// Sets the text role of widget to fixed, as readable on its ground role, now and after the
// desktop's palette changes.
void keepFixedTextColour(QWidget* widget, QPalette::ColorRole text, QPalette::ColorRole ground,
                         const QColor& fixed);

} // namespace corvane
