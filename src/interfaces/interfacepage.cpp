#include "interfaces/interfacepage.h"

#include "hostinfo/adaptertree.h"
#include "interfaces/iftable_rows.h"
#include "platform/iphelper.h"
#include "platform/reportfailure.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "shell/prompter.h"
#include "shell/runtimeoptions.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <optional>
#include <vector>

namespace corvane {
namespace {

// lvIfTableCustomDrawItem: the text colour follows the row's data word as it stands when
// the row is painted, so the adapter pass's later changes show without a refill.
class IfRowColourDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int word = index.siblingAtColumn(ifcol::AdminStatus).data(ifRowDataRole).toInt();
        const QColor colour = ifRowTextColour(word);
        option->palette.setColor(QPalette::Text, colour);
        option->palette.setColor(QPalette::HighlightedText,
                                 word == 0 ? colour
                                           : option->palette.color(QPalette::HighlightedText));
    }
};

std::optional<int> selectedRow(const TfrmMain& w) {
    const QItemSelectionModel* selection = w.lvIfTable->selectionModel();
    if (!selection)
        return std::nullopt;
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row();
}

QString cellText(const TfrmMain& w, int row, int column) {
    return w.lvIfTableModel->data(w.lvIfTableModel->index(row, column)).toString();
}

bool rowEnabled(const TfrmMain& w, int row) {
    return cellText(w, row, ifcol::AdminStatus) == QLatin1String("enabled");
}

// The pop-up's own statistics entry, which may differ from its action.
QAction* popupStatisticsItem(const TfrmMain& w) {
    for (QAction* a : w.pmInterfaceMenu->actions())
        if (a->objectName().startsWith(QLatin1String("IFStatistics")))
            return a;
    return nullptr;
}

bool ignoreOperStatus() {
    return frmSetup != nullptr && frmSetup->IgnoreOperStatus;
}

// GetIfTable into a buffer grown to the size the platform asks for. An interface that
// appears between two calls makes the table outgrow the size just reported, so the growth
// is tried a few times before the shortage counts as a failure.
DWORD readIfTable(std::vector<DWORD>& storage, ULONG& size) {
    constexpr int attempts = 4;
    size = oneRowIfTableSize;
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int i = 0; i < attempts && rc == ERROR_INSUFFICIENT_BUFFER; ++i) {
        storage.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        rc = iphlp().GetIfTable(reinterpret_cast<MIB_IFTABLE*>(storage.data()), &size, BOOL{1});
    }
    // The buffer holds what was allocated, whatever size the last call reported.
    size = static_cast<ULONG>(storage.size() * sizeof(DWORD));
    return rc;
}

void setAction(QAction* a, bool enabled) {
    a->setEnabled(enabled);
}

} // namespace

int ifRowDataWord(const QStandardItemModel& model, int row) {
    return model.data(model.index(row, ifcol::AdminStatus), ifRowDataRole).toInt();
}

void setIfRowDataWord(QStandardItemModel& model, int row, int word) {
    // Setting the data repaints the row through the model's change signal.
    model.setData(model.index(row, ifcol::AdminStatus), word, ifRowDataRole);
}

void FillInterfaceTable(TfrmMain& w) {
    std::vector<DWORD> storage;
    ULONG size = 0;
    const DWORD rc = readIfTable(storage, size);
    if (rc != NO_ERROR) {
        ReportFailure(QStringLiteral("GetIfTable"), rc);
    } else {
        const auto& table = *reinterpret_cast<const MIB_IFTABLE*>(storage.data());
        const std::vector<IfTableRow> rows =
            makeIfTableRows(table, size, runtimeOptions().optIgnoreLocalhost, ignoreOperStatus());
        QStandardItemModel& model = *w.lvIfTableModel;
        w.lvIfTable->setUpdatesEnabled(false);
        w.lvIfTable->clearSelection();
        model.removeRows(0, model.rowCount());
        for (const IfTableRow& r : rows) {
            QList<QStandardItem*> items;
            for (const QString& text : r.columns()) {
                auto* item = new QStandardItem(text);
                item->setEditable(false);
                items.append(item);
            }
            items.first()->setData(r.activeMark, ifRowDataRole);
            model.appendRow(items);
        }
        w.lvIfTable->setCurrentIndex(QModelIndex());
        w.lvIfTable->setUpdatesEnabled(true);
    }
    setAction(w.acEnableIF, false);
    setAction(w.acDisableIF, false);
    setAction(w.acIfStats, false);
}

