#include "app/AuditUi.h"

#include "app/AppContext.h"
#include "app/Dialogs.h"
#include "app/Texts.h"

#include <QDir>

namespace mrvn {

QString AuditPathText(const std::filesystem::path& path)
{
    return QDir::toNativeSeparators(QString::fromStdU16String(path.u16string()));
}

void ReportAuditFailure(AppContext& context, QWidget* parent, const AuditResult& result)
{
    if (result || context.auditFailureShown)
        return;
    context.auditFailureShown = true;
    context.dialogs().Message(parent, QString::fromUtf8(kAuditFailedText),
                              QString::fromUtf8(kAuditFailedTitle), MessageIcon::Warning,
                              MessageButtons::Ok,
                              AuditPathText(context.env.auditLogPath) + QLatin1Char('\n') +
                                  QString::fromStdString(result.error.message()));
}

AuditResult RecordMailSend(AppContext& context, QWidget* parent, const MailAuditRecord& mail)
{
    const AuditResult result = AuditMailSend(context.env.auditLogPath, mail);
    ReportAuditFailure(context, parent, result);
    return result;
}

} // namespace mrvn
