// The shared pictures: every index draws something at the sizes the window uses, sharp on a
// dense screen, greyed when disabled, each its own drawing, and without Qt's image plugins.
#include "gui_fixture.h"
#include "widgets/images.h"

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <set>

using namespace corvane;

namespace {

// Pixels that are not (nearly) transparent.
int inkedPixels(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int inked = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            inked += qAlpha(argb.pixel(x, y)) > 32;
    return inked;
}

class Images : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::guiApp();
        // No plugin folder: the pictures must not depend on Qt's SVG image plugin, which an
        // installed or root run may not be allowed to load.
        QCoreApplication::setLibraryPaths({});
        images = new ImageList;
    }
    static void TearDownTestSuite() {
        delete images;
        images = nullptr;
    }
    static inline ImageList* images = nullptr;
};

TEST_F(Images, EveryIndexDrawsAtSixteenAndThirtyTwoPixels) {
    ASSERT_EQ(images->count(), img::count);
    for (int i = 0; i < img::count; ++i) {
        SCOPED_TRACE(i);
        const QIcon icon = images->icon(i);
        ASSERT_FALSE(icon.isNull());
        for (const int size : {16, 32}) {
            const QPixmap pm = icon.pixmap(size);
            EXPECT_EQ(pm.size(), QSize(size, size));
            // A sixteenth of the square inked at least: a blank or a stray dot is no picture.
            EXPECT_GT(inkedPixels(pm.toImage()), size * size / 16) << size;
        }
    }
    EXPECT_TRUE(images->icon(-1).isNull());
    EXPECT_TRUE(images->icon(img::count).isNull());
}

TEST_F(Images, DenseScreensGetTheirOwnPixelsGreyedWhenDisabled) {
    for (int i = 0; i < img::count; ++i) {
        SCOPED_TRACE(i);
        const QIcon icon = images->icon(i);
        // Drawn for 32 device pixels, not 16 scaled up.
        const QPixmap dense = icon.pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(dense.size(), QSize(32, 32));
        EXPECT_DOUBLE_EQ(dense.devicePixelRatio(), 2.0);
        QImage denseImage = dense.toImage().convertToFormat(QImage::Format_ARGB32);
        denseImage.setDevicePixelRatio(1.0);
        EXPECT_EQ(denseImage, icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32));
        // Between the sizes drawn before, too (a tool bar at 1.5).
        EXPECT_EQ(icon.pixmap(QSize(16, 16), 1.5).size(), QSize(24, 24));
        EXPECT_NE(icon.pixmap(16, QIcon::Disabled).toImage(), icon.pixmap(16).toImage());
    }
}

TEST_F(Images, EachIndexHasItsOwnPicture) {
    // Refresh and renewal share the reload arrows; any other match is a slip in the table.
    std::set<QByteArray> seen;
    for (int i = 0; i < img::count; ++i) {
        if (i == img::Renew)
            continue;
        const QImage image =
            images->icon(i).pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
        const QByteArray bytes(reinterpret_cast<const char*>(image.constBits()),
                               image.sizeInBytes());
        EXPECT_TRUE(seen.insert(bytes).second) << "index " << i << " repeats a picture";
    }
    EXPECT_EQ(images->icon(img::Renew).pixmap(32).toImage(),
              images->icon(img::Refresh).pixmap(32).toImage());
}

} // namespace
