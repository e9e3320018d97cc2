#include "AppTestSupport.h"
#include "TcpRelay.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/CleanupPage.h"
#include "app/CommonPage.h"
#include "app/MailPage.h"
#include "app/ReportView.h"
#include "config/AtomicFile.h"
#include "config/ConfigFile.h"
#include "db/RoleList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>

#include <array>
#include <iostream>
#include <optional>

namespace mrvn::test {
namespace {

class WindowDatabase : public WindowTest
{
protected:
    // Starts the window and connects it to a scratch database filled with demo roles.
    MainWindow& Connected(ScratchDatabase& db, int roles = 40)
    {
        demo::DemoOptions options;
        options.roles = roles;
        options.logRowsPerTable = 50;
        EXPECT_TRUE(demo::FillDemoData(db.Db(), options));
        MainWindow& window = StartedWithoutVersionCheck();
        FillConnectionBoxes(db.Params());
        Click("按钮1");
        EXPECT_TRUE(dialogs.messages.empty());
        return window;
    }

    ScratchDatabase m_db;
};

TEST_F(WindowDatabase, FailedConnectChangesNothing)
{
    StartedWithoutVersionCheck();
    ConnectParams params = m_db.Params();
    params.password = "wrong password";
    FillConnectionBoxes(params);
    Click("按钮1");

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("mysql连接错误！用户名或密码错误，请检查连接参数！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("消息"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：未连接"));
    EXPECT_EQ(Find<QLabel>("标签4")->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::WindowText));
    EXPECT_TRUE(Find<QPushButton>("按钮1")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
    EXPECT_FALSE(FindIn<QTimer>(Window(), "时钟1")->isActive());
    EXPECT_EQ(Find<ReportView>("超级列表框4")->RowCount(), 0);
}

TEST_F(WindowDatabase, ConnectFillsEveryViewAndRemembersTheBoxes)
{
    MainWindow& window = Connected(m_db, 40);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接（默认区服）"));
    EXPECT_EQ(Find<QLabel>("标签4")->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_FALSE(Find<QPushButton>("按钮1")->isEnabled());
    EXPECT_TRUE(FindIn<QTimer>(window, "时钟1")->isActive());
    EXPECT_EQ(FindIn<QTimer>(window, "时钟1")->interval(), 60000);

    // Written off the window's thread, in one replacement.
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(ConfigPath()); }));
    const ConnectionSettings saved = LoadConnectionSettings(ConfigFile(ConfigPath()));
    const ConnectParams params = m_db.Params();
    EXPECT_EQ(saved.ip, params.host);
    EXPECT_EQ(saved.port, std::to_string(params.port));
    EXPECT_EQ(saved.user, params.user);
    EXPECT_EQ(saved.psw, params.password);
    EXPECT_EQ(saved.db, params.database);

    EXPECT_EQ(Find<ReportView>("超级列表框2")->RowCount(), 1);
    EXPECT_FALSE(Find<ReportView>("超级列表框2")->Cell(0, 4).isEmpty());
    EXPECT_EQ(Find<ReportView>("超级列表框4")->RowCount(), 40);
    auto* tables = Find<ReportView>("超级列表框1");
    ASSERT_EQ(tables->RowCount(), static_cast<int>(demo::GameTables().size()));
    EXPECT_EQ(tables->Cell(0, 0), QStringLiteral("1"));
    EXPECT_TRUE(tables->Cell(0, 2).isEmpty());

    // A timer tick refreshes both views in place.
    m_db.Exec("DELETE FROM user_role WHERE id = " + std::to_string(demo::kFirstRoleId));
    FindIn<QTimer>(window, "时钟1")->start(10);
    EXPECT_TRUE(WaitFor([&] { return Find<ReportView>("超级列表框4")->RowCount() == 39; }));
    EXPECT_EQ(Find<ReportView>("超级列表框2")->RowCount(), 1);
}

