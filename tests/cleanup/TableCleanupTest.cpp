#include "cleanup/TableCleanup.h"

#include "CaseRows.h"
#include "TestDb.h"
#include "app/Texts.h"
#include "db/DbConnection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace mrvn {
namespace {

std::optional<std::string> DeleteText(const std::optional<CleanupStatement>& statement)
{
    if (!statement)
        return std::nullopt;
    return statement->DeleteSql();
}

std::int64_t Affected(DbConnection& db, const std::optional<CleanupStatement>& statement)
{
    return RunCleanupStatement(db, statement).affected;
}

TEST(ChooseCleanupCase, TakesTheFirstCaseThatHolds)
{
    using C = CleanupCase;
    struct Case
    {
        const char* what;
        CleanupOptions options;
        const char* roleId;
        bool selection;
        int rows;
        CleanupCase expected;
    };
    // options: emptyAll, emptySelected, olderSelected, byRole, roleInSelectedOnly
    const Case cases[] = {
        {"nothing ticked", {}, "", false, 3, C::EveryTable},
        {"nothing ticked, empty list", {}, "", true, 0, C::Nothing},
        {"only emptyAll", {true}, "", false, 3, C::EveryTable},
        {"emptySelected", {false, true}, "", true, 3, C::EmptySelected},
        {"emptySelected without selection", {false, true}, "", false, 3, C::Nothing},
        {"emptySelected wins over olderSelected",
         {false, true, true},
         "",
         true,
         3,
         C::EmptySelected},
        {"olderSelected", {false, false, true}, "", true, 3, C::OlderSelected},
        {"olderSelected without selection", {false, false, true, true}, "7", false, 3, C::Nothing},
        {"role in every table", {false, false, false, true}, "7", false, 3, C::RoleInEvery},
        {"role in every table, empty list", {false, false, false, true}, "7", true, 0, C::Nothing},
        {"empty role id", {true, false, false, true}, "", true, 3, C::Nothing},
        {"role id of spaces", {true, false, false, true, true}, " 　 ", true, 3, C::Nothing},
        {"role in selected", {false, false, false, true, true}, " 7 ", true, 3, C::RoleInSelected},
        {"role in selected without selection",
         {false, false, false, true, true},
         "7",
         false,
         3,
         C::Nothing},
        {"selected-only without role box",
         {false, false, false, false, true},
         "7",
         true,
         3,
         C::EveryTable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseCleanupCase(c.options, c.roleId, c.selection, c.rows), c.expected)
            << c.what;
}

TEST(CleanupStatements, QuoteTheTableAndSendOnlyIntegerDays)
{
    EXPECT_EQ(DeleteText(AllRowsStatement("log_a")), "delete FROM `log_a`");
    EXPECT_EQ(DeleteText(AllRowsStatement("a`b")), "delete FROM `a``b`");
    EXPECT_EQ(AllRowsStatement(""), std::nullopt);

    const std::pair<const char*, std::optional<std::string>> days[] = {
        {"3", "delete FROM `t` where DATE_SUB(CURDATE(), INTERVAL 3 DAY) >= "
              "date(log_update_time)"},
        {" 3 ", "delete FROM `t` where DATE_SUB(CURDATE(), INTERVAL 3 DAY) >= "
                "date(log_update_time)"},
        {"0", "delete FROM `t` where DATE_SUB(CURDATE(), INTERVAL 0 DAY) >= "
              "date(log_update_time)"},
        {"007", "delete FROM `t` where DATE_SUB(CURDATE(), INTERVAL 007 DAY) >= "
                "date(log_update_time)"},
        {"-1", std::nullopt},
        {"-0", std::nullopt},
        {"- 3", std::nullopt},
        {"-99999", std::nullopt},
        {"+3", std::nullopt},
        {"３", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"-", std::nullopt},
        {"3a", std::nullopt},
        {"1.5", std::nullopt},
        {"1 DAY) OR 1=1 OR (1", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : days) {
        EXPECT_EQ(DeleteText(OlderRowsStatement("t", text)), expected) << text;
        EXPECT_EQ(IsDayCount(text), expected.has_value()) << text;
    }
    EXPECT_EQ(OlderRowsStatement("", "3"), std::nullopt);
}

// The count shown before a delete is the delete's own text with "SELECT COUNT(*)" in place
// of "delete": the two cannot mean different rows.
TEST(CleanupStatements, CountAndDeleteShareTheirCondition)
{
    DbConnection closed;
    const std::pair<const char*, std::optional<CleanupStatement>> statements[] = {
        {"all rows", AllRowsStatement("a`b")},
        {"older rows", OlderRowsStatement("log_a", " 3 ")},
        {"role", RoleStatement(closed, "log_a", " 7'")},
    };
    mrvn::test::ForEachPair(statements, [&](const auto& /*what*/, const auto& statement) {
        ASSERT_TRUE(statement);
        const std::string remove = statement->DeleteSql();
        const std::string count = statement->CountSql();
        ASSERT_EQ(remove.rfind("delete FROM ", 0), 0u);
        EXPECT_EQ(count,
                  "SELECT COUNT(*) FROM " + remove.substr(std::string("delete FROM ").size()));
    });
}

TEST(CleanupPreviewTest, SumsRowsAndCountsEmptyAndFailingTables)
{
    CleanupPreview preview;
    preview.Add("a", 3);
    preview.Add("b", 0);
    preview.Add("c", std::nullopt);
    preview.Add("d", 4000000000);
    preview.Add("e", 0);
    EXPECT_EQ(preview.total, 4000000003);
    EXPECT_EQ(preview.empty, 2u);
    EXPECT_EQ(preview.failing, 1u);
    ASSERT_EQ(preview.tables.size(), 5u);
    EXPECT_EQ(preview.tables[2].name, "c");
    EXPECT_EQ(preview.tables[2].rows, std::nullopt);
    EXPECT_EQ(preview.tables[3].rows, 4000000000);
}

TEST(CleanupTexts, NameTheCount)
{
    EXPECT_EQ(CleanupResultText(-1), "影响行数：-1");
    EXPECT_EQ(CleanupResultText(0), "影响行数：0");
    EXPECT_EQ(CleanupResultText(1234567890123), "影响行数：1234567890123");
}

TEST(CleanupWithoutConnection, ListsNothingAndRunsNothing)
{
    DbConnection closed;
    EXPECT_EQ(ListTables(closed), std::nullopt);
    const CleanupOutcome outcome = RunCleanupStatement(closed, AllRowsStatement("t"));
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.affected, -1);
    EXPECT_FALSE(outcome.Ok());
    EXPECT_EQ(CountCleanupRows(closed, *AllRowsStatement("t")), std::nullopt);
    EXPECT_FALSE(RunCleanupStatement(closed, std::nullopt).sent);
}

// Tables of our own, in a database without the game schema, so the list is known.
class CleanupDb : public ::testing::Test
{
protected:
    test::ScratchDatabase m_scratch{false};

    void SetUp() override
    {
        // Dated rows relative to the server's own date, which is what the statement uses.
        for (const char* table : {"log_a", "log_b"}) {
            m_scratch.Exec(std::string("CREATE TABLE ") + table +
                           " (id INT PRIMARY KEY, log_update_time DATETIME NULL, "
                           "user_role_id VARCHAR(32) NULL)");
            m_scratch.Exec(std::string("INSERT INTO ") + table +
                           " VALUES "
                           "(1, NOW(), '7'), "
                           "(2, CURDATE() - INTERVAL 2 DAY, ' 7'), "
                           "(3, CURDATE() - INTERVAL 1 DAY, '8'), "
                           "(4, CURDATE() - INTERVAL 3 DAY + INTERVAL 86399 SECOND, '7'), "
                           "(5, CURDATE() - INTERVAL 10 DAY, '9'), "
                           "(6, NULL, NULL)");
        }
        m_scratch.Exec("CREATE TABLE plain (id INT PRIMARY KEY)");
        m_scratch.Exec("INSERT INTO plain VALUES (1), (2)");
        m_scratch.Exec("CREATE TABLE `odd``name` (id INT, log_update_time DATETIME, "
                       "user_role_id VARCHAR(32))");
        m_scratch.Exec("INSERT INTO `odd``name` VALUES (1, CURDATE() - INTERVAL 30 DAY, '7')");
    }
    std::string Ids(const std::string& quotedTable)
    {
        return m_scratch.Scalar("SELECT COALESCE(GROUP_CONCAT(id ORDER BY id), '') FROM " +
                                quotedTable);
    }
};

TEST_F(CleanupDb, ListsEveryTableInTheServerOrder)
{
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    EXPECT_EQ(*tables, (std::vector<std::string>{"log_a", "log_b", "odd`name", "plain"}));
}

TEST_F(CleanupDb, EveryTableWithThreeDaysKeepsTheLastThreeDaysAndNulls)
{
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    std::vector<std::int64_t> results;
    for (const std::string& table : *tables)
        results.push_back(Affected(m_scratch.Db(), OlderRowsStatement(table, "3")));
    EXPECT_EQ(results, (std::vector<std::int64_t>{2, 2, 1, -1}));
    // The day three days back is gone to its last second; two days back stays from midnight.
    EXPECT_EQ(Ids("log_a"), "1,2,3,6");
    EXPECT_EQ(Ids("log_b"), "1,2,3,6");
    EXPECT_EQ(Ids("`odd``name`"), "");
    EXPECT_EQ(Ids("plain"), "1,2");
}

TEST_F(CleanupDb, ZeroDaysDeletesTodayButNeverNull)
{
    EXPECT_EQ(Affected(m_scratch.Db(), OlderRowsStatement("log_a", "0")), 5);
    EXPECT_EQ(Ids("log_a"), "6");
}

TEST_F(CleanupDb, ANegativeDayCountRunsNothing)
{
    for (const char* days : {"-1", "-30", " -1 "}) {
        SCOPED_TRACE(days);
        const CleanupOutcome outcome =
            RunCleanupStatement(m_scratch.Db(), OlderRowsStatement("log_a", days));
        EXPECT_FALSE(outcome.sent);
        EXPECT_EQ(outcome.affected, -1);
        EXPECT_EQ(Ids("log_a"), "1,2,3,4,5,6");
    }
}

// For every kind of statement and every table: the count taken first is what the delete
// then removes, and a count fails exactly where the delete fails.
TEST_F(CleanupDb, TheCountIsWhatTheDeleteRemoves)
{
    using Build = std::function<std::optional<CleanupStatement>(const std::string&)>;
    const std::pair<const char*, Build> kinds[] = {
        {"older rows, 3 days", [](const std::string& t) { return OlderRowsStatement(t, "3"); }},
        {"older rows, 0 days", [](const std::string& t) { return OlderRowsStatement(t, "0"); }},
        {"role 7", [this](const std::string& t) { return RoleStatement(m_scratch.Db(), t, "7"); }},
        {"role with a quote",
         [this](const std::string& t) { return RoleStatement(m_scratch.Db(), t, "7' OR '1'='1"); }},
        {"all rows", [](const std::string& t) { return AllRowsStatement(t); }},
    };
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    for (const auto& kind : kinds) {
        const auto onTable = [&](const std::string& table) {
            return std::string(kind.first) + " on " + table;
        };
        mrvn::test::ForEachRow(*tables, onTable, [&](const std::string& table) {
            const auto statement = kind.second(table);
            ASSERT_TRUE(statement);
            const std::optional<std::int64_t> counted =
                CountCleanupRows(m_scratch.Db(), *statement);
            const CleanupOutcome outcome = RunCleanupStatement(m_scratch.Db(), statement);
            EXPECT_EQ(counted.has_value(), outcome.Ok());
            if (counted)
                EXPECT_EQ(*counted, outcome.affected);
            else
                EXPECT_NE(outcome.errorNumber, 0u);
        });
    }
}

TEST_F(CleanupDb, AnEmptiedDayBoxRunsNothing)
{
    EXPECT_EQ(Affected(m_scratch.Db(), OlderRowsStatement("log_a", "")), -1);
    EXPECT_EQ(Ids("log_a"), "1,2,3,4,5,6");
}

TEST_F(CleanupDb, EmptyingEveryTableLeavesNoRow)
{
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    std::vector<std::int64_t> results;
    for (const std::string& table : *tables)
        results.push_back(Affected(m_scratch.Db(), AllRowsStatement(table)));
    EXPECT_EQ(results, (std::vector<std::int64_t>{6, 6, 1, 2}));
    for (const char* table : {"log_a", "log_b", "`odd``name`", "plain"})
        EXPECT_EQ(Ids(table), "") << table;
}

TEST_F(CleanupDb, RoleIdKeepsItsSpacesInsideTheQuotes)
{
    const auto leading = RoleStatement(m_scratch.Db(), "log_a", " 7");
    EXPECT_EQ(DeleteText(leading), "delete FROM `log_a` where user_role_id=' 7'");
    EXPECT_EQ(Affected(m_scratch.Db(), leading), 1);
    EXPECT_EQ(Ids("log_a"), "1,3,4,5,6");
    EXPECT_EQ(Affected(m_scratch.Db(), RoleStatement(m_scratch.Db(), "log_a", "7")), 2);
    EXPECT_EQ(Ids("log_a"), "3,5,6");
}

TEST_F(CleanupDb, RoleIdWithAQuoteIsALiteral)
{
    const auto sql = RoleStatement(m_scratch.Db(), "log_a", "' OR '1'='1");
    EXPECT_EQ(Affected(m_scratch.Db(), sql), 0);
    EXPECT_EQ(Ids("log_a"), "1,2,3,4,5,6");
}

TEST_F(CleanupDb, RoleInEveryTableShowsMinusOneWhereTheColumnIsMissing)
{
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    std::vector<std::int64_t> results;
    for (const std::string& table : *tables) {
        results.push_back(Affected(m_scratch.Db(), RoleStatement(m_scratch.Db(), table, "7")));
    }
    EXPECT_EQ(results, (std::vector<std::int64_t>{2, 2, 1, -1}));
}

TEST_F(CleanupDb, ATableDroppedAfterListingGivesMinusOne)
{
    const auto tables = ListTables(m_scratch.Db());
    ASSERT_TRUE(tables);
    m_scratch.Exec("DROP TABLE log_b");
    std::vector<std::int64_t> results;
    for (const std::string& table : *tables)
        results.push_back(Affected(m_scratch.Db(), AllRowsStatement(table)));
    EXPECT_EQ(results, (std::vector<std::int64_t>{6, -1, 1, 2}));
}

} // namespace
} // namespace mrvn

