#include "TestDb.h"

#include "db/RoleFilter.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;

constexpr std::int64_t kDay = 86400000;
constexpr std::int64_t kNow = 1780000000000;

// Each condition at its edges, over roles whose times and levels sit on them.
TEST(RoleFilter, SelectsTheRolesThatMeetEveryCondition)
{
    ScratchDatabase scratch;
    // 1 online (offline before login); 2 offline exactly 3 days; 3 offline 3 days and 1 ms;
    // 4 with equal times (offline); 5 online at level 60.
    scratch.Exec("INSERT INTO user_role (id, level, last_login_time, last_offline_time) VALUES "
                 "(1, 10, " +
                 std::to_string(kNow) + ", 5), (2, 20, 5, " + std::to_string(kNow - 3 * kDay) +
                 "), (3, 30, 5, " + std::to_string(kNow - 3 * kDay - 1) +
                 "), (4, 40, 7, 7), (5, 60, 9, 8)");
    struct Case
    {
        const char* what;
        RoleFilter filter;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"every role", {}, {"1", "2", "3", "4", "5"}},
        {"online now", {.online = true}, {"1", "5"}},
        {"level 20 to 40", {.minLevel = 20, .maxLevel = 40}, {"2", "3", "4"}},
        {"level from 40", {.minLevel = 40}, {"4", "5"}},
        {"online within 3 days", {.offlineWithinDays = 3}, {"1", "2", "5"}},
        {"online and level to 30", {.online = true, .maxLevel = 30}, {"1"}},
        {"no role meets it", {.online = true, .minLevel = 70, .maxLevel = 80}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SelectFilteredRoleIds(scratch.Db(), c.filter, kNow), c.ids);
        EXPECT_EQ(CountFilteredRoles(scratch.Db(), c.filter, kNow),
                  static_cast<std::int64_t>(c.ids.size()));
    }
    scratch.Exec("DROP TABLE user_role");
    EXPECT_FALSE(SelectFilteredRoleIds(scratch.Db(), {}, kNow).has_value());
    EXPECT_FALSE(CountFilteredRoles(scratch.Db(), {}, kNow).has_value());
}

} // namespace
} // namespace mrvn
