#include "interfaces/interfacepage.h"

#include "interfaces/frmifdetails.h"
#include "interfaces/ifstats.h"
#include "interfaces/iftable_read.h"
#include "interfaces/iftable_rows.h"
#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "platform/reportfailure.h"
#include "session/options.h"
#include "session/refresh.h"
#include "widgets/actionlist.h"
#include "widgets/dialogparts.h"
#include "widgets/fixedcolours.h"
#include "widgets/menubuilder.h"
#include "widgets/modal.h"

#include <QAction>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

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
        const QColor colour = fixedTextColour(QColor::fromRgb(ifRowTextColour(word)),
                                              option->palette.color(QPalette::Base));
        option->palette.setColor(QPalette::Text, colour);
        option->palette.setColor(QPalette::HighlightedText,
                                 word == 0 ? colour
                                           : option->palette.color(QPalette::HighlightedText));
    }
};

} // namespace

int ifRowDataWord(const QStandardItemModel& model, int row) {
    return model.data(model.index(row, ifcol::AdminStatus), ifRowDataRole).toInt();
}

void setIfRowDataWord(QStandardItemModel& model, int row, int word) {
    // Setting the data repaints the row through the model's change signal.
    model.setData(model.index(row, ifcol::AdminStatus), word, ifRowDataRole);
}

DWORD SetInterfaceAdminStatus(DWORD index, bool enable) {
    MIB_IFROW row{};
    row.dwIndex = index;
    row.dwAdminStatus = enable ? MIB_IF_ADMIN_STATUS_UP : MIB_IF_ADMIN_STATUS_DOWN;
    return iphlp().SetIfEntry(&row);
}

namespace {

// A refused change is told, whatever "Disable Error Messages" says: a helper that refused or
// a dismissed password prompt would otherwise look like a command that did nothing.
bool adminStatusSet(DWORD index, bool enable) {
    const DWORD rc = SetInterfaceAdminStatus(index, enable);
    ReportFailureForced(QStringLiteral("SetIfEntry"), rc);
    return rc == NO_ERROR;
}

} // namespace

InterfacesPage::InterfacesPage(const PageContext& context, QWidget* parent)
    : Page(context, "tsInterface", 1300, parent) {
    lvIfTableModel = new QStandardItemModel(0, ifcol::Count, this);
    lvIfTable = makeListView(this, "lvIfTable", lvIfTableModel,
                             {{"Admin Status", 81, "disabled"},
                              {"Index", 65, "0x0000"},
                              {"Address", 105, "00-00-00-00-00-00"},
                              {"Type", 65, "TokenRing"},
                              {"Speed", 75, "1000000000"},
                              {"Oper Status", 80, "Cable disconnected"},
                              {"Description", 203}});
    lvIfTable->setItemDelegate(new IfRowColourDelegate(lvIfTable));

    pmInterfaceMenu = popupMenu(this, "pmInterfaceMenu");
    fillMenu(pmInterfaceMenu, actions_, images_,
             {{"EnableIF1", &ActionList::acEnableIF},
              {"DisableIF1", &ActionList::acDisableIF},
              {"IFStatistics1", &ActionList::acIfStats},
              menuSeparator,
              {"IgnoreLocalhost2", nullptr, "Ignore Localhost",
               "Specifies whether the local host interface will be shown", -1, nullptr, 0, true},
              menuSeparator,
              {"Refresh5", &ActionList::acRefresh}});
    attachContextMenu(lvIfTable, pmInterfaceMenu);
    bindRuntimeToggle(pmInterfaceMenu, "IgnoreLocalhost2", &RuntimeOptions::optIgnoreLocalhost);

    connect(lvIfTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &InterfacesPage::lvIfTableSelectItem);
    connect(pmInterfaceMenu, &QMenu::aboutToShow, this, &InterfacesPage::pmInterfaceMenuPopup);
    connect(actions_.acEnableIF, &QAction::triggered, this, &InterfacesPage::acEnableIFExecute);
    connect(actions_.acDisableIF, &QAction::triggered, this, &InterfacesPage::acDisableIFExecute);
    connect(actions_.acIfStats, &QAction::triggered, this, &InterfacesPage::acIfStatsExecute);
    frmIfDetails = new TfrmIfDetails(this);
    connect(frmIfDetails, &TfrmIfDetails::mainWindowMinimised, this,
            &InterfacesPage::mainWindowMinimiseRequested);
}

