// One whole role-list refresh (statements, preparation, model update) at 10,000, 100,000 and
// 1,000,000 roles, against the per-role algorithm (2 + 2N statements) as the baseline, in one
// run, with the refresh split into its parts: the statements and cells (QueryRoleList), the
// difference the database thread hands over (RoleListKeeper::Change) and what the window's
// thread does with it (RoleListProxy::ApplyChange); beside them the same rows through today's
// window side (the whole list prepared again and a difference worked out on the window's
// thread, bench/legacy), so the growth from 100,000 to 1,000,000 roles is seen for both.
// Then the fallback: the batched per-role statements against the
// per-role ones behind a relay that adds 1 ms to every round trip (the per-role figure at
// 100,000 roles is projected from 1,000 and 5,000 roles: it would take minutes), and the
// resident memory after five refreshes of 100,000 roles.
//
// The server: MRVN_BENCH_DB_PORT names a running one on 127.0.0.1 (root / 739215);
// otherwise the benchmark starts its own with scripts/db-server.sh in a temporary folder
// and stops it at the end. MRVN_BENCH_BASELINE_100K=1 also times the baseline at 100,000
// roles (about a minute).
#include "BenchServer.h"
#include "DelayRelay.h"
#include "DemoData.h"
#include "LegacyRoleList.h"
#include "app/RoleListChange.h"
#include "app/RoleListProxy.h"
#include "app/TextTableModel.h"
#include "db/DbConnection.h"
#include "db/RoleList.h"
#include "text/TextUtil.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThreadPool>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

using namespace mrvn;
using Rows = RoleRows;

mrvn::ConnectParams g_server;
std::map<std::string, double> g_secondsPerRefresh;

std::string DatabaseFor(int roles)
{
    return "bench_roles_" + std::to_string(roles);
}

// The per-role algorithm (1 + 2N statements, db/RoleList.h) with the view filled as the old
// tool did, row by row as each role came: online roles inserted at the top, the others
// appended. The finished list is replayed in arrival order, which makes the same model
// operations. `model` may be null when only the cells are wanted.
Rows BaselineRoleList(DbConnection& db, TextTableModel* model)
{
    RoleListOptions options;
    options.method = RoleListMethod::PerRole;
    Rows list = QueryRoleList(db, options).value_or(Rows{});
    if (!model)
        return list;
    model->Clear();
    const auto onlineCount = static_cast<std::size_t>(std::count_if(
        list.begin(), list.end(), [](const RoleRow& row) { return row[0] != " - "; }));
    const auto set = [&](int at, const RoleRow& row) {
        for (int c = 0; c < static_cast<int>(row.size()); ++c)
            model->SetCell(at, c, std::string(row[static_cast<std::size_t>(c)]));
    };
    // Roles arrived in descending id: the online block reversed and the others, merged.
    const auto id = [&](std::size_t row) { return TextToInt64(list[row].back()); };
    std::size_t online = onlineCount; // next online row, counting down
    std::size_t other = onlineCount;
    while (online > 0 || other < list.size()) {
        if (online > 0 && (other == list.size() || id(online - 1) > id(other)))
            set(model->InsertRow(0), list[--online]);
        else
            set(model->AppendRow(), list[other++]);
    }
    return list;
}

QStringList Headers()
{
    QStringList headers;
    for (const char* header :
         {"在线", "名称", "等级", "铜钱", "元宝", "礼金", "经验", "职业", "灵气", "战力",
          "登陆次数", "登陆时长", "创建时间", "离线时间", "roleid", "account"})
        headers << QString::fromUtf8(header);
    return headers;
}

// Seconds of each part of the last refreshes, by label.
std::map<std::string, std::vector<double>> g_parts;

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// This thread's CPU time: on a machine busy with other work, wall time also counts the waits
// for a core; the server's own work is not in it.
double ThreadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Today's window side, fed the same rows: its own model and proxy.
struct Legacy
{
    legacy::TextTableModel model{Headers()};
    legacy::RoleListProxy proxy{model};
};

void Record(const std::string& label, std::chrono::steady_clock::time_point start, double cpu)
{
    g_parts[label].push_back(Since(start));
    g_parts[label + "/cpu"].push_back(ThreadCpu() - cpu);
}

