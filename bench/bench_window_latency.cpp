// The longest gap between two ticks of a 5-ms timer on the window's thread while the window
// does its database work, case by case, against the synchronous path measured in the same
// run: the same logic functions called on the window's thread, as the earlier releases did.
// Beside the wall time, the most CPU time the window's thread spent between two ticks: on a
// machine busy with other work the wall time also counts waits for a core. Goal: 16 ms (one
// frame) in every case. A small program that prints a table.
// A second table times the switch between two zones of 100,000 roles each: from the choice
// in the combo until the new zone's list is complete, beside one refresh of that zone in the
// same run (goal: the switch within the time of a refresh).
//
// With --ticks the program connects and then runs five refresh ticks and nothing else, and
// prints each tick's longest gap and the resident memory after it: the window as the program
// builds it, without the other cases' lists and catalogue in memory.
//
// The server: the benchmark starts its own with scripts/db-server.sh in a temporary folder
// (the SIGSTOP case needs its process) and stops it at the end.
#include "BenchServer.h"
#include "Catalogue.h"
#include "DemoData.h"
#include "EventWait.h"
#include "app/Application.h"
#include "app/CommonPage.h"
#include "app/Dialogs.h"
#include "app/MailPage.h"
#include "app/MainWindow.h"
#include "app/ReportView.h"
#include "cleanup/TableCleanup.h"
#include "db/DbConnection.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"
#include "items/ItemSearch.h"
#include "mail/MailDispatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

using namespace mrvn;

// Answers every question with Yes and every message with Ok; nothing is shown.
class YesDialogs final : public Dialogs
{
public:
    MessageAnswer Show(QWidget*, const MessageRequest& request) override
    {
        return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
    }
    std::optional<QString> Input(QWidget*, const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> Secret(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    bool OpenAddress(const QString&) override { return true; }
    std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&,
                                        const QString&) override
    {
        return std::nullopt;
    }
};

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// A 5-ms timer on the window's thread, the longest gap between two of its ticks and the most
// CPU time the thread spent between two ticks.
class Heartbeat
{
public:
    Heartbeat()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double cpu = ThreadCpuMs();
            m_longest = std::max(m_longest, now - m_last);
            m_mostCpu = std::max(m_mostCpu, cpu - m_lastCpu);
            m_last = now;
            m_lastCpu = cpu;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(5);
        m_clock.start();
    }
    void Reset()
    {
        // Let a tick through first, so the gap is measured from a tick.
        Pump(20);
        m_last = m_clock.nsecsElapsed();
        m_lastCpu = ThreadCpuMs();
        m_longest = 0;
        m_mostCpu = 0;
    }
    double LongestMs() const { return static_cast<double>(m_longest) / 1e6; }
    double MostCpuMs() const { return m_mostCpu; }

    static void Pump(int milliseconds)
    {
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < milliseconds)
            test::ProcessEventsOrWait(5);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    double m_lastCpu = 0;
    double m_mostCpu = 0;
};

Heartbeat* g_heartbeat = nullptr;

// The longest gap while `start` starts work on the window and until `done` holds.
double GapWhile(const std::function<void()>& start, const std::function<bool()>& done)
{
    g_heartbeat->Reset();
    start();
    while (!done())
        test::ProcessEventsOrWait(5);
    Heartbeat::Pump(20);
    return g_heartbeat->LongestMs();
}

// The longest gap while `work` runs on the window's thread.
double GapDuring(const std::function<void()>& work)
{
    g_heartbeat->Reset();
    work();
    Heartbeat::Pump(20);
    return g_heartbeat->LongestMs();
}

template <typename T> T* Child(QObject& root, const char* name)
{
    T* child = root.findChild<T*>(QString::fromUtf8(name));
    if (!child) {
        std::fprintf(stderr, "no control %s\n", name);
        std::exit(1);
    }
    return child;
}

struct Row
{
    std::string what;
    double window = -1;
    double windowCpu = -1;
    double synchronous = -1;
};

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

