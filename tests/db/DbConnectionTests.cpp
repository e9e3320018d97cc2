#include "TestDb.h"

#include "CaseRows.h"
#include "db/DbConnection.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#ifndef _WIN32
#include <csignal>
#include <pwd.h>
#include <thread>
#include <unistd.h>
#endif

namespace mrvn {
namespace {

using test::ScratchDatabase;
using test::TestServer;
using Clock = std::chrono::steady_clock;

// A plain TCP login: no TLS, no tunnel.
ConnectParams Plain(std::string host, std::string user, std::string password, std::string database,
                    unsigned port)
{
    ConnectParams params;
    params.host = std::move(host);
    params.user = std::move(user);
    params.password = std::move(password);
    params.database = std::move(database);
    params.port = port;
    return params;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The client library takes its default port and socket from these variables when it first
// initialises, so pointing them at the test server (before main) makes "the library's
// default" observable: an empty host or port 0 can then only work through the defaults.
const bool kLibraryDefaultsPointAtTestServer = [] {
    const char* dir = std::getenv("MRVN_TEST_DB_DIR");
    if (!dir)
        return false;
    std::ifstream file(std::string(dir) + "/port");
    std::string port;
    if (!(file >> port))
        return false;
    qputenv("MYSQL_TCP_PORT", port.c_str());
    qputenv("MYSQL_UNIX_PORT", (std::string(dir) + "/server.sock").c_str());
    return true;
}();

TEST(BuildSelect, InsertsThePartsUnchanged)
{
    struct Case
    {
        const char* table;
        const char* fields;
        const char* condition;
        const char* order;
        const char* expected;
    };
    const Case cases[] = {
        {"t", "*", "", "", "select * from t"},
        {"t", "a,b", "a=1", "", "select a,b from t where a=1"},
        {"t", "a", "", "id DESC", "select a from t order by id DESC"},
        {"user_role", "id,user_id", "user_id='x'", "id DESC",
         "select id,user_id from user_role where user_id='x' order by id DESC"},
        // No trimming, no quoting: a lone space is a condition.
        {" t ", " a ", " ", " ", "select  a  from  t  where   order by  "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildSelect(c.table, c.fields, c.condition, c.order), c.expected) << c.expected;
}

TEST(Escaping, LiteralAndIdentifier)
{
    EXPECT_EQ(EscapeSqlLiteral(std::string_view("a'b\"c\\d\ne\rf\x1ag\0h", 15)),
              "a\\'b\\\"c\\\\d\\ne\\rf\\Zg\\0h");
    EXPECT_EQ(EscapeSqlLiteral("名字"), "名字");
    EXPECT_EQ(DbConnection::QuoteIdentifier("log`x"), "`log``x`");
    EXPECT_EQ(DbConnection::QuoteIdentifier(""), "``");
    DbConnection closed;
    EXPECT_EQ(closed.QuoteString("it's"), "'it\\'s'");
}

TEST(Escaping, EveryByteRoundTripsThroughTheServer)
{
    ScratchDatabase scratch(false);
    std::string text = "龙🐉𠀀 ' \" \\ % _ ";
    for (int c = 0; c < 32; ++c)
        text.push_back(static_cast<char>(c));
    for (DbConnection* db : {&scratch.Db()}) {
        RowSet rows = db->SelectRows("dual", "CAST(" + db->QuoteString(text) + " AS BINARY)");
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(rows.ReadField(0, bytes)) << db->LastErrorText();
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
    }
    // The offline escaping reads back the same under the connection's character set.
    RowSet rows = scratch.Db().SelectRows("dual", "'" + EscapeSqlLiteral(text) + "'");
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(rows.ReadField(0, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
}

TEST(Connect, FailureLeavesNoConnection)
{
    const ConnectParams server = TestServer();
    struct Case
    {
        const char* what;
        ConnectParams params;
    };
    const Case cases[] = {
        {"wrong password", Plain(server.host, server.user, "wrong", "", server.port)},
        {"unknown database",
         Plain(server.host, server.user, server.password, "no_such_db_x", server.port)},
        {"closed port", Plain(server.host, server.user, server.password, "", 1)},
    };
    for (const Case& c : cases) {
        DbConnection db;
        EXPECT_FALSE(db.Connect(c.params)) << c.what;
        EXPECT_FALSE(db.IsOpen()) << c.what;
        EXPECT_NE(db.LastError(), 0u) << c.what;
        EXPECT_FALSE(db.ExecSql("select 1")) << c.what;
        EXPECT_FALSE(db.StoreResult().Valid()) << c.what;
        EXPECT_FALSE(db.SelectRows("dual", "1").Valid()) << c.what;
        EXPECT_EQ(db.AffectedRows(), 0) << c.what;
    }
}

TEST(Connect, SuccessAfterFailureAndUtf8mb4)
{
    const ConnectParams server = TestServer();
    DbConnection db;
    ConnectParams wrong = server;
    wrong.password = "nope";
    EXPECT_FALSE(db.Connect(wrong));
    ASSERT_TRUE(db.Connect(server)) << db.LastError();
    EXPECT_TRUE(db.IsOpen());
    std::string charset;
    RowSet rows = db.SelectRows("dual", "@@character_set_client, @@character_set_results");
    ASSERT_TRUE(rows.ReadField(0, charset));
    EXPECT_EQ(charset, "utf8mb4");
    ASSERT_TRUE(rows.ReadField(1, charset));
    EXPECT_EQ(charset, "utf8mb4");
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    EXPECT_FALSE(db.ExecSql("select 1"));
}

TEST(Connect, EmptyTextsAndPortZeroReachTheLibraryDefaults)
{
    ASSERT_TRUE(kLibraryDefaultsPointAtTestServer);
    const ConnectParams server = TestServer();
    DbConnection db;
    // Port 0: the library's default port, which here is the test server's.
    EXPECT_TRUE(db.Connect(Plain(server.host, server.user, server.password, "", 0)))
        << db.LastError();
    // An empty host is "localhost": through the default socket rather than TCP where there
    // are Unix sockets; Windows has none and goes over TCP to the loopback address.
    EXPECT_TRUE(db.Connect(Plain("", server.user, server.password, "", 0))) << db.LastError();
    std::string host;
    RowSet rows = db.SelectRows("dual", "USER()");
    ASSERT_TRUE(rows.ReadField(0, host));
#ifdef _WIN32
    EXPECT_EQ(host, "root@127.0.0.1");
    const std::string login = qEnvironmentVariable("USERNAME").toStdString();
#else
    EXPECT_EQ(host, "root@localhost");
    const passwd* self = getpwuid(geteuid());
    const std::string login = self ? self->pw_name : "";
#endif
    // An empty user is the login name of the process, not an empty name.
    if (login == "root") {
        EXPECT_TRUE(db.Connect(Plain("", "", server.password, "", 0))) << db.LastError();
    }
    // An empty password is no password: root has one, so this is refused.
    EXPECT_FALSE(db.Connect(Plain(server.host, server.user, "", "", server.port)));
    // An empty database selects none.
    ASSERT_TRUE(db.Connect(Plain(server.host, server.user, server.password, "", server.port)));
    std::string database = "unchanged";
    rows = db.SelectRows("dual", "DATABASE()");
    ASSERT_TRUE(rows.ReadField(0, database));
    EXPECT_EQ(database, "");
}

// A statement stopped from outside: KILL QUERY over a second connection ends it at once,
// says so, and leaves the connection usable; Abort breaks the wait and refuses further
// statements until the next Connect.
TEST(StopFromOutside, KillQueryAndAbort)
{
    const ConnectParams server = test::TestServer();
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "abort" : "kill query");
        DbConnection db;
        ASSERT_TRUE(db.Connect(server));
        EXPECT_EQ(db.WaitingMs(), 0);
        bool ok = true;
        const auto start = std::chrono::steady_clock::now();
        std::thread statement([&] { ok = db.ExecSql("SELECT SLEEP(10)"); });
        while (db.WaitingMs() < 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (abort)
            db.Abort();
        else
            EXPECT_TRUE(KillQuery(db.Params(), db.ConnectionId()));
        statement.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(db.WaitingMs(), 0);
        if (abort) {
            EXPECT_FALSE(db.ExecSql("SELECT 1"));
            EXPECT_TRUE(db.ConnectionLost());
            EXPECT_TRUE(db.Connect(server));
            EXPECT_TRUE(db.ExecSql("SELECT 1"));
        } else {
            // SLEEP stopped by a kill ends its statement without an error.
            EXPECT_TRUE(ok);
            db.StoreResult();
            EXPECT_TRUE(db.ExecSql("SELECT 1"));
        }
    }
}

TEST(Statements, ExecStoreAffectedAndShowTables)
{
    ScratchDatabase scratch(false);
    DbConnection& db = scratch.Db();
    ASSERT_TRUE(db.ExecSql("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))"));
    ASSERT_TRUE(db.ExecSql("INSERT INTO t VALUES (1,'a'),(2,'b'),(3,NULL)"));
    EXPECT_EQ(db.AffectedRows(), 3);
    EXPECT_FALSE(db.StoreResult().Valid()); // an INSERT leaves no result
    ASSERT_TRUE(db.ExecSql("DELETE FROM t WHERE id > 1"));
    EXPECT_EQ(db.AffectedRows(), 2);
    EXPECT_FALSE(db.ExecSql("DELETE FROM no_such_table"));
    EXPECT_EQ(db.AffectedRows(), -1);
    EXPECT_EQ(db.LastError(), 1146u);
    ASSERT_TRUE(db.ExecSql("DELETE FROM t WHERE id = 99"));
    EXPECT_EQ(db.AffectedRows(), 0);

    ASSERT_TRUE(db.ExecSql("CREATE TABLE `second table` (x INT)"));
    ASSERT_TRUE(db.ShowTables());
    RowSet tables = db.StoreResult();
    ASSERT_EQ(tables.RowCount(), 2);
    std::string name;
    tables.ReadField(0, name);
    EXPECT_EQ(name, "second table");
    tables.NextRow();
    tables.ReadField(0, name);
    EXPECT_EQ(name, "t");
}

TEST(Statements, SelectRowsRunsTheBuiltText)
{
    ScratchDatabase scratch(false);
    DbConnection& db = scratch.Db();
    scratch.Exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10))");
    scratch.Exec("INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c')");
    const auto ids = [&](std::string_view condition, std::string_view order) {
        RowSet rows = db.SelectRows("t", "id", condition, order);
        std::string joined;
        const std::int64_t count = rows.RowCount();
        rows.FirstRow();
        for (std::int64_t i = 0; i < count; ++i, rows.NextRow()) {
            std::string id;
            rows.ReadField(0, id);
            joined += id;
        }
        return joined;
    };
    EXPECT_EQ(ids("", "id DESC"), "321");
    EXPECT_EQ(ids("id<>2", "id DESC"), "31");
    EXPECT_EQ(ids("id>1", "id"), "23");
    EXPECT_FALSE(db.SelectRows("t", "id", "no_column=1").Valid());
    EXPECT_FALSE(db.SelectRows("no_such_table", "*").Valid());
}

class ReadFieldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_scratch.Exec("CREATE TABLE t (id INT PRIMARY KEY, txt VARCHAR(40), num BIGINT, "
                       "f DOUBLE, blob_col VARBINARY(10), n VARCHAR(5) NULL, id2 INT)");
        m_scratch.Exec("INSERT INTO t VALUES "
                       "(1,'  -42abc',9223372036854775807,-1.5e3,X'610062',NULL,7),"
                       "(2,'0',-9223372036854775808,.25,X'',NULL,8)");
        m_rows = m_scratch.Db().SelectRows("t", "*", "", "id");
        ASSERT_EQ(m_rows.RowCount(), 2);
    }
    ScratchDatabase m_scratch{false};
    RowSet m_rows;
};

TEST_F(ReadFieldTest, NullGivesTheEmptyValueOfEachType)
{
    const int column = m_rows.ColumnIndex("n");
    ASSERT_EQ(column, 5);
    std::string text = "old";
    std::vector<unsigned char> bytes = {1};
    std::int16_t i16 = 5;
    std::int32_t i32 = 5;
    std::int64_t i64 = 5;
    double real = 5;
    bool flag = true;
    EXPECT_TRUE(m_rows.ReadField(column, text));
    EXPECT_TRUE(m_rows.ReadField(column, bytes));
    EXPECT_TRUE(m_rows.ReadField(column, i16));
    EXPECT_TRUE(m_rows.ReadField(column, i32));
    EXPECT_TRUE(m_rows.ReadField(column, i64));
    EXPECT_TRUE(m_rows.ReadField(column, real));
    EXPECT_TRUE(m_rows.ReadField(column, flag));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(i16, 0);
    EXPECT_EQ(i32, 0);
    EXPECT_EQ(i64, 0);
    EXPECT_EQ(real, 0.0);
    EXPECT_FALSE(flag);
}

TEST_F(ReadFieldTest, MissingColumnsKeepTheTarget)
{
    for (const int column : {-1, 7, 100}) {
        std::string text = "kept";
        std::int64_t number = 99;
        bool flag = true;
        EXPECT_FALSE(m_rows.ReadField(column, text)) << column;
        EXPECT_FALSE(m_rows.ReadField(column, number)) << column;
        EXPECT_FALSE(m_rows.ReadField(column, flag)) << column;
        EXPECT_EQ(text, "kept");
        EXPECT_EQ(number, 99);
        EXPECT_TRUE(flag);
    }
    std::string text = "kept";
    // Names match exactly: case matters and no partial match.
    EXPECT_FALSE(m_rows.ReadField("ID", text));
    EXPECT_FALSE(m_rows.ReadField("i", text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(m_rows.ReadField("id2", text));
    EXPECT_EQ(text, "7");

    RowSet empty;
    EXPECT_FALSE(empty.ReadField(0, text));
    EXPECT_FALSE(empty.FirstRow());
    EXPECT_FALSE(empty.NextRow());
    EXPECT_EQ(empty.RowCount(), 0);
    EXPECT_EQ(text, "7");

    // A result without rows has nothing to read either.
    RowSet none = m_scratch.Db().SelectRows("t", "id", "id > 100");
    ASSERT_TRUE(none.Valid());
    EXPECT_FALSE(none.ReadField(0, text));
    EXPECT_EQ(text, "7");
}

TEST_F(ReadFieldTest, CursorPastTheEndReadsTheLastRow)
{
    std::string id;
    m_rows.ReadField("id", id);
    EXPECT_EQ(id, "1");
    m_rows.ReadField("id", id); // reading does not move the cursor
    EXPECT_EQ(id, "1");
    EXPECT_TRUE(m_rows.NextRow());
    EXPECT_TRUE(m_rows.NextRow()); // there was a row under the cursor
    EXPECT_FALSE(m_rows.NextRow());
    EXPECT_FALSE(m_rows.NextRow());
    EXPECT_TRUE(m_rows.ReadField("id", id));
    EXPECT_EQ(id, "2");
    EXPECT_TRUE(m_rows.FirstRow());
    m_rows.ReadField("id", id);
    EXPECT_EQ(id, "1");
}

TEST_F(ReadFieldTest, ConversionsOfEachType)
{
    std::string text;
    std::int16_t i16 = 0;
    std::int32_t i32 = 0;
    std::int64_t i64 = 0;
    double real = 0;
    bool flag = false;
    std::vector<unsigned char> bytes;

    m_rows.ReadField("txt", i32);
    EXPECT_EQ(i32, -42); // white space, sign, digits; the rest ends it
    m_rows.ReadField("txt", flag);
    EXPECT_TRUE(flag); // first character is a space, not "0"
    m_rows.ReadField("num", i64);
    EXPECT_EQ(i64, std::numeric_limits<std::int64_t>::max());
    m_rows.ReadField("num", i32);
    EXPECT_EQ(i32, std::numeric_limits<std::int32_t>::max()); // saturates
    m_rows.ReadField("num", i16);
    EXPECT_EQ(i16, std::numeric_limits<std::int16_t>::max());
    m_rows.ReadField("f", real);
    EXPECT_DOUBLE_EQ(real, -1500.0);
    m_rows.ReadField("blob_col", bytes);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{'a', 0, 'b'}));
    m_rows.ReadField("blob_col", text);
    EXPECT_EQ(text, "a"); // text ends at the zero byte

    m_rows.NextRow();
    m_rows.ReadField("txt", flag);
    EXPECT_FALSE(flag);
    m_rows.ReadField("num", i64);
    EXPECT_EQ(i64, std::numeric_limits<std::int64_t>::min());
    m_rows.ReadField("num", i16);
    EXPECT_EQ(i16, std::numeric_limits<std::int16_t>::min());
    m_rows.ReadField("f", real);
    EXPECT_DOUBLE_EQ(real, 0.25);
    bytes = {1, 2};
    EXPECT_TRUE(m_rows.ReadField("blob_col", bytes));
    EXPECT_TRUE(bytes.empty());
    m_rows.ReadField("blob_col", flag);
    EXPECT_TRUE(flag); // empty, so its first character is not "0"
}

TEST(ReadField, NumberTextsAtTheirEdges)
{
    ScratchDatabase scratch(false);
    struct Case
    {
        const char* text;
        std::int64_t i64;
        std::int32_t i32;
        double real;
    };
    const Case cases[] = {
        {"", 0, 0, 0.0},
        {"abc", 0, 0, 0.0},
        {"-", 0, 0, 0.0},
        {"+17", 17, 17, 17.0},
        {"\t 12 34", 12, 12, 12.0},
        {"2147483648", 2147483648LL, 2147483647, 2147483648.0},
        {"-2147483649", -2147483649LL, -2147483647 - 1, -2147483649.0},
        {"99999999999999999999", std::numeric_limits<std::int64_t>::max(),
         std::numeric_limits<std::int32_t>::max(), 1e20},
        {"1e3x", 1, 1, 1000.0},
        {".5", 0, 0, 0.5},
        {"inf", 0, 0, 0.0},
        {"0x1A", 0, 0, 0.0},
    };
    mrvn::test::ForEachRow(cases, &Case::text, [&](const Case& c) {
        RowSet rows = scratch.Db().SelectRows("dual", scratch.Db().QuoteString(c.text));
        std::int64_t i64 = -7;
        std::int32_t i32 = -7;
        double real = -7;
        ASSERT_TRUE(rows.ReadField(0, i64)) << c.text;
        rows.ReadField(0, i32);
        rows.ReadField(0, real);
        EXPECT_EQ(i64, c.i64) << c.text;
        EXPECT_EQ(i32, c.i32) << c.text;
        EXPECT_DOUBLE_EQ(real, c.real) << c.text;
    });
}

#ifndef _WIN32
// A server of its own in a fresh folder (scripts/db-server.sh), so stopping or pausing it
// disturbs no other test; stopped and removed at the end.
class OwnTestServer
{
public:
    explicit OwnTestServer(const std::string& name)
        : m_dir(std::filesystem::temp_directory_path() /
                ("mrvn-" + name + "-" + std::to_string(QCoreApplication::applicationPid())))
    {
    }
    ~OwnTestServer()
    {
        Run("stop");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    // Starts it (again on the same port once it has one); false when it did not start.
    bool Start()
    {
        if (Run("start", m_port ? std::to_string(m_port) : std::string()) != 0)
            return false;
        std::ifstream(m_dir / "port") >> m_port;
        std::ifstream(m_dir / "server.pid") >> m_pid;
        return m_port != 0 && m_pid > 0;
    }
    bool Stop() { return Run("stop") == 0; }
    ConnectParams Params() const { return Plain("127.0.0.1", "root", "739215", "", m_port); }
    int Pid() const { return m_pid; }

private:
    int Run(const std::string& command, const std::string& port = {}) const
    {
        // tests/db/data -> the project folder.
        const std::filesystem::path script =
            std::filesystem::path(MRVN_TEST_DATA_DIR).parent_path().parent_path().parent_path() /
            "scripts" / "db-server.sh";
        const std::string line = "'" + script.string() + "' " + command + " '" + m_dir.string() +
                                 "' " + port + " >/dev/null";
        return std::system(line.c_str());
    }

    std::filesystem::path m_dir;
    unsigned m_port = 0;
    int m_pid = 0;
};

TEST(OwnServer, ServerRestartedWhileConnected)
{
    OwnTestServer server("restart");
    ASSERT_TRUE(server.Start());
    DbConnection db;
    ASSERT_TRUE(db.Connect(server.Params()));
    ASSERT_TRUE(db.ExecSql("CREATE DATABASE restart_test"));
    ASSERT_TRUE(db.ExecSql("USE restart_test"));
    ASSERT_TRUE(db.ExecSql("CREATE TABLE t (name VARCHAR(20)) DEFAULT CHARSET=utf8mb4"));
    ASSERT_TRUE(db.ExecSql("INSERT INTO t VALUES ('龙🐉')"));

    EXPECT_TRUE(server.Stop());
    ASSERT_TRUE(server.Start());

    // The first statement after the restart already works: the connection is made again
    // before it, with the character set and the database of the first connect.
    RowSet rows = db.SelectRows("t", "name");
    std::string name;
    EXPECT_TRUE(rows.ReadField(0, name)) << db.LastError() << " " << db.LastErrorText();
    EXPECT_EQ(name, "龙🐉");
}

// After a restart the server hands out ids from the start again, so the id of the tool's old
// connection may be another client's: a Cancel must stop the statement of the connection the
// tool runs it on, and the look-up after a lost answer must not wait for its own connection.
TEST(OwnServer, AfterARestartTheIdsNameTheToolsOwnConnection)
{
    OwnTestServer server("ids");
    ASSERT_TRUE(server.Start());
    // Connections before the tool's raise its id above what the restarted server's start-up
    // takes, so another client can be given it afterwards.
    for (int i = 0; i < 15; ++i)
        DbConnection().Connect(server.Params());
    DbConnection db;
    ASSERT_TRUE(db.Connect(server.Params()));
    ASSERT_TRUE(db.ExecSql("SELECT 1"));
    db.StoreResult();
    const unsigned long oldId = db.ConnectionId();
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(server.Start());

    DbConnection other;
    while (other.Connect(server.Params()) && other.ConnectionId() < oldId) {
    }
    ASSERT_EQ(other.ConnectionId(), oldId);
    DbConnection watcher;
    ASSERT_TRUE(watcher.Connect(server.Params()));
    // The ids of the connections running a SLEEP, in order.
    const auto sleeping = [&] {
        RowSet rows = watcher.SelectRows("information_schema.PROCESSLIST", "ID",
                                         "INFO LIKE 'SELECT SLEEP(%'", "ID");
        std::vector<unsigned long> ids;
        std::int64_t id = 0;
        for (std::int64_t row = 0; row < rows.RowCount(); ++row, rows.NextRow()) {
            rows.ReadField(0, id);
            ids.push_back(static_cast<unsigned long>(id));
        }
        return ids;
    };
    std::thread others([&] { other.ExecSql("SELECT SLEEP(30)"); });
    std::thread tools([&] { db.ExecSql("SELECT SLEEP(30)"); });
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while ((sleeping().size() < 2 || db.WaitingMs() < 100) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // What DatabaseWorker::Cancel does while a statement waits.
    EXPECT_NE(db.ConnectionId(), oldId);
    EXPECT_TRUE(KillQuery(db.Params(), db.ConnectionId()));
    tools.join();
    // The server may list the stopped statement for a moment after its client has heard.
    const auto killed = Clock::now() + std::chrono::seconds(10);
    while (sleeping() != std::vector<unsigned long>{oldId} && Clock::now() < killed)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sleeping(), std::vector<unsigned long>{oldId});
    KillQuery(db.Params(), oldId);
    others.join();
    db.StoreResult();

    // The old id is the other client's now: the look-up ends once the other client is gone,
    // and at once where the tool's own new connection got the old id.
    EXPECT_FALSE(WaitUntilConnectionEnded(db, oldId, 1, {}));
    other.Close();
    EXPECT_TRUE(WaitUntilConnectionEnded(db, oldId, 10, {}));
    const unsigned long ownId = db.ConnectionId();
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(server.Start());
    while (other.Connect(server.Params()) && other.ConnectionId() < ownId - 1) {
    }
    other.Close();
    const auto start = Clock::now();
    EXPECT_TRUE(WaitUntilConnectionEnded(db, ownId, 10, {}));
    EXPECT_EQ(db.ConnectionId(), ownId);
    EXPECT_LT(SecondsSince(start), 5.0);
}
#endif

TEST(Connect, CharacterSetFallsBackToUtf8WhenUnknown)
{
    struct Case
    {
        const char* what;
        const char* first;
        bool utf8mb4;
    };
    const Case cases[] = {
        {"utf8mb4, known to both", "utf8mb4", true},
        // The client library knows gb18030, this server does not: the server ignores the
        // handshake's character set silently (as servers before 5.5.3 do with utf8mb4) and
        // refuses SET NAMES.
        {"refused by the server", "gb18030", false},
        {"unknown to the client library", "no_such_charset", false},
    };
    mrvn::test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        ConnectOptions options;
        options.charset = c.first;
        DbConnection db;
        ASSERT_TRUE(db.Connect(TestServer(), options)) << db.LastError();
        std::string client, results, connection;
        RowSet rows = db.SelectRows(
            "dual", "@@character_set_client, @@character_set_results, @@character_set_connection");
        ASSERT_TRUE(rows.ReadField(0, client));
        rows.ReadField(1, results);
        rows.ReadField(2, connection);
        const std::string expected = c.utf8mb4 ? "utf8mb4" : "utf8";
        // Newer servers call utf8 utf8mb3.
        for (const std::string& charset : {client, results, connection, db.CharacterSet()})
            EXPECT_TRUE(charset == expected || (!c.utf8mb4 && charset == "utf8mb3")) << charset;
        // A three-byte character goes through whole either way.
        rows = db.SelectRows("dual", "HEX('龙')");
        std::string hex;
        rows.ReadField(0, hex);
        EXPECT_EQ(hex, "E9BE99");
    });
}

