// The Routes page: the routing table in lvFwTable with its filters, colours, persistent
// column and store-only rows, the selection rules, the Delete key and route deletion.
#pragma once

#include "routing/routemodel.h"
#include "shell/page.h"

#include <vector>

namespace corvane {

class RoutesPage : public Page {
    Q_OBJECT
public:
    explicit RoutesPage(const PageContext& context, QWidget* parent = nullptr);

    QTableView* lvFwTable = nullptr;
    RouteModel* lvFwTableModel = nullptr;
    QMenu* pmRouteMenu = nullptr;

    void FillRouteTable();
    void MergeInactivePersistentRoutes();
    void lvFwTableSelectItem();
    void acDeleteRouteExecute();

signals:
    // "Routes", or "Routes (filtered)" while a filter hides rows.
    void captionChanged(const QString& caption);
    // The first selected route's interface index text: its interface row follows.
    void routeInterfaceSelected(const QString& indexText);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<int> selectedRows() const;
};

} // namespace corvane
