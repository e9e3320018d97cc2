#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/MailPage.h"
#include "app/ReportView.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace mrvn::test {
namespace {

// Every statement the window sends on the operator's roads, checked against the functions
// that every MySQL from 5.1 and every MariaDB from 5.5 knows.
class PortableSql : public WindowTest
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.statementObserver = [this](std::string_view sql) { m_sent.emplace_back(sql); };
        return env;
    }

    ScratchDatabase m_db;
    std::vector<std::string> m_sent;
};

TEST_F(PortableSql, EveryStatementOfTheWindowUsesOnlyPortableFunctions)
{
    demo::DemoOptions demo;
    demo.roles = 20;
    demo.logRowsPerTable = 5;
    ASSERT_TRUE(demo::FillDemoData(m_db.Db(), demo));
    MainWindow& window = StartedWithoutVersionCheck();

    // Connect: statistics, role list, table list; then one tick of the refresh.
    const ConnectParams params = m_db.Params();
    ConnectThroughTheWindow(params);
    ASSERT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接（默认区服）"));
    ASSERT_TRUE(QMetaObject::invokeMethod(FindIn<QTimer>(window, "时钟1"), "timeout",
                                          Qt::DirectConnection));

    // The account lookups of both pages.
    const std::string account = m_db.Scalar("SELECT user_id FROM user_role LIMIT 1");
    Find<QLineEdit>("编辑框9")->setText(QString::fromStdString(account));
    Click("按钮4");
    Find<QLineEdit>("编辑框7")->setText(QString::fromStdString(account));
    Click("按钮3");

    // A mail with an item to one role, then to two.
    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("1001"));
    dialogs.typed = {QStringLiteral("回城卷")};
    Find<QPushButton>("按钮6")->click();
    const std::string roleId = m_db.Scalar("SELECT MAX(id) FROM user_role");
    const std::string otherId = m_db.Scalar("SELECT MIN(id) FROM user_role");
    Find<QLineEdit>("编辑框10")->setText(QString::fromStdString(roleId));
    Click("按钮5");
    Find<QLineEdit>("编辑框10")->setText(QString::fromStdString(roleId + "," + otherId));
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮5");
    // And to the roles that meet every condition a filter has.
    ReceiverChoice byCondition;
    byCondition.filter = RoleFilter{.minLevel = 1, .maxLevel = 999, .offlineWithinDays = 36500};
    auto* mail = Find<MailPage>("发放邮件");
    mail->ChooseReceivers(byCondition);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮5");
    mail->ClearReceiverChoice();

    // Every kind of cleanup: older rows of every table, of the selected table, the selected
    // table emptied, one role everywhere and in the selected table, every table emptied.
    // Each is counted first; each question is answered Yes.
    auto* tables = Find<ReportView>("超级列表框1");
    ASSERT_GT(tables->RowCount(), 0);
    tables->SetSelection(0);
    Find<QLineEdit>("编辑框8")->setText(QString::fromStdString(roleId));
    const std::vector<std::vector<const char*>> ticks = {
        {}, {"选择框3"}, {"选择框2"}, {"选择框4"}, {"选择框4", "选择框5"}, {"选择框1"}};
    for (const std::vector<const char*>& tick : ticks) {
        for (const char* box : {"选择框1", "选择框2", "选择框3", "选择框4", "选择框5"})
            Find<QCheckBox>(box)->setChecked(false);
        for (const char* box : tick)
            Find<QCheckBox>(box)->setChecked(true);
        dialogs.answers = {MessageAnswer::Yes};
        Click("按钮2");
        ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>("按钮2")->isEnabled(); }, 30000));
    }

    const std::vector<std::string>& sent = m_sent;
    const auto sentWith = [&sent](const char* start) {
        return std::count_if(sent.begin(), sent.end(),
                             [start](const std::string& sql) { return sql.rfind(start, 0) == 0; });
    };
    // The roads above were really taken.
    EXPECT_GE(sentWith("INSERT INTO system_email"), 3);
    EXPECT_GE(sentWith("SHOW COLUMNS FROM user_role"), 1);
    EXPECT_GE(sentWith("SELECT COUNT(*) FROM"), 6);
    EXPECT_GE(sentWith("delete FROM"), 6);
    ExpectPortableSql(sent);
}

} // namespace
} // namespace mrvn::test
