#include "TestDb.h"

#include "CaseRows.h"
#include "DemoData.h"
#include "db/RoleList.h"
#include "db/SqlPortability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace mrvn {
namespace {

using test::ScratchDatabase;
using Rows = RoleRows;

// The role list of a query that must succeed.
Rows Listed(DbConnection& db, RoleListMethod method = RoleListMethod::Automatic,
            std::size_t maxAskedRoleKeys = RoleListOptions{}.maxAskedRoleKeys)
{
    RoleListOptions options;
    options.method = method;
    options.maxAskedRoleKeys = maxAskedRoleKeys;
    std::optional<Rows> rows = QueryRoleList(db, options);
    EXPECT_TRUE(rows.has_value());
    return rows.value_or(Rows{});
}

const char* MethodName(RoleListMethod method)
{
    switch (method) {
    case RoleListMethod::Automatic:
        return "Automatic";
    case RoleListMethod::Bounded:
        return "Bounded";
    case RoleListMethod::PerRole:
        return "PerRole";
    case RoleListMethod::Batched:
        return "Batched";
    }
    return "?";
}

// Every behaviour below holds for the bounded statements, the role-by-role ones and those in
// batches.
class RoleList : public ::testing::TestWithParam<RoleListMethod>
{
protected:
    Rows Listed(DbConnection& db) { return mrvn::Listed(db, GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Methods, RoleList,
                         ::testing::Values(RoleListMethod::Bounded, RoleListMethod::PerRole,
                                           RoleListMethod::Batched),
                         [](const ::testing::TestParamInfo<RoleListMethod>& info) {
                             return std::string(MethodName(info.param));
                         });

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
        values.emplace_back(row[static_cast<std::size_t>(column)]);
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

TEST_P(RoleList, OnlineRolesFirstAscendingThenOthersDescending)
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

TEST_P(RoleList, OnlineRuleAndOfflineTime)
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
    mrvn::test::ForEachRow(
        cases,
        [](const Case& c) { return std::to_string(c.login) + " " + std::to_string(c.offline); },
        [&](const Case& c) {
            ScratchDatabase scratch;
            AddRole(scratch, {.id = 1, .login = c.login, .offline = c.offline});
            const Rows rows = Listed(scratch.Db());
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0][0], c.online ? "在线" : " - ") << c.login << " " << c.offline;
            EXPECT_EQ(rows[0][13], c.offlineText) << c.login << " " << c.offline;
        });
}

TEST_P(RoleList, CellsOfARole)
{
    ScratchDatabase scratch;
    AddRole(scratch, {.id = 42, .guid = "acc-7", .name = "龙🐉𠀀王", .job = "C", .minutes = "0"});
    AddRole(scratch, {.id = 43, .guid = "acc-7", .job = "a", .minutes = "NULL"});
    AddRole(scratch, {.id = 44, .guid = "acc-8", .job = "D"});
    // Account and currency rows: the highest id wins, whatever the insertion order, also
    // when a row of a lower id sits next to the row found for the role before.
    scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES "
                 "(20,'acc-7',200),(10,'acc-7',100),(15,'acc-7',150)");
    scratch.Exec("ALTER TABLE role_account MODIFY bind_lingshi BIGINT NULL");
    scratch.Exec("INSERT INTO role_account (id,user_role_id,tongqian,bind_lingshi) VALUES "
                 "(8,42,800,80),(3,42,300,30),(1,43,900,NULL)");
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
                                            "44",
                                            "acc"};
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

TEST_P(RoleList, KeysMatchAsTheServerComparesALiteral)
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

TEST_P(RoleList, NumericKeysMatchAsNumbers)
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

TEST_P(RoleList, MissingTablesAndColumns)
{
    ScratchDatabase scratch(false);
    RoleListOptions options;
    options.method = GetParam();
    EXPECT_FALSE(QueryRoleList(scratch.Db(), options).has_value()); // no user_role at all

    // A user_role with only six columns and no account or currency table.
    scratch.Exec("CREATE TABLE user_role (id INT PRIMARY KEY, k VARCHAR(10), name VARCHAR(20), "
                 "job CHAR(1), unused INT, exp INT)");
    scratch.Exec("INSERT INTO user_role VALUES (1,'k','名','B',0,99),(2,'k',NULL,NULL,0,NULL)");
    const Rows rows = Listed(scratch.Db());
    ASSERT_EQ(rows.size(), 2u);
    // A NULL job code is an empty code, which is no known job.
    // No user_id column: no account.
    const std::vector<std::string> first = {" - ", "", "", "", "", "", "",  "未知",
                                            "",    "", "", "", "", "", "2", ""};
    EXPECT_EQ(rows[0], first);
    const std::vector<std::string> second = {" - ", "名", "", "", "", "", "99", "九尾",
                                             "",    "",   "", "", "", "", "1",  ""};
    EXPECT_EQ(rows[1], second);

    DbConnection closed;
    EXPECT_FALSE(QueryRoleList(closed, options).has_value());
}

