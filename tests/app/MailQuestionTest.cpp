#include "AppTestSupport.h"
#include "Catalogue.h"
#include "TcpRelay.h"
#include "TestDb.h"

#include "app/CommonPage.h"
#include "app/MailPage.h"
#include "app/MailQuestion.h"
#include "app/ReportView.h"
#include "app/RoleFilterDialog.h"
#include "app/SentMailView.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

namespace mrvn::test {
namespace {

// The mail page's questions: what goes out, shown before it goes.
class MailQuestionTest : public WindowTest
{
protected:
    MainWindow& Connected()
    {
        // 11 and 12 online (offline time before login time), 13 offline.
        m_db.Exec("INSERT INTO user_role (id, name, level, last_login_time, last_offline_time) "
                  "VALUES (11, '甲一', 30, 2000, 1000), (12, '乙二', 40, 2000, 1000), "
                  "(13, '丙三', 50, 1000, 2000)");
        MainWindow& window = StartedWithoutVersionCheck();
        ConnectThroughTheWindow(m_db.Params());
        EXPECT_TRUE(dialogs.messages.empty()) << Shown();
        return window;
    }
    MailPage* Page() { return Find<MailPage>("发放邮件"); }
    std::string Receivers()
    {
        return m_db.Scalar("SELECT GROUP_CONCAT(receiver_ids ORDER BY receiver_ids) FROM "
                           "system_email");
    }
    QString Server()
    {
        return QStringLiteral("区服：默认区服（127.0.0.1:%1 / %2）")
            .arg(m_db.Params().port)
            .arg(QString::fromStdString(m_db.Name()));
    }

    ScratchDatabase m_db;
};

TEST_F(MailQuestionTest, AMailToOneRoleAsksOnlyAtItsLimitAndNoSendsNothing)
{
    struct Case
    {
        const char* what;
        MailLimits limits;
        const char* copper;
        const char* yuanbao;
        MessageAnswer answer;
        bool asked;
        bool sent;
        bool viaDialog = false; // the limits typed into "设置" (an emptied box first)
    };
    const Case cases[] = {
        {"below both limits", {}, "999999", "9999", MessageAnswer::No, false, true},
        {"copper at its limit, answered No", {}, "1000000", "0", MessageAnswer::No, true, false},
        {"yuanbao above its limit, answered Yes", {}, "0", "20000", MessageAnswer::Yes, true, true},
        {"limits of 0 ask every mail", {0, 0}, "0", "0", MessageAnswer::No, true, false},
        {"limits of 0 typed into 设置", {0, 0}, "0", "0", MessageAnswer::No, true, false, true},
    };
    Connected();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_db.Exec("DELETE FROM system_email");
        if (c.viaDialog) {
            ASSERT_TRUE(SaveMailLimits(Folder() / "window.ini", {}));
            Find<QAbstractButton>("邮件设置按钮")->click();
            auto* settings = Find<QDialog>("邮件设置");
            ASSERT_TRUE(settings);
            auto* copper = FindIn<QLineEdit>(settings, "铜钱上限");
            EXPECT_EQ(copper->text(), QStringLiteral("1000000"));
            FindIn<QLineEdit>(settings, "元宝上限")->setText(QStringLiteral("0"));
            auto* ok = settings->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            copper->clear();
            ok->click();
            EXPECT_TRUE(settings->isVisible());
            copper->setText(QStringLiteral("0"));
            ok->click();
            EXPECT_FALSE(settings->isVisible());
        } else {
            ASSERT_TRUE(SaveMailLimits(Folder() / "window.ini", c.limits));
        }
        dialogs.messages.clear();
        dialogs.answers = {c.answer};
        Find<QLineEdit>("编辑框10")->setText(QStringLiteral("11"));
        Find<QLineEdit>("编辑框13")->setText(QString::fromUtf8(c.copper));
        Find<QLineEdit>("编辑框14")->setText(QString::fromUtf8(c.yuanbao));
        Click("按钮5");
        ASSERT_EQ(dialogs.messages.size(), c.asked && !c.sent ? 1u : c.asked ? 2u : 1u) << Shown();
        const MessageRequest& first = dialogs.messages[0];
        EXPECT_EQ(first.buttons == MessageButtons::YesNoDefaultNo, c.asked);
        if (c.asked) {
            EXPECT_EQ(first.zone, Server());
            EXPECT_TRUE(first.text.startsWith(QStringLiteral("确定要给以下1个角色")))
                << first.text.toStdString();
        }
        EXPECT_EQ(Receivers(), c.sent ? "11" : "");
    }
}

TEST_F(MailQuestionTest, TheQuestionShowsZoneReceiversMoneyAndItemsInThisOrder)
{
    Connected();
    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10086"));
    Find<QLineEdit>("编辑框16")->setText(QStringLiteral("5"));
    dialogs.typed = {QStringLiteral("金疮药")};
    Click("按钮6");
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("11,12"));
    Find<QLineEdit>("编辑框13")->setText(QStringLiteral("1234567"));
    Find<QLineEdit>("编辑框14")->setText(QStringLiteral("50"));
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 1u) << Shown();
    EXPECT_EQ(dialogs.messages[0].zone, Server());
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("确定要给以下2个角色发送这封邮件吗？\r\n"
                                        "  甲一（11）\r\n  乙二（12）\r\n"
                                        "铜钱：1,234,567（达到提醒上限 1,000,000）\r\n"
                                        "元宝：50\r\n附件：1件\r\n  金疮药 × 5"));
    EXPECT_EQ(Receivers(), "");
}

