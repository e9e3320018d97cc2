#include "LegacyRoleList.h"

#include "app/Background.h"
#include "text/KeyIndex.h"

#include <QLocale>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace mrvn::legacy {

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

} // namespace mrvn::legacy

namespace mrvn::legacy {

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

bool Less(const rolelist::ParsedNumber& a, const rolelist::ParsedNumber& b)
{
    if (a.present != b.present)
        return !a.present;
    if (a.whole != b.whole)
        return a.whole < b.whole;
    return a.fraction < b.fraction;
}

} // namespace

RoleListProxy::RoleListProxy(TextTableModel& source, QObject* parent)
    : QSortFilterProxyModel(parent), m_source(source),
      m_collator(QLocale(QLocale::Chinese, QLocale::China))
{
    m_collator.setNumericMode(true);
    // Connected before the proxy's own handlers, so the keys are stale-free before it sorts
    // or filters the changed rows.
    const auto forget = [this] { ForgetKeys(); };
    connect(&source, &QAbstractItemModel::modelAboutToBeReset, this, forget);
    connect(&source, &QAbstractItemModel::modelReset, this, forget);
    connect(&source, &QAbstractItemModel::rowsAboutToBeInserted, this, forget);
    connect(&source, &QAbstractItemModel::rowsInserted, this, forget);
    connect(&source, &QAbstractItemModel::rowsAboutToBeRemoved, this, forget);
    connect(&source, &QAbstractItemModel::rowsRemoved, this, forget);
    connect(&source, &QAbstractItemModel::dataChanged, this, forget);
    connect(&source, &QAbstractItemModel::layoutChanged, this, forget);
    setSourceModel(&source);
    setDynamicSortFilter(true);
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

void RoleListProxy::SetFilterText(const QString& text)
{
    const QString folded = text.toCaseFolded();
    m_filterText = text;
    if (folded == m_foldedFilter)
        return;
    m_foldedFilter = folded;
    // One layout change instead of a removal signal per hidden run of rows, which a view
    // answers row range by row range.
    invalidate();
}

QVariant RoleListProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::InitialSortOrderRole)
        return static_cast<int>(Qt::AscendingOrder);
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

void RoleListProxy::ForgetKeys()
{
    m_keyColumn = -1;
    for (auto& ranks : m_textRanks)
        ranks.clear();
    m_numberKeys.clear();
    m_filterTexts.clear();
    m_filterTextsBuilt = false;
}

namespace {

QCollator ChineseCollator()
{
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    collator.setNumericMode(true);
    return collator;
}

// Each text's place in the collation order; equal texts (as the collator sees them) share one.
// Each distinct text gets one collation key, and the keys are sorted once.
std::vector<std::uint32_t> CollationRanks(const std::vector<std::string_view>& texts,
                                          const QCollator& collator)
{
    std::unordered_map<std::string_view, std::uint32_t> distinctOf;
    distinctOf.reserve(texts.size());
    std::vector<std::uint32_t> rowDistinct;
    rowDistinct.reserve(texts.size());
    std::vector<QCollatorSortKey> keys;
    for (const std::string_view text : texts) {
        const auto [it, added] = distinctOf.emplace(text, static_cast<std::uint32_t>(keys.size()));
        if (added)
            keys.push_back(collator.sortKey(
                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
        rowDistinct.push_back(it->second);
    }
    std::vector<std::uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<std::uint32_t> rankOf(keys.size(), 0);
    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0)
            ++rank;
        rankOf[order[i]] = rank;
    }
    std::vector<std::uint32_t> ranks;
    ranks.reserve(texts.size());
    for (const std::uint32_t distinct : rowDistinct)
        ranks.push_back(rankOf[distinct]);
    return ranks;
}

QString RowFilterText(std::string_view name, std::string_view roleId, std::string_view account)
{
    // A line break cannot be typed into the one-line box, so no match spans two texts.
    std::string text;
    text.reserve(name.size() + roleId.size() + account.size() + 2);
    text.append(name).append(1, '\n').append(roleId).append(1, '\n').append(account);
    return QString::fromStdString(text).toCaseFolded();
}

QString RowFilterText(const TextRow& row)
{
    return RowFilterText(row[ColumnIndex(RoleColumn::Name)], row[ColumnIndex(RoleColumn::RoleId)],
                         row[ColumnIndex(RoleColumn::Account)]);
}

} // namespace

