#include "app/AccountLookupUi.h"

#include "app/AppContext.h"
#include "db/AccountLookup.h"

#include <QLineEdit>

#include <optional>
#include <string>

namespace mrvn {

void RunAccountLookup(AppContext& context, QLineEdit* account, QLineEdit* roleId)
{
    const std::optional<std::string> found =
        mrvn::LookupRoleByAccount(context.db, account->text().toStdString());
    if (found)
        roleId->setText(QString::fromStdString(*found));
}

} // namespace mrvn
