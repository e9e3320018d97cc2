#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/ReportView.h"

#include <nlohmann/json.hpp>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

#include <fstream>

namespace mrvn::test {
namespace {

// A 5-ms timer on the window's thread: how often it fired and its longest gap.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longestGapMs = std::max(m_longestGapMs, now - m_last);
            m_last = now;
            ++m_ticks;
        });
        m_timer.start(5);
    }
    int Ticks() const { return m_ticks; }
    qint64 LongestGapMs() const { return m_longestGapMs; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longestGapMs = 0;
    int m_ticks = 0;
};

class WindowHungServer : public WindowTest
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.connectOptions = m_options;
        return env;
    }

    // Connects the window through its connect button to a scratch database with demo roles.
    MainWindow& Connected(const ConnectOptions& options)
    {
        m_options = options;
        demo::DemoOptions demo;
        demo.roles = 30;
        demo.logRowsPerTable = 10;
        EXPECT_TRUE(demo::FillDemoData(m_db.Db(), demo));
        MainWindow& window = StartedWithoutVersionCheck();
        ConnectThroughTheWindow(m_db.Params());
        EXPECT_TRUE(dialogs.messages.empty());
        return window;
    }

    void Tick(MainWindow& window)
    {
        EXPECT_TRUE(QMetaObject::invokeMethod(FindIn<QTimer>(window, "时钟1"), "timeout",
                                              Qt::DirectConnection));
    }
    QString Status() { return Find<QLabel>("标签4")->text(); }

    ScratchDatabase m_db;
    ConnectOptions m_options;
};

TEST_F(WindowHungServer, TheWindowKeepsRunningAndTheLabelTellsTheTruth)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    ConnectOptions options;
    options.connectTimeoutSeconds = 2;
    options.readTimeoutSeconds = 5;
    options.writeTimeoutSeconds = 5;
    MainWindow& window = Connected(options);
    auto* roles = Find<ReportView>("超级列表框4");
    auto* connectButton = Find<QPushButton>("按钮1");
    ASSERT_EQ(roles->RowCount(), 30);
    {
        PausedServer paused;
        ASSERT_TRUE(paused.Paused());
        Heartbeat heartbeat;
        Tick(window);
        // Past 3 s without an answer, the label says so, and the operator may reconnect.
        EXPECT_TRUE(WaitFor([&] { return Status() == QStringLiteral(" 连接状态：无响应"); }, 4500));
        EXPECT_EQ(Find<QLabel>("标签4")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_TRUE(connectButton->isEnabled());
        // A second tick while the first still waits is skipped, not queued.
        Tick(window);
        // The read time-out ends the wait: the server is gone.
        EXPECT_TRUE(WaitFor([&] { return Status() == QStringLiteral(" 连接状态：已断开"); }, 5000));
        EXPECT_TRUE(connectButton->isEnabled());
        EXPECT_TRUE(WaitIdle(5000));
        EXPECT_EQ(roles->RowCount(), 0);
        // The window's own timer never stopped.
        EXPECT_GT(heartbeat.Ticks(), 300);
        EXPECT_LT(heartbeat.LongestGapMs(), 1000);
    }
    // The server is back: the next tick reconnects and fills the list again.
    Tick(window);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), QStringLiteral(" 连接状态：已连接"));
    EXPECT_FALSE(connectButton->isEnabled());
    EXPECT_EQ(roles->RowCount(), 30);
}

// An insert the server needs longer for than the read time-out: the answer is lost, the row
// is committed anyway. The tool finds it by its id and says it was sent.
TEST_F(WindowHungServer, ASlowInsertIsCheckedAndReportedAsSent)
{
    ConnectOptions options;
    options.readTimeoutSeconds = 1;
    m_db.Exec("INSERT INTO user_role (id, name) VALUES (11, '甲一')");
    m_db.Exec("CREATE TRIGGER slow_insert BEFORE INSERT ON system_email FOR EACH ROW "
              "SET @slept = SLEEP(3)");
    m_options = options;
    StartedWithoutVersionCheck();
    ConnectThroughTheWindow(m_db.Params());
    ASSERT_TRUE(dialogs.messages.empty()) << Shown();
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("11"));
    Click("按钮5");

    EXPECT_EQ(m_db.Scalar("SELECT COUNT(*) FROM system_email"), "1")
        << std::ifstream(Folder() / "mrvn-audit.log").rdbuf();
    ASSERT_EQ(dialogs.messages.size(), 1u) << Shown();
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));
    std::ifstream log(Folder() / "mrvn-audit.log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    const nlohmann::json record = nlohmann::json::parse(line);
    EXPECT_EQ(record.at("outcome"), "sent");
    EXPECT_EQ(record.at("ok"), true);
    EXPECT_EQ(record.at("checked"), true);
    EXPECT_FALSE(std::getline(log, line));
}

} // namespace
} // namespace mrvn::test
