#include "mail/MailDispatch.h"
#include "mail/MailArchive.h"
#include "mail/MailItem.h"

#include "CaseRows.h"
#include "TcpRelay.h"
#include "TestDb.h"
#include "app/Texts.h"
#include "config/ConfigFile.h"
#include "db/DbConnection.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace mrvn {
namespace {

constexpr std::time_t kNow = 1404619200;

MailFields Defaults()
{
    return MailFields{"12345", "系统邮件", "系统邮件请勿回复！(内容不可用回车,空格)", "0", "100"};
}

TEST(MailFieldsComplete, NeedsAllFiveAndIntegerMoney)
{
    struct Case
    {
        MailFields fields;
        bool complete;
    };
    const Case cases[] = {
        {Defaults(), true},
        {{"", "t", "c", "0", "0"}, false},
        {{"1", " 　", "c", "0", "0"}, false},
        {{"1", "t", "", "0", "0"}, false},
        {{"1", "t", "c", "", "0"}, false},
        {{"1", "t", "c", "0", " "}, false},
        {{"1", "t", "c", "-", "0"}, false},
        {{"1", "t", "c", "0", "abc"}, false},
        {{"1", "t", "c", "1.5", "0"}, false},
        {{"1", "t", "c", "99999999999999999999", "0"}, false},
        {{"1", "t", "c", " 5 ", "1 000"}, true},
        {{"role x", "t", "c", "0", "0"}, true}, // the role id need not be a number
    };
    for (const Case& c : cases)
        EXPECT_EQ(MailFieldsComplete(c.fields), c.complete)
            << c.fields.roleId << "/" << c.fields.title << "/" << c.fields.content << "/"
            << c.fields.copper << "/" << c.fields.yuanbao;
}

TEST(JoinAttachments, EmptyWithoutEntriesBracketedOtherwise)
{
    EXPECT_EQ(JoinAttachments({}), "");
    EXPECT_EQ(JoinAttachments({"a"}), "[a]");
    EXPECT_EQ(JoinAttachments({"a", "b"}), "[a,b]");
    EXPECT_EQ(JoinAttachments({"", ""}), "[,]");
}

TEST(MailHelpText, AdvisesCheckingNeverDeletingAndKeepsItsThirdPoint)
{
    const std::string text = kMailHelpText;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "帮助说明：");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[8], "");
    // Point 1: the failure's details and the sent-mail record; point 2: the role's mail rows.
    EXPECT_NE(lines[2].find("显示详情…"), std::string::npos);
    EXPECT_NE((lines[2] + lines[3]).find("发件记录"), std::string::npos);
    EXPECT_NE(lines[6].find("角色ID"), std::string::npos);
    // Following the old advice wiped every player's mail.
    EXPECT_EQ(text.find("请清空"), std::string::npos);
    EXPECT_EQ(lines[9], "3.物品库查出来的ID不能使用？");
    EXPECT_EQ(lines[11], "  将您自己Server\\config\\game\\sys_config\\goods.jat 手动解开");
    EXPECT_EQ(lines[12], "  并将解开的goods.jat.json 覆盖程序目录下原件即可。");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1); // no bare line feeds
}

TEST(SendMail, WithoutConnectionFailsAndIncompleteIsRefusedFirst)
{
    DbConnection closed;
    EXPECT_EQ(SendMail(closed, Defaults(), {}, kNow), SendMailResult::Failed);
    MailFields incomplete = Defaults();
    incomplete.title = "　";
    EXPECT_EQ(SendMail(closed, incomplete, {}, kNow), SendMailResult::Incomplete);
}

class MailDispatchDb : public ::testing::Test
{
protected:
    test::ScratchDatabase m_scratch;

    std::string Column(const std::string& column, const std::string& id)
    {
        return m_scratch.Scalar("SELECT " + column + " FROM system_email WHERE id=" + id);
    }
    std::string Rows() { return m_scratch.Scalar("SELECT COUNT(*) FROM system_email"); }
};

