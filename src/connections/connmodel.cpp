#include "connections/connmodel.h"
#include "widgets/fixedcolours.h"

#include <QColor>
#include <QGuiApplication>

namespace corvane {

ConnectionModel::ConnectionModel(int rows, int columns, QObject* parent)
    : QAbstractTableModel(parent), rows_(static_cast<std::size_t>(std::max(rows, 0))) {
    for (int i = 0; i < columns; ++i)
        captions_.append(QString());
}

int ConnectionModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : filter_.shownCount(static_cast<int>(rows_.size()));
}

int ConnectionModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QVariant ConnectionModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ConnRow& row = rows_[static_cast<std::size_t>(filter_.sourceRow(index.row()))];
    switch (role) {
    case Qt::DisplayRole:
        return row.text(index.column());
    case connDataWordRole:
        return row.dataWord;
    case Qt::ForegroundRole:
        if (coloured && coloured())
            return fixedTextColour(row.dataWord == 1 ? QColor(0, 0, 255) : QColor(0, 0, 0),
                                   QGuiApplication::palette().color(QPalette::Base));
        return {};
    default:
        return {};
    }
}

QVariant ConnectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < captions_.size())
        return captions_.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool ConnectionModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                    int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size() ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    captions_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

bool ConnectionModel::insertColumns(int column, int count, const QModelIndex& parent) {
    if (parent.isValid() || column < 0 || column > captions_.size() || count < 1)
        return false;
    beginInsertColumns(parent, column, column + count - 1);
    for (int i = 0; i < count; ++i)
        captions_.insert(column, QString());
    endInsertColumns();
    filter_.rowsChanged();
    if (filter_.active()) {
        beginResetModel();
        refilter();
        endResetModel();
    }
    return true;
}

void ConnectionModel::sort(int column, Qt::SortOrder /*order*/) {
    // The view also asks for a sort when sorting is switched on; only clicks count.
    if (clicksArmed_ && column >= 0)
        columnClick(column);
}

void ConnectionModel::setRows(std::vector<ConnRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    filter_.rowsChanged();
    refilter();
    endResetModel();
}

void ConnectionModel::setFilterText(const QString& text) {
    if (text == filter_.text())
        return;
    beginResetModel();
    filter_.setText(text);
    refilter();
    endResetModel();
}

void ConnectionModel::refilter() {
    filter_.apply([this](RowTextIndex& index) {
        const int columns = columnCount();
        index.reserve(rows_.size(), rows_.size() * 80);
        for (const ConnRow& r : rows_) {
            for (int c = 0; c < columns; ++c)
                index.addCell(r.text(c));
            index.endRow();
        }
    });
}

std::vector<QStringList> ConnectionModel::rowTexts() const {
    std::vector<QStringList> texts;
    texts.reserve(rows_.size());
    for (const ConnRow& r : rows_)
        texts.push_back(r.texts);
    return texts;
}

void ConnectionModel::columnClick(int column) {
    ascending_ = !ascending_;
    sortColumn_ = column;
    beginResetModel();
    sortConnRows(rows_, sortColumn_, ascending_);
    filter_.rowsChanged();
    refilter();
    endResetModel();
    emit sorted(sortColumn_, ascending_);
}

} // namespace corvane
