#include "AppTestSupport.h"
#include "TestDb.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace mrvn::test {
namespace {

// Mails sent from the page, as the audit trail records them.
class MailAudit : public WindowTest
{
protected:
    void Connect()
    {
        m_db.Exec("INSERT INTO user_role (id, name) VALUES (11, '甲一'), (12, '乙二')");
        StartedWithoutVersionCheck();
        const ConnectParams params = m_db.Params();
        ConnectThroughTheWindow(params);
        ASSERT_TRUE(dialogs.messages.empty());
    }
    void Send(const char* roleIds)
    {
        Find<QLineEdit>("编辑框10")->setText(QString::fromUtf8(roleIds));
        Click("按钮5");
    }
    // The server refuses every mail to role 12.
    void RefuseRole12()
    {
        m_db.Exec("CREATE TRIGGER refuse12 BEFORE INSERT ON system_email FOR EACH ROW "
                  "BEGIN IF NEW.receiver_ids = '12' THEN SIGNAL SQLSTATE '45000' "
                  "SET MESSAGE_TEXT = 'no mail for 12'; END IF; END");
    }
    // Every line of the log, each parsed as JSON (a line that is not JSON fails the test).
    std::vector<nlohmann::json> Lines()
    {
        std::vector<nlohmann::json> lines;
        std::ifstream in(Folder() / "mrvn-audit.log", std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
            EXPECT_FALSE(parsed.is_discarded()) << line;
            lines.push_back(std::move(parsed));
        }
        return lines;
    }

    ScratchDatabase m_db;
};

TEST_F(MailAudit, ASentMailIsOneLineWithWhatWentIn)
{
    Connect();
    Find<QLineEdit>("编辑框11")->setText(QStringLiteral("周末 礼包"));
    Find<QPlainTextEdit>("编辑框12")->setPlainText(QStringLiteral("祝\"玩\"得开心"));
    Find<QLineEdit>("编辑框13")->setText(QStringLiteral("500"));
    Find<QLineEdit>("编辑框14")->setText(QStringLiteral("7"));
    Send("11");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送成功！"));

    const std::vector<nlohmann::json> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    const nlohmann::json& mail = lines[0];
    EXPECT_EQ(mail["kind"], "mail");
    EXPECT_EQ(mail["receiver"], "11");
    // What the row holds: spaces removed, as the mail went in.
    EXPECT_EQ(mail["title"], "周末礼包");
    EXPECT_EQ(mail["content"], "祝\"玩\"得开心");
    EXPECT_EQ(mail["copper"], 500);
    EXPECT_EQ(mail["yuanbao"], 7);
    EXPECT_EQ(mail["attachments"], nlohmann::json::array());
    EXPECT_EQ(mail["id"], std::stoll(m_db.Scalar("SELECT MAX(id) FROM system_email")));
    EXPECT_EQ(mail["ok"], true);
    EXPECT_TRUE(mail["time"].is_string());
}

TEST_F(MailAudit, ARefusedRowIsLoggedWithTheServersReason)
{
    Connect();
    RefuseRole12();
    dialogs.answers = {MessageAnswer::Yes};
    Send("11,12");
    // One record per statement, naming each receiver with its id and outcome.
    const std::vector<nlohmann::json> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    const nlohmann::json& batch = lines[0];
    EXPECT_EQ(batch["kind"], "mail-batch");
    EXPECT_EQ(batch["ok"], false);
    EXPECT_EQ(batch["outcome"], "not sent");
    EXPECT_EQ(batch["checked"], true);
    ASSERT_EQ(batch["receivers"].size(), 2u);
    EXPECT_EQ(batch["receivers"][0]["role"], "11");
    EXPECT_EQ(batch["receivers"][0]["outcome"], "not sent");
    EXPECT_EQ(batch["receivers"][1]["role"], "12");
    EXPECT_EQ(batch["receivers"][1]["id"].get<int>(), batch["receivers"][0]["id"].get<int>() + 1);
    EXPECT_EQ(batch["errno"], 1644); // a signal raised by the trigger
    EXPECT_EQ(batch["error"], "no mail for 12");
    EXPECT_EQ(m_db.Scalar("SELECT COUNT(*) FROM system_email"), "0");
}

TEST_F(MailAudit, AFailedSingleMailShowsTheServersReasonInTheDetails)
{
    Connect();
    RefuseRole12();
    Send("12");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("邮件发送失败！"));
    EXPECT_EQ(dialogs.messages[0].details, QStringLiteral("错误号 1644：no mail for 12"));
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0]["ok"], false);
}

} // namespace
} // namespace mrvn::test
