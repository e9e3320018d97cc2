#include "TestDb.h"

#include "db/RoleList.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;
using Rows = RoleRows;

// The role list of a query that must succeed.
Rows Listed(DbConnection& db)
{
    std::optional<Rows> rows = QueryRoleList(db);
    EXPECT_TRUE(rows.has_value());
    return rows.value_or(Rows{});
}

struct Role
{
    long long id;
    long long login = 0;
    long long offline = 0;
    std::string guid = "g";
    std::string name = "角色";
    std::string job = "A";
    std::string minutes = "5"; // SQL text: a number or NULL
};

void AddRole(ScratchDatabase& scratch, const Role& role)
{
    DbConnection& db = scratch.Db();
    scratch.Exec("INSERT INTO user_role (id,user_guid,name,job,exp,level,lingqi,create_time,"
                 "last_login_time,last_offline_time,fight_power,login_count,online_minutes,"
                 "user_id) VALUES (" +
                 std::to_string(role.id) + "," + db.QuoteString(role.guid) + "," +
                 db.QuoteString(role.name) + "," + db.QuoteString(role.job) +
                 ",1234,56,789,'2014-06-29 08:05:09'," + std::to_string(role.login) + "," +
                 std::to_string(role.offline) + ",4321,17," + role.minutes + ",'acc')");
}

std::vector<std::string> Column(const Rows& rows, int column)
{
    std::vector<std::string> values;
    for (const auto& row : rows)
        values.push_back(row.at(static_cast<std::size_t>(column)));
    return values;
}

TEST(JobName, Codes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"A", "灵猴"}, {"B", "九尾"}, {"C", "牛魔"},  {"D", "罗刹"}, {"a", "未知"},
        {"E", "未知"}, {"", "未知"},  {"A ", "未知"}, {"AB", "未知"}};
    for (const auto& [code, name] : cases)
        EXPECT_EQ(JobName(code), name) << code;
}

TEST(RoleList, OnlineRolesFirstAscendingThenOthersDescending)
{
    ScratchDatabase scratch;
    AddRole(scratch, {.id = 3, .login = 2000, .offline = 1000});
    AddRole(scratch, {.id = 5, .login = 1000, .offline = 2000});
    AddRole(scratch, {.id = 7, .login = 2000, .offline = 1999});
    AddRole(scratch, {.id = 9, .login = 1000, .offline = 1000});
    const Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), static_cast<std::size_t>(kRoleListColumns));
    EXPECT_EQ(Column(rows, ColumnIndex(RoleColumn::RoleId)),
              (std::vector<std::string>{"3", "7", "9", "5"}));
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"在线", "在线", " - ", " - "}));
}

TEST(RoleList, OnlineRuleAndOfflineTime)
{
    struct Case
    {
        long long login;
        long long offline;
        bool online;
        const char* offlineText;
    };
    const Case cases[] = {
        {1404000309000, 0, true, "1970-01-01 08:00:00"},              // never went offline
        {1404000309000, 1404000309000, false, "2014-06-29 08:05:09"}, // equal times
        {1404000309000, 1404000309001, false, "2014-06-29 08:05:09"},
        {1404000309001, 1404000309000, true, "2014-06-29 08:05:09"},
        {0, 0, false, "1970-01-01 08:00:00"},
        {0, -1000, true, "1970-01-01 07:59:59"},
        // Milliseconds are cut toward zero, and the calendar goes on after 2038.
        {1, 4102444800999, false, "2100-01-01 08:00:00"},
    };
    for (const Case& c : cases) {
        ScratchDatabase scratch;
        AddRole(scratch, {.id = 1, .login = c.login, .offline = c.offline});
        const Rows rows = Listed(scratch.Db());
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], c.online ? "在线" : " - ") << c.login << " " << c.offline;
        EXPECT_EQ(rows[0][13], c.offlineText) << c.login << " " << c.offline;
    }
}

