#include "cleanup/TableCleanup.h"

#include "db/DbConnection.h"
#include "text/TextUtil.h"

#include <algorithm>

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
    return "delete FROM " + DbConnection::QuoteIdentifier(table) +
           (condition.empty() ? "" : " where " + condition);
}

std::string CleanupStatement::ChunkSql(std::int64_t limit) const
{
    return DeleteSql() + " LIMIT " + std::to_string(limit);
}

std::string CleanupStatement::CountSql() const
{
    return "SELECT COUNT(*) FROM " + DbConnection::QuoteIdentifier(table) +
           (condition.empty() ? "" : " where " + condition);
}

std::string CleanupStatement::NextKeysSql(std::string_view after, std::int64_t limit) const
{
    // The key's own index read in its order: the read stops at the chunk's last id, and
    // locks nothing.
    std::string sql = "SELECT " + key + " FROM " + DbConnection::QuoteIdentifier(table) +
                      " FORCE INDEX (PRIMARY)";
    std::string where;
    if (!after.empty())
        where = key + " > " + std::string(after);
    if (!condition.empty())
        where += (where.empty() ? "(" : " AND (") + condition + ")";
    if (!where.empty())
        sql += " where " + where;
    return sql + " ORDER BY " + key + " LIMIT " + std::to_string(limit);
}

std::string CleanupStatement::RangeDeleteSql(std::string_view first, std::string_view last) const
{
    std::string sql = "delete FROM " + DbConnection::QuoteIdentifier(table) + " where " + key +
                      " BETWEEN " + std::string(first) + " AND " + std::string(last);
    if (!condition.empty())
        sql += " AND (" + condition + ")";
    return sql;
}

std::string CleanupStatement::ChunkForm(std::int64_t limit) const
{
    if (key.empty())
        return ChunkSql(limit);
    return RangeDeleteSql("?", "?") + " (the next " + std::to_string(limit) + " ids by " + key +
           " each)";
}

