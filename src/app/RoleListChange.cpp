#include "app/RoleListChange.h"

#include "app/RoleListProxy.h"

#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <numeric>

namespace mrvn {

namespace {

// Versions are unique in the process, so a list made by one keeper is never taken for one
// made by another.
std::atomic<std::uint64_t> g_lastVersion{kNoRoleList};

std::uint64_t NextVersion()
{
    return ++g_lastVersion;
}

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Which entries of `sequence` (values >= 0; -1 for none) form a longest strictly increasing
// subsequence: the rows that keep their place relative to each other.
std::vector<bool> LongestIncreasing(const std::vector<std::int64_t>& sequence)
{
    std::vector<std::int64_t> tailValue; // smallest last value of an increasing run of each length
    std::vector<std::int64_t> tailIndex; // where that value sits in `sequence`
    std::vector<std::int64_t> previous(sequence.size(), -1);
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const std::int64_t value = sequence[i];
        if (value < 0)
            continue;
        // Most rows keep their order: a value above every tail extends the longest run.
        const auto at = tailValue.empty() || value > tailValue.back()
                            ? tailValue.end()
                            : std::lower_bound(tailValue.begin(), tailValue.end(), value);
        const auto length = static_cast<std::size_t>(at - tailValue.begin());
        previous[i] = length > 0 ? tailIndex[length - 1] : -1;
        if (at == tailValue.end()) {
            tailValue.push_back(value);
            tailIndex.push_back(static_cast<std::int64_t>(i));
        } else {
            *at = value;
            tailIndex[length] = static_cast<std::int64_t>(i);
        }
    }
    std::vector<bool> kept(sequence.size(), false);
    for (std::int64_t i = tailIndex.empty() ? -1 : tailIndex.back(); i >= 0;
         i = previous[static_cast<std::size_t>(i)])
        kept[static_cast<std::size_t>(i)] = true;
    return kept;
}

} // namespace

QString RoleFilterText(const TextRow& row)
{
    const std::string_view name = row[ColumnIndex(RoleColumn::Name)];
    const std::string_view roleId = row[ColumnIndex(RoleColumn::RoleId)];
    const std::string_view account = row[ColumnIndex(RoleColumn::Account)];
    // A line break cannot be typed into the one-line box, so no match spans two texts.
    std::string text;
    text.reserve(name.size() + roleId.size() + account.size() + 2);
    text.append(name).append(1, '\n').append(roleId).append(1, '\n').append(account);
    return QString::fromStdString(text).toCaseFolded();
}

CollationPlaces::CollationPlaces() : m_collator(QLocale(QLocale::Chinese, QLocale::China))
{
    m_collator.setNumericMode(true);
}

int CollationPlaces::Compare(std::uint32_t a, std::uint32_t b) const
{
    return m_collator.compare(ToQString(m_entries[a].text), ToQString(m_entries[b].text));
}

std::uint32_t CollationPlaces::Use(std::string_view text)
{
    const std::int64_t found = m_entryOf.Find(text);
    if (found >= 0) {
        Entry& entry = m_entries[static_cast<std::size_t>(found)];
        if (entry.uses++ == 0)
            --m_unused;
        return static_cast<std::uint32_t>(found);
    }
    const auto entry = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back({std::string(text), 1});
    m_entryOf.Set(m_entries.back().text, entry);
    m_fresh.push_back(entry);
    return entry;
}

void CollationPlaces::Release(std::uint32_t entry)
{
    if (--m_entries[entry].uses == 0)
        ++m_unused;
}