TEST(RoleList, CellsOfARole)
{
    ScratchDatabase scratch;
    AddRole(scratch, {.id = 42, .guid = "acc-7", .name = "龙🐉𠀀王", .job = "C", .minutes = "0"});
    AddRole(scratch, {.id = 43, .guid = "acc-7", .job = "a", .minutes = "NULL"});
    AddRole(scratch, {.id = 44, .guid = "acc-8", .job = "D"});
    // Account and currency rows: the highest id wins, whatever the insertion order.
    scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES "
                 "(20,'acc-7',200),(10,'acc-7',100),(15,'acc-7',150)");
    scratch.Exec("ALTER TABLE role_account MODIFY bind_lingshi BIGINT NULL");
    scratch.Exec("INSERT INTO role_account (id,user_role_id,tongqian,bind_lingshi) VALUES "
                 "(8,42,800,80),(3,42,300,30),(9,43,900,NULL)");
    const Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> first = {" - ",
                                            "角色",
                                            "56",
                                            "",
                                            "",
                                            "",
                                            "1234",
                                            "罗刹",
                                            "789",
                                            "4321",
                                            "17",
                                            "5分",
                                            "2014-06-29 08:05:09",
                                            "1970-01-01 08:00:00",
                                            "44"};
    EXPECT_EQ(rows[0], first); // no account and no currency row: empty cells
    EXPECT_EQ(rows[1][ColumnIndex(RoleColumn::RoleId)], "43");
    EXPECT_EQ(rows[1][7], "未知");
    EXPECT_EQ(rows[1][11], "分"); // NULL minutes
    EXPECT_EQ(rows[1][3], "900");
    EXPECT_EQ(rows[1][4], "200");
    EXPECT_EQ(rows[1][5], "");        // NULL bound yuanbao
    EXPECT_EQ(rows[2][1], "龙🐉𠀀王"); // characters outside GBK stay whole
    EXPECT_EQ(rows[2][7], "牛魔");
    EXPECT_EQ(rows[2][11], "0分");
    EXPECT_EQ(rows[2][3], "800");
    EXPECT_EQ(rows[2][4], "200");
    EXPECT_EQ(rows[2][5], "80");
}

TEST(RoleList, KeysMatchAsTheServerComparesALiteral)
{
    ScratchDatabase scratch;
    // Under the default case-insensitive, pad-space collation "ACC " matches "acc".
    AddRole(scratch, {.id = 1, .guid = "ACC "});
    AddRole(scratch, {.id = 2, .guid = "other"});
    scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES "
                 "(1,'acc',11),(2,'Other',22),(3,'other ',33),(4,'othe',44)");
    // A text key of role_account holding the role id as text, with its own collation.
    scratch.Exec("ALTER TABLE role_account MODIFY user_role_id VARCHAR(20) "
                 "CHARACTER SET latin1 COLLATE latin1_bin NOT NULL DEFAULT ''");
    scratch.Exec("INSERT INTO role_account (id,user_role_id,tongqian,bind_lingshi) VALUES "
                 "(1,'1',5,6),(2,'02',7,8)");
    Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][ColumnIndex(RoleColumn::RoleId)], "2");
    EXPECT_EQ(rows[0][4], "33");
    EXPECT_EQ(rows[0][3], ""); // '02' is not the text '2'
    EXPECT_EQ(rows[1][4], "11");
    EXPECT_EQ(rows[1][3], "5");
    EXPECT_EQ(rows[1][5], "6");

    // A binary collation tells case apart.
    scratch.Exec("ALTER TABLE user_account MODIFY user_guid VARCHAR(64) "
                 "CHARACTER SET utf8mb4 COLLATE utf8mb4_bin NOT NULL DEFAULT ''");
    rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][4], "33");
    EXPECT_EQ(rows[1][4], "");
}

TEST(RoleList, NumericKeysMatchAsNumbers)
{
    ScratchDatabase scratch;
    // A numeric account key: the server compares the quoted text with it as a number, so
    // " 7", "007" and "7.0" all find account 7, and a text that is no number finds 0.
    scratch.Exec("ALTER TABLE user_account MODIFY user_guid BIGINT NOT NULL DEFAULT 0");
    AddRole(scratch, {.id = 1, .guid = "007"});
    AddRole(scratch, {.id = 2, .guid = "7.0"});
    AddRole(scratch, {.id = 3, .guid = "x"});
    AddRole(scratch, {.id = 4, .guid = "7.5"});
    scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES (1,7,70),(2,0,0)");
    const Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Column(rows, ColumnIndex(RoleColumn::RoleId)),
              (std::vector<std::string>{"4", "3", "2", "1"}));
    EXPECT_EQ(Column(rows, 4), (std::vector<std::string>{"", "0", "70", "70"}));
}

TEST(RoleList, MissingTablesAndColumns)
{
    ScratchDatabase scratch(false);
    EXPECT_FALSE(QueryRoleList(scratch.Db()).has_value()); // no user_role at all

    // A user_role with only six columns and no account or currency table.
    scratch.Exec("CREATE TABLE user_role (id INT PRIMARY KEY, k VARCHAR(10), name VARCHAR(20), "
                 "job CHAR(1), unused INT, exp INT)");
    scratch.Exec("INSERT INTO user_role VALUES (1,'k','名','B',0,99),(2,'k',NULL,NULL,0,NULL)");
    const Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 2u);
    // A NULL job code is an empty code, which is no known job.
    const std::vector<std::string> first = {" - ", "", "", "", "", "", "", "未知",
                                            "",    "", "", "", "", "", "2"};
    EXPECT_EQ(rows[0], first);
    const std::vector<std::string> second = {" - ", "名", "", "", "", "", "99", "九尾",
                                             "",    "",   "", "", "", "", "1"};
    EXPECT_EQ(rows[1], second);

    DbConnection closed;
    EXPECT_FALSE(QueryRoleList(closed).has_value());
}

} // namespace
} // namespace mrvn
