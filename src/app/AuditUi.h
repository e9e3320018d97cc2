#pragma once

#include "audit/AuditLog.h"

#include <QString>

#include <filesystem>

class QWidget;

namespace mrvn {

struct AppContext;

// The path as the operator reads it (native separators).
QString AuditPathText(const std::filesystem::path& path);

// Tells the operator that an append to the audit log failed: once per run, whatever
// record and page it came from; later failures of the same run pass without a box.
// Nothing happens for a successful append.
void ReportAuditFailure(AppContext& context, QWidget* parent, const AuditResult& result);

// Appends one mail to the audit log (AuditMailSend with the context's log path) and reports
// a failure as above. Call it once per mail handed to the server, after the result is known.
AuditResult RecordMailSend(AppContext& context, QWidget* parent, const MailAuditRecord& mail);

} // namespace mrvn
