#include "AppTestSupport.h"
#include "TestDb.h"

#include "app/DatabaseWorker.h"
#include "app/MailPage.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

namespace mrvn::test {
namespace {

// The window connected to a scratch database with three named roles.
class MailMany : public WindowTest
{
protected:
    MainWindow& Connected()
    {
        m_db.Exec("INSERT INTO user_role (id, name) VALUES (11, '甲一'), (12, '乙二'), (13, "
                  "'丙三')");
        MainWindow& window = StartedWithoutVersionCheck();
        const ConnectParams params = m_db.Params();
        ConnectThroughTheWindow(params);
        EXPECT_TRUE(dialogs.messages.empty());
        return window;
    }
    void Send(const char* roleIds)
    {
        Find<QLineEdit>("编辑框10")->setText(QString::fromUtf8(roleIds));
        Click("按钮5");
    }
    std::string Receivers()
    {
        return m_db.Scalar(
            "SELECT GROUP_CONCAT(CONCAT(id,':',receiver_ids) ORDER BY id) FROM system_email");
    }

    ScratchDatabase m_db;
};

TEST_F(MailMany, AsksOnceThenSendsOneRowPerRole)
{
    Connected();
    dialogs.answers = {MessageAnswer::Yes};
    Send("11,12,13");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    const MessageRequest& question = dialogs.messages[0];
    EXPECT_EQ(question.title, QStringLiteral("发送确认"));
    EXPECT_EQ(question.icon, MessageIcon::Question);
    EXPECT_EQ(question.buttons, MessageButtons::YesNoDefaultNo);
    // The zone, the receivers, the money and the attachments, in this order.
    EXPECT_EQ(question.zone, QStringLiteral("区服：默认区服（127.0.0.1:%1 / %2）")
                                 .arg(m_db.Params().port)
                                 .arg(QString::fromStdString(m_db.Name())));
    EXPECT_EQ(question.text, QStringLiteral("确定要给以下3个角色发送这封邮件吗？\r\n"
                                            "  甲一（11）\r\n  乙二（12）\r\n  丙三（13）\r\n"
                                            "铜钱：0\r\n元宝：0\r\n附件：无"));
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("3个角色的邮件全部发送成功！"));
    EXPECT_EQ(dialogs.messages[1].title, QStringLiteral("邮件消息"));
    EXPECT_EQ(dialogs.messages[1].icon, MessageIcon::Information);
    EXPECT_EQ(Receivers(), "1:11,2:12,3:13");
    // The page stays as it was, ready for the next mail.
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QStringLiteral("11,12,13"));
}

// Every receiver is looked up before anything is sent: ids that are no role are named and
// nothing goes, with or without a question.
TEST_F(MailMany, IdsThatAreNoRoleAreRefusedByName)
{
    Connected();
    struct Case
    {
        const char* ids;
        const char* named;
    };
    const Case cases[] = {
        {"999999", "999999"},   {"11,abc,3", "abc,3"}, {"11,99,12,13,14,15,16", "99,14,15,16"},
        {"1 1", "11"}, // spaces go: one id "11", which is a role
        {"11,100 12", "10012"}, {"011", "011"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids);
        dialogs.messages.clear();
        dialogs.answers = {MessageAnswer::Yes};
        Send(c.ids);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        if (std::string(c.ids) == "1 1") {
            EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));
            m_db.Exec("DELETE FROM system_email");
            continue;
        }
        EXPECT_EQ(dialogs.messages[0].text,
                  QStringLiteral("以下角色ID不存在，邮件未发送给任何角色：") +
                      QString::fromUtf8(c.named));
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(m_db.Scalar("SELECT COUNT(*) FROM system_email"), "0");
    }
}

TEST_F(MailMany, ASingleIdSendsAsAlwaysWithoutAQuestion)
{
    Connected();
    Send("12");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));
    EXPECT_EQ(Receivers(), "1:12");
}

