// The Netstat page: the TCP and UDP endpoints in lvConnections with their owner processes,
// the filters and name resolution of the run-time options, the column-click sort, the
// colours and the popup menu's toggles.
#pragma once

#include "connections/connmodel.h"
#include "widgets/page.h"

#include <functional>

namespace corvane {

class NetstatPage : public Page {
    Q_OBJECT
public:
    explicit NetstatPage(const PageContext& context, QWidget* parent = nullptr);

    QTableView* lvConnections = nullptr;
    ConnectionModel* lvConnectionsModel = nullptr;
    QMenu* pmConnMenu = nullptr;
    // Set once the platform is bound: the extended listing with owner processes.
    bool xpFamily = false;
    // Whether a long listing may let the window handle its events meanwhile.
    std::function<bool()> mayYield;

    // The "Owner Process" column of the extended listing.
    void addOwnerColumn();
    void FillConnectionTable();
    void ResolveProtocolName1Click(bool checked);
    void ResolveIPAddresses1Click(bool checked);
    void EstablishedOnly1Click(bool checked);

signals:
    // A toggle refilled the page: the report follows it.
    void listingToggled();

private:
    void afterToggle();
};

} // namespace corvane
