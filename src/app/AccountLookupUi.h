#pragma once

class QLineEdit;

namespace mrvn {

class DbConnection;

// Runs the account-to-role lookup of one page (the mail page's "查询", the cleanup page's
// "查询帐号roleid"): the account box's text in, the role-id box written (cleared when
// nothing was found); nothing happens for a blank account.
void RunAccountLookup(DbConnection& db, QLineEdit* account, QLineEdit* roleId);

} // namespace mrvn
