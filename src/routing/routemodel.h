// lvFwTable's model: a plain vector of route rows, replaced in one reset per fill so that a
// table of a hundred thousand routes fills and scrolls without per-cell objects. A typed
// filter shows some of them: row numbers are the shown rows' unless said otherwise.
#pragma once

#include "platform/routetables.h"
#include "routing/route_rows.h"
#include "routing/rule_rows.h"
#include "widgets/rowfilter.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <vector>

namespace corvane {

// The row tag, as item data of every cell.
inline constexpr int routeTagRole = Qt::UserRole + 1;

// What the filter searches: the cells of rows as the list shows them, with the Table column
// when tables is set. The IPv4 rows of the kernel are written without a text made per cell.
void indexRouteRows(RowTextIndex& index, const std::vector<RouteRow>& rows, bool tables,
                    const RouteTableNames& names);

class RouteModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RouteModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // Every row, those the filter hides included; activeDefault is one of them.
    const std::vector<RouteRow>& rows() const { return rows_; }
    const RouteRow& row(int r) const {
        return rows_[static_cast<std::size_t>(filter_.sourceRow(r))];
    }
    int activeDefault() const { return activeDefault_; }
    // Where rows()[index] is shown; -1 while the filter hides it.
    int shownRow(std::size_t index) const { return filter_.shownRow(static_cast<int>(index)); }

    // Shows only the rows with a cell containing text, in any letter case; all when empty.
    void setFilterText(const QString& text);
    const QString& filterText() const { return filter_.text(); }
    bool filtering() const { return filter_.active(); }

    void reset(std::vector<RouteRow> rows, int activeDefault);
    // The Table column, shown while every table is listed, with the names it shows.
    void setTables(bool shown, RouteTableNames names);
    bool tablesShown() const { return tables_; }
    QString cellText(int row, int column) const;
    // Of rows()[index], shown or not.
    QString sourceCellText(std::size_t index, int column) const;
    // Recomputes the Persistent column of the rows as they stand.
    void setPersistent(const PersistentNames& names);
    // index: in rows().
    void setActiveDefault(int index);
    void append(std::vector<RouteRow> rows);
    // Takes out the shown rows at these positions (ascending, each once) in one reset, however
    // many and wherever they are; the underline follows its route or goes with it.
    void removeRowsAt(const std::vector<int>& shownRows);

    // Asked at paint time, so switching the option recolours without a refill.
    std::function<bool()> coloured;

private:
    std::vector<RouteRow> rows_;
    QStringList captions_;
    int activeDefault_ = -1;
    bool tables_ = false;
    RouteTableNames names_;
    RowFilter filter_;

    void indexRows(RowTextIndex& index) const;
    // The rows' texts changed: while filtering, the shown rows are chosen again.
    void textsChanged();
};

// The policy rules' view: a few dozen rows at most, replaced at every fill.
class RuleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RuleModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

    const std::vector<RuleRow>& rows() const { return rows_; }
    void reset(std::vector<RuleRow> rows);

private:
    std::vector<RuleRow> rows_;
    QStringList captions_;
};

} // namespace corvane
