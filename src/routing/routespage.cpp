#include "routing/routespage.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "routing/frmip.h"
#include "routing/frmmodifyroutes.h"
#include "routing/frmroutelist.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "routing/routelist_add.h"
#include "shell/actionlist.h"
#include "shell/forms.h"
#include "shell/menubuilder.h"
#include "shell/options.h"
#include "shell/refresh.h"
#include "values/ip.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <algorithm>
#include <arpa/inet.h>
#include <unordered_set>

namespace corvane {
namespace {

// Where the list shows that route now; -1 when it no longer does.
int rowOf(const RouteModel& model, const RouteRow& route) {
    const std::vector<RouteRow>& rows = model.rows();
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&route](const RouteRow& r) { return sameRoute(r, route); });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

} // namespace

RoutesPage::RoutesPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsRoutes", 1400, parent) {
    lvFwTableModel = new RouteModel(this);
    lvFwTable = makeListView(this, "lvFwTable", lvFwTableModel,
                             {{"Dst. Address", 105, "255.255.255.255"},
                              {"Dst. Mask", 105, "255.255.255.255"},
                              {"Next Hop", 105, "255.255.255.255"},
                              {"Index", 65, "0x0000"},
                              {"Metric", 50, "0000"},
                              {"Persistent", 61, "yes"},
                              {"Protocol", 150, "PROTO_IP_NETMGMT"}});
    lvFwTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFwTableModel->coloured = [this] { return options().on(Option::ColoredTables); };
    // Switching the colours repaints without a refill.
    connect(&options_, &OptionsStore::changed, lvFwTable->viewport(),
            [this] { lvFwTable->viewport()->update(); });

    pmRouteMenu = popupMenu(this, "pmRouteMenu");
    fillMenu(pmRouteMenu, actions_, images_,
             {{"AddRoute2", &ActionList::acAddRoute, nullptr, "Add a single routing entry"},
              {"AddRoutesfromList2", &ActionList::acAddFromList},
              {"ModifyRoute2", &ActionList::acModifyRoute},
              {"DeleteRoute2", &ActionList::acDeleteRoute},
              {"DeleteRoutesbyList2", &ActionList::acDelList},
              menuSeparator,
              {"Outgoinginterface2", &ActionList::acBestRoute},
              menuSeparator,
              {"IgnoreLocalhost1", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              {"IgnoreBroadcasts1", nullptr, "Ignore Broadcasts",
               "Specifies whether broadcast routes will be shown", -1, nullptr, 0, true},
              menuSeparator,
              {"Refresh4", &ActionList::acRefresh}});
    attachContextMenu(lvFwTable, pmRouteMenu);
    bindRuntimeToggle(pmRouteMenu, "IgnoreLocalhost1", &RuntimeOptions::optIgnoreLocalhost);
    bindRuntimeToggle(pmRouteMenu, "IgnoreBroadcasts1", &RuntimeOptions::optIgnoreBroadcasts);

    connect(lvFwTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RoutesPage::lvFwTableSelectItem);
    connect(actions_.acDeleteRoute, &QAction::triggered, this, &RoutesPage::acDeleteRouteExecute);
    connect(actions_.acAddRoute, &QAction::triggered, this, &RoutesPage::acAddRouteExecute);
    connect(actions_.acModifyRoute, &QAction::triggered, this, &RoutesPage::acModifyRouteExecute);
    connect(actions_.acBestRoute, &QAction::triggered, this, &RoutesPage::acBestRouteExecute);
    lvFwTable->installEventFilter(this);
    // The page's dialogs, created once with it.
    frmModifyRoutes = new TfrmModifyRoutes(this);
    frmIP = new TfrmIP(this);
    frmAddRouteList = new TfrmAddRouteList(this);
    frmDelRouteList = new TfrmDelRouteList(this);
    connect(actions_.acAddFromList, &QAction::triggered, this, &RoutesPage::acAddFromListExecute);
    connect(actions_.acDelList, &QAction::triggered, this, &RoutesPage::acDelListExecute);
}

RoutesPage::~RoutesPage() {
    frmModifyRoutes = nullptr;
    frmIP = nullptr;
    frmAddRouteList = nullptr;
    frmDelRouteList = nullptr;
}

// lvFwTableKeyDown: the Delete key deletes whatever the action's state.
bool RoutesPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvFwTable && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        acDeleteRouteExecute();
        return true;
    }
    return Page::eventFilter(watched, event);
}

