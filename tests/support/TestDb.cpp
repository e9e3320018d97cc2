#include "TestDb.h"

#include "DemoData.h"
#include "db/SqlPortability.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#ifndef _WIN32
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mrvn::test {

ConnectParams TestServer()
{
    ConnectParams params;
    params.host = "127.0.0.1";
    params.user = "root";
    params.password = "739215";
    const char* dir = std::getenv("MRVN_TEST_DB_DIR");
    if (!dir || !*dir) {
        ADD_FAILURE() << "MRVN_TEST_DB_DIR is not set: run the database tests through ctest, "
                         "which starts the test server";
        return params;
    }
    std::ifstream file(std::string(dir) + "/port");
    unsigned port = 0;
    if (!(file >> port) || port == 0) {
        ADD_FAILURE() << "no test server: " << dir << "/port is missing (scripts/db-server.sh "
                      << "start " << dir << ")";
        return params;
    }
    params.port = port;
    return params;
}

namespace {

// The process id alone is not enough: wine gives every run the same small id, and a run
// that hung leaves its databases behind for the next try.
std::string UniqueName()
{
    static const std::string run = [] {
        std::random_device random;
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
        return std::to_string(QCoreApplication::applicationPid()) + "_" + hex;
    }();
    static std::atomic<int> counter{0};
    return "t_" + run + "_" + std::to_string(++counter);
}

} // namespace

ScratchDatabase::ScratchDatabase(bool withGameSchema) : m_name(UniqueName())
{
    const ConnectParams server = TestServer();
    if (server.port == 0)
        return;
    if (!m_db.Connect(server)) {
        ADD_FAILURE() << "cannot connect to the test server on port " << server.port << " (error "
                      << m_db.LastError() << ")";
        return;
    }
    const std::string quoted = DbConnection::QuoteIdentifier(m_name);
    if (!m_db.ExecSql("CREATE DATABASE " + quoted + " DEFAULT CHARACTER SET utf8mb4") ||
        !m_db.ExecSql("USE " + quoted)) {
        ADD_FAILURE() << "cannot create database " << m_name << ": " << m_db.LastErrorText();
        return;
    }
    if (withGameSchema && !demo::CreateGameSchema(m_db))
        ADD_FAILURE() << "cannot create the game tables: " << m_db.LastErrorText();
}

ScratchDatabase::~ScratchDatabase()
{
    if (m_db.IsOpen())
        m_db.ExecSql("DROP DATABASE IF EXISTS " + DbConnection::QuoteIdentifier(m_name));
}

ConnectParams ScratchDatabase::Params() const
{
    ConnectParams params = TestServer();
    params.database = m_name;
    return params;
}

void ScratchDatabase::Exec(const std::string& sql)
{
    if (!m_db.ExecSql(sql))
        ADD_FAILURE() << "statement refused (" << m_db.LastError() << " " << m_db.LastErrorText()
                      << "): " << sql;
}

std::string ScratchDatabase::Scalar(const std::string& sql)
{
    std::string value;
    if (!m_db.ExecSql(sql)) {
        ADD_FAILURE() << "query refused (" << m_db.LastErrorText() << "): " << sql;
        return value;
    }
    RowSet rows = m_db.StoreResult();
    rows.ReadField(0, value);
    return value;
}

StatementRecorder::StatementRecorder(DbConnection& db) : m_db(db)
{
    m_db.SetStatementObserver([this](std::string_view sql) { m_statements.emplace_back(sql); });
}

StatementRecorder::~StatementRecorder()
{
    m_db.SetStatementObserver(nullptr);
}

void ExpectPortableSql(const std::vector<std::string>& statements)
{
    for (const std::string& sql : statements) {
        const std::vector<std::string> outside = FunctionsOutsideAllowedList(sql);
        if (outside.empty())
            continue;
        std::string names;
        for (const std::string& name : outside)
            names += (names.empty() ? "" : ", ") + name;
        ADD_FAILURE() << "not every supported server has " << names << ": " << sql;
    }
}

#ifdef _WIN32

// The server is a POSIX process: a Windows program cannot stop it. Tests that pause it skip
// on Windows ("needs POSIX signals"); one that does not is told so here.
PausedServer::PausedServer(int)
{
    ADD_FAILURE() << "needs POSIX signals: skip this test on Windows";
}

bool WaitUntilStopped(int)
{
    return false;
}

PausedServer::~PausedServer() = default;

void PausedServer::Resume() {}

#else

PausedServer::PausedServer(int maxSeconds)
{
    const char* dir = std::getenv("MRVN_TEST_DB_DIR");
    if (!dir || !*dir) {
        ADD_FAILURE() << "MRVN_TEST_DB_DIR is not set: run the database tests through ctest";
        return;
    }
    std::ifstream file(std::string(dir) + "/server.pid");
    int pid = 0;
    if (!(file >> pid) || pid <= 0) {
        ADD_FAILURE() << "no server pid in " << dir << "/server.pid";
        return;
    }
    const pid_t watchdog = fork();
    if (watchdog < 0) {
        ADD_FAILURE() << "cannot start the watchdog of a paused server";
        return;
    }
    if (watchdog == 0) {
        // Only async-signal-safe calls here: the parent may have threads.
        sleep(static_cast<unsigned>(maxSeconds));
        kill(static_cast<pid_t>(pid), SIGCONT);
        _exit(0);
    }
    m_watchdog = static_cast<int>(watchdog);
    if (kill(static_cast<pid_t>(pid), SIGSTOP) != 0) {
        ADD_FAILURE() << "cannot stop the test server (pid " << pid << ")";
        Resume();
        return;
    }
    m_pid = pid;
    if (!WaitUntilStopped(static_cast<int>(pid)))
        ADD_FAILURE() << "the test server (pid " << pid << ") did not stop";
}

bool WaitUntilStopped(int pid)
{
    // A stop signal takes effect asynchronously: wait until the process really is stopped,
    // so that no statement sent after this gets an answer.
    for (int i = 0; i < 200; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'T')
            return true;
        usleep(10000);
    }
    return false;
}

PausedServer::~PausedServer()
{
    Resume();
}

void PausedServer::Resume()
{
    if (m_pid > 0)
        kill(static_cast<pid_t>(m_pid), SIGCONT);
    m_pid = 0;
    if (m_watchdog > 0) {
        kill(static_cast<pid_t>(m_watchdog), SIGKILL);
        waitpid(static_cast<pid_t>(m_watchdog), nullptr, 0);
    }
    m_watchdog = 0;
}

#endif

} // namespace mrvn::test
