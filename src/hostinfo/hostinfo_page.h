// The Host Info page: host parameters, active addresses, DNS servers and the copies from the
// two lists. Filled by the adapter pass.
#pragma once

#include "widgets/page.h"

#include <QStringList>

class QGroupBox;
class QListWidget;
class QScrollArea;

namespace corvane {

class HostInfoPage : public Page {
    Q_OBJECT
public:
    explicit HostInfoPage(const PageContext& context, QWidget* parent = nullptr);

    QScrollArea* sbxHostInfo = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblHostName = nullptr;
    QLabel* lblDomainName = nullptr;
    QLabel* lblDNSEnabled = nullptr;
    QLabel* lblRoutingEnabled = nullptr;
    QLabel* lblProxyARPEnabled = nullptr;
    QLabel* lblUptime = nullptr;
    QListWidget* lbxIPAddresses = nullptr;
    QListWidget* lbxDNSServers = nullptr;
    QMenu* pmLbxIPPopup = nullptr;
    QMenu* pmLbxDNSPopup = nullptr;

    QString hostName() const;
    QStringList addresses() const;
    void setUptimeText(const QString& text);

public slots:
    // Start of a pass: empties the DNS list and reads the host parameters.
    void hostInfoStart();
    // The adapter list was read: the address list is rebuilt from the pass.
    void hostInfoLists(const QStringList& addresses, const QStringList& dnsServers);

private:
    void connectListCopy(QListWidget* list, QMenu* menu);
};

} // namespace corvane