// Rows currently selected, in list order.
std::vector<int> RoutesPage::selectedRows() const {
    std::vector<int> rows;
    if (const QItemSelectionModel* selection = lvFwTable->selectionModel())
        for (const QModelIndex& index : selection->selectedRows())
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void RoutesPage::FillRouteTable() {
    const RuntimeOptions& o = options().run;
    QString caption = QStringLiteral("Routes");
    if (o.optIgnoreLocalhost || o.optIgnoreBroadcasts)
        caption += QStringLiteral(" (filtered)");
    emit captionChanged(caption);

    RouteModel& model = *lvFwTableModel;
    RouteTableRead read = readRouteTable({o.optIgnoreLocalhost, o.optIgnoreBroadcasts});
    if (!read.ok) {
        model.setActiveDefault(activeDefaultRoute(model.rows()));
        model.setPersistent(read.names);
        return;
    }
    lvFwTable->clearSelection();
    model.reset(std::move(read.fill.rows), read.activeDefault);
    actions_.acDeleteRoute->setEnabled(false);
    actions_.acDelList->setEnabled(read.fill.delListEnabled);
}

void RoutesPage::MergeInactivePersistentRoutes() {
    lvFwTableModel->append(readInactivePersistentRows(lvFwTableModel->rows()));
}

void RoutesPage::lvFwTableSelectItem() {
    const std::vector<int> rows = selectedRows();
    const RouteModel& model = *lvFwTableModel;
    actions_.acDeleteRoute->setEnabled(!rows.empty() &&
                                       model.row(rows.front()).tag != routeTagLocal);
    actions_.acModifyRoute->setEnabled(rows.size() == 1 &&
                                       model.row(rows.front()).tag != routeTagLocal &&
                                       !model.row(rows.front()).inactive());
    if (!rows.empty())
        emit routeInterfaceSelected(routeCellText(model.row(rows.front()), fwcol::Index));
}

void RoutesPage::acDeleteRouteExecute() {
    emit showRequested();
    RouteModel& model = *lvFwTableModel;
    // The routes themselves, taken before any box opens: a row number names another route, or
    // none, once the list has changed.
    std::vector<RouteRow> chosen;
    for (const int r : selectedRows())
        chosen.push_back(model.row(r));
    if (chosen.empty())
        return;
    const ChangeInProgress change(refresh_);
    if (!confirm(deleteRouteQuestion(static_cast<int>(chosen.size()), chosen.front()),
                 QStringLiteral("Delete")))
        return;
    for (const RouteRow& route : chosen) {
        if (!route.inactive()) {
            MIB_IPFORWARDROW record = routeDeletionRecord(route);
            const DWORD rc = iphlp().DeleteIpForwardEntry(&record);
            if (rc != NO_ERROR) {
                if (const int r = rowOf(model, route); r >= 0)
                    lvFwTable->selectionModel()->select(model.index(r, 0),
                                                        QItemSelectionModel::Deselect |
                                                            QItemSelectionModel::Rows);
                ReportFailureForced(QStringLiteral("Couldn't DeleteIpForwardEntry (%1 %2.)")
                                        .arg(routeCellText(route, fwcol::Destination),
                                             routeCellText(route, fwcol::Mask)),
                                    rc);
                continue;
            }
        }
        if (hasPersistentName(route))
            SetPersistent(persistentRouteName(route), false);
        if (const int r = rowOf(model, route); r >= 0)
            model.removeRows(r, 1);
        actions_.acDeleteRoute->setEnabled(false);
    }
    // Held back by the change until it ends, together with any update asked for meanwhile.
    if (!options().on(Option::AutoUpdate))
        emit refreshRequested();
}

void RoutesPage::fillInterfaceChoice(const std::vector<RouteInterface>& faces, QComboBox* box,
                                     QStringList& proposals) const {
    box->clear();
    proposals.clear();
    for (const RouteInterface& face : faces) {
        if (!face.active)
            continue;
        box->addItem(face.description);
        proposals.append(nextHopProposal(face, lvFwTableModel->rows()));
    }
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

std::vector<RouteInterface> RoutesPage::interfaces() const {
    return interfaceList ? interfaceList() : std::vector<RouteInterface>();
}

QString RoutesPage::typedNextHop() const {
    return frmModifyRoutes->edtNextHop->text();
}

std::optional<MIB_IPFORWARDROW> RoutesPage::dialogRoute(const std::vector<RouteInterface>& faces,
                                                        const std::vector<RouteRow>& rows) const {
    const TfrmModifyRoutes& d = *frmModifyRoutes;
    const std::optional<DWORD> index = interfaceIndexOf(faces, d.cbxInterfaces->currentText());
    if (!index)
        return std::nullopt;
    const QString gateway = defaultGatewayText(rows, *index);
    const DWORD type =
        routeTypeFor(typedNextHop(), gateway, ownAddresses ? ownAddresses() : QStringList());
    return newRouteRecord(ip(d.edtNetwork->text().toStdString()).value(),
                          ip(d.cbxMask->currentText().toStdString()).value(),
                          ip(typedNextHop().toStdString()).value(), *index, type,
                          static_cast<DWORD>(d.metric));
}

void RoutesPage::acAddRouteExecute() {
    emit showRequested();
    TfrmModifyRoutes& d = *frmModifyRoutes;
    {
        // Nothing refills the lists between what the dialog offers and the change.
        const ChangeInProgress change(refresh_);
        const std::vector<RouteInterface> faces = interfaces();
        fillInterfaceChoice(faces, d.cbxInterfaces, d.nextHopProposals);
        d.edtNetwork->clear();
        d.edtNextHop->clear();
        d.modify = false;
        d.cbPersistent->setChecked(false);
        if (runModal(d) != QDialog::Accepted)
            return;
        // The default routes as they are now decide the route's type.
        FillRouteTable();
        std::optional<MIB_IPFORWARDROW> record = dialogRoute(faces, lvFwTableModel->rows());
        if (!record)
            return;
        const DWORD rc = iphlp().SetIpForwardEntry(&*record);
        if (rc != NO_ERROR) {
            ReportFailureForced(QStringLiteral("SetIPForwardEntry"), rc);
            return;
        }
        SetPersistent(typedRouteName(d.edtNetwork->text(), d.cbxMask->currentText(), typedNextHop(),
                                     d.metric),
                      d.cbPersistent->isChecked());
    }
    if (!options().on(Option::AutoUpdate))
        emit refreshRequested();
    showMessage(QStringLiteral("Route successfully added."), QStringLiteral("Success"),
                MsgIcon::Information);
}

void RoutesPage::acModifyRouteExecute() {
    emit showRequested();
    const std::vector<int> selected = selectedRows();
    if (selected.empty())
        return;
    // The route as the user chose it: kept whatever happens to the list meanwhile.
    const RouteRow old = lvFwTableModel->row(selected.front());
    const ChangeInProgress change(refresh_);
    const std::vector<RouteInterface> faces = interfaces();
    TfrmModifyRoutes& d = *frmModifyRoutes;
    fillInterfaceChoice(faces, d.cbxInterfaces, d.nextHopProposals);
    d.edtNetwork->setText(routeCellText(old, fwcol::Destination));
    d.cbxMask->setEditText(routeCellText(old, fwcol::Mask));
    d.edtNextHop->setText(routeCellText(old, fwcol::NextHop));
    d.cbxMetric->setEditText(routeCellText(old, fwcol::Metric));
    d.cbPersistent->setChecked(old.persistent);
    d.cbPersistent->setEnabled(old.destination != 0);
    const QString indexText = routeCellText(old, fwcol::Index);
    for (const RouteInterface& face : faces)
        if (face.indexText == indexText)
            d.cbxInterfaces->setEditText(face.description);
    d.modify = true;
    if (runModal(d) != QDialog::Accepted)
        return;

    // Worked out before anything is deleted: a dialog that names no interface changes nothing.
    std::vector<RouteRow> others = lvFwTableModel->rows();
    others.erase(std::remove_if(others.begin(), others.end(),
                                [&old](const RouteRow& r) { return sameRoute(r, old); }),
                 others.end());
    std::optional<MIB_IPFORWARDROW> record = dialogRoute(faces, others);
    if (!record)
        return;

    MIB_IPFORWARDROW deletion = routeDeletionRecord(old);
    const DWORD deleteRc = iphlp().DeleteIpForwardEntry(&deletion);
    if (deleteRc != NO_ERROR) {
        if (const int r = rowOf(*lvFwTableModel, old); r >= 0)
            lvFwTable->selectionModel()->select(lvFwTableModel->index(r, 0),
                                                QItemSelectionModel::Deselect |
                                                    QItemSelectionModel::Rows);
        ReportFailureForced(
            QStringLiteral("Couldn't DeleteIpForwardEntry (%1 %2.)")
                .arg(routeCellText(old, fwcol::Destination), routeCellText(old, fwcol::Mask)),
            deleteRc);
    }
    const DWORD rc = iphlp().SetIpForwardEntry(&*record);
    if (rc != NO_ERROR) {
        // The old route goes back, and with it stays its persistent mark: a refused change
        // must not leave the user with neither route. Back before anything is said: a
        // message box waits for the user, and a crash meanwhile would lose the route.
        DWORD backRc = NO_ERROR;
        if (deleteRc == NO_ERROR) {
            MIB_IPFORWARDROW back = restoreRecord(old);
            backRc = iphlp().SetIpForwardEntry(&back);
        }
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), rc);
        if (backRc != NO_ERROR)
            ReportFailureForced(QStringLiteral("Couldn't put back the route %1 %2 (%3)")
                                    .arg(routeCellText(old, fwcol::Destination),
                                         routeCellText(old, fwcol::Mask),
                                         routeCellText(old, fwcol::NextHop)),
                                backRc);
        return;
    }
    if (deleteRc == NO_ERROR) {
        if (hasPersistentName(old))
            SetPersistent(persistentRouteName(old), false);
        if (const int r = rowOf(*lvFwTableModel, old); r >= 0)
            lvFwTableModel->removeRows(r, 1);
    }
    SetPersistent(
        typedRouteName(d.edtNetwork->text(), d.cbxMask->currentText(), typedNextHop(), d.metric),
        d.cbPersistent->isChecked());
    emit routeModified();
}