// Each page's lookup writes only its own box, and says what it found: the role id (no
// message), "该帐号没有角色", or that it failed and why.
TEST_F(WindowDatabase, LookupSaysWhatItFoundAndWritesOnlyItsOwnPagesBox)
{
    demo::DemoOptions demo;
    demo.roles = 10;
    ASSERT_TRUE(demo::FillDemoData(m_db.Db(), demo));
    const QString account = QString::fromStdString(
        m_db.Scalar("SELECT user_id FROM user_role ORDER BY id DESC LIMIT 1"));
    const QString newest = QString::fromStdString(m_db.Scalar(
        "SELECT MAX(id) FROM user_role WHERE user_id = '" + account.toStdString() + "'"));
    // Button, account box, role-id box, and the other page's role-id box.
    using Page = std::array<const char*, 4>;
    const Page mail{"按钮4", "编辑框9", "编辑框10", "编辑框8"};
    const Page cleanup{"按钮3", "编辑框7", "编辑框8", "编辑框10"};
    struct Case
    {
        const char* name;
        const Page& page;
        QString account;
        QString box;     // the role-id box afterwards ("stays": untouched)
        QString message; // how the message begins; empty: none
    };
    const Case cases[] = {
        {"before connecting", mail, account, {}, QStringLiteral("查询角色ID失败：未连接数据库")},
        {"mail page, found", mail, account, newest, {}},
        {"cleanup page, found", cleanup, account, newest, {}},
        {"no role", cleanup, QStringLiteral("it's nobody"), {}, QStringLiteral("该帐号没有角色")},
        {"only spaces", mail, QStringLiteral(" \u3000 "), QStringLiteral("stays"), {}},
        {"the table is gone", mail, account, {}, QStringLiteral("查询角色ID失败：错误号 1146：")},
    };
    Started();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "mail page, found") {
            FillConnectionBoxes(m_db.Params());
            Click("按钮1");
        }
        if (std::string(c.name) == "the table is gone")
            m_db.Exec("RENAME TABLE user_role TO user_role_away");
        dialogs.messages.clear();
        Find<QLineEdit>(c.page[3])->setText(QStringLiteral("keep"));
        Find<QLineEdit>(c.page[2])->setText(QStringLiteral("stays"));
        Find<QLineEdit>(c.page[1])->setText(c.account);
        Click(c.page[0]);
        EXPECT_EQ(Find<QLineEdit>(c.page[2])->text(), c.box);
        EXPECT_EQ(Find<QLineEdit>(c.page[3])->text(), QStringLiteral("keep"));
        ASSERT_EQ(dialogs.messages.size(), c.message.isEmpty() ? 0u : 1u) << Shown();
        if (!c.message.isEmpty()) {
            EXPECT_TRUE(dialogs.messages[0].text.startsWith(c.message)) << Shown();
            EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("查询消息"));
        }
    }
}

TEST_F(WindowDatabase, MailRoadFromTheRoleListToTheMailTable)
{
    MainWindow& window = Connected(m_db, 12);
    CommonPage* common = FindIn<CommonPage>(window, "常用功能");
    ReportView* roles = FindIn<ReportView>(common, "超级列表框4");
    roles->SetSelection(2);
    const QString roleId = roles->Cell(2, ColumnIndex(RoleColumn::RoleId));
    common->PrepareRoleListMenu();
    FindIn<QAction>(common, "发送在线邮件")->trigger();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), roleId);
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->currentIndex(), 1);

    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("100 01"));
    Find<QLineEdit>("编辑框16")->setText(QStringLiteral("5"));
    Find<QComboBox>("组合框1")->setCurrentIndex(3);
    Find<QComboBox>("组合框2")->setCurrentIndex(1);
    dialogs.typed = {QStringLiteral("回 城 卷")};
    Find<QPushButton>("按钮6")->click();
    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_EQ(dialogs.inputs[0].initial, QStringLiteral("10001"));
    EXPECT_EQ(dialogs.inputs[0].title, QStringLiteral("输入物品名称"));

    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("2001"));
    Find<QCheckBox>("选择框6")->setChecked(true);
    Find<QComboBox>("组合框3")->setCurrentIndex(11);
    dialogs.typed = {QStringLiteral("神剑")};
    Find<QPushButton>("按钮6")->click();
    auto* items = Find<ReportView>("超级列表框5");
    ASSERT_EQ(items->RowCount(), 2);
    EXPECT_EQ(items->Cell(0, 0), QStringLiteral("1"));
    EXPECT_EQ(items->Cell(0, 1), QStringLiteral("回城卷"));
    EXPECT_EQ(items->Cell(1, 0), QStringLiteral("2"));

    dialogs.typed = {QStringLiteral("Set A")};
    ClickThenWaitUntilEnabled("按钮7");
    ASSERT_EQ(Find<ReportView>("超级列表框6")->RowCount(), 1);
    EXPECT_EQ(Find<ReportView>("超级列表框6")->Cell(0, 1), QStringLiteral("SetA"));

    Find<QLineEdit>("编辑框11")->setText(QStringLiteral("节日 礼物"));
    Find<QLineEdit>("编辑框14")->setText(QStringLiteral("100"));
    dialogs.messages.clear();
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Information);

    EXPECT_EQ(m_db.Scalar("SELECT COUNT(*) FROM system_email"), "1");
    EXPECT_EQ(m_db.Scalar("SELECT receiver_ids FROM system_email"), roleId.toStdString());
    EXPECT_EQ(m_db.Scalar("SELECT title FROM system_email"), "节日礼物");
    EXPECT_EQ(m_db.Scalar("SELECT CONCAT(jb, '/', yb) FROM system_email"), "0/100");
    EXPECT_EQ(m_db.Scalar("SELECT JSON_VALID(attachments) FROM system_email"), "1");
    EXPECT_EQ(m_db.Scalar("SELECT JSON_LENGTH(attachments) FROM system_email"), "2");
    EXPECT_EQ(m_db.Scalar("SELECT JSON_UNQUOTE(JSON_EXTRACT(attachments, '$[0].goodsId')) "
                          "FROM system_email"),
              "10001");
    EXPECT_EQ(m_db.Scalar("SELECT JSON_EXTRACT(attachments, '$[0].rareLevel') FROM system_email"),
              "3");
    EXPECT_EQ(m_db.Scalar("SELECT JSON_EXTRACT(JSON_UNQUOTE(JSON_EXTRACT(attachments, "
                          "'$[1].attributes')), '$.qhcount') FROM system_email"),
              "11");
    // The page is left as it was, so the same mail can go again with the next id.
    EXPECT_EQ(items->RowCount(), 2);
    Click("按钮5");
    EXPECT_EQ(m_db.Scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM system_email"), "1,2");
}

