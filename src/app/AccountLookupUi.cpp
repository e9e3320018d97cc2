#include "app/AccountLookupUi.h"

#include "db/AccountLookup.h"
#include "db/DbConnection.h"

#include <QLineEdit>

#include <optional>
#include <string>

namespace mrvn {

void RunAccountLookup(DbConnection& db, QLineEdit* account, QLineEdit* roleId)
{
    const std::optional<std::string> found =
        mrvn::LookupRoleByAccount(db, account->text().toStdString());
    if (found)
        roleId->setText(QString::fromStdString(*found));
}

} // namespace mrvn
