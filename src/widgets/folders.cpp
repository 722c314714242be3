#include "widgets/folders.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

namespace corvane {
namespace {

QHash<QString, QString>& lastFolders() {
    static QHash<QString, QString> folders;
    return folders;
}

} // namespace

QString documentsFolder() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // A dialog told to open a missing folder falls back to the working folder.
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString lastFolder(const char* kind) {
    QString folder = lastFolders().value(QString::fromLatin1(kind));
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return documentsFolder();
}

void rememberFolderOf(const char* kind, const QString& filePath) {
    const QFileInfo file(filePath);
    if (file.fileName().isEmpty())
        return;
    lastFolders().insert(QString::fromLatin1(kind), file.absolutePath());
}

} // namespace corvane
