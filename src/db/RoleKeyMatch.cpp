#include "db/RoleKeyMatch.h"

namespace mrvn::rolequery {

std::string BuildTableClassQuery(const LookupTable& lookup)
{
    const std::string key = "b." + DbConnection::QuoteIdentifier(lookup.key.name);
    return "SELECT GROUP_CONCAT(DISTINCT HEX(" + key + ")), @@group_concat_max_len FROM " +
           lookup.table + " b GROUP BY " + key + " HAVING COUNT(DISTINCT HEX(" + key +
           ")) > 1 ORDER BY NULL";
}

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

std::string KeyLiteral(const ColumnInfo& key, std::string_view hex)
{
    std::string literal = "_" + key.charset + " X'";
    literal.append(hex).append("' COLLATE ").append(key.collation);
    return literal;
}

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

} // namespace mrvn::rolequery
