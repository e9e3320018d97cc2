// A mail to many roles, as the window sends it, against one row per statement (the earlier
// releases' algorithm: a new id, then one INSERT, for every receiver) measured in the same
// run. Printed as a table:
// (1) 100,000 receivers on the loopback through the window, from the question's 是 to the
//     outcome message: wall time (goal <= 10 s), the process's and the server's CPU time, and
//     the window's longest pause (a 5-ms timer on its thread; goal < 50 ms);
// (2) the same logic behind the 1-ms delaying relay (tools/delayrelay), batched against one
//     row per statement for the same receivers (goal >= 20x);
// (3) the one-row baseline on the loopback for a part of the receivers, projected to all.
// The machine's load average is printed beside the figures: wall times grow with it, ratios
// and CPU times much less.
//
// The server: the benchmark starts its own with scripts/db-server.sh in a temporary folder
// and stops it at the end.
#include "BenchServer.h"
#include "DelayRelay.h"
#include "DemoData.h"
#include "EventWait.h"
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/MailPage.h"
#include "app/MainWindow.h"
#include "db/DbConnection.h"
#include "mail/MailDispatch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace mrvn;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// utime + stime of another process, from /proc.
double ProcessCpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double LoadAverage()
{
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// Answers every question Yes and remembers when the mail question was answered and when the
// outcome was said.
class TimedDialogs final : public Dialogs
{
public:
    MessageAnswer Show(QWidget*, const MessageRequest& request) override
    {
        if (request.buttons == MessageButtons::Ok) {
            outcome = request.text;
            done = true;
            end = clock.nsecsElapsed();
            return MessageAnswer::Ok;
        }
        start = clock.nsecsElapsed();
        return MessageAnswer::Yes;
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
    QElapsedTimer clock;
    qint64 start = 0;
    qint64 end = 0;
    bool done = false;
    QString outcome;
};

// The longest gap between two ticks of a 5-ms timer on the window's thread.
class Heartbeat
{
public:
    Heartbeat()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_measuring)
                m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(5);
        m_clock.start();
    }
    void Start()
    {
        m_measuring = true;
        m_longest = 0;
        m_last = m_clock.nsecsElapsed();
    }
    double LongestMs() const { return static_cast<double>(m_longest) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    bool m_measuring = false;
};

bool Exec(DbConnection& db, const std::string& sql)
{
    if (db.ExecSql(sql))
        return true;
    std::fprintf(stderr, "refused (%s): %s\n", db.LastErrorText().c_str(), sql.c_str());
    return false;
}

std::vector<std::string> RoleIds(int count)
{
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back(std::to_string(demo::kFirstRoleId + i));
    return ids;
}

CheckedMail MailTo(const std::vector<std::string>& ids)
{
    const MailFields fields{"", "系统邮件", "批量邮件测试", "100", "10"};
    const std::vector<std::string> codes = {
        R"({\"bind\":0,\"expireTime\":0,\"expired\":false,\"goodsCount\":5,\"goodsId\":\"10086\",\"itemLevel\":1,\"notice\":false,\"rareLevel\":0,\"slotNum\":0})"};
    return *CheckMailFields(fields, codes, ReceiverSource::Later).mail->To(ids).mail;
}

struct Timed
{
    double wall = 0;
    double cpu = 0;
    std::size_t sent = 0;
};

Timed TimeSend(DbConnection& db, const CheckedMail& mail, std::size_t maxRows)
{
    SendManyOptions options;
    options.maxRows = maxRows;
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    const SendManyResult outcome = SendMailToRoles(db, mail, std::time(nullptr), {}, {}, options);
    Timed timed;
    timed.wall = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    timed.cpu = CpuSeconds() - cpu;
    timed.sent = outcome.sent.size();
    return timed;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    Heartbeat heartbeat;

    const bench::BenchServer ownServer;
    if (!ownServer.Running())
        return 1;
    const ConnectParams& server = ownServer.Params();
    const int serverPid = ownServer.Pid();

    constexpr int kReceivers = 100000;
    constexpr int kRelayReceivers = 2000;
    constexpr int kBaselineReceivers = 5000;
    ConnectParams params = server;
    params.database = "bench_mail";
    DbConnection db;
    demo::DemoOptions demoOptions;
    demoOptions.roles = kReceivers;
    demoOptions.logRowsPerTable = 10;
    if (!db.Connect(server) ||
        !Exec(db, "CREATE DATABASE IF NOT EXISTS bench_mail CHARACTER SET utf8mb4") ||
        !Exec(db, "USE bench_mail") || !demo::CreateGameSchema(db) ||
        !demo::FillDemoData(db, demoOptions)) {
        std::fprintf(stderr, "cannot fill the database: %s\n", db.LastErrorText().c_str());
        return 1;
    }
    const std::vector<std::string> ids = RoleIds(kReceivers);

    // (1) The window, 100,000 receivers, loopback.
    QTemporaryDir folder;
    const std::filesystem::path dir = folder.path().toStdString();
    TimedDialogs dialogs;
    dialogs.clock.start();
    AppEnvironment env(dialogs);
    env.configPath = dir / "config.dat";
    env.cataloguePath = dir / "goods.jat.json";
    env.auditLogPath = dir / "mrvn-audit.log";
    env.windowStatePath = dir / "window.ini";
    env.versionAddress = QStringLiteral("http://127.0.0.1:9/version.html");
    std::unique_ptr<MainWindow> window = CreateMainWindow(env);
    window->OnMainWindowCreated();
    window->findChild<QTimer*>(QStringLiteral("时钟2"))->stop();
    window->show();
    window->findChild<QLineEdit*>(QStringLiteral("编辑框2"))->setText(QStringLiteral("127.0.0.1"));
    window->findChild<QLineEdit*>(QStringLiteral("编辑框3"))->setText(QString::number(params.port));
    window->findChild<QLineEdit*>(QStringLiteral("编辑框4"))->setText(QStringLiteral("root"));
    window->findChild<QLineEdit*>(QStringLiteral("编辑框5"))->setText(QStringLiteral("739215"));
    window->findChild<QLineEdit*>(QStringLiteral("编辑框6"))->setText(QStringLiteral("bench_mail"));
    window->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
    while (window->DatabaseBusy())
        test::ProcessEventsOrWait(20);
    // The refresh timer stays out of the measurement.
    window->findChild<QTimer*>(QStringLiteral("时钟1"))->stop();
    auto* mail = window->findChild<MailPage*>(QStringLiteral("发放邮件"));
    ReceiverChoice choice;
    choice.ids = ids;
    choice.description = QStringLiteral("bench");
    mail->ChooseReceivers(choice);
    // The floor: the same timer while the window does nothing for a second.
    heartbeat.Start();
    {
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 1000)
            test::ProcessEventsOrWait(5);
    }
    const double idleFloor = heartbeat.LongestMs();
    const double loadBefore = LoadAverage();
    const double cpuBefore = CpuSeconds();
    const double serverBefore = ProcessCpuSeconds(serverPid);
    QObject::connect(mail, &MailPage::AboutToAsk, [&] { heartbeat.Start(); });
    window->findChild<QPushButton*>(QStringLiteral("按钮5"))->click();
    while (!dialogs.done)
        test::ProcessEventsOrWait(5);
    const double windowWall = static_cast<double>(dialogs.end - dialogs.start) / 1e9;
    const double windowPause = heartbeat.LongestMs();
    const double windowCpu = CpuSeconds() - cpuBefore;
    const double serverCpu = ProcessCpuSeconds(serverPid) - serverBefore;
    const std::string rows = [&] {
        Exec(db, "SELECT COUNT(*) FROM system_email");
        std::string count;
        db.StoreResult().ReadField(0, count);
        return count;
    }();
    window.reset();

    // (2) Behind the relay: batched and one row per statement, the same receivers.
    Exec(db, "TRUNCATE TABLE system_email");
    relay::DelayRelay delayed(params.port, 1);
    if (!delayed.Start())
        return 1;
    ConnectParams relayed = params;
    relayed.port = delayed.Port();
    DbConnection far;
    if (!far.Connect(relayed))
        return 1;
    const std::vector<std::string> relayIds = RoleIds(kRelayReceivers);
    const Timed relayBatched = TimeSend(far, MailTo(relayIds), kMaxRowsPerStatement);
    const Timed relayOneRow = TimeSend(far, MailTo(relayIds), 1);
    far.Close();
    delayed.Stop();

    // (3) One row per statement on the loopback, a part of the receivers.
    DbConnection near;
    near.Connect(params);
    const std::vector<std::string> baseIds = RoleIds(kBaselineReceivers);
    const Timed nearOneRow = TimeSend(near, MailTo(baseIds), 1);
    const Timed nearBatched = TimeSend(near, MailTo(baseIds), kMaxRowsPerStatement);
    const double loadAfter = LoadAverage();

    std::printf("\nMail to many roles (load average %.1f before, %.1f after, %ld cores)\n",
                loadBefore, loadAfter, sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("(1) window, %d receivers, loopback, 是 to the outcome: %.2f s wall (goal <= 10 "
                "s), tool CPU %.2f s, server CPU %.2f s, window's longest pause %.1f ms (goal "
                "< 50 ms; idle floor %.1f ms); rows written %s; said: %s\n",
                kReceivers, windowWall, windowCpu, serverCpu, windowPause, idleFloor, rows.c_str(),
                dialogs.outcome.left(40).toStdString().c_str());
    std::printf("(2) 1-ms relay, %d receivers: batched %.3f s wall (%.3f s CPU), one row per "
                "statement %.3f s wall (%.3f s CPU): %.1fx faster (goal >= 20x)\n",
                kRelayReceivers, relayBatched.wall, relayBatched.cpu, relayOneRow.wall,
                relayOneRow.cpu, relayOneRow.wall / relayBatched.wall);
    std::printf("(3) loopback, %d receivers: batched %.3f s wall, one row per statement %.3f s "
                "wall (%.1fx); one row per statement projected to %d receivers: %.1f s\n",
                kBaselineReceivers, nearBatched.wall, nearOneRow.wall,
                nearOneRow.wall / nearBatched.wall, kReceivers,
                nearOneRow.wall * kReceivers / kBaselineReceivers);

    near.Close();
    db.Close();
    return 0;
}
