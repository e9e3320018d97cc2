#include "TestDb.h"

#include "db/AccountLookup.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using test::ScratchDatabase;

using Outcome = AccountLookupResult::Outcome;

// The role found, "no role", or a failure with its reason; nothing at all for a blank account.
TEST(AccountLookup, FindsTheHighestRoleIdOrSaysWhyNot)
{
    ScratchDatabase scratch;
    scratch.Exec("INSERT INTO user_role (id,user_guid,name,user_id) VALUES "
                 "(101,'g1','a','acc1'),(205,'g1','b','acc1'),(150,'g1','c','acc1'),"
                 "(300,'g2','d','acc2'),(77,'g3','e','o''neil'),(88,'g4','f','back\\\\slash')");
    ScratchDatabase withoutTables(false);
    DbConnection closed;
    struct Case
    {
        const char* account;
        DbConnection* db;
        std::optional<Outcome> outcome; // nullopt: nothing queried
        const char* roleId = "";
        unsigned errorNumber = 0;
    };
    const Case cases[] = {
        {"acc1", &scratch.Db(), Outcome::Found, "205"},
        {"acc2", &scratch.Db(), Outcome::Found, "300"},
        {"nobody", &scratch.Db(), Outcome::NoRole},
        // Spaces are not removed from the account itself: a leading space finds nothing.
        {" acc1", &scratch.Db(), Outcome::NoRole},
        // Only spaces (ASCII or ideographic): nothing is queried at all.
        {"", &scratch.Db(), std::nullopt},
        {"   ", &scratch.Db(), std::nullopt},
        {"\xE3\x80\x80 \xE3\x80\x80", &scratch.Db(), std::nullopt},
        // Quotes and backslashes are matched literally and never break the statement.
        {"o'neil", &scratch.Db(), Outcome::Found, "77"},
        {"back\\slash", &scratch.Db(), Outcome::Found, "88"},
        {"x' OR '1'='1", &scratch.Db(), Outcome::NoRole},
        {"acc1", &closed, Outcome::NotConnected},
        {" ", &closed, std::nullopt},
        // No user_role table: the server's reason comes back.
        {"acc1", &withoutTables.Db(), Outcome::Failed, "", 1146},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.account + "]");
        const std::optional<AccountLookupResult> found = LookupRoleByAccount(*c.db, c.account);
        ASSERT_EQ(found.has_value(), c.outcome.has_value());
        if (!found)
            continue;
        EXPECT_EQ(found->outcome, *c.outcome);
        EXPECT_EQ(found->roleId, c.roleId);
        EXPECT_EQ(found->errorNumber, c.errorNumber);
        EXPECT_EQ(found->error.empty(), c.errorNumber == 0);
        EXPECT_FALSE(found->connectionLost);
    }
}

} // namespace
} // namespace mrvn
