#pragma once

// The role list's window side as it was before the database thread handed over differences:
// the whole list prepared again every refresh (PrepareRoleRows), the model updated by a
// difference it works out itself on the window's thread (TextTableModel::UpdateRows), and a
// QSortFilterProxyModel that sorts everything again after every refresh. Kept only as the
// benchmarks' baseline, unchanged but for its namespace.
#include "db/RoleList.h"
#include "text/TextRow.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QSortFilterProxyModel>
#include <QStringList>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn::legacy {

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

} // namespace mrvn::legacy

namespace mrvn::legacy {

// The role list as the window takes it in: the rows with what sorting and filtering need,
// made where the rows were read. `textRanks[c]` holds, for a text column c, each row's place
// in the Chinese collation order (equal texts, equal places); other columns' are empty.
// `filterTexts` holds, for each row, the case-folded texts the filter looks in.
struct PreparedRoleRows
{
    RoleRows rows;
    std::array<std::vector<std::uint32_t>, kRoleListColumns> textRanks;
    std::vector<QString> filterTexts;
};

// Makes the collation places and the filter texts of the rows. Reentrant: runs on any thread
// (the database thread, after the query), never touching a model or a widget.
PreparedRoleRows PrepareRoleRows(RoleRows rows);

// Gives the memory freed by a refresh back to the system when much more is free than the next
// refresh will take again (ApplyRows has it done on a pool thread when done; the thread that
// frees the query's buffers may call it as well). Any thread.
void ReleaseFreedMemory();

namespace rolelist {
// A cell read as a number or a date: `present` false for an empty or unreadable cell. The
// whole part and the fraction (of the same sign) compare exactly up to 64-bit integers.
struct ParsedNumber
{
    bool present = false;
    std::int64_t whole = 0;
    double fraction = 0;
};
// Leading white space, an optional sign, digits with an optional fraction; the rest of the
// text ("分") is ignored.
ParsedNumber ParseNumber(std::string_view text);
// "yyyy-MM-dd hh:mm:ss" and its looser forms (any separators, missing trailing parts) as one
// integer that orders like the date; nothing when the text holds no digit.
ParsedNumber ParseDate(std::string_view text);
} // namespace rolelist

// Sorting and filtering of the role list, between its TextTableModel and the view.
//
// Numbers sort as numbers ("5分" as 5), dates as dates, texts by Chinese collation. An empty
// cell, or one that holds no number or date in such a column, is the smallest value: first in
// ascending order, last in descending order. Equal keys keep the query's order (online roles
// first, then by descending id), which is also the order while no column is chosen.
//
// The keys of the sorted column and the texts the filter looks in are computed once after the
// rows change, not per comparison, and for rows given by ApplyRows before they reach the
// window's thread: at 100,000 roles a sort is a compare of integers.
class RoleListProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    enum class SortKind { Text, Number, Date };

    explicit RoleListProxy(TextTableModel& source, QObject* parent = nullptr);

    // Shows only the roles whose name or role id contains `text`, ignoring case; an empty text
    // shows every role. The filter stays while the rows are replaced.
    void SetFilterText(const QString& text);
    const QString& FilterText() const { return m_filterText; }

    static SortKind KindOf(int column);

    // On the window's thread: makes the model's rows those of `prepared` by difference (rows
    // matched by role id, so an unchanged role emits nothing and the selection stays on its
    // role) and takes its keys as they are. The chosen column and the filter stay.
    void ApplyRows(PreparedRoleRows prepared);

    // A first click on a header sorts ascending, whatever the previous column's order was.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    void ForgetKeys();
    void BuildKeys(int column) const;
    void BuildFilterTexts() const;

    TextTableModel& m_source;
    QCollator m_collator;
    QString m_filterText;
    QString m_foldedFilter;

    mutable int m_keyColumn = -1;
    // The collation places of the text columns' cells, by row (PreparedRoleRows::textRanks).
    mutable std::array<std::vector<std::uint32_t>, kRoleListColumns> m_textRanks;
    mutable std::vector<rolelist::ParsedNumber> m_numberKeys;
    // While ApplyRows changes the rows, the keys are those of no row set: the proxy then
    // sorts and filters once after the change.
    bool m_applying = false;
    mutable std::vector<QString> m_filterTexts;
    mutable bool m_filterTextsBuilt = false;
};

} // namespace mrvn::legacy
