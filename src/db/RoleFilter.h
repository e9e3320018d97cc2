#pragma once

#include "db/DbConnection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Receivers of a mail chosen by condition. The conditions are asked of the server, on the
// connection the mail goes out on, at the moment they are needed: the list the window holds
// is up to a minute old (a role that logged in since is not "online" there), and another
// server's connection has no list in the window at all. user_role is read by position, as
// the role list reads it: the id at 0, the level at 6, the last login at 11 and the last
// offline time at 12 (milliseconds); a role is online when its offline time is less than its
// login time, compared as signed 64-bit integers.
namespace mrvn {

struct RoleFilter
{
    bool online = false;                           // online now
    std::optional<std::int64_t> minLevel;          // level from (inclusive)
    std::optional<std::int64_t> maxLevel;          // level to (inclusive)
    std::optional<std::int64_t> offlineWithinDays; // online now, or offline within N days

    // No condition: every role.
    bool AllRoles() const { return !online && !minLevel && !maxLevel && !offlineWithinDays; }
    bool operator==(const RoleFilter&) const = default;
};

// The names of the columns the conditions read, by their positions in user_role.
struct RoleFilterColumns
{
    std::string id;
    std::string level;
    std::string lastLogin;
    std::string lastOffline;
};

// One statement (SHOW COLUMNS); nothing when it fails or user_role has too few columns.
std::optional<RoleFilterColumns> ReadRoleFilterColumns(DbConnection& db);

// The condition for a WHERE clause ("1=1" for every role); `nowMs` is the moment the days
// count back from, in milliseconds since 1970 (UTC).
std::string RoleFilterCondition(const RoleFilterColumns& columns, const RoleFilter& filter,
                                std::int64_t nowMs);

// How many roles meet the conditions; nothing when a statement failed.
std::optional<std::int64_t> CountFilteredRoles(DbConnection& db, const RoleFilter& filter,
                                               std::int64_t nowMs);

// The ids of the roles that meet them, in ascending id; nothing when a statement failed.
std::optional<std::vector<std::string>>
SelectFilteredRoleIds(DbConnection& db, const RoleFilter& filter, std::int64_t nowMs);

} // namespace mrvn
