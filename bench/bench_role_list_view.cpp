// The role list's window side at 100,000 synthetic roles in the view the window uses
// (offscreen): the refresh the database thread hands over as a difference (RoleListKeeper,
// RoleListProxy::ApplyChange) against today's, measured in the same run: the whole list
// prepared again (PrepareRoleRows), a difference worked out on the window's thread
// (TextTableModel::UpdateRows) and a QSortFilterProxyModel that sorts everything again
// (bench/legacy). No database is needed.
//
// Every timed step starts after a fresh fill of the rows. "apply-*" time the window thread's
// part of a refresh in which 1% of the roles changed their level and 0.05% went on line (and
// so moved to the top), with the view's layout and paint; "prepare" times the part that runs
// on the database thread. Wall time and the thread's CPU time are both printed: on a busy
// machine the wall time also counts waits for a core.
#include "LegacyRoleList.h"
#include "app/ReportView.h"
#include "app/RoleListChange.h"
#include "app/RoleListProxy.h"
#include "app/TextTableModel.h"
#include "db/RoleList.h"

#include <QApplication>
#include <QTreeView>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace mrvn;

// MRVN_BENCH_ROLES sets another number of roles (1000000 to see how the steps grow).
const int kRoles = qEnvironmentVariableIsSet("MRVN_BENCH_ROLES")
                       ? qEnvironmentVariableIntValue("MRVN_BENCH_ROLES")
                       : 100000;
constexpr int kName = ColumnIndex(RoleColumn::Name);
constexpr int kLevel = ColumnIndex(RoleColumn::Level);
constexpr int kPower = ColumnIndex(RoleColumn::BattlePower);
constexpr int kRoleId = ColumnIndex(RoleColumn::RoleId);

// Wall and CPU seconds of every timed step, by label; the summary gives the median, since the
// machine may be busy with other work while the benchmark runs.
std::map<std::string, std::vector<double>> g_seconds;

double ThreadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

RoleRows SyntheticRoles()
{
    static const char* const surnames[] = {"张", "李", "王", "赵", "刘", "陈", "杨", "黄",
                                           "周", "吴", "徐", "孙", "马", "朱", "胡", "郭"};
    static const char* const given[] = {"三", "四", "飞", "云", "龙", "雪", "风", "月",
                                        "天", "明", "华", "强", "丽", "静", "伟", "芳"};
    static const char* const latin[] = {"Sky", "walker", "Neo", "ace", "Zed", "Luna"};
    static const char* const jobs[] = {"灵猴", "九尾", "牛魔", "罗刹"};
    std::mt19937 random(20140629);
    RoleRows rows;
    rows.reserve(kRoles);
    for (int i = 0; i < kRoles; ++i) {
        RoleRow row(kRoleListColumns);
        const bool online = i < kRoles / 20;
        row.Set(ColumnIndex(RoleColumn::Online), online ? "在线" : " - ");
        std::string name = random() % 10 == 0 ? std::string(latin[random() % 6])
                                              : std::string(surnames[random() % 16]) +
                                                    given[random() % 16] + given[random() % 16];
        row.Set(kName, name + std::to_string(random() % 100));
        row.Set(kLevel, std::to_string(1 + random() % 120));
        row.Set(ColumnIndex(RoleColumn::Copper), std::to_string(random() % 1000000000));
        row.Set(ColumnIndex(RoleColumn::Yuanbao), std::to_string(random() % 100000));
        row.Set(ColumnIndex(RoleColumn::BoundYuanbao), std::to_string(random() % 100000));
        row.Set(ColumnIndex(RoleColumn::Experience), std::to_string(random()));
        row.Set(ColumnIndex(RoleColumn::Job), jobs[random() % 4]);
        row.Set(ColumnIndex(RoleColumn::Spirit), std::to_string(random() % 100000));
        row.Set(kPower, random() % 50 == 0 ? std::string() : std::to_string(random() % 2000000));
        row.Set(ColumnIndex(RoleColumn::Logins), std::to_string(random() % 5000));
        row.Set(ColumnIndex(RoleColumn::OnlineTime), std::to_string(random() % 50000) + "分");
        char date[32];
        const auto pick = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
        std::snprintf(date, sizeof date, "2014-%02u-%02u %02u:%02u:%02u", 1 + pick(12),
                      1 + pick(28), pick(24), pick(60), pick(60));
        row.Set(ColumnIndex(RoleColumn::Created), date);
        row.Set(ColumnIndex(RoleColumn::LastOffline), date);
        // Unique ids: online roles ascending, the others descending, as the query gives them.
        row.Set(kRoleId, std::to_string(online ? 10000000 + i : 30000000 - i));
        rows.push_back(std::move(row));
    }
    return rows;
}

