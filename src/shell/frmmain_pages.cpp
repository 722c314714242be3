// The six pages of the main window and the one place where they are wired together: what one
// page's event means for another goes through here.
#include "shell/frmmain.h"

#include "addresses/address_commands.h"
#include "connections/connpage.h"
#include "hostinfo/adaptertree.h"
#include "hostinfo/hostinfo_page.h"
#include "interfaces/frmipdetails.h"
#include "interfaces/iftable_rows.h"
#include "interfaces/interfacepage.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "report/reportpage.h"
#include "routing/routespage.h"
#include "session/interface_marks.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "widgets/dialogparts.h"
#include "widgets/modal.h"
#include "widgets/rowcopy.h"

#include <QAbstractItemView>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>

namespace corvane {

void TfrmMain::createPages() {
    pcMain = new QTabWidget(this);
    pcMain->setObjectName(QStringLiteral("pcMain"));
    pcMain->setDocumentMode(false);
    const PageContext context{options, *refresh, *this, ilTreeImages};
    tsHost = new HostInfoPage(context, pcMain);
    tsIP = new IpInfoPage(context, pcMain);
    tsInterface = new InterfacesPage(context, pcMain);
    tsRoutes = new RoutesPage(context, pcMain);
    tsConnections = new NetstatPage(context, pcMain);
    tsReport = new ReportPage(context, pcMain);
    const std::pair<Page*, const char*> tabs[] = {
        {tsHost, "Host Info"}, {tsIP, "IP Info"},          {tsInterface, "Interfaces"},
        {tsRoutes, "Routes"},  {tsConnections, "Netstat"}, {tsReport, "Report"},
    };
    for (const auto& [page, caption] : tabs)
        pcMain->addTab(page, QString::fromUtf8(caption));

    // The stored design opens on IP Info; the program starts on Host Info.
    pcMain->setCurrentWidget(tsHost);
    helpContext_ = tsHost->helpContext();
    connect(pcMain, &QTabWidget::currentChanged, this, &TfrmMain::pcMainChange);

    eCopy = new QLineEdit(this);
    eCopy->setObjectName(QStringLiteral("eCopy"));
    eCopy->setVisible(false);
    eCopy->setFocusPolicy(Qt::NoFocus);
}

void TfrmMain::wirePages() {
    for (Page* page : std::initializer_list<Page*>{tsHost, tsIP, tsInterface, tsRoutes,
                                                   tsConnections, tsReport}) {
        connect(page, &Page::showRequested, this, [this, page] { pcMain->setCurrentWidget(page); });
        connect(page, &Page::refreshRequested, this, &TfrmMain::RefreshNetworkStatus);
        connect(page, &Page::copyRequested, this, &TfrmMain::copyText);
        // Popup lists of combo boxes are windows of their own and copy nothing.
        for (QAbstractItemView* view : page->findChildren<QAbstractItemView*>())
            if (view->window() == window())
                installRowCopy(view);
    }

    // The refresh steps, in the order the cycle runs them.
    refresh->setFill(FillStep::InterfaceTable, [this] { tsInterface->FillInterfaceTable(); });
    refresh->setFill(FillStep::AdapterInformation, [this] { tsIP->RefreshAdapterInformation(); });
    refresh->setFill(FillStep::RouteTable, [this] { tsRoutes->FillRouteTable(); });
    refresh->setFill(FillStep::InactivePersistentRoutes,
                     [this] { tsRoutes->MergeInactivePersistentRoutes(); });
    refresh->setFill(FillStep::Report, [this] { BuildReport(); });
    refresh->setFill(FillStep::ConnectionTable, [this] { tsConnections->FillConnectionTable(); });
    refresh->setFill(FillStep::ExpandTree, [this] { tsIP->expandTree(true); });
    refresh->setFill(FillStep::CollapseTree, [this] { tsIP->expandTree(false); });

    // The adapter pass feeds the Host Info page, the interface rows, the status bar, the
    // address log and the title.
    connect(tsIP, &IpInfoPage::adapterPassStarting, this, &TfrmMain::adapterPassStarting);
    connect(tsIP, &IpInfoPage::adapterPassFinished, this, &TfrmMain::adapterPassFinished);

    // An interface, its adapter node and a route's interface select each other.
    connect(tsIP, &IpInfoPage::adapterClicked, tsInterface,
            &InterfacesPage::selectInterfaceByDescription);
    connect(tsInterface, &InterfacesPage::interfaceSelected, tsIP, &IpInfoPage::selectAdapterNode);
    connect(tsRoutes, &RoutesPage::routeInterfaceSelected, tsInterface,
            &InterfacesPage::selectInterfaceByIndex);
    connect(tsRoutes, &RoutesPage::captionChanged, this, [this](const QString& caption) {
        pcMain->setTabText(pcMain->indexOf(tsRoutes), caption);
    });
    connect(tsConnections, &NetstatPage::captionChanged, this, [this](const QString& caption) {
        pcMain->setTabText(pcMain->indexOf(tsConnections), caption);
    });

    // The route dialogs offer the interfaces with the tree's gateways, and know our addresses.
    tsRoutes->setInterfaceSource([this] {
        std::vector<RouteInterface> faces;
        for (InterfaceRow& row : tsInterface->interfaceRows()) {
            RouteInterface face;
            face.description = std::move(row.description);
            face.indexText = std::move(row.indexText);
            face.active = (row.mark & ifmark::Active) != 0;
            face.gatewayNode = tsIP->gatewayNodeText(face.description);
            faces.push_back(std::move(face));
        }
        return faces;
    });
    tsRoutes->setOwnAddresses([this] { return tsHost->addresses(); });
    // The interface statistics run on the window's timer and may set the window aside.
    tsInterface->setStatisticsTimer(tmrIntStat);
    const auto stepAside = [this](bool aside) {
        if (aside)
            showMinimized();
        else if (isMinimized())
            showNormal();
    };
    connect(tsInterface, &InterfacesPage::mainWindowMinimiseRequested, this, stepAside);
    frmIPDetails = new TfrmIPDetails(this);
    connect(frmIPDetails, &TfrmIPDetails::mainWindowMinimised, this, stepAside);
    connect(acIPStats, &QAction::triggered, this, &TfrmMain::acIPStatsExecute);
    connect(tmrIpStat, &QTimer::timeout, this, &TfrmMain::tmrIpStatTimer);
    connect(tsRoutes, &RoutesPage::routeModified, tmrModifyUpdate,
            static_cast<void (QTimer::*)()>(&QTimer::start));

    wireAddressCommands();

    connect(tsConnections, &NetstatPage::listingToggled, this, &TfrmMain::BuildReport);
    // A window about to hide into the notification area is not held up by a listing.
    tsConnections->setMayYield([this] { return !tmrHide->isActive(); });
}

void TfrmMain::wireAddressCommands() {
    AddressCommands::Links links;
    links.interfaceRows = [this] { return tsInterface->interfaceRows(); };
    links.selectedAdapterIndex = [this] { return tsIP->selectedAdapterIndex(); };
    links.setStatusPanel = [this](const QString& text) { setPanelText(1, text); };
    links.interfaceExists = [](DWORD index, const QString& description) {
        MIB_IFROW row{};
        row.dwIndex = index;
        return iphlp().GetIfEntry(&row) == NO_ERROR &&
               descriptionText(row.bDescr, row.dwDescrLen) == description;
    };
    addressCommands = new AddressCommands(*this, *refresh, this, std::move(links));
    connect(addressCommands, &AddressCommands::showIpInfo, this,
            [this] { pcMain->setCurrentWidget(tsIP); });
    connect(addressCommands, &AddressCommands::refreshRequested, this,
            &TfrmMain::RefreshNetworkStatus);
    // The tree's popup acts on its own adapter.
    tsIP->setAddressTargets([this](DWORD index) {
        return AddressTargets{addressCommands->offersAdd(index),
                              addressCommands->offersDelete(index)};
    });
    connect(tsIP, &IpInfoPage::addAddressRequested, addressCommands,
            &AddressCommands::addIPOnAdapter);
    connect(tsIP, &IpInfoPage::deleteAddressRequested, addressCommands,
            &AddressCommands::delIPOnAdapter);
}

void TfrmMain::adapterPassStarting() {
    addressesBefore_ = panelText(1);
    setPanelText(1, QString());
    tsHost->hostInfoStart();
    if (options.value().on(Option::IpLogging))
        ipLog.clear();
}

void TfrmMain::adapterPassFinished(const AdapterPassResult& r) {
    tsHost->hostInfoLists(r.addresses + r.addresses6, r.dnsServers);
    // Status panel, title and address log stay IPv4: temporary IPv6 addresses come and go.
    setPanelText(1, r.addresses.join(QStringLiteral(", ")));
    tsInterface->markInterfaceRows(r.inactiveIndexes, r.severalIndexes);
    QString title = windowTitle() + QStringLiteral(" @ ") + tsHost->hostName();
    for (const QString& address : r.addresses)
        title += QLatin1Char('\n') + address;
    applicationTitle = title;
    if (tray_)
        tray_->setHint(applicationTitle);
    if (options.value().on(Option::IpLogging)) {
        ipLog.append(r.logLines);
        // Beside the settings: the program's own folder is not the user's to write.
        ipLogFile.passFinished(ipLog, panelText(1) != addressesBefore_,
                               machineStoreFolder() / kIpLogFileName);
    }
}

void TfrmMain::acIPStatsExecute() {
    tmrIpStat->start();
    runModal(*frmIPDetails);
    tmrIpStat->stop();
}

void TfrmMain::tmrIpStatTimer() {
    if (!frmIPDetails->isVisible())
        return;
    MIB_IPSTATS stats{};
    const DWORD rc = iphlp().GetIpStatistics(&stats);
    if (rc != NO_ERROR) {
        StopIpStatistics(rc);
        return;
    }
    frmIPDetails->showStatistics(stats);
}

void TfrmMain::StopIpStatistics(DWORD code) {
    tmrIpStat->stop();
    if (isMinimized())
        showNormal();
    keepOnTop(*frmIPDetails, false);
    // The window closes for this failure alone, so it tells why even inside a refresh.
    const FailureBatchPause ownReport;
    if (code != 0)
        ReportFailure(QStringLiteral("GetIpStatistics"), code);
    else
        showMessage(QStringLiteral("IP statistcs stopped due to not specified exception."),
                    QStringLiteral("Error"), MsgIcon::Warning);
    frmIPDetails->reject();
}

ReportInput TfrmMain::reportInput() const {
    ReportInput in;
    in.hostName = tsHost->hostName();
    in.treeLines = tsIP->treeLines();
    const InterfacesPage* interfaces = tsInterface;
    in.interfaces = {interfaces->rowCount(), [interfaces](qsizetype r, int c) {
                         return interfaces->cellText(static_cast<int>(r), c);
                     }};
    const RoutesPage* routes = tsRoutes;
    in.routes = {routes->routeCount(), [routes](qsizetype r, int c) {
                     return routes->routeText(static_cast<int>(r), c);
                 }};
    in.rules = {routes->ruleCount(),
                [routes](qsizetype r, int c) { return routes->ruleText(static_cast<int>(r), c); }};
    const NetstatPage* conns = tsConnections;
    in.connections = {conns->connectionCount(), [conns](qsizetype r, int c) {
                          return conns->connectionText(static_cast<int>(r), c);
                      }};
    return in;
}

void TfrmMain::BuildReport() {
    tsReport->BuildReport(reportInput());
}

} // namespace corvane
