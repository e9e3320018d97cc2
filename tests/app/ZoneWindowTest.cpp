#include "AppTestSupport.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/CommonPage.h"
#include "app/DatabaseWorker.h"
#include "app/MailPage.h"
#include "app/ReportView.h"
#include "app/ZonesDialog.h"
#include "config/Zones.h"

#include <nlohmann/json.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <fstream>
#include <thread>

namespace mrvn::test {
namespace {

// Two zones on two databases of the throwaway server: 一区 with 30 roles named 甲…, 二区
// with 20 roles named 乙…, each with its own online count, so nothing of one can pass for
// the other.
class ZoneWindow : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Fill(m_one, 30, "甲", "1111");
        Fill(m_two, 20, "乙", "2222");
        std::ofstream out(Folder() / "zones.ini", std::ios::binary);
        out << "[zones]\r\norder=一区|二区\r\ncurrent=一区\r\n"
            << Section("一区", m_one) << Section("二区", m_two);
    }

    static void Fill(ScratchDatabase& db, int roles, const std::string& mark,
                     const std::string& online)
    {
        demo::DemoOptions options;
        options.roles = roles;
        options.logRowsPerTable = 5;
        ASSERT_TRUE(demo::FillDemoData(db.Db(), options));
        db.Exec("UPDATE user_role SET name = CONCAT('" + mark + "', id)");
        db.Exec("UPDATE server_real_time_total_data SET online_count = " + online);
    }

    static std::string Section(const std::string& name, ScratchDatabase& db)
    {
        const ConnectParams params = db.Params();
        return "[zone." + name + "]\r\nhost=" + params.host +
               "\r\nport=" + std::to_string(params.port) + "\r\nuser=" + params.user +
               "\r\npassword=file\r\npsw=" + params.password + "\r\ndb=" + params.database + "\r\n";
    }

    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        // Holds the database thread at the statistics statement while asked to.
        env.statementObserver = [this](std::string_view sql) {
            if (!m_hold.load() || sql.find("server_real_time_total_data") == sql.npos)
                return;
            m_hold = false;
            m_held = true;
            for (int i = 0; i < 1000 && !m_release.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        return env;
    }

    MainWindow& ConnectedToOne()
    {
        MainWindow& window = StartedWithoutVersionCheck();
        Click("按钮1");
        EXPECT_EQ(Roles()->RowCount(), 30) << Shown();
        return window;
    }

    void Choose(const char* zone)
    {
        auto* combo = Find<QComboBox>("区服选择框");
        combo->setCurrentIndex(combo->findText(QString::fromUtf8(zone)));
    }

    ReportView* Roles() { return Find<ReportView>("超级列表框4"); }

    std::string ZoneLine(const char* name, ScratchDatabase& db)
    {
        return std::string("区服：") + name + "（127.0.0.1:" + std::to_string(db.Params().port) +
               " / " + db.Name() + "）";
    }

    ScratchDatabase m_one;
    ScratchDatabase m_two;
    std::atomic<bool> m_hold{false};
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_release{false};
};

TEST_F(ZoneWindow, ASwitchDuringARefreshShowsOnlyTheNewZonesRowsAndCounts)
{
    enum class When { AnswerOnItsWay, StatementRunning };
    for (const When when : {When::AnswerOnItsWay, When::StatementRunning}) {
        SCOPED_TRACE(when == When::AnswerOnItsWay ? "answer on its way" : "statement running");
        MainWindow& window = ConnectedToOne();
        // From the switch on, no row or count of 一区 may ever be shown.
        bool switched = false;
        bool oldSeen = false;
        ReportView* stats = Find<ReportView>("超级列表框2");
        const auto lookAtRoles = [&] {
            for (int row = 0; switched && row < Roles()->RowCount(); ++row)
                oldSeen = oldSeen || Roles()->Cell(row, 1).startsWith(QStringLiteral("甲"));
        };
        const auto lookAtStats = [&] {
            oldSeen = oldSeen || (switched && stats->RowCount() > 0 &&
                                  stats->Cell(0, 2) == QStringLiteral("1111"));
        };
        for (const auto& [model, look] :
             {std::pair<QAbstractItemModel*, std::function<void()>>{&Roles()->Model(), lookAtRoles},
              {&stats->Model(), lookAtStats}}) {
            QObject::connect(model, &QAbstractItemModel::modelReset, &window, look);
            QObject::connect(model, &QAbstractItemModel::rowsInserted, &window, look);
            QObject::connect(model, &QAbstractItemModel::dataChanged, &window, look);
        }
        if (when == When::AnswerOnItsWay) {
            window.Refresh();
            // The refresh is done on the database thread and its answer waits for the
            // window's thread, which has not looked at its events since.
            std::atomic<bool> reached{false};
            auto* worker = window.findChild<DatabaseWorker*>(QStringLiteral("数据库线程"));
            worker->Run(
                &window, [&](DbConnection&) { return reached.store(true), 0; }, [](int) {});
            for (int i = 0; i < 2000 && !reached.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ASSERT_TRUE(reached.load());
        } else {
            m_release = false;
            m_hold = true;
            window.Refresh();
            ASSERT_TRUE(WaitFor([&] { return m_held.load(); }));
        }
        switched = true;
        Choose("二区");
        // Cleared at once, before the new zone answers.
        EXPECT_EQ(Roles()->RowCount(), 0);
        EXPECT_EQ(Find<ReportView>("超级列表框1")->RowCount(), 0);
        m_release = true;
        ASSERT_TRUE(WaitIdle());
        EXPECT_FALSE(oldSeen);
        ASSERT_EQ(Roles()->RowCount(), 20);
        EXPECT_TRUE(Roles()->Cell(19, 1).startsWith(QStringLiteral("乙")));
        EXPECT_EQ(Find<ReportView>("超级列表框2")->Cell(0, 2), QStringLiteral("2222"));
        EXPECT_GT(Find<ReportView>("超级列表框1")->RowCount(), 0);
        EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接（二区）"));
        EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral(" - 二区")));
        EXPECT_EQ(Find<QLineEdit>("编辑框6")->text(), QString::fromStdString(m_two.Name()));
        EXPECT_TRUE(FindIn<QTimer>(window, "时钟1")->isActive());
        EXPECT_TRUE(dialogs.messages.empty()) << Shown();
        CloseAndDestroyWindow();
        // The next start comes back to the zone chosen last.
        EXPECT_EQ(ZonesFile(Folder() / "zones.ini", ConfigPath()).Load().list.current, "二区");
        ZonesFile(Folder() / "zones.ini", ConfigPath()).Update([](ZoneList& list) {
            list.current = "一区";
            return true;
        });
    }
}

