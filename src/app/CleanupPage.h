#pragma once

#include "app/Dialogs.h"
#include "app/Page.h"
#include "app/ZoneMarks.h"
#include "audit/AuditLog.h"

#include <cstdint>
#include <optional>

class QProgressDialog;

namespace mrvn {

class AuditTrail;
class DatabaseWorker;
class Dialogs;
class ReportView;

// Page 2 "清理数据": the table list, the count, the question and the chunked deletes. The
// statements run on the database thread; the page asks, shows progress and results.
class CleanupPage : public Page
{
    Q_OBJECT
public:
    // Each table deleted from goes into `audit`, one line per table.
    CleanupPage(DatabaseWorker& worker, Dialogs& dialogs, AuditTrail& audit,
                QWidget* parent = nullptr);

    // The zone the page's cleanups go to: named first in every question and result, and in
    // every audit record.
    void SetZone(const ZoneMark& zone);
    // Empties what belongs to the zone left at a switch: the table list and the role id.
    void ClearZoneData();
    void FillTableList();
    void CleanTables();
    void LookupRoleByAccount();
    bool CleanupRunning() const { return m_running; }
    // Stops a running cleanup: between chunks, or the chunk running now (KILL QUERY).
    void CancelCleanup();
    // Off while other database work runs: the buttons that would start more.
    void SetDatabaseWorkEnabled(bool enabled);

signals:
    void CleanupFinished();
    // After every chunk: the rows deleted so far in this run and the rows counted.
    void CleanupProgress(qint64 deleted, qint64 counted);

private:
    // A question or result of a cleanup, its first line naming the zone.
    MessageAnswer Tell(const MessageRequest& request);
    struct Counted;
    struct Deleted;
    void AskAndDelete(const std::vector<Counted>& tables);
    void RunDeletes(const std::vector<Counted>& tables, std::int64_t total);
    void ShowDeleted(const std::vector<Deleted>& tables, bool cancelled);
    // Ends a run: tells a failed audit append, enables the button again.
    void EndRun();
    void SetResult(int row, const QString& text);

    DatabaseWorker& m_worker;
    Dialogs& m_dialogs;
    AuditTrail& m_audit;
    ZoneMark m_zone;
    ReportView* m_tables;
    QLineEdit* m_days;
    QCheckBox* m_emptyAll;
    QCheckBox* m_emptySelected;
    QCheckBox* m_olderSelected;
    QCheckBox* m_byRole;
    QCheckBox* m_roleInSelected;
    QLineEdit* m_account;
    QLineEdit* m_roleId;
    QPushButton* m_lookup;
    QPushButton* m_start;
    QProgressDialog* m_progress = nullptr;
    bool m_running = false;
    // The table list has been filled (after a connect).
    bool m_listed = false;
    // The first failed append of the current run, told with the final message.
    std::optional<AuditResult> m_auditFailure;
};

} // namespace mrvn
