#pragma once

#include "db/Reach.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The game database. Rules this module keeps:
// - one connection (DbConnection), used by one thread, one statement at a time; <mysql.h>
//   stays in the .cpp files, every handle is owned by RAII and failures come back as values
//   (false, an invalid RowSet, the server's error number), never as exceptions;
// - the connection asks for utf8mb4 and falls back to utf8 on servers that predate it, so
//   any character of a role name comes through whole where the server can store it;
// - a lost connection is reconnected by the connection itself, right before the next
//   statement, never inside the client library: the id of the new connection is noted
//   before any statement runs on it, so a KILL QUERY always names the connection running
//   the statement; every wait on the server is bounded (ConnectOptions): a hung server costs
//   the window seconds, not forever;
// - the SQL the tool sends is what every MySQL from 5.1 and every MariaDB from 5.5 accepts
//   (SqlPortability.h lists the functions); a statement form a server refuses anyway is
//   remembered for the connection (SqlForm) and not sent to it again;
// - texts put into statements are escaped for the connection (QuoteString, QuoteIdentifier),
//   never pasted in raw;
// - TLS and an SSH tunnel are settings of ConnectParams (Reach.h): a connection that asks for
//   TLS never goes on without it, certificates and host keys are checked before a login is
//   sent, and what stopped a connect for those reasons comes back as a ReachReport.

// The client library stays out of this header.
struct st_mysql;
struct st_mysql_res;

namespace mrvn {

class SshTunnel;

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

// The answer of a statement read one row at a time as it arrives, without keeping it: for
// answers too large to hold while they are made into something else. The connection runs no
// other statement until the stream is done or destroyed (what is left is then read and
// dropped).
class RowStream
{
public:
    RowStream();
    ~RowStream();
    RowStream(RowStream&&) noexcept;
    RowStream& operator=(RowStream&&) noexcept;

    bool Valid() const;
    int ColumnCount() const;
    // Moves to the next row; false at the end of the answer or when the connection failed on
    // the way (the connection's LastError then tells).
    bool NextRow();
    // The cell of the current row, or nullptr for NULL / out of range; `length` receives the
    // byte count.
    const char* Cell(int column, std::size_t& length) const;
    // The cell's leading integer (0 for NULL); false for a missing column.
    bool ReadField(int column, std::int64_t& value) const;

private:
    friend class DbConnection;
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
    // TLS to the server (off: plain, as the earlier releases); never falls back to plain text.
    TlsSettings tls;
    // An SSH tunnel to reach the server through (no host: none); host and port above are
    // then the database as the SSH server sees it.
    SshSettings ssh;
};

// How a connection is opened. The time-outs bound what a server that stops answering (hung,
// or the network path gone) costs the one thread that waits for it. The client library applies
// the read and write time-outs to each single wait on the socket, not to a whole statement: a
// long result that keeps arriving is never cut, but a statement the server takes longer than
// the read time-out to answer is reported as a lost connection.
// Worst case for one statement of a hung server: the read time-out; for a statement too big for
// the socket buffers, the write time-out. Each later statement makes one reconnect attempt: the
// connect time-out.
struct ConnectOptions
{
    unsigned connectTimeoutSeconds = 5;
    unsigned readTimeoutSeconds = 30;
    unsigned writeTimeoutSeconds = 30;
    // The character set asked for first; when the client library or the server does not know
    // it (utf8mb4 before MySQL 5.5.3), the connection is made in utf8.
    std::string charset = "utf8mb4";
};

// Statement forms a server refused once on this connection; remembered until the next
// Connect, so a refused form is not sent again on every refresh.
enum class SqlForm : unsigned {
    BoundedRoleList = 1u << 0,
};

// The one connection to the game database, opened in utf8mb4 (utf8 on old servers), with
// bounded waits (ConnectOptions). A connection the server ended (restarted, lost on the way) is
// made again before the next statement, with the parameters, options, character set and
// current database of the last Connect; that statement is not sent when the new connect
// fails. Not thread-safe; one statement at a time.
class DbConnection
{
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    // Connects with the options set by SetConnectOptions (the defaults unless set).
    bool Connect(const ConnectParams& params);
    bool Connect(const ConnectParams& params, const ConnectOptions& options);
    void SetConnectOptions(const ConnectOptions& options) { m_options = options; }
    const ConnectOptions& Options() const { return m_options; }
    bool IsOpen() const;
    void Close();
    // The character set the connection ended up in ("" without a connection).
    std::string CharacterSet() const;

