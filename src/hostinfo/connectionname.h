// The name under which the system's network configuration knows an interface.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace corvane {

// The configuration files read once, for looking up many interfaces: one pass over the
// adapters asks for every interface, and the files don't change within it.
class ConnectionNames {
public:
    static ConnectionNames read();
    // First the profile active on the interface, from the run state of NetworkManager, then
    // that of systemd-networkd; else a NetworkManager profile bound to the interface's name,
    // else a systemd-networkd file whose [Match] Name= covers it; else the interface name.
    QString lookup(const QString& interfaceName, uint32_t interfaceIndex) const;

private:
    struct NmConnection {
        QString name;
        QString interfaceName;
        QString uuid; // lower case
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
    QString activeNm(uint32_t interfaceIndex) const;
    // Empty when networkd keeps no state for the link; set, and possibly empty, when it does.
    QString activeNetworkd(uint32_t interfaceIndex, bool& known) const;
    QString boundNm(const QString& interfaceName) const;
    QString matchingNetworkd(const QString& interfaceName) const;

    std::vector<NmConnection> nm_;
    std::vector<NetworkdFile> networkd_;
};

// Read live, never written. CORVANE_NM_CONNECTIONS_DIR and CORVANE_NETWORKD_DIRS
// (colon-separated, earlier folders first) move the profile folders;
// CORVANE_NM_DEVICES_DIR and CORVANE_NETWORKD_LINKS_DIR the run state folders.
QString LookupConnectionName(const QString& interfaceName, uint32_t interfaceIndex);

} // namespace corvane