namespace {

constexpr const char* kDateColumn = "log_update_time";

bool IsIntegerType(std::string_view type)
{
    for (const char* integer : {"tinyint", "smallint", "mediumint", "int", "integer", "bigint"}) {
        if (type == integer)
            return true;
    }
    return false;
}

bool IsDateType(std::string_view type)
{
    return type == "date" || type == "datetime" || type == "timestamp";
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// An id as the server sent it from an integer column: goes into the statement as it is.
bool IsKeyText(std::string_view text)
{
    const std::size_t digits = !text.empty() && text.front() == '-' ? 1 : 0;
    return text.size() > digits &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digits), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A statement that failed changed nothing, unless its answer was lost on the way: a read whose
// answer was lost deleted nothing, a lost delete leaves its rows unknown. One that fails while a
// stop is asked was most likely ended by it (the KILL, or the closing window breaking the
// connection), whatever the error says: the run is cancelled then, not failed.
ChunkedDelete EndOfFailed(ChunkedDelete outcome, const DbConnection& db, bool deleting,
                          const ChunkGoOn& goOn)
{
    outcome.errorNumber = db.LastError();
    outcome.error = db.LastErrorText();
    if (deleting && db.ConnectionLost())
        outcome.end = ChunkedDelete::End::Lost;
    else if (db.QueryInterrupted() || (goOn && !goOn(outcome.deleted, outcome.chunks)))
        outcome.end = ChunkedDelete::End::Cancelled;
    else
        outcome.end = ChunkedDelete::End::Failed;
    return outcome;
}

// A chunk short of the limit ends the table, unless a stop was asked meanwhile: the server may
// answer a statement it was told to stop with fewer rows and no error (a DELETE that deleted
// part of its rows, or none), so the short chunk then does not say the table is done.
ChunkedDelete EndOfRows(ChunkedDelete outcome, const ChunkGoOn& goOn)
{
    if (goOn && !goOn(outcome.deleted, outcome.chunks))
        outcome.end = ChunkedDelete::End::Cancelled;
    return outcome;
}

ChunkedDelete DeleteInLimitChunks(DbConnection& db, const CleanupStatement& statement,
                                  const ChunkGoOn& goOn, std::int64_t limit)
{
    ChunkedDelete outcome;
    const std::string sql = statement.ChunkSql(limit);
    for (;;) {
        if (outcome.chunks > 0 && goOn && !goOn(outcome.deleted, outcome.chunks)) {
            outcome.end = ChunkedDelete::End::Cancelled;
            return outcome;
        }
        if (!db.ExecSql(sql))
            return EndOfFailed(outcome, db, true, goOn);
        const std::int64_t affected = db.AffectedRows();
        outcome.deleted += affected;
        ++outcome.chunks;
        if (affected < limit)
            return EndOfRows(outcome, goOn);
    }
}

} // namespace

void PlanChunks(DbConnection& db, CleanupStatement& statement)
{
    const std::string table = db.QuoteString(statement.table);
    RowSet columns = db.SelectRows("information_schema.COLUMNS", "COLUMN_NAME,DATA_TYPE",
                                   "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + table);
    RowSet primary = db.SelectRows("information_schema.STATISTICS", "COLUMN_NAME",
                                   "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = " + table +
                                       " AND INDEX_NAME = 'PRIMARY'");
    if (!columns.Valid() || !primary.Valid())
        return;
    std::string primaryColumn;
    if (primary.RowCount() == 1 && primary.FirstRow())
        primary.ReadField(0, primaryColumn);
    columns.FirstRow();
    for (std::int64_t i = 0; i < columns.RowCount(); ++i, columns.NextRow()) {
        std::string name, type;
        columns.ReadField(0, name);
        columns.ReadField(1, type);
        type = Lower(type);
        if (!primaryColumn.empty() && name == primaryColumn && IsIntegerType(type))
            statement.key = DbConnection::QuoteIdentifier(name);
        if (!statement.olderThanDays.empty() && Lower(name) == kDateColumn && IsDateType(type)) {
            // date(c) <= D holds exactly when c < D + 1 day, for a DATE, DATETIME or TIMESTAMP
            // c (NULL in neither); for a column of another type the written condition stays.
            statement.condition = std::string(kDateColumn) +
                                  " < DATE_ADD(DATE_SUB(CURDATE(), INTERVAL " +
                                  statement.olderThanDays + " DAY), INTERVAL 1 DAY)";
        }
    }
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
    return CleanupStatement{std::string(table), {}, {}, {}};
}

std::optional<CleanupStatement> OlderRowsStatement(std::string_view table,
                                                   std::string_view daysText)
{
    // Only a count of days may stand in the INTERVAL: anything else is either a syntax
    // error or a piece of SQL, and a negative count would take today's rows as well.
    if (table.empty() || !IsDayCount(daysText))
        return std::nullopt;
    const std::string days = RemoveAllSpaces(daysText);
    return CleanupStatement{std::string(table),
                            "DATE_SUB(CURDATE(), INTERVAL " + days + " DAY) >= date(" +
                                kDateColumn + ")",
                            {},
                            days};
}

std::optional<CleanupStatement> RoleStatement(const DbConnection& db, std::string_view table,
                                              std::string_view roleIdAsTyped)
{
    if (table.empty())
        return std::nullopt;
    return CleanupStatement{
        std::string(table), "user_role_id='" + db.EscapeString(roleIdAsTyped) + "'", {}, {}};
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
    if (statement.key.empty())
        return DeleteInLimitChunks(db, statement, goOn, limit);
    ChunkedDelete outcome;
    std::string after;
    const auto failed = [&](bool deleting) { return EndOfFailed(outcome, db, deleting, goOn); };
    for (;;) {
        if (outcome.chunks > 0 && goOn && !goOn(outcome.deleted, outcome.chunks)) {
            outcome.end = ChunkedDelete::End::Cancelled;
            return outcome;
        }
        if (!db.ExecSql(statement.NextKeysSql(after, limit)))
            return failed(false);
        RowSet ids = db.StoreResult();
        if (!ids.Valid())
            return failed(false);
        const std::int64_t found = ids.RowCount();
        if (found == 0)
            return EndOfRows(outcome, goOn);
        std::string first, last;
        ids.FirstRow();
        ids.ReadField(0, first);
        std::size_t length = 0;
        const char* cell = ids.CellAt(found - 1, 0, length);
        last.assign(cell ? cell : "", cell ? length : 0);
        if (!IsKeyText(first) || !IsKeyText(last)) {
            outcome.end = ChunkedDelete::End::Failed;
            return outcome;
        }
        // The condition goes with the range: a row that changed since it was found stays.
        if (!db.ExecSql(statement.RangeDeleteSql(first, last)))
            return failed(true);
        outcome.deleted += db.AffectedRows();
        ++outcome.chunks;
        if (found < limit)
            return EndOfRows(outcome, goOn);
        after = std::move(last);
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

CountFailure DescribeCountFailure(const CleanupStatement& statement, unsigned errorNumber)
{
    // The server's "unknown column" (ER_BAD_FIELD_ERROR); the older-rows condition names no
    // other column.
    constexpr unsigned kUnknownColumn = 1054;
    CountFailure failure;
    failure.errorNumber = errorNumber;
    failure.noTimeColumn = errorNumber == kUnknownColumn &&
                           statement.condition.find("log_update_time") != std::string::npos;
    return failure;
}

void CleanupPreview::Add(std::string name, std::optional<std::int64_t> rows, CountFailure failure)
{
    if (!rows)
        ++failing;
    else if (*rows == 0)
        ++empty;
    else
        total += *rows;
    tables.push_back({std::move(name), rows, rows ? CountFailure{} : failure});
}

} // namespace mrvn