const std::vector<std::uint32_t>& CollationPlaces::Places()
{
    if (m_fresh.empty() && m_placeOf.size() == m_entries.size())
        return m_placeOf;
    // Placing a text among n others takes about log2(n) comparisons, each converting both
    // texts: beyond a sixteenth of new texts one sort of them all is cheaper.
    if (m_order.empty() || m_fresh.size() * 16 > m_order.size() + m_fresh.size())
        SortAll();
    else
        Insert(std::move(m_fresh));
    m_fresh.clear();
    m_placeOf.assign(m_entries.size(), 0);
    std::uint32_t place = 0;
    for (std::size_t k = 0; k < m_order.size(); ++k) {
        if (k > 0 && !m_equalsPrevious[k])
            ++place;
        m_placeOf[m_order[k]] = place;
    }
    return m_placeOf;
}

void CollationPlaces::SortAll()
{
    std::vector<QCollatorSortKey> keys;
    keys.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        keys.push_back(m_collator.sortKey(ToQString(entry.text)));
    m_order.resize(m_entries.size());
    std::iota(m_order.begin(), m_order.end(), 0u);
    std::sort(m_order.begin(), m_order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });
    m_equalsPrevious.assign(m_order.size(), false);
    for (std::size_t k = 1; k < m_order.size(); ++k)
        m_equalsPrevious[k] = keys[m_order[k - 1]].compare(keys[m_order[k]]) == 0;
}

void CollationPlaces::Insert(std::vector<std::uint32_t> fresh)
{
    std::sort(fresh.begin(), fresh.end(),
              [&](std::uint32_t a, std::uint32_t b) { return Compare(a, b) < 0; });
    // Where each goes: before the first entry not below it. Sorted, so the places ascend.
    std::vector<std::size_t> before(fresh.size());
    std::size_t low = 0;
    for (std::size_t f = 0; f < fresh.size(); ++f) {
        std::size_t high = m_order.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (Compare(m_order[middle], fresh[f]) < 0)
                low = middle + 1;
            else
                high = middle;
        }
        before[f] = low;
    }
    std::vector<std::uint32_t> order;
    order.reserve(m_order.size() + fresh.size());
    std::vector<bool> equalsPrevious;
    equalsPrevious.reserve(m_order.size() + fresh.size());
    std::vector<bool> isFresh;
    isFresh.reserve(m_order.size() + fresh.size());
    std::size_t f = 0;
    for (std::size_t k = 0; k <= m_order.size(); ++k) {
        for (; f < fresh.size() && before[f] == k; ++f) {
            order.push_back(fresh[f]);
            equalsPrevious.push_back(false);
            isFresh.push_back(true);
        }
        if (k < m_order.size()) {
            order.push_back(m_order[k]);
            equalsPrevious.push_back(m_equalsPrevious[k]);
            isFresh.push_back(false);
        }
    }
    // Only a new entry or one right after a new entry has another entry before it now.
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (isFresh[k] || (k > 0 && isFresh[k - 1]))
            equalsPrevious[k] = k > 0 && Compare(order[k - 1], order[k]) == 0;
    }
    m_order = std::move(order);
    m_equalsPrevious = std::move(equalsPrevious);
}

std::vector<std::uint32_t> CollationPlaces::PlacesOf(const std::vector<std::string_view>& texts)
{
    CollationPlaces places;
    std::vector<std::uint32_t> entries;
    entries.reserve(texts.size());
    for (const std::string_view text : texts)
        entries.push_back(places.Use(text));
    const std::vector<std::uint32_t>& placeOf = places.Places();
    for (std::uint32_t& entry : entries)
        entry = placeOf[entry];
    return entries;
}

namespace {

constexpr auto kId = static_cast<std::size_t>(ColumnIndex(RoleColumn::RoleId));

// A role id written as the server writes an integer: digits, no leading zero, perhaps a minus.
bool ParseId(std::string_view text, std::int64_t& value)
{
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.empty() || digits.size() > 18 || (digits.front() == '0' && digits.size() > 1) ||
        (negative && digits == "0"))
        return false;
    std::int64_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    value = negative ? -number : number;
    return true;
}

} // namespace