TEST_F(MailDispatchDb, StatementHasThePageSeparatorsAndEscapedTexts)
{
    const MailFields fields{"12345", "it's", "a\\b", "0", "100"};
    EXPECT_EQ(BuildMailInsert(m_scratch.Db(), 5, fields, "", 1404619200000, 1404619200000),
              "INSERT INTO system_email (id,title,content,receiver_ids,attachments,jb,yb,"
              "create_time,valid_time) VALUES ('5', 'it\\'s', 'a\\\\b','12345','',0,100,"
              "1404619200000,1404619200000)");
}

TEST_F(MailDispatchDb, IncompleteFieldsRunNoStatement)
{
    for (const char* copper : {"", "-", "abc", "  "}) {
        MailFields fields = Defaults();
        fields.copper = copper;
        EXPECT_EQ(SendMail(m_scratch.Db(), fields, {"x"}, kNow), SendMailResult::Incomplete);
    }
    EXPECT_EQ(Rows(), "0");
}

TEST_F(MailDispatchDb, MailWithoutAttachmentsStoresAnEmptyText)
{
    ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), {}, kNow), SendMailResult::Sent);
    EXPECT_EQ(Column("id", "1"), "1");
    EXPECT_EQ(Column("attachments IS NOT NULL AND attachments = ''", "1"), "1");
    EXPECT_EQ(Column("title", "1"), "系统邮件");
    EXPECT_EQ(Column("content", "1"), "系统邮件请勿回复！(内容不可用回车,空格)");
    EXPECT_EQ(Column("receiver_ids", "1"), "12345");
    EXPECT_EQ(Column("jb", "1"), "0");
    EXPECT_EQ(Column("yb", "1"), "100");
    EXPECT_EQ(Column("create_time", "1"), "1404619200000");
    EXPECT_EQ(Column("valid_time", "1"), "1404619200000");
}

TEST_F(MailDispatchDb, TwoEntriesAreJoinedInOrder)
{
    MailItemFields first{"0", "10001", "5", "1", 3, 1, false, 0};
    MailItemFields second{"7", "20002", "1", "60", 5, 0, true, 11};
    const std::vector<std::string> codes = {AttachmentJson(first, kNow),
                                            AttachmentJson(second, kNow)};
    ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), codes, kNow), SendMailResult::Sent);
    // What the literal reads as is what the column must hold.
    const std::string expected = m_scratch.Scalar("SELECT '[" + codes[0] + "," + codes[1] + "]'");
    EXPECT_EQ(expected.front(), '[');
    EXPECT_EQ(Column("attachments", "1"), expected);
    EXPECT_EQ(Column("JSON_VALID(attachments)", "1"), "1");
    EXPECT_EQ(Column("JSON_LENGTH(attachments)", "1"), "2");
    EXPECT_EQ(Column("JSON_UNQUOTE(JSON_EXTRACT(attachments, '$[1].goodsId'))", "1"), "20002");
}

TEST_F(MailDispatchDb, SpacesAreRemovedFromEveryField)
{
    const MailFields fields{" 123 45 ", " 系 统　邮件 ", "　请 勿　回复　", " 1 0 ", "2 0"};
    ASSERT_EQ(SendMail(m_scratch.Db(), fields, {}, kNow), SendMailResult::Sent);
    EXPECT_EQ(Column("receiver_ids", "1"), "12345");
    EXPECT_EQ(Column("title", "1"), "系统邮件");
    EXPECT_EQ(Column("content", "1"), "请勿回复");
    EXPECT_EQ(Column("jb", "1"), "10");
    EXPECT_EQ(Column("yb", "1"), "20");
}

TEST_F(MailDispatchDb, ConsecutiveSendsGetConsecutiveIds)
{
    const MailFields fields = Defaults();
    const std::vector<std::string> codes = {"{}"};
    ASSERT_EQ(SendMail(m_scratch.Db(), fields, codes, kNow), SendMailResult::Sent);
    ASSERT_EQ(SendMail(m_scratch.Db(), fields, codes, kNow + 1), SendMailResult::Sent);
    EXPECT_EQ(m_scratch.Scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM system_email"), "1,2");
    EXPECT_EQ(Column("create_time", "2"), "1404619201000");
}

TEST_F(MailDispatchDb, AGapLeftByDeletedRowsDoesNotBreakTheNextSend)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), {}, kNow), SendMailResult::Sent);
    m_scratch.Exec("DELETE FROM system_email WHERE id=2");
    // Two rows left: a count-based id (3) would repeat the last one.
    ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), {}, kNow), SendMailResult::Sent);
    EXPECT_EQ(m_scratch.Scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM system_email"), "1,3,4");
    m_scratch.Exec("DELETE FROM system_email");
    ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), {}, kNow), SendMailResult::Sent);
    EXPECT_EQ(m_scratch.Scalar("SELECT GROUP_CONCAT(id) FROM system_email"), "1");
}

