#include "db/RoleListSchema.h"

#include "db/BoundedRun.h"

#include <algorithm>
#include <iterator>

namespace mrvn::rolequery {

std::optional<Schema> ReadSchema(BoundedRun& run)
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

KeyKind KindOf(const ColumnInfo& key)
{
    if (!key.collation.empty())
        return KeyKind::Collated;
    return IsNumericType(key.dataType) ? KeyKind::Numeric : KeyKind::Bytes;
}

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

// user_role read with "*": each position is the column of the same number, when there is one.
PositionMap ColumnsInOrder(const RowSet& rows)
{
    PositionMap positions;
    for (int p = 0; p < kPositionCount; ++p)
        positions.columnOf[p] = p < rows.ColumnCount() ? p : -1;
    return positions;
}

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

} // namespace mrvn::rolequery
