// The purge of old role_email rows beside a live game: 2,000,000 rows, 1,500,000 of them ten
// days old (the lower ids, as a game's auto-increment gives them), deleted with the cleanup's
// older-rows condition while four connections play a game at 400 statements a second
// (a new mail, a mail marked read, a role's mails counted). Three ways in the same run, each on
// a freshly filled table: the chunks by ranges of the key (what the tool does now), today's
// chunks ("delete ... LIMIT 5000" until a short chunk), and one single DELETE. Printed for each:
// the purge's time and the game's statements during it (median, p99 and the worst), beside the
// game alone. A small program that prints a table.
//
// The server: MRVN_BENCH_DB_PORT names a running one on 127.0.0.1 (root / 739215); otherwise
// the benchmark starts its own with scripts/db-server.sh in a temporary folder and stops it at
// the end. MRVN_BENCH_PURGE_ROWS sets the table's size (default 2,000,000; three quarters old).
#include "BenchServer.h"
#include "DemoData.h"
#include "cleanup/TableCleanup.h"
#include "db/DbConnection.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace mrvn;
using Clock = std::chrono::steady_clock;

ConnectParams g_server;

bool Exec(DbConnection& db, const std::string& sql)
{
    if (db.ExecSql(sql))
        return true;
    std::fprintf(stderr, "refused (%s): %s\n", db.LastErrorText().c_str(), sql.c_str());
    return false;
}

bool Fill(DbConnection& db, std::int64_t rows, std::int64_t old)
{
    return Exec(db, "TRUNCATE TABLE role_email") &&
           Exec(db, "INSERT INTO role_email (user_role_id, email_id, state, receive_time, "
                    "log_update_time) SELECT 100001 + seq % 100000, seq, 0, 0, IF(seq <= " +
                        std::to_string(old) +
                        ", CURDATE() - INTERVAL 10 DAY, NOW()) FROM seq_1_to_" +
                        std::to_string(rows)) &&
           Exec(db, "ANALYZE TABLE role_email") && db.StoreResult().Valid();
}

// Four connections, each 100 statements a second on a fixed schedule, noting how long each
// statement took.
class GameLoad
{
public:
    GameLoad(std::int64_t newestId) : m_newestId(newestId) {}

    void Start()
    {
        m_stop = false;
        for (int t = 0; t < kThreads; ++t)
            m_threads.emplace_back([this, t] { Play(t); });
    }
    std::vector<double> Stop()
    {
        m_stop = true;
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
        std::vector<double> taken;
        std::swap(taken, m_milliseconds);
        return taken;
    }
    int Errors() const { return m_errors.load(); }

private:
    static constexpr int kThreads = 4;
    static constexpr int kPerSecond = 100;

    void Play(int thread)
    {
        ConnectParams params = g_server;
        DbConnection db;
        if (!db.Connect(params)) {
            ++m_errors;
            return;
        }
        std::mt19937 random(static_cast<unsigned>(thread) + 1);
        auto next = Clock::now();
        std::vector<double> mine;
        for (int i = 0; !m_stop; ++i) {
            next += std::chrono::microseconds(1000000 / kPerSecond);
            std::this_thread::sleep_until(next);
            const long long role = 100001 + static_cast<long long>(random() % 100000);
            std::string sql;
            switch (i % 3) {
            case 0:
                sql = "INSERT INTO role_email (user_role_id, email_id, state, receive_time, "
                      "log_update_time) VALUES (" +
                      std::to_string(role) + ", 1, 0, 0, NOW())";
                break;
            case 1:
                sql = "UPDATE role_email SET state = 1 WHERE id = " +
                      std::to_string(m_newestId - static_cast<std::int64_t>(random() % 400000));
                break;
            default:
                sql =
                    "SELECT COUNT(*) FROM role_email WHERE user_role_id = " + std::to_string(role);
                break;
            }
            const auto start = Clock::now();
            const bool ok = db.ExecSql(sql);
            if (ok && i % 3 == 2)
                db.StoreResult();
            mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!ok)
                ++m_errors;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_milliseconds.insert(m_milliseconds.end(), mine.begin(), mine.end());
    }

    std::int64_t m_newestId;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_errors{0};
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::vector<double> m_milliseconds;
};

// The server's count of row lock waits and the time spent in them (ms), summed over every
// connection: a purge that locks what the game writes shows here whatever the machine's load.
std::pair<std::int64_t, std::int64_t> RowLockWaits(DbConnection& db)
{
    std::int64_t waits = -1, time = -1;
    RowSet rows =
        db.SelectRows("information_schema.GLOBAL_STATUS", "VARIABLE_NAME,VARIABLE_VALUE",
                      "VARIABLE_NAME IN ('INNODB_ROW_LOCK_WAITS','INNODB_ROW_LOCK_TIME')");
    rows.FirstRow();
    for (std::int64_t i = 0; i < rows.RowCount(); ++i, rows.NextRow()) {
        std::string name;
        std::int64_t value = 0;
        rows.ReadField(0, name);
        rows.ReadField(1, value);
        (name == "INNODB_ROW_LOCK_WAITS" ? waits : time) = value;
    }
    return {waits, time};
}

