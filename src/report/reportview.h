// The Report page's text and the edit that shows it.
#pragma once

#include <QObject>
#include <QString>

class QKeyEvent;
class QPlainTextEdit;

namespace corvane {

// The page's text. The edit shows it only while it can be seen: laying out a report of a
// hundred thousand routes costs far more than building it, and a report built in the
// background or for the command line may never be looked at. Also the page's keys
// (redtReportKeyDown): Ctrl+C copies the selection; Ctrl+X over the whole text copies and
// clears it, the only way to empty the page.
class ReportView : public QObject {
    Q_OBJECT
public:
    explicit ReportView(QPlainTextEdit* edit);
    const QString& text() const { return text_; }
    void setText(QString text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    bool key(const QKeyEvent& key);
    void clear();
    QPlainTextEdit* edit_;
    QString text_;
    bool stale_ = false;
};

} // namespace corvane
