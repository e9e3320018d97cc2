#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The delete statements of the cleanup page and the choice between them. Rules this module
// keeps:
// - every delete is first counted with exactly its own condition (CleanupStatement keeps
//   the table and the condition once, for both the count and the delete), so the operator
//   is told how many rows would go before anything is deleted, and a table whose count
//   fails is one whose delete would fail too; the window's question after the count has No
//   as its default answer, so only a deliberate Yes deletes;
// - table names are quoted as identifiers and a role id as a string literal; a day count
//   goes into a statement only when it is a whole, non-negative number that fits in 64
//   bits, since anything else would break the statement or reach into the future;
// - a table is deleted from in chunks (DeleteInChunks), so no single statement runs for long
//   on a live server and the game's own writes are never locked out for long: where the table
//   has a primary key of one integer column, each chunk first reads the next ids the
//   condition selects (a plain read, which locks nothing) and then deletes that range of ids
//   with the condition repeated, so a delete never reads beyond its own chunk; elsewhere the
//   same condition with a LIMIT, repeated until a chunk deletes fewer rows than the limit;
// - the logic only builds, counts and runs statements and says what happened: what the
//   operator sees is decided by the window.
namespace mrvn {

// The columns of the table list: the row's number, the table's name and the last result.
enum class TableColumn : int { Tid, Name, Result };
constexpr int ColumnIndex(TableColumn column)
{
    return static_cast<int>(column);
}

class DbConnection;

// The tables of the connected database in the server's order; nullopt when "show tables"
// failed.
std::optional<std::vector<std::string>> ListTables(DbConnection& db);

// The ticked boxes of the page.
struct CleanupOptions
{
    bool emptyAll = false;           // 选择框1
    bool emptySelected = false;      // 选择框2
    bool olderSelected = false;      // 选择框3
    bool byRole = false;             // 选择框4
    bool roleInSelectedOnly = false; // 选择框5
};

enum class CleanupCase {
    EmptySelected,
    OlderSelected,
    RoleInSelected,
    RoleInEvery,
    EveryTable,
    Nothing
};

// The first case whose condition holds; Nothing for the silent stops (no selection where
// one is needed, a role id of spaces only, an empty table list). EveryTable empties or
// thins every table depending on options.emptyAll.
CleanupCase ChooseCleanupCase(const CleanupOptions& options, std::string_view roleIdText,
                              bool hasSelection, int rowCount);

// One delete statement of the cleanup, kept as its table and its condition, so the count
// shown before the delete is built from exactly the same condition and the two can never
// disagree about which rows they mean.
struct CleanupStatement
{
    std::string table;     // as the server lists it
    std::string condition; // "" for every row, else the text after " where "
    // The table's primary key when it is one integer column (PlanChunks), quoted; empty: none.
    std::string key;
    std::string DeleteSql() const;
    std::string CountSql() const;
    // DeleteSql with " LIMIT n".
    std::string ChunkSql(std::int64_t limit) const;
    // The next `limit` ids in key order whose rows the condition selects, after id `after`
    // ("": from the first).
    std::string NextKeysSql(std::string_view after, std::int64_t limit) const;
    // The rows the condition selects among the ids from `first` to `last`.
    std::string RangeDeleteSql(std::string_view first, std::string_view last) const;
    // How its chunks delete, as the audit log records it.
    std::string ChunkForm(std::int64_t limit) const;

    // For an older-rows statement: the day count, and whether the condition was rewritten as a
    // range of its column (PlanChunks).
    std::string olderThanDays;
};

// Looks at the table's columns: notes its primary key when that is one integer column, and
// for an older-rows statement whose log_update_time is a DATE, DATETIME or TIMESTAMP column
// writes the condition as a range of the column, which selects the same rows and which an index
// on it can serve ("date(column)" hides the column from every index). Leaves the statement as it
// is where the columns say otherwise or cannot be read. Called before the count, so the count
// and the delete share the condition.
void PlanChunks(DbConnection& db, CleanupStatement& statement);

// Rows one chunk of a cleanup deletes at most.
inline constexpr std::int64_t kCleanupChunkRows = 5000;

// What the chunks of one table did.
struct ChunkedDelete
{
    enum class End {
        Done,      // the last chunk deleted fewer rows than the limit (or found no more ids)
                   // and no stop was asked meanwhile
        Failed,    // the server refused a chunk (or the search for its ids failed, which
                   // deletes nothing); the chunks before it stand
        Cancelled, // stopped between chunks, or the running chunk was stopped (KILL QUERY)
        Lost,      // a chunk's answer was lost: whether it was carried out is not known
    };
    End end = End::Done;
    std::int64_t deleted = 0; // by the chunks whose answer came
    int chunks = 0;           // delete statements whose answer came
    unsigned errorNumber = 0; // the failing chunk's error
    std::string error;
};

// Asked before every chunk after the first, and at the end, with the rows deleted so far;
// false stops (at the end: the outcome is Cancelled, not Done).
using ChunkGoOn = std::function<bool(std::int64_t deleted, int chunks)>;

// Deletes the statement's rows in chunks of `limit` (by ranges of ids when it has a key), until
// a chunk deletes fewer rows than the limit, a chunk fails, or `goOn` says stop.
ChunkedDelete DeleteInChunks(DbConnection& db, const CleanupStatement& statement,
                             const ChunkGoOn& goOn, std::int64_t limit = kCleanupChunkRows);

// A day count the older-rows statement accepts: digits only once spaces are removed, a
// value that fits in 64 bits, and never negative (a negative count reaches into the
// future and deletes today's rows).
bool IsDayCount(std::string_view daysText);

// nullopt when the statement cannot be built: an empty table name, or a day count that
// IsDayCount refuses.
std::optional<CleanupStatement> AllRowsStatement(std::string_view table);
std::optional<CleanupStatement> OlderRowsStatement(std::string_view table,
                                                   std::string_view daysText);
// The role id goes in as typed, spaces included, escaped as a string literal.
std::optional<CleanupStatement> RoleStatement(const DbConnection& db, std::string_view table,
                                              std::string_view roleIdAsTyped);

// What one statement did: the affected-row count, or -1 with the server's error when the
// statement was not built or the server refused it.
struct CleanupOutcome
{
    bool sent = false; // false: there was no statement to send
    std::int64_t affected = -1;
    unsigned errorNumber = 0;
    std::string error;
    bool Ok() const { return affected >= 0; }
};
CleanupOutcome RunCleanupStatement(DbConnection& db, const std::optional<CleanupStatement>& sql);

// The rows the statement would delete now (SELECT COUNT(*) with the same condition);
// nullopt when the count fails, which means the delete would fail as well.
std::optional<std::int64_t> CountCleanupRows(DbConnection& db, const CleanupStatement& statement);

// Why the count of a table failed (so it is not deleted from): a table without the
// log_update_time column that the older-rows condition names is told apart from any other
// failure, which keeps the server's error number.
struct CountFailure
{
    unsigned errorNumber = 0;
    bool noTimeColumn = false;
};
CountFailure DescribeCountFailure(const CleanupStatement& statement, unsigned errorNumber);

// What a press would delete, table by table, in the order the statements would run.
struct CleanupPreview
{
    struct Table
    {
        std::string name;
        std::optional<std::int64_t> rows; // nullopt: the statement would fail
        CountFailure failure;             // why, when it would
    };
    std::vector<Table> tables;
    std::int64_t total = 0;
    std::size_t failing = 0;
    std::size_t empty = 0;

    void Add(std::string name, std::optional<std::int64_t> rows, CountFailure failure = {});
};

} // namespace mrvn
