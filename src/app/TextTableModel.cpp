#include "app/TextTableModel.h"

#include "text/KeyIndex.h"

#include <algorithm>
#include <functional>
#include <string_view>

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
    const std::string_view text =
        m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headers.size())
        return {};
    return m_headers.at(section);
}

void TextTableModel::ResetRows(std::vector<Row> rows)
{
    const auto columns = static_cast<std::size_t>(m_headers.size());
    for (Row& row : rows)
        row.resize(columns);
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

namespace {

// Which entries of `sequence` (values >= 0; -1 for none) form a longest strictly increasing
// subsequence: the rows that keep their place relative to each other.
std::vector<bool> LongestIncreasing(const std::vector<int>& sequence)
{
    std::vector<int> tailValue; // smallest last value of an increasing run of each length
    std::vector<int> tailIndex; // where that value sits in `sequence`
    std::vector<int> previous(sequence.size(), -1);
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const int value = sequence[i];
        if (value < 0)
            continue;
        const auto at = std::lower_bound(tailValue.begin(), tailValue.end(), value);
        const auto length = static_cast<std::size_t>(at - tailValue.begin());
        previous[i] = length > 0 ? tailIndex[length - 1] : -1;
        if (at == tailValue.end()) {
            tailValue.push_back(value);
            tailIndex.push_back(static_cast<int>(i));
        } else {
            *at = value;
            tailIndex[length] = static_cast<int>(i);
        }
    }
    std::vector<bool> kept(sequence.size(), false);
    for (int i = tailIndex.empty() ? -1 : tailIndex.back(); i >= 0;
         i = previous[static_cast<std::size_t>(i)])
        kept[static_cast<std::size_t>(i)] = true;
    return kept;
}

} // namespace

void TextTableModel::UpdateRows(std::vector<Row> rows, int keyColumn)
{
    const auto columns = static_cast<std::size_t>(m_headers.size());
    for (Row& row : rows)
        row.resize(columns);
    if (m_rows.empty() || rows.empty() || keyColumn < 0 || keyColumn >= ColumnCount()) {
        ResetRows(std::move(rows));
        return;
    }
    const auto key = static_cast<std::size_t>(keyColumn);
    std::vector<int> target(m_rows.size(), -1);
    {
        KeyIndex newIndex(rows.size());
        for (std::size_t j = 0; j < rows.size(); ++j) {
            if (newIndex.Add(rows[j][key], static_cast<int>(j)) >= 0) {
                ResetRows(std::move(rows));
                return;
            }
        }
        KeyIndex oldIndex(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            const std::string_view oldKey = m_rows[i][key];
            if (oldIndex.Add(oldKey, static_cast<int>(i)) >= 0) {
                ResetRows(std::move(rows));
                return;
            }
            target[i] = static_cast<int>(newIndex.Find(oldKey));
        }
    }
    const std::vector<bool> kept = LongestIncreasing(target);
    std::vector<bool> arrives(rows.size(), true);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (kept[i])
            arrives[static_cast<std::size_t>(target[i])] = false;
    }
    const auto runs = [](const std::vector<bool>& flags, bool value) {
        std::vector<std::pair<int, int>> found; // first, last
        for (std::size_t i = 0; i < flags.size(); ++i) {
            if (flags[i] != value)
                continue;
            if (!found.empty() && found.back().second == static_cast<int>(i) - 1)
                found.back().second = static_cast<int>(i);
            else
                found.emplace_back(static_cast<int>(i), static_cast<int>(i));
        }
        return found;
    };
    const std::vector<std::pair<int, int>> removed = runs(kept, false);
    const std::vector<std::pair<int, int>> added = runs(arrives, true);
    if (static_cast<int>(removed.size() + added.size()) > kMaxUpdateRanges) {
        ResetRows(std::move(rows));
        return;
    }
    // From the bottom up, so the ranges still to go keep their numbers.
    for (auto run = removed.rbegin(); run != removed.rend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->second + 1);
        endRemoveRows();
    }
    // From the top down: the rows above a range are then the new rows above it.
    for (const auto& [first, last] : added) {
        beginInsertRows({}, first, last);
        m_rows.insert(m_rows.begin() + first, std::make_move_iterator(rows.begin() + first),
                      std::make_move_iterator(rows.begin() + last + 1));
        endInsertRows();
    }
    // Row j is now new row j; the kept ones take the new texts.
    int changedFirst = -1, columnFirst = 0, columnLast = 0;
    const auto flush = [&](int end) {
        if (changedFirst >= 0)
            emit dataChanged(index(changedFirst, columnFirst), index(end - 1, columnLast),
                             {Qt::DisplayRole});
        changedFirst = -1;
    };
    for (std::size_t j = 0; j < rows.size(); ++j) {
        if (arrives[j]) {
            flush(static_cast<int>(j));
            continue;
        }
        Row& current = m_rows[j];
        int first = -1, last = -1;
        if (!(current == rows[j])) {
            for (std::size_t c = 0; c < columns; ++c) {
                if (current[c] != rows[j][c]) {
                    if (first < 0)
                        first = static_cast<int>(c);
                    last = static_cast<int>(c);
                }
            }
            current = std::move(rows[j]);
        }
        if (first < 0) {
            flush(static_cast<int>(j));
            continue;
        }
        if (changedFirst < 0) {
            changedFirst = static_cast<int>(j);
            columnFirst = first;
            columnLast = last;
        } else {
            columnFirst = std::min(columnFirst, first);
            columnLast = std::max(columnLast, last);
        }
    }
    flush(static_cast<int>(rows.size()));
}

void TextTableModel::Clear()
{
    ResetRows({});
}

int TextTableModel::InsertRow(int row)
{
    if (row < 0 || row > RowCount())
        row = RowCount();
    beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row, Row(static_cast<std::size_t>(m_headers.size())));
    endInsertRows();
    return row;
}

void TextTableModel::SetCell(int row, int column, const std::string& text)
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return;
    m_rows[static_cast<std::size_t>(row)].Set(static_cast<std::size_t>(column), text);
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

std::string TextTableModel::Cell(int row, int column) const
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return {};
    return std::string(m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]);
}

} // namespace mrvn
