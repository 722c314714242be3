#include "hostinfo/connectionname.h"
#include "platform/systemtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>

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

// NetworkManager's connection files in folder and name order.
void readNetworkManager(std::vector<std::pair<QString, QString>>& out) {
    const QStringList dirs = folders("CORVANE_NM_CONNECTIONS_DIR",
                                     {QStringLiteral("/etc/NetworkManager/system-connections"),
                                      QStringLiteral("/run/NetworkManager/system-connections")});
    for (const QString& dir : dirs) {
        const QFileInfoList files =
            QDir(dir).entryInfoList({QStringLiteral("*.nmconnection")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            QString id;
            QString bound;
            for (const auto& [key, value] : section(f.filePath(), QStringLiteral("connection"))) {
                if (key == QLatin1String("id"))
                    id = value;
                else if (key == QLatin1String("interface-name"))
                    bound = value;
            }
            if (!bound.isEmpty())
                out.emplace_back(id.isEmpty() ? f.completeBaseName() : id, bound);
        }
    }
}

// networkd reads all folders together, in file name order, the first match wins; a file in
// an earlier folder hides one of the same name in a later one.
QMap<QString, QString> networkdFiles() {
    const QStringList dirs =
        folders("CORVANE_NETWORKD_DIRS",
                {QStringLiteral("/etc/systemd/network"), QStringLiteral("/run/systemd/network"),
                 QStringLiteral("/usr/lib/systemd/network")});
    QMap<QString, QString> byName;
    for (const QString& dir : dirs) {
        for (const QFileInfo& f :
             QDir(dir).entryInfoList({QStringLiteral("*.network")}, QDir::Files, QDir::Name)) {
            if (!byName.contains(f.fileName()))
                byName.insert(f.fileName(), f.filePath());
        }
    }
    return byName;
}

} // namespace

ConnectionNames ConnectionNames::read() {
    ConnectionNames names;
    std::vector<std::pair<QString, QString>> nm;
    readNetworkManager(nm);
    for (auto& [name, bound] : nm)
        names.nm_.push_back({std::move(name), std::move(bound)});
    for (const QString& path : networkdFiles()) {
        NetworkdFile file{QFileInfo(path).completeBaseName(), {}};
        for (const auto& [key, value] : section(path, QStringLiteral("Match"))) {
            if (key != QLatin1String("Name"))
                continue;
            // Name= holds blank-separated shell globs; a leading "!" inverts the whole list.
            NetworkdFile::Match match;
            QString list = value;
            if (list.startsWith(QLatin1Char('!'))) {
                match.invert = true;
                list = list.mid(1);
            }
            for (const QString& glob : list.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                match.globs.emplace_back(QRegularExpression::wildcardToRegularExpression(glob));
            file.matches.push_back(std::move(match));
        }
        if (!file.matches.empty())
            names.networkd_.push_back(std::move(file));
    }
    return names;
}

QString ConnectionNames::lookup(const QString& interfaceName) const {
    if (interfaceName.isEmpty())
        return {};
    for (const NmConnection& c : nm_)
        if (c.interfaceName == interfaceName)
            return printable(c.name);
    for (const NetworkdFile& f : networkd_) {
        for (const NetworkdFile::Match& m : f.matches) {
            const bool hit = std::any_of(m.globs.begin(), m.globs.end(), [&](const auto& re) {
                return re.match(interfaceName).hasMatch();
            });
            if (hit != m.invert)
                return printable(f.name);
        }
    }
    return printable(interfaceName);
}

QString LookupConnectionName(const QString& interfaceName) {
    return ConnectionNames::read().lookup(interfaceName);
}

} // namespace corvane
