#include "routing/routespage.h"

#include "platform/ifindex.h"
#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "platform/routetables.h"
#include "platform/systemtext.h"
#include "routing/frmip.h"
#include "routing/frmmodifyroutes.h"
#include "routing/frmroutelist.h"
#include "routing/persistentroutes.h"
#include "routing/route_deletion.h"
#include "routing/route_read.h"
#include "routing/routelist_add.h"
#include "routing/routelist_match.h"
#include "session/options.h"
#include "session/refresh.h"
#include "values/ip.h"
#include "widgets/actionlist.h"
#include "widgets/filterfield.h"
#include "widgets/menubuilder.h"
#include "widgets/modal.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTableView>
#include <algorithm>
#include <arpa/inet.h>

namespace corvane {
namespace {

// Where the list shows that route now; -1 when it no longer does or the filter hides it.
int rowOf(const RouteModel& model, const RouteRow& route) {
    const std::vector<RouteRow>& rows = model.rows();
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&route](const RouteRow& r) { return sameRoute(r, route); });
    return it == rows.end() ? -1 : model.shownRow(static_cast<std::size_t>(it - rows.begin()));
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
              {"AllRoutingTables1", nullptr, "Show all routing tables",
               "Specifies whether the routes of every routing table and the policy rules will "
               "be shown",
               -1, nullptr, 0, true},
              menuSeparator,
              {"Refresh4", &ActionList::acRefresh}});
    attachContextMenu(lvFwTable, pmRouteMenu);
    bindRuntimeToggle(pmRouteMenu, "IgnoreLocalhost1", &RuntimeOptions::optIgnoreLocalhost);
    bindRuntimeToggle(pmRouteMenu, "IgnoreBroadcasts1", &RuntimeOptions::optIgnoreBroadcasts);
    bindRuntimeToggle(pmRouteMenu, "AllRoutingTables1", &RuntimeOptions::optAllRoutingTables);
    makeRulesView();
    edtFilter = makeFilterField(this, "edtRouteFilter");
    connect(edtFilter, &QLineEdit::textChanged, this, &RoutesPage::applyFilterText);

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

