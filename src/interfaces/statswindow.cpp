#include "interfaces/statswindow.h"

#include "widgets/dialogparts.h"
#include "widgets/fixedcolours.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace corvane {
namespace {

// A counter's room never changes with its value: the largest 32-bit one fits from the start,
// so no caption beside it is squeezed when the counters grow.
class CounterLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return roomy(QLabel::sizeHint()); }
    QSize minimumSizeHint() const override { return roomy(QLabel::minimumSizeHint()); }

private:
    QSize roomy(QSize size) const {
        const int widest = fontMetrics().horizontalAdvance(QStringLiteral("4294967295"));
        return size.expandedTo(QSize(widest + 2 * (margin() + frameWidth()), 0));
    }
};

} // namespace

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
    designed_ = designed;
    fitContents();
}

void StatsWindow::fitContents() {
    const QSize size = sizeHint().expandedTo(designed_);
    if (minimumSize() != size || maximumSize() != size)
        setFixedSize(size);
}

bool StatsWindow::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    // A caption that asks for more room (a longer group title, another font) gets it: the
    // size stays fixed, but never below what the contents need.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        fitContents();
    return handled;
}

QLabel* StatsWindow::valueLabel(QWidget* parent, const char* name) {
    auto* label = new CounterLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    keepFixedTextColour(label, QPalette::WindowText, QPalette::Window, QColor(0, 0, 128));
    return label;
}

void StatsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        fitContents();
        centreOnScreen(*this);
    }
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