InterfacesPage::~InterfacesPage() {
    frmIfDetails = nullptr;
}

std::optional<int> InterfacesPage::selectedRow() const {
    const QItemSelectionModel* selection = lvIfTable->selectionModel();
    if (!selection)
        return std::nullopt;
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row();
}

QString InterfacesPage::cellText(int row, int column) const {
    return lvIfTableModel->data(lvIfTableModel->index(row, column)).toString();
}

int InterfacesPage::rowCount() const {
    return lvIfTableModel->rowCount();
}

std::vector<InterfaceRow> InterfacesPage::interfaceRows() const {
    std::vector<InterfaceRow> rows;
    rows.reserve(static_cast<size_t>(rowCount()));
    for (int r = 0; r < rowCount(); ++r)
        rows.push_back({cellText(r, ifcol::Description), cellText(r, ifcol::Index),
                        static_cast<DWORD>(ifRowDataWord(*lvIfTableModel, r))});
    return rows;
}

bool InterfacesPage::rowEnabled(int row) const {
    return cellText(row, ifcol::AdminStatus) == QLatin1String("enabled");
}

// The pop-up's own statistics entry, which may differ from its action.
QAction* InterfacesPage::popupStatisticsItem() const {
    for (QAction* a : pmInterfaceMenu->actions())
        if (a->objectName().startsWith(QLatin1String("IFStatistics")))
            return a;
    return nullptr;
}

void InterfacesPage::FillInterfaceTable() {
    const Options& o = options();
    const auto rows = readInterfaceRows(o.run.optIgnoreLocalhost, o.on(Option::IgnoreOperStatus));
    if (rows) {
        QStandardItemModel& model = *lvIfTableModel;
        lvIfTable->setUpdatesEnabled(false);
        lvIfTable->clearSelection();
        model.removeRows(0, model.rowCount());
        for (const IfTableRow& r : *rows) {
            QList<QStandardItem*> items;
            for (const QString& text : r.columns()) {
                auto* item = new QStandardItem(text);
                item->setEditable(false);
                items.append(item);
            }
            items.first()->setData(r.activeMark, ifRowDataRole);
            model.appendRow(items);
        }
        lvIfTable->setCurrentIndex(QModelIndex());
        lvIfTable->setUpdatesEnabled(true);
    }
    actions_.acEnableIF->setEnabled(false);
    actions_.acDisableIF->setEnabled(false);
    actions_.acIfStats->setEnabled(false);
}

void InterfacesPage::markInterfaceRows(const std::vector<DWORD>& inactive,
                                       const std::vector<DWORD>& several) {
    QStandardItemModel& model = *lvIfTableModel;
    const auto indexOf = [&model](int row) {
        return parseInterfaceIndex(model.data(model.index(row, ifcol::Index)).toString());
    };
    for (const DWORD index : inactive)
        for (int row = 0; row < model.rowCount(); ++row)
            if (indexOf(row) == index)
                setIfRowDataWord(model, row, 0);
    for (const DWORD index : several)
        for (int row = 0; row < model.rowCount(); ++row)
            if (indexOf(row) == index) {
                setIfRowDataWord(model, row,
                                 ifRowDataWord(model, row) +
                                     static_cast<int>(ifmark::SeveralAddresses));
                break;
            }
}

