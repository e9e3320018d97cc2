#include "AppTestSupport.h"
#include "TestDb.h"

#include "app/AuditUi.h"
#include "app/CleanupPage.h"
#include "app/CleanupQuestion.h"
#include "app/ReportView.h"
#include "cleanup/TableCleanup.h"

#include <nlohmann/json.hpp>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <cctype>
#include <fstream>
#include <map>

namespace mrvn::test {
namespace {

using nlohmann::json;

std::vector<json> AuditLines(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<json> lines;
    for (std::string line; std::getline(in, line);) {
        json parsed;
        EXPECT_NO_THROW(parsed = json::parse(line)) << line;
        lines.push_back(parsed);
    }
    return lines;
}

// The cleanup page over a database of our own tables, so every count is known:
// log_a and log_b with dated rows of roles 7, 8 and 9, `plain` without the cleanup
// columns (its statements fail), `odd``name` with one old row of role 7.
class CleanupWindow : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        for (const char* table : {"log_a", "log_b"}) {
            m_db.Exec(std::string("CREATE TABLE ") + table +
                      " (id INT PRIMARY KEY, log_update_time DATETIME NULL, "
                      "user_role_id VARCHAR(32) NULL)");
            m_db.Exec(
                std::string("INSERT INTO ") + table +
                " VALUES (1, NOW(), '7'), (2, CURDATE() - INTERVAL 2 DAY, '8'), "
                "(3, CURDATE() - INTERVAL 5 DAY, '7'), (4, CURDATE() - INTERVAL 10 DAY, '9')");
        }
        m_db.Exec("CREATE TABLE `odd``name` (id INT, log_update_time DATETIME, "
                  "user_role_id VARCHAR(32))");
        m_db.Exec("INSERT INTO `odd``name` VALUES (1, CURDATE() - INTERVAL 30 DAY, '7')");
        m_db.Exec("CREATE TABLE plain (id INT PRIMARY KEY)");
        m_db.Exec("INSERT INTO plain VALUES (1), (2)");
    }

    void Connect()
    {
        StartedWithoutVersionCheck();
        const ConnectParams params = m_db.Params();
        ConnectThroughTheWindow(params);
        dialogs.messages.clear();
        ASSERT_EQ(Tables()->RowCount(), 4);
    }

    ReportView* Tables() { return Find<ReportView>("超级列表框1"); }
    int RowOf(const char* table)
    {
        for (int row = 0; row < Tables()->RowCount(); ++row) {
            if (Tables()->Cell(row, 1) == QString::fromUtf8(table))
                return row;
        }
        ADD_FAILURE() << table;
        return -1;
    }
    std::string Ids(const std::string& quotedTable)
    {
        return m_db.Scalar("SELECT COALESCE(GROUP_CONCAT(id ORDER BY id), '') FROM " + quotedTable);
    }
    std::map<std::string, std::string> Contents()
    {
        return {{"log_a", Ids("log_a")},
                {"log_b", Ids("log_b")},
                {"odd`name", Ids("`odd``name`")},
                {"plain", Ids("plain")}};
    }
    std::vector<QString> Results()
    {
        std::vector<QString> cells;
        for (int row = 0; row < Tables()->RowCount(); ++row)
            cells.push_back(Tables()->Cell(row, 2));
        return cells;
    }
    std::filesystem::path AuditPath() { return Find<AuditTrail>("操作记录")->LogPath(); }

    ScratchDatabase m_db{false};
};

// Every way the page can delete, set up on the page.
struct DeletingCase
{
    const char* name;
    const char* tick; // the boxes ticked, by object name, separated by spaces
    const char* selected;
    const char* days;
    const char* roleId;
    // What the question must list, and what a Yes then leaves.
    std::map<std::string, std::string> listed; // table -> count text, or why it is left alone
    std::map<std::string, std::string> after;
};

std::ostream& operator<<(std::ostream& out, const DeletingCase& c)
{
    return out << c.name;
}

