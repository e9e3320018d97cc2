#pragma once

#include "db/BoundedRun.h"
#include "db/RoleListSchema.h"
#include "db/RoleRowMaking.h"
#include "text/KeyIndex.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Which row of a lookup table belongs to a role: the key the role holds matched as the server
// compares it with the table's key, by bytes, by number, or by the key's collation.
namespace mrvn::rolequery {

// One lookup table as the bounded method reads it.
struct LookupTable
{
    const char* table;
    const char* values; // "b."-qualified value columns
    const ColumnInfo& key;
    int rolePosition; // the user_role position the key is compared with
};

// Which of the table's keys a text key's collation holds equal (case, accents, trailing
// spaces): for each group of more than one byte string, the distinct byte strings
// (hexadecimal). Grouping by the column itself lets the server walk its index.
std::string BuildTableClassQuery(const LookupTable& lookup);

// The same grouped over the role keys and the table's keys together: groups that hold both
// sides and more than one byte string. Costs a sort of both tables, so it is only asked when
// many role keys have no table key of their bytes.
std::string BuildClassQuery(const LookupTable& lookup, const Schema& schema);

// Tells for each row of `from` whose `key` equals one of the literals the first literal it
// equals (its place in the list), then `fields`:
//   SELECT CASE WHEN key=<l0> THEN 0 WHEN key=<l1> THEN 1 ... END, fields FROM from
//   WHERE key IN (<l0>,<l1>,...) tail
std::string WhichLiteralQuery(std::string_view key, const std::vector<std::string>& literals,
                              std::string_view fields, std::string_view from,
                              std::string_view tail);

// A role key (hexadecimal bytes in the key's character set) as a literal the key's collation
// compares, whatever the connection's character set.
std::string KeyLiteral(const ColumnInfo& key, std::string_view hex);

// Names the server gave for a character set or collation, put into statements as they are.
bool IsPlainName(const std::string& name);

std::string BuildLookupQuery(const LookupTable& lookup);

// Matchable key -> row of a lookup table. Rows come in ascending id, so the last one stored
// for a key is the one with the highest id, the row the per-role statement ("order by id
// DESC", first row) would read. For a text key, keys the collation holds equal share a class
// and the class keeps the row.
class Lookup
{
public:
    // Role keys without a table key of their bytes that are asked about one by one (in lists
    // of kAskedPerStatement); beyond that, both tables are grouped in one statement instead.
    static constexpr std::size_t kAskedPerStatement = 500;

    Lookup(const LookupTable& lookup, std::size_t maxAskedKeys)
        : m_lookup(lookup), m_collated(KindOf(lookup.key) == KeyKind::Collated),
          m_maxAskedKeys(maxAskedKeys)
    {
    }

    void Load(BoundedRun& run)
    {
        if (m_collated && !LoadClasses(run, BuildTableClassQuery(m_lookup)))
            return;
        m_rows = run.Select(BuildLookupQuery(m_lookup));
        const std::int64_t count = m_rows.RowCount();
        m_rowOf.Reserve(static_cast<std::size_t>(count));
        m_holdsKey.assign(static_cast<std::size_t>(count), 0);
        for (std::int64_t r = 0; r < count; ++r) {
            std::size_t length = 0;
            const char* key = m_rows.CellAt(r, 0, length);
            if (!key) // a NULL key equals nothing
                continue;
            const std::int64_t before =
                m_rowOf.Exchange(Canonical(std::string_view(key, length)), r);
            if (before >= 0)
                m_holdsKey[static_cast<std::size_t>(before)] = 0;
            m_holdsKey[static_cast<std::size_t>(r)] = 1;
        }
    }

    // Whether a role key that found no row may still equal a table key of other bytes under
    // the key's collation (MatchRoleKeys tells).
    bool MayMatchOtherBytes() const { return m_collated && m_rows.Valid(); }

