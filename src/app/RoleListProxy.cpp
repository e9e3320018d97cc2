#include "app/RoleListProxy.h"

#include <utility>

#include "app/Background.h"
#include "app/TextTableModel.h"
#include "db/RoleList.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <limits>
#include <memory>
#include <tuple>

namespace mrvn {

namespace rolelist {

namespace {
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

ParsedNumber ParseNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    ParsedNumber number;
    std::int64_t whole = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        number.present = true;
        const int digit = text[i] - '0';
        // Beyond 64 bits every value compares as the largest one.
        whole = whole > (kMax - digit) / 10 ? kMax : whole * 10 + digit;
    }
    double fraction = 0;
    if (i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1])) {
        number.present = true;
        double scale = 0.1;
        for (++i; i < text.size() && IsDigit(text[i]); ++i, scale /= 10)
            fraction += (text[i] - '0') * scale;
    }
    if (!number.present)
        return {};
    number.whole = negative ? -whole : whole;
    number.fraction = negative ? -fraction : fraction;
    return number;
}

ParsedNumber ParseDate(std::string_view text)
{
    // Year, month, day, hour, minute, second: each later part gets two decimal places.
    std::int64_t parts[6] = {};
    int count = 0;
    std::size_t i = 0;
    while (i < text.size() && count < 6) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        std::int64_t value = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            value = value > 99999999 ? value : value * 10 + (text[i] - '0');
        parts[count++] = value;
    }
    if (count == 0)
        return {};
    std::int64_t key = std::min<std::int64_t>(parts[0], 99999999);
    for (int part = 1; part < 6; ++part)
        key = key * 100 + std::min<std::int64_t>(parts[part], 99);
    return {true, key, 0};
}

} // namespace rolelist

namespace {

constexpr int kReleaseMemoryDelayMs = 3000;

bool KeyLess(const rolelist::ParsedNumber& a, const rolelist::ParsedNumber& b)
{
    if (a.present != b.present)
        return !a.present;
    if (a.whole != b.whole)
        return a.whole < b.whole;
    return a.fraction < b.fraction;
}

} // namespace

RoleListProxy::RoleListProxy(TextTableModel& source, QObject* parent)
    : QAbstractProxyModel(parent), m_source(source)
{
    setSourceModel(&source);
    SortAndFilterAll();
    // Long enough for the window to be done with the change (layout, paint): a thread that
    // allocates while the memory goes back waits for it.
    m_releaseMemory.setSingleShot(true);
    m_releaseMemory.setInterval(kReleaseMemoryDelayMs);
    connect(&m_releaseMemory, &QTimer::timeout, this,
            [] { RunInBackground([] { ReleaseFreedMemory(); }); });
    connect(&source, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (!m_applying)
            beginResetModel();
    });
    connect(&source, &QAbstractItemModel::modelReset, this, [this] {
        if (m_applying)
            return;
        ForgetKeys();
        m_version = kNoRoleList;
        SortAndFilterAll();
        endResetModel();
    });
    const auto changing = [this] { SourceChanging(); };
    connect(&source, &QAbstractItemModel::rowsAboutToBeInserted, this, changing);
    connect(&source, &QAbstractItemModel::rowsAboutToBeRemoved, this, changing);
    connect(&source, &QAbstractItemModel::layoutAboutToBeChanged, this, changing);
    connect(&source, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                SourceChanged([=](int row) { return row >= first ? row + last - first + 1 : row; });
            });
    connect(&source, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                SourceChanged([=](int row) {
                    return row < first ? row : row > last ? row - (last - first + 1) : -1;
                });
            });
    // Only ApplyChange moves the source's rows about, and it says where they went.
    connect(&source, &QAbstractItemModel::layoutChanged, this,
            [this] { SourceChanged([](int) { return -1; }); });
    connect(&source, &QAbstractItemModel::dataChanged, this, [this] {
        SourceChanging();
        SourceChanged([](int row) { return row; });
    });
}

