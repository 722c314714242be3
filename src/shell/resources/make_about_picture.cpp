// Paints the About box picture and writes it as JPEG. Run once when the picture changes:
//   QT_QPA_PLATFORM=offscreen make_about_picture src/shell/resources/about.jpg
#include "shell/jpeg.h"

#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <cstdio>

namespace {

QImage paintPicture() {
    QImage image(372, 257, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, 257);
    sky.setColorAt(0.0, QColor(233, 240, 250));
    sky.setColorAt(1.0, QColor(250, 252, 255));
    p.fillRect(image.rect(), sky);

    // A faint network of hosts and links behind the text.
    QRandomGenerator rng(20260512); // fixed seed: the same picture every run
    QList<QPointF> nodes;
    for (int i = 0; i < 28; ++i)
        nodes.append(QPointF(rng.bounded(372), 80 + rng.bounded(170)));
    p.setPen(QPen(QColor(200, 214, 235), 1.0));
    for (int i = 0; i < nodes.size(); ++i)
        for (int j = i + 1; j < nodes.size(); ++j)
            if (QLineF(nodes[i], nodes[j]).length() < 70)
                p.drawLine(nodes[i], nodes[j]);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 206, 232));
    for (const QPointF& n : nodes)
        p.drawEllipse(n, 3, 3);

    // Title band.
    QLinearGradient band(0, 0, 372, 0);
    band.setColorAt(0.0, QColor(22, 58, 110));
    band.setColorAt(1.0, QColor(40, 110, 170));
    p.fillRect(QRect(0, 0, 372, 80), band);

    // The mark: a raven's wing drawn as three arcs over a small router box.
    p.setPen(QPen(QColor(255, 255, 255), 3.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i)
        p.drawArc(QRectF(22 + i * 7, 18 + i * 7, 44 - i * 14, 44 - i * 14), 30 * 16, 120 * 16);
    p.setBrush(QColor(255, 255, 255));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(30, 48, 28, 12), 3, 3);
    p.setBrush(QColor(40, 110, 170));
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(36 + i * 8, 54), 2, 2);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(80, 8, 280, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(210, 226, 245));
    p.drawText(QRect(82, 48, 280, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("IPv4 configuration at a glance"));
    p.end();
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_about_picture OUTPUT.jpg\n");
        return 2;
    }
    const QByteArray jpeg = corvane::encodeJpeg(paintPicture(), 88);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (jpeg.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(jpeg) != jpeg.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
