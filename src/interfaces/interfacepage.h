// The Interfaces page: the interface table in lvIfTable, its selection, colours and popup
// menu, and the administrative enable and disable of an interface.
#pragma once

#include "iphlpapi.h"
#include "shell/page.h"

#include <QStringList>
#include <optional>
#include <vector>

class QStandardItemModel;

namespace corvane {

// Where a row of lvIfTable keeps its data word: on the row caption's item. Bit 0x1 is the
// active mark; the adapter pass clears the word or adds 0x80.
inline constexpr int ifRowDataRole = Qt::UserRole + 1;
int ifRowDataWord(const QStandardItemModel& model, int row);
void setIfRowDataWord(QStandardItemModel& model, int row, int word);

// True exactly when the platform accepted the new administrative status.
bool SetInterfaceAdminStatus(DWORD index, bool enable);

class InterfacesPage : public Page {
    Q_OBJECT
public:
    explicit InterfacesPage(const PageContext& context, QWidget* parent = nullptr);

    QTableView* lvIfTable = nullptr;
    QStandardItemModel* lvIfTableModel = nullptr;
    QMenu* pmInterfaceMenu = nullptr;

    void FillInterfaceTable();
    void lvIfTableSelectItem();
    void pmInterfaceMenuPopup();
    void acEnableIFExecute();
    void acDisableIFExecute();

    // The row texts in on-screen order.
    QString cellText(int row, int column) const;
    int rowCount() const;

public slots:
    // The adapter pass: rows of these interfaces lose their active mark, or gain 0x80.
    void markInterfaceRows(const std::vector<DWORD>& inactive, const std::vector<DWORD>& several);
    // The row whose description is this adapter's (a click on the adapter's tree node).
    void selectInterfaceByDescription(const QString& description);
    // The row of this index text (a route selected on the Routes page).
    void selectInterfaceByIndex(const QString& indexText);

signals:
    // A row was selected; its adapter node follows.
    void interfaceSelected(const QString& description);

private:
    std::optional<int> selectedRow() const;
    bool rowEnabled(int row) const;
    QAction* popupStatisticsItem() const;
};

} // namespace corvane
