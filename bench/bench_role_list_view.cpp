// Sorting and filtering the role list at 100,000 synthetic roles, in the view the window uses
// (offscreen), against a baseline measured in the same run: a proxy that compares through
// QCollator::compare and parses numbers in every comparison, and filters by converting each
// cell on every keystroke with Qt's per-range row removal. No database is needed.
//
// Every timed step starts after a fresh fill of the rows, as after the minute's refresh. The
// baseline's fill is a reset, so its keys are built inside the measurement; ours is
// ApplyRows(PrepareRoleRows(...)), whose preparation runs on the database thread in the
// program, so the collation places are ready when the step starts and the preparation is
// timed as a step of its own ("prepare"). "apply-*" time the window thread's part of a
// refresh in which 1% of the roles changed a cell and 0.05% went on or off line.
#include "app/ReportView.h"
#include "app/RoleListProxy.h"
#include "app/TextTableModel.h"
#include "db/RoleList.h"

#include <QApplication>
#include <QCollator>
#include <QSortFilterProxyModel>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace mrvn;

constexpr int kRoles = 100000;
constexpr int kName = ColumnIndex(RoleColumn::Name);
constexpr int kPower = ColumnIndex(RoleColumn::BattlePower);
constexpr int kRoleId = ColumnIndex(RoleColumn::RoleId);

// Seconds of every timed step, by label; the summary gives the median and the fastest, since
// the machine may be busy with other work while the benchmark runs.
std::map<std::string, std::vector<double>> g_seconds;

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
        row.Set(ColumnIndex(RoleColumn::Level), std::to_string(1 + random() % 120));
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
        row.Set(kRoleId, std::to_string(online ? 1000000 + i : 1000000 + kRoles - i));
        rows.push_back(std::move(row));
    }
    return rows;
}

// The first thing one would write: compare through the collator and parse in lessThan, and
// let Qt filter with its own row-range removals.
class NaiveRoleProxy : public QSortFilterProxyModel
{
public:
    NaiveRoleProxy(TextTableModel& source, QObject* parent)
        : QSortFilterProxyModel(parent), m_collator(QLocale(QLocale::Chinese, QLocale::China))
    {
        m_collator.setNumericMode(true);
        setSourceModel(&source);
        setDynamicSortFilter(true);
    }
    void SetFilterText(const QString& text)
    {
        m_filter = text;
        invalidateFilter();
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        const QString a = left.data().toString();
        const QString b = right.data().toString();
        if (RoleListProxy::KindOf(left.column()) == RoleListProxy::SortKind::Text)
            return m_collator.compare(a, b) < 0;
        const rolelist::ParsedNumber x = rolelist::ParseNumber(a.toStdString());
        const rolelist::ParsedNumber y = rolelist::ParseNumber(b.toStdString());
        if (x.present != y.present)
            return !x.present;
        return x.whole != y.whole ? x.whole < y.whole : x.fraction < y.fraction;
    }
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_filter.isEmpty())
            return true;
        const QAbstractItemModel* source = sourceModel();
        return source->index(row, kName, parent)
                   .data()
                   .toString()
                   .contains(m_filter, Qt::CaseInsensitive) ||
               source->index(row, kRoleId, parent)
                   .data()
                   .toString()
                   .contains(m_filter, Qt::CaseInsensitive);
    }

private:
    QCollator m_collator;
    QString m_filter;
};

std::vector<ReportColumn> Columns()
{
    std::vector<ReportColumn> columns;
    for (int i = 0; i < kRoleListColumns; ++i)
        columns.push_back({QString::number(i), i == kRoleId ? 0 : 60});
    return columns;
}

// One shown list (view, model, proxy) per side, filled once per timed step.
struct Side
{
    explicit Side(bool naive) : view(QStringLiteral("list"), Columns())
    {
        if (naive) {
            naiveProxy = new NaiveRoleProxy(view.Model(), &view);
            view.SetProxy(naiveProxy);
        } else {
            proxy = new RoleListProxy(view.Model(), &view);
            view.SetProxy(proxy);
        }
        view.resize(464, 208);
        view.show();
    }
    void SetFilterText(const QString& text)
    {
        if (proxy)
            proxy->SetFilterText(text);
        else
            naiveProxy->SetFilterText(text);
    }
    ReportView view;
    RoleListProxy* proxy = nullptr;
    NaiveRoleProxy* naiveProxy = nullptr;
};

const RoleRows& Rows()
{
    static const RoleRows rows = SyntheticRoles();
    return rows;
}

// The rows of the next minute: 1% with a new level, 0.05% moved between the online block and
// the others (and so to another place).
const RoleRows& ChangedRows()
{
    static const RoleRows rows = [] {
        RoleRows changed = Rows();
        for (std::size_t i = 0; i < changed.size(); i += 100)
            changed[i].Set(ColumnIndex(RoleColumn::Level),
                           std::string(changed[i][ColumnIndex(RoleColumn::Level)]) + "0");
        for (std::size_t i = 7; i < changed.size(); i += 2000) {
            RoleRow row = std::move(changed[i]);
            changed.erase(changed.begin() + static_cast<std::ptrdiff_t>(i));
            row.Set(ColumnIndex(RoleColumn::Online), "在线");
            changed.insert(changed.begin(), std::move(row));
        }
        return changed;
    }();
    return rows;
}

