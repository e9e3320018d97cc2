#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/Dialogs.h"
#include "app/MailPage.h"
#include "app/ZonesMailDialog.h"
#include "secrets/MemoryKeychain.h"

#include <nlohmann/json.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <set>

namespace mrvn::test {
namespace {

// Five zones: 一区 (30 roles) and 二区 (20 roles) on two databases of the throwaway server,
// 三区 on a port nothing listens on, 四区 (password asked) on 一区's database and 五区 (password
// in the keychain) on 二区's: a mail that reached one of them would double that database's rows.
class ZonesMail : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        for (auto [db, roles] : {std::pair{&m_one, 30}, std::pair{&m_two, 20}}) {
            demo::DemoOptions options;
            options.roles = roles;
            options.logRowsPerTable = 5;
            ASSERT_TRUE(demo::FillDemoData(db->Db(), options));
            db->Exec("DELETE FROM system_email");
        }
        m_one.Exec("UPDATE user_role SET name = CONCAT('甲', id)");
        m_two.Exec("UPDATE user_role SET name = CONCAT('乙', id)");
        const ConnectParams one = m_one.Params();
        std::ofstream out(Folder() / "zones.ini", std::ios::binary);
        out << "[zones]\r\norder=一区|二区|三区|四区|五区\r\ncurrent=一区\r\n"
            << Section("一区", one, "file") << Section("二区", m_two.Params(), "file");
        ConnectParams closed = one;
        closed.port = 1;
        out << Section("三区", closed, "file") << Section("四区", one, "ask")
            << Section("五区", m_two.Params(), "keychain");
        m_keychain->Write({one.host, one.port, one.user}, one.password, [](KeychainResult) {});
    }
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.keychain = m_keychain;
        return env;
    }

    static std::string Section(const std::string& name, const ConnectParams& params,
                               const std::string& place)
    {
        return "[zone." + name + "]\r\nhost=" + params.host +
               "\r\nport=" + std::to_string(params.port) + "\r\nuser=" + params.user +
               "\r\npassword=" + place + (place == "file" ? "\r\npsw=" + params.password : "") +
               "\r\ndb=" + params.database + "\r\n";
    }

    // Presses "发送到多个区服…": its dialog (one closed earlier may not be gone yet).
    ZonesMailDialog* OpenDialog()
    {
        Find<QToolButton>("多区服发送按钮")->click();
        ZonesMailDialog* shown = nullptr;
        WaitFor([&] {
            for (auto* dialog : Window().findChildren<ZonesMailDialog*>())
                shown = dialog->isVisible() ? dialog : shown;
            return shown != nullptr;
        });
        return shown;
    }

    // Types the mail, chooses `zones` (and no other) for every role, answers the questions
    // with Yes and waits for the result.
    void SendInZones(const std::string& title, const std::set<std::string>& zones)
    {
        Find<QLineEdit>("编辑框11")->setText(QString::fromStdString(title));
        ZonesMailDialog* dialog = OpenDialog();
        ASSERT_TRUE(dialog);
        auto* list = FindIn<QListWidget>(*dialog, "多区服列表");
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            const bool wanted = zones.count(item->data(Qt::UserRole).toString().toStdString());
            item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
        }
        FindIn<QCheckBox>(*dialog, "条件全部角色")->setChecked(true);
        dialogs.answers = {MessageAnswer::Yes, MessageAnswer::Yes};
        const std::size_t before = dialogs.messages.size();
        FindIn<QPushButton>(*dialog, "多区服确定")->click();
        ASSERT_TRUE(WaitFor(
            [&] {
                return dialogs.messages.size() > before &&
                       dialogs.messages.back().title == QStringLiteral("发送到多个区服");
            },
            60000))
            << Shown();
    }

    // The mails a database holds; there are no others.
    static int Mails(ScratchDatabase& db, const std::string& title)
    {
        const std::string mails =
            db.Scalar("SELECT COUNT(*) FROM system_email WHERE title = '" + title + "'");
        EXPECT_EQ(mails, db.Scalar("SELECT COUNT(*) FROM system_email"));
        return std::stoi(mails);
    }

    std::string Question() const
    {
        for (const MessageRequest& shown : dialogs.messages)
            if (shown.title == QStringLiteral("发送确认"))
                return shown.text.toStdString();
        return {};
    }
    std::string Result() const { return dialogs.messages.back().text.toStdString(); }

    std::string ZoneLine(const char* name, ScratchDatabase& db)
    {
        return std::string("区服：") + name + "（127.0.0.1:" + std::to_string(db.Params().port) +
               " / " + db.Name() + "）";
    }

    ScratchDatabase m_one;
    ScratchDatabase m_two;
    std::shared_ptr<MemoryKeychain> m_keychain = std::make_shared<MemoryKeychain>();
};

