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

std::string CleanupStatement::DeleteSql() const
{
    return "delete FROM " + DbConnection::QuoteIdentifier(table) + tail;
}

std::string CleanupStatement::ChunkSql(std::int64_t limit) const
{
    return DeleteSql() + " LIMIT " + std::to_string(limit);
}

std::string CleanupStatement::CountSql() const
{
    return "SELECT COUNT(*) FROM " + DbConnection::QuoteIdentifier(table) + tail;
}

bool IsDayCount(std::string_view daysText)
{
    const std::string days = RemoveAllSpaces(daysText);
    return IsIntegerText(days) && days.front() != '-';
}

std::optional<CleanupStatement> AllRowsStatement(std::string_view table)
{
    if (table.empty())
        return std::nullopt;
    return CleanupStatement{std::string(table), {}};
}

std::optional<CleanupStatement> OlderRowsStatement(std::string_view table,
                                                   std::string_view daysText)
{
    // Only a count of days may stand in the INTERVAL: anything else is either a syntax
    // error or a piece of SQL, and a negative count would take today's rows as well.
    if (table.empty() || !IsDayCount(daysText))
        return std::nullopt;
    return CleanupStatement{std::string(table), " where DATE_SUB(CURDATE(), INTERVAL " +
                                                    RemoveAllSpaces(daysText) +
                                                    " DAY) >= date(log_update_time)"};
}

std::optional<CleanupStatement> RoleStatement(const DbConnection& db, std::string_view table,
                                              std::string_view roleIdAsTyped)
{
    if (table.empty())
        return std::nullopt;
    return CleanupStatement{std::string(table),
                            " where user_role_id='" + db.EscapeString(roleIdAsTyped) + "'"};
}

CleanupOutcome RunCleanupStatement(DbConnection& db, const std::optional<CleanupStatement>& sql)
{
    CleanupOutcome outcome;
    if (!sql)
        return outcome;
    outcome.sent = true;
    if (!db.ExecSql(sql->DeleteSql())) {
        outcome.errorNumber = db.LastError();
        outcome.error = db.LastErrorText();
        return outcome;
    }
    outcome.affected = db.AffectedRows();
    return outcome;
}

ChunkedDelete DeleteInChunks(DbConnection& db, const CleanupStatement& statement,
                             const ChunkGoOn& goOn, std::int64_t limit)
{
    ChunkedDelete outcome;
    const std::string sql = statement.ChunkSql(limit);
    for (;;) {
        if (outcome.chunks > 0 && goOn && !goOn(outcome.deleted, outcome.chunks)) {
            outcome.end = ChunkedDelete::End::Cancelled;
            return outcome;
        }
        if (!db.ExecSql(sql)) {
            outcome.errorNumber = db.LastError();
            outcome.error = db.LastErrorText();
            if (db.ConnectionLost())
                outcome.end = ChunkedDelete::End::Lost;
            else if (db.QueryInterrupted())
                outcome.end = ChunkedDelete::End::Cancelled;
            else
                outcome.end = ChunkedDelete::End::Failed;
            return outcome;
        }
        const std::int64_t affected = db.AffectedRows();
        outcome.deleted += affected;
        ++outcome.chunks;
        if (affected < limit)
            return outcome;
    }
}

std::optional<std::int64_t> CountCleanupRows(DbConnection& db, const CleanupStatement& statement)
{
    if (!db.ExecSql(statement.CountSql()))
        return std::nullopt;
    RowSet rows = db.StoreResult();
    std::int64_t count = 0;
    if (!rows.Valid() || !rows.FirstRow() || !rows.ReadField(0, count))
        return std::nullopt;
    return count;
}

void CleanupPreview::Add(std::string name, std::optional<std::int64_t> rows)
{
    if (!rows)
        ++failing;
    else if (*rows == 0)
        ++empty;
    else
        total += *rows;
    tables.push_back({std::move(name), rows});
}

} // namespace mrvn