TEST_F(MailDispatchDb, QuotesAndBackslashesAreStoredLiterally)
{
    MailFields fields = Defaults();
    fields.title = "it's\"\\";
    fields.content = "'; DROP TABLE system_email; --";
    fields.roleId = "o'neil";
    ASSERT_EQ(SendMail(m_scratch.Db(), fields, {}, kNow), SendMailResult::Sent);
    EXPECT_EQ(Column("title", "1"), "it's\"\\");
    EXPECT_EQ(Column("content", "1"), "';DROPTABLEsystem_email;--");
    EXPECT_EQ(Column("receiver_ids", "1"), "o'neil");
}

// An archive as a hand-edited or hostile config.dat can hold it, loaded and sent.
class ArchivedMailDb : public MailDispatchDb
{
protected:
    std::vector<std::string> LoadedCodes(const std::string& item)
    {
        const std::string path = m_dir.path().toStdString() + "/config.dat";
        std::ofstream(path, std::ios::binary)
            << "[itemlist]\r\nlist=gift\r\n[gift]\r\nnum=1\r\nitem1=" << item << "\r\n";
        std::vector<std::string> codes;
        for (const ArchiveItem& loaded : LoadArchive(ConfigFile(path), "gift").items)
            codes.push_back(loaded.code);
        return codes;
    }
    QTemporaryDir m_dir;
};

TEST_F(ArchivedMailDb, AnArchiveCodeThatLeavesItsLiteralAddsNoRow)
{
    const std::vector<std::string> codes =
        LoadedCodes("gift|{}',0,0,0,0),(424242,'injected','x','1','',999999999,0,0,0)#");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(SendMail(m_scratch.Db(), Defaults(), codes, kNow), SendMailResult::BadAttachments);
    EXPECT_EQ(Rows(), "0");
    EXPECT_EQ(m_scratch.Scalar("SELECT COUNT(*) FROM system_email WHERE id=424242"), "0");
}

TEST_F(ArchivedMailDb, ValidJsonWithQuotesAndBackslashesIsStoredAsTheArchiveReads)
{
    struct Case
    {
        const char* what;
        const char* item;
        // What the column must hold; empty: what the server reads from the archive's code.
        const char* stored;
    };
    const Case cases[] = {
        {"escaped double quote and backslash", R"(a|{\"goodsId\":\"x\\\"y\\\\z\"})", ""},
        {"single quote escaped by backslash", R"(a|{\"goodsId\":\"it\'s\"})", ""},
        {"single quote doubled", R"(a|{\"goodsId\":\"it''s\"})", ""},
        {"percent and underscore keep their backslash", R"(a|{\"k\":\"\\\%\\\_\"})", ""},
        {"lone single quote inside a JSON string", R"(a|{\"goodsId\":\"',0)#\"})",
         R"([{"goodsId":"',0)#"}])"},
    };
    mrvn::test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        m_scratch.Exec("DELETE FROM system_email");
        const std::vector<std::string> codes = LoadedCodes(c.item);
        ASSERT_EQ(codes.size(), 1u);
        ASSERT_EQ(SendMail(m_scratch.Db(), Defaults(), codes, kNow), SendMailResult::Sent);
        EXPECT_EQ(Rows(), "1");
        const std::string stored = *c.stored != '\0'
                                       ? std::string(c.stored)
                                       : m_scratch.Scalar("SELECT '[" + codes[0] + "]'");
        EXPECT_EQ(Column("attachments", "1"), stored);
        EXPECT_EQ(Column("JSON_VALID(attachments)", "1"), "1");
    });
}

