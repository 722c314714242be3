// lvFwTable's model: a plain vector of route rows, replaced in one reset per fill so that a
// table of a hundred thousand routes fills and scrolls without per-cell objects.
#pragma once

#include "routing/route_rows.h"

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
};

} // namespace corvane