const RoleRows& Rows()
{
    static const RoleRows rows = SyntheticRoles();
    return rows;
}

// The rows of the next minute: 1% with a new level, 0.05% moved between the online block and
// the others (and so to another place: to the top, which a vector pays for by moving every row,
// hence the list is built anew).
const RoleRows& ChangedRows()
{
    static const RoleRows rows = [] {
        RoleRows rows = Rows();
        for (std::size_t i = 0; i < rows.size(); i += 100)
            rows[i].Set(kLevel, std::string(rows[i][kLevel]) + "0");
        RoleRows moved, others;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i % 2000 == 7) {
                rows[i].Set(ColumnIndex(RoleColumn::Online), "在线");
                moved.push_back(std::move(rows[i]));
            } else {
                others.push_back(std::move(rows[i]));
            }
        }
        std::reverse(moved.begin(), moved.end());
        std::move(others.begin(), others.end(), std::back_inserter(moved));
        return moved;
    }();
    return rows;
}

std::vector<ReportColumn> Columns()
{
    std::vector<ReportColumn> columns;
    for (int i = 0; i < kRoleListColumns; ++i)
        columns.push_back({QString::number(i), i == kRoleId ? 0 : 60});
    return columns;
}

QStringList Headers()
{
    QStringList headers;
    for (int i = 0; i < kRoleListColumns; ++i)
        headers << QString::number(i);
    return headers;
}

// One shown list: the window's (ReportView, RoleListProxy, a keeper standing for the database
// thread) or today's (the legacy model and proxy in a tree view set up as ReportView does).
class Side
{
public:
    explicit Side(bool today) : m_today(today)
    {
        if (today) {
            m_legacyModel = std::make_unique<legacy::TextTableModel>(Headers());
            m_tree = std::make_unique<QTreeView>();
            m_legacyProxy = new legacy::RoleListProxy(*m_legacyModel, m_tree.get());
            m_tree->setModel(m_legacyProxy);
            m_tree->setRootIsDecorated(false);
            m_tree->setUniformRowHeights(true);
            m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
            m_tree->setSortingEnabled(true);
            m_tree->sortByColumn(-1, Qt::AscendingOrder);
            m_tree->setColumnHidden(kRoleId, true);
        } else {
            m_view = std::make_unique<ReportView>(QStringLiteral("list"), Columns());
            m_proxy = new RoleListProxy(m_view->Model(), m_view.get());
            m_view->SetProxy(m_proxy);
        }
        View().resize(464, 208);
        View().show();
    }
    QTreeView& View() { return m_tree ? *m_tree : *m_view; }
    void Sort(int column, Qt::SortOrder order) { View().sortByColumn(column, order); }
    void SetFilterText(const QString& text)
    {
        if (m_today)
            m_legacyProxy->SetFilterText(text);
        else
            m_proxy->SetFilterText(text);
    }
    // A fresh fill, as after a connect: what the next refresh is a change from.
    void Fill(const RoleRows& rows)
    {
        if (m_today) {
            m_legacyModel->Clear();
            m_legacyProxy->ApplyRows(legacy::PrepareRoleRows(rows));
            return;
        }
        m_keeper = std::make_unique<RoleListKeeper>();
        m_proxy->Clear();
        m_proxy->ApplyChange(m_keeper->Change(rows, m_proxy->ShownVersion()));
    }
    // The database thread's part of the next refresh.
    void Prepare(RoleRows rows)
    {
        if (m_today)
            m_legacyNext = legacy::PrepareRoleRows(std::move(rows));
        else
            m_next = m_keeper->Change(std::move(rows), m_proxy->ShownVersion());
    }
    // The window thread's part.
    void Apply()
    {
        if (m_today)
            m_legacyProxy->ApplyRows(std::move(*m_legacyNext));
        else
            m_proxy->ApplyChange(std::move(*m_next));
    }
    int RowsShown() { return View().model()->rowCount(); }

private:
    bool m_today;
    std::unique_ptr<ReportView> m_view;
    RoleListProxy* m_proxy = nullptr;
    std::unique_ptr<RoleListKeeper> m_keeper;
    std::optional<RoleListChange> m_next;
    std::unique_ptr<legacy::TextTableModel> m_legacyModel;
    std::unique_ptr<QTreeView> m_tree;
    legacy::RoleListProxy* m_legacyProxy = nullptr;
    std::optional<legacy::PreparedRoleRows> m_legacyNext;
};

