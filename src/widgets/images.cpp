#include "widgets/images.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <array>

namespace corvane {
namespace {

// Our own pictures, drawn on a 16-unit grid so they stay sharp at 16 and 32 pixels.
enum class Glyph {
    Standard, // a picture of the desktop style
    Monitor,
    Bullet,
    Clock,
    Router,
    Route,
    List,
    Gear,
    Bars,
    Box,   // a rounded box with a short text
    Pages, // copy
    Window,
    ArrowDown,
    ArrowUp,
    PlusBox,
    MinusBox,
    Cross,
    Target,
    Funnel,
    Tag,
    Plug,
};

enum class Badge { None, Plus, Minus, Pen, Cross, Up, Down };

struct Picture {
    int index;
    Glyph glyph;
    QColor color;
    Badge badge = Badge::None;
    const char* text = nullptr;                              // for Glyph::Box
    QStyle::StandardPixmap standard = QStyle::SP_CustomBase; // for Glyph::Standard
};

const QColor green(40, 150, 60);
const QColor grey(150, 150, 150);
const QColor blue(40, 90, 180);
const QColor red(200, 50, 40);
const QColor orange(220, 130, 20);
const QColor teal(20, 130, 140);

const Picture pictures[] = {
    {img::AdapterActive, Glyph::Monitor, green},
    {img::AdapterInactive, Glyph::Monitor, grey},
    {img::AdapterUnnamed, Glyph::Monitor, blue},
    {img::Group, Glyph::Standard, {}, Badge::None, nullptr, QStyle::SP_DirIcon},
    {img::Detail, Glyph::Bullet, blue},
    {img::Refresh, Glyph::Standard, {}, Badge::None, nullptr, QStyle::SP_BrowserReload},
    {img::SaveReport, Glyph::Standard, {}, Badge::None, nullptr, QStyle::SP_DialogSaveButton},
    {img::Options, Glyph::Gear, QColor(90, 90, 110)},
    {img::Help, Glyph::Box, blue, Badge::None, "?"},
    {img::About, Glyph::Box, teal, Badge::None, "i"},
    {img::AddRoute, Glyph::Route, blue, Badge::Plus},
    {img::AddFromList, Glyph::List, blue, Badge::Plus},
    {img::ModifyRoute, Glyph::Route, blue, Badge::Pen},
    {img::DeleteRoute, Glyph::Route, blue, Badge::Minus},
    {img::DeleteList, Glyph::List, blue, Badge::Minus},
    {img::BestRoute, Glyph::Target, red},
    {img::LeaseObtained, Glyph::Clock, green},
    {img::LeaseExpires, Glyph::Clock, red},
    {img::Gateway, Glyph::Router, teal},
    {img::EnableIF, Glyph::Monitor, green, Badge::Up},
    {img::DisableIF, Glyph::Monitor, red, Badge::Down},
    {img::IfStats, Glyph::Bars, green},
    {img::IpStats, Glyph::Bars, blue},
    {img::Tray, Glyph::ArrowDown, blue},
    {img::Expand, Glyph::PlusBox, blue},
    {img::Collapse, Glyph::MinusBox, blue},
    {img::Copy, Glyph::Pages, blue},
    {img::Show, Glyph::Window, blue},
    {img::Renew, Glyph::Standard, {}, Badge::None, nullptr, QStyle::SP_BrowserReload},
    {img::AdapterUnnamedInactive, Glyph::Monitor, QColor(170, 120, 120)},
    {img::Exit, Glyph::Cross, red},
    {img::UnTray, Glyph::ArrowUp, blue},
    {img::SelectAll, Glyph::Box, grey, Badge::None, "A"},
    {img::Filter, Glyph::Funnel, orange},
    {img::IpAddresses, Glyph::Box, blue, Badge::None, "IP"},
    {img::Host, Glyph::Standard, {}, Badge::None, nullptr, QStyle::SP_ComputerIcon},
    {img::DeleteIP, Glyph::Box, blue, Badge::Minus, "IP"},
    {img::AddIP, Glyph::Box, blue, Badge::Plus, "IP"},
    {img::Mask, Glyph::Box, teal, Badge::None, "/"},
    {img::Index, Glyph::Box, grey, Badge::None, "#"},
    {img::Media, Glyph::Plug, teal},
    {img::Apipa, Glyph::Box, orange, Badge::None, "A"},
    {img::Mac, Glyph::Box, QColor(110, 80, 150), Badge::None, "M"},
    {img::ConnectionName, Glyph::Tag, green},
};

void drawBadge(QPainter& p, Badge badge) {
    if (badge == Badge::None)
        return;
    const QColor colour =
        badge == Badge::Minus || badge == Badge::Cross || badge == Badge::Down ? red : green;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(8.5, 8.5, 7.5, 7.5));
    p.setBrush(colour);
    p.drawEllipse(QRectF(9, 9, 6.5, 6.5));
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    const QPointF c(12.25, 12.25);
    switch (badge) {
    case Badge::Plus:
        p.drawLine(c + QPointF(-2, 0), c + QPointF(2, 0));
        p.drawLine(c + QPointF(0, -2), c + QPointF(0, 2));
        break;
    case Badge::Minus:
        p.drawLine(c + QPointF(-2, 0), c + QPointF(2, 0));
        break;
    case Badge::Pen:
        p.drawLine(c + QPointF(-1.8, 1.8), c + QPointF(1.8, -1.8));
        break;
    case Badge::Cross:
        p.drawLine(c + QPointF(-1.6, -1.6), c + QPointF(1.6, 1.6));
        p.drawLine(c + QPointF(-1.6, 1.6), c + QPointF(1.6, -1.6));
        break;
    case Badge::Up:
        p.drawLine(c + QPointF(0, 2), c + QPointF(0, -2));
        p.drawLine(c + QPointF(-1.6, -0.4), c + QPointF(0, -2));
        p.drawLine(c + QPointF(1.6, -0.4), c + QPointF(0, -2));
        break;
    case Badge::Down:
        p.drawLine(c + QPointF(0, -2), c + QPointF(0, 2));
        p.drawLine(c + QPointF(-1.6, 0.4), c + QPointF(0, 2));
        p.drawLine(c + QPointF(1.6, 0.4), c + QPointF(0, 2));
        break;
    case Badge::None:
        break;
    }
}

void drawArrow(QPainter& p, const QColor& c, bool down) {
    p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const qreal tip = down ? 10 : 2;
    const qreal tail = down ? 2 : 10;
    p.drawLine(QPointF(8, tail), QPointF(8, tip));
    p.drawLine(QPointF(4.5, down ? tip - 3.5 : tip + 3.5), QPointF(8, tip));
    p.drawLine(QPointF(11.5, down ? tip - 3.5 : tip + 3.5), QPointF(8, tip));
    p.setPen(QPen(QColor(90, 90, 90), 1.2));
    p.setBrush(QColor(220, 220, 220));
    p.drawRect(QRectF(2.5, 12, 11, 3));
}

void drawGlyph(QPainter& p, const Picture& pic) {
    const QColor& c = pic.color;
    const QColor light = c.lighter(170);
    p.setRenderHint(QPainter::Antialiasing);
    switch (pic.glyph) {
    case Glyph::Standard:
        break;
    case Glyph::Monitor:
        p.setPen(QPen(c.darker(140), 1.0));
        p.setBrush(light);
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1.5, 1.5);
        p.setBrush(c);
        p.drawRect(QRectF(3.5, 4.5, 9, 5));
        p.setBrush(c.darker(140));
        p.drawRect(QRectF(6, 12, 4, 1.5));
        p.drawRect(QRectF(4, 13.5, 8, 1.5));
        break;
    case Glyph::Bullet:
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QRectF(5, 5, 6, 6));
        break;
    case Glyph::Clock:
        p.setPen(QPen(c.darker(130), 1.2));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(c.darker(130), 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(8, 4));
        p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
        break;
    case Glyph::Router:
        p.setPen(QPen(c.darker(140), 1.0));
        p.setBrush(c);
        p.drawEllipse(QRectF(1.5, 4.5, 13, 7));
        p.setPen(QPen(Qt::white, 1.3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
        p.drawLine(QPointF(9.5, 6.5), QPointF(11.5, 8));
        p.drawLine(QPointF(9.5, 9.5), QPointF(11.5, 8));
        break;
    case Glyph::Route: {
        p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath path(QPointF(2, 13));
        path.cubicTo(QPointF(2, 6), QPointF(8, 8), QPointF(11, 3));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        p.drawLine(QPointF(11, 3), QPointF(7.5, 3.5));
        p.drawLine(QPointF(11, 3), QPointF(11.5, 6.5));
        break;
    }
    case Glyph::List:
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(2, 3 + i * 3.2), QPointF(i % 2 ? 10 : 12, 3 + i * 3.2));
        break;
    case Glyph::Gear:
        p.setPen(QPen(c, 2.6, Qt::SolidLine, Qt::FlatCap));
        for (int i = 0; i < 4; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(45.0 * i);
            p.drawLine(QPointF(0, -6.5), QPointF(0, 6.5));
            p.restore();
        }
        p.setPen(QPen(c, 1.0));
        p.setBrush(c.lighter(150));
        p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(6, 6, 4, 4));
        break;
    case Glyph::Bars:
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRect(QRectF(2, 9, 3, 5));
        p.drawRect(QRectF(6.5, 4, 3, 10));
        p.drawRect(QRectF(11, 7, 3, 7));
        p.setPen(QPen(QColor(90, 90, 90), 1.0));
        p.drawLine(QPointF(1, 14.5), QPointF(15, 14.5));
        break;
    case Glyph::Box: {
        p.setPen(QPen(c.darker(130), 1.0));
        p.setBrush(c);
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2.5, 2.5);
        QFont f = QApplication::font();
        f.setBold(true);
        f.setPixelSize(qstrlen(pic.text) > 1 ? 7 : 10);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QString::fromLatin1(pic.text));
        break;
    }
    case Glyph::Pages:
        p.setPen(QPen(c.darker(130), 1.0));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 8, 10));
        p.setBrush(light);
        p.drawRect(QRectF(5.5, 4.5, 8, 10));
        break;
    case Glyph::Window:
        p.setPen(QPen(c.darker(130), 1.0));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setBrush(c);
        p.drawRect(QRectF(1.5, 2.5, 13, 3));
        break;
    case Glyph::ArrowDown:
        drawArrow(p, c, true);
        break;
    case Glyph::ArrowUp:
        drawArrow(p, c, false);
        break;
    case Glyph::PlusBox:
    case Glyph::MinusBox:
        p.setPen(QPen(c.darker(130), 1.0));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setPen(QPen(c, 1.6));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        if (pic.glyph == Glyph::PlusBox)
            p.drawLine(QPointF(8, 5), QPointF(8, 11));
        break;
    case Glyph::Cross:
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(5.5, 10.5), QPointF(10.5, 5.5));
        break;
    case Glyph::Target:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(c, 1.4));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawEllipse(QRectF(5, 5, 6, 6));
        p.setPen(QPen(c, 1.2));
        p.drawLine(QPointF(8, 0.5), QPointF(8, 15.5));
        p.drawLine(QPointF(0.5, 8), QPointF(15.5, 8));
        break;
    case Glyph::Funnel: {
        QPainterPath path;
        path.moveTo(1.5, 2.5);
        path.lineTo(14.5, 2.5);
        path.lineTo(9.5, 8.5);
        path.lineTo(9.5, 14);
        path.lineTo(6.5, 12.5);
        path.lineTo(6.5, 8.5);
        path.closeSubpath();
        p.setPen(QPen(c.darker(140), 1.0));
        p.setBrush(c);
        p.drawPath(path);
        break;
    }
    case Glyph::Tag: {
        QPainterPath path;
        path.moveTo(1.5, 4.5);
        path.lineTo(10, 4.5);
        path.lineTo(14.5, 8);
        path.lineTo(10, 11.5);
        path.lineTo(1.5, 11.5);
        path.closeSubpath();
        p.setPen(QPen(c.darker(140), 1.0));
        p.setBrush(c);
        p.drawPath(path);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(9.5, 7, 2, 2));
        break;
    }
    case Glyph::Plug:
        p.setPen(QPen(c.darker(130), 1.0));
        p.setBrush(c);
        p.drawRoundedRect(QRectF(3.5, 4.5, 9, 7), 1.5, 1.5);
        p.setPen(QPen(c.darker(130), 1.6));
        p.drawLine(QPointF(6, 4.5), QPointF(6, 1.5));
        p.drawLine(QPointF(10, 4.5), QPointF(10, 1.5));
        p.drawLine(QPointF(8, 11.5), QPointF(8, 15));
        break;
    }
    drawBadge(p, pic.badge);
}

QIcon paint(const Picture& pic) {
    if (pic.glyph == Glyph::Standard)
        return QApplication::style()->standardIcon(pic.standard);
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.scale(size / 16.0, size / 16.0);
        drawGlyph(p, pic);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

ImageList::ImageList() {
    icons_.resize(img::count);
    for (const Picture& pic : pictures)
        icons_[pic.index] = paint(pic);
}

QIcon ImageList::icon(int index) const {
    return index >= 0 && index < count() ? icons_[index] : QIcon();
}

} // namespace corvane
