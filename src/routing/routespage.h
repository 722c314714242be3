// The Routes page: the routing table in lvFwTable with its filters, colours, persistent
// column and store-only rows, the selection rules, the Delete key and route deletion.
#pragma once

#include "routing/route_edit.h"
#include "routing/route_read.h"
#include "routing/routemodel.h"
#include "widgets/page.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QComboBox;
class QLineEdit;

namespace corvane {

class RoutesPage : public Page {
    Q_OBJECT
public:
    explicit RoutesPage(const PageContext& context, QWidget* parent = nullptr);
    ~RoutesPage() override;

    QTableView* lvFwTable = nullptr;
    QMenu* pmRouteMenu = nullptr;
    // Typing narrows the list to the routes with a cell containing the text.
    QLineEdit* edtFilter = nullptr;
    // The policy rules below the routes, shown while every routing table is listed.
    QWidget* rulesPanel = nullptr;
    QTableView* lvRules = nullptr;

    void FillRouteTable();
    void MergeInactivePersistentRoutes();
    void lvFwTableSelectItem();
    void acDeleteRouteExecute();
    void acAddRouteExecute();
    void acModifyRouteExecute();
    void acBestRouteExecute();
    void acAddFromListExecute();
    void acDelListExecute();

    // What the route dialogs need of other pages, supplied by the window: every row of the
    // interface list in its order, and this computer's own addresses.
    void setInterfaceSource(std::function<std::vector<RouteInterface>()> source) {
        interfaceList_ = std::move(source);
    }
    void setOwnAddresses(std::function<QStringList()> source) { ownAddresses_ = std::move(source); }

    // The listed routes' texts in on-screen order, those the filter field hides included.
    int routeCount() const;
    // Column fwcol::Table has text only while every table is listed.
    QString routeText(int row, int column) const;
    bool allTablesShown() const;
    // The listed policy rules (rulecol columns); none unless every table is listed.
    int ruleCount() const;
    QString ruleText(int row, int column) const;

signals:
    // "Routes", or "Routes (filtered)" while a filter or the filter field hides rows.
    void captionChanged(const QString& caption);
    // The first selected route's interface index text: its interface row follows.
    void routeInterfaceSelected(const QString& indexText);
    // A route was changed: its announcement follows the next refresh (tmrModifyUpdate).
    void routeModified();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend struct PageProbe; // the tests' way to the model

    RouteModel* lvFwTableModel = nullptr;
    RuleModel* lvRulesModel = nullptr;
    bool widened6_ = false;
    TableStorage forwardBuffer_; // kept from fill to fill
    void makeRulesView();
    std::function<std::vector<RouteInterface>()> interfaceList_;
    std::function<QStringList()> ownAddresses_;

    std::vector<int> selectedRows() const;
    void showCaption();
    void applyFilterText(const QString& text);
    // The active interfaces into a dialog's box, with their next-hop proposals.
    void fillInterfaceChoice(const std::vector<RouteInterface>& faces, QComboBox* box,
                             QStringList& proposals) const;
    std::vector<RouteInterface> interfaces() const;
    // The route record the dialog describes, through the interface its box names; nothing
    // when no interface row has that description. rows: the list to take the gateway from.
    std::optional<MIB_IPFORWARDROW> dialogRoute(const std::vector<RouteInterface>& faces,
                                                const std::vector<RouteRow>& rows) const;
    QString typedNextHop() const;
    // The tables the add dialog offers, by the names the platform reads.
    std::vector<RouteTableChoice> knownTables() const;
    // An IPv6 route or one of another table from the dialog; false when not made (told).
    bool addWideRoute(const std::vector<RouteInterface>& faces);
};

} // namespace corvane
