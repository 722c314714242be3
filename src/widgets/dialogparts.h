// What the program's dialogs share: a help topic per control, F1, centring on the owner's
// screen, where the keyboard starts, and the rounded tile their pictures are painted on.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>
#include <functional>

class QLabel;
class QPainter;
class QWidget;

namespace corvane {

inline constexpr const char* helpContextProperty = "helpContext";

// Names a control and gives it its hint ("short|status") and help topic (0: none).
QWidget* describe(QWidget* control, const char* name, const char* hint, int helpContext);
template <typename W> W* described(W* control, const char* name, const char* hint, int context) {
    describe(control, name, hint, context);
    return control;
}
// A caption for a control; its mnemonic focuses the control.
QLabel* buddyLabel(QWidget* parent, const char* name, const char* text, QWidget* buddy);
// The size rule of a resizable dialog: what its layout needs, at least design. It may grow in
// the growing direction, never below that; the other direction stays.
void fixDesignSize(QWidget& dialog, QSize design, Qt::Orientation growing);
// The help topic of the focused control of dialog or of a control around it; 0 for none.
int focusedHelpContext(const QWidget& dialog);
// F1 anywhere in the dialog runs help.
void onHelpKey(QWidget* dialog, std::function<void()> help);
// Centres the dialog on the screen its owner (or itself) is on.
void centreOnScreen(QWidget& dialog);
// Whenever dialog is shown, the keyboard starts in the field first() names (or, when that
// cannot take it, in the next one along the tab order that can), wherever it was when the
// dialog last closed; a line edit's text is selected, so typing replaces it.
void startKeyboardIn(QWidget& dialog, std::function<QWidget*()> first);
inline void startKeyboardIn(QWidget& dialog, QWidget* first) {
    startKeyboardIn(dialog, [first] { return first; });
}
// "Always on top" on or off, without activating, moving or resizing the window.
void keepOnTop(QWidget& window, bool onTop);
// A 32-pixel picture: the blue rounded tile, then what draw paints on it.
QPixmap tilePicture(qreal ratio, const std::function<void(QPainter&)>& draw);

} // namespace corvane