enum class Step {
    SortByName,
    SortByNumber,
    Filter,
    Prepare,
    ApplyChanged,
    ApplyChangedSortedByName,
    ApplyChangedSortedByLevel,
    ApplyChangedFiltered,
};

void Settle()
{
    // The view lays its rows out and paints on the next passes of the event loop.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void Run(benchmark::State& state, bool today, Step step, const std::string& label)
{
    Side side(today);
    for (auto _ : state) {
        side.Sort(-1, Qt::AscendingOrder);
        side.SetFilterText(QString());
        if (step == Step::ApplyChangedSortedByName)
            side.Sort(kName, Qt::AscendingOrder);
        if (step == Step::ApplyChangedSortedByLevel)
            side.Sort(kLevel, Qt::DescendingOrder);
        if (step == Step::ApplyChangedFiltered)
            side.SetFilterText(QStringLiteral("张"));
        side.Fill(Rows());
        Settle();
        const bool apply = step != Step::SortByName && step != Step::SortByNumber &&
                           step != Step::Filter && step != Step::Prepare;
        if (apply)
            side.Prepare(ChangedRows());
        // The rows as the query hands them over (moved, not copied, in the program).
        RoleRows copy;
        if (step == Step::Prepare)
            copy = ChangedRows();

        const auto start = std::chrono::steady_clock::now();
        const double cpu = ThreadCpu();
        switch (step) {
        case Step::SortByName:
            side.Sort(kName, Qt::AscendingOrder);
            break;
        case Step::SortByNumber:
            side.Sort(kPower, Qt::DescendingOrder);
            break;
        case Step::Filter:
            // Two typed characters: a sixteenth of the rows, scattered, then a few hundred.
            side.SetFilterText(QStringLiteral("张"));
            QCoreApplication::processEvents();
            side.SetFilterText(QStringLiteral("张三"));
            break;
        case Step::Prepare:
            side.Prepare(std::move(copy));
            break;
        default:
            side.Apply();
            break;
        }
        Settle();
        const double cpuSeconds = ThreadCpu() - cpu;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        const std::string key = label + (today ? "/today" : "/now");
        g_seconds[key].push_back(seconds);
        g_seconds[key + "/cpu"].push_back(cpuSeconds);
    }
    state.counters["rows shown"] = side.RowsShown();
}

const std::pair<const char*, Step> kSteps[] = {
    {"sort-by-name", Step::SortByName},
    {"sort-by-number", Step::SortByNumber},
    {"filter", Step::Filter},
    {"prepare (database thread)", Step::Prepare},
    {"apply-changed", Step::ApplyChanged},
    {"apply-changed-sorted-name", Step::ApplyChangedSortedByName},
    {"apply-changed-sorted-level", Step::ApplyChangedSortedByLevel},
    {"apply-changed-filtered", Step::ApplyChangedFiltered},
};

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Rows();
    ChangedRows();

    for (const auto& [label, step] : kSteps) {
        for (const bool today : {false, true}) {
            const std::string name = std::string(label);
            benchmark::RegisterBenchmark(
                ("RoleListView/" + name + (today ? "/today" : "/now")).c_str(),
                [=](benchmark::State& state) { Run(state, today, step, name); })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(5);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%d roles, ms per step (medians of 5): now against today, wall and the window "
                "thread's CPU\n",
                kRoles);
    std::printf("limit: the window thread's part of a refresh (apply-*) <= 16 ms on a quiet "
                "machine\n");
    std::printf("  %-28s %9s %9s %9s %9s %7s %7s\n", "step", "now", "today", "now cpu", "today cpu",
                "wall x", "cpu x");
    for (const auto& [label, step] : kSteps) {
        const std::string now = std::string(label) + "/now";
        const std::string today = std::string(label) + "/today";
        if (!g_seconds.count(now) || !g_seconds.count(today))
            continue;
        const double a = Median(g_seconds[now]) * 1e3, b = Median(g_seconds[today]) * 1e3;
        const double ac = Median(g_seconds[now + "/cpu"]) * 1e3;
        const double bc = Median(g_seconds[today + "/cpu"]) * 1e3;
        std::printf("  %-28s %9.1f %9.1f %9.1f %9.1f %6.1fx %6.1fx\n", label, a, b, ac, bc, b / a,
                    bc / ac);
    }
    return 0;
}
