// The Interfaces page: the interface table in lvIfTable, its selection, colours and popup
// menu, and the administrative enable and disable of an interface.
#pragma once

#include "iphlpapi.h"
#include "session/interface_marks.h"
#include "widgets/page.h"

#include <QElapsedTimer>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QProgressBar;
class QStandardItemModel;
class QTimer;

namespace corvane {

// Where a row of lvIfTable keeps its data word (ifmark bits): on the row caption's item.
inline constexpr int ifRowDataRole = Qt::UserRole + 1;
int ifRowDataWord(const QStandardItemModel& model, int row);
void setIfRowDataWord(QStandardItemModel& model, int row, int word);

// The platform's answer to the new administrative status (NO_ERROR when it took it).
DWORD SetInterfaceAdminStatus(DWORD index, bool enable);

class InterfacesPage : public Page {
    Q_OBJECT
public:
    explicit InterfacesPage(const PageContext& context, QWidget* parent = nullptr);
    ~InterfacesPage() override;

    QTableView* lvIfTable = nullptr;
    QMenu* pmInterfaceMenu = nullptr;

    void FillInterfaceTable();
    void lvIfTableSelectItem();
    void pmInterfaceMenuPopup();
    void acEnableIFExecute();
    void acDisableIFExecute();
    void acIfStatsExecute();
    void acIfStatsExecuteUpdate();
    void acIfStatsExecuteStop(const QString& callName, DWORD code);

    // The window's timer that drives the statistics window.
    void setStatisticsTimer(QTimer* timer) { tmrIntStat_ = timer; }

    // The row texts in on-screen order.
    QString cellText(int row, int column) const;
    int rowCount() const;
    // Every row with its data word, in on-screen order.
    std::vector<InterfaceRow> interfaceRows() const;

public slots:
    // The adapter pass: rows of these interfaces lose their whole word, or gain
    // ifmark::SeveralAddresses.
    void markInterfaceRows(const std::vector<DWORD>& inactive, const std::vector<DWORD>& several);
    // The row whose description is this adapter's (a click on the adapter's tree node).
    void selectInterfaceByDescription(const QString& description);
    // The row of this index text (a route selected on the Routes page).
    void selectInterfaceByIndex(const QString& indexText);

signals:
    // A row was selected; its adapter node follows.
    void interfaceSelected(const QString& description);
    // The statistics window asks the main window to step aside ("Always on top") or back.
    void mainWindowMinimiseRequested(bool minimised);

private:
    friend struct PageProbe; // the tests' way to the model

    QStandardItemModel* lvIfTableModel = nullptr;
    QTimer* tmrIntStat_ = nullptr;

    // One run of the statistics window.
    struct IfStatsRun {
        QString caption;
        int countdown = 5;
        std::uint32_t previousIn = 0; // 0: no mark yet
        std::uint32_t previousOut = 0;
        QElapsedTimer sinceMark;
    };
    IfStatsRun stats_;
    bool redIn_ = false; // kept across runs, as the bars' colours are
    bool redOut_ = false;
    void showRate(std::uint32_t& previous, std::uint32_t now, std::int64_t elapsedNs, QLabel* value,
                  QProgressBar* bar, bool& red);

    std::optional<int> selectedRow() const;
    bool rowEnabled(int row) const;
    QAction* popupStatisticsItem() const;
};

} // namespace corvane
