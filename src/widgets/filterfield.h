// The filter field of a page's list: a slim line above it, Ctrl+F on the page puts the cursor
// in it, Escape empties it. What it filters is up to the page (textChanged).
#pragma once

class QLineEdit;
class QWidget;

namespace corvane {

// Placed at the top of page's layout, at its right end, so the list keeps the page's width.
QLineEdit* makeFilterField(QWidget* page, const char* name);

} // namespace corvane
