#include "hostinfo/connectionname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

namespace corvane {
namespace {

QStringList folders(const char* variable, const QStringList& standard) {
    const QByteArray value = qgetenv(variable);
    if (value.isEmpty())
        return standard;
    return QString::fromLocal8Bit(value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

// Keys of one section of an ini-style file, in order; later duplicates append.
QList<QPair<QString, QString>> section(const QString& path, const QString& name) {
    QList<QPair<QString, QString>> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return out;
    QTextStream in(&file);
    bool inside = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inside =
                line.compare(QLatin1Char('[') + name + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inside && eq > 0)
            out.append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return out;
}

QString networkManagerName(const QString& interfaceName) {
    const QStringList dirs = folders("CORVANE_NM_CONNECTIONS_DIR",
                                     {QStringLiteral("/etc/NetworkManager/system-connections"),
                                      QStringLiteral("/run/NetworkManager/system-connections")});
    for (const QString& dir : dirs) {
        const QFileInfoList files =
            QDir(dir).entryInfoList({QStringLiteral("*.nmconnection")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            QString id;
            bool bound = false;
            for (const auto& [key, value] : section(f.filePath(), QStringLiteral("connection"))) {
                if (key == QLatin1String("id"))
                    id = value;
                else if (key == QLatin1String("interface-name"))
                    bound = value == interfaceName;
            }
            if (bound)
                return id.isEmpty() ? f.completeBaseName() : id;
        }
    }
    return {};
}

// Name= holds blank-separated shell globs; a leading "!" inverts the whole list.
bool namesMatch(const QString& patterns, const QString& interfaceName) {
    QString list = patterns;
    bool invert = false;
    if (list.startsWith(QLatin1Char('!'))) {
        invert = true;
        list = list.mid(1);
    }
    bool hit = false;
    for (const QString& glob : list.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(glob));
        if (re.match(interfaceName).hasMatch())
            hit = true;
    }
    return invert ? !hit : hit;
}

QString networkdName(const QString& interfaceName) {
    const QStringList dirs =
        folders("CORVANE_NETWORKD_DIRS",
                {QStringLiteral("/etc/systemd/network"), QStringLiteral("/run/systemd/network"),
                 QStringLiteral("/usr/lib/systemd/network")});
    // networkd reads all folders together, in file name order, the first match wins; a file
    // in an earlier folder hides one of the same name in a later one.
    QMap<QString, QString> byName;
    for (const QString& dir : dirs) {
        for (const QFileInfo& f :
             QDir(dir).entryInfoList({QStringLiteral("*.network")}, QDir::Files, QDir::Name)) {
            if (!byName.contains(f.fileName()))
                byName.insert(f.fileName(), f.filePath());
        }
    }
    for (const QString& path : std::as_const(byName)) {
        for (const auto& [key, value] : section(path, QStringLiteral("Match"))) {
            if (key == QLatin1String("Name") && namesMatch(value, interfaceName))
                return QFileInfo(path).completeBaseName();
        }
    }
    return {};
}

} // namespace

QString LookupConnectionName(const QString& interfaceName) {
    if (interfaceName.isEmpty())
        return {};
    QString name = networkManagerName(interfaceName);
    if (name.isEmpty())
        name = networkdName(interfaceName);
    return name.isEmpty() ? interfaceName : name;
}

} // namespace corvane
