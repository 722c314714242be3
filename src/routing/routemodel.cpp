#include "routing/routemodel.h"
#include "widgets/fixedcolours.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <algorithm>
#include <iterator>

namespace corvane {

RouteModel::RouteModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int i = 0; i < fwcol::CountWithTable; ++i)
        captions_.append(QString());
    captions_[fwcol::Table] = QStringLiteral("Table");
}

int RouteModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RouteModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : tables_ ? fwcol::CountWithTable : fwcol::Count;
}

QString RouteModel::cellText(int r, int column) const {
    const RouteRow& at = row(r);
    if (column == fwcol::Table)
        return tables_ ? routeTableText(at, names_) : QString();
    return routeCellText(at, column);
}

void RouteModel::setTables(bool shown, RouteTableNames names) {
    if (shown == tables_) {
        names_ = std::move(names);
        if (tables_ && !rows_.empty())
            emit dataChanged(index(0, fwcol::Table), index(rowCount() - 1, fwcol::Table));
        return;
    }
    beginResetModel();
    tables_ = shown;
    names_ = std::move(names);
    endResetModel();
}

QVariant RouteModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RouteRow& r = row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case routeTagRole:
        return r.tag;
    case Qt::ForegroundRole:
        if (coloured && coloured())
            return QBrush(fixedTextColour(QColor::fromRgb(routeTextColour(r)),
                                          QGuiApplication::palette().color(QPalette::Base)));
        return {};
    case Qt::FontRole:
        if (coloured && coloured() && index.row() == activeDefault_) {
            QFont font;
            font.setUnderline(true);
            return font;
        }
        return {};
    default:
        return {};
    }
}

QVariant RouteModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < captions_.size())
        return captions_.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool RouteModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                               int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    captions_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

bool RouteModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    const auto first = std::next(rows_.begin(), row);
    rows_.erase(first, std::next(first, count));
    // The underline follows its route, or goes with it.
    if (activeDefault_ >= row + count)
        activeDefault_ -= count;
    else if (activeDefault_ >= row)
        activeDefault_ = -1;
    endRemoveRows();
    return true;
}

void RouteModel::removeRowsAt(const std::vector<int>& sortedRows) {
    if (sortedRows.empty())
        return;
    std::vector<RouteRow> kept;
    kept.reserve(rows_.size() - std::min(rows_.size(), sortedRows.size()));
    int active = activeDefault_;
    std::size_t next = 0;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (next < sortedRows.size() && static_cast<std::size_t>(sortedRows[next]) == r) {
            ++next;
            if (static_cast<int>(r) == activeDefault_)
                active = -1;
            else if (static_cast<int>(r) < activeDefault_ && active >= 0)
                --active;
            continue;
        }
        kept.push_back(std::move(rows_[r]));
    }
    reset(std::move(kept), active);
}

void RouteModel::reset(std::vector<RouteRow> rows, int activeDefault) {
    beginResetModel();
    rows_ = std::move(rows);
    activeDefault_ = activeDefault;
    endResetModel();
}

void RouteModel::setPersistent(const PersistentNames& names) {
    markPersistent(rows_, names);
    if (!rows_.empty())
        emit dataChanged(index(0, fwcol::Persistent), index(rowCount() - 1, fwcol::Persistent));
}

void RouteModel::setActiveDefault(int index) {
    activeDefault_ = index;
    if (!rows_.empty())
        emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, columnCount() - 1));
}

void RouteModel::append(std::vector<RouteRow> rows) {
    if (rows.empty())
        return;
    beginInsertRows(QModelIndex(), rowCount(), rowCount() + static_cast<int>(rows.size()) - 1);
    for (RouteRow& r : rows)
        rows_.push_back(std::move(r));
    endInsertRows();
}

RuleModel::RuleModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int i = 0; i < rulecol::Count; ++i)
        captions_.append(QString());
}

int RuleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RuleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rulecol::Count;
}

QVariant RuleModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    return ruleCellText(rows_[static_cast<std::size_t>(index.row())], index.column());
}

QVariant RuleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < captions_.size())
        return captions_.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool RuleModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                              int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    captions_[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

void RuleModel::reset(std::vector<RuleRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

} // namespace corvane
