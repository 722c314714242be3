#include "shell/frmabout.h"

#include "platform/prompter.h"
#include "shell/jpeg.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace corvane {

const QUrl TfrmAbout::homePage(QStringLiteral("https://corvane.example.org/"));
std::function<bool(const QUrl&)> TfrmAbout::urlOpener = [](const QUrl& url) {
    return QDesktopServices::openUrl(url);
};

namespace {

constexpr int boxWidth = 372;
constexpr int boxHeight = 257;

QImage loadPicture() {
    QFile file(QStringLiteral(":/corvane/about.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeJpeg(file.readAll());
}

QLabel* textLine(QWidget* parent, const QString& text, int y, int height = 16) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(12, y, boxWidth - 24, height);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), picture_(loadPicture()) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Corvane"));
    setFixedSize(boxWidth, boxHeight);

    VerLabel = textLine(this, QString(), 96, 18);
    VerLabel->setObjectName(QStringLiteral("VerLabel"));
    QFont bold = VerLabel->font();
    bold.setBold(true);
    VerLabel->setFont(bold);

    lblCopyright =
        textLine(this, QStringLiteral("\u00A9 2026 Corvane developers. All rights reserved."), 120);
    lblCredit = textLine(this, QStringLiteral("Tray icon: Qt"), 138);
    lblUpdates = textLine(
        this, QStringLiteral("For updated versions and other free software products "), 164);
    lblVisit = textLine(this, QStringLiteral("please visit"), 180);
    // The picture is light whatever the palette: in a dark one its white text would vanish.
    if (!picture_.isNull())
        for (QLabel* label : {VerLabel, lblCopyright, lblCredit, lblUpdates, lblVisit}) {
            QPalette dark = label->palette();
            dark.setColor(QPalette::WindowText, Qt::black);
            label->setPalette(dark);
        }

    LinkLabel = textLine(this, homePage.toString(), 197);
    LinkLabel->setObjectName(QStringLiteral("LinkLabel"));
    LinkLabel->adjustSize();
    LinkLabel->move((boxWidth - LinkLabel->width()) / 2, 197);
    QFont link = LinkLabel->font();
    link.setUnderline(true);
    LinkLabel->setFont(link);
    QPalette blue = LinkLabel->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    LinkLabel->setPalette(blue);
    LinkLabel->setCursor(Qt::PointingHandCursor);
    LinkLabel->setToolTip(QStringLiteral("Go to author's home page"));
    LinkLabel->installEventFilter(this);

    btnOK = new QPushButton(QStringLiteral("Ok"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry((boxWidth - 75) / 2, boxHeight - 36, 75, 25);
    btnOK->setDefault(true); // Escape closes the box too, as a dialog's reject does
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::LinkLabelClick() {
    if (!urlOpener || !urlOpener(homePage))
        showMessage(QStringLiteral("Unable to start http client."), QString(), MsgIcon::None);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LinkLabel && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        LinkLabelClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    if (picture_.isNull())
        p.fillRect(rect(), palette().window());
    else
        p.drawImage(rect(), picture_);
    p.setPen(QColor(90, 100, 120));
    p.drawRect(rect().adjusted(0, 0, -1, -1)); // no frame of its own: keep an edge
    QDialog::paintEvent(event);
}

void TfrmAbout::showEvent(QShowEvent* event) {
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    QDialog::showEvent(event);
}

} // namespace corvane
