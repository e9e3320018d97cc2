#include "TestDb.h"

#include "db/AccountLookup.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;

TEST(AccountLookup, FindsTheHighestRoleIdOfTheAccount)
{
    ScratchDatabase scratch;
    scratch.Exec("INSERT INTO user_role (id,user_guid,name,user_id) VALUES "
                 "(101,'g1','a','acc1'),(205,'g1','b','acc1'),(150,'g1','c','acc1'),"
                 "(300,'g2','d','acc2'),(77,'g3','e','o''neil'),(88,'g4','f','back\\\\slash')");
    struct Case
    {
        const char* account;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"acc1", "205"},
        {"acc2", "300"},
        {"nobody", ""},
        // Spaces are not removed from the account itself: a leading space finds nothing.
        {" acc1", ""},
        // Only spaces (ASCII or ideographic): nothing is queried at all.
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"\xE3\x80\x80 \xE3\x80\x80", std::nullopt},
        // Quotes and backslashes are matched literally.
        {"o'neil", "77"},
        {"back\\slash", "88"},
        {"x' OR '1'='1", ""},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> found = LookupRoleByAccount(scratch.Db(), c.account);
        EXPECT_EQ(found, c.expected) << "[" << c.account << "]";
        // A quote never breaks the statement.
        EXPECT_EQ(scratch.Db().LastError(), 0u) << "[" << c.account << "]";
    }
}

TEST(AccountLookup, NoConnectionOrNoTableGivesEmpty)
{
    DbConnection closed;
    EXPECT_EQ(LookupRoleByAccount(closed, "acc1"), std::optional<std::string>(""));
    EXPECT_EQ(LookupRoleByAccount(closed, " "), std::nullopt);
    ScratchDatabase withoutTables(false);
    EXPECT_EQ(LookupRoleByAccount(withoutTables.Db(), "acc1"), std::optional<std::string>(""));
}

} // namespace
} // namespace mrvn
