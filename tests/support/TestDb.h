#pragma once

#include "db/DbConnection.h"

#include <string>

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

} // namespace mrvn::test