// The refresh as the window runs it: query, the difference from the list shown, update of the
// shown list; then, untimed for the refresh, the same rows through today's window side.
void BoundedRefresh(DbConnection& db, RoleListKeeper& keeper, RoleListProxy& proxy,
                    Legacy* legacySide, const std::string& label)
{
    auto start = std::chrono::steady_clock::now();
    double cpu = ThreadCpu();
    RoleRows rows = QueryRoleList(db).value_or(RoleRows{});
    Record(label + "/query", start, cpu);
    RoleRows copy;
    if (legacySide)
        copy = rows;
    start = std::chrono::steady_clock::now();
    cpu = ThreadCpu();
    RoleListChange change = keeper.Change(std::move(rows), proxy.ShownVersion());
    Record(label + "/prepare", start, cpu);
    start = std::chrono::steady_clock::now();
    cpu = ThreadCpu();
    proxy.ApplyChange(std::move(change));
    Record(label + "/window", start, cpu);
    if (!legacySide)
        return;
    start = std::chrono::steady_clock::now();
    cpu = ThreadCpu();
    legacy::PreparedRoleRows prepared = legacy::PrepareRoleRows(std::move(copy));
    Record(label + "/today-prepare", start, cpu);
    start = std::chrono::steady_clock::now();
    cpu = ThreadCpu();
    legacySide->proxy.ApplyRows(std::move(prepared));
    Record(label + "/today-window", start, cpu);
}
void PerRoleRefresh(DbConnection& db, TextTableModel& model)
{
    BaselineRoleList(db, &model);
}

void Refresh(benchmark::State& state, bool bounded)
{
    const int roles = static_cast<int>(state.range(0));
    const char* label = bounded ? "bounded" : "per-role";
    ConnectParams params = g_server;
    params.database = DatabaseFor(roles);
    DbConnection db;
    if (!db.Connect(params)) {
        state.SkipWithError("cannot connect");
        return;
    }
    TextTableModel model(Headers());
    RoleListProxy proxy(model);
    RoleListKeeper keeper;
    Legacy legacySide;
    const std::string parts = std::string(label) + "/" + std::to_string(roles);
    const auto once = [&](const std::string& name) {
        if (bounded)
            BoundedRefresh(db, keeper, proxy, &legacySide, name);
        else
            PerRoleRefresh(db, model);
    };
    // One untimed refresh first, so neither side is measured with cold server caches and the
    // window has a list to take differences from.
    once(parts + "/first");
    double total = 0;
    std::int64_t refreshes = 0;
    int round = 0;
    for (auto _ : state) {
        // A minute's changes, untimed: 1% of the roles change a cell, 0.05% go on or off line
        // (and so change places).
        ++round;
        db.ExecSql("UPDATE user_role SET level = level + 1 WHERE id % 100 = " +
                   std::to_string(round));
        db.ExecSql("UPDATE user_role SET last_offline_time = IF(last_offline_time < "
                   "last_login_time, last_login_time + 1, 0) WHERE id % 2000 = " +
                   std::to_string(round));
        const auto start = std::chrono::steady_clock::now();
        once(parts);
        double seconds = Since(start);
        if (bounded) {
            // Today's window side ran in the same call: the refresh is the three parts.
            seconds = 0;
            for (const char* part : {"/query", "/prepare", "/window"})
                seconds += g_parts[parts + part].back();
        }
        total += seconds;
        ++refreshes;
    }
    if (model.RowCount() != roles || (bounded && legacySide.model.RowCount() != roles))
        state.SkipWithError("wrong row count");
    state.counters["roles"] = roles;
    g_secondsPerRefresh[std::string(label) + "/" + std::to_string(roles)] = total / refreshes;
}

void BM_RoleListBounded(benchmark::State& state)
{
    Refresh(state, true);
}
void BM_RoleListPerRole(benchmark::State& state)
{
    Refresh(state, false);
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Resident memory of this process in MiB, from /proc.
double ResidentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return -1;
}

// Seconds of one refresh by `method` behind a relay adding `delayMs` to every round trip.
double DelayedRefresh(int roles, RoleListMethod method, int delayMs)
{
    relay::DelayRelay relay(g_server.port, delayMs);
    if (!relay.Start())
        return -1;
    ConnectParams params = g_server;
    params.port = relay.Port();
    params.database = DatabaseFor(roles);
    DbConnection db;
    if (!db.Connect(params))
        return -1;
    RoleListOptions options;
    options.method = method;
    const auto start = std::chrono::steady_clock::now();
    const std::optional<RoleRows> rows = QueryRoleList(db, options);
    const double seconds = Since(start);
    return rows && static_cast<int>(rows->size()) == roles ? seconds : -1;
}

