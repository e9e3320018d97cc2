#pragma once

#include "db/DbConnection.h"

#include <optional>
#include <string>
#include <string_view>

namespace mrvn {

// The id of the account's role with the highest id. nullopt when the account is empty after
// RemoveAllSpaces (nothing is queried and the role-id box keeps its text); otherwise the id
// text, empty when the account has no role, there is no connection or the query fails.
// The account is matched as typed (spaces kept), as an escaped string literal.
std::optional<std::string> LookupRoleByAccount(DbConnection& db, std::string_view account);

} // namespace mrvn
