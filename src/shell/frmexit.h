// TfrmExit: asks, in tray mode, whether closing the window ends the program or sends it back
// to the notification area; left alone for twenty seconds it ends it.
#pragma once

#include <QDialog>
#include <QtGlobal>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvane {

// Milliseconds on a steady clock. The countdown reads the time instead of counting ticks,
// so a busy window (a refresh pumps messages) does not stretch it; tests run it faster.
using CountdownClock = std::function<qint64()>;
CountdownClock steadyClock();

class TfrmExit : public QDialog {
    Q_OBJECT
public:
    explicit TfrmExit(QWidget* parent = nullptr, CountdownClock clock = steadyClock());

    QLabel* Image1 = nullptr;
    QLabel* lblMessage = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblTimeout1 = nullptr;
    QPushButton* btnOk = nullptr;     // "Terminate"
    QPushButton* btnCancel = nullptr; // "Minimize"
    QProgressBar* pbarTimeout = nullptr;
    QTimer* tmrTimeout = nullptr;

    bool terminate = false;

    void FormShow();
    void tmrTimeoutTimer();
    void btnOkClick();
    void FormClose();

    // The bar's position for the time passed since the dialog opened: 10 per 20 ms.
    static int barPosition(qint64 elapsedMs);
    // The seconds the label shows for a bar position.
    static int secondsLeft(int position);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    CountdownClock clock_;
    qint64 shownAt_ = 0;
};

// The single instance, created at start-up.
extern TfrmExit* frmExit;

} // namespace corvane
