#include "app/AccountLookupUi.h"

#include "app/DatabaseWorker.h"
#include "db/AccountLookup.h"

#include <QLineEdit>

#include <optional>
#include <string>

namespace mrvn {

void RunAccountLookup(DatabaseWorker& worker, QLineEdit* account, QLineEdit* roleId)
{
    worker.Run(
        roleId,
        [text = account->text().toStdString()](DbConnection& db) {
            return mrvn::LookupRoleByAccount(db, text);
        },
        [roleId](std::optional<std::string> found) {
            if (found)
                roleId->setText(QString::fromStdString(*found));
        });
}

} // namespace mrvn