class CleanupQuestionAsked : public CleanupWindow,
                             public ::testing::WithParamInterface<DeletingCase>
{
protected:
    void SetUpPage(const DeletingCase& c)
    {
        for (const QString& box :
             QString::fromUtf8(c.tick).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            Find<QCheckBox>(box.toUtf8().constData())->setChecked(true);
        if (*c.selected)
            Tables()->SetSelection(RowOf(c.selected));
        Find<QLineEdit>("编辑框1")->setText(QString::fromUtf8(c.days));
        Find<QLineEdit>("编辑框8")->setText(QString::fromUtf8(c.roleId));
    }
};

const std::map<std::string, std::string> kUntouched = {
    {"log_a", "1,2,3,4"}, {"log_b", "1,2,3,4"}, {"odd`name", "1"}, {"plain", "1,2"}};

const DeletingCase kDeletingCases[] = {
    {"NothingTicked",
     "",
     "",
     "3",
     "",
     {{"log_a", "2"}, {"log_b", "2"}, {"odd`name", "1"}, {"plain", "无 log_update_time 列，跳过"}},
     {{"log_a", "1,2"}, {"log_b", "1,2"}, {"odd`name", ""}, {"plain", "1,2"}}},
    {"EmptyEveryTable",
     "选择框1",
     "",
     "3",
     "",
     {{"log_a", "4"}, {"log_b", "4"}, {"odd`name", "1"}, {"plain", "2"}},
     {{"log_a", ""}, {"log_b", ""}, {"odd`name", ""}, {"plain", ""}}},
    {"EmptySelected",
     "选择框2 选择框3",
     "log_b",
     "3",
     "",
     {{"log_b", "4"}},
     {{"log_a", "1,2,3,4"}, {"log_b", ""}, {"odd`name", "1"}, {"plain", "1,2"}}},
    {"OlderInSelected",
     "选择框3",
     "log_a",
     "0",
     "",
     {{"log_a", "4"}},
     {{"log_a", ""}, {"log_b", "1,2,3,4"}, {"odd`name", "1"}, {"plain", "1,2"}}},
    {"RoleInEveryTable",
     "选择框4",
     "",
     "3",
     "7",
     {{"log_a", "2"},
      {"log_b", "2"},
      {"odd`name", "1"},
      {"plain", "无法统计（错误号 1054），未删除"}},
     {{"log_a", "2,4"}, {"log_b", "2,4"}, {"odd`name", ""}, {"plain", "1,2"}}},
    {"RoleInSelected",
     "选择框4 选择框5",
     "log_a",
     "3",
     "8",
     {{"log_a", "1"}},
     {{"log_a", "1,3,4"}, {"log_b", "1,2,3,4"}, {"odd`name", "1"}, {"plain", "1,2"}}},
};

TEST_P(CleanupQuestionAsked, NoDeletesNothingAndYesDeletesWhatWasCounted)
{
    const DeletingCase& c = GetParam();
    Connect();
    SetUpPage(c);

    // Enter and Esc answer No: the scripted dialogs answer an unqueued question with No.
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const MessageRequest question = dialogs.messages[0];
    EXPECT_EQ(question.title, QStringLiteral("删除确认"));
    EXPECT_EQ(question.icon, MessageIcon::Question);
    EXPECT_EQ(question.buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_EQ(Contents(), kUntouched);
    EXPECT_EQ(Results(), std::vector<QString>(4));
    EXPECT_FALSE(std::filesystem::exists(AuditPath()));
    EXPECT_TRUE(Find<QPushButton>("按钮2")->isEnabled());

    // The question names each table with its count, or with why it is left alone (as its
    // result cell will), and the total.
    long long total = 0;
    for (const auto& [table, count] : c.listed) {
        SCOPED_TRACE(table);
        const QString name = QString::fromStdString(table);
        if (!std::isdigit(static_cast<unsigned char>(count[0]))) {
            const QString reason = QString::fromStdString(count);
            EXPECT_TRUE(question.text.contains(reason + QStringLiteral("：") + name))
                << question.text.toStdString();
            EXPECT_TRUE(question.details.contains(name + QStringLiteral("：") + reason));
        } else {
            const QString line =
                name + QStringLiteral("：") + QString::fromStdString(count) + QStringLiteral(" 行");
            EXPECT_TRUE(question.text.contains(line)) << question.text.toStdString();
            EXPECT_TRUE(question.details.contains(line));
            total += std::stoll(count);
        }
    }
    EXPECT_TRUE(question.text.contains(QStringLiteral("共计删除 %1 行").arg(total)))
        << question.text.toStdString();

    dialogs.messages.clear();
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("清理完成！共删除 %1 行。").arg(total));
    EXPECT_EQ(Contents(), c.after);
    // A table whose count failed is not deleted from: the question said so, and why.
    std::size_t counted = 0;
    for (const auto& [table, count] : c.listed) {
        SCOPED_TRACE(table);
        const bool skipped = !std::isdigit(static_cast<unsigned char>(count[0]));
        const QString expected = skipped
                                     ? QString::fromStdString(count)
                                     : QStringLiteral("影响行数：") + QString::fromStdString(count);
        EXPECT_EQ(Tables()->Cell(RowOf(table.c_str()), 2), expected);
        counted += skipped ? 0 : 1;
    }

    // One audit line per table deleted from, in the order they ran, saying what each did.
    const std::vector<json> lines = AuditLines(AuditPath());
    ASSERT_EQ(lines.size(), counted);
    for (const json& line : lines) {
        const std::string table = line.at("table");
        SCOPED_TRACE(table);
        ASSERT_TRUE(c.listed.count(table));
        ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c.listed.at(table)[0])));
        EXPECT_EQ(line.at("kind"), "cleanup");
        EXPECT_TRUE(QString::fromStdString(line.at("time"))
                        .contains(QRegularExpression(QStringLiteral(
                            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))));
        const std::string statement = line.at("statement");
        EXPECT_EQ(statement.rfind("delete FROM " + DbConnection::QuoteIdentifier(table), 0), 0u)
            << statement;
        // By ranges of the key where the table has one, else by LIMIT.
        EXPECT_NE(statement.find(table == "odd`name" ? " LIMIT 5000" : " BETWEEN ? AND ?"),
                  std::string::npos)
            << statement;
        EXPECT_EQ(line.at("ok"), true);
        EXPECT_EQ(line.at("outcome"), "done");
        EXPECT_EQ(line.at("affected"), std::stoll(c.listed.at(table)));
        EXPECT_EQ(line.at("chunks"), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDeletingCase, CleanupQuestionAsked,
                         ::testing::ValuesIn(kDeletingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CleanupWindow, ABadDayCountBuildsNoStatementAndSaysSo)
{
    struct Case
    {
        const char* what;
        const char* tick;
        const char* days;
    };
    const Case cases[] = {
        {"minus one, every table", "", "-1"},
        {"minus one, selected table", "选择框3", "-1"},
        {"minus zero", "", "-0"},
        {"empty", "", ""},
        {"spaces", "", "  "},
        {"a word", "选择框3", "abc"},
        {"too large", "", "99999999999999999999"},
    };
    Connect();
    Tables()->SetSelection(RowOf("log_a"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.messages.clear();
        Find<QCheckBox>("选择框3")->setChecked(*c.tick != 0);
        Find<QLineEdit>("编辑框1")->setText(QString::fromUtf8(c.days));
        dialogs.answers = {MessageAnswer::Yes};
        Click("按钮2");
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text,
                  QStringLiteral("删除之前天数输入错误，请填写0或正整数！"));
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(Contents(), kUntouched);
        EXPECT_EQ(Results(), std::vector<QString>(4));
        EXPECT_TRUE(Find<QPushButton>("按钮2")->isEnabled());
    }
    // Emptying needs no day count.
    Find<QCheckBox>("选择框3")->setChecked(false);
    Find<QCheckBox>("选择框1")->setChecked(true);
    dialogs.messages.clear();
    dialogs.answers.clear();
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("删除确认"));
}