bool Exec(DbConnection& db, const std::string& sql)
{
    if (db.ExecSql(sql))
        return true;
    std::fprintf(stderr, "refused (%s): %s\n", db.LastErrorText().c_str(), sql.c_str());
    return false;
}

bool FillOldMails(DbConnection& db, int rows)
{
    return Exec(db, "TRUNCATE TABLE role_email") &&
           Exec(db, "INSERT INTO role_email (user_role_id, email_id, log_update_time) SELECT "
                    "100001 + seq % 1000, seq, CURDATE() - INTERVAL 10 DAY FROM seq_1_to_" +
                        std::to_string(rows));
}

} // namespace

int main(int argc, char** argv)
{
    const bool ticksOnly = argc > 1 && std::strcmp(argv[1], "--ticks") == 0;
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    Heartbeat heartbeat;
    g_heartbeat = &heartbeat;

    // The two zones (and the cleanup case's table) in one buffer pool, as zones on servers of
    // their own would each be: with the test server's 128 MiB every switch reads the other
    // zone's pages from disk again, and the switch measures that instead of the tool.
    const bench::BenchServer ownServer("MRVN_DB_BUFFER_POOL=1G");
    if (!ownServer.Running())
        return 1;
    const ConnectParams& server = ownServer.Params();
    const int serverPid = ownServer.Pid();

    constexpr int kRoles = 100000;
    constexpr int kReceivers = 1000;
    constexpr int kOldMails = 1000000;
    ConnectParams params = server;
    params.database = "bench_window";
    DbConnection db;
    demo::DemoOptions demoOptions;
    demoOptions.roles = kRoles;
    demoOptions.logRowsPerTable = 100;
    // The second zone: as many roles in a database of its own.
    ConnectParams params2 = server;
    params2.database = "bench_window2";
    demo::DemoOptions demoOptions2 = demoOptions;
    demoOptions2.seed = 2;
    if (!db.Connect(server) ||
        !Exec(db, "CREATE DATABASE IF NOT EXISTS bench_window2 CHARACTER SET utf8mb4") ||
        !Exec(db, "USE bench_window2") || !demo::CreateGameSchema(db) ||
        !demo::FillDemoData(db, demoOptions2) ||
        !Exec(db, "CREATE DATABASE IF NOT EXISTS bench_window CHARACTER SET utf8mb4") ||
        !Exec(db, "USE bench_window") || !demo::CreateGameSchema(db) ||
        !demo::FillDemoData(db, demoOptions)) {
        std::fprintf(stderr, "cannot fill the database: %s\n", db.LastErrorText().c_str());
        return 1;
    }

    QTemporaryDir folder;
    const std::filesystem::path dir = folder.path().toStdString();
    const std::size_t records = catalogue::RecordsForBytes(100u * 1000 * 1000);
    const std::filesystem::path cataloguePath = dir / "goods.jat.json";
    if (!ticksOnly && !catalogue::WriteCatalogue(cataloguePath, records))
        return 1;
    const std::string needle = catalogue::RecordId(records * 2 / 3);

    YesDialogs dialogs;
    AppEnvironment env(dialogs);
    env.configPath = dir / "config.dat";
    env.cataloguePath = cataloguePath;
    env.auditLogPath = dir / "mrvn-audit.log";
    env.windowStatePath = dir / "window.ini";
    env.versionAddress = QStringLiteral("http://127.0.0.1:9/version.html");
    {
        const auto zone = [&](const char* name, const ConnectParams& p) {
            return std::string("[zone.") + name + "]\r\nhost=" + p.host +
                   "\r\nport=" + std::to_string(p.port) + "\r\nuser=" + p.user +
                   "\r\npassword=file\r\npsw=" + p.password + "\r\ndb=" + p.database + "\r\n";
        };
        std::ofstream(dir / "zones.ini", std::ios::binary)
            << "[zones]\r\norder=一区|二区\r\ncurrent=一区\r\n"
            << zone("一区", params) << zone("二区", params2);
    }
    // A hung server is noticed after 5 s instead of 30, on both paths (the filling connection
    // `db` keeps the default time-outs).
    env.connectOptions.readTimeoutSeconds = 5;
    env.connectOptions.writeTimeoutSeconds = 5;
    std::unique_ptr<MainWindow> window = CreateMainWindow(env);
    window->OnMainWindowCreated();
    window->show();
    auto* common = Child<CommonPage>(*window, "常用功能");
    auto* mail = Child<MailPage>(*window, "发放邮件");
    const auto idle = [&] { return !window->DatabaseBusy(); };
    std::vector<Row> rows;

    // The floor: the same timer on a window that does nothing for a second (what the
    // machine's own load costs the timer).
    {
        Row row{"(0) idle window, 1 s"};
        QElapsedTimer second;
        row.window = GapWhile([&] { second.start(); }, [&] { return second.elapsed() >= 1000; });
        row.windowCpu = g_heartbeat->MostCpuMs();
        row.synchronous = row.window;
        rows.push_back(row);
    }

    // (a) connect and first refresh.
    {
        Row row{"(a) connect + first refresh, 100,000 roles"};
        Child<QLineEdit>(*window, "编辑框2")->setText(QString::fromStdString(params.host));
        Child<QLineEdit>(*window, "编辑框3")->setText(QString::number(params.port));
        Child<QLineEdit>(*window, "编辑框4")->setText(QString::fromStdString(params.user));
        Child<QLineEdit>(*window, "编辑框5")->setText(QString::fromStdString(params.password));
        Child<QLineEdit>(*window, "编辑框6")->setText(QString::fromStdString(params.database));
        row.window = GapWhile([&] { Child<QPushButton>(*window, "按钮1")->click(); }, idle);
        row.windowCpu = g_heartbeat->MostCpuMs();
        if (ticksOnly) {
            // A minute's changes before each tick: 1% of the roles change a cell, 0.05% go on
            // or off line (and so change places).
            std::printf(
                "\nrefresh ticks at %d roles: longest gap, most CPU between two ticks (ms), "
                "resident memory after the tick (MiB); after connecting %.0f MiB\n",
                kRoles, ResidentMiB());
            for (int tick = 1; tick <= 5; ++tick) {
                Exec(db, "UPDATE user_role SET level = level + 1 WHERE id % 100 = " +
                             std::to_string(tick));
                Exec(db, "UPDATE user_role SET last_offline_time = IF(last_offline_time < "
                         "last_login_time, last_login_time + 1, 0) WHERE id % 2000 = " +
                             std::to_string(tick));
                const double gap = GapWhile([&] { window->Refresh(); }, idle);
                const double cpu = g_heartbeat->MostCpuMs();
                // What the tick freed is freed on pool threads, and given back to the
                // system 3 s after the change (the program's ticks are a minute apart).
                Heartbeat::Pump(4000);
                std::printf("  tick %d: %6.1f ms  %6.1f ms  %5.0f MiB\n", tick, gap, cpu,
                            ResidentMiB());
            }
            window.reset();
            return 0;
        }
        row.synchronous = GapDuring([&] {
            DbConnection sync;
            sync.SetConnectOptions(env.connectOptions);
            sync.Connect(params);
            common->ShowOnlineStats(QueryOnlineStats(sync).value_or(OnlineStatsRow{}));
            common->ShowRoles(QueryRoleList(sync).value_or(RoleRows{}));
            ListTables(sync);
        });
        rows.push_back(row);
    }
    DbConnection sync;
    sync.SetConnectOptions(env.connectOptions);
    sync.Connect(params);

    // (b) a refresh tick.
    {
        Row row{"(b) refresh tick, 100,000 roles"};
        // The synchronous path showed its own list: one refresh first, so the tick is one of
        // the minute's refreshes, after a minute's changes.
        GapWhile([&] { window->Refresh(); }, idle);
        Exec(db, "UPDATE user_role SET level = level + 1 WHERE id % 100 = 0");
        Exec(db, "UPDATE user_role SET last_offline_time = IF(last_offline_time < "
                 "last_login_time, last_login_time + 1, 0) WHERE id % 2000 = 0");
        row.window = GapWhile([&] { window->Refresh(); }, idle);
        row.windowCpu = g_heartbeat->MostCpuMs();
        row.synchronous = GapDuring([&] {
            common->ShowOnlineStats(QueryOnlineStats(sync).value_or(OnlineStatsRow{}));
            common->ShowRoles(QueryRoleList(sync).value_or(RoleRows{}));
        });
        rows.push_back(row);
    }

    // (c) a refresh on a stopped server.
    {
        Row row{"(c) refresh tick, SIGSTOPped server (read time-out 5 s)"};
        kill(serverPid, SIGSTOP);
        row.window = GapWhile([&] { window->Refresh(); }, idle);
        row.windowCpu = g_heartbeat->MostCpuMs();
        row.synchronous = GapDuring(
            [&] { common->ShowOnlineStats(QueryOnlineStats(sync).value_or(OnlineStatsRow{})); });
        kill(serverPid, SIGCONT);
        // Both connections find their way back.
        GapWhile([&] { window->Refresh(); }, idle);
        QueryOnlineStats(sync);
        rows.push_back(row);
    }

    // (d) a mail to 1,000 roles.
    {
        Row row{"(d) mail to 1,000 roles"};
        QStringList ids;
        for (int i = 0; i < kReceivers; ++i)
            ids << QString::number(demo::kFirstRoleId + i);
        Child<QLineEdit>(*window, "编辑框10")->setText(ids.join(QLatin1Char(',')));
        row.window = GapWhile([&] { Child<QPushButton>(*window, "按钮5")->click(); }, idle);
        row.windowCpu = g_heartbeat->MostCpuMs();
        MailFields fields;
        fields.roleId = ids.join(QLatin1Char(',')).toStdString();
        fields.title = "系统邮件";
        fields.content = "内容";
        fields.copper = "0";
        fields.yuanbao = "0";
        row.synchronous = GapDuring([&] {
            SendMailToRoles(sync, fields, {}, std::time(nullptr), [](std::size_t, std::size_t) {
                QCoreApplication::processEvents();
                return true;
            });
        });
        rows.push_back(row);
    }

    // (e) a cleanup of 1,000,000 old mails.
    {
        Row row{"(e) cleanup of 1,000,000 old role_email rows"};
        if (FillOldMails(db, kOldMails)) {
            auto* tables = Child<ReportView>(*window, "超级列表框1");
            for (int r = 0; r < tables->RowCount(); ++r) {
                if (tables->Cell(r, 1) == QStringLiteral("role_email"))
                    tables->SetSelection(r);
            }
            Child<QCheckBox>(*window, "选择框3")->setChecked(true);
            Child<QLineEdit>(*window, "编辑框1")->setText(QStringLiteral("3"));
            row.window = GapWhile([&] { Child<QPushButton>(*window, "按钮2")->click(); }, idle);
            row.windowCpu = g_heartbeat->MostCpuMs();
        }
        if (FillOldMails(db, kOldMails)) {
            row.synchronous = GapDuring([&] {
                // One statement per table, as the earlier releases ran it.
                db.ExecSql(OlderRowsStatement("role_email", "3")->DeleteSql());
            });
        }
        rows.push_back(row);
    }

    // (f) an item search over 100 MB.
    {
        Row row{"(f) item search, 100 MB catalogue"};
        Child<QLineEdit>(*window, "编辑框19")->setText(QString::fromStdString(needle));
        bool found = false;
        QObject::connect(mail, &MailPage::SearchFinished, [&] { found = true; });
        row.window = GapWhile([&] { mail->SearchItemLibrary(); }, [&] { return found; });
        row.windowCpu = g_heartbeat->MostCpuMs();
        row.synchronous = GapDuring([&] {
            const ItemSearchResult result = SearchItemLibrary(cataloguePath, needle);
            Child<QPlainTextEdit>(*window, "编辑框20")
                ->setPlainText(QString::fromStdString(result.text));
        });
        rows.push_back(row);
    }

    // (g) and (h): switches between the two zones, each beside a refresh of the zone switched
    // to, timed until its list is complete. Both are repeated and the medians compared, since
    // the machine may be busy with other work meanwhile.
    constexpr int kRounds = 5;
    struct SwitchRow
    {
        std::string what;
        std::vector<double> gaps, switchMs, refreshGaps, refreshMs;
    };
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? -1.0 : values[values.size() / 2];
    };
    const auto longest = [](const std::vector<double>& values) {
        return values.empty() ? -1.0 : *std::max_element(values.begin(), values.end());
    };
    SwitchRow idleSwitch{"(g) switch between the zones, connected, idle", {}, {}, {}, {}};
    SwitchRow busySwitch{"(h) switch during a refresh of the zone left", {}, {}, {}, {}};
    auto* combo = Child<QComboBox>(*window, "区服选择框");
    auto* roles = Child<ReportView>(*window, "超级列表框4");
    // The switch empties the list at once; it is complete again when the new zone's rows are
    // in (the table list of the cleanup page may still be on its way then).
    const auto complete = [&] { return roles->RowCount() == kRoles; };
    const auto timeSwitch = [&](SwitchRow& row, bool duringRefresh) {
        QElapsedTimer clock;
        row.gaps.push_back(GapWhile(
            [&] {
                if (duringRefresh)
                    window->Refresh();
                clock.start();
                combo->setCurrentIndex(1 - combo->currentIndex());
            },
            complete));
        row.switchMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        while (!idle())
            test::ProcessEventsOrWait(5);
        // A refresh of the zone now connected, as the 60-s timer runs it.
        QElapsedTimer refresh;
        row.refreshGaps.push_back(GapWhile(
            [&] {
                refresh.start();
                window->Refresh();
            },
            idle));
        row.refreshMs.push_back(static_cast<double>(refresh.nsecsElapsed()) / 1e6);
    };
    for (int round = 0; round < kRounds; ++round) {
        timeSwitch(idleSwitch, false);
        timeSwitch(busySwitch, true);
    }
    for (const SwitchRow* s : {&idleSwitch, &busySwitch})
        rows.push_back({s->what + " (longest of 5)", longest(s->gaps), -1});

    window.reset();
    std::printf("\nLongest gap between two ticks of a 5-ms timer on the window's thread (ms), "
                "and the most CPU time the thread spent between two ticks\n");
    std::printf("%-58s %10s %10s %14s %8s\n", "case", "window", "its CPU", "synchronous",
                "<= 16 ms");
    for (const Row& row : rows) {
        std::printf("%-58s %10.1f %10.1f %14.1f %8s\n", row.what.c_str(), row.window, row.windowCpu,
                    row.synchronous, row.window >= 0 && row.window <= 16 ? "yes" : "NO");
    }
    std::printf("(c) behind a relay that stops forwarding: not measured here; the statement waits "
                "the same read time-out on the database thread.\n");
    std::printf("(g), (h): the synchronous path had no zones; the same work is (a)'s.\n");

    std::printf("\nZone switch until the new zone's list is complete, beside one refresh of that "
                "zone (median of %d, ms; 100,000 roles each)\n",
                kRounds);
    std::printf("%-50s %8s %8s %7s %6s %12s %12s\n", "case", "switch", "refresh", "ratio", "<= 1x",
                "switch gap", "refresh gap");
    for (const SwitchRow* s : {&idleSwitch, &busySwitch}) {
        const double ratio = median(s->switchMs) / median(s->refreshMs);
        std::printf("%-50s %8.0f %8.0f %7.2f %6s %12.1f %12.1f\n", s->what.c_str(),
                    median(s->switchMs), median(s->refreshMs), ratio, ratio <= 1.0 ? "yes" : "NO",
                    median(s->gaps), median(s->refreshGaps));
    }
    std::printf("(gaps: the longest pause of the window during each, median of the rounds)\n");

    return 0;
}
