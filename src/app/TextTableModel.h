#pragma once

#include "text/TextRow.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

// A change of a list of rows by difference: rows that go, rows that arrive (also where a row
// moves), rows whose cells change in place. Row numbers before the change are "old", after it
// "new"; the rows that neither leave nor arrive keep their order.
struct RowChange
{
    std::size_t count = 0; // rows after the change
    // Old rows that leave their place, ascending; for each its new place when it only moves
    // (its cells then arrive with the inserted rows), -1 when it goes.
    std::vector<std::uint32_t> removed;
    std::vector<std::int64_t> movedTo;
    // Rows that arrive, by new place, ascending; moved rows among them.
    std::vector<std::uint32_t> insertedAt;
    std::vector<TextRow> inserted;
    // Rows that keep their place among the others and take new cells, by new place, ascending.
    std::vector<std::uint32_t> changedAt;
    std::vector<TextRow> changed;

    // Each old row's new place (-1: gone), for a list of `oldCount` rows.
    std::vector<int> OldToNew(std::size_t oldCount) const;
};

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
    void ResetRows(std::vector<Row> rows) { ReplaceRows(std::move(rows)); }
    // The same, handing back the rows it replaced (for the caller to free elsewhere).
    std::vector<Row> ReplaceRows(std::vector<Row> rows);
    // Rows made when the view asks for them instead of held: `count` rows whose texts `cell`
    // gives (a list of 100,000 entries shown without first making 100,000 rows). Until the
    // next ResetRows or Clear; such rows are not edited (SetCell does nothing, InsertRow
    // clears them first), nor changed by ApplyRowChange.
    using CellSource = std::function<std::string(std::size_t row, std::size_t column)>;
    void ResetSource(std::size_t count, CellSource cell);
    // Applies `change` in one layout change: persistent indexes (the selection, the current
    // row) follow their rows, also rows that move, and those of rows that go become invalid.
    // A listener reads every row again after a layout change, so changed cells send no
    // dataChanged of their own. Rows shorter than the header are padded. The change must fit
    // the rows (old row numbers below RowCount(), new ones below change.count). Hands back the
    // rows it took out, for the caller to free elsewhere: at 100,000 rows freeing them is a few
    // milliseconds the window's thread need not spend.
    std::vector<Row> ApplyRowChange(RowChange change);
    // Room (an empty list with capacity) for the next ApplyRowChange to build its list in.
    void SetSpareRows(std::vector<Row> spare) { m_spare = std::move(spare); }
    void Clear();
    // Inserts an empty row at `row` (clamped to the end when out of range); returns its index.
    int InsertRow(int row);
    int AppendRow() { return InsertRow(RowCount()); }
    void SetCell(int row, int column, const std::string& text);
    // "" when out of range.
    std::string Cell(int row, int column) const;
    // The same without a copy, valid until the rows change; held rows only (empty for rows
    // made on request).
    std::string_view CellView(int row, int column) const;
    // The row itself; `row` must be in range, of held rows.
    const Row& RowAt(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    int RowCount() const { return static_cast<int>(m_source ? m_sourceRows : m_rows.size()); }
    int ColumnCount() const { return static_cast<int>(m_headers.size()); }

private:
    // Views, proxies and the model tester reach these through QAbstractItemModel; our own
    // code counts with RowCount() and ColumnCount(), so there is one way to ask.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    QStringList m_headers;
    std::vector<Row> m_rows;
    // The list before the last ApplyRowChange, its rows moved out: the next one is built in it,
    // so a refresh does not take and touch fresh memory for the list each time.
    std::vector<Row> m_spare;
    CellSource m_source;
    std::size_t m_sourceRows = 0;
};

} // namespace mrvn
