#include "app/AccountLookupUi.h"

#include "app/AppEnvironment.h"
#include "app/DatabaseWorker.h"
#include "app/Dialogs.h"
#include "app/Texts.h"
#include "db/AccountLookup.h"

#include <QLineEdit>

#include <optional>
#include <string>

namespace mrvn {

namespace {

QString FailureReason(const AccountLookupResult& result)
{
    if (result.outcome == AccountLookupResult::Outcome::NotConnected)
        return QString::fromUtf8(kLookupNotConnectedReason);
    if (result.connectionLost)
        return QString::fromUtf8(kLookupLostReason);
    return ServerReason(result.errorNumber, result.error);
}

} // namespace

void RunAccountLookup(DatabaseWorker& worker, Dialogs& dialogs, QLineEdit* account,
                      QLineEdit* roleId)
{
    worker.Run(
        roleId,
        [text = account->text().toStdString()](DbConnection& db) {
            return mrvn::LookupRoleByAccount(db, text);
        },
        [roleId, &dialogs](std::optional<AccountLookupResult> found) {
            if (!found)
                return;
            if (found->outcome == AccountLookupResult::Outcome::Found) {
                roleId->setText(QString::fromStdString(found->roleId));
                return;
            }
            roleId->clear();
            if (found->outcome == AccountLookupResult::Outcome::NoRole) {
                dialogs.Message(roleId->window(), QString::fromUtf8(kLookupNoRoleText),
                                QString::fromUtf8(kLookupTitle), MessageIcon::Information,
                                MessageButtons::Ok);
                return;
            }
            dialogs.Message(
                roleId->window(), QString::fromUtf8(kLookupFailedText).arg(FailureReason(*found)),
                QString::fromUtf8(kLookupTitle), MessageIcon::Warning, MessageButtons::Ok);
        });
}

} // namespace mrvn