TEST_F(MailDispatchDb, LineBreaksTabsAndNegativeMoneyAddNoRow)
{
    struct Case
    {
        const char* what;
        MailFields fields;
        SendMailResult expected;
    };
    const Case cases[] = {
        {"line feed in content", {"1", "t", "a\nb", "0", "0"}, SendMailResult::ControlChar},
        {"CR LF in content", {"1", "t", "a\r\nb", "0", "0"}, SendMailResult::ControlChar},
        {"tab in content", {"1", "t", "a\tb", "0", "0"}, SendMailResult::ControlChar},
        {"tab in title", {"1", "t\tt", "c", "0", "0"}, SendMailResult::ControlChar},
        {"negative copper", {"1", "t", "c", "-100000", "0"}, SendMailResult::Negative},
        {"negative yuanbao", {"1", "t", "c", "0", " -5"}, SendMailResult::Negative},
        {"minus zero", {"1", "t", "c", "-0", "0"}, SendMailResult::Negative},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SendMail(m_scratch.Db(), c.fields, {}, kNow), c.expected);
    }
    EXPECT_EQ(Rows(), "0");
}

class ManyRolesDb : public MailDispatchDb
{
protected:
    MailFields ToRoles(const std::string& ids)
    {
        MailFields fields = Defaults();
        fields.roleId = ids;
        return fields;
    }
    std::string Receivers()
    {
        return m_scratch.Scalar(
            "SELECT GROUP_CONCAT(CONCAT(id,':',receiver_ids) ORDER BY id) FROM system_email");
    }
};

TEST_F(ManyRolesDb, OneRowPerRoleWithConsecutiveIdsInStatementsOfManyRows)
{
    SendMail(m_scratch.Db(), Defaults(), {}, kNow); // id 1 is taken
    std::vector<std::pair<std::size_t, std::size_t>> asked;
    test::StatementRecorder statements(m_scratch.Db());
    SendManyOptions twoRows;
    twoRows.maxRows = 2;
    const SendManyResult outcome = SendMailToRoles(
        m_scratch.Db(), ToRoles("101, 102,10 3"), {"{}"}, kNow,
        [&](std::size_t done, std::size_t total) {
            asked.emplace_back(done, total);
            return true;
        },
        {}, twoRows);
    EXPECT_EQ(outcome.result, SendMailResult::Sent);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.sent, (std::vector<std::string>{"101", "102", "103"}));
    EXPECT_TRUE(outcome.notSent.empty());
    // Progress counts rows, asked before each statement.
    EXPECT_EQ(asked, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 3}, {2, 3}}));
    EXPECT_EQ(std::count_if(statements.Statements().begin(), statements.Statements().end(),
                            [](const std::string& sql) { return sql.rfind("INSERT", 0) == 0; }),
              2);
    EXPECT_EQ(Receivers(), "1:12345,2:101,3:102,4:103");
    EXPECT_EQ(m_scratch.Scalar("SELECT COUNT(DISTINCT attachments) FROM system_email WHERE id>1"),
              "1");
    EXPECT_EQ(Column("attachments", "4"), "[{}]");
}

TEST_F(ManyRolesDb, StoppingAfterTheFirstStatementLeavesItsRows)
{
    SendManyOptions oneRow;
    oneRow.maxRows = 1;
    const SendManyResult outcome = SendMailToRoles(
        m_scratch.Db(), ToRoles("101,102,103"), {}, kNow,
        [](std::size_t done, std::size_t) { return done < 1; }, {}, oneRow);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.result, SendMailResult::Sent);
    EXPECT_EQ(outcome.sent, std::vector<std::string>{"101"});
    EXPECT_EQ(outcome.notSent, (std::vector<std::string>{"102", "103"}));
    EXPECT_EQ(Receivers(), "1:101");
}