// The rules decide which table a packet meets, so they stand right below the routes they
// choose among, where both are seen at once; they are shown only with the tables they name.
void RoutesPage::makeRulesView() {
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splRoutes"));
    splitter->setChildrenCollapsible(false);
    layout()->replaceWidget(lvFwTable, splitter);
    splitter->addWidget(lvFwTable);
    rulesPanel = new QWidget(splitter);
    rulesPanel->setObjectName(QStringLiteral("pnlRules"));
    lvRulesModel = new RuleModel(this);
    lvRules = makeListView(rulesPanel, "lvRules", lvRulesModel,
                           {{"Priority", 65, "000000"},
                            {"Family", 50, "IPv6"},
                            {"Selectors", 330, ""},
                            {"Action", 150, "lookup 100"}});
    auto* caption = new QLabel(QStringLiteral("Policy Rules"), rulesPanel);
    caption->setObjectName(QStringLiteral("lblRules"));
    static_cast<QBoxLayout*>(rulesPanel->layout())->insertWidget(0, caption);
    splitter->addWidget(rulesPanel);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    rulesPanel->hide();
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

// Rows currently selected, in list order. Read from the selection's ranges: asking the model
// row by row costs a pass over every range per row, minutes for ten thousand rows.
std::vector<int> RoutesPage::selectedRows() const {
    std::vector<int> rows;
    if (const QItemSelectionModel* selection = lvFwTable->selectionModel())
        for (const QItemSelectionRange& range : selection->selection())
            if (range.isValid())
                for (int r = range.top(); r <= range.bottom(); ++r)
                    rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int RoutesPage::routeCount() const {
    return static_cast<int>(lvFwTableModel->rows().size());
}

QString RoutesPage::routeText(int row, int column) const {
    return lvFwTableModel->sourceCellText(static_cast<std::size_t>(row), column);
}

void RoutesPage::showCaption() {
    const RuntimeOptions& o = options().run;
    QString caption = QStringLiteral("Routes");
    if (o.optIgnoreLocalhost || o.optIgnoreBroadcasts || lvFwTableModel->filtering())
        caption += QStringLiteral(" (filtered)");
    emit captionChanged(caption);
}

void RoutesPage::applyFilterText(const QString& text) {
    lvFwTableModel->setFilterText(text);
    // The reset took the selection; the actions follow it.
    lvFwTableSelectItem();
    showCaption();
}

bool RoutesPage::allTablesShown() const {
    return lvFwTableModel->tablesShown();
}

int RoutesPage::ruleCount() const {
    return lvRulesModel->rowCount();
}

QString RoutesPage::ruleText(int row, int column) const {
    return ruleCellText(lvRulesModel->rows()[static_cast<std::size_t>(row)], column);
}

void RoutesPage::FillRouteTable() {
    const RuntimeOptions& o = options().run;
    showCaption();

    RouteModel& model = *lvFwTableModel;
    RouteTableRead read = readRouteTable(
        {o.optIgnoreLocalhost, o.optIgnoreBroadcasts, o.optShowIpv6, o.optAllRoutingTables},
        &forwardBuffer_);
    if (!read.ok) {
        model.setActiveDefault(activeDefaultRoute(model.rows()));
        model.setPersistent(read.names);
        return;
    }
    lvFwTable->clearSelection();
    const bool wasShown = model.tablesShown();
    model.setTables(o.optAllRoutingTables, std::move(read.tableNames));
    if (o.optAllRoutingTables && !wasShown)
        lvFwTable->setColumnWidth(fwcol::Table, lvFwTable->columnWidth(fwcol::Metric) * 2);
    model.reset(std::move(read.fill.rows), read.activeDefault);
    // IPv6 rows come last; their addresses need wider columns than dotted quads, once.
    if (!widened6_ && model.rowCount() > 0 && model.row(model.rowCount() - 1).ipv6()) {
        widened6_ = true;
        const int wide = lvFwTable->fontMetrics().horizontalAdvance(
                             QStringLiteral("2001:db8:ffff:ffff:ffff:ffff:ffff")) +
                         12;
        for (const int column : {fwcol::Destination, fwcol::NextHop})
            lvFwTable->setColumnWidth(column, std::max(lvFwTable->columnWidth(column), wide));
    }
    lvRulesModel->reset(std::move(read.rules));
    rulesPanel->setVisible(o.optAllRoutingTables);
    actions_.acDeleteRoute->setEnabled(false);
    actions_.acDelList->setEnabled(read.fill.delListEnabled);
}

void RoutesPage::MergeInactivePersistentRoutes() {
    const RuntimeOptions& o = options().run;
    lvFwTableModel->append(readInactivePersistentRows(
        lvFwTableModel->rows(),
        {o.optIgnoreLocalhost, o.optIgnoreBroadcasts, o.optShowIpv6, o.optAllRoutingTables}));
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
    // The routes themselves, taken before any box opens, with the rows they stood in.
    const std::vector<int> at = selectedRows();
    if (at.empty())
        return;
    std::vector<RouteRow> chosen;
    chosen.reserve(at.size());
    for (const int r : at)
        chosen.push_back(model.row(r));
    const ChangeInProgress change(refresh_);
    if (!confirm(deleteRouteQuestion(static_cast<int>(chosen.size()), chosen.front()),
                 QStringLiteral("Delete")))
        return;
    // The rows of the routes handled so far leave the list in one step whenever a box is
    // about to show, and at the end: the list stands as the deletion left it so far.
    std::vector<bool> refused(chosen.size(), false);
    std::size_t handled = 0;
    int removed = 0;
    const auto settle = [&](std::size_t upTo) {
        std::vector<int> remove;
        for (; handled < upTo; ++handled) {
            if (refused[handled])
                continue;
            // Rows move up by those taken out before them, which are all chosen ones. Nothing
            // refills the list meanwhile; should it have changed all the same, look again.
            const int r = at[handled] - removed;
            if (r >= 0 && r < model.rowCount() && sameRoute(model.row(r), chosen[handled]))
                remove.push_back(r);
            else if (const int moved = rowOf(model, chosen[handled]); moved >= 0)
                remove.push_back(moved);
        }
        std::sort(remove.begin(), remove.end());
        remove.erase(std::unique(remove.begin(), remove.end()), remove.end());
        const int top = lvFwTable->rowAt(0);
        lvFwTable->clearSelection();
        model.removeRowsAt(remove);
        removed += static_cast<int>(remove.size());
        if (top >= 0 && model.rowCount() > 0) {
            const auto above = std::lower_bound(remove.begin(), remove.end(), top) - remove.begin();
            const int keep = std::clamp(top - static_cast<int>(above), 0, model.rowCount() - 1);
            lvFwTable->scrollTo(model.index(keep, 0), QAbstractItemView::PositionAtTop);
        }
    };
    // Each refused route is told, but a few boxes say enough: the rest are counted in one.
    int refusals = 0;
    deleteRoutes(
        chosen,
        [&](std::size_t i, DWORD code) {
            refused[i] = true;
            if (++refusals > ownDeletionFailureMessages)
                return;
            settle(i + 1);
            ReportFailureForced(deletionFailureName(chosen[i]), code);
        },
        // The window keeps painting through a long selection; no input reaches it meanwhile.
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    settle(chosen.size());
    if (refusals > ownDeletionFailureMessages)
        showMessage(moreDeletionFailuresText(refusals - ownDeletionFailureMessages),
                    QStringLiteral("Error"), MsgIcon::Error);
    actions_.acDeleteRoute->setEnabled(false);
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
    return interfaceList_ ? interfaceList_() : std::vector<RouteInterface>();
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
        routeTypeFor(typedNextHop(), gateway, ownAddresses_ ? ownAddresses_() : QStringList());
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
        d.cbPersistent->setEnabled(true);
        // Offered only with every table shown: otherwise the dialog is as it always was.
        d.setTableChoice(options().run.optAllRoutingTables, knownTables());
        if (runModal(d) != QDialog::Accepted)
            return;
        // The default routes as they are now decide the route's type.
        FillRouteTable();
        if (d.ipv6Route || d.table != mainRouteTable) {
            if (!addWideRoute(faces))
                return;
        } else {
            std::optional<MIB_IPFORWARDROW> record = dialogRoute(faces, lvFwTableModel->rows());
            if (!record)
                return;
            const DWORD rc = iphlp().SetIpForwardEntry(&*record);
            if (rc != NO_ERROR) {
                ReportFailureForced(QStringLiteral("SetIPForwardEntry"), rc);
                return;
            }
            SetPersistent(typedRouteName(d.edtNetwork->text(), d.cbxMask->currentText(),
                                         typedNextHop(), d.metric),
                          d.cbPersistent->isChecked());
        }
    }
    if (!options().on(Option::AutoUpdate))
        emit refreshRequested();
    showMessage(QStringLiteral("Route successfully added."), QStringLiteral("Success"),
                MsgIcon::Information);
}

std::vector<RouteTableChoice> RoutesPage::knownTables() const {
    RouteTableNames names;
    names.load();
    std::vector<RouteTableChoice> known;
    for (const std::uint32_t id : names.ids())
        known.push_back({id, printable(QString::fromStdString(names.name(id)))});
    return known;
}

bool RoutesPage::addWideRoute(const std::vector<RouteInterface>& faces) {
    const TfrmModifyRoutes& d = *frmModifyRoutes;
    const std::optional<DWORD> index = interfaceIndexOf(faces, d.cbxInterfaces->currentText());
    if (!index)
        return false;
    MIB_IPFORWARD_ROW2 record{};
    if (d.ipv6Route) {
        record = ipv6RouteRecord(*d.ipv6Route, *index, static_cast<DWORD>(d.metric));
    } else {
        const ip hop(typedNextHop().toStdString());
        record =
            ipv4RouteRecord2(ip(d.edtNetwork->text().toStdString()).value(),
                             ip(d.cbxMask->currentText().toStdString()).value(),
                             hop.valid() ? hop.value() : 0, *index, static_cast<DWORD>(d.metric));
    }
    const bool main = d.table == mainRouteTable;
    const DWORD rc = main ? iphlp().CreateIpForwardEntry2(&record)
                          : iphlp().CorvaneCreateRouteInTable(&record, d.table);
    if (rc != NO_ERROR) {
        ReportFailureForced(main ? QStringLiteral("CreateIpForwardEntry2")
                                 : QStringLiteral("CreateIpForwardEntry2 in table %1").arg(d.table),
                            rc);
        return false;
    }
    if (d.cbPersistent->isChecked())
        SetPersistent(wideRouteName(record, d.table, interfaceNameOf(*index)), true);
    return true;
}

void RoutesPage::acModifyRouteExecute() {
    emit showRequested();
    const std::vector<int> selected = selectedRows();
    if (selected.empty())
        return;
    // The route as the user chose it: kept whatever happens to the list meanwhile.
    const RouteRow old = lvFwTableModel->row(selected.front());
    if (wideDeletionRecord(old)) {
        // The dialog changes IPv4 routes of the main table; another is deleted and added anew.
        showMessage(QStringLiteral("Only IPv4 routes of the main table can be modified. Delete "
                                   "this route and add the new one instead."),
                    QStringLiteral("Modify Route"), MsgIcon::Information);
        return;
    }
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

    const RouteChange edit{
        old, *record,
        typedRouteName(d.edtNetwork->text(), d.cbxMask->currentText(), typedNextHop(), d.metric),
        d.cbPersistent->isChecked()};
    const RouteChangeResult done = changeRoute(edit, [&](DWORD deleteRc) {
        // The old route stays, as persistent as it was; its row is no longer selected.
        if (const int r = rowOf(*lvFwTableModel, old); r >= 0)
            lvFwTable->selectionModel()->select(lvFwTableModel->index(r, 0),
                                                QItemSelectionModel::Deselect |
                                                    QItemSelectionModel::Rows);
        ReportFailureForced(
            QStringLiteral("Couldn't DeleteIpForwardEntry (%1 %2.)")
                .arg(routeCellText(old, fwcol::Destination), routeCellText(old, fwcol::Mask)),
            deleteRc);
    });
    if (!done.changed()) {
        ReportFailureForced(QStringLiteral("SetIPForwardEntry"), done.setRc);
        if (done.backRc != NO_ERROR)
            ReportFailureForced(QStringLiteral("Couldn't put back the route %1 %2 (%3)")
                                    .arg(routeCellText(old, fwcol::Destination),
                                         routeCellText(old, fwcol::Mask),
                                         routeCellText(old, fwcol::NextHop)),
                                done.backRc);
        return;
    }
    if (done.oldGone()) {
        if (const int r = rowOf(*lvFwTableModel, old); r >= 0)
            lvFwTableModel->removeRows(r, 1);
    }
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
        // The route is the answer, so the filter gives way when it hides it.
        if (lvFwTableModel->shownRow(r) < 0)
            edtFilter->clear();
        const QModelIndex at = lvFwTableModel->index(lvFwTableModel->shownRow(r), 0);
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
                         ownAddresses_ ? ownAddresses_() : QStringList());
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
        // Texts are compared as written: a network with leading zeros matches nothing.
        std::vector<int> named =
            index ? rowsNamedByList(lvFwTableModel->rows(), d.routeList->routes(), *index, d.metric)
                  : std::vector<int>();
        // The list names routes, not what the filter shows: they are all shown to be chosen.
        if (std::any_of(named.begin(), named.end(), [this](int r) {
                return lvFwTableModel->shownRow(static_cast<std::size_t>(r)) < 0;
            }))
            edtFilter->clear();
        for (int& r : named)
            r = lvFwTableModel->shownRow(static_cast<std::size_t>(r));
        // Neighbouring rows in one range each: a range per row makes every later step on the
        // selection slow.
        QItemSelection matches;
        for (std::size_t i = 0; i < named.size();) {
            std::size_t j = i;
            while (j + 1 < named.size() && named[j + 1] == named[j] + 1)
                ++j;
            matches.select(lvFwTableModel->index(named[i], 0),
                           lvFwTableModel->index(named[j], lvFwTableModel->columnCount() - 1));
            i = j + 1;
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
