#pragma once

class QLineEdit;

namespace mrvn {

class DatabaseWorker;

// Runs the account-to-role lookup of one page (the mail page's "查询", the cleanup page's
// "查询帐号roleid") on the database thread: the account box's text as it was when pressed
// goes in; once the answer is there, the role-id box is written (cleared when nothing was
// found); nothing happens for a blank account.
void RunAccountLookup(DatabaseWorker& worker, QLineEdit* account, QLineEdit* roleId);

} // namespace mrvn
