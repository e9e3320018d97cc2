#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/ReportView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

#include <chrono>

namespace mrvn::test {
namespace {

class WindowHungServer : public WindowTest
{
protected:
    // Connects the window through its connect button to a scratch database with demo roles.
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.connectOptions = m_options;
        return env;
    }

    MainWindow& Connected(const ConnectOptions& options)
    {
        m_options = options;
        demo::DemoOptions demo;
        demo.roles = 30;
        demo.logRowsPerTable = 10;
        EXPECT_TRUE(demo::FillDemoData(m_db.Db(), demo));
        MainWindow& window = Started();
        const ConnectParams params = m_db.Params();
        ConnectThroughTheWindow(params);
        EXPECT_TRUE(dialogs.messages.empty());
        return window;
    }

    // One tick of 时钟1, run to its end; the seconds it kept the window's thread.
    static double Tick(MainWindow& window)
    {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(QMetaObject::invokeMethod(FindIn<QTimer>(window, "时钟1"), "timeout",
                                              Qt::DirectConnection));
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    ScratchDatabase m_db;
    ConnectOptions m_options;
};

TEST_F(WindowHungServer, RefreshTickReturnsWithinTheTimeouts)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    ConnectOptions options;
    options.connectTimeoutSeconds = 3;
    options.readTimeoutSeconds = 1;
    options.writeTimeoutSeconds = 1;
    MainWindow& window = Connected(options);
    auto* roles = Find<ReportView>("超级列表框4");
    ASSERT_EQ(roles->RowCount(), 30);
    {
        PausedServer paused;
        ASSERT_TRUE(paused.Paused());
        // The statistics statement waits for the read time-out; the role list is not asked
        // for in the same tick, which would wait out a reconnect attempt as well.
        const double seconds = Tick(window);
        EXPECT_GE(seconds, options.readTimeoutSeconds - 0.1);
        EXPECT_LT(seconds, options.readTimeoutSeconds + 1.5);
        EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已断开"));
        EXPECT_EQ(roles->RowCount(), 0);
    }
    // The server is back: the next tick reconnects and fills the list again.
    Tick(window);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接"));
    EXPECT_EQ(roles->RowCount(), 30);
}

} // namespace
} // namespace mrvn::test