RoleListProxy::SortKind RoleListProxy::KindOf(int column)
{
    switch (static_cast<RoleColumn>(column)) {
    case RoleColumn::Online:
    case RoleColumn::Name:
    case RoleColumn::Job:
        return SortKind::Text;
    case RoleColumn::Created:
    case RoleColumn::LastOffline:
        return SortKind::Date;
    default:
        return SortKind::Number;
    }
}

QModelIndex RoleListProxy::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex RoleListProxy::parent(const QModelIndex&) const
{
    return {};
}

QModelIndex RoleListProxy::sibling(int row, int column, const QModelIndex&) const
{
    return index(row, column);
}

int RoleListProxy::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_viewToSource.size());
}

int RoleListProxy::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_source.ColumnCount();
}

bool RoleListProxy::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() && rowCount() > 0 && columnCount() > 0;
}

Qt::ItemFlags RoleListProxy::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QModelIndex RoleListProxy::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || proxyIndex.row() >= rowCount())
        return {};
    return m_source.index(m_viewToSource[static_cast<std::size_t>(proxyIndex.row())],
                          proxyIndex.column());
}

QModelIndex RoleListProxy::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != &m_source ||
        static_cast<std::size_t>(sourceIndex.row()) >= m_sourceToView.size())
        return {};
    const int row = m_sourceToView[static_cast<std::size_t>(sourceIndex.row())];
    return row < 0 ? QModelIndex() : index(row, sourceIndex.column());
}

QVariant RoleListProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractProxyModel::headerData(section, orientation, role);
    if (role == Qt::InitialSortOrderRole)
        return static_cast<int>(Qt::AscendingOrder);
    // Also while no row is shown (the base class finds the column through a row).
    return m_source.headerData(section, orientation, role);
}

