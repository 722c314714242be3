#include "connections/connpage.h"

#include "connections/conn_read.h"
#include "session/options.h"
#include "widgets/actionlist.h"
#include "widgets/columnwidth.h"
#include "widgets/filterfield.h"
#include "widgets/menubuilder.h"

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QTableView>

namespace corvane {

NetstatPage::NetstatPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsConnections", 1450, parent) {
    lvConnectionsModel = new ConnectionModel(0, conncol::OwnerProcess, this);
    lvConnections = makeListView(this, "lvConnections", lvConnectionsModel,
                                 {{"Protocol", 55, "TCP"},
                                  {"Local Address", 100, "255.255.255.255"},
                                  {"Local Port", 75, "65535"},
                                  {"Remote Address", 100, "255.255.255.255"},
                                  {"Remote Port", 75, "65535"},
                                  {"Status", 95, "ESTABLISHED"},
                                  {"via Interface", 75, "0x0000"}});
    QHeaderView* header = lvConnections->horizontalHeader();
    header->setSectionsClickable(true);
    lvConnections->setSortingEnabled(true);
    header->setSortIndicator(-1, Qt::AscendingOrder); // unsorted at first

    ConnectionModel& model = *lvConnectionsModel;
    model.coloured = [this] { return options().on(Option::ColoredTables); };
    connect(&options_, &OptionsStore::changed, lvConnections->viewport(),
            [this] { lvConnections->viewport()->update(); });
    model.armColumnClicks();
    connect(&model, &ConnectionModel::sorted, header, [header](int column, bool up) {
        // Only the arrow: the rows are already in order.
        const QSignalBlocker block(header);
        header->setSortIndicatorShown(true);
        header->setSortIndicator(column, up ? Qt::AscendingOrder : Qt::DescendingOrder);
        header->viewport()->update();
    });

    edtFilter = makeFilterField(this, "edtConnFilter");
    connect(edtFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        lvConnectionsModel->setFilterText(text);
        emit captionChanged(lvConnectionsModel->filtering() ? QStringLiteral("Netstat (filtered)")
                                                            : QStringLiteral("Netstat"));
    });

    pmConnMenu = popupMenu(this, "pmConnMenu");
    fillMenu(pmConnMenu, actions_, images_,
             {{"ResolveProtocolName1", nullptr, "Resolve Protocol Name",
               "Toggle Port Number resolution", -1, nullptr, 0, true},
              {"ResolveIPAddresses1", nullptr, "Resolve IP Addresses",
               "Toggle IP address resolution", -1, nullptr, 0, true},
              {"EstablishedOnly1", nullptr, "Established Only",
               "Toggle listing of established TCP connections only", -1, nullptr, 0, true},
              menuSeparator,
              {"IgnoreLocalhost3", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              menuSeparator,
              {"Refresh7", &ActionList::acRefresh}});
    attachContextMenu(lvConnections, pmConnMenu);
    bindRuntimeToggle(pmConnMenu, "IgnoreLocalhost3", &RuntimeOptions::optIgnoreLocalhost);

    const std::pair<const char*, void (NetstatPage::*)(bool)> toggles[] = {
        {"ResolveProtocolName1", &NetstatPage::ResolveProtocolName1Click},
        {"ResolveIPAddresses1", &NetstatPage::ResolveIPAddresses1Click},
        {"EstablishedOnly1", &NetstatPage::EstablishedOnly1Click},
    };
    for (QAction* a : pmConnMenu->actions())
        for (const auto& [name, click] : toggles)
            if (a->objectName() == QLatin1String(name))
                // The entries are checkable: the click has already inverted the check mark.
                connect(a, &QAction::triggered, this, click);
    connect(pmConnMenu, &QMenu::aboutToShow, this, [this] {
        const RuntimeOptions& o = options().run;
        const std::pair<const char*, bool> checks[] = {
            {"ResolveProtocolName1", o.optResolvePorts},
            {"ResolveIPAddresses1", o.optResolveAddresses},
            {"EstablishedOnly1", o.optEstablishedOnly}};
        for (QAction* a : pmConnMenu->actions())
            for (const auto& [name, on] : checks)
                if (a->objectName() == QLatin1String(name))
                    a->setChecked(on);
    });
}

int NetstatPage::connectionCount() const {
    return static_cast<int>(lvConnectionsModel->rows().size());
}

QString NetstatPage::connectionText(int row, int column) const {
    return lvConnectionsModel->rows()[static_cast<std::size_t>(row)].text(column);
}

void NetstatPage::addOwnerColumn() {
    const int column = lvConnectionsModel->columnCount();
    lvConnectionsModel->insertColumn(column);
    lvConnectionsModel->setHeaderData(column, Qt::Horizontal, QStringLiteral("Owner Process"));
    lvConnections->setColumnWidth(column, fittedColumnWidth(*lvConnections, 115,
                                                            QStringLiteral("Owner Process"),
                                                            QStringLiteral("NetworkManager")));
}

void NetstatPage::FillConnectionTable() {
    ConnListing listing = connListing(options().run, xpFamily_);
    // Lets the window breathe during long TCP listings.
    listing.yield = [this] {
        if (!mayYield_ || mayYield_())
            QCoreApplication::processEvents();
    };
    lvConnectionsModel->clear();
    lvConnectionsModel->setRows(readConnections(listing));
    lvConnections->setCurrentIndex(QModelIndex());
    // The rows are in table order again: an arrow would claim a sort that is gone.
    QHeaderView* header = lvConnections->horizontalHeader();
    const QSignalBlocker block(header);
    header->setSortIndicator(-1, Qt::AscendingOrder);
}

void NetstatPage::afterToggle() {
    FillConnectionTable();
    emit listingToggled();
}

void NetstatPage::ResolveProtocolName1Click(bool checked) {
    options_.change([checked](Options& o) { o.run.optResolvePorts = checked; });
    afterToggle();
}

void NetstatPage::ResolveIPAddresses1Click(bool checked) {
    options_.change([checked](Options& o) { o.run.optResolveAddresses = checked; });
    afterToggle();
}

void NetstatPage::EstablishedOnly1Click(bool checked) {
    options_.change([checked](Options& o) { o.run.optEstablishedOnly = checked; });
    afterToggle();
}

} // namespace corvane
