// The name under which the system's network configuration knows an interface.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <vector>

namespace corvane {

// The configuration files read once, for looking up many interfaces: one pass over the
// adapters asks for every interface, and the files don't change within it.
class ConnectionNames {
public:
    static ConnectionNames read();
    QString lookup(const QString& interfaceName) const;

private:
    struct NmConnection {
        QString name;
        QString interfaceName;
    };
    struct NetworkdFile {
        QString name;
        // Each Name= line: its globs, and whether a leading "!" inverts it.
        struct Match {
            std::vector<QRegularExpression> globs;
            bool invert = false;
        };
        std::vector<Match> matches;
    };
    std::vector<NmConnection> nm_;
    std::vector<NetworkdFile> networkd_;
};

// A NetworkManager connection bound to the interface, else a systemd-networkd file whose
// [Match] Name= covers it, else the interface name itself. Read live, never written.
// CORVANE_NM_CONNECTIONS_DIR and CORVANE_NETWORKD_DIRS (colon-separated) move the folders.
QString LookupConnectionName(const QString& interfaceName);

} // namespace corvane
