#pragma once

#include "text/TextRow.h"

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
    using Row = TextRow;

    explicit TextTableModel(QStringList headers, QObject* parent = nullptr);

    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Replaces every row in one step; rows shorter than the header are padded.
    void ResetRows(std::vector<Row> rows);
    // Makes the rows equal to `rows` by difference, rows matched by their text in `keyColumn`:
    // unchanged rows emit nothing, changed cells one dataChanged per run of changed rows,
    // removed and added rows one signal per contiguous range (a row whose place changed is
    // removed and added). When the keys are not unique, or the change takes more than
    // kMaxUpdateRanges ranges, one reset instead. Rows shorter than the header are padded.
    void UpdateRows(std::vector<Row> rows, int keyColumn);
    static constexpr int kMaxUpdateRanges = 64;
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
