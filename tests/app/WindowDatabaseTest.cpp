#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/CleanupPage.h"
#include "app/CommonPage.h"
#include "app/MailPage.h"
#include "app/ReportView.h"
#include "config/ConfigFile.h"
#include "db/RoleList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace mrvn::test {
namespace {

class WindowDatabase : public WindowTest
{
protected:
    void FillConnectionBoxes(const ConnectParams& params)
    {
        Find<QLineEdit>("编辑框2")->setText(QString::fromStdString(params.host));
        Find<QLineEdit>("编辑框3")->setText(QString::number(params.port));
        Find<QLineEdit>("编辑框4")->setText(QString::fromStdString(params.user));
        Find<QLineEdit>("编辑框5")->setText(QString::fromStdString(params.password));
        Find<QLineEdit>("编辑框6")->setText(QString::fromStdString(params.database));
    }

    // Starts the window and connects it to a scratch database filled with demo roles.
    MainWindow& Connected(ScratchDatabase& db, int roles = 40)
    {
        demo::DemoOptions options;
        options.roles = roles;
        options.logRowsPerTable = 50;
        EXPECT_TRUE(demo::FillDemoData(db.Db(), options));
        MainWindow& window = Started();
        FillConnectionBoxes(db.Params());
        Find<QPushButton>("按钮1")->click();
        EXPECT_TRUE(dialogs.messages.empty());
        return window;
    }

    ScratchDatabase m_db;
};

TEST_F(WindowDatabase, FailedConnectChangesNothing)
{
    Started();
    ConnectParams params = m_db.Params();
    params.password = "wrong password";
    FillConnectionBoxes(params);
    Find<QPushButton>("按钮1")->click();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("mysql连接错误！请检查连接参数！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("消息"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：未连接"));
    EXPECT_EQ(Find<QLabel>("标签4")->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::WindowText));
    EXPECT_TRUE(Find<QPushButton>("按钮1")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
    EXPECT_FALSE(Window().Timer1()->isActive());
    EXPECT_EQ(Find<ReportView>("超级列表框4")->RowCount(), 0);
}

TEST_F(WindowDatabase, ConnectFillsEveryViewAndRemembersTheBoxes)
{
    MainWindow& window = Connected(m_db, 40);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接"));
    EXPECT_EQ(Find<QLabel>("标签4")->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_FALSE(Find<QPushButton>("按钮1")->isEnabled());
    EXPECT_TRUE(window.Timer1()->isActive());
    EXPECT_EQ(window.Timer1()->interval(), 60000);

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
    window.Timer1()->start(10);
    EXPECT_TRUE(WaitFor([&] { return Find<ReportView>("超级列表框4")->RowCount() == 39; }));
    EXPECT_EQ(Find<ReportView>("超级列表框2")->RowCount(), 1);
}

TEST_F(WindowDatabase, LookupWritesOnlyItsOwnPagesBox)
{
    MainWindow& window = Connected(m_db, 10);
    const std::string account =
        m_db.Scalar("SELECT user_id FROM user_role ORDER BY id DESC LIMIT 1");
    const std::string newest =
        m_db.Scalar("SELECT MAX(id) FROM user_role WHERE user_id = '" + account + "'");
    ASSERT_FALSE(account.empty());
    Find<QLineEdit>("编辑框8")->setText(QStringLiteral("keep"));
    Find<QLineEdit>("编辑框9")->setText(QString::fromStdString(account));
    Find<QPushButton>("按钮4")->click();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QString::fromStdString(newest));
    EXPECT_EQ(Find<QLineEdit>("编辑框8")->text(), QStringLiteral("keep"));

    Find<QLineEdit>("编辑框7")->setText(QStringLiteral("it's nobody"));
    Find<QPushButton>("按钮3")->click();
    EXPECT_EQ(Find<QLineEdit>("编辑框8")->text(), QString());
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QString::fromStdString(newest));
    Find<QLineEdit>("编辑框7")->setText(QStringLiteral(" \u3000 "));
    Find<QLineEdit>("编辑框8")->setText(QStringLiteral("stays"));
    Find<QPushButton>("按钮3")->click();
    EXPECT_EQ(Find<QLineEdit>("编辑框8")->text(), QStringLiteral("stays"));
    (void)window;
}

TEST_F(WindowDatabase, MailRoadFromTheRoleListToTheMailTable)
{
    MainWindow& window = Connected(m_db, 12);
    CommonPage* common = window.Common();
    common->roleView()->SetSelection(2);
    const QString roleId = common->roleView()->Cell(2, ColumnIndex(RoleColumn::RoleId));
    common->PrepareRoleListMenu();
    common->sendMailAction()->trigger();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), roleId);
    EXPECT_EQ(window.Tabs()->currentIndex(), 1);

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
    Find<QPushButton>("按钮7")->click();
    ASSERT_EQ(Find<ReportView>("超级列表框6")->RowCount(), 1);
    EXPECT_EQ(Find<ReportView>("超级列表框6")->Cell(0, 1), QStringLiteral("SetA"));

    Find<QLineEdit>("编辑框11")->setText(QStringLiteral("节日 礼物"));
    Find<QLineEdit>("编辑框14")->setText(QStringLiteral("100"));
    dialogs.messages.clear();
    Find<QPushButton>("按钮5")->click();
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
    Find<QPushButton>("按钮5")->click();
    EXPECT_EQ(m_db.Scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM system_email"), "1,2");
}

} // namespace
} // namespace mrvn::test
