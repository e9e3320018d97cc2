#include "app/AuditUi.h"

#include "app/Dialogs.h"
#include "app/Texts.h"

#include <QDir>

namespace mrvn {

QString AuditPathText(const std::filesystem::path& path)
{
    return QDir::toNativeSeparators(QString::fromStdU16String(path.u16string()));
}

AuditTrail::AuditTrail(std::filesystem::path logPath, Dialogs& dialogs, QObject* parent)
    : QObject(parent), m_logPath(std::move(logPath)), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("操作记录"));
}

void AuditTrail::ReportFailure(QWidget* parent, const AuditResult& result)
{
    if (result || m_failureShown)
        return;
    m_failureShown = true;
    m_dialogs.Message(parent, QString::fromUtf8(kAuditFailedText),
                      QString::fromUtf8(kAuditFailedTitle), MessageIcon::Warning,
                      MessageButtons::Ok,
                      AuditPathText(m_logPath) + QLatin1Char('\n') +
                          QString::fromStdString(result.error.message()));
}

AuditResult AuditTrail::RecordMailSend(QWidget* parent, const MailAuditRecord& mail)
{
    const AuditResult result = AuditMailSend(m_logPath, mail);
    ReportFailure(parent, result);
    return result;
}

AuditResult AuditTrail::RecordCleanupStatement(const CleanupAuditRecord& record)
{
    return AuditCleanupStatement(m_logPath, record);
}

} // namespace mrvn
