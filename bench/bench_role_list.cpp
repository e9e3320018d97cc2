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
#include "text/DateTime.h"
#include "text/TextUtil.h"

#include <QCoreApplication>
#include <QStringList>
#include <benchmark/benchmark.h>

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

// The per-role algorithm: every role asks for its account and its currency row, and each row
// goes into the view as it comes (online roles inserted at the top). `model` may be null
// when only the cells are wanted.
Rows BaselineRoleList(DbConnection& db, TextTableModel* model)
{
    Rows list;
    if (model)
        model->Clear();
    db.ExecSql("set names utf8;");
    RowSet roles = db.SelectRows("user_role", "*", "", "id DESC");
    const std::int64_t count = roles.RowCount();
    roles.FirstRow();
    for (std::int64_t i = 0; i < count; ++i) {
        std::string id, key, job, exp, level, spirit, created, power, logins, minutes;
        std::vector<unsigned char> name;
        std::int64_t login = 0, offline = 0;
        roles.ReadField(0, id);
        roles.ReadField(1, key);
        roles.ReadField(2, name);
        roles.ReadField(3, job);
        roles.ReadField(5, exp);
        roles.ReadField(6, level);
        roles.ReadField(8, spirit);
        roles.ReadField(10, created);
        roles.ReadField(11, login);
        roles.ReadField(12, offline);
        roles.ReadField(20, power);
        roles.ReadField(21, logins);
        roles.ReadField(22, minutes);

        std::string yuanbao, copper, bound;
        RowSet account =
            db.SelectRows("user_account", "lingshi", "user_guid='" + key + "'", "id DESC");
        account.FirstRow();
        account.ReadField(0, yuanbao);
        FreeRowSet(account);
        RowSet currency = db.SelectRows("role_account", "tongqian,bind_lingshi",
                                        "user_role_id='" + id + "'", "id DESC");
        currency.FirstRow();
        currency.ReadField(0, copper);
        currency.ReadField(1, bound);
        FreeRowSet(currency);

        const bool online = offline < login;
        std::vector<std::string> row = {
            online ? "在线" : " - ",
            Utf8ToGbk(std::string_view(reinterpret_cast<const char*>(name.data()), name.size())),
            level,
            copper,
            yuanbao,
            bound,
            exp,
            JobName(job),
            spirit,
            power,
            logins,
            minutes + "分",
            created,
            FormatDateTime(MsToLocalTime(offline, false)),
            id};
        if (model) {
            const int at = online ? model->InsertRow(0) : model->AppendRow();
            for (int c = 0; c < static_cast<int>(row.size()); ++c)
                model->SetCell(at, c, row[static_cast<std::size_t>(c)]);
        }
        if (online)
            list.insert(list.begin(), std::move(row));
        else
            list.push_back(std::move(row));
        roles.NextRow();
    }
    FreeRowSet(roles);
    return list;
}

QStringList Headers()
{
    QStringList headers;
    for (const char* header :
         {"在线", "名称", "等级", "铜钱", "元宝", "礼金", "经验", "职业", "灵气", "战力",
          "登陆次数", "登陆时长", "创建时间", "离线时间", "roleid"})
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

// Both algorithms must show the same cells; the names are left out of the comparison
// because the baseline's "set names utf8" turns characters beyond the BMP into "?".
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
        a[r][1].clear();
        b[r][1].clear();
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