// The bounded statements (role keys without a table key of their bytes asked about, or both
// tables' keys grouped at once), the batched ones and the role-by-role ones give the same
// cells; the role-by-role statements are the plain comparisons of key and literal, so they are
// the reference.
void ExpectSameCells(DbConnection& db)
{
    const Rows perRole = Listed(db, RoleListMethod::PerRole);
    for (const auto& [method, asked] : {std::pair{RoleListMethod::Bounded, std::size_t{2000}},
                                        std::pair{RoleListMethod::Bounded, std::size_t{0}},
                                        std::pair{RoleListMethod::Batched, std::size_t{0}}}) {
        SCOPED_TRACE(std::string(MethodName(method)) + " asking " + std::to_string(asked));
        const Rows rows = Listed(db, method, asked);
        ASSERT_EQ(rows.size(), perRole.size());
        for (std::size_t r = 0; r < rows.size(); ++r)
            EXPECT_EQ(rows[r], perRole[r]) << "row " << r;
    }
}

TEST(RoleListMethods, SameCellsOnDemoData)
{
    for (const unsigned seed : {1u, 7u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ScratchDatabase scratch;
        demo::DemoOptions options;
        options.roles = 600;
        options.seed = seed;
        options.logRowsPerTable = 10;
        ASSERT_TRUE(demo::FillDemoData(scratch.Db(), options)) << scratch.Db().LastErrorText();
        ExpectSameCells(scratch.Db());
    }
}

std::string Joined(const std::vector<std::string>& values)
{
    std::string text;
    for (const std::string& value : values)
        text += (text.empty() ? "" : ",") + value;
    return text;
}

TEST(RoleListMethods, SameCellsForEveryKindOfKey)
{
    // SQL literals. Texts that differ in case, accents, trailing or leading spaces, numbers
    // written differently, quotes and backslashes.
    const std::vector<std::string> textGuids = {
        "'acc'", "'ACC '", "'Acc'", "'acc  '", "'é'",   "'e'",  "'E '",   "'007'",
        "'7'",   "' 7'",   "'7.0'", "'x'",     "''",    "'0'",  "'a''b'", "'a\\\\b'",
        "'ß'",   "'ss'",   "'s'",   "'7.5'",   "'1e1'", "'-0'", "'10'",   "'Ä'"};
    const std::vector<std::string> textAccounts = {
        "'acc'",    "'ACC'", "'é'", "'E'", "'7'",   "'07'", "'x '", "''",  "'a''b'",
        "'a\\\\b'", "'ss'",  "'s'", "'ä'", "'acc'", "'0'",  "'10'", "'e '"};
    const std::vector<std::string> numberAccounts = {"7", "0", "10", "7", "-1", "75"};
    struct KeyCase
    {
        const char* what;
        std::vector<std::string> setup;
        std::vector<std::string> roleGuids;
        std::vector<std::string> accountKeys;
        std::vector<std::string> currencyKeys;
    };
    const std::vector<std::string> numberCurrencies = {"1", "2", "2", "24", "5"};
    const KeyCase cases[] = {
        {"utf8mb4_general_ci text key, integer role key",
         {},
         textGuids,
         textAccounts,
         numberCurrencies},
        {"utf8mb4_bin text key",
         {"ALTER TABLE user_account MODIFY user_guid VARCHAR(64) CHARACTER SET utf8mb4 "
          "COLLATE utf8mb4_bin NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         numberCurrencies},
        {"utf8mb4_unicode_ci text key",
         {"ALTER TABLE user_account MODIFY user_guid VARCHAR(64) CHARACTER SET utf8mb4 "
          "COLLATE utf8mb4_unicode_ci NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         numberCurrencies},
        {"latin1 text key",
         {"ALTER TABLE user_account MODIFY user_guid VARCHAR(64) CHARACTER SET latin1 "
          "COLLATE latin1_swedish_ci NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         numberCurrencies},
        {"integer key",
         {"ALTER TABLE user_account MODIFY user_guid BIGINT NOT NULL DEFAULT 0"},
         textGuids,
         numberAccounts,
         numberCurrencies},
        {"decimal key",
         {"ALTER TABLE user_account MODIFY user_guid DECIMAL(20,2) NOT NULL DEFAULT 0"},
         textGuids,
         {"7", "0", "10", "7.5", "-1"},
         numberCurrencies},
        {"binary key",
         {"ALTER TABLE user_account MODIFY user_guid VARBINARY(64) NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         numberCurrencies},
        {"NULL role keys and NULL account keys",
         {"ALTER TABLE user_role MODIFY user_guid VARCHAR(64) NULL",
          "ALTER TABLE user_account MODIFY user_guid VARCHAR(64) NULL"},
         {"NULL", "''", "'a'", "NULL"},
         {"NULL", "''", "'a'", "NULL"},
         numberCurrencies},
        {"integer role key against a text key",
         {"ALTER TABLE user_role MODIFY user_guid BIGINT NOT NULL DEFAULT 0"},
         {"7", "0", "10", "-0", "12"},
         {"'7'", "'07'", "' 7'", "'10 '", "'0'", "'-0'", "'12'"},
         numberCurrencies},
        {"latin1_bin role-id key",
         {"ALTER TABLE role_account MODIFY user_role_id VARCHAR(20) CHARACTER SET latin1 "
          "COLLATE latin1_bin NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         {"'1'", "'02'", "'3 '", "' 4'", "'5'", "'5'", "'x'"}},
        {"utf8mb4_general_ci role-id key",
         {"ALTER TABLE role_account MODIFY user_role_id VARCHAR(20) CHARACTER SET utf8mb4 "
          "COLLATE utf8mb4_general_ci NOT NULL DEFAULT ''"},
         textGuids,
         textAccounts,
         {"'1'", "'01'", "'2 '", "'3  '", "'x'", "'6'"}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDatabase scratch;
        for (const std::string& sql : c.setup)
            scratch.Exec(sql);
        for (std::size_t i = 0; i < c.roleGuids.size(); ++i) {
            const std::string id = std::to_string(i + 1);
            // Every other role has been online since its last login.
            scratch.Exec("INSERT INTO user_role (id,user_guid,name,last_login_time,"
                         "last_offline_time) VALUES (" +
                         id + "," + c.roleGuids[i] + ",'r" + id + "'," + std::to_string(i % 2) +
                         ",0)");
        }
        std::vector<std::string> rows;
        for (std::size_t j = 0; j < c.accountKeys.size(); ++j)
            rows.push_back("(" + std::to_string(j + 1) + "," + c.accountKeys[j] + "," +
                           std::to_string(100 + j) + ")");
        scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES " + Joined(rows));
        rows.clear();
        for (std::size_t j = 0; j < c.currencyKeys.size(); ++j)
            rows.push_back("(" + std::to_string(j + 1) + "," + c.currencyKeys[j] + "," +
                           std::to_string(1000 + j) + "," + std::to_string(2000 + j) + ")");
        scratch.Exec("INSERT INTO role_account (id,user_role_id,tongqian,bind_lingshi) VALUES " +
                     Joined(rows));

        const Rows bounded = Listed(scratch.Db(), RoleListMethod::Bounded);
        // The cases are built so that keys do match: equal empty lists would prove nothing.
        const auto filled = [&](RoleColumn column) {
            return std::count_if(bounded.begin(), bounded.end(), [&](const RoleRow& row) {
                return !row[static_cast<std::size_t>(ColumnIndex(column))].empty();
            });
        };
        EXPECT_GT(filled(RoleColumn::Yuanbao), 0);
        EXPECT_GT(filled(RoleColumn::Copper), 0);
        ExpectSameCells(scratch.Db());
    }
}

// Makes the server refuse the bounded role query in one of the ways an older server does.
struct Refusal
{
    const char* what;
    std::string (*rewrite)(std::string sql);
    unsigned error;
};

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.what;
}

bool IsRoleQuery(const std::string& sql)
{
    return sql.find("FROM user_role u ORDER BY") != std::string::npos;
}

const Refusal kRefusals[] = {
    {"UnknownFunction",
     [](std::string sql) {
         return IsRoleQuery(sql) ? "SELECT NO_SUCH_FUNCTION(1)," + sql.substr(7) : sql;
     },
     1305},
    {"ParseError",
     [](std::string sql) { return IsRoleQuery(sql) ? "SELECT ," + sql.substr(7) : sql; }, 1064},
    {"WrongArgumentCount",
     [](std::string sql) { return IsRoleQuery(sql) ? "SELECT HEX(1,2)," + sql.substr(7) : sql; },
     1582},
};

class RoleListFallback : public ::testing::TestWithParam<Refusal>
{
};

INSTANTIATE_TEST_SUITE_P(Refusals, RoleListFallback, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             return std::string(info.param.what);
                         });

TEST_P(RoleListFallback, RefusedBoundedQueryFallsBackForThisConnection)
{
    ScratchDatabase scratch;
    demo::DemoOptions demo;
    demo.roles = 120;
    demo.logRowsPerTable = 10;
    ASSERT_TRUE(demo::FillDemoData(scratch.Db(), demo));
    DbConnection& db = scratch.Db();
    const Rows reference = Listed(db, RoleListMethod::PerRole);
    ASSERT_EQ(reference.size(), 120u);

    // The rewrite really makes the server refuse, with the error an older server gives.
    int rewritten = 0;
    RoleListOptions options;
    options.method = RoleListMethod::Bounded;
    options.rewriteBounded = [&](std::string sql) {
        ++rewritten;
        return GetParam().rewrite(std::move(sql));
    };
    EXPECT_FALSE(QueryRoleList(db, options).has_value());
    EXPECT_EQ(db.LastError(), GetParam().error);
    EXPECT_FALSE(db.Refuses(SqlForm::BoundedRoleList));

    options.method = RoleListMethod::Automatic;
    std::optional<Rows> rows = QueryRoleList(db, options);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(*rows, reference);
    EXPECT_TRUE(db.Refuses(SqlForm::BoundedRoleList));
    {
        // The fallback asks for many roles per statement, not for each role on its own.
        test::StatementRecorder fallback(db);
        rows = QueryRoleList(db, options);
        ASSERT_TRUE(rows.has_value());
        EXPECT_EQ(*rows, reference);
        EXPECT_LE(fallback.Statements().size(), 7u);
        for (const std::string& sql : fallback.Statements())
            EXPECT_EQ(FunctionsOutsideAllowedList(sql), std::vector<std::string>{}) << sql;
    }

    // Remembered: the next refresh does not try the bounded statements again.
    rewritten = 0;
    rows = QueryRoleList(db, options);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(*rows, reference);
    EXPECT_EQ(rewritten, 0);

    // A new connect may reach another server: the bounded statements are tried again.
    ASSERT_TRUE(db.Connect(scratch.Params()));
    EXPECT_FALSE(db.Refuses(SqlForm::BoundedRoleList));
    options.rewriteBounded = nullptr;
    test::StatementRecorder recorder(db);
    rows = QueryRoleList(db, options);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(*rows, reference);
    EXPECT_FALSE(db.Refuses(SqlForm::BoundedRoleList));
    // The bounded statements answered: a handful, not one per role.
    EXPECT_LE(recorder.Statements().size(), 6u);
}

TEST(RoleListFallbackOnlyForUnknownSql, OtherFailuresGiveNothing)
{
    ScratchDatabase scratch;
    AddRole(scratch, {.id = 1});
    RoleListOptions options;
    // A missing table is no sign of an older server.
    options.rewriteBounded = [](std::string sql) {
        return IsRoleQuery(sql) ? "SELECT * FROM no_such_table" : sql;
    };
    EXPECT_FALSE(QueryRoleList(scratch.Db(), options).has_value());
    EXPECT_EQ(scratch.Db().LastError(), 1146u);
    EXPECT_FALSE(scratch.Db().Refuses(SqlForm::BoundedRoleList));
}

// A server that hangs in the middle of a refresh ends it after one wait: the statements still
// to come are not sent, each of which would wait for a reconnect attempt.
TEST_P(RoleList, ServerHungMidwayEndsTheListAfterOneWait)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    ScratchDatabase scratch;
    for (int id = 1; id <= 20; ++id)
        AddRole(scratch, {.id = id});
    ConnectOptions options;
    options.connectTimeoutSeconds = 1;
    options.readTimeoutSeconds = 1;
    options.writeTimeoutSeconds = 1;
    DbConnection db;
    ASSERT_TRUE(db.Connect(scratch.Params(), options));
    std::optional<test::PausedServer> paused;
    int statements = 0;
    // The third statement: the first lookup of the bounded method, the first role's currency
    // lookup of the other.
    db.SetStatementObserver([&](std::string_view) {
        if (++statements == 3)
            paused.emplace();
    });
    RoleListOptions listOptions;
    listOptions.method = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const std::optional<Rows> rows = QueryRoleList(db, listOptions);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    db.SetStatementObserver(nullptr);
    ASSERT_TRUE(paused.has_value());
    EXPECT_TRUE(paused->Paused());
    paused.reset();
    EXPECT_FALSE(rows.has_value());
    EXPECT_TRUE(db.ConnectionLost());
    EXPECT_EQ(statements, 3);
    EXPECT_LT(seconds, options.readTimeoutSeconds + 3.0);
}

} // namespace
} // namespace mrvn