// The set of receivers a filter gives is taken for the question; a refresh between the
// question and the sending changes nothing of it.
TEST_F(MailQuestionTest, TheFilteredSetIsFrozenAtTheQuestion)
{
    MainWindow& window = Connected();
    auto* common = Find<CommonPage>("常用功能");
    common->PrepareRoleListMenu();
    FindIn<QAction>(common, "按条件选择角色")->trigger();
    auto* filter = window.findChild<RoleFilterDialog*>();
    ASSERT_NE(filter, nullptr);
    // Online now is the first condition offered; its count comes from the server.
    auto* count = FindIn<QLabel>(filter, "条件角色数");
    EXPECT_TRUE(WaitFor([&] { return count->text() == QStringLiteral("符合条件：2 个角色"); }))
        << count->text().toStdString();
    FindIn<QPushButton>(filter, "条件确定")->click();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QStringLiteral("按条件：在线"));

    QObject::connect(Page(), &MailPage::AboutToAsk, [&] {
        // 12 goes offline and 13 comes online, and the list refreshes meanwhile.
        m_db.Exec("UPDATE user_role SET last_offline_time = 3000 WHERE id = 12");
        m_db.Exec("UPDATE user_role SET last_login_time = 4000 WHERE id = 13");
        window.Refresh();
    });
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 2u) << Shown();
    EXPECT_TRUE(dialogs.messages[0].text.contains(
        QStringLiteral("确定要给以下2个角色发送这封邮件吗？\r\n  甲一（11）\r\n  乙二（12）")));
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("2个角色的邮件全部发送成功！"));
    EXPECT_EQ(Receivers(), "11,12");
    EXPECT_EQ(Find<ReportView>("超级列表框4")->Cell(0, 14), QStringLiteral("11"));
}

TEST_F(MailQuestionTest, MailingEveryRoleAsksASecondTimeNamingTheCount)
{
    Connected();
    ReceiverChoice every;
    every.filter = RoleFilter{};
    every.description = QStringLiteral("按条件：全部角色");
    Page()->ChooseReceivers(every);
    dialogs.answers = {MessageAnswer::Yes, MessageAnswer::No};
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 2u) << Shown();
    EXPECT_EQ(dialogs.messages[1].text,
              QStringLiteral("这封邮件将发给本服务器的全部 3 个角色！\r\n请再次确认是否发送？"));
    EXPECT_EQ(dialogs.messages[1].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_EQ(Receivers(), "");
}

// With a catalogue beside the program, attachment ids it does not hold are named before the
// mail goes, No the default; the name prompt offers the catalogue's name of a typed id.
TEST_F(MailQuestionTest, AttachmentIdsTheCatalogueDoesNotKnowAreAskedAbout)
{
    ASSERT_TRUE(catalogue::WriteCatalogue(Folder() / "goods.jat.json", 50));
    Connected();
    for (const std::string& id : {catalogue::RecordId(7), std::string("8888888")}) {
        Find<QLineEdit>("编辑框15")->setText(QString::fromStdString(id));
        dialogs.typed = {QStringLiteral("x")};
        Click("按钮6");
        ASSERT_TRUE(WaitFor([&] {
            return Find<ReportView>("超级列表框5")->RowCount() == 2 || dialogs.typed.empty();
        }));
    }
    ASSERT_EQ(dialogs.inputs.size(), 2u);
    EXPECT_FALSE(dialogs.inputs[0].initial.isEmpty());
    EXPECT_NE(dialogs.inputs[0].initial, QString::fromStdString(catalogue::RecordId(7)));
    EXPECT_EQ(dialogs.inputs[1].initial, QStringLiteral("8888888"));
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("11"));
    Find<QPushButton>("按钮5")->click();
    ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); })) << Shown();
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("以下物品ID在物品库（goods.jat.json）中不存在：8888888\r\n"
                             "仍要发送这封邮件吗？"));
    EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(Receivers(), "");
}