    // For role keys (hexadecimal) that no table key has byte for byte, asks the server which
    // table key they equal under the collation.
    void MatchRoleKeys(BoundedRun& run, const Schema& schema, const std::vector<std::string>& keys)
    {
        if (!MayMatchOtherBytes() || keys.empty() || run.Lost() || run.NotExact())
            return;
        std::vector<std::string_view> unmatched;
        std::unordered_map<std::string_view, bool> seen;
        bool plain = IsPlainName(m_lookup.key.charset) && IsPlainName(m_lookup.key.collation);
        for (const std::string& key : keys) {
            if (!seen.emplace(key, true).second)
                continue;
            plain = plain && IsHex(key);
            unmatched.push_back(key);
        }
        const std::size_t tableShare = static_cast<std::size_t>(m_rows.RowCount()) / 10;
        const std::size_t limit = m_maxAskedKeys == 0 ? 0 : std::max(m_maxAskedKeys, tableShare);
        if (!plain || unmatched.size() > limit || !AskRoleKeys(run, unmatched)) {
            if (!run.Lost())
                LoadClasses(run, BuildClassQuery(m_lookup, schema));
        }
    }

    // The row for the role key in `keyColumn` of the current row of `roles`; -1 for none.
    template <typename Rows> std::int64_t Find(const Rows& roles, int keyColumn) const
    {
        std::size_t length = 0;
        const char* key = keyColumn >= 0 ? roles.Cell(keyColumn, length) : nullptr;
        return key ? FindKey(std::string_view(key, length)) : -1;
    }

    std::int64_t FindKey(std::string_view key) const
    {
        std::int64_t row = NextToLast(key);
        if (row < 0)
            row = m_rowOf.Find(Canonical(key));
        if (row < 0 && !m_roleKey.empty()) {
            const auto found = m_roleKey.find(key);
            row = found == m_roleKey.end() ? -1 : m_rowOf.Find(found->second);
        }
        if (row >= 0)
            m_last = row;
        return row;
    }

    std::string_view Text(std::int64_t row, int column) const
    {
        if (row < 0)
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.CellAt(row, column, length);
        return CellView(cell, length);
    }

private:
    struct Hash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const
        {
            return std::hash<std::string_view>{}(text);
        }
    };
    using KeyMap = std::unordered_map<std::string, std::string, Hash, std::equal_to<>>;