enum class Step {
    SortByName,
    SortByNumber,
    Filter,
    RefreshSorted,
    Prepare,
    ApplyChanged,
    ApplyChangedSorted
};

void Fill(Side& side, const RoleRows& rows)
{
    if (side.proxy) {
        side.view.Model().Clear();
        side.proxy->ApplyRows(PrepareRoleRows(rows));
    } else {
        side.view.Model().ResetRows(rows);
    }
}

void Run(benchmark::State& state, bool naive, Step step, const char* label)
{
    Side side(naive);
    for (auto _ : state) {
        side.view.sortByColumn(-1, Qt::AscendingOrder);
        side.SetFilterText(QString());
        if (step == Step::RefreshSorted || step == Step::ApplyChangedSorted)
            side.view.sortByColumn(kName, Qt::AscendingOrder);
        Fill(side, Rows());
        QCoreApplication::processEvents();
        std::optional<PreparedRoleRows> next;
        if (!naive && (step == Step::ApplyChanged || step == Step::ApplyChangedSorted))
            next = PrepareRoleRows(ChangedRows());
        if (!naive && step == Step::RefreshSorted)
            next = PrepareRoleRows(Rows());
        // The rows as the query hands them over (moved, not copied, in the program).
        RoleRows copy;
        if (step == Step::Prepare)
            copy = Rows();

        const auto start = std::chrono::steady_clock::now();
        switch (step) {
        case Step::SortByName:
            side.view.sortByColumn(kName, Qt::AscendingOrder);
            break;
        case Step::SortByNumber:
            side.view.sortByColumn(kPower, Qt::DescendingOrder);
            break;
        case Step::Filter:
            // Two typed characters: a sixteenth of the rows, scattered, then a few hundred.
            side.SetFilterText(QStringLiteral("张"));
            QCoreApplication::processEvents();
            side.SetFilterText(QStringLiteral("张三"));
            break;
        case Step::RefreshSorted:
            // A whole new list (from empty), its preparation done before.
            side.view.Model().Clear();
            if (next)
                side.proxy->ApplyRows(std::move(*next));
            else
                side.view.Model().ResetRows(Rows());
            break;
        case Step::Prepare:
            benchmark::DoNotOptimize(PrepareRoleRows(std::move(copy)).rows.data());
            break;
        case Step::ApplyChanged:
        case Step::ApplyChangedSorted:
            // The baseline: the reset of old.
            if (next)
                side.proxy->ApplyRows(std::move(*next));
            else
                side.view.Model().ResetRows(ChangedRows());
            break;
        }
        QCoreApplication::processEvents();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        g_seconds[std::string(label) + (naive ? "/baseline" : "/keys")].push_back(seconds);
    }
    state.counters["rows shown"] = side.view.RowCount();
}

void Register(const char* label, Step step, int iterations, int baselineIterations)
{
    benchmark::RegisterBenchmark((std::string("RoleListView/") + label + "/keys").c_str(),
                                 [=](benchmark::State& state) { Run(state, false, step, label); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(iterations);
    benchmark::RegisterBenchmark((std::string("RoleListView/") + label + "/baseline").c_str(),
                                 [=](benchmark::State& state) { Run(state, true, step, label); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(baselineIterations);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Rows();

    Register("sort-by-name", Step::SortByName, 5, 1);
    Register("sort-by-number", Step::SortByNumber, 5, 2);
    Register("filter", Step::Filter, 5, 2);
    Register("refresh-sorted-by-name", Step::RefreshSorted, 5, 1);
    Register("prepare", Step::Prepare, 5, 1);
    Register("apply-changed", Step::ApplyChanged, 5, 2);
    Register("apply-changed-sorted", Step::ApplyChangedSorted, 5, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto median = [](std::vector<double> samples) {
        std::sort(samples.begin(), samples.end());
        return samples[samples.size() / 2];
    };
    const auto fastest = [](const std::vector<double>& samples) {
        return *std::min_element(samples.begin(), samples.end());
    };
    std::printf("\n%d roles, ms per step: keys median (fastest) / baseline median (fastest), "
                "ratio of medians\n",
                kRoles);
    std::printf("limits: sort <= 150 ms, window thread's part of a refresh (apply-*) <= 50 ms; "
                "prepare runs off the window's thread; the machine was busy\n");
    for (const char* label : {"sort-by-name", "sort-by-number", "filter", "refresh-sorted-by-name",
                              "prepare", "apply-changed", "apply-changed-sorted"}) {
        const auto keys = g_seconds.find(std::string(label) + "/keys");
        const auto baseline = g_seconds.find(std::string(label) + "/baseline");
        if (keys == g_seconds.end() || baseline == g_seconds.end())
            continue;
        std::printf("  %-24s %7.1f (%7.1f) / %7.1f (%7.1f)  %5.1fx\n", label,
                    median(keys->second) * 1000, fastest(keys->second) * 1000,
                    median(baseline->second) * 1000, fastest(baseline->second) * 1000,
                    median(baseline->second) / median(keys->second));
    }
    return 0;
}