// The count runs on the database thread: the press returns at once, the button is off
// while the run lasts, and a second press meanwhile starts nothing.
TEST_F(CleanupWindow, TheWindowStaysLiveWhileCounting)
{
    Connect();
    Find<QPushButton>("按钮2")->click();
    EXPECT_TRUE(FindIn<CleanupPage>(Window(), "清理数据")->CleanupRunning());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(Find<QPushButton>("按钮2")->isEnabled());
    FindIn<CleanupPage>(Window(), "清理数据")->CleanTables();
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("删除确认"));
    EXPECT_EQ(Contents(), kUntouched);
    EXPECT_FALSE(FindIn<CleanupPage>(Window(), "清理数据")->CleanupRunning());
}

TEST_F(CleanupWindow, NothingToDeleteSaysSoAndAsksNothing)
{
    Connect();
    Tables()->SetSelection(RowOf("log_a"));
    Find<QCheckBox>("选择框3")->setChecked(true);
    Find<QLineEdit>("编辑框1")->setText(QStringLiteral("30"));
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("没有可删除的数据。"));
    EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(dialogs.answers.size(), 1u);
    EXPECT_EQ(Contents(), kUntouched);
    EXPECT_FALSE(std::filesystem::exists(AuditPath()));
}

// A user who may delete from log_b but not read it: the count fails, the question says the
// table will not be deleted from, and a Yes keeps that promise.
TEST_F(CleanupWindow, ATableWhoseCountFailsIsNotDeletedAfterYes)
{
    const std::string user = "'c" + m_db.Name() + "'@'%'";
    const std::string db = DbConnection::QuoteIdentifier(m_db.Name());
    m_db.Exec("CREATE USER " + user + " IDENTIFIED BY 'pw'");
    for (const char* table : {"log_a", "`odd``name`", "plain"})
        m_db.Exec("GRANT SELECT, DELETE ON " + db + "." + table + " TO " + user);
    m_db.Exec("GRANT DELETE ON " + db + ".log_b TO " + user);
    StartedWithoutVersionCheck();
    ConnectParams params = m_db.Params();
    params.user = "c" + m_db.Name();
    params.password = "pw";
    ConnectThroughTheWindow(params);
    dialogs.messages.clear();
    ASSERT_EQ(Tables()->RowCount(), 4);

    Find<QCheckBox>("选择框1")->setChecked(true);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    // 1142: SELECT command denied.
    const QString skipped = QStringLiteral("无法统计（错误号 1142），未删除：log_b");
    EXPECT_TRUE(dialogs.messages[0].text.contains(skipped))
        << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(Contents().at("log_b"), "1,2,3,4");
    EXPECT_EQ(Contents().at("log_a"), "");
    EXPECT_EQ(Tables()->Cell(RowOf("log_b"), 2), QStringLiteral("无法统计（错误号 1142），未删除"));
    for (const json& line : AuditLines(AuditPath()))
        EXPECT_NE(line.at("table"), "log_b");
    m_db.Exec("DROP USER " + user);
}

