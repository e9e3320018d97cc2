#include "TestDb.h"

#include "db/AccountLookup.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"
#include "db/SqlPortability.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mrvn {
namespace {

using test::ScratchDatabase;
using test::StatementRecorder;
using Names = std::vector<std::string>;

TEST(FunctionsOutsideAllowedList, FindsCallsOnlyWhereTheServerSeesThem)
{
    struct Case
    {
        const char* sql;
        Names expected;
    };
    const Case cases[] = {
        {"select 1", {}},
        {"SELECT WEIGHT_STRING(x) FROM t", {"WEIGHT_STRING"}},
        // Case does not matter, and a space before the parenthesis still makes a call.
        {"select weight_string (x), Json_Extract(a, '$.b')", {"WEIGHT_STRING", "JSON_EXTRACT"}},
        {"SELECT CAST(x AS DOUBLE), CAST(y AS CHAR), CAST(z AS DECIMAL(10,2))", {"CAST AS DOUBLE"}},
        {"SELECT CAST(CONVERT(x USING utf8) AS FLOAT)", {"CAST AS FLOAT"}},
        // The same name is reported once.
        {"SELECT ROW_NUMBER() OVER (), ROW_NUMBER() OVER ()", {"ROW_NUMBER"}},
        // Inside literals, quoted identifiers and comments there is no call.
        {"SELECT 'WEIGHT_STRING(x)', \"JSON_ARRAY(1)\", `odd(`, 'it''s REGEXP_LIKE(', "
         "'a\\'b LEAST(1,2)' /* GREATEST(1) */ -- LPAD(x)\n# RPAD(y)\n",
         {}},
        // Keywords that take a parenthesis.
        {"SELECT a FROM t WHERE a IN (1,2) AND (b OR (c)) AND NOT (d) AND EXISTS (SELECT 1)", {}},
        {"INSERT INTO t (a,b) VALUES (1,2),(3,4)", {}},
        {"SELECT id FROM t FORCE INDEX (PRIMARY) USE KEY (k) WHERE IGNORE_X(1)", {"IGNORE_X"}},
        {"CREATE TABLE t (id INT, KEY k (id)) ", {}},
        {"SELECT x FROM (SELECT 1 AS x UNION ALL SELECT 2) t", {}},
        // Variables, numbers and qualified names.
        {"SELECT @@group_concat_max_len, @x, 0e0, 1e3, 0x1F", {}},
        {"SELECT mydb.my_function(1), information_schema.COLUMNS.x", {"MYDB.MY_FUNCTION"}},
        {"SELECT IFNULL(HEX(CONVERT(x USING latin1)), '') + 0e0", {}},
        {"", {}},
        {"SELECT 'unterminated(", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FunctionsOutsideAllowedList(c.sql), c.expected) << c.sql;
}

TEST(IsUnsupportedSqlError, TellsUnknownSqlFromOtherFailures)
{
    for (const unsigned error : {1064u, 1305u, 1582u, 1630u, 1115u, 1273u, 1267u})
        EXPECT_TRUE(IsUnsupportedSqlError(error)) << error;
    // Missing table or column, rights, lost connection, duplicate key: another cause.
    for (const unsigned error : {0u, 1146u, 1054u, 1142u, 2006u, 2013u, 1062u})
        EXPECT_FALSE(IsUnsupportedSqlError(error)) << error;
}

// Runs every operation of the database module on data that takes each of its statement forms
// (text, numeric and binary keys; the bounded and the role-by-role role list) and checks the
// statements it sent. Other modules check theirs the same way, with StatementRecorder and
// ExpectPortableSql.
TEST(PortableSql, EveryStatementOfTheDatabaseModule)
{
    ScratchDatabase scratch;
    scratch.Exec("INSERT INTO user_role (id,user_guid,name,user_id) VALUES (1,'7','n','acc')");
    scratch.Exec("INSERT INTO user_account (id,user_guid,lingshi) VALUES (1,'7',5)");
    scratch.Exec("INSERT INTO role_account (id,user_role_id,tongqian,bind_lingshi) VALUES "
                 "(1,1,2,3)");
    DbConnection& db = scratch.Db();
    const char* const keyForms[] = {
        "ALTER TABLE user_account MODIFY user_guid VARBINARY(64) NOT NULL DEFAULT ''",
        "ALTER TABLE role_account MODIFY user_role_id VARCHAR(20) CHARACTER SET latin1 "
        "COLLATE latin1_bin NOT NULL DEFAULT ''",
        "ALTER TABLE user_account MODIFY user_guid BIGINT NOT NULL DEFAULT 0",
    };
    std::vector<std::string> statements;
    const auto runAll = [&] {
        StatementRecorder recorder(db);
        for (const RoleListMethod method : {RoleListMethod::Bounded, RoleListMethod::PerRole}) {
            RoleListOptions options;
            options.method = method;
            EXPECT_TRUE(QueryRoleList(db, options).has_value());
        }
        EXPECT_TRUE(QueryOnlineStats(db).has_value());
        EXPECT_EQ(LookupRoleByAccount(db, "acc").value_or(AccountLookupResult{}).roleId, "1");
        EXPECT_TRUE(db.ShowTables());
        db.StoreResult();
        statements.insert(statements.end(), recorder.Statements().begin(),
                          recorder.Statements().end());
    };
    runAll();
    for (const char* alter : keyForms) {
        scratch.Exec(alter);
        runAll();
    }
    // The recording saw the statements that matter: schema, class and lookup statements.
    const auto sent = [&](const std::string& part) {
        return std::any_of(statements.begin(), statements.end(), [&](const std::string& sql) {
            return sql.find(part) != std::string::npos;
        });
    };
    EXPECT_TRUE(sent("information_schema.COLUMNS"));
    EXPECT_TRUE(sent("GROUP_CONCAT"));
    EXPECT_TRUE(sent("+ 0e0"));
    EXPECT_TRUE(sent("AS BINARY"));
    EXPECT_TRUE(sent("user_role_id="));
    EXPECT_TRUE(sent("server_real_time_total_data"));
    test::ExpectPortableSql(statements);
}

} // namespace
} // namespace mrvn
