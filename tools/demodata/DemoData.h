#pragma once

#include "db/DbConnection.h"

#include <string>
#include <vector>

// The game's tables as a game server has them, and a generator of plausible content: used by
// the tests, the benchmarks and the demo database.
namespace mrvn::demo {

// Creates every game table the tool touches (IF NOT EXISTS), utf8mb4.
bool CreateGameSchema(DbConnection& db);

// Names of the tables CreateGameSchema makes, in creation order.
std::vector<std::string> GameTables();

struct DemoOptions
{
    int roles = 300;
    unsigned seed = 1;
    int logRowsPerTable = 2000;
};

// Empties the game tables and fills them: roles (some online, several per account, a few
// without account or currency rows, one name outside GBK, jobs A-D plus an odd code),
// statistics snapshots of yesterday and today and log rows of the last two weeks, all
// relative to the server's clock. One transaction, multi-row inserts.
bool FillDemoData(DbConnection& db, const DemoOptions& options);

// The generated role ids are kFirstRoleId, kFirstRoleId + 1, ...
inline constexpr long long kFirstRoleId = 100001;

} // namespace mrvn::demo
