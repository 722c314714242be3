#include "widgets/dialogparts.h"

#include "widgets/hints.h"

#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QVariant>
#include <QWidget>
#include <QWindow>

namespace corvane {

QWidget* describe(QWidget* control, const char* name, const char* hint, int helpContext) {
    control->setObjectName(QLatin1String(name));
    if (hint)
        applyHint(control, QString::fromUtf8(hint));
    if (helpContext)
        control->setProperty(helpContextProperty, helpContext);
    return control;
}

int focusedHelpContext(const QWidget& dialog) {
    for (const QWidget* w = dialog.focusWidget(); w && w != &dialog; w = w->parentWidget()) {
        const QVariant v = w->property(helpContextProperty);
        if (v.isValid())
            return v.toInt();
    }
    return 0;
}

void onHelpKey(QWidget* dialog, std::function<void()> help) {
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
    f1->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(f1, &QShortcut::activated, dialog, std::move(help));
}

void centreOnScreen(QWidget& dialog) {
    const QWidget* owner = dialog.parentWidget() ? dialog.parentWidget() : &dialog;
    if (const QScreen* shown = owner->screen())
        dialog.move(shown->availableGeometry().center() - dialog.rect().center());
}

QLabel* buddyLabel(QWidget* parent, const char* name, const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setBuddy(buddy);
    return label;
}

void fixDesignSize(QWidget& dialog, QSize design, Qt::Orientation growing) {
    const QSize size = dialog.sizeHint().expandedTo(design);
    if (growing == Qt::Horizontal) {
        dialog.setMinimumWidth(size.width());
        dialog.setFixedHeight(size.height());
    } else {
        dialog.setMinimumHeight(size.height());
        dialog.setFixedWidth(size.width());
    }
    dialog.resize(size);
}

namespace {

// Runs after the dialog's own show handlers (which may enable or fill its fields) and before
// the window is activated: activation then gives the keyboard to the field set here rather
// than to whatever leads the tab order, typically the Ok button.
class KeyboardStart : public QObject {
public:
    KeyboardStart(QWidget& dialog, std::function<QWidget*()> first)
        : QObject(&dialog), dialog_(dialog), first_(std::move(first)) {
        dialog.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::ShowToParent)
            start();
        return false;
    }

private:
    bool takes(const QWidget* w) const {
        return w && dialog_.isAncestorOf(w) && w->isEnabled() && w->isVisibleTo(&dialog_) &&
               (w->focusPolicy() & Qt::TabFocus);
    }
    void start() {
        QWidget* const first = first_();
        if (!first)
            return;
        QWidget* w = first;
        while (!takes(w)) {
            w = w->nextInFocusChain();
            if (!w || w == first)
                return;
        }
        // As a tab into it would: a line edit's text is selected.
        w->setFocus(Qt::TabFocusReason);
    }

    QWidget& dialog_;
    std::function<QWidget*()> first_;
};

} // namespace

void startKeyboardIn(QWidget& dialog, std::function<QWidget*()> first) {
    new KeyboardStart(dialog, std::move(first));
}

void keepOnTop(QWidget& window, bool onTop) {
    // Changing a shown widget's flags re-creates its window: it hides, and a modal run ends.
    // The shown native window takes the hint in place.
    if (QWindow* native = window.windowHandle())
        native->setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (!window.isVisible())
        window.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
}

QPixmap tilePicture(qreal ratio, const std::function<void(QPainter&)>& draw) {
    QPixmap pm(QSize(32, 32) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2b, 0x5c, 0x9e));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    draw(p);
    return pm;
}

} // namespace corvane