struct Figures
{
    std::string what;
    std::int64_t lockWaits = 0, lockMs = 0;
    double seconds = 0;
    std::int64_t counted = 0;
    std::int64_t deleted = 0;
    int statements = 0;
    double median = 0, p99 = 0, worst = 0;
    int errors = 0;
};

void Describe(Figures& figures, std::vector<double> taken)
{
    std::sort(taken.begin(), taken.end());
    figures.statements = static_cast<int>(taken.size());
    if (taken.empty())
        return;
    figures.median = taken[taken.size() / 2];
    figures.p99 = taken[std::min(taken.size() - 1, taken.size() * 99 / 100)];
    figures.worst = taken.back();
}

} // namespace

int main()
{
    const char* port = std::getenv("MRVN_BENCH_DB_PORT");
    const bench::BenchServer server({}, port ? static_cast<unsigned>(std::atoi(port)) : 0);
    if (!server.Running())
        return 1;
    g_server = server.Params();
    const std::int64_t rows = std::getenv("MRVN_BENCH_PURGE_ROWS")
                                  ? std::atoll(std::getenv("MRVN_BENCH_PURGE_ROWS"))
                                  : 2000000;
    const std::int64_t old = rows * 3 / 4;

    // Filling the table and one DELETE of all its old rows take longer than the tool's read
    // time-out.
    ConnectOptions patient;
    patient.readTimeoutSeconds = 900;
    patient.writeTimeoutSeconds = 900;
    DbConnection db;
    if (!db.Connect(g_server, patient) ||
        !Exec(db, "CREATE DATABASE IF NOT EXISTS bench_purge CHARACTER SET utf8mb4") ||
        !Exec(db, "USE bench_purge") || !demo::CreateGameSchema(db))
        return 1;
    // The table and its index in memory, as on a game server that has run a while.
    db.ExecSql("SET GLOBAL innodb_buffer_pool_size = 1073741824");
    g_server.database = "bench_purge";

    struct Way
    {
        const char* what;
        std::function<ChunkedDelete(DbConnection&, CleanupStatement&)> purge;
    };
    const Way ways[] = {
        {"chunks by key ranges (now)",
         [](DbConnection& connection, CleanupStatement& statement) {
             return DeleteInChunks(connection, statement, {});
         }},
        {"chunks with LIMIT (today)",
         [](DbConnection& connection, CleanupStatement& statement) {
             statement.key.clear();
             return DeleteInChunks(connection, statement, {});
         }},
        {"one DELETE",
         [](DbConnection& connection, CleanupStatement& statement) {
             ChunkedDelete outcome;
             const CleanupOutcome one = RunCleanupStatement(connection, statement);
             outcome.deleted = one.affected;
             outcome.chunks = 1;
             outcome.end = one.Ok() ? ChunkedDelete::End::Done : ChunkedDelete::End::Failed;
             return outcome;
         }},
    };
    std::vector<Figures> table;
    for (const Way& way : ways) {
        if (!Fill(db, rows, old))
            return 1;
        const std::int64_t newest = rows;
        GameLoad load(newest);
        // The game alone first, then with the purge.
        Figures alone;
        alone.what = std::string("  game alone, before: ") + way.what;
        load.Start();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        Describe(alone, load.Stop());
        table.push_back(alone);

        Figures figures;
        figures.what = way.what;
        load.Start();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        CleanupStatement statement = *OlderRowsStatement("role_email", "3");
        const auto locksBefore = RowLockWaits(db);
        const auto start = Clock::now();
        // What the tool does before it asks: the plan and the count.
        PlanChunks(db, statement);
        figures.counted = CountCleanupRows(db, statement).value_or(-1);
        const ChunkedDelete outcome = way.purge(db, statement);
        figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.deleted = outcome.deleted;
        const auto locksAfter = RowLockWaits(db);
        figures.lockWaits = locksAfter.first - locksBefore.first;
        figures.lockMs = locksAfter.second - locksBefore.second;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Describe(figures, load.Stop());
        figures.errors = load.Errors();
        table.push_back(figures);
    }

    std::printf("\n%lld rows of role_email, %lld of them old; a game of 400 statements a second "
                "beside the purge\n",
                static_cast<long long>(rows), static_cast<long long>(old));
    std::printf("%-44s %9s %9s %9s %7s %9s %9s %9s %11s\n", "way", "purge s", "counted", "deleted",
                "stmts", "p50 ms", "p99 ms", "worst ms", "lock waits");
    for (const Figures& f : table) {
        if (f.seconds > 0)
            std::printf("%-44s %9.1f %9lld %9lld %7d %9.1f %9.1f %9.1f %5lld/%4lldms%s\n",
                        f.what.c_str(), f.seconds, static_cast<long long>(f.counted),
                        static_cast<long long>(f.deleted), f.statements, f.median, f.p99, f.worst,
                        static_cast<long long>(f.lockWaits), static_cast<long long>(f.lockMs),
                        f.errors ? "  (game statements failed)" : "");
        else
            std::printf("%-44s %9s %9s %9s %7d %9.1f %9.1f %9.1f\n", f.what.c_str(), "", "", "",
                        f.statements, f.median, f.p99, f.worst);
    }
    std::printf("goal: the game's worst statement during the purge <= 100 ms, the purge no slower "
                "than today's chunks, deleted = counted\n");

    return 0;
}
