// One whole role-list refresh (statements, conversion, model fill) at 10,000 and 100,000
// roles, against the per-role algorithm (2 + 2N statements) as the baseline, in one run.
//
// The server: MRVN_BENCH_DB_PORT names a running one on 127.0.0.1 (root / 739215);
// otherwise the benchmark starts its own with scripts/db-server.sh in a temporary folder
// and stops it at the end. MRVN_BENCH_BASELINE_100K=1 also times the baseline at 100,000
// roles (about a minute).
#include "DemoData.h"
#include "app/TextTableModel.h"
#include "db/DbConnection.h"
#include "db/RoleList.h"
#include "text/TextUtil.h"

#include <QCoreApplication>
#include <QStringList>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

using namespace mrvn;
using Rows = std::vector<std::vector<std::string>>;

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
    const auto onlineCount = static_cast<std::size_t>(
        std::count_if(list.begin(), list.end(),
                      [](const std::vector<std::string>& row) { return row[0] != " - "; }));
    const auto set = [&](int at, const std::vector<std::string>& row) {
        for (int c = 0; c < static_cast<int>(row.size()); ++c)
            model->SetCell(at, c, row[static_cast<std::size_t>(c)]);
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

void BoundedRefresh(DbConnection& db, TextTableModel& model)
{
    model.ResetRows(QueryRoleList(db).value_or(RoleRows{}));
}
void PerRoleRefresh(DbConnection& db, TextTableModel& model)
{
    BaselineRoleList(db, &model);
}

template <void (*RefreshOnce)(DbConnection&, TextTableModel&)>
void Refresh(benchmark::State& state, const char* label)
{
    const int roles = static_cast<int>(state.range(0));
    ConnectParams params = g_server;
    params.database = DatabaseFor(roles);
    DbConnection db;
    if (!db.Connect(params)) {
        state.SkipWithError("cannot connect");
        return;
    }
    TextTableModel model(Headers());
    // One untimed refresh first, so neither side is measured with cold server caches.
    RefreshOnce(db, model);
    double total = 0;
    std::int64_t refreshes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        RefreshOnce(db, model);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++refreshes;
    }
    if (model.RowCount() != roles)
        state.SkipWithError("wrong row count");
    state.counters["roles"] = roles;
    g_secondsPerRefresh[std::string(label) + "/" + std::to_string(roles)] = total / refreshes;
}

void BM_RoleListBounded(benchmark::State& state)
{
    Refresh<BoundedRefresh>(state, "bounded");
}
void BM_RoleListPerRole(benchmark::State& state)
{
    Refresh<PerRoleRefresh>(state, "per-role");
}

std::filesystem::path Script()
{
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "scripts" / "db-server.sh";
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
            std::fprintf(stderr, "row %zu differs (role %s)\n", r, a[r][14].c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_server.host = "127.0.0.1";
    g_server.user = "root";
    g_server.password = "739215";
    std::filesystem::path ownServer;
    if (const char* port = std::getenv("MRVN_BENCH_DB_PORT")) {
        g_server.port = static_cast<unsigned>(std::atoi(port));
    } else {
        ownServer =
            std::filesystem::temp_directory_path() / ("mrvn-bench-db-" + std::to_string(getpid()));
        const std::string command =
            "'" + Script().string() + "' start '" + ownServer.string() + "' >/dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cannot start a server with %s\n", Script().c_str());
            return 1;
        }
        std::ifstream(ownServer / "port") >> g_server.port;
    }

    const int sizes[] = {10000, 100000};
    for (const int roles : sizes) {
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
    std::printf("bounded and per-role lists identical at 10000 roles: %s\n", same ? "yes" : "NO");

    benchmark::RegisterBenchmark("RoleList/bounded", BM_RoleListBounded)
        ->Arg(10000)
        ->Arg(100000)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
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

    for (const int roles : sizes) {
        const std::string suffix = "/" + std::to_string(roles);
        const auto bounded = g_secondsPerRefresh.find("bounded" + suffix);
        const auto perRole = g_secondsPerRefresh.find("per-role" + suffix);
        if (bounded == g_secondsPerRefresh.end())
            continue;
        std::printf("%6d roles: bounded %.3f s per refresh", roles, bounded->second);
        if (perRole != g_secondsPerRefresh.end())
            std::printf(", per-role %.3f s, ratio %.0fx", perRole->second,
                        perRole->second / bounded->second);
        std::printf("\n");
    }
    if (!ownServer.empty()) {
        const std::string command =
            "'" + Script().string() + "' stop '" + ownServer.string() + "' >/dev/null";
        std::system(command.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(ownServer, ignored);
    }
    return same ? 0 : 1;
}
