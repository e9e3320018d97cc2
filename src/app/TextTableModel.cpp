#include "app/TextTableModel.h"

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
    const std::string& text =
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
    m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

std::string TextTableModel::Cell(int row, int column) const
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount())
        return {};
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

} // namespace mrvn