// Both algorithms must show the same cells.
bool SameCells(int roles)
{
    ConnectParams params = g_server;
    params.database = DatabaseFor(roles);
    DbConnection bounded, perRole;
    if (!bounded.Connect(params) || !perRole.Connect(params))
        return false;
    Rows a = QueryRoleList(bounded).value_or(Rows{});
    Rows b = BaselineRoleList(perRole, nullptr);
    if (a.size() != b.size())
        return false;
    for (std::size_t r = 0; r < a.size(); ++r) {
        if (a[r] != b[r]) {
            std::fprintf(stderr, "row %zu differs (role %s)\n", r, std::string(a[r][14]).c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* port = std::getenv("MRVN_BENCH_DB_PORT");
    const bench::BenchServer server({}, port ? static_cast<unsigned>(std::atoi(port)) : 0);
    if (!server.Running())
        return 1;
    g_server = server.Params();

    {
        // The tables of 1,000,000 roles in memory, as on a game server that has run a while
        // (the test server starts with 128 MiB): the refresh's growth is then the client's and
        // the statements', not the disk's.
        DbConnection db;
        if (db.Connect(g_server))
            db.ExecSql("SET GLOBAL innodb_buffer_pool_size = 2147483648");
    }
    // MRVN_BENCH_SKIP_MILLION=1 leaves out the 1,000,000 roles (filling them takes minutes).
    const bool million = !std::getenv("MRVN_BENCH_SKIP_MILLION");
    std::vector<int> sizes = {10000, 100000};
    if (million)
        sizes.push_back(1000000);
    // MRVN_BENCH_KEEP_DATA=1 reuses the databases of an earlier run on the same server.
    const bool fill = !std::getenv("MRVN_BENCH_KEEP_DATA");
    std::vector<int> filled = {1000, 5000, 10000, 100000};
    if (million)
        filled.push_back(1000000);
    for (const int roles : filled) {
        if (!fill)
            break;
        DbConnection db;
        const std::string name = DatabaseFor(roles);
        demo::DemoOptions options;
        options.roles = roles;
        options.logRowsPerTable = 100;
        if (!db.Connect(g_server) ||
            !db.ExecSql("CREATE DATABASE IF NOT EXISTS " + name + " CHARACTER SET utf8mb4") ||
            !db.ExecSql("USE " + name) || !demo::CreateGameSchema(db) ||
            !demo::FillDemoData(db, options)) {
            std::fprintf(stderr, "cannot fill %s: %s\n", name.c_str(), db.LastErrorText().c_str());
            return 1;
        }
    }
    const bool same = SameCells(10000);
    const double baseMiB = ResidentMiB();
    std::printf("bounded and per-role lists identical at 10000 roles: %s\n", same ? "yes" : "NO");

    auto* bounded = benchmark::RegisterBenchmark("RoleList/bounded", BM_RoleListBounded);
    for (const int roles : sizes)
        bounded->Arg(roles);
    bounded->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
    auto* baseline = benchmark::RegisterBenchmark("RoleList/per-role", BM_RoleListPerRole)
                         ->Arg(10000)
                         ->Unit(benchmark::kMillisecond)
                         ->UseRealTime()
                         ->Iterations(1);
    if (std::getenv("MRVN_BENCH_BASELINE_100K"))
        baseline->Arg(100000);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nmedians; machine busy with other builds, so wall times vary between runs\n");
    for (const int roles : sizes) {
        const std::string suffix = "/" + std::to_string(roles);
        const auto bounded = g_secondsPerRefresh.find("bounded" + suffix);
        const auto perRole = g_secondsPerRefresh.find("per-role" + suffix);
        if (bounded == g_secondsPerRefresh.end())
            continue;
        std::printf("%6d roles: refresh %.3f s (limit 0.300 at 100000)", roles, bounded->second);
        if (perRole != g_secondsPerRefresh.end())
            std::printf(", per-role %.3f s, ratio %.0fx", perRole->second,
                        perRole->second / bounded->second);
        std::printf("\n");
        const std::string parts = "bounded" + suffix;
        const auto part = [&](const char* name, const char* kind) {
            return Median(g_parts[parts + name + kind]) * 1e3;
        };
        for (const char* kind : {"", "/cpu"}) {
            std::printf("        %s: query %.1f ms, difference (database thread) %.1f ms, window "
                        "thread %.1f ms (limit 16), sum %.1f ms\n",
                        *kind ? "client CPU" : "wall", part("/query", kind), part("/prepare", kind),
                        part("/window", kind),
                        part("/query", kind) + part("/prepare", kind) + part("/window", kind));
            std::printf("        %s today: prepare (database thread) %.1f ms, window thread %.1f "
                        "ms, sum with the query %.1f ms\n",
                        *kind ? "client CPU" : "wall", part("/today-prepare", kind),
                        part("/today-window", kind),
                        part("/query", kind) + part("/today-prepare", kind) +
                            part("/today-window", kind));
        }
    }
    if (million) {
        // The growth from 100,000 to 1,000,000 roles, of the whole refresh (client CPU: the
        // server's share is not in it), now and with today's window side.
        const auto sum = [&](int roles, const char* prepare, const char* window, const char* kind) {
            const std::string parts = "bounded/" + std::to_string(roles);
            return Median(g_parts[parts + "/query" + kind]) +
                   Median(g_parts[parts + prepare + kind]) + Median(g_parts[parts + window + kind]);
        };
        for (const char* kind : {"", "/cpu"}) {
            const double now = sum(1000000, "/prepare", "/window", kind) /
                               sum(100000, "/prepare", "/window", kind);
            const double today = sum(1000000, "/today-prepare", "/today-window", kind) /
                                 sum(100000, "/today-prepare", "/today-window", kind);
            std::printf("refresh at 1,000,000 roles against 100,000 (%s): now %.1fx (limit 11x), "
                        "today %.1fx\n",
                        *kind ? "client CPU" : "wall", now, today);
        }
    }

    {
        // Where one refresh at 100,000 roles goes: from each statement's start to the next one
        // (the statement, its transfer and the client's work on its answer), then the rest.
        ConnectParams params = g_server;
        params.database = DatabaseFor(100000);
        DbConnection db;
        if (db.Connect(params)) {
            std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> marks;
            db.SetStatementObserver([&](std::string_view sql) {
                marks.emplace_back(std::string(sql.substr(0, 60)),
                                   std::chrono::steady_clock::now());
            });
            const double cpu = ThreadCpu();
            QueryRoleList(db);
            const double clientCpu = ThreadCpu() - cpu;
            marks.emplace_back("(end)", std::chrono::steady_clock::now());
            db.SetStatementObserver(nullptr);
            std::printf("\none refresh at 100000 roles, statement by statement (wall ms, until the "
                        "next statement; client CPU of the whole query %.0f ms):\n",
                        clientCpu * 1e3);
            for (std::size_t i = 0; i + 1 < marks.size(); ++i)
                std::printf(
                    "  %8.1f  %s\n",
                    std::chrono::duration<double>(marks[i + 1].second - marks[i].second).count() *
                        1e3,
                    marks[i].first.c_str());
        }
    }

    if (!std::getenv("MRVN_BENCH_SKIP_DELAYED")) {
        std::printf("\nbehind a relay adding 1 ms per round trip:\n");
        const double batched1k = DelayedRefresh(1000, RoleListMethod::Batched, 1);
        const double perRole1k = DelayedRefresh(1000, RoleListMethod::PerRole, 1);
        const double perRole5k = DelayedRefresh(5000, RoleListMethod::PerRole, 1);
        const double bounded100k = DelayedRefresh(100000, RoleListMethod::Bounded, 1);
        std::vector<double> batched;
        for (int i = 0; i < 3; ++i)
            batched.push_back(DelayedRefresh(100000, RoleListMethod::Batched, 1));
        // Per role, from the slope between 1,000 and 5,000 roles.
        const double perRole100k = perRole1k + (perRole5k - perRole1k) * (100000 - 1000) / 4000.0;
        std::printf("  1000 roles: per-role %.2f s, batched %.3f s\n", perRole1k, batched1k);
        std::printf("  5000 roles: per-role %.2f s\n", perRole5k);
        std::printf("  100000 roles: bounded %.2f s, batched %.2f s (median of 3), per-role "
                    "projected %.0f s, ratio %.0fx (limit >= 50x)\n",
                    bounded100k, Median(batched), perRole100k, perRole100k / Median(batched));
    }

    {
        // Five refreshes of 100,000 roles into one shown list, then what stays resident.
        ConnectParams params = g_server;
        params.database = DatabaseFor(100000);
        DbConnection db;
        TextTableModel model(Headers());
        RoleListProxy proxy(model);
        RoleListKeeper keeper;
        std::vector<double> after;
        if (db.Connect(params)) {
            for (int i = 0; i < 5; ++i) {
                BoundedRefresh(db, keeper, proxy, nullptr, "memory");
                // What the change took out is freed on a pool thread; the program gives the
                // memory back 3 s later, when the window is idle: here at once.
                QThreadPool::globalInstance()->waitForDone();
                ReleaseFreedMemory();
                after.push_back(ResidentMiB());
            }
        }
        std::printf("\nresident memory: %.0f MiB before the list; after refreshes 1..5 of 100000 "
                    "roles:",
                    baseMiB);
        for (const double mib : after)
            std::printf(" %.0f", mib);
        std::printf(" MiB (list's share after five: %.0f MiB)\n",
                    after.empty() ? -1.0 : after.back() - baseMiB);
    }
    return same ? 0 : 1;
}
