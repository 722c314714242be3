#include "widgets/images.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <iterator>
#include <memory>

namespace corvane {
namespace {

// The picture of each index, a file in src/widgets/pictures drawn on a 16-unit grid.
struct Picture {
    int index;
    const char* file;
};

const Picture pictures[] = {
    {img::AdapterActive, "adapter-active"},
    {img::AdapterInactive, "adapter-inactive"},
    {img::AdapterUnnamed, "adapter-unnamed"},
    {img::Group, "group"},
    {img::Detail, "detail"},
    {img::Refresh, "refresh"},
    {img::SaveReport, "save-report"},
    {img::Options, "options"},
    {img::Help, "help"},
    {img::About, "about"},
    {img::AddRoute, "add-route"},
    {img::AddFromList, "add-from-list"},
    {img::ModifyRoute, "modify-route"},
    {img::DeleteRoute, "delete-route"},
    {img::DeleteList, "delete-list"},
    {img::BestRoute, "best-route"},
    {img::LeaseObtained, "lease-obtained"},
    {img::LeaseExpires, "lease-expires"},
    {img::Gateway, "gateway"},
    {img::EnableIF, "enable-if"},
    {img::DisableIF, "disable-if"},
    {img::IfStats, "if-stats"},
    {img::IpStats, "ip-stats"},
    {img::Tray, "tray"},
    {img::Expand, "expand"},
    {img::Collapse, "collapse"},
    {img::Copy, "copy"},
    {img::Show, "show"},
    {img::Renew, "refresh"},
    {img::AdapterUnnamedInactive, "adapter-unnamed-inactive"},
    {img::Exit, "exit"},
    {img::UnTray, "untray"},
    {img::SelectAll, "select-all"},
    {img::Filter, "filter"},
    {img::IpAddresses, "ip-addresses"},
    {img::Host, "host"},
    {img::DeleteIP, "delete-ip"},
    {img::AddIP, "add-ip"},
    {img::Mask, "mask"},
    {img::Index, "index"},
    {img::Media, "media"},
    {img::Apipa, "apipa"},
    {img::Mac, "mac"},
    {img::ConnectionName, "connection-name"},
};
static_assert(std::size(pictures) == img::count);

// Renders the drawing at the size asked for, in device pixels, so that the picture is as sharp
// on a screen of twice the density as on an ordinary one. Qt SVG's renderer is called directly:
// no image plugin is loaded for it.
class SvgEngine final : public QIconEngine {
public:
    explicit SvgEngine(std::shared_ptr<QSvgRenderer> renderer, QString key)
        : renderer_(std::move(renderer)), key_(std::move(key)) {}

    QIconEngine* clone() const override { return new SvgEngine(renderer_, key_); }
    QString key() const override { return QStringLiteral("corvane-svg"); }
    bool isNull() override { return !renderer_->isValid(); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        if (size.isEmpty())
            return {};
        const QString cacheKey = QStringLiteral("corvane-svg/%1/%2x%3/%4")
                                     .arg(key_)
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(int(mode));
        QPixmap pm;
        if (QPixmapCache::find(cacheKey, &pm))
            return pm;
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            renderer_->render(&p, square(size));
        }
        pm = QPixmap::fromImage(std::move(image));
        if (mode != QIcon::Normal) { // as Qt does for pictures without a drawing per mode
            QStyleOption opt;
            opt.palette = QApplication::palette();
            const QPixmap generated = QApplication::style()->generatedIconPixmap(mode, pm, &opt);
            if (!generated.isNull())
                pm = generated;
        }
        QPixmapCache::insert(cacheKey, pm);
        return pm;
    }

    // Qt asks pixmap() for the size in device pixels on a dense screen (scaledPixmap's default).
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = pixmap((QSizeF(rect.size()) * dpr).toSize(), mode, state);
        pm.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pm);
    }

private:
    // The drawings are square: a rectangle asked for gets the picture centred, not stretched.
    static QRectF square(const QSize& size) {
        const int side = qMin(size.width(), size.height());
        return {(size.width() - side) / 2.0, (size.height() - side) / 2.0, qreal(side),
                qreal(side)};
    }

    std::shared_ptr<QSvgRenderer> renderer_;
    QString key_;
};

QIcon load(const char* file) {
    const QString name = QString::fromLatin1(file);
    auto renderer =
        std::make_shared<QSvgRenderer>(QStringLiteral(":/corvane/pictures/%1.svg").arg(name));
    if (!renderer->isValid())
        return {};
    return QIcon(new SvgEngine(std::move(renderer), name));
}

} // namespace

ImageList::ImageList() {
    icons_.resize(img::count);
    for (const Picture& pic : pictures)
        icons_[pic.index] = load(pic.file);
}

QIcon ImageList::icon(int index) const {
    return index >= 0 && index < count() ? icons_[index] : QIcon();
}

} // namespace corvane
