#include "app/RoleListProxy.h"

#include "app/TextTableModel.h"
#include "db/RoleList.h"

#include <QLocale>

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>

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
    m_textKeys.clear();
    m_hanPrefixes.clear();
    m_groupRanks.clear();
    m_numberKeys.clear();
    m_filterTexts.clear();
    m_filterTextsBuilt = false;
}

namespace {

bool IsHan(char16_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
}

constexpr int kPrefixLanes = 4;

} // namespace

void RoleListProxy::BuildKeys(int column) const
{
    const int rows = m_source.RowCount();
    m_textKeys.clear();
    m_hanPrefixes.clear();
    m_groupRanks.clear();
    m_numberKeys.clear();
    const SortKind kind = KindOf(column);
    if (kind != SortKind::Text) {
        m_numberKeys.reserve(static_cast<std::size_t>(rows));
        for (int row = 0; row < rows; ++row) {
            const std::string cell = m_source.Cell(row, column);
            m_numberKeys.push_back(kind == SortKind::Date ? rolelist::ParseDate(cell)
                                                          : rolelist::ParseNumber(cell));
        }
        m_keyColumn = column;
        return;
    }

    std::vector<QString> texts;
    texts.reserve(static_cast<std::size_t>(rows));
    std::vector<char16_t> opening;
    for (int row = 0; row < rows; ++row) {
        texts.push_back(QString::fromStdString(m_source.Cell(row, column)));
        const QString& text = texts.back();
        for (qsizetype i = 0; i < std::min<qsizetype>(kPrefixLanes, text.size()); ++i) {
            if (!IsHan(text[i].unicode()))
                break;
            opening.push_back(text[i].unicode());
        }
    }
    // The Chinese characters that open the texts, ranked by the collator once. Each has a
    // primary weight of its own, so where two texts first differ in such a character the
    // characters decide, as the whole collation would; the collation keys are compared only
    // when that does not settle it (same opening, or another kind of character).
    std::sort(opening.begin(), opening.end());
    opening.erase(std::unique(opening.begin(), opening.end()), opening.end());
    std::stable_sort(opening.begin(), opening.end(), [this](char16_t a, char16_t b) {
        return m_collator.compare(QStringView(&a, 1), QStringView(&b, 1)) < 0;
    });
    std::vector<std::uint16_t> rank(0x10000, 0);
    std::uint16_t next = 0;
    for (std::size_t i = 0; i < opening.size(); ++i) {
        const bool same = i > 0 && m_collator.compare(QStringView(&opening[i - 1], 1),
                                                      QStringView(&opening[i], 1)) == 0;
        if (!same)
            ++next;
        rank[opening[i]] = next;
    }

    m_textKeys.reserve(texts.size());
    m_hanPrefixes.reserve(texts.size());
    for (const QString& text : texts) {
        m_textKeys.push_back(m_collator.sortKey(text));
        std::uint64_t prefix = 0;
        for (qsizetype i = 0; i < std::min<qsizetype>(kPrefixLanes, text.size()); ++i) {
            const char16_t c = text[i].unicode();
            if (!IsHan(c))
                break;
            prefix |= std::uint64_t{rank[c]} << (16 * (kPrefixLanes - 1 - i));
        }
        m_hanPrefixes.push_back(prefix);
    }

    // Texts with the same opening are put in order among themselves once, in small groups
    // whose keys stay in the cache; the proxy's sort then compares integers.
    std::vector<int> order(texts.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [this](int x, int y) {
        const auto px = m_hanPrefixes[static_cast<std::size_t>(x)];
        const auto py = m_hanPrefixes[static_cast<std::size_t>(y)];
        return px != py ? px < py : x < y;
    });
    const auto key = [this](int row) -> const QCollatorSortKey& {
        return m_textKeys[static_cast<std::size_t>(row)];
    };
    m_groupRanks.assign(texts.size(), 0);
    for (auto begin = order.begin(); begin != order.end();) {
        const std::uint64_t prefix = m_hanPrefixes[static_cast<std::size_t>(*begin)];
        auto end = begin + 1;
        while (end != order.end() && m_hanPrefixes[static_cast<std::size_t>(*end)] == prefix)
            ++end;
        std::stable_sort(begin, end, [&](int x, int y) { return key(x).compare(key(y)) < 0; });
        std::uint32_t rank = 0;
        for (auto it = begin; it != end; ++it) {
            if (it != begin && key(*(it - 1)).compare(key(*it)) != 0)
                ++rank;
            m_groupRanks[static_cast<std::size_t>(*it)] = rank;
        }
        begin = end;
    }
    m_keyColumn = column;
}

bool RoleListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int column = left.column();
    if (column != m_keyColumn)
        BuildKeys(column);
    const auto a = static_cast<std::size_t>(left.row());
    const auto b = static_cast<std::size_t>(right.row());
    if (KindOf(column) != SortKind::Text)
        return Less(m_numberKeys[a], m_numberKeys[b]);
    const std::uint64_t pa = m_hanPrefixes[a];
    const std::uint64_t pb = m_hanPrefixes[b];
    if (pa == pb)
        return m_groupRanks[a] < m_groupRanks[b];
    // The first lane (character) where the two differ decides when both hold one there.
    const int shift = 48 - std::countl_zero(pa ^ pb) / 16 * 16;
    const auto la = static_cast<std::uint16_t>(pa >> shift);
    const auto lb = static_cast<std::uint16_t>(pb >> shift);
    if (la != 0 && lb != 0)
        return la < lb;
    return m_textKeys[a].compare(m_textKeys[b]) < 0;
}

void RoleListProxy::BuildFilterTexts() const
{
    const int rows = m_source.RowCount();
    m_filterTexts.clear();
    m_filterTexts.reserve(static_cast<std::size_t>(rows));
    constexpr int kName = ColumnIndex(RoleColumn::Name);
    constexpr int kRoleId = ColumnIndex(RoleColumn::RoleId);
    constexpr int kAccount = ColumnIndex(RoleColumn::Account);
    for (int row = 0; row < rows; ++row) {
        // A line break cannot be typed into the one-line box, so no match spans two texts.
        const std::string text = m_source.Cell(row, kName) + '\n' + m_source.Cell(row, kRoleId) +
                                 '\n' + m_source.Cell(row, kAccount);
        m_filterTexts.push_back(QString::fromStdString(text).toCaseFolded());
    }
    m_filterTextsBuilt = true;
}

bool RoleListProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    if (m_foldedFilter.isEmpty())
        return true;
    if (!m_filterTextsBuilt)
        BuildFilterTexts();
    return m_filterTexts[static_cast<std::size_t>(sourceRow)].contains(m_foldedFilter);
}

} // namespace mrvn