void InterfacesPage::selectInterfaceByDescription(const QString& description) {
    for (int row = 0; row < rowCount(); ++row)
        if (cellText(row, ifcol::Description) == description) {
            lvIfTable->selectRow(row);
            return;
        }
}

void InterfacesPage::selectInterfaceByIndex(const QString& indexText) {
    for (int r = 0; r < rowCount(); ++r) {
        if (cellText(r, ifcol::Index) != indexText)
            continue;
        lvIfTable->selectionModel()->setCurrentIndex(lvIfTableModel->index(r, 0),
                                                     QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
        emit interfaceSelected(cellText(r, ifcol::Description));
        return;
    }
}

void InterfacesPage::lvIfTableSelectItem() {
    const std::optional<int> row = selectedRow();
    if (row)
        emit interfaceSelected(cellText(*row, ifcol::Description));
    actions_.acIfStats->setEnabled(row.has_value());
    const bool enabled = row && rowEnabled(*row);
    actions_.acDisableIF->setEnabled(row && enabled);
    actions_.acEnableIF->setEnabled(row && !enabled);
}

void InterfacesPage::pmInterfaceMenuPopup() {
    for (QAction* a : pmInterfaceMenu->actions())
        if (a->objectName() == QLatin1String("IgnoreLocalhost2"))
            a->setChecked(options().run.optIgnoreLocalhost);
    const std::optional<int> row = selectedRow();
    actions_.acEnableIF->setEnabled(false);
    actions_.acDisableIF->setEnabled(false);
    actions_.acIfStats->setEnabled(row.has_value());
    // Set after the action, which the entry otherwise follows.
    QAction* statistics = popupStatisticsItem();
    if (statistics)
        statistics->setEnabled(false);
    if (!row)
        return;
    if (rowEnabled(*row)) {
        actions_.acDisableIF->setEnabled(true);
        if (statistics)
            statistics->setEnabled(true);
    } else {
        actions_.acEnableIF->setEnabled(true);
    }
}

void InterfacesPage::acEnableIFExecute() {
    emit showRequested();
    const std::optional<int> row = selectedRow();
    if (!row)
        return;
    const std::optional<DWORD> index = parseInterfaceIndex(cellText(*row, ifcol::Index));
    if (index && adminStatusSet(*index, true))
        emit refreshRequested();
}

void InterfacesPage::acDisableIFExecute() {
    emit showRequested();
    const std::optional<int> row = selectedRow();
    if (!row)
        return;
    const std::optional<DWORD> index = parseInterfaceIndex(cellText(*row, ifcol::Index));
    if (!index)
        return;
    const QString question = disableInterfaceQuestion(cellText(*row, ifcol::Description));
    if (!confirm(question, QStringLiteral("Disable I/F"), MsgIcon::Question))
        return;
    if (adminStatusSet(*index, false))
        emit refreshRequested();
}

void InterfacesPage::acIfStatsExecute() {
    emit showRequested();
    TfrmIfDetails& d = *frmIfDetails;
    d.SetStatisticsActive(true);
    if (tmrIntStat_) {
        connect(tmrIntStat_, &QTimer::timeout, this, &InterfacesPage::acIfStatsExecuteUpdate,
                Qt::UniqueConnection);
        tmrIntStat_->start();
    }
    stats_ = IfStatsRun();
    const std::optional<int> row = selectedRow();
    if (!row) {
        acIfStatsExecuteStop(QString(), 0);
    } else {
        stats_.caption =
            ifStatsCaption(cellText(*row, ifcol::Description), cellText(*row, ifcol::Index));
        runModal(d);
    }
    if (tmrIntStat_)
        tmrIntStat_->stop();
    stats_.previousIn = stats_.previousOut = 0;
    d.lblinOctetsps->clear();
    d.lbloutOctetsps->clear();
    d.pbIOPS->setValue(0);
    d.pbOOPS->setValue(0);
}

void InterfacesPage::showRate(std::uint32_t& previous, std::uint32_t now, std::int64_t elapsedNs,
                              QLabel* value, QProgressBar* bar, bool& red) {
    if (previous != 0) {
        const std::uint32_t rate = octetRate(previous, now, elapsedNs);
        value->setText(QString::number(rate));
        bar->setValue(meterPosition(rate));
        if (meterRed(rate) != red) {
            red = meterRed(rate);
            TfrmIfDetails::paintMeter(*bar, red);
        }
    }
    previous = now;
}

void InterfacesPage::acIfStatsExecuteUpdate() {
    if (!frmIfDetails || !frmIfDetails->isVisible())
        return;
    emit showRequested();
    TfrmIfDetails& d = *frmIfDetails;
    // The row is read again each time: a refresh may have refilled the list meanwhile.
    const std::optional<int> row = selectedRow();
    const std::optional<DWORD> index =
        row ? parseInterfaceIndex(cellText(*row, ifcol::Index)) : std::nullopt;
    if (!index) {
        acIfStatsExecuteStop(QString(), 0);
        return;
    }
    // Only the one interface the window shows is read, however many the machine has.
    MIB_IFROW entry{};
    entry.dwIndex = *index;
    const DWORD rc = iphlp().GetIfEntry(&entry);
    if (rc != NO_ERROR) {
        acIfStatsExecuteStop(QStringLiteral("GetIfEntry"), rc);
        return;
    }
    d.gbxIfStats->setTitle(stats_.caption);
    const std::pair<QLabel*, DWORD> values[] = {{d.lblinOctets, entry.dwInOctets},
                                                {d.lblinUcastPkts, entry.dwInUcastPkts},
                                                {d.lblinNUcastPkts, entry.dwInNUcastPkts},
                                                {d.lblinDiscards, entry.dwInDiscards},
                                                {d.lblinErrors, entry.dwInErrors},
                                                {d.lblinUnknownProtos, entry.dwInUnknownProtos},
                                                {d.lbloutOctets, entry.dwOutOctets},
                                                {d.lbloutUcastPkts, entry.dwOutUcastPkts},
                                                {d.lbloutNUcastPkts, entry.dwOutNUcastPkts},
                                                {d.lbloutDiscards, entry.dwOutDiscards},
                                                {d.lbloutErrors, entry.dwOutErrors},
                                                {d.lblMtu, entry.dwMtu},
                                                {d.lbloutQLen, entry.dwOutQLen}};
    for (const auto& [label, value] : values)
        label->setText(QString::number(value));
    if (--stats_.countdown > 0)
        return;
    // The time between two marks is measured: a timer that slipped under load would
    // otherwise make five updates count as a second that was longer.
    const std::int64_t elapsed = stats_.sinceMark.isValid() ? stats_.sinceMark.nsecsElapsed() : 0;
    stats_.sinceMark.start();
    showRate(stats_.previousIn, entry.dwInOctets, elapsed, d.lblinOctetsps, d.pbIOPS, redIn_);
    showRate(stats_.previousOut, entry.dwOutOctets, elapsed, d.lbloutOctetsps, d.pbOOPS, redOut_);
    stats_.countdown = 5;
}

void InterfacesPage::acIfStatsExecuteStop(const QString& callName, DWORD code) {
    TfrmIfDetails& d = *frmIfDetails;
    d.SetStatisticsActive(false);
    if (tmrIntStat_)
        tmrIntStat_->stop();
    emit mainWindowMinimiseRequested(false);
    keepOnTop(d, false);
    // The window closes for this failure alone, so it tells why even inside a refresh.
    const FailureBatchPause ownReport;
    if (code != 0)
        ReportFailure(callName, code);
    else
        showMessage(QStringLiteral("Interface statistcs stopped due to not specified exception."),
                    QStringLiteral("Error"), MsgIcon::Warning);
    d.reject();
}

} // namespace corvane
