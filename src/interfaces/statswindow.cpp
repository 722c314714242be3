#include "interfaces/statswindow.h"

#include "shell/dialogparts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {

StatsWindow::StatsWindow(const char* name, const char* title, QWidget* parent) : QDialog(parent) {
    setObjectName(QLatin1String(name));
    setWindowTitle(QLatin1String(title));
    // Not a dialog: window managers minimise a transient dialog together with its owner, and
    // "Always on top" sets the main window aside while this one stays.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    cbxKeepOnTop = new QCheckBox(QStringLiteral("Always on top"), this);
    cbxKeepOnTop->setObjectName(QStringLiteral("cbxKeepOnTop"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    btnClose->setMinimumWidth(75);
    connect(cbxKeepOnTop, &QCheckBox::clicked, this, &StatsWindow::cbxKeepOnTopClick);
}

void StatsWindow::finishLayout(std::initializer_list<QWidget*> groups, QSize designed) {
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cbxKeepOnTop);
    bottom->addStretch(1);
    bottom->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* group : groups)
        layout->addWidget(group);
    layout->addLayout(bottom);
    setFixedSize(sizeHint().expandedTo(designed));
}

QLabel* StatsWindow::valueLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette navy = label->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(navy);
    return label;
}

void StatsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        centreOnScreen(*this);
}

void StatsWindow::cbxKeepOnTopClick() {
    const bool onTop = cbxKeepOnTop->isChecked();
    keepOnTop(*this, onTop);
    emit mainWindowMinimised(onTop);
    if (!onTop)
        setFocus();
}

void StatsWindow::done(int result) {
    // However it closes, the window opens the next time neither on top nor ticked.
    cbxKeepOnTop->setChecked(false);
    keepOnTop(*this, false);
    emit mainWindowMinimised(false);
    QDialog::done(result);
}

} // namespace corvane