PreparedRoleRows PrepareRoleRows(RoleRows rows)
{
    PreparedRoleRows prepared;
    for (auto& row : rows)
        row.resize(kRoleListColumns);
    const QCollator collator = ChineseCollator();
    std::vector<std::string_view> texts(rows.size());
    for (int column = 0; column < kRoleListColumns; ++column) {
        if (RoleListProxy::KindOf(column) != RoleListProxy::SortKind::Text)
            continue;
        for (std::size_t r = 0; r < rows.size(); ++r)
            texts[r] = rows[r][static_cast<std::size_t>(column)];
        prepared.textRanks[static_cast<std::size_t>(column)] = CollationRanks(texts, collator);
    }
    prepared.filterTexts.reserve(rows.size());
    for (const auto& row : rows)
        prepared.filterTexts.push_back(RowFilterText(row));
    prepared.rows = std::move(rows);
    return prepared;
}

void RoleListProxy::ApplyRows(PreparedRoleRows prepared)
{
    m_applying = true;
    m_source.UpdateRows(std::move(prepared.rows), ColumnIndex(RoleColumn::RoleId));
    m_applying = false;
    // The rows are now the prepared rows, in their order: the keys fit them as they are.
    ForgetKeys();
    m_textRanks = std::move(prepared.textRanks);
    m_filterTexts = std::move(prepared.filterTexts);
    m_filterTextsBuilt = true;
    if (sortColumn() >= 0 || !m_foldedFilter.isEmpty())
        invalidate();
    // Walking the heap takes a while at 100,000 rows: not on the window's thread.
    RunInBackground(&ReleaseFreedMemory);
}

void ReleaseFreedMemory()
{
    // The previous list and the refresh's own buffers were freed in many small pieces between
    // live ones; glibc keeps such pages unless asked. The next refresh needs about as much
    // again within a minute, and pages given back would cost a fault each to take again (at
    // 100,000 roles that doubled the refresh), so only an unusual surplus goes back: more
    // free memory than a refresh of 100,000 roles leaves behind (about 60 MiB). Other C libraries
    // give large freed blocks back themselves.
#ifdef __GLIBC__
    constexpr std::size_t kKeptFreeBytes = std::size_t{64} << 20;
    if (mallinfo2().fordblks > kKeptFreeBytes)
        malloc_trim(0);
#endif
}

void RoleListProxy::BuildKeys(int column) const
{
    const int rows = m_source.RowCount();
    m_numberKeys.clear();
    const SortKind kind = KindOf(column);
    if (kind == SortKind::Text) {
        auto& ranks = m_textRanks[static_cast<std::size_t>(column)];
        if (ranks.size() != static_cast<std::size_t>(rows)) {
            std::vector<std::string> cells;
            cells.reserve(static_cast<std::size_t>(rows));
            for (int row = 0; row < rows; ++row)
                cells.push_back(m_source.Cell(row, column));
            ranks = CollationRanks(std::vector<std::string_view>(cells.begin(), cells.end()),
                                   m_collator);
        }
    } else {
        m_numberKeys.reserve(static_cast<std::size_t>(rows));
        for (int row = 0; row < rows; ++row) {
            const std::string cell = m_source.Cell(row, column);
            m_numberKeys.push_back(kind == SortKind::Date ? rolelist::ParseDate(cell)
                                                          : rolelist::ParseNumber(cell));
        }
    }
    m_keyColumn = column;
}

bool RoleListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    // Rows changing under ApplyRows are put in order once it is done.
    if (m_applying)
        return left.row() < right.row();
    const int column = left.column();
    if (column != m_keyColumn)
        BuildKeys(column);
    const auto a = static_cast<std::size_t>(left.row());
    const auto b = static_cast<std::size_t>(right.row());
    if (KindOf(column) != SortKind::Text)
        return Less(m_numberKeys[a], m_numberKeys[b]);
    const auto& ranks = m_textRanks[static_cast<std::size_t>(column)];
    return ranks[a] < ranks[b];
}

void RoleListProxy::BuildFilterTexts() const
{
    const int rows = m_source.RowCount();
    m_filterTexts.clear();
    m_filterTexts.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
        m_filterTexts.push_back(RowFilterText(m_source.Cell(r, ColumnIndex(RoleColumn::Name)),
                                              m_source.Cell(r, ColumnIndex(RoleColumn::RoleId)),
                                              m_source.Cell(r, ColumnIndex(RoleColumn::Account))));
    m_filterTextsBuilt = true;
}

bool RoleListProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    if (m_foldedFilter.isEmpty() || m_applying)
        return true;
    if (!m_filterTextsBuilt)
        BuildFilterTexts();
    return m_filterTexts[static_cast<std::size_t>(sourceRow)].contains(m_foldedFilter);
}

} // namespace mrvn::legacy
