#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

#include <cstdint>
#include <string_view>
#include <vector>

namespace mrvn {

class TextTableModel;

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
// rows change, not per comparison: at 100,000 roles a sort is a compare of integers or of
// collation keys.
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
    mutable std::vector<QCollatorSortKey> m_textKeys;
    // Up to four opening Chinese characters of each text as collation ranks, 16 bits each,
    // the first in the highest bits; 0 where the text has no such character.
    mutable std::vector<std::uint64_t> m_hanPrefixes;
    // The order of each text among those with the same prefix (equal texts, equal ranks).
    mutable std::vector<std::uint32_t> m_groupRanks;
    mutable std::vector<rolelist::ParsedNumber> m_numberKeys;
    mutable std::vector<QString> m_filterTexts;
    mutable bool m_filterTextsBuilt = false;
};

} // namespace mrvn
