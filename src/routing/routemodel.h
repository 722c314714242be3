// lvFwTable's model: a plain vector of route rows, replaced in one reset per fill so that a
// table of a hundred thousand routes fills and scrolls without per-cell objects.
#pragma once

#include "platform/routetables.h"
#include "routing/route_rows.h"
#include "routing/rule_rows.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <vector>

namespace corvane {

// The row tag, as item data of every cell.
inline constexpr int routeTagRole = Qt::UserRole + 1;

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

    const std::vector<RouteRow>& rows() const { return rows_; }
    const RouteRow& row(int r) const { return rows_[static_cast<std::size_t>(r)]; }
    int activeDefault() const { return activeDefault_; }

    void reset(std::vector<RouteRow> rows, int activeDefault);
    // The Table column, shown while every table is listed, with the names it shows.
    void setTables(bool shown, RouteTableNames names);
    bool tablesShown() const { return tables_; }
    QString cellText(int row, int column) const;
    // Recomputes the Persistent column of the rows as they stand.
    void setPersistent(const PersistentNames& names);
    void setActiveDefault(int index);
    void append(std::vector<RouteRow> rows);
    // Takes out the rows at these positions (ascending, each once) in one reset, however many
    // and wherever they are; the underline follows its route or goes with it.
    void removeRowsAt(const std::vector<int>& sortedRows);

    // Asked at paint time, so switching the option recolours without a refill.
    std::function<bool()> coloured;

private:
    std::vector<RouteRow> rows_;
    QStringList captions_;
    int activeDefault_ = -1;
    bool tables_ = false;
    RouteTableNames names_;
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