RoleListKeeper::IdOrder RoleListKeeper::OrderById(const RoleRows& rows)
{
    IdOrder order;
    order.ids.resize(rows.size());
    for (std::size_t j = 0; j < rows.size(); ++j) {
        if (!ParseId(rows[j][kId], order.ids[j]))
            return {};
    }
    // The query's order is two runs (online roles by ascending id, then the others by
    // descending id): the rows are put in id order by merging the runs they come in.
    const auto& ids = order.ids;
    std::vector<std::uint32_t>& byId = order.byId;
    byId.reserve(rows.size());
    std::vector<std::size_t> runEnds;
    for (std::size_t start = 0; start < rows.size();) {
        std::size_t end = start + 1;
        const bool descending = end < rows.size() && ids[end] < ids[start];
        while (end < rows.size() &&
               (descending ? ids[end] < ids[end - 1] : ids[end] > ids[end - 1]))
            ++end;
        for (std::size_t j = 0; j < end - start; ++j)
            byId.push_back(static_cast<std::uint32_t>(descending ? end - 1 - j : start + j));
        runEnds.push_back(end);
        start = end;
    }
    const auto less = [&ids](std::uint32_t a, std::uint32_t b) { return ids[a] < ids[b]; };
    while (runEnds.size() > 1) {
        std::vector<std::size_t> merged;
        for (std::size_t r = 0; r < runEnds.size(); r += 2) {
            if (r + 1 == runEnds.size()) {
                merged.push_back(runEnds[r]);
                break;
            }
            const std::size_t begin = r == 0 ? 0 : runEnds[r - 1];
            std::inplace_merge(byId.begin() + static_cast<std::ptrdiff_t>(begin),
                               byId.begin() + static_cast<std::ptrdiff_t>(runEnds[r]),
                               byId.begin() + static_cast<std::ptrdiff_t>(runEnds[r + 1]), less);
            merged.push_back(runEnds[r + 1]);
        }
        runEnds = std::move(merged);
    }
    for (std::size_t k = 1; k < byId.size(); ++k) {
        if (ids[byId[k - 1]] == ids[byId[k]])
            return {};
    }
    order.valid = true;
    return order;
}

bool RoleListKeeper::Match(const RoleRows& rows, const IdOrder& order,
                           std::vector<std::int64_t>& target) const
{
    target.assign(m_rows.size(), -1);
    if (order.valid && m_order.valid) {
        // Both lists in id order: one pass, in step.
        std::size_t a = 0, b = 0;
        while (a < m_order.byId.size() && b < order.byId.size()) {
            const std::int64_t oldId = m_order.ids[m_order.byId[a]];
            const std::int64_t newId = order.ids[order.byId[b]];
            if (oldId == newId)
                target[m_order.byId[a++]] = order.byId[b++];
            else if (oldId < newId)
                ++a;
            else
                ++b;
        }
        return true;
    }
    // Ids that are not plain numbers: by their texts.
    KeyIndex indexOf(rows.size());
    for (std::size_t j = 0; j < rows.size(); ++j) {
        if (indexOf.Add(rows[j][kId], static_cast<std::int64_t>(j)) >= 0)
            return false;
    }
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        target[i] = indexOf.Find(m_rows[i][kId]);
    return true;
}

RoleListChange RoleListKeeper::Replacement(RoleRows rows)
{
    RoleListKeeper keeper;
    return keeper.Change(std::move(rows), ~std::uint64_t{0});
}

