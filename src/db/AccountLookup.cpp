#include "db/AccountLookup.h"

#include "text/TextUtil.h"

namespace mrvn {

std::optional<AccountLookupResult> LookupRoleByAccount(DbConnection& db, std::string_view account)
{
    if (RemoveAllSpaces(account).empty())
        return std::nullopt;
    AccountLookupResult result;
    if (!db.IsOpen())
        return result;
    // Escaped: a quote in the account is looked up literally and simply finds nothing.
    RowSet rows =
        db.SelectRows("user_role", "id,user_id", "user_id=" + db.QuoteString(account), "id DESC");
    if (!rows.Valid()) {
        result.outcome = AccountLookupResult::Outcome::Failed;
        result.errorNumber = db.LastError();
        result.error = db.LastErrorText();
        result.connectionLost = db.ConnectionLost();
        return result;
    }
    result.outcome = rows.FirstRow() && rows.RowCount() > 0 && rows.ReadField(0, result.roleId)
                         ? AccountLookupResult::Outcome::Found
                         : AccountLookupResult::Outcome::NoRole;
    return result;
}

} // namespace mrvn
