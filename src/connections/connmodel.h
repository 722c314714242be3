// The rows of lvConnections: a plain vector replaced in one piece per listing, so that
// thousands of sockets cost one model reset rather than an item per cell. A typed filter
// shows some of them; the model's row numbers are the shown rows'.
#pragma once

#include "connections/conn_rows.h"
#include "widgets/rowfilter.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <vector>

namespace corvane {

// Where the row's data word (1 TCP, 0 UDP) is offered.
inline constexpr int connDataWordRole = Qt::UserRole + 1;

class ConnectionModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The signature of the other list models, so the page builder can create either.
    ConnectionModel(int rows, int columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // Start-up adds the "Owner Process" column this way.
    bool insertColumns(int column, int count, const QModelIndex& parent = QModelIndex()) override;
    // The view's header click arrives here once clicks are armed.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void setRows(std::vector<ConnRow> rows);
    void clear() { setRows({}); }
    // Every row, those the filter hides included.
    const std::vector<ConnRow>& rows() const { return rows_; }
    // Shows only the rows with a cell containing text, in any letter case; all when empty.
    void setFilterText(const QString& text);
    bool filtering() const { return filter_.active(); }
    // Each row's texts in page order, for the report; hidden rows included.
    std::vector<QStringList> rowTexts() const;

    // The column click: flips the direction on every click, remembers the column, sorts once.
    void columnClick(int column);
    void armColumnClicks() { clicksArmed_ = true; }
    int sortColumn() const { return sortColumn_; }
    bool ascending() const { return ascending_; }

    // Asked while painting: with colours on, TCP rows are blue and the others black.
    std::function<bool()> coloured;

signals:
    void sorted(int column, bool ascending);

private:
    std::vector<ConnRow> rows_;
    QStringList captions_;
    int sortColumn_ = 0;
    bool ascending_ = false;
    bool clicksArmed_ = false;
    RowFilter filter_;

    // Within a reset: the shown rows of the rows as they now stand.
    void refilter();
};

} // namespace corvane
