#include "cleanup/TableCleanup.h"

#include "db/DbConnection.h"
#include "text/TextUtil.h"

namespace mrvn {

std::optional<std::vector<std::string>> ListTables(DbConnection& db)
{
    if (!db.ExecSql("show tables"))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    if (!rows.Valid())
        return std::nullopt;
    std::vector<std::string> tables;
    tables.reserve(static_cast<std::size_t>(rows.RowCount()));
    if (rows.FirstRow()) {
        for (std::int64_t i = 0; i < rows.RowCount(); ++i) {
            std::string name;
            rows.ReadField(0, name);
            tables.push_back(std::move(name));
            rows.NextRow();
        }
    }
    return tables;
}

CleanupCase ChooseCleanupCase(const CleanupOptions& options, std::string_view roleIdText,
                              bool hasSelection, int rowCount)
{
    if (options.emptySelected)
        return hasSelection ? CleanupCase::EmptySelected : CleanupCase::Nothing;
    if (options.olderSelected)
        return hasSelection ? CleanupCase::OlderSelected : CleanupCase::Nothing;
    if (options.byRole) {
        if (RemoveAllSpaces(roleIdText).empty())
            return CleanupCase::Nothing;
        if (options.roleInSelectedOnly)
            return hasSelection ? CleanupCase::RoleInSelected : CleanupCase::Nothing;
        return rowCount > 0 ? CleanupCase::RoleInEvery : CleanupCase::Nothing;
    }
    return rowCount > 0 ? CleanupCase::EveryTable : CleanupCase::Nothing;
}

std::optional<std::string> AllRowsStatement(std::string_view table)
{
    if (table.empty())
        return std::nullopt;
    return "delete FROM " + DbConnection::QuoteIdentifier(table);
}

std::optional<std::string> OlderRowsStatement(std::string_view table, std::string_view daysText)
{
    // Only an integer may stand in the INTERVAL: anything else is either a syntax error or
    // a piece of SQL.
    const std::string days = RemoveAllSpaces(daysText);
    if (table.empty() || !IsIntegerText(days))
        return std::nullopt;
    return "delete FROM " + DbConnection::QuoteIdentifier(table) +
           " where DATE_SUB(CURDATE(), INTERVAL " + days + " DAY) >= date(log_update_time);";
}

std::optional<std::string> RoleStatement(const DbConnection& db, std::string_view table,
                                         std::string_view roleIdAsTyped)
{
    if (table.empty())
        return std::nullopt;
    return "delete FROM " + DbConnection::QuoteIdentifier(table) + " where user_role_id='" +
           db.EscapeString(roleIdAsTyped) + "'";
}

std::int64_t RunCleanupStatement(DbConnection& db, const std::optional<std::string>& sql)
{
    if (!sql || !db.ExecSql(*sql))
        return -1;
    return db.AffectedRows();
}

std::string CleanupResultText(std::int64_t affected)
{
    return kCleanupResultPrefix + std::to_string(affected);
}

std::string EmptyEveryTableQuestion(std::size_t tableCount)
{
    return "将清空全部 " + std::to_string(tableCount) +
           " 张数据表的所有数据（包括游戏帐号），且无法恢复！是否继续？";
}

} // namespace mrvn
