#include "routing/routespage.h"

#include "hostinfo/adaptertree.h"
#include "interfaces/iftable_rows.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "routing/persistentroutes.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/machinestore.h"
#include "shell/prompter.h"
#include "shell/refresh.h"
#include "shell/runtimeoptions.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <vector>

namespace corvane {
namespace {

// Rows currently selected, in list order.
std::vector<int> selectedRows(const TfrmMain& w) {
    std::vector<int> rows;
    if (const QItemSelectionModel* selection = w.lvFwTable->selectionModel())
        for (const QModelIndex& index : selection->selectedRows())
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// GetIpForwardTable into a buffer grown to the size the platform asks for, the last call
// sorted. A route added between two calls outgrows the size just reported, so the growth is
// tried a few times before the shortage counts as a failure.
DWORD readForwardTable(std::vector<DWORD>& storage, ULONG& size) {
    size = oneRowFwTableSize;
    storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    DWORD rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()),
                                         &size, BOOL{0});
    constexpr int attempts = 4;
    for (int i = 0; i < attempts; ++i) {
        if (rc == ERROR_INSUFFICIENT_BUFFER)
            storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
        rc = iphlp().GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(storage.data()), &size,
                                       BOOL{1});
        if (rc != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
    return rc;
}

// Where the list shows that route now; -1 when it no longer does.
int rowOf(const RouteModel& model, const RouteRow& route) {
    const std::vector<RouteRow>& rows = model.rows();
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&route](const RouteRow& r) { return sameRoute(r, route); });
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

bool coloredTables() {
    return frmSetup == nullptr || frmSetup->cbxColoredFwTable->isChecked();
}

bool autoUpdate() {
    return frmSetup != nullptr && frmSetup->cbxAutoUpdate->isChecked();
}

void showInterfaceOf(TfrmMain& w, const QString& indexText) {
    const QStandardItemModel& ifs = *w.lvIfTableModel;
    for (int r = 0; r < ifs.rowCount(); ++r) {
        if (ifs.index(r, ifcol::Index).data().toString() != indexText)
            continue;
        w.lvIfTable->selectionModel()->setCurrentIndex(
            ifs.index(r, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        selectAdapterNode(w, ifs.index(r, ifcol::Description).data().toString());
        return;
    }
}

// lvFwTableKeyDown: the Delete key deletes whatever the action's state.
class DeleteKeyFilter : public QObject {
public:
    DeleteKeyFilter(TfrmMain& w, QObject* parent) : QObject(parent), w_(w) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            acDeleteRouteExecute(w_);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TfrmMain& w_;
};

} // namespace

void FillRouteTable(TfrmMain& w) {
    const RuntimeOptions& o = runtimeOptions();
    QString caption = QStringLiteral("Routes");
    if (o.optIgnoreLocalhost || o.optIgnoreBroadcasts)
        caption += QStringLiteral(" (filtered)");
    w.pcMain->setTabText(w.pcMain->indexOf(w.tsRoutes), caption);

    RouteModel& model = *w.lvFwTableModel;
    std::vector<DWORD> storage;
    ULONG size = 0;
    const DWORD rc = readForwardTable(storage, size);
    // The store is read once per fill and looked up by hash, whatever the number of rows.
    const PersistentNames names(ReadPersistentRouteNames());
    // A store damaged while the program runs is first met here.
    reportStoreEvents();
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetFwTable"), rc);
        model.setActiveDefault(activeDefaultRoute(model.rows()));
        model.setPersistent(names);
        return;
    }
    const auto& table = *reinterpret_cast<const MIB_IPFORWARDTABLE*>(storage.data());
    RouteFill fill = makeRouteRows(table, size, {o.optIgnoreLocalhost, o.optIgnoreBroadcasts});
    markPersistent(fill.rows, names);
    const int active = activeDefaultRoute(fill.rows);
    w.lvFwTable->clearSelection();
    model.reset(std::move(fill.rows), active);
    w.acDeleteRoute->setEnabled(false);
    w.acDelList->setEnabled(fill.delListEnabled);
}

void MergeInactivePersistentRoutes(TfrmMain& w) {
    RouteModel& model = *w.lvFwTableModel;
    model.append(inactivePersistentRows(model.rows(), ReadPersistentRouteNames()));
}

void lvFwTableSelectItem(TfrmMain& w) {
    const std::vector<int> rows = selectedRows(w);
    const RouteModel& model = *w.lvFwTableModel;
    w.acDeleteRoute->setEnabled(!rows.empty() && model.row(rows.front()).tag != routeTagLocal);
    w.acModifyRoute->setEnabled(rows.size() == 1 && model.row(rows.front()).tag != routeTagLocal &&
                                !model.row(rows.front()).inactive());
    if (!rows.empty())
        showInterfaceOf(w, routeCellText(model.row(rows.front()), fwcol::Index));
}

void acDeleteRouteExecute(TfrmMain& w) {
    w.pcMain->setCurrentWidget(w.tsRoutes);
    RouteModel& model = *w.lvFwTableModel;
    // The routes themselves, taken before any box opens: a row number names another route, or
    // none, once the list has changed.
    std::vector<RouteRow> chosen;
    for (const int r : selectedRows(w))
        chosen.push_back(model.row(r));
    if (chosen.empty())
        return;
    const ChangeInProgress change(*w.refresh);
    if (!confirm(deleteRouteQuestion(static_cast<int>(chosen.size()), chosen.front()),
                 QStringLiteral("Delete")))
        return;
    for (const RouteRow& route : chosen) {
        if (!route.inactive()) {
            MIB_IPFORWARDROW record = routeDeletionRecord(route);
            const DWORD rc = iphlp().DeleteIpForwardEntry(&record);
            if (rc != NO_ERROR) {
                if (const int r = rowOf(model, route); r >= 0)
                    w.lvFwTable->selectionModel()->select(model.index(r, 0),
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
        w.acDeleteRoute->setEnabled(false);
    }
    // Held back by the change until it ends, together with any update asked for meanwhile.
    if (!autoUpdate())
        w.RefreshNetworkStatus();
}

void installRoutesPage(TfrmMain& w) {
    w.lvFwTableModel->coloured = coloredTables;
    w.refresh->setFill(FillStep::RouteTable, [&w] { FillRouteTable(w); });
    w.refresh->setFill(FillStep::InactivePersistentRoutes,
                       [&w] { MergeInactivePersistentRoutes(w); });
    QObject::connect(w.lvFwTable->selectionModel(), &QItemSelectionModel::selectionChanged, &w,
                     [&w] { lvFwTableSelectItem(w); });
    QObject::connect(w.acDeleteRoute, &QAction::triggered, &w, [&w] { acDeleteRouteExecute(w); });
    w.lvFwTable->installEventFilter(new DeleteKeyFilter(w, w.lvFwTable));
}

} // namespace corvane
