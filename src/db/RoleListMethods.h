#pragma once

#include "db/RoleList.h"

#include <optional>

// The three ways of reading the role list (RoleListMethod); QueryRoleList chooses.
namespace mrvn::rolequery {

class BoundedRun;

// The bounded method: nullopt with `run.Unsupported()` or `run.NotExact()` set when the per-role
// method has to answer instead.
std::optional<RoleRows> BoundedRoleList(BoundedRun& run, const RoleListOptions& options);

// One statement for the roles, then two per role.
std::optional<RoleRows> PerRoleList(DbConnection& db);

// The per-role method's comparisons for many roles per statement.
std::optional<RoleRows> BatchedRoleList(DbConnection& db);

} // namespace mrvn::rolequery
