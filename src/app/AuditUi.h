#pragma once

#include "audit/AuditLog.h"

#include <QObject>
#include <QString>

#include <filesystem>

class QWidget;

namespace mrvn {

class Dialogs;

// The path as the operator reads it (native separators).
QString AuditPathText(const std::filesystem::path& path);

// The audit log as the pages append to it. The window holds one (object name "操作记录"),
// so a failed append is told once per run, whatever record and page it came from.
class AuditTrail : public QObject
{
    Q_OBJECT
public:
    AuditTrail(std::filesystem::path logPath, Dialogs& dialogs, QObject* parent = nullptr);

    const std::filesystem::path& LogPath() const { return m_logPath; }

    // Tells the operator that an append failed: the first time in this run only; later
    // failures pass without a box. Nothing happens for a successful append.
    void ReportFailure(QWidget* parent, const AuditResult& result);

    // Appends one mail and reports a failure as above. Call it once per mail handed to the
    // server, after the result is known.
    AuditResult RecordMailSend(QWidget* parent, const MailAuditRecord& mail);

    // Appends one cleanup statement; the caller reports a failure when its run has ended.
    AuditResult RecordCleanupStatement(const CleanupAuditRecord& record);

private:
    std::filesystem::path m_logPath;
    Dialogs& m_dialogs;
    bool m_failureShown = false;
};

} // namespace mrvn
