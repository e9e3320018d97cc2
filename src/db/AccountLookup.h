#pragma once

#include "db/DbConnection.h"

#include <optional>
#include <string>
#include <string_view>

namespace mrvn {

// What a lookup of an account's role found.
struct AccountLookupResult
{
    enum class Outcome {
        Found,        // roleId holds the id of the account's role with the highest id
        NoRole,       // the account has no role
        NotConnected, // there was no open connection
        Failed,       // the server refused the query or could not be reached: error tells
    };
    Outcome outcome = Outcome::NotConnected;
    std::string roleId;
    unsigned errorNumber = 0;
    std::string error;
    bool connectionLost = false;
};

// The account's role with the highest id. nullopt when the account is empty after
// RemoveAllSpaces (nothing is queried and the role-id box keeps its text). The account is
// matched as typed (spaces kept), as an escaped string literal.
std::optional<AccountLookupResult> LookupRoleByAccount(DbConnection& db, std::string_view account);

} // namespace mrvn