// A cancel during the chunks of a large table: the chunks that answered stay deleted, the
// rest of the rows stay, and the result column, the message and the audit line agree.
TEST_F(CleanupWindow, ACancelStopsBetweenChunksAndSaysWhatWasDeleted)
{
    constexpr int kRows = 60000;
    m_db.Exec("CREATE TABLE big (id INT PRIMARY KEY, log_update_time DATETIME, "
              "user_role_id VARCHAR(32)) ENGINE=InnoDB");
    m_db.Exec("INSERT INTO big SELECT seq, CURDATE() - INTERVAL 10 DAY, '7' FROM seq_1_to_" +
              std::to_string(kRows));
    StartedWithoutVersionCheck();
    ConnectThroughTheWindow(m_db.Params());
    dialogs.messages.clear();
    auto* page = FindIn<CleanupPage>(Window(), "清理数据");
    int progressShown = 0;
    QObject::connect(page, &CleanupPage::CleanupProgress, page, [&](qint64 deleted, qint64) {
        // The progress dialog's setValue handles the events that wait, so on a slow machine a
        // later chunk's progress may be told inside the first one's, before it.
        if (++progressShown == 1) {
            EXPECT_EQ(deleted % 5000, 0);
            page->CancelCleanup();
        }
    });
    Tables()->SetSelection(RowOf("big"));
    Find<QCheckBox>("选择框2")->setChecked(true);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");

    const std::int64_t left = std::stoll(m_db.Scalar("SELECT COUNT(*) FROM big"));
    const std::int64_t deleted = kRows - left;
    EXPECT_GE(deleted, 5000);
    EXPECT_LT(deleted, kRows);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text,
              QStringLiteral("清理已取消：共删除 %1 行，其余数据保留！").arg(deleted));
    EXPECT_EQ(Tables()->Cell(RowOf("big"), 2),
              QStringLiteral("影响行数：%1（已取消）").arg(deleted));
    const std::vector<json> lines = AuditLines(AuditPath());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].at("outcome"), "cancelled");
    EXPECT_EQ(lines[0].at("ok"), false);
    EXPECT_EQ(lines[0].at("affected"), deleted);
    // The chunk the cancel's KILL reaches may answer with part of its rows deleted, or none.
    const std::int64_t chunks = lines[0].at("chunks");
    EXPECT_GE(chunks, deleted / 5000);
    EXPECT_LE(chunks, deleted / 5000 + 1);
}