TEST_F(WindowDatabase, FailedConnectGivesTheServersReasonInTheDetails)
{
    StartedWithoutVersionCheck();
    ConnectParams params = m_db.Params();
    params.password = "wrong password";
    FillConnectionBoxes(params);
    Click("按钮1");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("mysql连接错误！用户名或密码错误，请检查连接参数！"));
    // 1045: access denied, in the server's own words.
    EXPECT_TRUE(dialogs.messages[0].details.startsWith(QStringLiteral("错误号 1045：")))
        << dialogs.messages[0].details.toStdString();
    EXPECT_TRUE(dialogs.messages[0].details.contains(QStringLiteral("Access denied")))
        << dialogs.messages[0].details.toStdString();
}

TEST_F(WindowDatabase, APortBeyondItsRangeIsRefusedBeforeConnecting)
{
    struct Case
    {
        const char* port;
        bool refused;
    };
    const Case cases[] = {{"-1", true},          {"0", true},  {"65536", true},
                          {"99999999999", true}, {"1", false}, {"65535", false}};
    StartedWithoutVersionCheck();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        dialogs.messages.clear();
        ConnectParams params = m_db.Params();
        FillConnectionBoxes(params);
        Find<QLineEdit>("编辑框3")->setText(QString::fromUtf8(c.port));
        Click("按钮1");
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const MessageRequest& shown = dialogs.messages[0];
        if (c.refused) {
            EXPECT_EQ(shown.text,
                      QStringLiteral("端口号超出范围！请填写1到65535之间的数字（不填为默"
                                     "认端口）。"));
            EXPECT_EQ(shown.title, QStringLiteral("检测消息"));
            EXPECT_EQ(shown.icon, MessageIcon::Warning);
        } else {
            // In range: a connect is tried (nothing listens there).
            EXPECT_EQ(shown.text, QStringLiteral("mysql连接错误！无法连接到服务器（服务器未启"
                                                 "动、地址无法解析或网络不通）！"));
        }
        EXPECT_FALSE(Find<QTimer>("时钟1")->isActive());
        EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：未连接"));
        EXPECT_TRUE(Find<QPushButton>("按钮1")->isEnabled());
        EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
    }
}

TEST_F(WindowDatabase, AFailedSaveAfterConnectingIsReported)
{
    // A folder where config.dat should be: nothing can be written there.
    std::filesystem::create_directory(ConfigPath());
    MainWindow& window = StartedWithoutVersionCheck();
    FillConnectionBoxes(m_db.Params());
    Click("按钮1");
    ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("已连接，但连接参数未能保存到config.dat，下次启动需要重新填写！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("消息"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接（默认区服）"));
    EXPECT_TRUE(FindIn<QTimer>(window, "时钟1")->isActive());
}