// The shared test server is paused only for a few seconds: the other test programs, with the
// default time-outs, merely wait.
ConnectOptions ShortTimeouts()
{
    ConnectOptions options;
    options.connectTimeoutSeconds = 1;
    options.readTimeoutSeconds = 1;
    options.writeTimeoutSeconds = 1;
    return options;
}

TEST(HungServer, StatementsReturnWithinTheTimeoutsAndReconnectAfter)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    const ConnectOptions options = ShortTimeouts();
    // Generous: the bound is what matters, not the exact figure.
    constexpr double kMargin = 3.0;
    DbConnection db;
    ASSERT_TRUE(db.Connect(TestServer(), options)) << db.LastError();
    ASSERT_TRUE(db.ExecSql("SELECT 1"));
    db.StoreResult();
    // Too big for the socket buffers: the write itself blocks.
    const std::string big = "SELECT LENGTH('" + std::string(24 << 20, 'x') + "')";
    {
        test::PausedServer paused;
        ASSERT_TRUE(paused.Paused());

        auto start = Clock::now();
        EXPECT_FALSE(db.ExecSql("SELECT 1"));
        double seconds = SecondsSince(start);
        EXPECT_TRUE(db.ConnectionLost()) << db.LastError();
        EXPECT_GE(seconds, options.readTimeoutSeconds - 0.1);
        EXPECT_LT(seconds, options.readTimeoutSeconds + kMargin);

        // Still hung: each further statement costs one reconnect attempt.
        start = Clock::now();
        EXPECT_FALSE(db.ExecSql("SELECT 2"));
        seconds = SecondsSince(start);
        EXPECT_TRUE(db.ConnectionLost()) << db.LastError();
        EXPECT_LT(seconds, options.connectTimeoutSeconds + kMargin);
    }
    // Back: the next statement reconnects by itself.
    ASSERT_TRUE(db.ExecSql("SELECT 3")) << db.LastError() << " " << db.LastErrorText();
    std::string value;
    db.StoreResult().ReadField(0, value);
    EXPECT_EQ(value, "3");
    EXPECT_FALSE(db.ConnectionLost());

    {
        test::PausedServer paused;
        ASSERT_TRUE(paused.Paused());
        const auto start = Clock::now();
        EXPECT_FALSE(db.ExecSql(big));
        const double seconds = SecondsSince(start);
        EXPECT_TRUE(db.ConnectionLost()) << db.LastError();
        // The write time-out, then one reconnect attempt.
        EXPECT_LT(seconds, options.writeTimeoutSeconds + options.connectTimeoutSeconds + kMargin);
    }
    ASSERT_TRUE(db.ExecSql("SELECT 4")) << db.LastError();
    db.StoreResult().ReadField(0, value);
    EXPECT_EQ(value, "4");
}

