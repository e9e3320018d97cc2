#pragma once

#include "app/Page.h"
#include "audit/AuditLog.h"

#include <optional>

namespace mrvn {

class AuditTrail;
struct CleanupStatement;
class DbConnection;
class Dialogs;
class ReportView;

// Page 2 "清理数据": the table list and the delete statements.
class CleanupPage : public Page
{
    Q_OBJECT
public:
    // Each statement sent goes into `audit`.
    CleanupPage(DbConnection& db, Dialogs& dialogs, AuditTrail& audit, QWidget* parent = nullptr);

    void FillTableList();
    void CleanTables();
    void LookupRoleByAccount();
    bool CleanupRunning() const { return m_running; }

signals:
    void CleanupFinished();

private:
    // Runs the statement, writes its result into the row and appends it to the audit log.
    void RunOne(int row, const std::optional<CleanupStatement>& statement);
    void Finish();
    // Ends a run that got as far as counting: tells a failed audit append, enables the
    // button again and lets the window close if that was asked meanwhile.
    void EndRun();

    DbConnection& m_db;
    Dialogs& m_dialogs;
    AuditTrail& m_audit;
    ReportView* m_tables;
    QLineEdit* m_days;
    QCheckBox* m_emptyAll;
    QCheckBox* m_emptySelected;
    QCheckBox* m_olderSelected;
    QCheckBox* m_byRole;
    QCheckBox* m_roleInSelected;
    QLineEdit* m_account;
    QLineEdit* m_roleId;
    QPushButton* m_start;
    bool m_running = false;
    // The first failed append of the current run, told with the final message.
    std::optional<AuditResult> m_auditFailure;
};

} // namespace mrvn
