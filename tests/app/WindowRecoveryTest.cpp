#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/ReportView.h"
#include "app/Texts.h"
#include "db/ConnectFailure.h"

#include <QHostAddress>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>

#include <set>

namespace mrvn::test {
namespace {

constexpr int kTickMs = 700;

// The window over a scratch database with demo roles, a short refresh interval and short
// time-outs.
class WindowRecovery : public WindowTest
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.connectOptions.connectTimeoutSeconds = 2;
        env.connectOptions.readTimeoutSeconds = 5;
        env.connectOptions.writeTimeoutSeconds = 5;
        env.refreshIntervalMs = kTickMs;
        return env;
    }

    void SetUp() override
    {
        WindowTest::SetUp();
        demo::DemoOptions demo;
        demo.roles = 30;
        demo.logRowsPerTable = 5;
        ASSERT_TRUE(demo::FillDemoData(m_db.Db(), demo));
    }

    QString Status() { return Find<QLabel>("标签4")->text(); }
    ReportView* Roles() { return Find<ReportView>("超级列表框4"); }
    bool Greyed()
    {
        return Roles()->palette().color(QPalette::Active, QPalette::Text) ==
               Roles()->palette().color(QPalette::Disabled, QPalette::Text);
    }
    // The list is the server's now, in the normal colours.
    bool Current(int roles)
    {
        return Status().startsWith(QString::fromUtf8(kStatusConnected)) && Roles()->RowCount() == roles &&
               !Greyed();
    }

    ScratchDatabase m_db;
};

// The server stops answering, the operator presses "连接mysql", which fails; once the server
// answers again, the refresh timer brings everything back by itself.
TEST_F(WindowRecovery, APressedConnectThatFailedDoesNotEndTheRecovery)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    StartedWithoutVersionCheck();
    ConnectThroughTheWindow(m_db.Params());
    ASSERT_TRUE(Current(30)) << Shown();
    {
        PausedServer paused(20);
        ASSERT_TRUE(paused.Paused());
        ASSERT_TRUE(
            WaitFor([&] { return Status() == QString::fromUtf8(kStatusUnresponsive); }, 10000));
        Find<QPushButton>("按钮1")->click();
        EXPECT_EQ(Status(), QString::fromUtf8(kStatusConnecting));
        EXPECT_FALSE(Find<QPushButton>("按钮1")->isEnabled());
        ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }, 10000));
        EXPECT_EQ(dialogs.messages[0].text,
                  QString::fromUtf8(ConnectFailureText(ConnectFailure::NoAnswer)))
            << Shown();
        // Disconnected, or already trying again at the next tick; the last picture stays.
        EXPECT_TRUE(Status() == QString::fromUtf8(kStatusDisconnected) ||
                    Status() == QString::fromUtf8(kStatusConnecting))
            << Status().toStdString();
        EXPECT_EQ(Roles()->RowCount(), 30);
        EXPECT_TRUE(Greyed());
    }
    m_db.Exec("DELETE FROM user_role WHERE id = " + std::to_string(demo::kFirstRoleId));
    // The ticks' connects started after the server answers again (one may be under way): the
    // list is back by the second. A tick that comes while a refresh runs starts nothing.
    int attempts = 0;
    QString last = Status();
    EXPECT_TRUE(WaitFor(
        [&] {
            const QString now = Status();
            if (now == QString::fromUtf8(kStatusConnecting) && now != last)
                ++attempts;
            last = now;
            return Current(29);
        },
        30000))
        << Status().toStdString() << " " << Roles()->RowCount();
    EXPECT_LE(attempts, 2);
}

// Each kind of failed connect says what happened; only those caused by what was typed send
// the operator to the settings.
TEST_F(WindowRecovery, EachConnectFailureSaysWhatHappened)
{
    // Accepts connections and never says a word, as a hung server does.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const ConnectParams server = m_db.Params();
    struct Case
    {
        const char* name;
        ConnectFailure failure;
        std::optional<ConnectParams> typed; // nullopt: classified only (no server gives it here)
        unsigned clientError = 0;
    };
    const auto with = [&](auto change) {
        ConnectParams params = server;
        change(params);
        return params;
    };
    const Case cases[] = {
        {"no answer", ConnectFailure::NoAnswer,
         with([&](ConnectParams& p) { p.port = silent.serverPort(); })},
        {"closed port", ConnectFailure::Unreachable, with([](ConnectParams& p) { p.port = 1; })},
        {"unknown host", ConnectFailure::Unreachable,
         with([](ConnectParams& p) { p.host = "no-such-host.invalid"; })},
        {"wrong password", ConnectFailure::LoginRefused,
         with([](ConnectParams& p) { p.password = "wrong"; })},
        {"no database", ConnectFailure::NoDatabase,
         with([](ConnectParams& p) { p.database = "no_such_database"; })},
        {"host not allowed", ConnectFailure::HostNotAllowed, std::nullopt, 1130},
        {"too many connections", ConnectFailure::Other, std::nullopt, 1040},
    };
    StartedWithoutVersionCheck();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = QString::fromUtf8(ConnectFailureText(c.failure));
        const bool settings = c.failure == ConnectFailure::LoginRefused ||
                              c.failure == ConnectFailure::NoDatabase ||
                              c.failure == ConnectFailure::HostNotAllowed;
        EXPECT_EQ(text.contains(QStringLiteral("连接参数")), settings) << text.toStdString();
        if (!c.typed) {
            EXPECT_EQ(ClassifyConnectFailure(c.clientError), c.failure);
            continue;
        }
        dialogs.messages.clear();
        ConnectThroughTheWindow(*c.typed);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, text) << Shown();
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
        EXPECT_TRUE(dialogs.messages[0].details.startsWith(QStringLiteral("错误号 ")));
        EXPECT_EQ(Status(), QString::fromUtf8(kStatusNotConnected));
        EXPECT_TRUE(Find<QPushButton>("按钮1")->isEnabled());
    }
    // Each class its own text.
    std::set<std::string> texts;
    for (const Case& c : cases)
        texts.insert(ConnectFailureText(c.failure));
    EXPECT_EQ(texts.size(), 6u);
}

} // namespace
} // namespace mrvn::test