void RoleListProxy::SetFilterText(const QString& text)
{
    const QString folded = text.toCaseFolded();
    m_filterText = text;
    if (folded == m_foldedFilter)
        return;
    // One layout change instead of a removal signal per hidden run of rows, which a view
    // answers row range by row range.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const Snapshot snapshot = TakeSnapshot();
    m_foldedFilter = folded;
    SortAndFilterAll();
    Restore(snapshot, [](int row) { return row; });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RoleListProxy::sort(int column, Qt::SortOrder order)
{
    if (column >= columnCount())
        column = -1;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const Snapshot snapshot = TakeSnapshot();
    m_sortColumn = column;
    m_sortOrder = order;
    SortAndFilterAll();
    Restore(snapshot, [](int row) { return row; });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

RoleListProxy::Snapshot RoleListProxy::TakeSnapshot() const
{
    Snapshot snapshot;
    snapshot.indexes = persistentIndexList();
    snapshot.sourceRows.reserve(static_cast<std::size_t>(snapshot.indexes.size()));
    for (const QModelIndex& index : snapshot.indexes) {
        const bool shown = index.isValid() && index.row() < rowCount();
        snapshot.sourceRows.push_back(shown ? m_viewToSource[static_cast<std::size_t>(index.row())]
                                            : -1);
    }
    return snapshot;
}

void RoleListProxy::Restore(const Snapshot& snapshot, const std::function<int(int)>& newSourceRow)
{
    QModelIndexList moved;
    moved.reserve(snapshot.indexes.size());
    for (qsizetype i = 0; i < snapshot.indexes.size(); ++i) {
        const int old = snapshot.sourceRows[static_cast<std::size_t>(i)];
        const int row = old < 0 ? -1 : newSourceRow(old);
        const int view = row < 0 || static_cast<std::size_t>(row) >= m_sourceToView.size()
                             ? -1
                             : m_sourceToView[static_cast<std::size_t>(row)];
        moved.append(view < 0 ? QModelIndex() : index(view, snapshot.indexes[i].column()));
    }
    changePersistentIndexList(snapshot.indexes, moved);
}

void RoleListProxy::SourceChanging()
{
    if (m_applying)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_pending = TakeSnapshot();
}

void RoleListProxy::SourceChanged(const std::function<int(int)>& newSourceRow)
{
    if (m_applying)
        return;
    ForgetKeys();
    m_version = kNoRoleList;
    SortAndFilterAll();
    Restore(m_pending, newSourceRow);
    m_pending = {};
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RoleListProxy::ForgetKeys()
{
    for (auto& ranks : m_textRanks)
        ranks.clear();
    m_keyColumn = -1;
    m_numberKeys.clear();
    m_filterTexts.clear();
    m_filterTextsBuilt = false;
}

void RoleListProxy::EnsureSortKeys()
{
    const auto rows = static_cast<std::size_t>(m_source.RowCount());
    const int column = m_sortColumn;
    if (column < 0)
        return;
    const auto c = static_cast<std::size_t>(column);
    const SortKind kind = KindOf(column);
    if (kind == SortKind::Text) {
        if (m_textRanks[c].size() == rows)
            return;
        std::vector<std::string_view> texts;
        texts.reserve(rows);
        for (std::size_t row = 0; row < rows; ++row)
            texts.push_back(m_source.CellView(static_cast<int>(row), column));
        m_textRanks[c] = CollationPlaces::PlacesOf(texts);
        return;
    }
    if (m_keyColumn == column && m_numberKeys.size() == rows)
        return;
    m_numberKeys.clear();
    m_numberKeys.reserve(rows);
    for (std::size_t row = 0; row < rows; ++row) {
        const std::string_view cell = m_source.CellView(static_cast<int>(row), column);
        m_numberKeys.push_back(kind == SortKind::Date ? rolelist::ParseDate(cell)
                                                      : rolelist::ParseNumber(cell));
    }
    m_keyColumn = column;
}

void RoleListProxy::EnsureFilterTexts()
{
    const auto rows = static_cast<std::size_t>(m_source.RowCount());
    if (m_filterTextsBuilt && m_filterTexts.size() == rows)
        return;
    m_filterTexts.clear();
    m_filterTexts.reserve(rows);
    for (std::size_t r = 0; r < rows; ++r)
        m_filterTexts.push_back(RoleFilterText(m_source.RowAt(static_cast<int>(r))));
    m_filterTextsBuilt = true;
}

bool RoleListProxy::Accepts(std::size_t sourceRow) const
{
    return m_foldedFilter.isEmpty() || m_filterTexts[sourceRow].contains(m_foldedFilter);
}

bool RoleListProxy::Less(int a, int b) const
{
    const auto x = static_cast<std::size_t>(a);
    const auto y = static_cast<std::size_t>(b);
    bool below = false, above = false; // x's key below / above y's
    if (KindOf(m_sortColumn) == SortKind::Text) {
        const auto& ranks = m_textRanks[static_cast<std::size_t>(m_sortColumn)];
        below = ranks[x] < ranks[y];
        above = ranks[y] < ranks[x];
    } else {
        below = KeyLess(m_numberKeys[x], m_numberKeys[y]);
        above = KeyLess(m_numberKeys[y], m_numberKeys[x]);
    }
    // Equal keys keep the query's order in both directions.
    if (m_sortOrder == Qt::AscendingOrder)
        return below || (!above && a < b);
    return above || (!below && a < b);
}

void RoleListProxy::SortAndFilterAll()
{
    const int rows = m_source.RowCount();
    if (!m_foldedFilter.isEmpty())
        EnsureFilterTexts();
    m_viewToSource.clear();
    m_viewToSource.reserve(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        if (Accepts(static_cast<std::size_t>(row)))
            m_viewToSource.push_back(row);
    }
    if (m_sortColumn >= 0) {
        EnsureSortKeys();
        std::sort(m_viewToSource.begin(), m_viewToSource.end(),
                  [this](int a, int b) { return Less(a, b); });
    }
    MapSourceToView();
}

void RoleListProxy::MapSourceToView()
{
    m_sourceToView.assign(static_cast<std::size_t>(m_source.RowCount()), -1);
    for (std::size_t view = 0; view < m_viewToSource.size(); ++view)
        m_sourceToView[static_cast<std::size_t>(m_viewToSource[view])] = static_cast<int>(view);
}

template <typename Garbage> void RoleListProxy::FreeElsewhere(Garbage garbage)
{
    auto held = std::make_shared<Garbage>(std::move(garbage));
    RunInBackground([held]() mutable { held.reset(); });
    m_releaseMemory.start();
}

bool RoleListProxy::ApplyChange(RoleListChange change)
{
    if (change.replaces) {
        beginResetModel();
        m_applying = true;
        std::vector<TextRow> old = m_source.ReplaceRows(std::move(change.rows.inserted));
        m_applying = false;
        m_source.SetSpareRows(std::move(change.spareRows));
        m_spareTexts = std::move(change.spareTexts);
        m_spareOrder = std::move(change.spareOrder);
        auto oldRanks = std::move(m_textRanks);
        auto oldTexts = std::move(m_filterTexts);
        ForgetKeys();
        m_textRanks = std::move(change.textRanks);
        m_filterTexts = std::move(change.insertedFilterTexts);
        m_filterTextsBuilt = true;
        SortAndFilterAll();
        endResetModel();
        m_version = change.version;
        FreeElsewhere(std::make_tuple(std::move(old), std::move(oldRanks), std::move(oldTexts)));
        return true;
    }
    if (change.base != m_version)
        return false;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const Snapshot snapshot = TakeSnapshot();
    RowChange& diff = change.rows;
    const std::size_t oldCount = static_cast<std::size_t>(m_source.RowCount());
    const std::size_t newCount = diff.count;
    const std::vector<int> oldToNew = diff.OldToNew(oldCount);
    // Rows that arrive (also where a row moved) or show new cells need a place of their own;
    // the others keep theirs, their keys and whether the filter lets them through.
    std::vector<char> fresh(newCount, 0);
    for (const std::uint32_t at : diff.insertedAt)
        fresh[at] = 1;
    for (const std::uint32_t at : diff.changedAt)
        fresh[at] = 1;
    const auto kept = [&](std::size_t old) {
        const int row = oldToNew[old];
        return row >= 0 && !fresh[static_cast<std::size_t>(row)] ? row : -1;
    };
    std::vector<char> shown(newCount, 0);
    for (std::size_t old = 0; old < oldCount; ++old) {
        const int row = kept(old);
        if (row >= 0)
            shown[static_cast<std::size_t>(row)] = m_sourceToView[old] >= 0;
    }
    std::vector<QString> oldTexts;
    if (m_filterTextsBuilt && m_filterTexts.size() == oldCount) {
        // Built in the spare list of the last change: its texts were moved out then.
        std::vector<QString>& texts = m_spareTexts;
        texts.clear();
        texts.resize(newCount);
        for (std::size_t old = 0; old < oldCount; ++old) {
            const int row = kept(old);
            if (row >= 0)
                texts[static_cast<std::size_t>(row)] = std::move(m_filterTexts[old]);
        }
        for (std::size_t i = 0; i < diff.insertedAt.size(); ++i)
            texts[diff.insertedAt[i]] = std::move(change.insertedFilterTexts[i]);
        for (std::size_t i = 0; i < diff.changedAt.size(); ++i)
            texts[diff.changedAt[i]] = std::move(change.changedFilterTexts[i]);
        std::swap(m_filterTexts, texts);
        // What stayed behind is the texts of the rows that went or changed.
        for (std::size_t old = 0; old < oldCount; ++old) {
            if (kept(old) < 0)
                oldTexts.push_back(std::move(texts[old]));
        }
    } else {
        m_filterTexts.clear();
        m_filterTextsBuilt = false;
    }
    std::vector<rolelist::ParsedNumber> oldKeys;
    const bool numberKeys = m_keyColumn >= 0 && m_numberKeys.size() == oldCount;
    if (numberKeys) {
        std::vector<rolelist::ParsedNumber> keys(newCount);
        for (std::size_t old = 0; old < oldCount; ++old) {
            const int row = kept(old);
            if (row >= 0)
                keys[static_cast<std::size_t>(row)] = m_numberKeys[old];
        }
        oldKeys = std::move(m_numberKeys);
        m_numberKeys = std::move(keys);
    } else {
        m_keyColumn = -1;
        m_numberKeys.clear();
    }
    auto oldRanks = std::move(m_textRanks);
    m_textRanks = std::move(change.textRanks);

    m_applying = true;
    std::vector<TextRow> freed = m_source.ApplyRowChange(std::move(diff));
    m_applying = false;

    if (!m_foldedFilter.isEmpty())
        EnsureFilterTexts();
    std::vector<int> arrived; // fresh rows the filter lets through
    for (std::size_t row = 0; row < newCount; ++row) {
        if (!fresh[row])
            continue;
        if (numberKeys) {
            const std::string_view cell = m_source.CellView(static_cast<int>(row), m_keyColumn);
            m_numberKeys[row] = KindOf(m_keyColumn) == SortKind::Date ? rolelist::ParseDate(cell)
                                                                      : rolelist::ParseNumber(cell);
        }
        shown[row] = Accepts(row);
        if (shown[row])
            arrived.push_back(static_cast<int>(row));
    }
    std::vector<int>& order = m_spareOrder;
    order.clear();
    order.reserve(newCount);
    if (m_sortColumn < 0) {
        for (std::size_t row = 0; row < newCount; ++row) {
            if (shown[row])
                order.push_back(static_cast<int>(row));
        }
    } else {
        EnsureSortKeys();
        // The rows kept are still in order among themselves: only the others are sorted, and
        // merged in.
        std::vector<int> stay;
        stay.reserve(m_viewToSource.size());
        for (const int old : m_viewToSource) {
            const int row = kept(static_cast<std::size_t>(old));
            if (row >= 0)
                stay.push_back(row);
        }
        const auto less = [this](int a, int b) { return Less(a, b); };
        std::sort(arrived.begin(), arrived.end(), less);
        std::merge(stay.begin(), stay.end(), arrived.begin(), arrived.end(),
                   std::back_inserter(order), less);
    }
    std::swap(m_viewToSource, order);
    MapSourceToView();
    Restore(snapshot, [&](int old) {
        return static_cast<std::size_t>(old) < oldToNew.size()
                   ? oldToNew[static_cast<std::size_t>(old)]
                   : -1;
    });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    m_version = change.version;
    FreeElsewhere(std::make_tuple(std::move(freed), std::move(oldTexts), std::move(oldKeys),
                                  std::move(oldRanks), std::move(change)));
    return true;
}

void RoleListProxy::Clear()
{
    beginResetModel();
    m_applying = true;
    std::vector<TextRow> old = m_source.ReplaceRows({});
    m_applying = false;
    auto oldTexts = std::move(m_filterTexts);
    ForgetKeys();
    m_spareOrder = {};
    m_spareTexts = {};
    SortAndFilterAll();
    endResetModel();
    m_version = kNoRoleList;
    FreeElsewhere(std::make_tuple(std::move(old), std::move(oldTexts)));
}

void ReleaseFreedMemory()
{
    // The previous list and the refresh's own buffers were freed in many small pieces between
    // live ones; glibc keeps such pages unless asked. Pages given back cost a fault each when
    // the next refresh takes them again, so a little is kept; the rest goes back, or a
    // 100,000-role list would hold about 40 MiB it does not use between two refreshes. Other
    // C libraries give large freed blocks back themselves.
#ifdef __GLIBC__
    constexpr std::size_t kKeptFreeBytes = std::size_t{16} << 20;
    if (mallinfo2().fordblks > kKeptFreeBytes)
        malloc_trim(0);
#endif
}

} // namespace mrvn
