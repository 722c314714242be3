#include "report/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace corvane {

QByteArray localBytes(const QString& text) {
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? text.toLatin1() : text.toLocal8Bit();
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error) {
    const QFileInfo info(path);
    if (info.exists() && !QFileInfo(info.canonicalFilePath()).isFile()) {
        QFile device(path);
        if (device.open(QIODevice::WriteOnly) && device.write(bytes) == bytes.size() &&
            device.flush())
            return true;
        error = device.errorString();
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = file.errorString();
    return false;
}

} // namespace corvane
