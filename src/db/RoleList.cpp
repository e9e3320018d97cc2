#include "db/RoleList.h"

#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace mrvn {

std::string JobName(std::string_view code)
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
std::optional<Schema> ReadSchema(DbConnection& db)
{
    RowSet rows = db.SelectRows(
        "information_schema.COLUMNS",
        "TABLE_NAME,COLUMN_NAME,DATA_TYPE,CHARACTER_SET_NAME,COLLATION_NAME",
        "TABLE_SCHEMA = DATABASE() AND TABLE_NAME IN ('user_role','user_account','role_account')",
        "TABLE_NAME, ORDINAL_POSITION");
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

// The lookups compare "key='<text of the role column>'". Instead of one such statement per
// role, the server turns both sides into a canonical form that is equal exactly when that
// comparison holds, and the rows are matched by it here:
// - a text key compares under its own collation (a literal is coercible, so the column's
//   collation decides): the collation's weight string, with trailing spaces cut first when
//   the collation pads with spaces;
// - a numeric key compares with the literal as double precision numbers: the double, which
//   the server prints in its shortest exact form (+0e0 makes -0 and 0 one value);
// - anything else compares byte by byte.
std::string Canonical(const ColumnInfo& key, const std::string& value)
{
    if (!key.collation.empty()) {
        const std::string collated =
            "CONVERT(" + value + " USING " + key.charset + ") COLLATE " + key.collation;
        const std::string pads = "CONVERT('a ' USING " + key.charset + ") COLLATE " +
                                 key.collation + " = CONVERT('a' USING " + key.charset + ")";
        return "WEIGHT_STRING(IF(" + pads + ", RTRIM(" + collated + "), " + collated + "))";
    }
    if (IsNumericType(key.dataType))
        return "(CAST(" + value + " AS DOUBLE) + 0e0)";
    return "CAST(" + value + " AS BINARY)";
}

bool IsIntegerType(const std::string& type)
{
    static const char* const kInteger[] = {"tinyint", "smallint", "mediumint",
                                           "int",     "integer",  "bigint"};
    return std::any_of(std::begin(kInteger), std::end(kInteger),
                       [&](const char* name) { return type == name; });
}

// The role side: the column's text as the per-role statement would have quoted it (NULL
// reads as an empty text). Two common cases skip the detour through text, with the same
// result: a text column already in the key's collation, and an integer column against a
// numeric key (an integer and its decimal text give the same double).
std::string RoleKey(const ColumnInfo& key, const Schema& schema, int position)
{
    if (position >= static_cast<int>(schema.role.size()))
        return Canonical(key, "''");
    const ColumnInfo& role = schema.role[static_cast<std::size_t>(position)];
    const std::string column = "u." + DbConnection::QuoteIdentifier(role.name);
    if (!key.collation.empty() && role.collation == key.collation && role.charset == key.charset) {
        const std::string value = "IFNULL(" + column + ", '')";
        const std::string pads = "CONVERT('a ' USING " + key.charset + ") COLLATE " +
                                 key.collation + " = CONVERT('a' USING " + key.charset + ")";
        return "WEIGHT_STRING(IF(" + pads + ", RTRIM(" + value + "), " + value + "))";
    }
    if (key.collation.empty() && IsNumericType(key.dataType) && IsIntegerType(role.dataType))
        return "(IFNULL(CAST(" + column + " AS DOUBLE), 0) + 0e0)";
    return Canonical(key, "IFNULL(CAST(" + column + " AS CHAR), '')");
}

// The positions the list shows, in the order the role query selects them.
constexpr int kReadPositions[] = {
    kId,      kAccountKey, kName,        kJob,         kExp,    kLevel,        kSpirit,
    kCreated, kLastLogin,  kLastOffline, kBattlePower, kLogins, kOnlineMinutes};
constexpr int kPositionCount = 23;

struct RoleQuery
{
    std::string sql;
    int columnOf[kPositionCount]; // result column of each position, -1 when absent
    int accountKeyColumn = -1;
    int currencyKeyColumn = -1;
};

RoleQuery BuildRoleQuery(const Schema& schema)
{
    RoleQuery query;
    std::fill(std::begin(query.columnOf), std::end(query.columnOf), -1);
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
        query.columnOf[position] = column++;
    }
    if (schema.accountUsable) {
        sql += "," + RoleKey(*schema.accountKey, schema, kAccountKey);
        query.accountKeyColumn = column++;
    }
    if (schema.currencyUsable) {
        sql += "," + RoleKey(*schema.currencyKey, schema, kId);
        query.currencyKeyColumn = column++;
    }
    sql += " FROM user_role u ORDER BY u.id DESC";
    query.sql = std::move(sql);
    return query;
}

// Canonical key -> row of a lookup table. Rows come in ascending id, so the last one stored
// for a key is the one with the highest id, the row the per-role statement ("order by id
// DESC", first row) would read.
struct Lookup
{
    RowSet rows;
    std::unordered_map<std::string_view, std::int64_t> rowOf;

    bool Load(DbConnection& db, const std::string& sql)
    {
        if (!db.ExecSql(sql))
            return false;
        rows = db.StoreResult();
        const std::int64_t count = rows.RowCount();
        rowOf.reserve(static_cast<std::size_t>(count));
        for (std::int64_t r = 0; r < count; ++r) {
            std::size_t length = 0;
            const char* key = rows.CellAt(r, 0, length);
            if (key) // a NULL key equals nothing
                rowOf[std::string_view(key, length)] = r;
        }
        return rows.Valid();
    }