bool SetInterfaceAdminStatus(DWORD index, bool enable) {
    MIB_IFROW row{};
    row.dwIndex = index;
    row.dwAdminStatus = enable ? MIB_IF_ADMIN_STATUS_UP : MIB_IF_ADMIN_STATUS_DOWN;
    return iphlp().SetIfEntry(&row) == NO_ERROR;
}

void lvIfTableSelectItem(TfrmMain& w) {
    const std::optional<int> row = selectedRow(w);
    if (row)
        selectAdapterNode(w, cellText(w, *row, ifcol::Description));
    setAction(w.acIfStats, row.has_value());
    const bool enabled = row && rowEnabled(w, *row);
    setAction(w.acDisableIF, row && enabled);
    setAction(w.acEnableIF, row && !enabled);
}

void pmInterfaceMenuPopup(TfrmMain& w) {
    for (QAction* a : w.pmInterfaceMenu->actions())
        if (a->objectName().startsWith(QLatin1String("IgnoreLocalhost")))
            a->setChecked(runtimeOptions().optIgnoreLocalhost);
    const std::optional<int> row = selectedRow(w);
    setAction(w.acEnableIF, false);
    setAction(w.acDisableIF, false);
    setAction(w.acIfStats, row.has_value());
    // Set after the action, which the entry otherwise follows.
    QAction* statistics = popupStatisticsItem(w);
    if (statistics)
        statistics->setEnabled(false);
    if (!row)
        return;
    if (rowEnabled(w, *row)) {
        setAction(w.acDisableIF, true);
        if (statistics)
            statistics->setEnabled(true);
    } else {
        setAction(w.acEnableIF, true);
    }
}

void acEnableIFExecute(TfrmMain& w) {
    w.pcMain->setCurrentWidget(w.tsInterface);
    const std::optional<int> row = selectedRow(w);
    if (!row)
        return;
    const std::optional<DWORD> index = parseInterfaceIndex(cellText(w, *row, ifcol::Index));
    if (index && SetInterfaceAdminStatus(*index, true))
        w.RefreshNetworkStatus();
}

void acDisableIFExecute(TfrmMain& w) {
    w.pcMain->setCurrentWidget(w.tsInterface);
    const std::optional<int> row = selectedRow(w);
    if (!row)
        return;
    const std::optional<DWORD> index = parseInterfaceIndex(cellText(w, *row, ifcol::Index));
    if (!index)
        return;
    const QString question = disableInterfaceQuestion(cellText(w, *row, ifcol::Description));
    if (!confirm(question, QStringLiteral("Disable I/F"), MsgIcon::Question))
        return;
    if (SetInterfaceAdminStatus(*index, false))
        w.RefreshNetworkStatus();
}

void installInterfacePage(TfrmMain& w) {
    w.lvIfTable->setItemDelegate(new IfRowColourDelegate(w.lvIfTable));
    w.refresh->setFill(FillStep::InterfaceTable, [&w] { FillInterfaceTable(w); });
    QObject::connect(w.lvIfTable->selectionModel(), &QItemSelectionModel::selectionChanged, &w,
                     [&w] { lvIfTableSelectItem(w); });
    QObject::connect(w.pmInterfaceMenu, &QMenu::aboutToShow, &w, [&w] { pmInterfaceMenuPopup(w); });
    QObject::connect(w.acEnableIF, &QAction::triggered, &w, [&w] { acEnableIFExecute(w); });
    QObject::connect(w.acDisableIF, &QAction::triggered, &w, [&w] { acDisableIFExecute(w); });
}

} // namespace corvane