TEST(HungServer, ConnectToAHungServerEndsWithinTheConnectTimeout)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX signals";
#endif
    const ConnectOptions options = ShortTimeouts();
    DbConnection db;
    test::PausedServer paused;
    ASSERT_TRUE(paused.Paused());
    const auto start = Clock::now();
    EXPECT_FALSE(db.Connect(TestServer(), options));
    EXPECT_LT(SecondsSince(start), options.connectTimeoutSeconds + 3.0);
    EXPECT_FALSE(db.IsOpen());
}

// The default time-outs, measured on a server of its own (paused for half a minute, which
// the shared one must not be).
#ifndef _WIN32
TEST(OwnServer, DefaultReadTimeoutIsThirtySeconds)
{
    OwnTestServer server("hung");
    ASSERT_TRUE(server.Start());
    DbConnection db;
    ASSERT_TRUE(db.Connect(server.Params()));
    kill(server.Pid(), SIGSTOP);
    EXPECT_TRUE(test::WaitUntilStopped(server.Pid()));
    const auto start = Clock::now();
    const bool answered = db.ExecSql("SELECT 1");
    const double seconds = SecondsSince(start);
    kill(server.Pid(), SIGCONT);
    EXPECT_FALSE(answered);
    EXPECT_TRUE(db.ConnectionLost()) << db.LastError();
    EXPECT_GE(seconds, 29.9);
    EXPECT_LT(seconds, 33.0);
    EXPECT_TRUE(db.ExecSql("SELECT 1")) << db.LastError();
    db.StoreResult();
}
#endif

} // namespace
} // namespace mrvn