    std::int64_t Find(const RowSet& roles, int keyColumn) const
    {
        std::size_t length = 0;
        const char* key = keyColumn >= 0 ? roles.Cell(keyColumn, length) : nullptr;
        if (!key)
            return -1;
        const auto found = rowOf.find(std::string_view(key, length));
        return found == rowOf.end() ? -1 : found->second;
    }
};

// The text of a cell as the server sent it (up to a zero byte); NULL reads as "".
std::string CellText(const char* cell, std::size_t length)
{
    if (!cell)
        return {};
    const void* zero = std::memchr(cell, '\0', length);
    return std::string(cell, zero ? static_cast<const char*>(zero) - cell : length);
}

std::string LookupText(const Lookup& lookup, std::int64_t row, int column)
{
    if (row < 0)
        return {};
    std::size_t length = 0;
    const char* cell = lookup.rows.CellAt(row, column, length);
    return CellText(cell, length);
}

class CellReader
{
public:
    CellReader(const RowSet& rows, const RoleQuery& query) : m_rows(rows), m_query(query) {}

    bool Has(int position) const { return m_query.columnOf[position] >= 0; }

    std::string Role(int position) const
    {
        if (!Has(position))
            return {};
        std::size_t length = 0;
        const char* cell = m_rows.Cell(m_query.columnOf[position], length);
        return CellText(cell, length);
    }

    std::int64_t Int64(int position) const
    {
        std::int64_t value = 0;
        if (Has(position))
            m_rows.ReadField(m_query.columnOf[position], value);
        return value;
    }

    int ColumnOf(int position) const { return m_query.columnOf[position]; }

private:
    const RowSet& m_rows;
    const RoleQuery& m_query;
};

} // namespace

std::optional<RoleRows> QueryRoleList(DbConnection& db)
{
    const std::optional<Schema> schema = ReadSchema(db);
    if (!schema)
        return std::nullopt;
    const RoleQuery query = BuildRoleQuery(*schema);
    RowSet rows;
    if (db.ExecSql(query.sql))
        rows = db.StoreResult();
    if (!rows.Valid())
        return std::nullopt;
    // A lookup table the server refuses to read leaves its cells empty.
    Lookup accounts;
    if (schema->accountUsable)
        accounts.Load(db, "SELECT " + Canonical(*schema->accountKey, "a.user_guid") +
                              ",a.lingshi FROM user_account a ORDER BY a.id");
    Lookup currencies;
    if (schema->currencyUsable)
        currencies.Load(db, "SELECT " + Canonical(*schema->currencyKey, "b.user_role_id") +
                                ",b.tongqian,b.bind_lingshi FROM role_account b ORDER BY b.id");

    const CellReader read(rows, query);
    const auto count = static_cast<std::size_t>(rows.RowCount());
    RoleRows online;
    RoleRows others;
    others.reserve(count);
    rows.FirstRow();
    for (std::size_t i = 0; i < count; ++i, rows.NextRow()) {
        const std::int64_t lastLogin = read.Int64(kLastLogin);
        const std::int64_t lastOffline = read.Int64(kLastOffline);
        const bool isOnline = lastOffline < lastLogin;

        RoleRow cells(kRoleListColumns);
        const auto cell = [&cells](RoleColumn column) -> std::string& {
            return cells[static_cast<std::size_t>(column)];
        };
        cell(RoleColumn::Online) = isOnline ? "在线" : " - ";
        if (read.Has(kName)) {
            std::size_t length = 0;
            const char* name = rows.Cell(read.ColumnOf(kName), length);
            // Names stay whole, also characters that the old GBK display could not hold.
            cell(RoleColumn::Name) =
                name ? CleanUtf8(std::string_view(name, length)) : std::string();
        }
        const std::int64_t account = accounts.Find(rows, query.accountKeyColumn);
        const std::int64_t currency = currencies.Find(rows, query.currencyKeyColumn);
        cell(RoleColumn::Level) = read.Role(kLevel);
        cell(RoleColumn::Copper) = LookupText(currencies, currency, 1);
        cell(RoleColumn::Yuanbao) = LookupText(accounts, account, 1);
        cell(RoleColumn::BoundYuanbao) = LookupText(currencies, currency, 2);
        cell(RoleColumn::Experience) = read.Role(kExp);
        if (read.Has(kJob))
            cell(RoleColumn::Job) = JobName(read.Role(kJob));
        cell(RoleColumn::Spirit) = read.Role(kSpirit);
        cell(RoleColumn::BattlePower) = read.Role(kBattlePower);
        cell(RoleColumn::Logins) = read.Role(kLogins);
        if (read.Has(kOnlineMinutes))
            cell(RoleColumn::OnlineTime) = read.Role(kOnlineMinutes) + "分";
        cell(RoleColumn::Created) = read.Role(kCreated);
        if (read.Has(kLastOffline))
            cell(RoleColumn::LastOffline) = FormatDateTime(MsToLocalTime(lastOffline, false));
        cell(RoleColumn::RoleId) = read.Role(kId);
        (isOnline ? online : others).push_back(std::move(cells));
    }
    FreeRowSet(rows);

    // Rows arrive newest id first and each online role goes to the top, so the online block
    // ends up in reverse arrival order.
    RoleRows result;
    result.reserve(online.size() + others.size());
    std::move(online.rbegin(), online.rend(), std::back_inserter(result));
    std::move(others.begin(), others.end(), std::back_inserter(result));
    return result;
}

} // namespace mrvn