TEST_F(MailMany, CancellingDuringAStatementStopsItAndSaysWhatWasSent)
{
    MainWindow& window = Connected();
    // The statement takes its time on the server: the cancel comes while it runs, it is
    // stopped there, and its rows are looked up.
    m_db.Exec("CREATE TRIGGER slow_12 BEFORE INSERT ON system_email FOR EACH ROW BEGIN IF "
              "NEW.receiver_ids = '12' THEN SET @slept = SLEEP(2); END IF; END");
    auto* worker = FindIn<DatabaseWorker>(window, "数据库线程");
    auto* page = FindIn<MailPage>(window, "发放邮件");
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        auto* progress = page->findChild<QProgressDialog*>(QStringLiteral("发送进度"));
        if (progress && worker->WaitingMs() > 200) {
            progress->findChild<QPushButton*>()->click();
            press.stop();
        }
    });
    press.start(20);
    dialogs.answers = {MessageAnswer::Yes};
    Send("11,12,13");
    ASSERT_EQ(dialogs.messages.size(), 2u) << Shown();
    const MessageRequest& outcome = dialogs.messages[1];
    EXPECT_EQ(outcome.text, QStringLiteral("发送已取消：0个角色已发送，3个角色未发送！\r\n"
                                           "已发送：\r\n未发送：11,12,13"));
    EXPECT_EQ(outcome.icon, MessageIcon::Warning);
    EXPECT_EQ(Receivers(), "");
    EXPECT_EQ(page->findChild<QProgressDialog*>(), nullptr);
}

TEST_F(MailMany, AServerErrorOnTheSecondRowNamesWhatWasAndWasNotSent)
{
    Connected();
    m_db.Exec("CREATE TRIGGER refuse_12 BEFORE INSERT ON system_email FOR EACH ROW BEGIN IF "
              "NEW.receiver_ids = '12' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = "
              "'receiver 12 refused'; END IF; END");
    dialogs.answers = {MessageAnswer::Yes};
    Send("11,12,13");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    const MessageRequest& outcome = dialogs.messages[1];
    // One statement for the three: refused as a whole, nobody got the mail.
    EXPECT_EQ(outcome.text, QStringLiteral("邮件发送失败：0个角色已发送，3个角色未发送！\r\n"
                                           "已发送：\r\n未发送：11,12,13"));
    EXPECT_EQ(outcome.title, QStringLiteral("邮件消息"));
    EXPECT_EQ(outcome.icon, MessageIcon::Error);
    EXPECT_TRUE(outcome.details.contains(QStringLiteral("receiver 12 refused")))
        << outcome.details.toStdString();
    EXPECT_EQ(Receivers(), "");
}

TEST_F(MailMany, RefusalsAreSaidBeforeAnyQuestion)
{
    Connected();
    struct Case
    {
        const char* ids;
        const char* content;
        const char* copper;
        QString message;
    };
    const Case cases[] = {
        {"11,,12", "c", "0", QStringLiteral("请填写完整后再发送！")},
        {"11,12,11", "c", "0", QStringLiteral("收件角色ID有重复，请返回修改！")},
        {"11,12", "a\nb", "0", QStringLiteral("邮件标题和内容不可含有回车或制表符，请返回修改！")},
        {"11", "a\tb", "0", QStringLiteral("邮件标题和内容不可含有回车或制表符，请返回修改！")},
        {"11", "c", "-5", QStringLiteral("数值不能为负数，请返回修改！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids);
        dialogs.messages.clear();
        Find<QPlainTextEdit>("编辑框12")->setPlainText(QString::fromUtf8(c.content));
        Find<QLineEdit>("编辑框13")->setText(QString::fromUtf8(c.copper));
        Send(c.ids);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, c.message);
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    }
    EXPECT_EQ(m_db.Scalar("SELECT COUNT(*) FROM system_email"), "0");
}

} // namespace
} // namespace mrvn::test
