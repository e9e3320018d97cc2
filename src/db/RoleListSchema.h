#pragma once

#include "db/DbConnection.h"

#include <optional>
#include <string>
#include <vector>

// What the role list knows of the game's tables: user_role read by column position, the two
// lookup tables' keys and how the server compares each of them with the role's text.
namespace mrvn::rolequery {

class BoundedRun;

// Positions of user_role that the list reads.
enum RolePosition {
    kId = 0,
    kAccountKey = 1,
    kName = 2,
    kJob = 3,
    kExp = 5,
    kLevel = 6,
    kSpirit = 8,
    kCreated = 10,
    kLastLogin = 11,
    kLastOffline = 12,
    kBattlePower = 20,
    kLogins = 21,
    kOnlineMinutes = 22,
};

struct ColumnInfo
{
    std::string name;
    std::string dataType;
    std::string charset;   // empty for non-text columns
    std::string collation; // empty for non-text columns
};

struct Schema
{
    std::vector<ColumnInfo> role;          // by position
    std::optional<ColumnInfo> accountKey;  // user_account.user_guid
    std::optional<ColumnInfo> currencyKey; // role_account.user_role_id
    bool accountUsable = false;
    bool currencyUsable = false;
};

// One statement tells which tables and columns exist, the names of user_role's positions and
// how the server compares the lookup keys.
std::optional<Schema> ReadSchema(BoundedRun& run);

bool IsNumericType(const std::string& type);
bool IsIntegerType(const std::string& type);

// How the server compares a key column with a string literal:
// - a text key under its own collation (a literal is coercible, so the column's collation
//   decides), which may hold different texts equal (case, accents, trailing spaces);
// - a numeric key as double precision numbers;
// - anything else byte by byte.
enum class KeyKind { Collated, Numeric, Bytes };

KeyKind KindOf(const ColumnInfo& key);

// The role side of "key='<text of the role column>'": the column's text as the per-role
// statement would have quoted it (NULL reads as an empty text), in the key's character set
// for a text key. A text column already in the key's character set and an integer column
// against a numeric key skip the detour through text, with the same result.
std::string RoleKeyText(const ColumnInfo& key, const Schema& schema, int position);

// A form of a key value that the client can match byte by byte: for a numeric key the double
// the server compares (+ 0e0 makes it a double on every server, and -0 and 0 one value); for a
// text key the bytes in the key's character set, which the key's classes (below) then group;
// otherwise the bytes.
std::string Matchable(const ColumnInfo& key, const std::string& value);

// The positions the list shows, in the order the role query selects them.
constexpr int kReadPositions[] = {
    kId,      kAccountKey, kName,        kJob,         kExp,    kLevel,        kSpirit,
    kCreated, kLastLogin,  kLastOffline, kBattlePower, kLogins, kOnlineMinutes};
constexpr int kPositionCount = 23;

// Where each user_role position is in a result: -1 when the table has no such column.
struct PositionMap
{
    int columnOf[kPositionCount];
};

// user_role read with "*": each position is the column of the same number, when there is one.
PositionMap ColumnsInOrder(const RowSet& rows);

struct RoleQuery
{
    std::string sql;
    PositionMap positions;
    int accountKeyColumn = -1;
    int currencyKeyColumn = -1;
    int accountNameColumn = -1; // user_role.user_id, found by its name
};

RoleQuery BuildRoleQuery(const Schema& schema);

} // namespace mrvn::rolequery
