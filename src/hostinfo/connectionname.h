// The name under which the system's network configuration knows an interface.
#pragma once

#include <QString>

namespace corvane {

// A NetworkManager connection bound to the interface, else a systemd-networkd file whose
// [Match] Name= covers it, else the interface name itself. Read live, never written.
// CORVANE_NM_CONNECTIONS_DIR and CORVANE_NETWORKD_DIRS (colon-separated) move the folders.
QString LookupConnectionName(const QString& interfaceName);

} // namespace corvane