namespace mrvn {
namespace {

// Chunks at the edges of the limit (3 rows a chunk here), by ranges of the key and by LIMIT:
// the loop ends on the first chunk that deletes fewer rows than the limit (or finds no more
// ids), and a stop between chunks keeps the rest.
TEST(CleanupChunks, EndOnTheFirstShortChunkAndStopBetweenChunks)
{
    struct Case
    {
        const char* name;
        int rows;
        int stopAfter; // chunks before goOn says stop; 0: never
        int rangeChunks, limitChunks;
        int deleted;
        ChunkedDelete::End end;
    };
    const Case cases[] = {
        {"empty", 0, 0, 0, 1, 0, ChunkedDelete::End::Done},
        {"short", 2, 0, 1, 1, 2, ChunkedDelete::End::Done},
        {"exactly one limit", 3, 0, 1, 2, 3, ChunkedDelete::End::Done},
        {"two and a bit", 7, 0, 3, 3, 7, ChunkedDelete::End::Done},
        {"stopped after one", 7, 1, 1, 1, 3, ChunkedDelete::End::Cancelled},
        // The server may end a statement it was told to stop early and without an error: a
        // short chunk after a stop is no proof of the end.
        {"stop asked during the last chunk", 2, 1, 1, 1, 2, ChunkedDelete::End::Cancelled},
    };
    for (const bool ranges : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (ranges ? ", by ranges" : ", by LIMIT"));
            test::ScratchDatabase scratch(false);
            scratch.Exec("CREATE TABLE t (id INT PRIMARY KEY)");
            for (int id = 1; id <= c.rows; ++id)
                scratch.Exec("INSERT INTO t VALUES (" + std::to_string(id * 10) + ")");
            CleanupStatement statement = *AllRowsStatement("t");
            if (ranges)
                PlanChunks(scratch.Db(), statement);
            EXPECT_EQ(statement.key.empty(), !ranges);
            const ChunkedDelete outcome = DeleteInChunks(
                scratch.Db(), statement,
                [&](std::int64_t, int chunks) { return c.stopAfter == 0 || chunks < c.stopAfter; },
                3);
            EXPECT_EQ(outcome.chunks, ranges ? c.rangeChunks : c.limitChunks);
            EXPECT_EQ(outcome.deleted, c.deleted);
            EXPECT_EQ(outcome.end, c.end);
            EXPECT_EQ(scratch.Scalar("SELECT COUNT(*) FROM t"), std::to_string(c.rows - c.deleted));
        }
    }
    // The next statement fails (its table went meanwhile): a failure while a stop is asked is
    // the stop's, one without is the run's.
    for (const bool ranges : {true, false}) {
        for (const bool stopAsked : {true, false}) {
            SCOPED_TRACE(std::string(stopAsked ? "stop asked" : "no stop") +
                         (ranges ? ", by ranges" : ", by LIMIT"));
            test::ScratchDatabase scratch(false);
            scratch.Exec("CREATE TABLE t (id INT PRIMARY KEY)");
            scratch.Exec("INSERT INTO t VALUES (1),(2),(3),(4)");
            CleanupStatement statement = *AllRowsStatement("t");
            if (ranges)
                PlanChunks(scratch.Db(), statement);
            bool dropped = false;
            const ChunkedDelete outcome = DeleteInChunks(
                scratch.Db(), statement,
                [&](std::int64_t, int) {
                    if (!dropped)
                        scratch.Exec("DROP TABLE t");
                    const bool first = !dropped;
                    dropped = true;
                    return first || !stopAsked;
                },
                3);
            EXPECT_EQ(outcome.deleted, 3);
            EXPECT_EQ(outcome.errorNumber, 1146u);
            EXPECT_EQ(outcome.end,
                      stopAsked ? ChunkedDelete::End::Cancelled : ChunkedDelete::End::Failed);
        }
    }
    DbConnection closed;
    EXPECT_EQ(DeleteInChunks(closed, *AllRowsStatement("t"), {}).end, ChunkedDelete::End::Failed);
}

