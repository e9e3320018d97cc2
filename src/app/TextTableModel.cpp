#include "app/TextTableModel.h"

#include "text/KeyIndex.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>

namespace mrvn {

TextTableModel::TextTableModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), m_headers(std::move(headers))
{
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : RowCount();
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount();
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    if (index.row() >= RowCount() || index.column() >= ColumnCount())
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    const auto column = static_cast<std::size_t>(index.column());
    if (m_source)
        return QString::fromStdString(m_source(row, column));
    const std::string_view text = m_rows[row][column];
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headers.size())
        return {};
    return m_headers.at(section);
}

std::vector<TextTableModel::Row> TextTableModel::ReplaceRows(std::vector<Row> rows)
{
    const auto columns = static_cast<std::size_t>(m_headers.size());
    for (Row& row : rows)
        row.resize(columns);
    beginResetModel();
    std::swap(m_rows, rows);
    m_spare = {};
    m_source = nullptr;
    m_sourceRows = 0;
    endResetModel();
    return rows;
}

void TextTableModel::ResetSource(std::size_t count, CellSource cell)
{
    beginResetModel();
    m_rows.clear();
    m_spare = {};
    m_source = std::move(cell);
    m_sourceRows = count;
    endResetModel();
}

std::vector<int> RowChange::OldToNew(std::size_t oldCount) const
{
    std::vector<int> target(oldCount, 0);
    for (std::size_t i = 0; i < removed.size(); ++i)
        target[removed[i]] = -1;
    // The rows that stay fill the new places no arriving row takes, in their old order.
    std::size_t arriving = 0;
    int place = 0;
    for (std::size_t old = 0; old < oldCount; ++old) {
        if (target[old] < 0)
            continue;
        while (arriving < insertedAt.size() &&
               insertedAt[arriving] == static_cast<std::uint32_t>(place)) {
            ++arriving;
            ++place;
        }
        target[old] = place++;
    }
    for (std::size_t i = 0; i < removed.size(); ++i)
        target[removed[i]] = static_cast<int>(movedTo[i]);
    return target;
}

std::vector<TextTableModel::Row> TextTableModel::ApplyRowChange(RowChange change)
{
    Q_ASSERT(change.count + change.removed.size() == m_rows.size() + change.inserted.size());
    Q_ASSERT(change.removed.size() == change.movedTo.size());
    Q_ASSERT(change.insertedAt.size() == change.inserted.size());
    Q_ASSERT(change.changedAt.size() == change.changed.size());
    const auto columns = static_cast<std::size_t>(m_headers.size());
    std::vector<Row> freed;
    freed.reserve(change.removed.size() + change.changed.size());
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<int> oldToNew;
    if (!persistent.isEmpty())
        oldToNew = change.OldToNew(m_rows.size());

    std::vector<Row> next = std::move(m_spare);
    next.clear();
    next.reserve(change.count);
    std::size_t removed = 0, arriving = 0, old = 0;
    const auto skipRemoved = [&] {
        while (removed < change.removed.size() && change.removed[removed] == old) {
            freed.push_back(std::move(m_rows[old++]));
            ++removed;
        }
    };
    for (std::size_t place = 0; place < change.count; ++place) {
        if (arriving < change.insertedAt.size() && change.insertedAt[arriving] == place) {
            Row& row = change.inserted[arriving++];
            row.resize(columns);
            next.push_back(std::move(row));
            continue;
        }
        skipRemoved();
        next.push_back(std::move(m_rows[old++]));
    }
    skipRemoved();
    for (std::size_t i = 0; i < change.changedAt.size(); ++i) {
        Row& row = change.changed[i];
        row.resize(columns);
        std::swap(next[change.changedAt[i]], row);
        freed.push_back(std::move(row));
    }
    m_spare = std::move(m_rows);
    m_rows = std::move(next);

    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& from : persistent) {
        const int row = from.row() < static_cast<int>(oldToNew.size())
                            ? oldToNew[static_cast<std::size_t>(from.row())]
                            : -1;
        moved.append(row < 0 ? QModelIndex() : index(row, from.column()));
    }
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return freed;
}

void TextTableModel::Clear()
{
    ResetRows({});
}

int TextTableModel::InsertRow(int row)
{
    if (m_source)
        Clear();
    if (row < 0 || row > RowCount())
        row = RowCount();
    beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row, Row(static_cast<std::size_t>(m_headers.size())));
    endInsertRows();
    return row;
}

void TextTableModel::SetCell(int row, int column, const std::string& text)
{
    if (m_source || row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return;
    m_rows[static_cast<std::size_t>(row)].Set(static_cast<std::size_t>(column), text);
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

std::string TextTableModel::Cell(int row, int column) const
{
    if (m_source && row >= 0 && row < RowCount() && column >= 0 && column < ColumnCount())
        return m_source(static_cast<std::size_t>(row), static_cast<std::size_t>(column));
    return std::string(CellView(row, column));
}

std::string_view TextTableModel::CellView(int row, int column) const
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return {};
    if (m_source)
        return {};
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

} // namespace mrvn
