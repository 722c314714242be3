#include "hostinfo/connectionname.h"
#include "platform/systemtext.h"
#include "registry/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace corvane {
namespace {

// Profiles and state files are a few hundred bytes.
constexpr std::size_t kFileLimit = std::size_t{256} * 1024;

QStringList folders(const char* variable, const QStringList& standard) {
    const QByteArray value = qgetenv(variable);
    if (value.isEmpty())
        return standard;
    return QString::fromLocal8Bit(value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

QString folder(const char* variable, const char* standard) {
    const QByteArray value = qgetenv(variable);
    return QString::fromLocal8Bit(value.isEmpty() ? QByteArray(standard) : value);
}

// A regular file of bounded size, as text; empty when it is anything else. A pipe in a
// profile's place cannot stall the refresh.
QString readText(const QString& path) {
    try {
        const auto file = reg::readWholeFile(QFile::encodeName(path).toStdString(), kFileLimit,
                                             reg::Links::Follow);
        return file
                   ? QString::fromUtf8(file->text.data(), static_cast<qsizetype>(file->text.size()))
                   : QString();
    } catch (const reg::StoreError&) {
        return {};
    }
}

// Keys of one section of an ini-style file, in order; later duplicates append.
QList<QPair<QString, QString>> section(const QString& path, const QString& name) {
    QList<QPair<QString, QString>> out;
    bool inside = false;
    for (QString line : readText(path).split(QLatin1Char('\n'))) {
        line = line.trimmed();
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

// The name networkd's files go by: the file name without ".network".
QString networkdName(const QString& path) {
    QString name = path.section(QLatin1Char('/'), -1);
    if (name.endsWith(QLatin1String(".network")))
        name.chop(8);
    return name;
}

} // namespace

ConnectionNames ConnectionNames::read() {
    ConnectionNames names;
    // NetworkManager's profiles in folder and name order. A profile in an earlier folder
    // shadows one with the same UUID in a later one, as in-memory profiles in /run do.
    const QStringList nmDirs =
        folders("CORVANE_NM_CONNECTIONS_DIR",
                {QStringLiteral("/run/NetworkManager/system-connections"),
                 QStringLiteral("/etc/NetworkManager/system-connections"),
                 QStringLiteral("/usr/lib/NetworkManager/system-connections")});
    for (const QString& dir : nmDirs) {
        const QFileInfoList files =
            QDir(dir).entryInfoList({QStringLiteral("*.nmconnection")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            NmConnection c;
            for (const auto& [key, value] : section(f.filePath(), QStringLiteral("connection"))) {
                if (key == QLatin1String("id"))
                    c.name = value;
                else if (key == QLatin1String("interface-name"))
                    c.interfaceName = value;
                else if (key == QLatin1String("uuid"))
                    c.uuid = value.toLower();
            }
            if (c.name.isEmpty())
                c.name = f.completeBaseName();
            const bool shadowed =
                !c.uuid.isEmpty() &&
                std::any_of(names.nm_.begin(), names.nm_.end(),
                            [&](const NmConnection& seen) { return seen.uuid == c.uuid; });
            if (!shadowed)
                names.nm_.push_back(std::move(c));
        }
    }
    for (const QString& path : networkdFiles()) {
        NetworkdFile file{networkdName(path), {}};
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

QString ConnectionNames::activeNm(uint32_t interfaceIndex) const {
    // NetworkManager notes the connection active on each device it manages.
    const QString state = folder("CORVANE_NM_DEVICES_DIR", "/run/NetworkManager/devices") +
                          QLatin1Char('/') + QString::number(interfaceIndex);
    QString uuid;
    for (const auto& [key, value] : section(state, QStringLiteral("device")))
        if (key == QLatin1String("connection-uuid"))
            uuid = value.toLower();
    if (uuid.isEmpty())
        return {};
    const auto it =
        std::find_if(nm_.begin(), nm_.end(), [&](const NmConnection& c) { return c.uuid == uuid; });
    return it == nm_.end() ? QString() : it->name;
}

QString ConnectionNames::activeNetworkd(uint32_t interfaceIndex, bool& known) const {
    const QString state = folder("CORVANE_NETWORKD_LINKS_DIR", "/run/systemd/netif/links") +
                          QLatin1Char('/') + QString::number(interfaceIndex);
    const QString text = readText(state);
    known = !text.isEmpty();
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("NETWORK_FILE=")))
            continue;
        QString path = line.mid(13).trimmed();
        if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) &&
            path.endsWith(QLatin1Char('"')))
            path = path.mid(1, path.size() - 2);
        return path.isEmpty() ? QString() : networkdName(path);
    }
    return {};
}

QString ConnectionNames::boundNm(const QString& interfaceName) const {
    for (const NmConnection& c : nm_)
        if (c.interfaceName == interfaceName)
            return c.name;
    return {};
}

QString ConnectionNames::matchingNetworkd(const QString& interfaceName) const {
    for (const NetworkdFile& f : networkd_) {
        for (const NetworkdFile::Match& m : f.matches) {
            const bool hit = std::any_of(m.globs.begin(), m.globs.end(), [&](const auto& re) {
                return re.match(interfaceName).hasMatch();
            });
            if (hit != m.invert)
                return f.name;
        }
    }
    return {};
}

QString ConnectionNames::lookup(const QString& interfaceName, uint32_t interfaceIndex) const {
    if (interfaceName.isEmpty())
        return {};
    QString name;
    bool networkdKnows = false;
    if (interfaceIndex != 0) {
        name = activeNm(interfaceIndex);
        if (name.isEmpty())
            name = activeNetworkd(interfaceIndex, networkdKnows);
    }
    if (name.isEmpty())
        name = boundNm(interfaceName);
    // Where networkd keeps state for the link, that state says which file applies, if any.
    if (name.isEmpty() && !networkdKnows)
        name = matchingNetworkd(interfaceName);
    return printable(name.isEmpty() ? interfaceName : name);
}

QString LookupConnectionName(const QString& interfaceName, uint32_t interfaceIndex) {
    return ConnectionNames::read().lookup(interfaceName, interfaceIndex);
}

} // namespace corvane