void RoutesPage::acBestRouteExecute() {
    TfrmIP& d = *frmIP;
    runModal(d);
    if (!d.valid) {
        if (!d.edtIP->text().isEmpty())
            showMessage(QStringLiteral("%1 is not a valid IP address").arg(d.edtIP->text()),
                        QStringLiteral("Error"), MsgIcon::Error);
        return;
    }
    DWORD index = 0;
    const DWORD rc =
        iphlp().GetBestInterface(::inet_addr(d.edtIP->text().toLatin1().constData()), &index);
    emit showRequested();
    lvFwTable->clearSelection();
    if (rc != NO_ERROR)
        return;
    const std::vector<RouteRow>& rows = lvFwTableModel->rows();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].inactive() || rows[r].ifIndex != index)
            continue;
        const QModelIndex at = lvFwTableModel->index(static_cast<int>(r), 0);
        lvFwTable->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
        lvFwTable->scrollTo(at);
        lvFwTable->setFocus();
        return;
    }
}

void RoutesPage::acAddFromListExecute() {
    emit showRequested();
    TfrmAddRouteList& d = *frmAddRouteList;
    ListAddResult result;
    {
        const ChangeInProgress change(refresh_);
        const std::vector<RouteInterface> faces = interfaces();
        fillInterfaceChoice(faces, d.cbxInterfaces, d.nextHopProposals);
        d.cbPersistent->setChecked(false);
        d.edtNextHop->clear();
        if (runModal(d) != QDialog::Accepted)
            return;
        FillRouteTable();
        const std::optional<DWORD> index = interfaceIndexOf(faces, d.cbxInterfaces->currentText());
        if (!index)
            return;
        ListAddRequest request;
        request.routes = d.routeList->routes();
        request.ifIndex = *index;
        request.nextHopText = d.edtNextHop->text();
        request.nextHop = ip(request.nextHopText.toStdString()).value();
        request.type =
            routeTypeFor(request.nextHopText, defaultGatewayText(lvFwTableModel->rows(), *index),
                         ownAddresses ? ownAddresses() : QStringList());
        request.metric = d.metric;
        request.persistent = d.cbPersistent->isChecked();
        // The window keeps painting through a long list; no input reaches it meanwhile.
        result = addRouteList(
            request, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    }
    if (!options().on(Option::AutoUpdate))
        emit refreshRequested();
    if (result.failed == 0)
        showMessage(QStringLiteral("Routes successfully added."), QStringLiteral("Success"),
                    MsgIcon::Information);
}

void RoutesPage::acDelListExecute() {
    emit showRequested();
    lvFwTable->clearSelection();
    TfrmDelRouteList& d = *frmDelRouteList;
    {
        const ChangeInProgress change(refresh_);
        const std::vector<RouteInterface> faces = interfaces();
        fillInterfaceChoice(faces, d.cbxInterfaces, d.nextHopProposals);
        if (runModal(d) != QDialog::Accepted)
            return;
        FillRouteTable();
        if (d.cbxInterfaces->currentIndex() < 0)
            return;
        const std::optional<DWORD> index = interfaceIndexOf(faces, d.cbxInterfaces->currentText());
        // Texts are compared as written: a network with leading zeros matches nothing. One pass
        // over the routing list, whatever the length of either list.
        std::unordered_set<QString> listed;
        for (const ListRoute& r : d.routeList->routes())
            listed.insert(r.network + QLatin1Char(' ') + r.mask);
        QItemSelection matches;
        const std::vector<RouteRow>& rows = lvFwTableModel->rows();
        for (std::size_t r = 0; index && r < rows.size(); ++r) {
            const RouteRow& row = rows[r];
            if (row.inactive() || row.ifIndex != *index ||
                static_cast<long long>(row.metric) != d.metric)
                continue;
            if (!listed.count(routeCellText(row, fwcol::Destination) + QLatin1Char(' ') +
                              routeCellText(row, fwcol::Mask)))
                continue;
            const int at = static_cast<int>(r);
            matches.select(lvFwTableModel->index(at, 0),
                           lvFwTableModel->index(at, fwcol::Count - 1));
        }
        if (!matches.isEmpty()) {
            lvFwTable->selectionModel()->select(matches, QItemSelectionModel::ClearAndSelect);
            acDeleteRouteExecute();
            return;
        }
    }
    showMessage(QStringLiteral("Didn't find any match."), QStringLiteral("Delete Routes"),
                MsgIcon::Information);
}

} // namespace corvane
