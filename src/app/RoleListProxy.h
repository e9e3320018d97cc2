#pragma once

#include "app/RoleListChange.h"
#include "db/RoleList.h"

#include <QAbstractProxyModel>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace mrvn {

class TextTableModel;

// Gives the memory freed by a refresh back to the system when much more is free than the next
// refresh will take again (the proxy has it done on a pool thread a few seconds after a change,
// when the window is idle: it holds the allocator's locks meanwhile). Any thread.
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
// The list comes in two ways, both on the window's thread:
// - ApplyChange takes a refresh made on the database thread (RoleListKeeper). A difference
//   touches only what changed: the rows kept stay where they are in the shown order, the rows
//   that arrive or changed are put in their places among them (no sort of the whole list),
//   and the view hears one layout change, so the selection stays on its roles, also on a role
//   that moved. The old rows are freed on a pool thread.
// - Clear empties the list ("clear everything"); the next refresh then brings every row.
// Changes made to the source model directly (tests, other lists) are followed too, by sorting
// and filtering the whole list again.
class RoleListProxy : public QAbstractProxyModel
{
    Q_OBJECT
public:
    enum class SortKind { Text, Number, Date };

    explicit RoleListProxy(TextTableModel& source, QObject* parent = nullptr);

    // Shows only the roles whose name, role id or account contains `text`, ignoring case; an
    // empty text shows every role. The filter stays while the rows are replaced.
    void SetFilterText(const QString& text);
    const QString& FilterText() const { return m_filterText; }

    static SortKind KindOf(int column);

    // False, and nothing changes, for a difference from a list that is no longer shown (the
    // list was cleared since the refresh was asked for). The chosen column and the filter stay.
    bool ApplyChange(RoleListChange change);
    // Empties the list (a switch of zones); the rows and keys it held are freed on a pool
    // thread. The chosen column and the filter stay.
    void Clear();
    // The version of the list shown now (kNoRoleList when it was cleared or filled otherwise);
    // the database thread makes its next change from it.
    std::uint64_t ShownVersion() const { return m_version; }

    // -1: the query's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int SortColumn() const { return m_sortColumn; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    // Asked for every row when the view lays the list out: answered without the source.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    // A first click on a header sorts ascending, whatever the previous column's order was.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // The persistent indexes (selection, current row) by source row, taken before a change.
    struct Snapshot
    {
        QModelIndexList indexes;
        std::vector<int> sourceRows;
    };
    Snapshot TakeSnapshot() const;
    // Moves each persistent index to the row now showing its source row (`newSourceRow` of the
    // old one; -1: gone).
    void Restore(const Snapshot& snapshot, const std::function<int(int)>& newSourceRow);
    // A change of the source model made around the proxy: everything sorted and filtered
    // again, in one layout change.
    void SourceChanging();
    void SourceChanged(const std::function<int(int)>& newSourceRow);
    void ForgetKeys();
    void SortAndFilterAll();
    void MapSourceToView();
    void EnsureSortKeys();
    void EnsureFilterTexts();
    bool Accepts(std::size_t sourceRow) const;
    bool Less(int a, int b) const;
    // Frees what a change took out on a pool thread; memory goes back once changes rest.
    template <typename Garbage> void FreeElsewhere(Garbage garbage);

    TextTableModel& m_source;
    QString m_filterText;
    QString m_foldedFilter;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::uint64_t m_version = kNoRoleList;

    std::vector<int> m_viewToSource;
    std::vector<int> m_sourceToView; // -1: filtered out
    // By source row: the collation places of the text columns (RoleListChange::textRanks),
    // the number or date keys of `m_keyColumn`, the texts the filter looks in.
    std::array<std::vector<std::uint32_t>, kRoleListColumns> m_textRanks;
    int m_keyColumn = -1;
    std::vector<rolelist::ParsedNumber> m_numberKeys;
    std::vector<QString> m_filterTexts;
    bool m_filterTextsBuilt = false;

    // The lists of the change before last, kept so that a change builds its lists in memory
    // already in use instead of taking and touching fresh pages.
    std::vector<int> m_spareOrder;
    std::vector<QString> m_spareTexts;

    QTimer m_releaseMemory;  // single shot, restarted by each change
    bool m_applying = false; // the proxy itself changes the source: its signals are not news
    Snapshot m_pending;      // between a source change's two signals
};

} // namespace mrvn
