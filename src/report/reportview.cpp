#include "report/reportview.h"

#include <QEvent>
#include <QPlainTextEdit>

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
    if (watched == edit_ && event->type() == QEvent::Show)
        show();
    return false;
}

void ReportView::show() {
    if (!stale_)
        return;
    stale_ = false;
    edit_->setPlainText(text_);
}

} // namespace corvane
