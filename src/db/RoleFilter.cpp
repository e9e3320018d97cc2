#include "db/RoleFilter.h"

namespace mrvn {

namespace {

constexpr std::size_t kIdPosition = 0;
constexpr std::size_t kLevelPosition = 6;
constexpr std::size_t kLastLoginPosition = 11;
constexpr std::size_t kLastOfflinePosition = 12;
constexpr std::int64_t kDayMs = 86400000;

// A column as a signed 64-bit number; NULL and text that is no number read as 0, as the
// role list reads them.
std::string Number(const std::string& column)
{
    return "CAST(COALESCE(" + DbConnection::QuoteIdentifier(column) + ",0) AS SIGNED)";
}

} // namespace

std::optional<RoleFilterColumns> ReadRoleFilterColumns(DbConnection& db)
{
    if (!db.ExecSql("SHOW COLUMNS FROM user_role"))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    if (!rows.Valid())
        return std::nullopt;
    std::vector<std::string> names;
    for (bool more = rows.FirstRow(); more && rows.RowCount() > 0; more = rows.NextRow()) {
        std::string name;
        rows.ReadField(0, name);
        names.push_back(std::move(name));
    }
    if (names.size() <= kLastOfflinePosition)
        return std::nullopt;
    return RoleFilterColumns{names[kIdPosition], names[kLevelPosition], names[kLastLoginPosition],
                             names[kLastOfflinePosition]};
}

std::string RoleFilterCondition(const RoleFilterColumns& columns, const RoleFilter& filter,
                                std::int64_t nowMs)
{
    const std::string online = Number(columns.lastOffline) + " < " + Number(columns.lastLogin);
    std::string condition;
    const auto add = [&condition](const std::string& part) {
        condition += (condition.empty() ? "" : " AND ") + ("(" + part + ")");
    };
    if (filter.online)
        add(online);
    if (filter.minLevel)
        add(Number(columns.level) + " >= " + std::to_string(*filter.minLevel));
    if (filter.maxLevel)
        add(Number(columns.level) + " <= " + std::to_string(*filter.maxLevel));
    if (filter.offlineWithinDays) {
        const std::int64_t since = nowMs - *filter.offlineWithinDays * kDayMs;
        add(online + " OR " + Number(columns.lastOffline) + " >= " + std::to_string(since));
    }
    return condition.empty() ? "1=1" : condition;
}

std::optional<std::int64_t> CountFilteredRoles(DbConnection& db, const RoleFilter& filter,
                                               std::int64_t nowMs)
{
    const std::optional<RoleFilterColumns> columns = ReadRoleFilterColumns(db);
    if (!columns)
        return std::nullopt;
    if (!db.ExecSql("SELECT COUNT(*) FROM user_role WHERE " +
                    RoleFilterCondition(*columns, filter, nowMs)))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    std::int64_t count = -1;
    if (!rows.Valid() || !rows.FirstRow() || !rows.ReadField(0, count) || count < 0)
        return std::nullopt;
    return count;
}

std::optional<std::vector<std::string>>
SelectFilteredRoleIds(DbConnection& db, const RoleFilter& filter, std::int64_t nowMs)
{
    const std::optional<RoleFilterColumns> columns = ReadRoleFilterColumns(db);
    if (!columns)
        return std::nullopt;
    const std::string id = DbConnection::QuoteIdentifier(columns->id);
    if (!db.ExecSql("SELECT CAST(" + id + " AS CHAR) FROM user_role WHERE " +
                    RoleFilterCondition(*columns, filter, nowMs) + " ORDER BY " + id))
        return std::nullopt;
    // Read as it arrives: every role of a large server is a long answer.
    RowStream rows = db.UseResult();
    if (!rows.Valid())
        return std::nullopt;
    std::vector<std::string> ids;
    while (rows.NextRow()) {
        std::size_t length = 0;
        const char* cell = rows.Cell(0, length);
        if (cell)
            ids.emplace_back(cell, length);
    }
    if (db.LastError() != 0)
        return std::nullopt;
    return ids;
}

} // namespace mrvn
