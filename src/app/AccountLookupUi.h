#pragma once

class QLineEdit;

namespace mrvn {

class DatabaseWorker;
class Dialogs;

// Runs the account-to-role lookup of one page (the mail page's "查询", the cleanup page's
// "查询帐号roleid") on the database thread: the account box's text as it was when pressed
// goes in; once the answer is there, the role-id box gets the id found. When there is none
// the box is cleared (it must not keep another account's role) and the operator is told why:
// "该帐号没有角色", or that the lookup failed and the reason. Nothing happens for a blank
// account.
void RunAccountLookup(DatabaseWorker& worker, Dialogs& dialogs, QLineEdit* account,
                      QLineEdit* roleId);

} // namespace mrvn
