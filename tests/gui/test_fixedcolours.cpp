// The fixed text colours in a light and in a dark palette: as designed in the light one,
// readable (WCAG 4.5:1) and of the same hue in the dark ones.
#include "gui_fixture.h"
#include "interfaces/iftable_rows.h"
#include "routing/route_rows.h"
#include "widgets/fixedcolours.h"
#include "widgets/page.h"

#include <QLabel>
#include <QStyle>
#include <QStyleFactory>

using namespace corvane;
using namespace corvane::test;

namespace {

struct Ground {
    const char* name;
    QColor window;
    QColor base;
};

// A dark Fusion palette as desktops and tutorials set it, and Breeze Dark's grounds.
const Ground darkGrounds[] = {
    {"fusion dark", QColor(53, 53, 53), QColor(42, 42, 42)},
    {"breeze dark", QColor(0x31, 0x36, 0x3b), QColor(0x23, 0x26, 0x29)},
};

struct Fixed {
    const char* where;
    QColor colour;
};

std::vector<Fixed> fixedColours() {
    return {
        {"value labels, statistics values, Host Info lists (navy)", QColor(0, 0, 128)},
        {"interface rows, active", QColor::fromRgb(ifRowTextColour(1))},
        {"interface rows, inactive (silver)", QColor::fromRgb(ifRowTextColour(0))},
        {"routes: local (red)", QColor(255, 0, 0)},
        {"routes and connections: blue", QColor(0, 0, 255)},
        {"routes and connections: black", QColor(0, 0, 0)},
    };
}

TEST(FixedColours, ContrastOfKnownPairs) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::black), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 128), QColor(0, 0, 128)), 1.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 128), Qt::white), 16.0, 0.05);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 255), Qt::white), 8.59, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(255, 0, 0), Qt::white), 4.0, 0.01);
}

// The table: every fixed colour against the light palette's and the dark palettes' grounds.
TEST(FixedColours, LightKeepsTheDesignDarkReachesTheThresholdWithTheSameHue) {
    guiApp();
    const QPalette light = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    for (const Fixed& f : fixedColours()) {
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Base}) {
            const QColor ground = light.color(QPalette::Active, role);
            EXPECT_EQ(fixedTextColour(f.colour, ground), f.colour) << f.where;
        }
        for (const Ground& g : darkGrounds) {
            for (const QColor& ground : {g.window, g.base}) {
                const QColor shown = fixedTextColour(f.colour, ground);
                const double ratio = contrastRatio(shown, ground);
                EXPECT_GE(ratio, minTextContrast) << f.where << " on " << g.name;
                if (f.colour.hslSaturation() > 0) {
                    EXPECT_NEAR(shown.hslHue(), f.colour.hslHue(), 1) << f.where;
                    EXPECT_EQ(shown.hslSaturation(), f.colour.hslSaturation()) << f.where;
                    // Lightened no further than needed: not washed out to white.
                    EXPECT_LT(ratio, minTextContrast + 1.0) << f.where << " on " << g.name;
                }
            }
        }
    }
}

// Inactive rows are drawn dimmer than active ones in every palette.
TEST(FixedColours, DimmedRowsStayDimmerInTheDark) {
    const QColor active = QColor::fromRgb(ifRowTextColour(1));
    const QColor inactive = QColor::fromRgb(ifRowTextColour(0));
    for (const Ground& g : darkGrounds)
        EXPECT_GT(contrastRatio(fixedTextColour(active, g.base), g.base),
                  contrastRatio(fixedTextColour(inactive, g.base), g.base) + 3.0)
            << g.name;
    EXPECT_GT(contrastRatio(active, Qt::white), contrastRatio(inactive, Qt::white));
}

TEST(FixedColours, ValueLabelFollowsTheDesktopPalette) {
    QApplication& app = guiApp();
    const QPalette before = QApplication::palette();
    QWidget parent;
    QLabel* label = makeValueLabel(&parent, "lblValue", "a value");
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    QPalette dark = before;
    dark.setColor(QPalette::Window, darkGrounds[0].window);
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);
    QCoreApplication::sendPostedEvents();
    const QColor shown = label->palette().color(QPalette::WindowText);
    EXPECT_GE(contrastRatio(shown, label->palette().color(QPalette::Window)), minTextContrast);
    EXPECT_NEAR(shown.hslHue(), 240, 1);

    QApplication::setPalette(before);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    (void)app;
}

} // namespace
