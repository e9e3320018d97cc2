#include "db/RoleList.h"

#include "db/SqlPortability.h"
#include "text/DateTime.h"
#include "text/KeyIndex.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <numeric>
#include <optional>
#include <unordered_map>

namespace mrvn {

std::string_view JobName(std::string_view code)
{
    if (code == "A")
        return "灵猴";
    if (code == "B")
        return "九尾";
    if (code == "C")
        return "牛魔";
    if (code == "D")
        return "罗刹";
    return "未知";
}

namespace {

// Positions of user_role that the list reads.
enum RolePosition {
    kId = 0,
    kAccountKey = 1,
    kName = 2,
    kJob = 3,
    kExp = 5,
    kLevel = 6,
    kSpirit = 8,
    kCreated = 10,
    kLastLogin = 11,
    kLastOffline = 12,
    kBattlePower = 20,
    kLogins = 21,
    kOnlineMinutes = 22,
};

struct ColumnInfo
{
    std::string name;
    std::string dataType;
    std::string charset;   // empty for non-text columns
    std::string collation; // empty for non-text columns
};

struct Schema
{
    std::vector<ColumnInfo> role;          // by position
    std::optional<ColumnInfo> accountKey;  // user_account.user_guid
    std::optional<ColumnInfo> currencyKey; // role_account.user_role_id
    bool accountUsable = false;
    bool currencyUsable = false;
};

// One statement tells which tables and columns exist, the names of user_role's positions and
// how the server compares the lookup keys.
template <typename Run> std::optional<Schema> ReadSchema(Run& run)
{
    RowSet rows = run.Select(BuildSelect(
        "information_schema.COLUMNS",
        "TABLE_NAME,COLUMN_NAME,DATA_TYPE,CHARACTER_SET_NAME,COLLATION_NAME",
        "TABLE_SCHEMA = DATABASE() AND TABLE_NAME IN ('user_role','user_account','role_account')",
        "TABLE_NAME, ORDINAL_POSITION"));
    if (!rows.Valid())
        return std::nullopt;
    Schema schema;
    bool accountId = false, accountLingshi = false;
    bool currencyId = false, currencyCopper = false, currencyBound = false;
    const std::int64_t count = rows.RowCount();
    rows.FirstRow();
    for (std::int64_t i = 0; i < count; ++i, rows.NextRow()) {
        std::string table;
        ColumnInfo column;
        rows.ReadField(0, table);
        rows.ReadField(1, column.name);
        rows.ReadField(2, column.dataType);
        rows.ReadField(3, column.charset);
        rows.ReadField(4, column.collation);
        if (table == "user_role") {
            schema.role.push_back(column);
        } else if (table == "user_account") {
            accountId = accountId || column.name == "id";
            accountLingshi = accountLingshi || column.name == "lingshi";
            if (column.name == "user_guid")
                schema.accountKey = column;
        } else if (table == "role_account") {
            currencyId = currencyId || column.name == "id";
            currencyCopper = currencyCopper || column.name == "tongqian";
            currencyBound = currencyBound || column.name == "bind_lingshi";
            if (column.name == "user_role_id")
                schema.currencyKey = column;
        }
    }
    if (schema.role.empty())
        return std::nullopt;
    // A lookup whose statement the server would refuse gives empty cells, as a failed
    // per-role query would.
    schema.accountUsable = accountId && accountLingshi && schema.accountKey.has_value();
    schema.currencyUsable =
        currencyId && currencyCopper && currencyBound && schema.currencyKey.has_value();
    return schema;
}

bool IsNumericType(const std::string& type)
{
    static const char* const kNumeric[] = {"tinyint", "smallint", "mediumint", "int",
                                           "integer", "bigint",   "decimal",   "numeric",
                                           "float",   "double",   "real",      "bit"};
    return std::any_of(std::begin(kNumeric), std::end(kNumeric),
                       [&](const char* name) { return type == name; });
}

bool IsIntegerType(const std::string& type)
{
    static const char* const kInteger[] = {"tinyint", "smallint", "mediumint",
                                           "int",     "integer",  "bigint"};
    return std::any_of(std::begin(kInteger), std::end(kInteger),
                       [&](const char* name) { return type == name; });
}

// How the server compares a key column with a string literal:
// - a text key under its own collation (a literal is coercible, so the column's collation
//   decides), which may hold different texts equal (case, accents, trailing spaces);
// - a numeric key as double precision numbers;
// - anything else byte by byte.
enum class KeyKind { Collated, Numeric, Bytes };

KeyKind KindOf(const ColumnInfo& key)
{
    if (!key.collation.empty())
        return KeyKind::Collated;
    return IsNumericType(key.dataType) ? KeyKind::Numeric : KeyKind::Bytes;
}

// The role side of "key='<text of the role column>'": the column's text as the per-role
// statement would have quoted it (NULL reads as an empty text), in the key's character set
// for a text key. A text column already in the key's character set and an integer column
// against a numeric key skip the detour through text, with the same result.
std::string RoleKeyText(const ColumnInfo& key, const Schema& schema, int position)
{
    const bool present = position < static_cast<int>(schema.role.size());
    const ColumnInfo* role = present ? &schema.role[static_cast<std::size_t>(position)] : nullptr;
    const std::string column = present ? "u." + DbConnection::QuoteIdentifier(role->name) : "";
    const std::string text = present ? "IFNULL(CAST(" + column + " AS CHAR), '')" : "''";
    switch (KindOf(key)) {
    case KeyKind::Collated:
        if (present && role->charset == key.charset)
            return "IFNULL(" + column + ", '')";
        return "CONVERT(" + text + " USING " + key.charset + ")";
    case KeyKind::Numeric:
        if (present && IsIntegerType(role->dataType))
            return "IFNULL(" + column + ", 0)";
        return text;
    case KeyKind::Bytes:
        break;
    }
    return text;
}

// A form of a key value that the client can match byte by byte: for a numeric key the double
// the server compares (+ 0e0 makes it a double on every server, and -0 and 0 one value); for a
// text key the bytes in the key's character set, which the key's classes (below) then group;
// otherwise the bytes.
std::string Matchable(const ColumnInfo& key, const std::string& value)
{
    switch (KindOf(key)) {
    case KeyKind::Collated:
        return "HEX(" + value + ")";
    case KeyKind::Numeric:
        return "(" + value + " + 0e0)";
    case KeyKind::Bytes:
        break;
    }
    return "CAST(" + value + " AS BINARY)";
}

// The positions the list shows, in the order the role query selects them.
constexpr int kReadPositions[] = {
    kId,      kAccountKey, kName,        kJob,         kExp,    kLevel,        kSpirit,
    kCreated, kLastLogin,  kLastOffline, kBattlePower, kLogins, kOnlineMinutes};
constexpr int kPositionCount = 23;

// Where each user_role position is in a result: -1 when the table has no such column.
struct PositionMap
{
    int columnOf[kPositionCount];
};

// user_role read with "*": each position is the column of the same number, when there is one.
PositionMap ColumnsInOrder(const RowSet& rows)
{
    PositionMap positions;
    for (int p = 0; p < kPositionCount; ++p)
        positions.columnOf[p] = p < rows.ColumnCount() ? p : -1;
    return positions;
}

struct RoleQuery
{
    std::string sql;
    PositionMap positions;
    int accountKeyColumn = -1;
    int currencyKeyColumn = -1;
    int accountNameColumn = -1; // user_role.user_id, found by its name
};

RoleQuery BuildRoleQuery(const Schema& schema)
{
    RoleQuery query;
    std::fill(std::begin(query.positions.columnOf), std::end(query.positions.columnOf), -1);
    std::string sql = "SELECT ";
    int column = 0;
    // Only the columns shown travel.
    for (const int position : kReadPositions) {
        if (position >= static_cast<int>(schema.role.size()))
            continue;
        if (column > 0)
            sql += ",";
        sql += "u." +
               DbConnection::QuoteIdentifier(schema.role[static_cast<std::size_t>(position)].name);
        query.positions.columnOf[position] = column++;
    }
    if (schema.accountUsable) {
        sql += "," +
               Matchable(*schema.accountKey, RoleKeyText(*schema.accountKey, schema, kAccountKey));
        query.accountKeyColumn = column++;
    }
    if (schema.currencyUsable) {
        sql += "," + Matchable(*schema.currencyKey, RoleKeyText(*schema.currencyKey, schema, kId));
        query.currencyKeyColumn = column++;
    }
    // The account is not at a fixed position; games that have it call it user_id.
    const auto userId = std::find_if(schema.role.begin(), schema.role.end(),
                                     [](const ColumnInfo& info) { return info.name == "user_id"; });
    if (userId != schema.role.end()) {
        sql += ",u." + DbConnection::QuoteIdentifier(userId->name);
        query.accountNameColumn = column++;
    }
    sql += " FROM user_role u ORDER BY u.id DESC";
    query.sql = std::move(sql);
    return query;
}

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
std::string BuildTableClassQuery(const LookupTable& lookup)
{
    const std::string key = "b." + DbConnection::QuoteIdentifier(lookup.key.name);
    return "SELECT GROUP_CONCAT(DISTINCT HEX(" + key + ")), @@group_concat_max_len FROM " +
           lookup.table + " b GROUP BY " + key + " HAVING COUNT(DISTINCT HEX(" + key +
           ")) > 1 ORDER BY NULL";
}

// The same grouped over the role keys and the table's keys together: groups that hold both
// sides and more than one byte string. Costs a sort of both tables, so it is only asked when
// many role keys have no table key of their bytes.
std::string BuildClassQuery(const LookupTable& lookup, const Schema& schema)
{
    const std::string collate = " COLLATE " + lookup.key.collation;
    return "SELECT GROUP_CONCAT(DISTINCT HEX(t.k)), @@group_concat_max_len FROM (SELECT " +
           RoleKeyText(lookup.key, schema, lookup.rolePosition) + collate +
           " AS k, 0 AS s FROM user_role u UNION ALL SELECT b." +
           DbConnection::QuoteIdentifier(lookup.key.name) + collate + ", 1 FROM " + lookup.table +
           " b) t GROUP BY t.k HAVING MIN(t.s) = 0 AND MAX(t.s) = 1 AND COUNT(DISTINCT HEX(t.k)) > "
           "1"
           " ORDER BY NULL";
}

// Tells for each row of `from` whose `key` equals one of the literals the first literal it
// equals (its place in the list), then `fields`:
//   SELECT CASE WHEN key=<l0> THEN 0 WHEN key=<l1> THEN 1 ... END, fields FROM from
//   WHERE key IN (<l0>,<l1>,...) tail
std::string WhichLiteralQuery(std::string_view key, const std::vector<std::string>& literals,
                              std::string_view fields, std::string_view from, std::string_view tail)
{
    std::string sql = "SELECT CASE";
    std::string in;
    for (std::size_t i = 0; i < literals.size(); ++i) {
        sql.append(" WHEN ").append(key).append("=").append(literals[i]);
        sql.append(" THEN ").append(std::to_string(i));
        in.append(i == 0 ? "" : ",").append(literals[i]);
    }
    sql.append(" END,").append(fields).append(" FROM ").append(from);
    sql.append(" WHERE ").append(key).append(" IN (").append(in).append(")").append(tail);
    return sql;
}

// A role key (hexadecimal bytes in the key's character set) as a literal the key's collation
// compares, whatever the connection's character set.
std::string KeyLiteral(const ColumnInfo& key, std::string_view hex)
{
    std::string literal = "_" + key.charset + " X'";
    literal.append(hex).append("' COLLATE ").append(key.collation);
    return literal;
}

// Names the server gave for a character set or collation, put into statements as they are.
bool IsPlainName(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

std::string BuildLookupQuery(const LookupTable& lookup)
{
    return "SELECT " +
           Matchable(lookup.key, "b." + DbConnection::QuoteIdentifier(lookup.key.name)) + "," +
           lookup.values + " FROM " + lookup.table + " b ORDER BY b.id";
}

// How a bounded statement went.
enum class Outcome { Done, Unsupported, Lost };

class BoundedRun
{
public:
    BoundedRun(DbConnection& db, const RoleListOptions& options) : m_db(db), m_options(options) {}

    RowSet Select(std::string sql)
    {
        // Once the server is out of reach, each further statement would only wait for another
        // reconnect attempt.
        if (m_outcome == Outcome::Lost)
            return {};
        if (m_options.rewriteBounded)
            sql = m_options.rewriteBounded(std::move(sql));
        if (m_db.ExecSql(sql))
            return m_db.StoreResult();
        Failed();
        return {};
    }

    // The same for a statement the server may refuse without the list's answer being lost
    // (the caller has another way to ask): only a lost server counts.
    RowSet TrySelect(const std::string& sql)
    {
        if (m_outcome == Outcome::Lost)
            return {};
        const std::string text = m_options.rewriteBounded ? m_options.rewriteBounded(sql) : sql;
        if (m_db.ExecSql(text))
            return m_db.StoreResult();
        if (m_db.ConnectionLost())
            m_outcome = Outcome::Lost;
        return {};
    }

    // The same statement's answer read as it arrives; StreamFailed tells, once the stream
    // has ended, whether it ended early.
    RowStream Stream(std::string sql)
    {
        if (m_outcome == Outcome::Lost)
            return {};
        if (m_options.rewriteBounded)
            sql = m_options.rewriteBounded(std::move(sql));
        if (m_db.ExecSql(sql)) {
            RowStream stream = m_db.UseResult();
            if (stream.Valid())
                return stream;
        }
        Failed();
        return {};
    }

    bool StreamFailed()
    {
        if (m_db.LastError() == 0)
            return false;
        Failed();
        return true;
    }

    bool Unsupported() const { return m_outcome == Outcome::Unsupported; }
    bool Lost() const { return m_outcome == Outcome::Lost; }
    // The answer cannot be given exactly, though the server took every statement.
    void CannotBeExact() { m_notExact = true; }
    bool NotExact() const { return m_notExact; }

private:
    void Failed()
    {
        if (IsUnsupportedSqlError(m_db.LastError()))
            m_outcome = Outcome::Unsupported;
        else if (m_db.ConnectionLost())
            m_outcome = Outcome::Lost;
    }

    DbConnection& m_db;
    const RoleListOptions& m_options;
    Outcome m_outcome = Outcome::Done;
    bool m_notExact = false;
};

// The text of a cell as the server sent it (up to a zero byte); NULL reads as "".
std::string_view CellView(const char* cell, std::size_t length)
{
    if (!cell)
        return {};
    const void* zero = std::memchr(cell, '\0', length);
    return std::string_view(cell, zero ? static_cast<const char*>(zero) - cell : length);
}

std::string CellText(const char* cell, std::size_t length)
{
    return std::string(CellView(cell, length));
}

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
        for (std::int64_t r = 0; r < count; ++r) {
            std::size_t length = 0;
            const char* key = m_rows.CellAt(r, 0, length);
            if (key) // a NULL key equals nothing
                m_rowOf.Set(Canonical(std::string_view(key, length)), r);
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
        if (!plain || unmatched.size() > m_maxAskedKeys || !AskRoleKeys(run, unmatched)) {
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
        const std::int64_t row = m_rowOf.Find(Canonical(key));
        if (row >= 0 || m_roleKey.empty())
            return row;
        const auto found = m_roleKey.find(key);
        return found == m_roleKey.end() ? -1 : m_rowOf.Find(found->second);
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
    // Table key -> the first table key of its class, for classes of more than one byte string.
    KeyMap m_classKey;
    // Role key without a table key of its bytes -> the canonical table key it equals.
    KeyMap m_roleKey;
};

template <typename Rows> class CellReader
{
public:
    CellReader(const Rows& rows, const PositionMap& positions)
        : m_rows(rows), m_positions(positions)
    {
    }

    bool Has(int position) const { return m_positions.columnOf[position] >= 0; }

    // The cell's text up to a zero byte; valid while the row set lives.
    std::string_view Role(int position) const
    {
        if (!Has(position))
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.Cell(m_positions.columnOf[position], length);
        return CellView(cell, length);
    }

    // Every byte of the cell, for a key that goes back to the server.
    std::string Bytes(int position) const
    {
        if (!Has(position))
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.Cell(m_positions.columnOf[position], length);
        return cell ? std::string(cell, length) : std::string();
    }

    std::int64_t Int64(int position) const
    {
        std::int64_t value = 0;
        if (Has(position))
            m_rows.ReadField(m_positions.columnOf[position], value);
        return value;
    }

    int ColumnOf(int position) const { return m_positions.columnOf[position]; }

private:
    const Rows& m_rows;
    const PositionMap& m_positions;
};

// The money cells of a role; the texts live in the lookup results.
struct Currencies
{
    std::string_view yuanbao;
    std::string_view copper;
    std::string_view bound;
};

// Builds the rows of one list: the texts that are not the server's bytes as they came are
// made in buffers kept from row to row.
class RowMaker
{
public:
    // The cells of the role under the reader's cursor; `online` tells where the row goes.
    template <typename Rows>
    RoleRow Make(const CellReader<Rows>& read, const Rows& rows, int accountColumn,
                 const Currencies& money, bool& online)
    {
        const std::int64_t lastLogin = read.Int64(kLastLogin);
        const std::int64_t lastOffline = read.Int64(kLastOffline);
        online = lastOffline < lastLogin;

        std::array<std::string_view, kRoleListColumns> cells{};
        const auto cell = [&cells](RoleColumn column) -> std::string_view& {
            return cells[static_cast<std::size_t>(column)];
        };
        cell(RoleColumn::Online) = online ? "在线" : " - ";
        if (read.Has(kName)) {
            std::size_t length = 0;
            const char* name = rows.Cell(read.ColumnOf(kName), length);
            // Names stay whole, also characters that the old GBK display could not hold.
            cell(RoleColumn::Name) = Clean(m_name, name, length);
        }
        cell(RoleColumn::Level) = read.Role(kLevel);
        cell(RoleColumn::Copper) = money.copper;
        cell(RoleColumn::Yuanbao) = money.yuanbao;
        cell(RoleColumn::BoundYuanbao) = money.bound;
        cell(RoleColumn::Experience) = read.Role(kExp);
        if (read.Has(kJob))
            cell(RoleColumn::Job) = JobName(read.Role(kJob));
        cell(RoleColumn::Spirit) = read.Role(kSpirit);
        cell(RoleColumn::BattlePower) = read.Role(kBattlePower);
        cell(RoleColumn::Logins) = read.Role(kLogins);
        if (read.Has(kOnlineMinutes)) {
            m_minutes.assign(read.Role(kOnlineMinutes)).append("分");
            cell(RoleColumn::OnlineTime) = m_minutes;
        }
        cell(RoleColumn::Created) = read.Role(kCreated);
        if (read.Has(kLastOffline)) {
            m_offline = FormatDateTime(MsToLocalTime(lastOffline, false));
            cell(RoleColumn::LastOffline) = m_offline;
        }
        cell(RoleColumn::RoleId) = read.Role(kId);
        if (accountColumn >= 0) {
            std::size_t length = 0;
            const char* account = rows.Cell(accountColumn, length);
            cell(RoleColumn::Account) = Clean(m_account, account, length);
        }
        return RoleRow(cells);
    }

private:
    // The cell as valid UTF-8 up to a zero byte: the server's bytes when they are, else a
    // cleaned copy in `buffer`.
    static std::string_view Clean(std::string& buffer, const char* cell, std::size_t length)
    {
        const std::string_view text = CellView(cell, length);
        if (IsValidUtf8(text))
            return text;
        buffer = CleanUtf8(text);
        return buffer;
    }

    std::string m_name;
    std::string m_minutes;
    std::string m_offline;
    std::string m_account;
};

// Rows arrive newest id first and each online role goes to the top, so the online block ends
// up in reverse arrival order.
class ListBuilder
{
public:
    explicit ListBuilder(std::size_t count) { m_others.reserve(count); }

    // Where the row went, for At.
    std::size_t Add(RoleRow row, bool online)
    {
        RoleRows& rows = online ? m_online : m_others;
        rows.push_back(std::move(row));
        return rows.size() - 1;
    }
    RoleRow& At(bool online, std::size_t index) { return (online ? m_online : m_others)[index]; }

    RoleRows Finish()
    {
        RoleRows result;
        result.reserve(m_online.size() + m_others.size());
        std::move(m_online.rbegin(), m_online.rend(), std::back_inserter(result));
        std::move(m_others.begin(), m_others.end(), std::back_inserter(result));
        return result;
    }

private:
    RoleRows m_online;
    RoleRows m_others;
};

// The bounded method: nullopt with `run.Unsupported()` or `run.NotExact()` set when the per-role
// method has to answer instead.
std::optional<RoleRows> BoundedRoleList(BoundedRun& run, const RoleListOptions& options)
{
    const std::optional<Schema> schema = ReadSchema(run);
    if (!schema)
        return std::nullopt;
    const RoleQuery query = BuildRoleQuery(*schema);
    // The lookup tables first: the roles are then made into rows as they arrive.
    // A lookup table the server cannot read leaves its cells empty, as a failed per-role
    // statement would.
    std::optional<LookupTable> accountTable, currencyTable;
    std::optional<Lookup> accounts, currencies;
    if (schema->accountUsable) {
        accountTable.emplace(
            LookupTable{"user_account", "b.lingshi", *schema->accountKey, kAccountKey});
        accounts.emplace(*accountTable, options.maxAskedRoleKeys);
        accounts->Load(run);
    }
    if (schema->currencyUsable) {
        currencyTable.emplace(
            LookupTable{"role_account", "b.tongqian,b.bind_lingshi", *schema->currencyKey, kId});
        currencies.emplace(*currencyTable, options.maxAskedRoleKeys);
        currencies->Load(run);
    }
    if (run.Unsupported() || run.NotExact() || run.Lost())
        return std::nullopt;

    RowStream rows = run.Stream(query.sql);
    if (!rows.Valid())
        return std::nullopt;
    // Rows whose key found no table key of its bytes, where a text key's collation may still
    // find one: their cells are filled in once the server has said which.
    struct Pending
    {
        std::vector<std::pair<bool, std::size_t>> rows; // online, place in ListBuilder
        std::vector<std::string> keys;
        void Add(bool online, std::size_t index, std::string key)
        {
            rows.emplace_back(online, index);
            keys.push_back(std::move(key));
        }
    };
    Pending pendingAccounts, pendingCurrencies;
    const CellReader<RowStream> read(rows, query.positions);
    ListBuilder list(0);
    RowMaker maker;
    const auto keyOf = [&rows](int column) {
        std::size_t length = 0;
        const char* key = rows.Cell(column, length);
        return key ? std::string(key, length) : std::string();
    };
    while (rows.NextRow()) {
        Currencies money;
        bool accountPending = false, currencyPending = false;
        if (accounts) {
            const std::int64_t account = accounts->Find(rows, query.accountKeyColumn);
            money.yuanbao = accounts->Text(account, 1);
            accountPending = account < 0 && accounts->MayMatchOtherBytes();
        }
        if (currencies) {
            const std::int64_t currency = currencies->Find(rows, query.currencyKeyColumn);
            money.copper = currencies->Text(currency, 1);
            money.bound = currencies->Text(currency, 2);
            currencyPending = currency < 0 && currencies->MayMatchOtherBytes();
        }
        bool online = false;
        RoleRow row = maker.Make(read, rows, query.accountNameColumn, money, online);
        const std::size_t index = list.Add(std::move(row), online);
        if (accountPending && query.accountKeyColumn >= 0)
            pendingAccounts.Add(online, index, keyOf(query.accountKeyColumn));
        if (currencyPending && query.currencyKeyColumn >= 0)
            pendingCurrencies.Add(online, index, keyOf(query.currencyKeyColumn));
    }
    if (run.StreamFailed())
        return std::nullopt;
    rows = RowStream();

    if (!pendingAccounts.keys.empty())
        accounts->MatchRoleKeys(run, *schema, pendingAccounts.keys);
    if (!pendingCurrencies.keys.empty())
        currencies->MatchRoleKeys(run, *schema, pendingCurrencies.keys);
    if (run.Unsupported() || run.NotExact() || run.Lost())
        return std::nullopt;
    for (std::size_t i = 0; i < pendingAccounts.keys.size(); ++i) {
        const std::int64_t account = accounts->FindKey(pendingAccounts.keys[i]);
        const auto [online, index] = pendingAccounts.rows[i];
        if (account >= 0)
            list.At(online, index)
                .Set(ColumnIndex(RoleColumn::Yuanbao), accounts->Text(account, 1));
    }
    for (std::size_t i = 0; i < pendingCurrencies.keys.size(); ++i) {
        const std::int64_t currency = currencies->FindKey(pendingCurrencies.keys[i]);
        if (currency < 0)
            continue;
        const auto [online, index] = pendingCurrencies.rows[i];
        RoleRow& row = list.At(online, index);
        row.Set(ColumnIndex(RoleColumn::Copper), currencies->Text(currency, 1));
        row.Set(ColumnIndex(RoleColumn::BoundYuanbao), currencies->Text(currency, 2));
    }
    return list.Finish();
}

// The first row's columns of a lookup as text; empty texts when there is no row or the
// statement fails. False when the server could not be reached.
bool ReadFirst(DbConnection& db, std::string_view table, std::string_view fields,
               const std::string& condition, std::initializer_list<std::string*> targets)
{
    RowSet rows = db.SelectRows(table, fields, condition, "id DESC");
    if (!rows.Valid() && db.ConnectionLost())
        return false;
    rows.FirstRow();
    int column = 0;
    for (std::string* target : targets) {
        target->clear();
        rows.ReadField(column++, *target);
    }
    FreeRowSet(rows);
    return true;
}

std::optional<RoleRows> PerRoleList(DbConnection& db)
{
    RowSet rows = db.SelectRows("user_role", "*", "", "id DESC");
    if (!rows.Valid())
        return std::nullopt;
    const PositionMap positions = ColumnsInOrder(rows);
    const CellReader<RowSet> read(rows, positions);
    const int accountColumn = rows.ColumnIndex("user_id");
    const auto count = static_cast<std::size_t>(rows.RowCount());
    ListBuilder list(count);
    RowMaker maker;
    std::string yuanbao, copper, bound;
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        // The keys go in escaped, so each is compared exactly as its text reads.
        // A server gone out of reach would cost a reconnect attempt for every further lookup.
        if (!ReadFirst(db, "user_account", "lingshi",
                       "user_guid=" + db.QuoteString(read.Bytes(kAccountKey)), {&yuanbao}) ||
            !ReadFirst(db, "role_account", "tongqian,bind_lingshi",
                       "user_role_id=" + db.QuoteString(read.Bytes(kId)), {&copper, &bound}))
            return std::nullopt;
        bool online = false;
        RoleRow row = maker.Make(read, rows, accountColumn, {yuanbao, copper, bound}, online);
        list.Add(std::move(row), online);
    }
    FreeRowSet(rows);
    return list.Finish();
}

// The per-role lookups answered for many roles per statement. The keys go in as the same
// escaped literals as the per-role statements', compared with the same "=":
//   SELECT CASE WHEN key=<l1> THEN 0 WHEN key=<l2> THEN 1 ... END, values FROM table
//   WHERE key IN (<l1>,<l2>,...) ORDER BY id
// tells for each row the first literal of the list it equals; rows come in ascending id, so
// the last row told for a literal is the one "order by id DESC" would give first. Literals the
// server holds equal (case, trailing spaces, "007" against a number) match the same rows, and
// only the first of them is told: the others are asked again without it, until a statement
// finds no more rows.
class BatchedLookup
{
public:
    // Up to this many literals per statement, and statements of at most about this size.
    static constexpr std::size_t kBatchKeys = 500;
    static constexpr std::size_t kBatchBytes = 256 * 1024;

    BatchedLookup(DbConnection& db, std::string_view table, std::string_view key,
                  std::vector<std::string_view> fields)
        : m_db(db), m_table(table), m_key(key), m_fields(std::move(fields))
    {
    }

    // The values for each key text; false when the server could not be reached.
    bool Load(const std::vector<std::string>& keys)
    {
        std::vector<std::string_view> distinct;
        distinct.reserve(keys.size());
        for (const std::string& key : keys) {
            if (m_values.emplace(key, Values()).second)
                distinct.push_back(key);
        }
        std::vector<std::string> batch;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < distinct.size(); ++i) {
            batch.push_back(m_db.QuoteString(distinct[i]));
            bytes += 2 * batch.back().size() + m_key.size() + 24;
            if (batch.size() == kBatchKeys || bytes >= kBatchBytes || i + 1 == distinct.size()) {
                const std::size_t first = i + 1 - batch.size();
                if (!LoadBatch(distinct, first, std::move(batch)))
                    return false;
                batch.clear();
                bytes = 0;
            }
        }
        return true;
    }

    // Empty texts for a key without a row.
    const std::vector<std::string>& Find(const std::string& key) const
    {
        static const std::vector<std::string> kNone;
        const auto found = m_values.find(key);
        return found == m_values.end() || found->second.empty() ? kNone : found->second;
    }

private:
    using Values = std::vector<std::string>;

    std::string FieldList() const
    {
        std::string list;
        for (const std::string_view field : m_fields)
            list.append(list.empty() ? "" : ",").append(field);
        return list;
    }

    // `literals` quote the keys distinct[first ...].
    bool LoadBatch(const std::vector<std::string_view>& distinct, std::size_t first,
                   std::vector<std::string> literals)
    {
        std::vector<std::size_t> open(literals.size());
        std::iota(open.begin(), open.end(), first);
        while (!open.empty()) {
            std::vector<std::string> asked;
            for (const std::size_t index : open)
                asked.push_back(literals[index - first]);
            if (!m_db.ExecSql(
                    WhichLiteralQuery(m_key, asked, FieldList(), m_table, " ORDER BY id"))) {
                if (m_db.ConnectionLost())
                    return false;
                // No such table or column: every key's statement would fail alike, and a
                // failed lookup gives empty cells.
                if (m_db.LastError() == 1146 || m_db.LastError() == 1054)
                    return true;
                // What the server refuses for the list it may take key by key (a key it
                // cannot compare fails only its own statement): the per-role statements.
                return LoadOneByOne(distinct, open);
            }
            RowSet rows = m_db.StoreResult();
            if (!rows.Valid())
                return !m_db.ConnectionLost() && LoadOneByOne(distinct, open);
            const std::int64_t count = rows.RowCount();
            std::vector<bool> found(open.size(), false);
            for (std::int64_t r = 0; r < count; ++r) {
                std::size_t length = 0;
                const char* told = rows.CellAt(r, 0, length);
                const std::int64_t at = told ? TextToInt64(std::string_view(told, length)) : -1;
                if (at < 0 || at >= static_cast<std::int64_t>(open.size()))
                    continue;
                Values& values =
                    m_values[std::string(distinct[open[static_cast<std::size_t>(at)]])];
                values.assign(m_fields.size(), std::string());
                for (std::size_t f = 0; f < m_fields.size(); ++f) {
                    const char* cell = rows.CellAt(r, static_cast<int>(f) + 1, length);
                    values[f] = CellText(cell, length);
                }
                found[static_cast<std::size_t>(at)] = true;
            }
            if (count == 0)
                break;
            std::vector<std::size_t> still;
            for (std::size_t i = 0; i < open.size(); ++i) {
                if (!found[i])
                    still.push_back(open[i]);
            }
            open = std::move(still);
        }
        return true;
    }

    bool LoadOneByOne(const std::vector<std::string_view>& distinct,
                      const std::vector<std::size_t>& open)
    {
        for (const std::size_t index : open) {
            const std::string key(distinct[index]);
            RowSet rows = m_db.SelectRows(m_table, FieldList(), m_key + "=" + m_db.QuoteString(key),
                                          "id DESC");
            if (!rows.Valid() && m_db.ConnectionLost())
                return false;
            if (!rows.Valid() || rows.RowCount() == 0)
                continue;
            Values& values = m_values[key];
            values.assign(m_fields.size(), std::string());
            rows.FirstRow();
            for (std::size_t f = 0; f < m_fields.size(); ++f)
                rows.ReadField(static_cast<int>(f), values[f]);
        }
        return true;
    }

    DbConnection& m_db;
    std::string m_table;
    std::string m_key;
    std::vector<std::string_view> m_fields;
    // Empty for a key without a row; the map's keys stay put, so views of them stay valid.
    std::unordered_map<std::string, Values> m_values;
};

std::optional<RoleRows> BatchedRoleList(DbConnection& db)
{
    RowSet rows = db.SelectRows("user_role", "*", "", "id DESC");
    if (!rows.Valid())
        return std::nullopt;
    const PositionMap positions = ColumnsInOrder(rows);
    const CellReader<RowSet> read(rows, positions);
    const auto count = static_cast<std::size_t>(rows.RowCount());
    std::vector<std::string> accountKeys, roleIds;
    accountKeys.reserve(count);
    roleIds.reserve(count);
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        accountKeys.push_back(read.Bytes(kAccountKey));
        roleIds.push_back(read.Bytes(kId));
    }
    BatchedLookup accounts(db, "user_account", "user_guid", {"lingshi"});
    BatchedLookup currencies(db, "role_account", "user_role_id", {"tongqian", "bind_lingshi"});
    if (!accounts.Load(accountKeys) || !currencies.Load(roleIds))
        return std::nullopt;

