#include "report/reportview.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace corvane {

ReportView::ReportView(QPlainTextEdit* edit) : QObject(edit), edit_(edit) {
    edit->installEventFilter(this);
}

void ReportView::setText(QString text) {
    text_ = std::move(text);
    stale_ = true;
    if (edit_->isVisible())
        show();
}

void ReportView::clear() {
    text_.clear();
    edit_->clear();
    stale_ = false;
}

bool ReportView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_)
        return false;
    if (event->type() == QEvent::Show)
        show();
    return event->type() == QEvent::KeyPress && key(*static_cast<QKeyEvent*>(event));
}

bool ReportView::key(const QKeyEvent& key) {
    const QTextCursor cursor = edit_->textCursor();
    if (!(key.modifiers() & Qt::ControlModifier) || !cursor.hasSelection())
        return false;
    if (key.key() == Qt::Key_C) {
        edit_->copy();
        return true;
    }
    if (key.key() != Qt::Key_X)
        return false;
    // The document counts one closing paragraph mark beyond the text.
    if (cursor.selectionStart() == 0 &&
        cursor.selectionEnd() == edit_->document()->characterCount() - 1) {
        edit_->copy();
        clear();
    }
    return true;
}

void ReportView::show() {
    if (!stale_)
        return;
    stale_ = false;
    edit_->setPlainText(text_);
}

} // namespace corvane
