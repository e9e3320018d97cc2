#pragma once

#include "app/TextTableModel.h"
#include "db/RoleList.h"
#include "text/KeyIndex.h"

#include <QCollator>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mrvn {

// One refresh of the role list as the window takes it in: what changed since the list the
// window shows (or the whole list), with what sorting and filtering need for the rows that
// arrive. Made on the database thread by RoleListKeeper; applied by RoleListProxy::ApplyChange.
struct RoleListChange
{
    // True: `rows.inserted` is the whole list, whatever is shown. False: a difference from
    // the list of version `base`, which the window applies only while it shows that list.
    bool replaces = true;
    std::uint64_t base = 0;
    std::uint64_t version = 0;
    RowChange rows;
    // The case-folded texts the filter looks in, for rows.inserted and rows.changed.
    std::vector<QString> insertedFilterTexts;
    std::vector<QString> changedFilterTexts;
    // For a text column c, each row's place in the Chinese collation order, for every row of
    // the new list (equal texts, equal places); other columns' are empty. Places of the rows
    // kept keep their order among themselves.
    std::array<std::vector<std::uint32_t>, kRoleListColumns> textRanks;
    // With a change that replaces the list: room for the window's lists of the next change,
    // taken and touched here, so the window's first difference takes no fresh pages (at
    // 100,000 roles their page faults cost the window about 18 ms).
    std::vector<TextRow> spareRows;
    std::vector<QString> spareTexts;
    std::vector<int> spareOrder;
};

// The version of a list nobody made: the empty list the window starts with or was cleared to.
inline constexpr std::uint64_t kNoRoleList = 0;

// The case-folded texts of a row the role filter looks in (name, role id, account).
QString RoleFilterText(const TextRow& row);

// Texts of one column and their places in the Chinese collation order (numbers in texts
// compared as numbers); texts the collator holds equal share a place. A text is an entry as
// long as a row uses it: the rows kept from one refresh to the next keep their entries, so a
// refresh that brings few new texts costs a few comparisons per new text, neither a sort nor
// a look-up of every text. Places only order: they need not be consecutive. One object is
// used by one thread at a time.
class CollationPlaces
{
public:
    CollationPlaces();

    // The entry of `text` (made when new), with one use more.
    std::uint32_t Use(std::string_view text);
    // One use fewer.
    void Release(std::uint32_t entry);
    // Each entry's place, once the entries made since the last call are placed.
    const std::vector<std::uint32_t>& Places();
    // Entries no row uses any more, against those in use: when many, the caller starts anew.
    bool MostlyUnused() const { return m_unused > 1024 && m_unused > m_entries.size() / 2; }

    // The places of `texts` with a fresh object (a list that has no keeper).
    static std::vector<std::uint32_t> PlacesOf(const std::vector<std::string_view>& texts);

private:
    struct Entry
    {
        std::string text;
        std::uint32_t uses = 0;
    };
    void SortAll();
    void Insert(std::vector<std::uint32_t> fresh);
    int Compare(std::uint32_t a, std::uint32_t b) const;

    QCollator m_collator;
    std::deque<Entry> m_entries; // by entry; a deque keeps the texts where they are
    KeyIndex m_entryOf;          // text -> entry; views into m_entries
    std::size_t m_unused = 0;
    std::vector<std::uint32_t> m_fresh;   // entries not placed yet
    std::vector<std::uint32_t> m_order;   // placed entries in collation order
    std::vector<bool> m_equalsPrevious;   // beside m_order: equal to the entry before it
    std::vector<std::uint32_t> m_placeOf; // by entry
};

// The database thread's memory of the role list it last handed to the window: each refresh's
// rows become the difference from that list (rows matched by role id: rows gone, rows that
// arrive or move, rows whose cells changed), so the window touches only what changed. Lives on
// the database thread; nothing in it is shared with the window.
class RoleListKeeper
{
public:
    // The change that makes the list of version `shownVersion` (what the window shows now)
    // into `rows`. When the window shows another list than the one handed over last (it was
    // cleared, or never took the last change), or the role ids are not unique, the change
    // replaces the whole list.
    RoleListChange Change(RoleRows rows, std::uint64_t shownVersion);

    // A change that replaces whatever is shown by `rows`, from no memory of an earlier list
    // (a test, or a list shown without a refresh).
    static RoleListChange Replacement(RoleRows rows);

private:
    // The rows' role ids as numbers and the rows in the order of their ids, for matching two
    // lists in one pass; `valid` false when an id is not a number written plainly, or appears
    // twice.
    struct IdOrder
    {
        std::vector<std::int64_t> ids;
        std::vector<std::uint32_t> byId;
        bool valid = false;
    };
    static IdOrder OrderById(const RoleRows& rows);
    // For each row of m_rows its place in `rows` (-1: gone); false when the ids are not unique.
    bool Match(const RoleRows& rows, const IdOrder& order, std::vector<std::int64_t>& target) const;
    void Place(const RoleRows& rows, const std::vector<std::int64_t>& target,
               const RoleListChange& change, std::vector<char> fresh,
               std::array<std::vector<std::uint32_t>, kRoleListColumns>& ranks);

    RoleRows m_rows; // the list last handed over
    IdOrder m_order;
    std::uint64_t m_version = kNoRoleList;
    // For the text columns only: their texts, and each row's entry there.
    std::array<std::unique_ptr<CollationPlaces>, kRoleListColumns> m_places;
    std::array<std::vector<std::uint32_t>, kRoleListColumns> m_entries;
};

} // namespace mrvn