    static bool IsHex(std::string_view text)
    {
        return std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        });
    }

    // The roles and the table's rows mostly come in the same order (by id, the roles partly
    // backwards; an account's roles one after another), so the row found last and its
    // neighbours are tried first: on a large table that saves a read of the index at a place
    // no cache holds. Only where the index holds keys by their bytes, and only a row that
    // holds its key there.
    std::int64_t NextToLast(std::string_view key) const
    {
        if (m_last < 0 || !m_classKey.empty())
            return -1;
        for (const std::int64_t row : {m_last, m_last - 1, m_last + 1}) {
            if (row < 0 || row >= static_cast<std::int64_t>(m_holdsKey.size()) ||
                !m_holdsKey[static_cast<std::size_t>(row)])
                continue;
            std::size_t length = 0;
            const char* cell = m_rows.CellAt(row, 0, length);
            if (std::string_view(cell, length) == key)
                return row;
        }
        return -1;
    }

    // The byte string that stands for every table key equal to this one: the first of its
    // class among the table's keys.
    std::string_view Canonical(std::string_view key) const
    {
        if (m_classKey.empty())
            return key;
        const auto found = m_classKey.find(key);
        return found == m_classKey.end() ? key : std::string_view(found->second);
    }

    // Reads groups of keys the collation holds equal. Before the table's rows are read (the
    // table's own groups) each key maps to the first of its group; after (groups that also
    // hold role keys) each role key maps to the group's table key.
    bool LoadClasses(BoundedRun& run, const std::string& sql)
    {
        RowSet classes = run.Select(sql);
        const std::int64_t count = classes.RowCount();
        for (std::int64_t r = 0; r < count; ++r) {
            std::size_t length = 0;
            const char* list = classes.CellAt(r, 0, length);
            std::size_t limitLength = 0;
            const char* limit = classes.CellAt(r, 1, limitLength);
            // A list as long as the limit may have been cut: its class cannot be trusted.
            if (!list ||
                length >= static_cast<std::size_t>(std::max<std::int64_t>(
                              0, TextToInt64(std::string_view(limit ? limit : "", limitLength))))) {
                run.CannotBeExact();
                return false;
            }
            // Every piece counts, an empty one too: the hexadecimal form of an empty key.
            std::vector<std::string_view> keys;
            const std::string_view all(list, length);
            for (std::size_t start = 0;;) {
                const std::size_t comma = all.find(',', start);
                keys.push_back(all.substr(start, comma - start));
                if (comma == std::string_view::npos)
                    break;
                start = comma + 1;
            }
            if (!m_rows.Valid()) {
                const std::string first(keys.front());
                for (const std::string_view key : keys)
                    m_classKey.emplace(key, first);
                continue;
            }
            const auto table = std::find_if(keys.begin(), keys.end(), [&](std::string_view key) {
                return m_rowOf.Find(Canonical(key)) >= 0;
            });
            if (table == keys.end())
                continue;
            const std::string canonical(Canonical(*table));
            for (const std::string_view key : keys)
                m_roleKey.emplace(key, canonical);
        }
        return classes.Valid();
    }

    // Which table key each of `keys` equals (WhichLiteralQuery), for up to kAskedPerStatement
    // keys a statement; keys of one class after the first are asked again without it. False
    // when a statement failed.
    bool AskRoleKeys(BoundedRun& run, const std::vector<std::string_view>& keys)
    {
        const std::string column = "b." + DbConnection::QuoteIdentifier(m_lookup.key.name);
        for (std::size_t first = 0; first < keys.size(); first += kAskedPerStatement) {
            std::vector<std::string_view> open(
                keys.begin() + static_cast<std::ptrdiff_t>(first),
                keys.begin() +
                    static_cast<std::ptrdiff_t>(std::min(keys.size(), first + kAskedPerStatement)));
            while (!open.empty()) {
                std::vector<std::string> literals;
                for (const std::string_view key : open)
                    literals.push_back(KeyLiteral(m_lookup.key, key));
                RowSet rows =
                    run.TrySelect(WhichLiteralQuery(column, literals, "HEX(" + column + ")",
                                                    m_lookup.table + std::string(" b"), ""));
                if (!rows.Valid())
                    return false;
                std::vector<bool> told(open.size(), false);
                const std::int64_t count = rows.RowCount();
                for (std::int64_t r = 0; r < count; ++r) {
                    std::size_t length = 0;
                    const char* at = rows.CellAt(r, 0, length);
                    const std::int64_t index = at ? TextToInt64(std::string_view(at, length)) : -1;
                    const char* key = rows.CellAt(r, 1, length);
                    if (!key || index < 0 || index >= static_cast<std::int64_t>(open.size()))
                        continue;
                    const std::string_view canonical = Canonical(std::string_view(key, length));
                    if (m_rowOf.Find(canonical) < 0)
                        continue; // a key added since the table was read
                    m_roleKey.emplace(open[static_cast<std::size_t>(index)], canonical);
                    told[static_cast<std::size_t>(index)] = true;
                }
                if (count == 0)
                    break;
                std::vector<std::string_view> still;
                for (std::size_t i = 0; i < open.size(); ++i) {
                    if (!told[i])
                        still.push_back(open[i]);
                }
                if (still.size() == open.size())
                    break;
                open = std::move(still);
            }
        }
        return true;
    }

    const LookupTable& m_lookup;
    const bool m_collated;
    const std::size_t m_maxAskedKeys;
    RowSet m_rows;
    // Row of the highest id for each canonical key; the views point into m_rows or m_classKey,
    // whose nodes do not move.
    KeyIndex m_rowOf;
    std::vector<char> m_holdsKey;     // by row: whether m_rowOf gives this row for its key
    mutable std::int64_t m_last = -1; // the row found last
    // Table key -> the first table key of its class, for classes of more than one byte string.
    KeyMap m_classKey;
    // Role key without a table key of its bytes -> the canonical table key it equals.
    KeyMap m_roleKey;
};

} // namespace mrvn::rolequery