// Another copy of the tool holding config.dat's lock (hung, say) never stalls the window: the
// settings and a new archive are written once it lets go, and nothing is lost.
TEST_F(WindowDatabase, AHeldConfigLockNeverStallsTheWindow)
{
    std::optional<FileLock> held(std::in_place, ConfigPath());
    ASSERT_TRUE(held->Locked());
    StartedWithoutVersionCheck();
    FillConnectionBoxes(m_db.Params());
    QElapsedTimer clock;
    clock.start();
    Find<QPushButton>("按钮1")->click();
    ASSERT_TRUE(WaitFor([&] { return Window().Link() == LinkState::Connected; }));
    dialogs.typed = {QStringLiteral("Held")};
    Find<QPushButton>("按钮7")->click();
    std::cout << "connect and archive with the lock held: " << clock.elapsed() << " ms\n";
    // The window went on while the writes wait for the lock.
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
    EXPECT_FALSE(Find<QPushButton>("按钮7")->isEnabled());
    held.reset();
    ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>("按钮7")->isEnabled(); }));
    const ConfigFile file(ConfigPath());
    EXPECT_EQ(file.ReadValue("system", "port"), std::to_string(m_db.Params().port));
    EXPECT_EQ(file.ReadValue("itemlist", "list"), "Held");
    EXPECT_EQ(Find<ReportView>("超级列表框6")->RowCount(), 1);
    EXPECT_TRUE(dialogs.messages.empty()) << Shown();
}

TEST_F(WindowDatabase, ALostServerShowsAsDisconnectedUntilItComesBack)
{
    demo::DemoOptions options;
    options.roles = 20;
    options.logRowsPerTable = 5;
    ASSERT_TRUE(demo::FillDemoData(m_db.Db(), options));
    TcpRelay relay(m_db.Params().port);
    ASSERT_TRUE(relay.Start());
    MainWindow& window = StartedWithoutVersionCheck();
    ConnectParams params = m_db.Params();
    params.host = "127.0.0.1";
    params.port = relay.Port();
    FillConnectionBoxes(params);
    Click("按钮1");
    ASSERT_TRUE(dialogs.messages.empty());
    auto* status = Find<QLabel>("标签4");
    auto* roles = Find<ReportView>("超级列表框4");
    auto* stats = Find<ReportView>("超级列表框2");
    ASSERT_EQ(roles->RowCount(), 20);

    const auto tick = [&] {
        QMetaObject::invokeMethod(FindIn<QTimer>(window, "时钟1"), "timeout", Qt::DirectConnection);
        EXPECT_TRUE(WaitIdle());
    };
    relay.Stop();
    tick();
    EXPECT_EQ(status->text(), QStringLiteral(" 连接状态：已断开"));
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    // The last picture stays, greyed and dated, until a refresh gets through again.
    const auto greyed = [](QWidget* view) {
        return view->palette().color(QPalette::Active, QPalette::Text) ==
               view->palette().color(QPalette::Disabled, QPalette::Text);
    };
    const auto lastPicture = [&] {
        EXPECT_EQ(roles->RowCount(), 20);
        EXPECT_FALSE(stats->Cell(0, 0).isEmpty());
        EXPECT_TRUE(greyed(roles));
        EXPECT_TRUE(greyed(stats));
        // Beside the statistics' caption, never over its text, and whole.
        auto* time = Find<QLabel>("数据时间");
        auto* caption = Find<QLabel>("标签7");
        EXPECT_FALSE(time->isHidden());
        EXPECT_TRUE(time->text().contains(
            QRegularExpression(QStringLiteral("^数据时间 \\d\\d:\\d\\d:\\d\\d（连接中断）$"))));
        EXPECT_GE(time->x(),
                  caption->x() + caption->fontMetrics().horizontalAdvance(caption->text()));
        EXPECT_LE(time->fontMetrics().horizontalAdvance(time->text()), time->width());
    };
    lastPicture();
    // The operator can reconnect by hand at once.
    EXPECT_TRUE(Find<QPushButton>("按钮1")->isEnabled());
    // A refresh reports nothing by message box.
    EXPECT_TRUE(dialogs.messages.empty());
    // Each further tick tries to connect, fails, and keeps the picture.
    tick();
    EXPECT_EQ(status->text(), QStringLiteral(" 连接状态：已断开"));
    lastPicture();

    m_db.Exec("DELETE FROM user_role WHERE id = " + std::to_string(demo::kFirstRoleId));
    ASSERT_TRUE(relay.Start());
    ASSERT_EQ(relay.Port(), params.port);
    tick();
    EXPECT_EQ(status->text(), QStringLiteral(" 连接状态：已连接（默认区服）"));
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_FALSE(Find<QPushButton>("按钮1")->isEnabled());
    EXPECT_EQ(roles->RowCount(), 19);
    EXPECT_FALSE(stats->Cell(0, 0).isEmpty());
    EXPECT_FALSE(greyed(roles));
    EXPECT_FALSE(greyed(stats));
    EXPECT_TRUE(Find<QLabel>("数据时间")->isHidden());
    EXPECT_TRUE(dialogs.messages.empty());
}

} // namespace
} // namespace mrvn::test