    const int accountColumn = rows.ColumnIndex("user_id");
    ListBuilder list(count);
    RowMaker maker;
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        const std::vector<std::string>& account = accounts.Find(accountKeys[i]);
        const std::vector<std::string>& currency = currencies.Find(roleIds[i]);
        Currencies money;
        if (!account.empty())
            money.yuanbao = account[0];
        if (!currency.empty()) {
            money.copper = currency[0];
            money.bound = currency[1];
        }
        bool online = false;
        RoleRow row = maker.Make(read, rows, accountColumn, money, online);
        list.Add(std::move(row), online);
    }
    FreeRowSet(rows);
    return list.Finish();
}

} // namespace

std::optional<RoleRows> QueryRoleList(DbConnection& db, const RoleListOptions& options)
{
    if (options.method == RoleListMethod::PerRole)
        return PerRoleList(db);
    if (options.method == RoleListMethod::Batched ||
        (options.method == RoleListMethod::Automatic && db.Refuses(SqlForm::BoundedRoleList)))
        return BatchedRoleList(db);
    BoundedRun run(db, options);
    std::optional<RoleRows> rows = BoundedRoleList(run, options);
    if (rows || options.method == RoleListMethod::Bounded)
        return rows;
    // An older server that does not understand a bounded statement is asked with the per-role
    // statements' comparisons, many roles at a time, which gives the same cells; it keeps
    // being asked so until the next connect.
    if (run.Unsupported()) {
        db.RememberRefused(SqlForm::BoundedRoleList);
        return BatchedRoleList(db);
    }
    if (run.NotExact())
        return BatchedRoleList(db);
    return std::nullopt;
}

} // namespace mrvn
