// JPEG pictures through libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

namespace corvane {

// The picture in RGB32, or a null image when the data is no JPEG libjpeg can read. A broken
// file never ends the program (libjpeg's own error handler would).
QImage decodeJpeg(const QByteArray& data);

// The image as a baseline JPEG of the given quality (1 to 100); empty on failure.
QByteArray encodeJpeg(const QImage& image, int quality = 90);

} // namespace corvane
