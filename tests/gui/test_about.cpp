// The About box, its picture and libjpeg decoding, and the help file's topics.
#include "gui_fixture.h"
#include "shell/jpeg.h"
#include "widgets/fixedcolours.h"
#include "widgets/help.h"
#include "widgets/helpviewer.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <algorithm>

using namespace corvane;
using namespace corvane::test;

namespace {

using About = MainWindowFixture;

TEST_F(About, LinkOpensTheHomePageOrSaysWhyNot) {
    std::vector<QUrl> opened;
    const auto saved = TfrmAbout::urlOpener;
    for (const bool accepted : {true, false}) {
        TfrmAbout::urlOpener = [&](const QUrl& url) {
            opened.push_back(url);
            return accepted;
        };
        frmAbout->LinkLabelClick();
    }
    TfrmAbout::urlOpener = saved;
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], TfrmAbout::homePage);
    ASSERT_EQ(prompts.messages.size(), 1u); // only the failure speaks
    EXPECT_EQ(prompts.messages[0].text, "Unable to start http client.");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(prompts.messages[0].buttons, MsgButtons::Ok);
}

// The picture is light in any palette: its texts stay readable on it in a dark one too.
TEST_F(About, TextsReadableOnThePictureInADarkPalette) {
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);
    {
        TfrmAbout box;
        const QImage picture = box.picture().scaled(box.size());
        for (const QLabel* label : {box.VerLabel, box.lblCopyright, box.lblCredit, box.lblUpdates,
                                    box.lblVisit, box.LinkLabel}) {
            // The mean of the picture behind the label is the ground its text is read on.
            const QRect r = label->geometry().intersected(picture.rect());
            double red = 0, green = 0, blue = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QColor c = picture.pixelColor(x, y);
                    red += c.redF();
                    green += c.greenF();
                    blue += c.blueF();
                }
            const double n = double(r.width()) * r.height();
            const QColor ground =
                QColor::fromRgbF(float(red / n), float(green / n), float(blue / n));
            EXPECT_GE(contrastRatio(label->palette().color(QPalette::WindowText), ground), 4.5)
                << label->objectName().toStdString() << " " << label->text().toStdString();
        }
    }
    QApplication::setPalette(before);
}

TEST_F(About, BoxLayout) {
    TfrmAbout& box = *frmAbout;
    EXPECT_EQ(box.size(), QSize(372, 257));
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(box.picture().size(), QSize(372, 257)); // decoded from the embedded JPEG
    EXPECT_TRUE(box.VerLabel->font().bold());
    EXPECT_TRUE(box.LinkLabel->font().underline());
    EXPECT_EQ(box.LinkLabel->toolTip(), "Go to author's home page");
    EXPECT_EQ(box.LinkLabel->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(box.LinkLabel->text(), TfrmAbout::homePage.toString());
    EXPECT_EQ(box.lblUpdates->text(), "For updated versions and other free software products ");
    EXPECT_EQ(box.lblVisit->text(), "please visit");
    // The same statement as the package's copyright file and metadata: no licence is granted.
    EXPECT_EQ(box.lblCopyright->text(), "\u00A9 2026 Corvane developers. All rights reserved.");
    EXPECT_LE(box.lblCopyright->sizeHint().width(), box.lblCopyright->width());
    EXPECT_EQ(box.btnOK->text(), "Ok");
    EXPECT_TRUE(box.btnOK->isDefault());
}

TEST(Jpeg, RoundTripKeepsThePicture) {
    guiApp();
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 200));
    QPainter(&image).fillRect(0, 0, 32, 48, QColor(240, 200, 40));
    const QByteArray jpeg = encodeJpeg(image, 95);
    ASSERT_FALSE(jpeg.isEmpty());
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8"));
    const QImage back = decodeJpeg(jpeg);
    ASSERT_EQ(back.size(), image.size());
    for (const QPoint p : {QPoint(8, 8), QPoint(56, 40)}) {
        const QColor a = image.pixelColor(p), b = back.pixelColor(p);
        EXPECT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                      std::abs(a.blue() - b.blue()),
                  24);
    }
}

TEST(Jpeg, BrokenDataGivesNoPictureAndKeepsTheProgramAlive) {
    guiApp();
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QByteArray good = encodeJpeg(image);
    // A start marker followed by no image at all.
    const QByteArray noImage = QByteArray("\xFF\xD8", 2) + QByteArray(64, 'x');
    const QByteArray cases[] = {QByteArray(), QByteArray("not a picture at all"), good.left(20),
                                noImage};
    for (const QByteArray& data : cases)
        EXPECT_TRUE(decodeJpeg(data).isNull()) << data.size();
    EXPECT_TRUE(encodeJpeg(QImage()).isEmpty());
}

