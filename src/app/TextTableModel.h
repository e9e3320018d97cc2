#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <string>
#include <vector>

namespace mrvn {

// Rows of UTF-8 texts behind a report view. Cells are converted to QString only when the
// view asks for them, so filling 100,000 rows is one move and one reset.
class TextTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using Row = std::vector<std::string>;

    explicit TextTableModel(QStringList headers, QObject* parent = nullptr);

    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Replaces every row in one step; rows shorter than the header are padded.
    void ResetRows(std::vector<Row> rows);
    void Clear();
    // Inserts an empty row at `row` (clamped to the end when out of range); returns its index.
    int InsertRow(int row);
    int AppendRow() { return InsertRow(RowCount()); }
    void SetCell(int row, int column, const std::string& text);
    // "" when out of range.
    std::string Cell(int row, int column) const;
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int ColumnCount() const { return static_cast<int>(m_headers.size()); }

private:
    // Views, proxies and the model tester reach these through QAbstractItemModel; our own
    // code counts with RowCount() and ColumnCount(), so there is one way to ask.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    QStringList m_headers;
    std::vector<Row> m_rows;
};

} // namespace mrvn