TEST_F(ZoneWindow, ASwitchClearsTheReceiversAndTheRoleSelection)
{
    MainWindow& window = ConnectedToOne();
    auto* common = FindIn<CommonPage>(window, "常用功能");
    Roles()->SetSelection(3);
    common->PrepareRoleListMenu();
    FindIn<QAction>(common, "发送在线邮件")->trigger();
    Find<QLineEdit>("编辑框8")->setText(QStringLiteral("100004"));
    ASSERT_FALSE(Find<QLineEdit>("编辑框10")->text().isEmpty());

    Choose("二区");
    ASSERT_TRUE(WaitIdle());
    struct Case
    {
        const char* what;
        bool cleared;
    };
    common->PrepareRoleListMenu();
    const Case cases[] = {
        {"receiver box", Find<QLineEdit>("编辑框10")->text().isEmpty()},
        {"cleanup role id", Find<QLineEdit>("编辑框8")->text().isEmpty()},
        {"role selection", Roles()->Selection() == -1 && Roles()->SelectedRows().empty()},
        {"menu's role", !FindIn<QAction>(common, "发送在线邮件")->isEnabled()},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(c.cleared) << c.what;
}

TEST_F(ZoneWindow, MailsAndCleanupsNameTheirZoneInQuestionsResultsAndTheAuditLog)
{
    MainWindow& window = ConnectedToOne();
    Choose("二区");
    ASSERT_TRUE(WaitIdle());
    // The common page as the operator sees it after the switch.
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/zone-common-page.png")));
    auto* combo = Find<QComboBox>("区服选择框");
    std::vector<std::pair<bool, QString>> whileSending;
    // Seen each time the database thread takes work, after the window has handled it.
    QObject::connect(window.findChild<DatabaseWorker*>(), &DatabaseWorker::BusyChanged, &window,
                     [&](bool busy) {
                         if (busy)
                             whileSending.emplace_back(combo->isEnabled(), combo->toolTip());
                     });
    dialogs.answers = {MessageAnswer::Yes};
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("100001,100002"));
    Click("按钮5");
    ASSERT_FALSE(whileSending.empty());
    EXPECT_FALSE(whileSending.back().first);
    EXPECT_EQ(whileSending.back().second, QStringLiteral("正在发送邮件，发送结束后才能切换区服"));
    EXPECT_TRUE(combo->isEnabled());

    FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(2);
    auto* tables = Find<ReportView>("超级列表框1");
    for (int row = 0; row < tables->RowCount(); ++row) {
        if (tables->Cell(row, 1) == QStringLiteral("role_email"))
            tables->SetSelection(row);
    }
    Find<QCheckBox>("选择框2")->setChecked(true);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 4u) << Shown();
    const std::string line = ZoneLine("二区", m_two);
    for (const MessageRequest& shown : dialogs.messages)
        EXPECT_EQ(shown.zone.toStdString(), line) << shown.text.toStdString();
    EXPECT_EQ(m_two.Scalar("SELECT COUNT(*) FROM system_email"), "2");
    EXPECT_EQ(m_one.Scalar("SELECT COUNT(*) FROM system_email"), "0");

    std::ifstream in(Folder() / "mrvn-audit.log");
    int records = 0;
    for (std::string text; std::getline(in, text); ++records) {
        const nlohmann::json record = nlohmann::json::parse(text);
        EXPECT_EQ(record["zone"], "二区") << text;
        EXPECT_EQ(record["server"], "127.0.0.1:" + std::to_string(m_two.Params().port));
        EXPECT_EQ(record["database"], m_two.Name());
    }
    EXPECT_EQ(records, 2); // one statement of two mails, one table

    // The question as the operator sees it.
    QMessageBox box(&window);
    PrepareMessageBox(box, dialogs.messages[0]);
    box.show();
    EXPECT_TRUE(box.grab().save(folder + QStringLiteral("/zone-mail-question.png")));
    EXPECT_TRUE(ShownText(dialogs.messages[0]).startsWith(QString::fromStdString(line + "\n")));
}

