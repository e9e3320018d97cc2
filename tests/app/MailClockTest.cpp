#include "AppTestSupport.h"
#include "TestDb.h"

#include <QLineEdit>
#include <QPushButton>

#include <ctime>

namespace mrvn::test {
namespace {

// 2014-07-06 04:00:00 UTC: the moment the attachment is added.
constexpr std::time_t kAdded = 1404619200;
// An hour and 17 seconds later: the moment the mail is sent.
constexpr std::time_t kSent = kAdded + 3600 + 17;

// The window on a clock the test sets, connected to a scratch database with two roles.
class MailClock : public WindowTest
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.clock = [this] { return m_now; };
        return env;
    }

    void Connect()
    {
        m_db.Exec("INSERT INTO user_role (id, name) VALUES (11, '甲一'), (12, '乙二')");
        StartedWithoutVersionCheck();
        const ConnectParams params = m_db.Params();
        const std::pair<const char*, QString> boxes[] = {
            {"编辑框2", QString::fromStdString(params.host)},
            {"编辑框3", QString::number(params.port)},
            {"编辑框4", QString::fromStdString(params.user)},
            {"编辑框5", QString::fromStdString(params.password)},
            {"编辑框6", QString::fromStdString(params.database)},
        };
        for (const auto& [box, text] : boxes)
            Find<QLineEdit>(box)->setText(text);
        Click("按钮1");
        ASSERT_TRUE(dialogs.messages.empty());
    }

    // Adds item 10001 with the given day count at the current test time.
    void AddItem(const char* days)
    {
        Find<QLineEdit>("编辑框18")->setText(QString::fromUtf8(days));
        Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10001"));
        dialogs.typed = {QStringLiteral("回城卷")};
        Find<QPushButton>("按钮6")->click();
    }

    void Send(const char* roleIds)
    {
        Find<QLineEdit>("编辑框10")->setText(QString::fromUtf8(roleIds));
        Click("按钮5");
    }

    std::string Stored(const std::string& column)
    {
        return m_db.Scalar("SELECT GROUP_CONCAT(" + column + " ORDER BY id) FROM system_email");
    }

    std::time_t m_now = 0;
    ScratchDatabase m_db;
};

TEST_F(MailClock, TheMailIsStampedWhenSentAndTheItemExpiresDaysAfterItWasAdded)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    m_now = kAdded;
    AddItem("7");
    AddItem("0");
    m_now = kSent;
    Send("11");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));

    // Milliseconds since 1970: the moment of sending for both times of the mail.
    EXPECT_EQ(Stored("create_time"), "1404622817000");
    EXPECT_EQ(Stored("valid_time"), "1404622817000");
    // Seven whole days after the item was added (1404619200 + 7 × 86400 seconds).
    EXPECT_EQ(Stored("JSON_EXTRACT(attachments, '$[0].expireTime')"), "1405224000000");
    // "0" days is unlimited whatever the clock says.
    EXPECT_EQ(Stored("JSON_EXTRACT(attachments, '$[1].expireTime')"), "0");
}

TEST_F(MailClock, EveryRoleOfOneSendingGetsTheSameStamp)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    m_now = kAdded;
    AddItem("1");
    m_now = kSent;
    dialogs.answers = {MessageAnswer::Yes};
    Send("11,12");
    EXPECT_EQ(Stored("receiver_ids"), "11,12");
    EXPECT_EQ(Stored("create_time"), "1404622817000,1404622817000");
    EXPECT_EQ(Stored("valid_time"), "1404622817000,1404622817000");
    // One day after the item was added, in both rows.
    EXPECT_EQ(Stored("JSON_EXTRACT(attachments, '$[0].expireTime')"),
              "1404705600000,1404705600000");
}

} // namespace
} // namespace mrvn::test