    // The parameters of the last successful Connect (a second connection to the same server
    // uses them, see KillQuery); through a tunnel, its local end on 127.0.0.1 in place of the
    // server, so the second connection takes the same tunnel.
    // Safe to call from any thread.
    ConnectParams Params() const;
    // Why the last Connect stopped, where TLS or the tunnel stopped it (the fingerprint a
    // first connect saw, a changed certificate or host key, ...); after a successful Connect,
    // what broke the tunnel since or refused to open it again (None while it works).
    ReachReport Reach() const;
    // The TLS version of the open connection ("TLSv1.3"); empty when it is not encrypted.
    std::string TlsVersion() const;
    // True while the connection goes through an SSH tunnel.
    bool Tunnelled() const { return m_tunnel != nullptr; }
    // The server's id of the connection that runs, or last ran, a statement: after a lost
    // statement, still the id of the connection that lost it. 0 without a connection and
    // while a new one is being made; the new id is noted before the next statement goes out.
    // Safe to read from any thread.
    unsigned long ConnectionId() const { return m_connectionId.load(); }
    // How long the statement or connect in progress has waited for the server, in
    // milliseconds; 0 when nothing waits. Safe to read from any thread.
    std::int64_t WaitingMs() const;
    // The one call another thread may make: breaks the socket of the connection (or of the
    // connection being made), so a wait on a server that no longer answers ends at once, and
    // refuses every later statement until the next Connect (no reconnect). The statement that
    // ran may or may not have been carried out by the server.
    void Abort();
    bool Aborted() const { return m_aborted.load(); }

    bool Refuses(SqlForm form) const { return (m_refused & static_cast<unsigned>(form)) != 0; }
    void RememberRefused(SqlForm form) { m_refused |= static_cast<unsigned>(form); }

    // Sees the text of every statement before it is sent (tests use it to check the SQL the
    // tool sends); empty to stop.
    using StatementObserver = std::function<void(std::string_view sql)>;
    void SetStatementObserver(StatementObserver observer) { m_observer = std::move(observer); }

    // Runs a statement; any result stays pending until StoreResult.
    bool ExecSql(std::string_view sql);
    RowSet StoreResult();
    // The pending answer as a stream instead (see RowStream).
    RowStream UseResult();
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
    // True when the last statement was stopped by KILL QUERY (on a transactional table it
    // then had no effect).
    bool QueryInterrupted() const;

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
    void NoteConnectionId();
    // Opens the tunnel of `params` (when it has one) and points `route` at its local end.
    bool OpenTunnel(const ConnectParams& params, const ConnectOptions& options,
                    ConnectParams& route);
    // Checks the server's certificate when `params` asks for TLS, then opens a handle bound to
    // it; sets m_reach to why it failed.
    st_mysql* OpenChecked(const ConnectParams& params, const ConnectOptions& options,
                          const std::string& charset, unsigned& error);
    // Opens a handle that Abort can break while it connects; `plain` is set when TLS was asked
    // for and the connection came up without it.
    st_mysql* Open(const ConnectParams& params, const ConnectOptions& options,
                   const std::string& charset, unsigned& error, std::string& errorText,
                   bool& plain);
    // True when the handle can take no statement: the library closed it after a loss, or
    // the server ended it while it was idle.
    bool Ended() const;
    // Replaces an ended connection before a statement; false (with the reason) when the
    // server could not be reached.
    bool Reconnect();
    // The pending answer, stored whole or to be read as it arrives; nullptr without one (the
    // error, if any, is kept).
    st_mysql_res* TakeResult(bool stream);

    // Declared before the handle: the handle's last words (COM_QUIT) go through the tunnel.
    std::unique_ptr<SshTunnel> m_tunnel;
    ReachReport m_reach;
    // The SHA-1 fingerprint of the certificate the connect's check saw (hex), for reconnects.
    std::string m_tlsPeerSha1;
    std::unique_ptr<st_mysql, Deleter> m_handle;
    // The handle of a connect in progress, for Abort.
    st_mysql* m_opening = nullptr;
    // Held while m_handle or m_opening changes and while Abort uses them.
    mutable std::mutex m_handleMutex;
    std::atomic<bool> m_aborted{false};
    std::atomic<unsigned long> m_connectionId{0};
    std::atomic<std::int64_t> m_waitingSince{0};
    ConnectParams m_params;
    ConnectOptions m_options;
    // The options of the last successful Connect, with the character set it ended up in: a
    // reconnect makes the same connection again.
    ConnectOptions m_connectedOptions;
    // The last failure was a reconnect that did not work (its reason is m_connectError).
    bool m_reconnectFailed = false;
    StatementObserver m_observer;
    std::int64_t m_affected = 0;
    unsigned m_lastError = 0;
    std::string m_connectError;
    unsigned m_refused = 0;
};

// Stops the statement that connection `connectionId` runs ("KILL QUERY"), over a second,
// short-lived connection with the same parameters and short time-outs; the connection
// itself stays open. False when the second connection or the statement failed.
bool KillQuery(const ConnectParams& params, unsigned long connectionId);

// After a statement whose answer was lost: waits (reconnecting once the server is back)
// until the server has finished with the old connection `oldConnectionId` (db.ConnectionId()
// right after the lost statement), so whatever that statement did is settled and visible.
// A new connection that the server gave the same id proves the old one gone. False when it
// could not be seen to end within `maxSeconds` or `goOn` said stop.
bool WaitUntilConnectionEnded(DbConnection& db, unsigned long oldConnectionId, int maxSeconds,
                              const std::function<bool()>& goOn);

// "select F from T[ where C][ order by O]": the parts inserted unchanged, " where " only
// with a condition and " order by " only with an order.
std::string BuildSelect(std::string_view table, std::string_view fields,
                        std::string_view condition = {}, std::string_view order = {});

// Escapes for a single-quoted literal without a connection (valid for UTF-8 connections).
std::string EscapeSqlLiteral(std::string_view text);

} // namespace mrvn
