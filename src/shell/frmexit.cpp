#include "shell/frmexit.h"

#include "widgets/dialogparts.h"

#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

TfrmExit* frmExit = nullptr;

namespace {

constexpr int kBarFull = 10000;
constexpr int kTickMs = 20;
constexpr int kStep = 10;

} // namespace

CountdownClock steadyClock() {
    return [] {
        static const QElapsedTimer started = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return started.elapsed();
    };
}

TfrmExit::TfrmExit(QWidget* parent, CountdownClock clock)
    : QDialog(parent), clock_(std::move(clock)) {
    setObjectName(QStringLiteral("frmExit"));
    setWindowTitle(QStringLiteral("Exit Corvane"));
    // Fixed single border with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(401, 136);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(32, 32);
    lblMessage = new QLabel(
        QStringLiteral("Click Terminate to close or Minimize to keep program in System Tray."),
        this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    Label1 = new QLabel(QStringLiteral("Program will terminate in "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    lblTime = new QLabel(QStringLiteral("20"), this);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblTimeout1 = new QLabel(QStringLiteral("seconds."), this);
    lblTimeout1->setObjectName(QStringLiteral("lblTimeout1"));
    pbarTimeout = new QProgressBar(this);
    pbarTimeout->setObjectName(QStringLiteral("pbarTimeout"));
    pbarTimeout->setRange(0, kBarFull);
    pbarTimeout->setValue(kBarFull);
    pbarTimeout->setTextVisible(false);
    pbarTimeout->setFixedHeight(16);
    btnOk = new QPushButton(QStringLiteral("Terminate"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setAutoDefault(false);
    btnCancel = new QPushButton(QStringLiteral("Minimize"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setDefault(true);
    tmrTimeout = new QTimer(this);
    tmrTimeout->setObjectName(QStringLiteral("tmrTimeout"));
    tmrTimeout->setInterval(kTickMs);

    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addWidget(lblMessage, 1);
    auto* count = new QHBoxLayout;
    count->setSpacing(0);
    count->addWidget(Label1);
    count->addWidget(lblTime);
    count->addSpacing(4);
    count->addWidget(lblTimeout1);
    count->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(8, 8, 8, 8);
    all->setSpacing(4);
    all->addLayout(top);
    all->addLayout(count);
    all->addWidget(pbarTimeout);
    all->addLayout(buttons);

    connect(btnOk, &QPushButton::clicked, this, &TfrmExit::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tmrTimeout, &QTimer::timeout, this, &TfrmExit::tmrTimeoutTimer);
}

void TfrmExit::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window manager's restore is not a new question: the countdown goes on.
    if (!event->spontaneous())
        FormShow();
}

void TfrmExit::FormShow() {
    Image1->setPixmap(windowIcon().pixmap(32, 32));
    centreOnScreen(*this);
    terminate = false;
    lblTime->setText(QStringLiteral("20"));
    pbarTimeout->setValue(kBarFull);
    shownAt_ = clock_();
    tmrTimeout->start();
}

int TfrmExit::barPosition(qint64 elapsedMs) {
    const qint64 ticks = elapsedMs / kTickMs;
    return ticks >= kBarFull / kStep ? 0 : kBarFull - static_cast<int>(ticks) * kStep;
}

int TfrmExit::secondsLeft(int position) {
    return (position + 499) / 500;
}

void TfrmExit::tmrTimeoutTimer() {
    const int position = barPosition(clock_() - shownAt_);
    if (position == pbarTimeout->value())
        return;
    pbarTimeout->setValue(position);
    lblTime->setText(QString::number(secondsLeft(position)));
    if (position == 0) {
        terminate = true;
        accept();
    }
}

void TfrmExit::btnOkClick() {
    terminate = true;
    accept();
}

void TfrmExit::FormClose() {
    tmrTimeout->stop();
}

void TfrmExit::done(int result) {
    FormClose();
    QDialog::done(result);
}

} // namespace corvane