// Closing the window in the middle of the chunks asks first (No the default): No lets the
// cleanup go on; Yes stops it as "取消" does, writes its audit line, and the window goes at
// once. Nothing modal stands in the way of the main window's close box meanwhile.
TEST_F(CleanupWindow, ClosingDuringTheChunksAsksThenStopsAndRecordsWhatWasDone)
{
    constexpr int kRows = 60000;
    m_db.Exec("CREATE TABLE big (id INT PRIMARY KEY, log_update_time DATETIME, "
              "user_role_id VARCHAR(32)) ENGINE=InnoDB");
    m_db.Exec("INSERT INTO big SELECT seq, CURDATE() - INTERVAL 10 DAY, '7' FROM seq_1_to_" +
              std::to_string(kRows));
    StartedWithoutVersionCheck();
    Window().show();
    ConnectThroughTheWindow(m_db.Params());
    const std::filesystem::path audit = AuditPath();
    int progressShown = 0;
    QObject::connect(FindIn<CleanupPage>(Window(), "清理数据"), &CleanupPage::CleanupProgress,
                     [&] { ++progressShown; });
    Tables()->SetSelection(RowOf("big"));
    Find<QCheckBox>("选择框2")->setChecked(true);
    dialogs.answers = {MessageAnswer::Yes};
    dialogs.messages.clear();
    Find<QPushButton>("按钮2")->click();
    ASSERT_TRUE(WaitFor([&] { return progressShown > 0; }, 30000));
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);

    struct Case
    {
        const char* what;
        MessageAnswer answer;
        bool closes;
    };
    for (const Case c :
         {Case{"no", MessageAnswer::No, false}, Case{"yes", MessageAnswer::Yes, true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(FindIn<CleanupPage>(Window(), "清理数据")->CleanupRunning());
        dialogs.messages.clear();
        dialogs.answers = {c.answer};
        QElapsedTimer closing;
        closing.start();
        EXPECT_EQ(Window().close(), c.closes);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("正在清理，是否取消并退出？"));
        EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNoDefaultNo);
        EXPECT_EQ(Window().isVisible(), !c.closes);
        if (c.closes) {
            CloseAndDestroyWindow();
            EXPECT_LT(closing.elapsed(), 5000);
        }
    }
    const std::int64_t deleted = kRows - std::stoll(m_db.Scalar("SELECT COUNT(*) FROM big"));
    const std::vector<json> lines = AuditLines(audit);
    ASSERT_EQ(lines.size(), 1u);
    // Stopped between chunks or by the KILL: exactly what was deleted. A chunk still running
    // after the half second closing waits is cut off with the connection: its rows may or may
    // not be gone, and the record says so.
    const std::string outcome = lines[0].at("outcome");
    const std::int64_t affected = lines[0].at("affected");
    if (outcome == "unknown") {
        EXPECT_LE(affected, deleted);
        EXPECT_LE(deleted, affected + kCleanupChunkRows);
    } else {
        EXPECT_EQ(outcome, "cancelled") << lines[0].dump();
        EXPECT_EQ(affected, deleted);
    }
    EXPECT_LT(deleted, kRows);
}

TEST_F(CleanupWindow, BeforeConnectingItSaysToConnectFirst)
{
    Started();
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("请先连接数据库！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
}

class CleanupAuditFails : public CleanupWindow
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = CleanupWindow::Environment();
        // A folder where the log should be: every append fails.
        env.auditLogPath = Folder() / "a folder";
        std::filesystem::create_directory(env.auditLogPath);
        return env;
    }
};

TEST_F(CleanupAuditFails, TheOperatorIsToldOncePerRun)
{
    Connect();
    Find<QCheckBox>("选择框1")->setChecked(true);
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    // The cleanup itself is carried out; the failure is told after its final message.
    EXPECT_EQ(Contents().at("log_a"), "");
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("清理完成！共删除 11 行。"));
    EXPECT_EQ(dialogs.messages[2].text,
              QStringLiteral("操作记录写入失败，mrvn-audit.log 未能保存！"));
    EXPECT_EQ(dialogs.messages[2].title, QStringLiteral("操作记录"));
    EXPECT_EQ(dialogs.messages[2].icon, MessageIcon::Warning);
    EXPECT_TRUE(dialogs.messages[2].details.contains(AuditPathText(AuditPath())));

    // Later failures of the same run, from the cleanup or a mail, pass without a box but
    // still return the failure.
    m_db.Exec("INSERT INTO log_a VALUES (1, NOW(), '7')");
    dialogs.messages.clear();
    dialogs.answers = {MessageAnswer::Yes};
    Click("按钮2");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("清理完成！共删除 1 行。"));
    MailAuditRecord mail;
    mail.receiver = "7";
    EXPECT_FALSE(Find<AuditTrail>("操作记录")->RecordMailSend(&Window(), mail));
    EXPECT_EQ(dialogs.messages.size(), 2u);
}

class CleanupAudit : public WindowTest
{
};