TEST_F(ZonesMail, EachZoneGetsItsOwnRolesAndTheUnreachableAreSkipped)
{
    struct Case
    {
        const char* name;
        std::set<std::string> zones;
        int one;
        int two;
        std::vector<std::string> inQuestion;
        std::vector<std::string> inResult;
        std::optional<QString> typed = {}; // the one password asked for (四区's); none: cancel
        // The zones whose mails land in 一区's and in 二区's database.
        const char* oneZone = "一区";
        const char* twoZone = "二区";
    };
    const Case cases[] = {
        {"两个区服",
         {"一区", "二区"},
         30,
         20,
         {"：30个角色", "：20个角色"},
         {"一区：已发送 30", "二区：已发送 20"}},
        // The window is connected to 一区: 二区 alone goes over a connection of its own.
        {"只发二区", {"二区"}, 0, 20, {"：20个角色"}, {"二区：已发送 20"}},
        {"跳过的区服",
         {"二区", "三区", "四区"},
         0,
         20,
         {"：20个角色", "三区：无法连接：无法连接到服务器", "四区：未输入密码"},
         {"二区：已发送 20", "三区：已跳过（无法连接", "四区：已跳过（未输入密码"}},
        // The keychain gives 五区's password, the operator types 四区's.
        {"询问密码与钥匙串",
         {"四区", "五区"},
         30,
         20,
         {"：30个角色", "：20个角色"},
         {"四区：已发送 30", "五区：已发送 20"},
         QString::fromStdString(TestServer().password),
         "四区",
         "五区"},
    };
    StartedWithoutVersionCheck();
    Click("按钮1");
    // The switch is off from the question to the result, as for a single mail.
    bool switchOffWhileAsked = true;
    QObject::connect(Find<MailPage>("发放邮件"), &MailPage::AboutToAsk, &Window(), [&] {
        switchOffWhileAsked = switchOffWhileAsked && !Find<QComboBox>("区服选择框")->isEnabled();
    });
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        dialogs.messages.clear();
        dialogs.secretsAsked.clear();
        dialogs.secrets = {row.typed};
        SendInZones(row.name, row.zones);
        // Only 四区 is asked for: the others keep their password in zones.ini or the keychain.
        const bool asksFour = row.zones.count("四区") > 0;
        ASSERT_EQ(dialogs.secretsAsked.size(), asksFour ? 1u : 0u);
        if (asksFour) {
            EXPECT_TRUE(dialogs.secretsAsked[0].contains(QStringLiteral("发送到区服“四区”")));
        }
        EXPECT_EQ(Mails(m_one, row.name), row.one);
        EXPECT_EQ(Mails(m_two, row.name), row.two);
        const std::string question = Question();
        // Each zone's count, and under it its first receivers by name.
        EXPECT_EQ(question.find(ZoneLine(row.oneZone, m_one) + "：30个角色\r\n    甲") !=
                      std::string::npos,
                  row.one > 0)
            << question;
        EXPECT_EQ(question.find("甲") != std::string::npos, row.one > 0) << question;
        EXPECT_NE(question.find(ZoneLine(row.twoZone, m_two) + "：20个角色\r\n    乙"),
                  std::string::npos)
            << question;
        for (const std::string& part : row.inQuestion)
            EXPECT_NE(question.find(part), std::string::npos) << part << "\n" << question;
        for (const std::string& part : row.inResult)
            EXPECT_NE(Result().find(part), std::string::npos) << part << "\n" << Result();
        EXPECT_TRUE(Find<QComboBox>("区服选择框")->isEnabled());
        m_one.Exec("DELETE FROM system_email");
        m_two.Exec("DELETE FROM system_email");
    }
    EXPECT_TRUE(switchOffWhileAsked);

    // Pictures of the dialog and of the last question, to be looked at.
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    MessageRequest question;
    for (const MessageRequest& shown : dialogs.messages)
        if (shown.title == QStringLiteral("发送确认") && question.text.isEmpty())
            question = shown;
    QMessageBox box;
    PrepareMessageBox(box, question);
    box.show();
    EXPECT_TRUE(box.grab().save(folder + QStringLiteral("/zones-mail-question.png")));
    ZonesMailDialog* dialog = OpenDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->grab().save(folder + QStringLiteral("/zones-mail-dialog.png")));
}

