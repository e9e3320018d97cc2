#include "TestDb.h"

#include "DemoData.h"
#include "db/RoleList.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;

TEST(DemoData, GeneratesWhatTheToolNeedsToShow)
{
    ScratchDatabase scratch;
    demo::DemoOptions options;
    options.roles = 500;
    options.logRowsPerTable = 700;
    ASSERT_TRUE(demo::FillDemoData(scratch.Db(), options)) << scratch.Db().LastErrorText();
    const auto count = [&](const std::string& sql) { return std::stoll(scratch.Scalar(sql)); };

    EXPECT_EQ(count("SELECT COUNT(*) FROM user_role"), 500);
    EXPECT_GT(count("SELECT COUNT(*) FROM user_role WHERE last_offline_time < last_login_time"), 5);
    EXPECT_GT(count("SELECT COUNT(*) FROM user_role WHERE CHAR_LENGTH(name) < LENGTH(name) "
                    "AND name REGEXP '[一-龥]'"),
              400);
    // A 4-byte character: GBK cannot hold it.
    EXPECT_GE(count("SELECT COUNT(*) FROM user_role WHERE name <> CONVERT(CONVERT(name USING "
                    "gbk) USING utf8mb4)"),
              1);
    EXPECT_GT(count("SELECT COUNT(*) FROM (SELECT user_id FROM user_role GROUP BY user_id "
                    "HAVING COUNT(*) > 1) t"),
              10);
    EXPECT_GE(count("SELECT COUNT(*) FROM user_role r WHERE NOT EXISTS (SELECT 1 FROM "
                    "user_account a WHERE a.user_guid = r.user_guid)"),
              1);
    EXPECT_GE(count("SELECT COUNT(*) FROM user_role r WHERE NOT EXISTS (SELECT 1 FROM "
                    "role_account a WHERE a.user_role_id = r.id)"),
              1);
    EXPECT_GE(count("SELECT COUNT(*) FROM user_role WHERE job NOT IN ('A','B','C','D')"), 1);
    EXPECT_GT(count("SELECT COUNT(DISTINCT job) FROM user_role WHERE job IN ('A','B','C','D')"), 3);
    // Statistics of yesterday and today, logs over the last two weeks.
    EXPECT_GT(count("SELECT COUNT(*) FROM server_real_time_total_data WHERE "
                    "DATE(log_update_time) = CURDATE()"),
              0);
    EXPECT_GT(count("SELECT COUNT(*) FROM server_real_time_total_data WHERE "
                    "DATE(log_update_time) = CURDATE() - INTERVAL 1 DAY"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM log_item_change"), 700);
    EXPECT_GE(count("SELECT COUNT(DISTINCT DATE(log_update_time)) FROM log_money_change"), 12);
    EXPECT_EQ(count("SELECT COUNT(*) FROM log_money_change WHERE log_update_time < NOW() - "
                    "INTERVAL 15 DAY"),
              0);

    const auto rows = QueryRoleList(scratch.Db()).value_or(RoleRows{});
    ASSERT_EQ(rows.size(), 500u);
    EXPECT_EQ(rows.front()[0], "在线");
    EXPECT_EQ(rows.back()[0], " - ");

    // Filling again gives the same content: the generator is deterministic.
    // Times follow the server's clock, so only what does not move with it is compared.
    const std::string before =
        scratch.Scalar("SELECT SUM(CRC32(CONCAT_WS(',',id,name,job,level))) FROM user_role");
    ASSERT_TRUE(demo::FillDemoData(scratch.Db(), options));
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_role"), 500);
    EXPECT_EQ(scratch.Scalar("SELECT SUM(CRC32(CONCAT_WS(',',id,name,job,level))) FROM user_role"),
              before);
}

} // namespace
} // namespace mrvn
