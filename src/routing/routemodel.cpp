#include "routing/routemodel.h"
#include "registry/route_name.h"
#include "widgets/fixedcolours.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

namespace corvane {
namespace {

// Writes backwards from end; returns the first character.
char* decimal(char* end, std::uint32_t value) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

std::size_t quad(char* out, std::uint32_t value) {
    return static_cast<std::size_t>(reg::writeQuad(out, value) - out);
}

// Folded texts of the few values many rows share.
class FoldedTexts {
public:
    template <typename Make> const std::string& get(std::uint32_t key, Make make) {
        for (const auto& [k, text] : texts_)
            if (k == key)
                return text;
        QString folded = filterFolded(make());
        folded.replace(QChar(u'\0'), QChar(u' ')); // as a cell of its own would have it
        texts_.emplace_back(key, folded.toUtf8().toStdString());
        return texts_.back().second;
    }

private:
    std::vector<std::pair<std::uint32_t, std::string>> texts_;
};

} // namespace

void indexRouteRows(RowTextIndex& index, const std::vector<RouteRow>& rows, bool tables,
                    const RouteTableNames& names) {
    index.reserve(rows.size(), rows.size() * 72);
    FoldedTexts protocols, tableTexts;
    char cell[24];
    char* const cellEnd = cell + sizeof cell;
    for (const RouteRow& r : rows) {
        if (r.inactive() || r.ipv6()) {
            for (int c = 0; c < fwcol::Count; ++c)
                index.addCell(routeCellText(r, c));
        } else {
            index.addFolded(cell, quad(cell, r.destination));
            index.addFolded(cell, quad(cell, r.mask));
            index.addFolded(cell, quad(cell, r.nextHop));
            char* first = cellEnd;
            std::uint32_t i = r.ifIndex;
            do {
                *--first = "0123456789abcdef"[i & 0xFU];
                i >>= 4;
            } while (i != 0);
            *--first = 'x';
            *--first = '0';
            index.addFolded(first, static_cast<std::size_t>(cellEnd - first));
            // Shown as the signed number it is stored as.
            const auto metric = static_cast<std::int32_t>(r.metric);
            first = decimal(cellEnd, metric < 0 ? 0U - static_cast<std::uint32_t>(metric)
                                                : static_cast<std::uint32_t>(metric));
            if (metric < 0)
                *--first = '-';
            index.addFolded(first, static_cast<std::size_t>(cellEnd - first));
            index.addFolded("yes", r.persistent ? 3 : 0);
            const std::string& protocol =
                protocols.get(r.protocol, [&r] { return routeCellText(r, fwcol::Protocol); });
            index.addFolded(protocol.data(), protocol.size());
        }
        if (tables) {
            if (r.inactive() || r.table == routeTableMerged) {
                index.addFolded("", 0);
            } else {
                const std::string& table =
                    tableTexts.get(r.table, [&] { return routeTableText(r, names); });
                index.addFolded(table.data(), table.size());
            }
        }
        index.endRow();
    }
}

RouteModel::RouteModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int i = 0; i < fwcol::CountWithTable; ++i)
        captions_.append(QString());
    captions_[fwcol::Table] = QStringLiteral("Table");
}

int RouteModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : filter_.shownCount(static_cast<int>(rows_.size()));
}

int RouteModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : tables_ ? fwcol::CountWithTable : fwcol::Count;
}

QString RouteModel::cellText(int r, int column) const {
    return sourceCellText(static_cast<std::size_t>(filter_.sourceRow(r)), column);
}

QString RouteModel::sourceCellText(std::size_t index, int column) const {
    const RouteRow& at = rows_[index];
    if (column == fwcol::Table)
        return tables_ ? routeTableText(at, names_) : QString();
    return routeCellText(at, column);
}

void RouteModel::indexRows(RowTextIndex& index) const {
    indexRouteRows(index, rows_, tables_, names_);
}

void RouteModel::setFilterText(const QString& text) {
    if (text == filter_.text())
        return;
    beginResetModel();
    filter_.setText(text);
    filter_.apply([this](RowTextIndex& index) { indexRows(index); });
    endResetModel();
}

void RouteModel::textsChanged() {
    filter_.rowsChanged();
    if (!filter_.active())
        return;
    beginResetModel();
    filter_.apply([this](RowTextIndex& index) { indexRows(index); });
    endResetModel();
}

void RouteModel::setTables(bool shown, RouteTableNames names) {
    if (shown == tables_) {
        names_ = std::move(names);
        if (tables_ && filter_.active())
            textsChanged();
        else if (tables_ && rowCount() > 0)
            emit dataChanged(index(0, fwcol::Table), index(rowCount() - 1, fwcol::Table));
        return;
    }
    beginResetModel();
    tables_ = shown;
    names_ = std::move(names);
    filter_.rowsChanged();
    filter_.apply([this](RowTextIndex& index) { indexRows(index); });
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
        if (coloured && coloured() && filter_.sourceRow(index.row()) == activeDefault_) {
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
    std::vector<int> gone;
    gone.reserve(static_cast<std::size_t>(count));
    for (int r = row; r < row + count; ++r)
        gone.push_back(filter_.sourceRow(r));
    // The underline follows its route, or goes with it.
    const auto below = std::lower_bound(gone.begin(), gone.end(), activeDefault_);
    if (below != gone.end() && *below == activeDefault_)
        activeDefault_ = -1;
    else if (activeDefault_ >= 0)
        activeDefault_ -= static_cast<int>(below - gone.begin());
    // Unfiltered the rows are one run; filtered they are few (a route changed or deleted).
    if (!filter_.active()) {
        const auto first = std::next(rows_.begin(), row);
        rows_.erase(first, std::next(first, count));
    } else {
        std::for_each(gone.rbegin(), gone.rend(),
                      [this](int r) { rows_.erase(std::next(rows_.begin(), r)); });
    }
    filter_.sourceRowsRemoved(gone);
    endRemoveRows();
    return true;
}

void RouteModel::removeRowsAt(const std::vector<int>& shownRows) {
    if (shownRows.empty())
        return;
    std::vector<int> sortedRows;
    sortedRows.reserve(shownRows.size());
    for (const int r : shownRows)
        sortedRows.push_back(filter_.sourceRow(r));
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
    filter_.rowsChanged();
    filter_.apply([this](RowTextIndex& index) { indexRows(index); });
    endResetModel();
}

void RouteModel::setPersistent(const PersistentNames& names) {
    markPersistent(rows_, names);
    if (filter_.active())
        textsChanged();
    else if (!rows_.empty())
        emit dataChanged(index(0, fwcol::Persistent), index(rowCount() - 1, fwcol::Persistent));
}

void RouteModel::setActiveDefault(int index) {
    activeDefault_ = index;
    if (rowCount() > 0)
        emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, columnCount() - 1));
}

void RouteModel::append(std::vector<RouteRow> rows) {
    if (rows.empty())
        return;
    if (filter_.active()) {
        for (RouteRow& r : rows)
            rows_.push_back(std::move(r));
        textsChanged();
        return;
    }
    beginInsertRows(QModelIndex(), rowCount(), rowCount() + static_cast<int>(rows.size()) - 1);
    for (RouteRow& r : rows)
        rows_.push_back(std::move(r));
    filter_.rowsChanged();
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
