#include "db/AccountLookup.h"

#include "text/TextUtil.h"

namespace mrvn {

std::optional<std::string> LookupRoleByAccount(DbConnection& db, std::string_view account)
{
    if (RemoveAllSpaces(account).empty())
        return std::nullopt;
    std::string roleId;
    if (!db.IsOpen())
        return roleId;
    // Escaped: a quote in the account is looked up literally and simply finds nothing.
    RowSet rows =
        db.SelectRows("user_role", "id,user_id", "user_id=" + db.QuoteString(account), "id DESC");
    rows.FirstRow();
    rows.ReadField(0, roleId);
    FreeRowSet(rows);
    return roleId;
}

} // namespace mrvn
