#include "TestDb.h"

#include "db/OnlineStats.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;

void AddSnapshot(ScratchDatabase& scratch, int id, int created, const std::string& when)
{
    scratch.Exec("INSERT INTO server_real_time_total_data (id,today_create,today_login,"
                 "online_count,log_update_time) VALUES (" +
                 std::to_string(id) + "," + std::to_string(created) + ",20,30," + when + ")");
}

TEST(OnlineStats, WhichSnapshotIsShown)
{
    struct Snapshot
    {
        int id;
        int created;
        const char* when; // SQL expression on the server's clock
    };
    struct Case
    {
        const char* what;
        std::vector<Snapshot> snapshots;
        const char* expectedId; // "" for the empty row
    };
    const Case cases[] = {
        {"no snapshot at all", {}, ""},
        {"only snapshots older than yesterday",
         {{1, 1, "CURDATE() - INTERVAL 1 DAY - INTERVAL 1 SECOND"},
          {2, 2, "NOW() - INTERVAL 3 DAY"}},
         ""},
        {"the highest id wins whatever its time",
         {{5, 5, "NOW() - INTERVAL 1 MINUTE"}, {9, 9, "CURDATE()"}, {7, 7, "NOW()"}},
         "9"},
        {"late yesterday still counts (dates, not 24 hours)",
         {{3, 3, "CURDATE() - INTERVAL 1 SECOND"}, {2, 2, "NOW() - INTERVAL 3 DAY"}},
         "3"},
        {"the first moment of yesterday counts", {{4, 4, "CURDATE() - INTERVAL 1 DAY"}}, "4"},
        {"a snapshot without time never counts", {{8, 8, "NULL"}, {6, 6, "CURDATE()"}}, "6"},
    };
    for (const Case& c : cases) {
        ScratchDatabase scratch;
        for (const Snapshot& s : c.snapshots)
            AddSnapshot(scratch, s.id, s.created, s.when);
        const OnlineStatsRow row = QueryOnlineStats(scratch.Db()).value_or(OnlineStatsRow{});
        EXPECT_EQ(row.id, c.expectedId) << c.what;
        if (std::string(c.expectedId).empty()) {
            EXPECT_EQ(row.todayCreate, "") << c.what;
            EXPECT_EQ(row.todayLogin, "") << c.what;
            EXPECT_EQ(row.onlineCount, "") << c.what;
            EXPECT_EQ(row.updateTime, "") << c.what;
        } else {
            EXPECT_EQ(row.todayCreate, c.expectedId) << c.what;
        }
    }
}

TEST(OnlineStats, ValuesAsTheServerSendsThem)
{
    ScratchDatabase scratch;
    scratch.Exec("INSERT INTO server_real_time_total_data VALUES (12,7,180,42,NOW())");
    const std::string now = scratch.Scalar("SELECT log_update_time FROM "
                                           "server_real_time_total_data");
    const OnlineStatsRow row = QueryOnlineStats(scratch.Db()).value_or(OnlineStatsRow{});
    EXPECT_EQ(row.todayCreate, "7");
    EXPECT_EQ(row.todayLogin, "180");
    EXPECT_EQ(row.onlineCount, "42");
    EXPECT_EQ(row.id, "12");
    EXPECT_EQ(row.updateTime, now);
    ASSERT_EQ(row.updateTime.size(), 19u); // "yyyy-mm-dd hh:mm:ss"
    EXPECT_EQ(row.updateTime[10], ' ');
}

TEST(OnlineStats, FailuresGiveNothing)
{
    ScratchDatabase withoutTables(false);
    EXPECT_FALSE(QueryOnlineStats(withoutTables.Db()).has_value());
    DbConnection closed;
    EXPECT_FALSE(QueryOnlineStats(closed).has_value());
    // An empty table is an answer: a row of empty texts.
    ScratchDatabase empty;
    const std::optional<OnlineStatsRow> none = QueryOnlineStats(empty.Db());
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->id, "");
}

} // namespace
} // namespace mrvn
