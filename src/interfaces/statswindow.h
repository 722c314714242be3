// What the two statistics windows share: a plain top-level window, navy value labels, the
// "Always on top" box that sets the main window aside, and Close.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

class StatsWindow : public QDialog {
    Q_OBJECT
public:
    QCheckBox* cbxKeepOnTop = nullptr;
    QPushButton* btnClose = nullptr;

    void cbxKeepOnTopClick();
    // Every way of closing restores a minimised main window.
    void done(int result) override;

signals:
    // "Always on top" minimises the main window; unchecking or closing restores it.
    void mainWindowMinimised(bool minimised);

protected:
    StatsWindow(const char* name, const char* title, QWidget* parent);
    // The groups above the bottom row; the size is fixed, never below the designed one.
    void finishLayout(std::initializer_list<QWidget*> groups, QSize designed);
    // A navy, right-aligned value with room for the largest counter.
    static QLabel* valueLabel(QWidget* parent, const char* name);
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The fixed size: what the contents need, never below the designed one.
    void fitContents();
    QSize designed_;
};

} // namespace corvane
