#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The client library stays out of this header.
struct st_mysql;
struct st_mysql_res;

namespace mrvn {

// A result fetched completely into client memory, with a row cursor that starts on the
// first row. An empty (invalid) RowSet comes from a failed statement; every operation on
// it returns false or 0 and leaves its target unchanged.
class RowSet
{
public:
    RowSet();
    ~RowSet();
    RowSet(RowSet&&) noexcept;
    RowSet& operator=(RowSet&&) noexcept;

    bool Valid() const;
    std::int64_t RowCount() const;
    int ColumnCount() const;
    bool FirstRow();
    // True when there was a row under the cursor before the move.
    bool NextRow();

    // Reads a column of the row under the cursor (the last row once the cursor has passed
    // it). NULL gives the empty value and true; a missing column gives false and leaves
    // the target. Text stops at the first zero byte; Bytes keeps every byte.
    bool ReadField(int column, std::string& text) const;
    bool ReadField(int column, std::vector<unsigned char>& bytes) const;
    bool ReadField(int column, std::int16_t& value) const;
    bool ReadField(int column, std::int32_t& value) const;
    bool ReadField(int column, std::int64_t& value) const;
    bool ReadField(int column, double& value) const;
    bool ReadField(int column, bool& value) const;
    template <typename T> bool ReadField(std::string_view name, T& target) const
    {
        return ReadField(ColumnIndex(name), target);
    }
    // First column with exactly this name (case-sensitive), -1 when none.
    int ColumnIndex(std::string_view name) const;

    // Raw access for bulk readers: the cell of the row under the cursor, or nullptr for
    // NULL / out of range; `length` receives the byte count.
    const char* Cell(int column, std::size_t& length) const;
    // The same for any row, without moving the cursor.
    const char* CellAt(std::int64_t row, int column, std::size_t& length) const;

    void Free();

private:
    friend class DbConnection;
    explicit RowSet(st_mysql_res* result);
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

inline void FreeRowSet(RowSet& rows)
{
    rows.Free();
}

struct ConnectParams
{
    std::string host;     // empty: the library default
    std::string user;     // empty: the library default
    std::string password; // empty: none
    std::string database; // empty: none
    unsigned port = 0;    // 0: the library default
};

// The one connection to the game database, opened in utf8mb4 (utf8 on old servers), with
// automatic reconnect and a short connect time-out. Not thread-safe; one statement at a time.
class DbConnection
{
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    bool Connect(const ConnectParams& params, unsigned connectTimeoutSeconds = 5);
    bool IsOpen() const;
    void Close();

    // Runs a statement; any result stays pending until StoreResult.
    bool ExecSql(std::string_view sql);
    RowSet StoreResult();
    // "select F from T[ where C][ order by O]", parts inserted unchanged.
    RowSet SelectRows(std::string_view table, std::string_view fields,
                      std::string_view condition = {}, std::string_view order = {});
    bool ShowTables();
    // Rows changed by the last statement; -1 after a failed one, 0 without a connection.
    std::int64_t AffectedRows() const;
    // The server's error number of the last failed statement (0 when none).
    unsigned LastError() const;
    // True when the last statement failed because the server could not be reached: the
    // connection was gone or lost during the statement, and reconnecting did not work.
    bool ConnectionLost() const;
    std::string LastErrorText() const;

    // The text as the body of a single-quoted MySQL string literal (no quotes added).
    std::string EscapeString(std::string_view text) const;
    // The text as a backtick-quoted identifier (backticks inside doubled).
    static std::string QuoteIdentifier(std::string_view name);
    // "'" + EscapeString(text) + "'".
    std::string QuoteString(std::string_view text) const;

private:
    struct Deleter
    {
        void operator()(st_mysql* handle) const;
    };
    std::unique_ptr<st_mysql, Deleter> m_handle;
    std::int64_t m_affected = 0;
    unsigned m_lastError = 0;
};

// "select F from T[ where C][ order by O]": the parts inserted unchanged, " where " only
// with a condition and " order by " only with an order.
std::string BuildSelect(std::string_view table, std::string_view fields,
                        std::string_view condition = {}, std::string_view order = {});

// Escapes for a single-quoted literal without a connection (valid for UTF-8 connections).
std::string EscapeSqlLiteral(std::string_view text);

} // namespace mrvn