// By table: which key the chunks go by, whether the older-rows condition became a range of its
// column, and that the chunks delete exactly the rows the written condition selects, which is
// what the count said.
TEST(CleanupChunks, RangesOfTheKeyDeleteExactlyTheCountedRows)
{
    struct Case
    {
        const char* name;
        const char* columns; // log_update_time and the keys
        const char* stamp;   // the value of a row n days old, n in @d
        bool byKey;
        bool asRange;
    };
    const Case cases[] = {
        {"datetime", "id INT PRIMARY KEY, log_update_time DATETIME NULL", "NOW() - INTERVAL @d DAY",
         true, true},
        {"date, unsigned big key",
         "id BIGINT UNSIGNED NOT NULL PRIMARY KEY, log_update_time DATE NULL",
         "CURDATE() - INTERVAL @d DAY", true, true},
        {"timestamp", "id INT PRIMARY KEY, log_update_time TIMESTAMP NULL DEFAULT NULL",
         "NOW() - INTERVAL @d DAY", true, true},
        // Text that reads as a date: date() takes it apart, a range of the text would not.
        {"dates as text", "id INT PRIMARY KEY, log_update_time VARCHAR(32) NULL",
         "DATE_FORMAT(NOW() - INTERVAL @d DAY, '%Y-%c-%e %H:%i:%s')", true, false},
        {"no primary key", "id INT, log_update_time DATETIME NULL, KEY (id)",
         "NOW() - INTERVAL @d DAY", false, true},
        {"key of two columns", "id INT, k INT, log_update_time DATETIME NULL, PRIMARY KEY (id, k)",
         "NOW() - INTERVAL @d DAY", false, true},
        {"text key", "id VARCHAR(16) PRIMARY KEY, log_update_time DATETIME NULL",
         "NOW() - INTERVAL @d DAY", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchDatabase scratch(false);
        scratch.Exec(std::string("CREATE TABLE t (") + c.columns + ")");
        // 40 rows from 0 to 9 days old (and every seventh NULL), in no order of id, so a range
        // of ids holds rows to keep between rows to delete.
        for (int i = 0; i < 40; ++i) {
            const int days = (i * 7) % 10;
            std::string stamp = c.stamp;
            stamp.replace(stamp.find("@d"), 2, std::to_string(days));
            const bool twoKeys = std::string(c.columns).find(" k INT") != std::string::npos;
            scratch.Exec("INSERT INTO t (id" + std::string(twoKeys ? ",k" : "") +
                         ",log_update_time) VALUES (" + std::to_string(1000 + i * 3) +
                         (twoKeys ? ",1" : "") + "," + (i % 7 == 3 ? "NULL" : stamp) + ")");
        }
        const auto ids = [&](const std::string& where) {
            return scratch.Scalar("SELECT COALESCE(GROUP_CONCAT(id ORDER BY id), '') FROM t" +
                                  where);
        };
        const std::optional<CleanupStatement> written = OlderRowsStatement("t", "3");
        ASSERT_TRUE(written);
        const std::string selected = ids(" where " + written->condition);
        const std::string kept =
            ids(" where NOT (" + written->condition + ") OR (" + written->condition + ") IS NULL");
        ASSERT_FALSE(selected.empty());
        ASSERT_FALSE(kept.empty());

        CleanupStatement statement = *written;
        PlanChunks(scratch.Db(), statement);
        EXPECT_EQ(!statement.key.empty(), c.byKey);
        EXPECT_EQ(statement.condition != written->condition, c.asRange) << statement.condition;
        const std::optional<std::int64_t> counted = CountCleanupRows(scratch.Db(), statement);
        ASSERT_TRUE(counted);
        const ChunkedDelete outcome = DeleteInChunks(scratch.Db(), statement, {}, 4);
        EXPECT_EQ(outcome.end, ChunkedDelete::End::Done) << outcome.error;
        EXPECT_EQ(outcome.deleted, *counted);
        EXPECT_EQ(ids(""), kept);
    }
}

} // namespace
} // namespace mrvn
