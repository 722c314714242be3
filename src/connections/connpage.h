// The Netstat page: the TCP and UDP endpoints in lvConnections with their owner processes,
// the filters and name resolution of the run-time options, the column-click sort, the
// colours and the popup menu's toggles.
#pragma once

#include "connections/connmodel.h"
#include "widgets/page.h"

#include <functional>
#include <utility>

class QLineEdit;

namespace corvane {

class NetstatPage : public Page {
    Q_OBJECT
public:
    explicit NetstatPage(const PageContext& context, QWidget* parent = nullptr);

    QTableView* lvConnections = nullptr;
    QMenu* pmConnMenu = nullptr;
    // Typing narrows the list to the endpoints with a cell containing the text.
    QLineEdit* edtFilter = nullptr;
    // Set once the platform is bound: the extended listing with owner processes.
    void setXpFamily(bool xpFamily) { xpFamily_ = xpFamily; }
    // Whether a long listing may let the window handle its events meanwhile.
    void setMayYield(std::function<bool()> mayYield) { mayYield_ = std::move(mayYield); }

    // The listed endpoints' texts in on-screen order, those the filter field hides included.
    int connectionCount() const;
    QString connectionText(int row, int column) const;

    // The "Owner Process" column of the extended listing.
    void addOwnerColumn();
    void FillConnectionTable();
    void ResolveProtocolName1Click(bool checked);
    void ResolveIPAddresses1Click(bool checked);
    void EstablishedOnly1Click(bool checked);

signals:
    // A toggle refilled the page: the report follows it.
    void listingToggled();
    // "Netstat", or "Netstat (filtered)" while the filter field hides rows.
    void captionChanged(const QString& caption);

private:
    friend struct PageProbe; // the tests' way to the model

    ConnectionModel* lvConnectionsModel = nullptr;
    bool xpFamily_ = false;
    std::function<bool()> mayYield_;

    void afterToggle();
};

} // namespace corvane
