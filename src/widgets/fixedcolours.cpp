#include "widgets/fixedcolours.h"

#include <QEvent>
#include <QWidget>
#include <cmath>

namespace corvane {
namespace {

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// Below this luminance black text reads worse than white: the ground is dark.
constexpr double darkGround = 0.179;

class FixedColourKeeper : public QObject {
public:
    FixedColourKeeper(QWidget* widget, QPalette::ColorRole text, QPalette::ColorRole ground,
                      const QColor& fixed)
        : QObject(widget), widget_(widget), text_(text), ground_(ground), fixed_(fixed) {
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The new ground arrives as a palette change of the widget, after the desktop's.
        if (watched == widget_ && !applying_ &&
            (event->type() == QEvent::PaletteChange ||
             event->type() == QEvent::ApplicationPaletteChange))
            apply();
        return false;
    }

private:
    void apply() {
        QPalette p = widget_->palette();
        const QColor shown = fixedTextColour(fixed_, p.color(QPalette::Active, ground_));
        if (p.color(QPalette::Active, text_) == shown && p.isBrushSet(QPalette::Active, text_))
            return;
        p.setColor(text_, shown);
        applying_ = true;
        widget_->setPalette(p);
        applying_ = false;
    }

    QWidget* widget_;
    QPalette::ColorRole text_;
    QPalette::ColorRole ground_;
    QColor fixed_;
    bool applying_ = false;
};

} // namespace

double relativeLuminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor fixedTextColour(const QColor& fixed, const QColor& background) {
    if (relativeLuminance(background) >= darkGround)
        return fixed;
    // Lightness mirrored, so black text becomes white and a dimmed silver stays dimmer than
    // it; then lighter in the same hue until it reads.
    const QColor hsl = fixed.toHsl();
    for (int lightness = 255 - hsl.lightness(); lightness <= 255; lightness += 4) {
        const QColor shown =
            QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness, hsl.alpha()).toRgb();
        if (contrastRatio(shown, background) >= minTextContrast)
            return shown;
    }
    return {Qt::white};
}

void keepFixedTextColour(QWidget* widget, QPalette::ColorRole text, QPalette::ColorRole ground,
                         const QColor& fixed) {
    widget->installEventFilter(new FixedColourKeeper(widget, text, ground, fixed));
}

} // namespace corvane
