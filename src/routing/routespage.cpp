#include "routing/routespage.h"

#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "routing/persistentroutes.h"
#include "routing/route_read.h"
#include "shell/actionlist.h"
#include "shell/menubuilder.h"
#include "shell/options.h"
#include "shell/refresh.h"

#include <QAction>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QTableView>
#include <algorithm>

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
    lvFwTable->installEventFilter(this);
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

} // namespace corvane