TEST_F(CleanupAudit, AMailRecordGoesToTheLogAndAFailureIsToldOnce)
{
    MailAuditRecord mail;
    mail.receiver = "100001";
    mail.title = "系统邮件";
    mail.content = "内容";
    mail.copper = 10;
    mail.yuanbao = 20;
    mail.attachments = {"{\\\"goodsId\\\":\\\"1\\\"}"};
    mail.id = 5;
    mail.sent = true;
    AuditTrail& audit = *Find<AuditTrail>("操作记录");
    ASSERT_TRUE(audit.RecordMailSend(&Window(), mail));
    const std::vector<json> lines = AuditLines(audit.LogPath());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].at("kind"), "mail");
    EXPECT_EQ(lines[0].at("receiver"), "100001");
    EXPECT_EQ(lines[0].at("attachments").at(0), mail.attachments[0]);
    EXPECT_EQ(lines[0].at("id"), 5);
    EXPECT_TRUE(dialogs.messages.empty());

    // A folder where the log was: every append fails.
    std::filesystem::remove(audit.LogPath());
    std::filesystem::create_directory(audit.LogPath());
    EXPECT_FALSE(audit.RecordMailSend(&Window(), mail));
    EXPECT_FALSE(audit.RecordMailSend(&Window(), mail));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("操作记录写入失败，mrvn-audit.log 未能保存！"));
}

TEST_F(CleanupAudit, TheAboutPageSaysWhereTheLogIs)
{
    Started();
    auto* about = Find<QLabel>("标签5");
    EXPECT_EQ(about->geometry(), QRect(16, 40, 464, 380));
    auto* where = Find<QLabel>("标签操作记录");
    // The folder, where the rotated logs lie too.
    EXPECT_EQ(where->text(), QStringLiteral("操作记录文件夹：") + AuditPathText(Folder()) +
                                 QStringLiteral("\nmrvn-audit.log 每满 16 MiB 依次改名为 "
                                                "mrvn-audit.log.1 至 .9"));
    // Below the text of the about label, inside the page.
    const int textBottom = about->y() + about->fontMetrics()
                                            .boundingRect(QRect(0, 0, about->width(), 10000),
                                                          Qt::TextWordWrap, about->text())
                                            .height();
    EXPECT_GE(where->y(), textBottom);
    EXPECT_LE(where->geometry().bottom(), where->parentWidget()->height());
}

// A long table list still fits a message box: tables with rows first, the rest summed up,
// every table in the details.
TEST(CleanupQuestionText, ALongListIsCutAndTheDetailsHoldEveryTable)
{
    struct Case
    {
        const char* what;
        int withRows;
        int empty;
        int failing;
    };
    const Case cases[] = {
        {"one table", 1, 0, 0},        {"nothing to delete", 0, 3, 0}, {"a few", 5, 40, 2},
        {"many with rows", 200, 0, 0}, {"many failing", 3, 10, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CleanupPreview preview;
        for (int i = 0; i < c.failing; ++i)
            preview.Add("bad_" + std::to_string(i), std::nullopt);
        for (int i = 0; i < c.empty; ++i)
            preview.Add("empty_" + std::to_string(i), 0);
        for (int i = 0; i < c.withRows; ++i)
            preview.Add("full_" + std::to_string(i), i + 1);
        const MessageRequest question = CleanupQuestion(preview);
        EXPECT_EQ(question.buttons, MessageButtons::YesNoDefaultNo);
        EXPECT_LE(question.text.count(QLatin1Char('\n')), 20) << question.text.toStdString();
        EXPECT_LE(question.text.size(), 1000);
        const QStringList details = question.details.split(QLatin1Char('\n'));
        EXPECT_EQ(details.size(), c.withRows + c.empty + c.failing);
        EXPECT_TRUE(question.text.contains(
            QStringLiteral("共计删除 %1 行").arg(c.withRows * (c.withRows + 1) / 2)));
        if (c.withRows > 0) {
            EXPECT_TRUE(question.text.contains(QStringLiteral("full_0：1 行")));
        }
        if (c.empty > 0) {
            EXPECT_TRUE(
                question.text.contains(QString::number(c.empty) + QStringLiteral(" 张表没有")));
        }
        if (c.failing > 0) {
            EXPECT_TRUE(question.text.contains(QStringLiteral("bad_0")));
        }
        // Tables with rows come before the empty ones, whatever the list order.
        if (c.withRows > 0 && c.empty > 0) {
            EXPECT_FALSE(question.text.contains(QStringLiteral("empty_0")));
        }
    }
}

} // namespace
} // namespace mrvn::test
