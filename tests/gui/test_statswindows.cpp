// The two statistics windows at their widest: the largest counter in every row and the longest
// interface caption. Every caption and every value shows whole; nothing is elided or cut.
// With CORVANE_SHOTS_DIR set, pictures of both windows are written there.
#include "gui_fixture.h"
#include "interfaces/frmifdetails.h"
#include "interfaces/frmipdetails.h"
#include "interfaces/ifstats.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <cstring>
#include <limits>

using namespace corvane;
using namespace corvane::test;

namespace {

const QString largest = QString::number(std::numeric_limits<DWORD>::max());

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void save(QWidget& window, const char* name) {
    const QString dir = qEnvironmentVariable("CORVANE_SHOTS_DIR");
    if (!dir.isEmpty())
        window.grab().save(dir + QLatin1Char('/') + QLatin1String(name));
}

// Every shown label has the room its text asks for, and a group the room of its title.
void expectWhole(QWidget& window, const QList<QLabel*>& values) {
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window))
            continue;
        SCOPED_TRACE((label->objectName() + QStringLiteral(": ") + label->text()).toStdString());
        EXPECT_LE(label->sizeHint().width(), label->width());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                  label->contentsRect().width());
    }
    for (QLabel* value : values) {
        SCOPED_TRACE(value->objectName().toStdString());
        EXPECT_EQ(value->text(), largest);
    }
    for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
        SCOPED_TRACE(group->title().toStdString());
        EXPECT_LE(group->minimumSizeHint().width(), group->width());
        EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width());
    }
    EXPECT_LE(window.minimumSizeHint().width(), window.width());
    EXPECT_LE(window.minimumSizeHint().height(), window.height());
}

TEST(StatisticsWindows, InterfaceCountersAtTheirLargestShowWhole) {
    guiApp();
    TfrmIfDetails d;
    d.show();
    settle();
    const QSize empty = d.size();
    EXPECT_GE(empty.width(), 292);
    EXPECT_GE(empty.height(), 356);
    d.SetStatisticsActive(true);
    // The longest caption the window makes: 34 characters, "...", the widest index.
    d.gbxIfStats->setTitle(ifStatsCaption(
        QStringLiteral("Intel(R) PRO/1000 MT Desktop Adapter WWW"), QStringLiteral("0xFFFFFFFF")));
    const QList<QLabel*> values = {d.lblinOctets,    d.lblinUcastPkts,  d.lblinNUcastPkts,
                                   d.lblinDiscards,  d.lblinErrors,     d.lblinUnknownProtos,
                                   d.lbloutOctets,   d.lbloutUcastPkts, d.lbloutNUcastPkts,
                                   d.lbloutDiscards, d.lbloutErrors,    d.lblMtu,
                                   d.lbloutQLen,     d.lblinOctetsps,   d.lbloutOctetsps};
    for (QLabel* value : values)
        value->setText(largest);
    d.pbIOPS->setValue(meterMaximum);
    settle();
    save(d, "frmIfDetails_largest.png");
    expectWhole(d, values);
    EXPECT_EQ(d.minimumSize(), d.maximumSize()); // still a fixed size
    d.hide();
}

TEST(StatisticsWindows, IpCountersAtTheirLargestShowWhole) {
    guiApp();
    TfrmIPDetails d;
    d.show();
    settle();
    EXPECT_GE(d.width(), 293);
    EXPECT_GE(d.height(), 283);
    MIB_IPSTATS s{};
    std::memset(&s, 0xFF, sizeof s); // every counter at its largest, forwarding on
    d.showStatistics(s);
    settle();
    save(d, "frmIPDetails_largest.png");
    const QList<QLabel*> values = {d.lblinReceives,  d.lbloutRequest,   d.lblForwarded,
                                   d.lblinHdrErrors, d.lblinAddrErrors, d.lblinUnknownProtos,
                                   d.lblinDiscards,  d.lblFailedReasm,  d.lbloutDiscards,
                                   d.lbloutNoRoutes, d.lblFailedFrags,  d.lblReasmTimeout,
                                   d.lblDefaultTTL};
    ASSERT_TRUE(d.lblForwardedLabel->isVisible());
    expectWhole(d, values);
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    d.hide();
}

} // namespace
