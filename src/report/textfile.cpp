#include "report/textfile.h"

#include "registry/atomicfile.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace corvane {

QByteArray localBytes(const QString& text) {
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? text.toLatin1() : text.toLocal8Bit();
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString& error) {
    // A link is written through, not replaced by a file of its own.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) {
        QFile device(target);
        if (device.open(QIODevice::WriteOnly) && device.write(bytes) == bytes.size() &&
            device.flush())
            return true;
        error = device.errorString();
        return false;
    }
    try {
        reg::writeFileAtomically(QFile::encodeName(target).toStdString(),
                                 std::string_view(bytes.constData(), bytes.size()));
        return true;
    } catch (const reg::StoreError& e) {
        error = QString::fromLocal8Bit(e.what());
        return false;
    }
}

} // namespace corvane