TEST_F(ZoneWindow, AnOldConfigDatBecomesTheDefaultZoneAndKeepsItsSystemKeys)
{
    std::filesystem::remove(Folder() / "zones.ini");
    const ConnectParams one = m_one.Params();
    const std::string config = "[system]\r\nip=" + one.host +
                               "\r\nport=" + std::to_string(one.port) + "\r\nuser=" + one.user +
                               "\r\npsw=" + one.password + "\r\ndb=" + one.database +
                               "\r\n[itemlist]\r\nlist=\xC0\xF1\xB0\xFC\r\n";
    std::ofstream(ConfigPath(), std::ios::binary) << config;
    MainWindow& window = StartedWithoutVersionCheck();
    auto* combo = Find<QComboBox>("区服选择框");
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("默认区服"));
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral(" - 默认区服")));
    Click("按钮1");
    EXPECT_EQ(Roles()->RowCount(), 30);
    CloseAndDestroyWindow();

    // What an earlier version reads is byte for byte what it wrote.
    std::ifstream in(ConfigPath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), config);
    const LoadedZones zones = ZonesFile(Folder() / "zones.ini", ConfigPath()).Load();
    EXPECT_EQ(zones.state, ZonesFileState::Loaded);
    ASSERT_EQ(zones.list.zones.size(), 1u);
    EXPECT_EQ(zones.list.current, "默认区服");
    EXPECT_EQ(zones.list.zones[0].password, PasswordPlace::File);
    EXPECT_EQ(ZoneBoxes(zones.list.zones[0]).psw, one.password);
}

TEST_F(ZoneWindow, AZonesIniWithFaultsLoadsTheRestAndSaysWhatItSkipped)
{
    std::ofstream(Folder() / "zones.ini", std::ios::app | std::ios::binary)
        << "what is this\r\n[zone.一区]\r\nhost=elsewhere\r\n[zone.三区]\r\nflavour=sweet\r\n";
    StartedWithoutVersionCheck();
    auto* combo = Find<QComboBox>("区服选择框");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2), QStringLiteral("三区"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const QString said = dialogs.messages[0].text;
    for (const char* line :
         {"第18行：无法识别“what is this”", "第19行：区服名称“一区”与前面的区服重复",
          "第22行：未知的设置“flavour”"})
        EXPECT_TRUE(said.contains(QString::fromUtf8(line))) << said.toStdString();
}

TEST_F(ZoneWindow, TheManageDialogChangesTheFileAndTheWindowFollows)
{
    MainWindow& window = ConnectedToOne();
    dialogs.typed = {QStringLiteral("三区"), QStringLiteral("壹区")};
    dialogs.answers = {MessageAnswer::No, MessageAnswer::Yes};
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<ZonesDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->AddZone();
        dialog->findChild<QListWidget*>(QStringLiteral("区服列表"))->setCurrentRow(0);
        dialog->RenameZone();
        dialog->DeleteZone(); // the zone in use: refused
        dialog->findChild<QListWidget*>(QStringLiteral("区服列表"))->setCurrentRow(1);
        dialog->DeleteZone(); // 否
        dialog->DeleteZone(); // 是
        dialog->findChild<QListWidget*>(QStringLiteral("区服列表"))->setCurrentRow(1);
        dialog->MoveZone(-1);
        dialog->ChooseColor(2);
        const QString folder =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
        QDir().mkpath(folder);
        dialog->grab().save(folder + QStringLiteral("/zone-dialog.png"));
        dialog->accept();
    });
    Find<QPushButton>("按钮区服")->click();
    const ZoneList list = ZonesFile(Folder() / "zones.ini", ConfigPath()).Load().list;
    ASSERT_EQ(list.zones.size(), 2u);
    EXPECT_EQ(list.zones[0].name, "三区");
    EXPECT_EQ(list.zones[0].color, ZonePalette()[2]);
    EXPECT_EQ(list.zones[1].name, "壹区");
    ASSERT_EQ(dialogs.messages.size(), 3u) << Shown();
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("正在使用的区服不能删除，请先切换到其他区服！"));
    EXPECT_EQ(dialogs.messages[1].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_EQ(dialogs.messages[1].informative, QStringLiteral("区服名称：二区"));
    auto* combo = Find<QComboBox>("区服选择框");
    EXPECT_EQ(combo->currentText(), QStringLiteral("壹区"));
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：已连接（壹区）"));
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral(" - 壹区")));
}

} // namespace
} // namespace mrvn::test