RoleListChange RoleListKeeper::Change(RoleRows rows, std::uint64_t shownVersion)
{
    for (RoleRow& row : rows)
        row.resize(kRoleListColumns);
    IdOrder order = OrderById(rows);
    std::vector<std::int64_t> target;

    RoleListChange change;
    change.version = NextVersion();
    RowChange& diff = change.rows;
    diff.count = rows.size();
    change.replaces = rows.empty() || m_rows.empty() || shownVersion != m_version ||
                      m_version == kNoRoleList || !Match(rows, order, target);
    // Rows that arrive or whose cells changed.
    std::vector<char> fresh(rows.size(), 1);
    if (change.replaces) {
        diff.insertedAt.resize(rows.size());
        std::iota(diff.insertedAt.begin(), diff.insertedAt.end(), 0u);
        diff.inserted = rows;
        // Made and emptied: the room stays, its pages touched.
        change.spareRows.resize(rows.size());
        change.spareRows.clear();
        change.spareTexts.resize(rows.size());
        change.spareTexts.clear();
        change.spareOrder.resize(rows.size());
        change.spareOrder.clear();
    } else {
        change.base = m_version;
        const std::vector<bool> kept = LongestIncreasing(target);
        std::vector<char> arrives(rows.size(), 1);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (!kept[i]) {
                diff.removed.push_back(static_cast<std::uint32_t>(i));
                diff.movedTo.push_back(target[i]);
                continue;
            }
            const auto j = static_cast<std::size_t>(target[i]);
            arrives[j] = 0;
            fresh[j] = 0;
            // Kept rows ascend in both lists, so the changed ones come out in new order.
            if (!(m_rows[i] == rows[j])) {
                fresh[j] = 1;
                diff.changedAt.push_back(static_cast<std::uint32_t>(j));
                diff.changed.push_back(rows[j]);
            } else {
                rows[j] = m_rows[i]; // the window's row: the texts stay in memory once
            }
        }
        for (std::size_t j = 0; j < rows.size(); ++j) {
            if (arrives[j]) {
                diff.insertedAt.push_back(static_cast<std::uint32_t>(j));
                diff.inserted.push_back(rows[j]);
            }
        }
    }
    change.insertedFilterTexts.reserve(diff.inserted.size());
    for (const RoleRow& row : diff.inserted)
        change.insertedFilterTexts.push_back(RoleFilterText(row));
    change.changedFilterTexts.reserve(diff.changed.size());
    for (const RoleRow& row : diff.changed)
        change.changedFilterTexts.push_back(RoleFilterText(row));
    Place(rows, target, change, std::move(fresh), change.textRanks);

    m_rows = std::move(rows);
    m_order = std::move(order);
    m_version = change.version;
    return change;
}

void RoleListKeeper::Place(const RoleRows& rows, const std::vector<std::int64_t>& target,
                           const RoleListChange& change, std::vector<char> fresh,
                           std::array<std::vector<std::uint32_t>, kRoleListColumns>& ranks)
{
    for (int column = 0; column < kRoleListColumns; ++column) {
        if (RoleListProxy::KindOf(column) != RoleListProxy::SortKind::Text)
            continue;
        const auto c = static_cast<std::size_t>(column);
        std::unique_ptr<CollationPlaces>& places = m_places[c];
        std::vector<std::uint32_t> entries(rows.size());
        if (!places || change.replaces || places->MostlyUnused()) {
            places = std::make_unique<CollationPlaces>();
            for (std::size_t j = 0; j < rows.size(); ++j)
                entries[j] = places->Use(rows[j][c]);
        } else {
            // A row kept as it was keeps its entry; the others are looked up.
            const std::vector<std::uint32_t>& before = m_entries[c];
            for (std::size_t j = 0; j < rows.size(); ++j) {
                if (fresh[j])
                    entries[j] = places->Use(rows[j][c]);
            }
            for (std::size_t i = 0; i < before.size(); ++i) {
                const std::int64_t j = target[i];
                if (j >= 0 && !fresh[static_cast<std::size_t>(j)])
                    entries[static_cast<std::size_t>(j)] = before[i];
                else
                    places->Release(before[i]);
            }
        }
        const std::vector<std::uint32_t>& placeOf = places->Places();
        std::vector<std::uint32_t>& columnRanks = ranks[c];
        columnRanks.resize(rows.size());
        for (std::size_t j = 0; j < rows.size(); ++j)
            columnRanks[j] = placeOf[entries[j]];
        m_entries[c] = std::move(entries);
    }
}

} // namespace mrvn