TEST(HelpFile, HasATopicForEveryContextTheProgramOpens) {
    guiApp();
    QFile file(helpFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << helpFilePath().toStdString();
    const QString html = QString::fromUtf8(file.readAll());
    const int contexts[] = {1000, 1100, 1200, 1300, 1400, 1450, 1500, 2010, 2020, 2030,
                            2040, 2045, 2046, 2050, 2510, 2520, 2530, 2540, 2550, 2560,
                            3010, 3020, 4010, 5005, 5010, 5020, 5030, 6010, 6020, 7030,
                            8010, 9010, 9020, 9025, 9030, 9040, 9050, 9060, 9065, 9070,
                            9080, 9090, 9100, 9110, 9120, 9130, 9140, 9170, 9320};
    for (const int c : contexts)
        EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"%1\">").arg(c))) << c;
    // Every link inside the file leads to a topic that exists.
    const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString target = it.next().captured(1);
        EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"%1\">").arg(target)))
            << target.toStdString();
    }
}

TEST(HelpFile, UnknownContextOpensTheContents) {
    guiApp();
    showHelp(1400);
    ASSERT_NE(helpViewer(), nullptr);
    EXPECT_EQ(helpViewer()->currentContext(), 1400);
    showHelp(4242);
    EXPECT_EQ(helpViewer()->currentContext(), 0);
    EXPECT_TRUE(helpViewer()->isVisible());
    delete helpViewer();
}

} // namespace

namespace {

class HelpViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        showHelp(1400);
        viewer = helpViewer();
        ASSERT_NE(viewer, nullptr);
    }
    void TearDown() override { delete helpViewer(); }
    HelpViewer* viewer = nullptr;
};

TEST_F(HelpViewerTest, BackAndForwardReturnThroughTheTopicsShown) {
    EXPECT_FALSE(viewer->backAction()->isEnabled());
    showHelp(2510);
    // A link followed inside the file counts as a step as well.
    viewer->browser()->setSource(QUrl(QStringLiteral("#2520")));
    EXPECT_EQ(viewer->currentContext(), 2520);
    ASSERT_TRUE(viewer->backAction()->isEnabled());
    viewer->backAction()->trigger();
    EXPECT_EQ(viewer->currentContext(), 2510);
    viewer->backAction()->trigger();
    EXPECT_EQ(viewer->currentContext(), 1400);
    EXPECT_FALSE(viewer->backAction()->isEnabled());
    ASSERT_TRUE(viewer->forwardAction()->isEnabled());
    viewer->forwardAction()->trigger();
    EXPECT_EQ(viewer->currentContext(), 2510);
    EXPECT_EQ(viewer->backAction()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Left));
    EXPECT_EQ(viewer->forwardAction()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Right));
    // A new topic after going back drops what lay ahead.
    showHelp(1100);
    EXPECT_FALSE(viewer->forwardAction()->isEnabled());
}

TEST_F(HelpViewerTest, FindSelectsEachMatchInTurnAndMarksThemAll) {
    QLineEdit* field = viewer->findField();
    field->setText(QStringLiteral("persistent"));
    const QString lower = viewer->browser()->toPlainText().toLower();
    const qsizetype total = lower.count(QStringLiteral("persistent"));
    ASSERT_GE(total, 2);
    std::vector<int> starts;
    for (qsizetype i = 0; i <= total; ++i) {
        ASSERT_TRUE(viewer->findNext());
        const QTextCursor hit = viewer->browser()->textCursor();
        EXPECT_EQ(hit.selectedText().toLower(), QStringLiteral("persistent"));
        starts.push_back(hit.selectionStart());
    }
    // Past the last match it starts from the top.
    EXPECT_EQ(starts.back(), starts.front());
    EXPECT_TRUE(std::is_sorted(starts.begin(), starts.end() - 1));
    EXPECT_EQ(viewer->browser()->extraSelections().size(), total);

    field->setText(QStringLiteral("no such words here"));
    EXPECT_FALSE(viewer->findNext());
    EXPECT_TRUE(viewer->browser()->extraSelections().isEmpty());
}

TEST_F(HelpViewerTest, KeysReachTheFindFieldAndTheHistory) {
    showHelp(2510);
    viewer->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer));
    viewer->browser()->setFocus();
    QTest::keyClick(viewer->browser(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(viewer->findField()->hasFocus());
    QTest::keyClicks(viewer->findField(), QStringLiteral("route"));
    QTest::keyClick(viewer->findField(), Qt::Key_Return);
    EXPECT_EQ(viewer->browser()->textCursor().selectedText().toLower(), QStringLiteral("route"));
    // From the find field, Alt+Left still goes back.
    QTest::keyClick(viewer->findField(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(viewer->currentContext(), 1400);
}

} // namespace