TEST_F(MailQuestionTest, ADoubleClickOnAResultLineFillsTheItemFields)
{
    StartedWithoutVersionCheck();
    auto* results = Find<QPlainTextEdit>("编辑框20");
    results->setPlainText(
        QStringLiteral("id：10086|金疮药|颜色：1|职业：0\nid：20001|神兵|颜色：5|职业：2"));
    const QRect second =
        results->cursorRect(QTextCursor(results->document()->findBlockByNumber(1)));
    QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(Find<QLineEdit>("编辑框15")->text(), QStringLiteral("20001"));
    // The name prompt of "先加入物品表" offers the picked item's name.
    Click("按钮6");
    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_EQ(dialogs.inputs[0].initial, QStringLiteral("神兵"));
}

// A send whose second statement loses its answer (the relay drops it and stops), cancelled
// while the tool waits: the first 500 receivers are sent, the next 500 unknown, the last not
// sent. The sent-mail view's resend looks the unknown ones up (they are there) and sends only
// to the last one, after the question: every role ends with exactly one row.
TEST_F(MailQuestionTest, TheSentMailViewResendsOnlyToTheRolesWithoutARow)
{
    m_db.Exec("INSERT INTO user_role (id, name) SELECT 100000 + seq, CONCAT('r', seq) FROM "
              "seq_1_to_1001");
    TcpRelay relay(m_db.Params().port);
    ASSERT_TRUE(relay.Start());
    ConnectParams params = m_db.Params();
    params.host = "127.0.0.1";
    params.port = relay.Port();
    MainWindow& window = StartedWithoutVersionCheck();
    ConnectThroughTheWindow(params);
    ASSERT_TRUE(dialogs.messages.empty()) << Shown();
    // The content stands right before the receiver in an INSERT's row, nowhere else.
    Find<QPlainTextEdit>("编辑框12")->setPlainText(QStringLiteral("resendtest"));
    relay.LoseAnswerTo("resendtest','100501'", true);
    QStringList ids;
    for (int i = 1; i <= 1001; ++i)
        ids << QString::number(100000 + i);
    Find<QLineEdit>("编辑框10")->setText(ids.join(u','));
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        auto* progress = Page()->findChild<QProgressDialog*>(QStringLiteral("发送进度"));
        if (progress && relay.AnswerLost()) {
            progress->findChild<QPushButton*>()->click();
            press.stop();
        }
    });
    press.start(20);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 2u) << Shown();
    EXPECT_TRUE(dialogs.messages[1].text.startsWith(
        QStringLiteral("与服务器的连接中断：500个角色已发送，500个角色结果未知，1个角色未发送！")))
        << dialogs.messages[1].text.toStdString();

    ASSERT_TRUE(relay.Start());
    Page()->ShowSentMail();
    auto* view = window.findChild<SentMailView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !view->Reading() && view->Shown().size() == 1; }));
    auto* entries = FindIn<ReportView>(view, "发件记录列表");
    EXPECT_EQ(entries->Cell(0, 7), QStringLiteral("500/1001 已发送"));
    entries->SetSelection(0);
    auto* receivers = FindIn<ReportView>(view, "收件角色列表");
    ASSERT_EQ(receivers->RowCount(), 1001);
    EXPECT_EQ(receivers->Cell(500, 2), QStringLiteral("结果未知"));
    EXPECT_EQ(receivers->Cell(1000, 2), QStringLiteral("未发送"));

    dialogs.messages.clear();
    dialogs.answers = {MessageAnswer::Yes};
    FindIn<QPushButton>(view, "重发未成功的")->click();
    ASSERT_TRUE(WaitFor([&] { return dialogs.messages.size() == 3; }, 30000)) << Shown();
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("核对结果：500 个结果未知的角色已收到邮件，不再重发。"));
    EXPECT_TRUE(dialogs.messages[1].text.contains(
        QStringLiteral("确定要给以下1个角色发送这封邮件吗？\r\n  r1001（101001）")))
        << dialogs.messages[1].text.toStdString();
    EXPECT_EQ(dialogs.messages[2].text, QStringLiteral("1个角色的邮件全部发送成功！"));
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(m_db.Scalar("SELECT CONCAT(COUNT(*), '/', COUNT(DISTINCT receiver_ids)) FROM "
                          "system_email"),
              "1001/1001");
    // The view, read again, counts every receiver of the send as sent.
    ASSERT_TRUE(WaitFor([&] { return !view->Reading() && view->Shown().size() == 2; }));
    entries->SetSelection(1);
    for (int row : {0, 500, 1000})
        EXPECT_EQ(receivers->Cell(row, 2), QStringLiteral("已发送")) << row;
    // Closed, it lets go of the log; opened again, it reads it again.
    view->close();
    EXPECT_TRUE(view->Log().entries.empty() && entries->RowCount() == 0);
    Page()->ShowSentMail();
    EXPECT_TRUE(WaitFor([&] { return !view->Reading() && entries->RowCount() == 2; }));
}

} // namespace
} // namespace mrvn::test