TEST_F(ZonesMail, ARerunForTheFailedZonesSendsNothingTwice)
{
    // The second run in the same run of the program, and after a restart (from the audit log).
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "after a restart" : "same run");
        const std::string title = restart ? "补偿2" : "补偿1";
        if (restart)
            CloseAndDestroyWindow();
        StartedWithoutVersionCheck();
        Click("按钮1");
        // 二区 cannot be counted at first: nothing goes there.
        m_two.Exec("RENAME TABLE user_role TO user_role_away");
        SendInZones(title, {"一区", "二区"});
        EXPECT_NE(Result().find("二区：已跳过（无法按条件查询角色"), std::string::npos) << Result();
        m_two.Exec("RENAME TABLE user_role_away TO user_role");
        EXPECT_EQ(Mails(m_one, title), 30);
        EXPECT_EQ(Mails(m_two, title), 0);
        if (restart) {
            CloseAndDestroyWindow();
            StartedWithoutVersionCheck();
            Click("按钮1");
            Find<QLineEdit>("编辑框11")->setText(QString::fromStdString(title));
        }

        // 一区 cannot be chosen again, even by a check forced onto it; in the same run the zone
        // that got nothing starts checked.
        ZonesMailDialog* dialog = OpenDialog();
        ASSERT_TRUE(dialog);
        auto* list = FindIn<QListWidget>(*dialog, "多区服列表");
        EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral("（本邮件已发送）")));
        EXPECT_EQ(dialog->Chosen(),
                  restart ? std::vector<std::string>{} : std::vector<std::string>{"二区"});
        list->item(0)->setCheckState(Qt::Checked);
        list->item(1)->setCheckState(Qt::Checked);
        EXPECT_EQ(dialog->Chosen(), std::vector<std::string>{"二区"});
        dialog->reject();
        SendInZones(title, {"一区", "二区"});
        EXPECT_EQ(Mails(m_one, title), 30);
        EXPECT_EQ(Mails(m_two, title), 20);

        // Both runs are one send in the audit log, each zone's records apart under it.
        std::ifstream log(Folder() / "mrvn-audit.log");
        std::set<std::string> sends;
        for (std::string line; std::getline(log, line);) {
            const auto record = nlohmann::json::parse(line);
            if (record.value("title", "") == title)
                sends.insert(record.value("send", "") + "|" + record.value("zone", ""));
        }
        ASSERT_EQ(sends.size(), 2u);
        const std::string id = sends.begin()->substr(0, sends.begin()->find('/'));
        EXPECT_EQ(*sends.begin(), id + "/一区|一区");
        EXPECT_EQ(*sends.rbegin(), id + "/二区|二区");

        // Each zone is an entry of the sent-mail view, resent only from its own zone.
        const SentMailLog sent = ReadSentMailLog(Folder() / "mrvn-audit.log");
        const auto other = std::find_if(sent.entries.begin(), sent.entries.end(), [&](auto& e) {
            return e.zone == "二区" && e.title == title;
        });
        ASSERT_NE(other, sent.entries.end());
        dialogs.messages.clear();
        Find<MailPage>("发放邮件")->ResendUnsent(*other, CurrentReceivers(sent, *other));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("这条记录属于区服“二区”")));
        m_one.Exec("DELETE FROM system_email");
        m_two.Exec("DELETE FROM system_email");
    }
}

} // namespace
} // namespace mrvn::test
