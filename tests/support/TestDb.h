#pragma once

#include "db/DbConnection.h"

#include <string>
#include <vector>

namespace mrvn::test {

// Connection parameters of the throwaway server that the test run started
// (scripts/db-server.sh writes them into $MRVN_TEST_DB_DIR). When the server is missing
// the calling test fails: database tests never skip.
ConnectParams TestServer();

// A database of its own for one test, created on construction (with the game's tables
// when `withGameSchema`) and dropped on destruction.
class ScratchDatabase
{
public:
    explicit ScratchDatabase(bool withGameSchema = true);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const std::string& Name() const { return m_name; }
    // TestServer() with this database selected.
    ConnectParams Params() const;
    // An open connection to it, made on construction.
    DbConnection& Db() { return m_db; }
    // Runs a statement and fails the test when the server refuses it.
    void Exec(const std::string& sql);
    // The first column of the first row of a query as text ("" when no row).
    std::string Scalar(const std::string& sql);

private:
    std::string m_name;
    DbConnection m_db;
};

// Records the text of every statement a connection sends while it lives.
class StatementRecorder
{
public:
    explicit StatementRecorder(DbConnection& db);
    ~StatementRecorder();
    StatementRecorder(const StatementRecorder&) = delete;
    StatementRecorder& operator=(const StatementRecorder&) = delete;

    const std::vector<std::string>& Statements() const { return m_statements; }

private:
    DbConnection& m_db;
    std::vector<std::string> m_statements;
};

// Fails the calling test for each statement that calls a function outside the list every
// supported server documents (db/SqlPortability.h), naming the statement and the functions.
void ExpectPortableSql(const std::vector<std::string>& statements);

// Waits (up to 2 s) until the process has really stopped after a SIGSTOP.
bool WaitUntilStopped(int pid);

// Stops the test server's process (SIGSTOP) so that it accepts connections and statements but
// never answers, as a hung server does; the destructor always lets it go on (SIGCONT), also
// when the test fails. A watchdog process lets it go on after `maxSeconds` in any case, so a
// test that hangs or is killed cannot leave the shared server stopped. Keep pauses short:
// every test program shares the server.
class PausedServer
{
public:
    explicit PausedServer(int maxSeconds = 15);
    ~PausedServer();
    PausedServer(const PausedServer&) = delete;
    PausedServer& operator=(const PausedServer&) = delete;

    // False when the server's process could not be found or stopped (the test has failed).
    bool Paused() const { return m_pid > 0; }
    // Lets the server go on before the guard ends.
    void Resume();

private:
    int m_pid = 0;
    int m_watchdog = 0;
};

} // namespace mrvn::test