TEST_F(ManyRolesDb, AServerErrorNamesWhatWasAndWasNotSent)
{
    struct Case
    {
        const char* what;
        std::function<void()> breakSecondRow;
        std::size_t rowsPerStatement;
        const char* left;
        std::vector<std::string> sent;
        bool stopAsked = false; // while the failing statement ran: then it is a cancel
    };
    const auto refuse102 = [this] {
        m_scratch.Exec("CREATE TRIGGER refuse_102 BEFORE INSERT ON system_email FOR EACH ROW "
                       "BEGIN IF NEW.receiver_ids = '102' THEN SIGNAL SQLSTATE '45000' SET "
                       "MESSAGE_TEXT = 'receiver refused'; END IF; END");
    };
    const Case cases[] = {
        {"a trigger refusing the second receiver", refuse102, 1, "1:101", {"101"}},
        // The statement fails as a whole: its first row is not kept either.
        {"the same in one statement of three rows", refuse102, 3, "", {}},
        {"the table dropped between rows",
         [this] { m_scratch.Exec("DROP TABLE system_email"); },
         1,
         "",
         {"101"}},
        {"a refused receiver, a stop asked meanwhile", refuse102, 1, "1:101", {"101"}, true},
        {"the table dropped, a stop asked meanwhile",
         [this] { m_scratch.Exec("DROP TABLE system_email"); },
         1,
         "",
         {"101"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_scratch.Exec("DROP TABLE IF EXISTS system_email");
        m_scratch.Exec("CREATE TABLE system_email (id BIGINT NOT NULL PRIMARY KEY, title "
                       "VARCHAR(255), content TEXT, receiver_ids TEXT, attachments TEXT, jb "
                       "BIGINT, yb BIGINT, create_time BIGINT, valid_time BIGINT)");
        SendManyOptions options;
        options.maxRows = c.rowsPerStatement;
        bool broken = false;
        const SendManyResult outcome = SendMailToRoles(
            m_scratch.Db(), ToRoles("101,102,103"), {}, kNow,
            [&](std::size_t done, std::size_t) {
                if (broken)
                    return !c.stopAsked;
                broken = done == 1 || c.rowsPerStatement > 1;
                if (broken)
                    c.breakSecondRow();
                return true;
            },
            {}, options);
        EXPECT_EQ(outcome.result, c.stopAsked ? SendMailResult::Sent : SendMailResult::Failed);
        EXPECT_EQ(outcome.cancelled, c.stopAsked);
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_EQ(outcome.sent.size() + outcome.notSent.size(), 3u);
        EXPECT_FALSE(outcome.serverError.empty());
        if (*c.left != '\0') {
            EXPECT_EQ(Receivers(), c.left);
        }
    }
}

TEST_F(ManyRolesDb, RefusedListsInsertNothingAndAskNothing)
{
    struct Case
    {
        const char* ids;
        SendMailResult expected;
    };
    const Case cases[] = {
        {"101,,102", SendMailResult::Incomplete},
        {"101,", SendMailResult::Incomplete},
        {",101", SendMailResult::Incomplete},
        {"101,102,101", SendMailResult::DuplicateRole},
        {"101, 1 01", SendMailResult::DuplicateRole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids);
        bool asked = false;
        const SendManyResult outcome =
            SendMailToRoles(m_scratch.Db(), ToRoles(c.ids), {}, kNow, [&](auto, auto) {
                asked = true;
                return true;
            });
        EXPECT_EQ(outcome.result, c.expected);
        EXPECT_FALSE(asked);
        EXPECT_TRUE(outcome.sent.empty());
    }
    MailFields negative = ToRoles("101,102");
    negative.copper = "-1";
    EXPECT_EQ(SendMailToRoles(m_scratch.Db(), negative, {}, kNow, nullptr).result,
              SendMailResult::Negative);
    EXPECT_EQ(Rows(), "0");
}

TEST_F(ManyRolesDb, RoleNamesComeInTheOrderAsked)
{
    m_scratch.Exec("INSERT INTO user_role (id, name) VALUES (101, '甲'), (102, 'it''s'), (103, "
                   "'丙')");
    EXPECT_EQ(QueryRoleNames(m_scratch.Db(), {"103", "999", "101", "x'y"}),
              (std::vector<std::string>{"丙", "", "甲", ""}));
    DbConnection closed;
    EXPECT_FALSE(QueryRoleNames(closed, {"101"}).has_value());
}

// A statement whose answer the relay loses after forwarding it: its rows are looked up by id
// and each receiver is reported as the server has it; a resend goes only to the roles without
// a row.
TEST_F(ManyRolesDb, ALostAnswerIsLookedUpRowByRowAndAResendFillsOnlyTheGaps)
{
    struct Case
    {
        const char* what;
        bool refuse;   // the server refuses the statement whose answer is lost
        bool stayAway; // the server cannot be reached afterwards
        std::vector<std::string> sent, notSent, unknown;
    };
    const Case cases[] = {
        {"carried out", false, false, {"101", "102", "103", "104", "105"}, {}, {}},
        {"refused", true, false, {"101", "102"}, {"103", "104", "105"}, {}},
        {"server gone", false, true, {"101", "102"}, {"105"}, {"103", "104"}},
    };
    test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        m_scratch.Exec("DELETE FROM system_email");
        m_scratch.Exec("DROP TRIGGER IF EXISTS refuse_103");
        if (c.refuse)
            m_scratch.Exec("CREATE TRIGGER refuse_103 BEFORE INSERT ON system_email FOR EACH "
                           "ROW BEGIN IF NEW.receiver_ids = '103' THEN SIGNAL SQLSTATE '45000' "
                           "SET MESSAGE_TEXT = 'no'; END IF; END");
        test::TcpRelay relay(m_scratch.Params().port);
        ASSERT_TRUE(relay.Start());
        ConnectParams params = m_scratch.Params();
        params.host = "127.0.0.1";
        params.port = relay.Port();
        ConnectOptions options;
        options.connectTimeoutSeconds = 1;
        DbConnection db;
        ASSERT_TRUE(db.Connect(params, options)) << db.LastErrorText();
        // The second statement (103, 104) loses its answer.
        relay.LoseAnswerTo("'103'", c.stayAway);
        SendManyOptions twoRows;
        twoRows.maxRows = 2;
        twoRows.lostAnswerWaitSeconds = 3;
        std::vector<MailBatchOutcome> batches;
        const SendManyResult outcome = SendMailToRoles(
            db, ToRoles("101,102,103,104,105"), {}, kNow, nullptr,
            [&](const MailBatchOutcome& batch) { batches.push_back(batch); }, twoRows);
        EXPECT_TRUE(relay.AnswerLost());
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_EQ(outcome.notSent, c.notSent);
        EXPECT_EQ(outcome.unknown, c.unknown);
        ASSERT_GE(batches.size(), 2u);
        EXPECT_TRUE(batches[1].checked);
        EXPECT_EQ(batches[1].roleIds, (std::vector<std::string>{"103", "104"}));

        // The resend: the unknown rows looked up by id, the rest sent to those without a row.
        m_scratch.Exec("DROP TRIGGER IF EXISTS refuse_103");
        ASSERT_TRUE(relay.Start());
        std::vector<SentRowKey> unknownRows;
        for (std::size_t i = 0; i < batches[1].roleIds.size(); ++i) {
            if (batches[1].fates[i] == RowFate::Unknown)
                unknownRows.push_back(
                    {batches[1].roleIds[i], batches[1].ids[i], batches[1].createMs});
        }
        const std::optional<std::vector<bool>> found = FindMailRows(m_scratch.Db(), unknownRows);
        ASSERT_TRUE(found.has_value());
        std::string again;
        for (const std::string& id : outcome.notSent)
            again += (again.empty() ? "" : ",") + id;
        for (std::size_t i = 0; i < unknownRows.size(); ++i) {
            if (!(*found)[i])
                again += (again.empty() ? "" : ",") + unknownRows[i].roleId;
        }
        if (!again.empty()) {
            EXPECT_EQ(SendMailToRoles(m_scratch.Db(), ToRoles(again), {}, kNow, nullptr).result,
                      SendMailResult::Sent);
        }
        EXPECT_EQ(m_scratch.Scalar("SELECT GROUP_CONCAT(receiver_ids ORDER BY receiver_ids) "
                                   "FROM system_email"),
                  "101,102,103,104,105");
    });
}

TEST_F(MailDispatchDb, ARefusedStatementIsAFailure)
{
    m_scratch.Exec("DROP TABLE system_email");
    EXPECT_EQ(SendMail(m_scratch.Db(), Defaults(), {}, kNow), SendMailResult::Failed);
}

} // namespace
} // namespace mrvn
