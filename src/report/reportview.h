// The Report page's text and the edit that shows it.
#pragma once

#include <QObject>
#include <QString>

class QPlainTextEdit;

namespace corvane {

// The page's text. The edit shows it only while it can be seen: laying out a report of a
// hundred thousand routes costs far more than building it, and a report built in the
// background or for the command line may never be looked at.
class ReportView : public QObject {
    Q_OBJECT
public:
    explicit ReportView(QPlainTextEdit* edit);
    const QString& text() const { return text_; }
    void setText(QString text);
    // Ctrl+X over the whole text.
    void clear();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    QPlainTextEdit* edit_;
    QString text_;
    bool stale_ = false;
};

} // namespace corvane
