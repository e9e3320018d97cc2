#include "app/CleanupPage.h"

#include "app/AccountLookupUi.h"
#include "app/AuditUi.h"
#include "app/CleanupQuestion.h"
#include "app/DatabaseWorker.h"
#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "app/Texts.h"
#include "app/ZoneMarks.h"
#include "cleanup/TableCleanup.h"
#include "db/DbConnection.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// How long a chunk whose answer was lost is waited for before the table is counted again.
constexpr int kLostChunkWaitSeconds = 120;

} // namespace

// A table of the run with its statement and what its count found (nullopt: the count
// failed, so the table is not deleted from).
struct CleanupPage::Counted
{
    int row = -1;
    std::string table;
    std::optional<CleanupStatement> statement;
    std::optional<std::int64_t> rows;
    CountFailure failure; // why the count failed, when it did
};

// What the chunks did to one table.
struct CleanupPage::Deleted
{
    int row = -1;
    bool ran = false; // false: not started (the run was cancelled before it)
    ChunkedDelete chunks;
    std::int64_t remaining = -1; // counted again after a lost answer (-1: not counted)
};

CleanupPage::CleanupPage(DatabaseWorker& worker, Dialogs& dialogs, AuditTrail& audit,
                         QWidget* parent)
    : Page(parent), m_worker(worker), m_dialogs(dialogs), m_audit(audit)
{
    setObjectName(QStringLiteral("清理数据"));
    m_tables = new ReportView(QStringLiteral("超级列表框1"),
                              {{QStringLiteral("tid"), 40},
                               {QStringLiteral("TableName"), 150},
                               {QStringLiteral("result"), 118}},
                              this);
    m_tables->setGeometry(8, 32, 312, 400);
    Pin(m_tables);
    // The table names are whole and the result column takes the rest, never less than its
    // longest text ("影响行数：175000（已取消）" is wider than the designed column): at the
    // design size the list scrolls sideways rather than cut a result. An enlarged window
    // gives the table its extra room; the options beside it keep to its right.
    m_tables->SetColumnGrowth(ColumnIndex(TableColumn::Name), ColumnIndex(TableColumn::Result));
    // A result column wider than the list keeps its heading in view.
    m_tables->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Pin(MakeLabel(this, QStringLiteral("标签1"), QStringLiteral("删除之前天数："),
                  {336, 29, 80, 16}));
    m_days = Pin(
        MakeEdit(this, QStringLiteral("编辑框1"), QStringLiteral("3"), {424, 29, 40, 16}, true));
    m_emptyAll = Pin(MakeCheckBox(this, QStringLiteral("选择框1"), QStringLiteral("全部清空"),
                                  {336, 53, 72, 16}));
    m_emptySelected = Pin(MakeCheckBox(this, QStringLiteral("选择框2"),
                                       QStringLiteral("清理指定表（清空）"), {336, 77, 144, 16}));
    m_olderSelected = Pin(MakeCheckBox(this, QStringLiteral("选择框3"),
                                       QStringLiteral("清理指定表（之前）"), {336, 98, 144, 16}));
    QGroupBox* g = Pin(MakeGroupBox(this, QStringLiteral("分组框3"),
                                    QStringLiteral("清理角色数据："), {320, 128, 174, 104}));
    MakeLabel(g, QStringLiteral("标签9"), QStringLiteral("查询帐号："), {8, 18, 64, 16});
    m_account = MakeEdit(g, QStringLiteral("编辑框7"), {}, {72, 16, 96, 20});
    m_byRole =
        MakeCheckBox(g, QStringLiteral("选择框4"), QStringLiteral("roleid："), {5, 40, 66, 16});
    m_roleId = MakeEdit(g, QStringLiteral("编辑框8"), {}, {72, 36, 96, 20});
    m_roleInSelected =
        MakeCheckBox(g, QStringLiteral("选择框5"), QStringLiteral("指定表"), {5, 57, 58, 16});
    m_lookup =
        MakeButton(g, QStringLiteral("按钮3"), QStringLiteral("查询帐号roleid"), {64, 59, 104, 20});
    MakeLabel(g, QStringLiteral("标签10"), QStringLiteral("清理角色数据请勾选roleid"),
              {8, 80, 160, 16});
    m_start = Pin(
        MakeButton(this, QStringLiteral("按钮2"), QStringLiteral("开始清理"), {336, 243, 144, 24}));
    Pin(MakeLabel(this, QStringLiteral("标签8"), QStringLiteral("都不钩清理全部之前数据"),
                  {336, 272, 144, 24}));
    Pin(MakeLabel(this, QStringLiteral("标签2"),
                  FromDesignText("使用说明：\r\n\r\n本功能使用前请先连接数据库。\r\n\r\n"
                                 "本功能只针对清理 mrvn 数据库\r\n\r\n        by - Tobrel"),
                  {320, 320, 176, 112}));
    std::vector<GrowingControl> growth = {{m_tables, Growth::RightAndDown}};
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget != m_tables)
            growth.push_back({widget, Growth::MoveRight});
    }
    DeclareGrowth(growth);

    connect(m_lookup, &QPushButton::clicked, this, &CleanupPage::LookupRoleByAccount);
    connect(m_start, &QPushButton::clicked, this, &CleanupPage::CleanTables);
}

void CleanupPage::SetZone(const ZoneMark& zone)
{
    m_zone = zone;
}

void CleanupPage::ClearZoneData()
{
    // The tables, their results and a role id of the zone left say nothing about the next.
    m_tables->Model().Clear();
    m_roleId->clear();
}

MessageAnswer CleanupPage::Tell(const MessageRequest& request)
{
    return m_dialogs.Show(this, InZone(request, m_zone));
}

void CleanupPage::LookupRoleByAccount()
{
    RunAccountLookup(m_worker, m_dialogs, m_account, m_roleId);
}

void CleanupPage::SetDatabaseWorkEnabled(bool enabled)
{
    m_lookup->setEnabled(enabled);
    m_start->setEnabled(enabled && !m_running);
}

void CleanupPage::FillTableList()
{
    m_worker.Run(
        this, [](DbConnection& db) { return ListTables(db); },
        [this](std::optional<std::vector<std::string>> tables) {
            if (!tables)
                return;
            std::vector<TextTableModel::Row> rows;
            rows.reserve(tables->size());
            int tid = 0;
            for (std::string& name : *tables)
                rows.push_back({std::to_string(++tid), name, {}});
            m_tables->Model().ResetRows(std::move(rows));
            m_listed = true;
        });
}

void CleanupPage::SetResult(int row, const QString& text)
{
    m_tables->Model().SetCell(row, ColumnIndex(TableColumn::Result), text.toStdString());
}

void CleanupPage::EndRun()
{
    // Told after the run, so the box does not stop it halfway.
    if (m_auditFailure) {
        const AuditResult failure = *m_auditFailure;
        m_auditFailure.reset();
        m_audit.ReportFailure(this, failure);
    }
    m_running = false;
    m_start->setEnabled(!m_worker.Busy());
    emit CleanupFinished();
}

void CleanupPage::CancelCleanup()
{
    if (m_running)
        m_worker.Cancel();
}

void CleanupPage::CleanTables()
{
    if (m_running || m_worker.Busy())
        return;
    // Before the first connect there is no table list: every case would stop silently.
    if (!m_listed) {
        m_dialogs.Message(this, Text(kCleanupNotConnectedText), Text(kCheckTitle),
                          MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    CleanupOptions options;
    options.emptyAll = m_emptyAll->isChecked();
    options.emptySelected = m_emptySelected->isChecked();
    options.olderSelected = m_olderSelected->isChecked();
    options.byRole = m_byRole->isChecked();
    options.roleInSelectedOnly = m_roleInSelected->isChecked();
    const int selected = m_tables->Selection();
    const int rowCount = m_tables->RowCount();
    const CleanupCase which =
        ChooseCleanupCase(options, m_roleId->text().toStdString(), selected != -1, rowCount);
    if (which == CleanupCase::Nothing)
        return;

    const bool everyTable = which == CleanupCase::RoleInEvery || which == CleanupCase::EveryTable;
    const bool byRole = which == CleanupCase::RoleInEvery || which == CleanupCase::RoleInSelected;
    const bool olderRows = which == CleanupCase::OlderSelected ||
                           (which == CleanupCase::EveryTable && !options.emptyAll);
    const std::string days = m_days->text().toStdString();
    if (olderRows && !IsDayCount(days)) {
        m_dialogs.Message(this, Text(kCleanupDayCountText), Text(kCheckTitle), MessageIcon::Warning,
                          MessageButtons::Ok);
        return;
    }

    // The tables and the typed values are fixed here, before the count: what runs after a
    // Yes is exactly what the question named, whatever is typed or ticked meanwhile.
    std::vector<Counted> plan;
    const int first = everyTable ? 0 : selected;
    const int end = everyTable ? rowCount : selected + 1;
    for (int row = first; row < end; ++row)
        plan.push_back(
            {row, m_tables->Model().Cell(row, ColumnIndex(TableColumn::Name)), {}, {}, {}});
    // No number of an earlier run stays beside this one's.
    for (int row = 0; row < rowCount; ++row)
        SetResult(row, QString());

    m_running = true;
    m_start->setEnabled(false);
    const std::string roleId = m_roleId->text().toStdString();
    const std::atomic<bool>* cancel = &m_worker.CancelFlag();
    // One COUNT(*) per table with the delete's own condition, once the table's columns have
    // said how its chunks can find their rows.
    m_worker.Run(
        this,
        [plan, byRole, olderRows, days, roleId, cancel](DbConnection& db) mutable {
            for (Counted& table : plan) {
                if (cancel->load())
                    return std::optional<std::vector<Counted>>();
                if (byRole)
                    table.statement = RoleStatement(db, table.table, roleId);
                else if (olderRows)
                    table.statement = OlderRowsStatement(table.table, days);
                else
                    table.statement = AllRowsStatement(table.table);
                if (table.statement) {
                    PlanChunks(db, *table.statement);
                    table.rows = CountCleanupRows(db, *table.statement);
                    if (!table.rows)
                        table.failure = DescribeCountFailure(*table.statement, db.LastError());
                }
            }
            return std::optional<std::vector<Counted>>(std::move(plan));
        },
        [this](std::optional<std::vector<Counted>> counted) {
            if (!counted) {
                EndRun();
                return;
            }
            AskAndDelete(*counted);
        });
}

void CleanupPage::AskAndDelete(const std::vector<Counted>& tables)
{
    CleanupPreview preview;
    for (const Counted& table : tables)
        preview.Add(table.table, table.rows, table.failure);
    if (preview.total == 0) {
        // Nothing would be deleted: nothing to ask.
        Tell(CleanupNothingMessage(preview));
        EndRun();
        return;
    }
    if (Tell(CleanupQuestion(preview)) != MessageAnswer::Yes) {
        EndRun();
        return;
    }
    RunDeletes(tables, preview.total);
}

void CleanupPage::RunDeletes(const std::vector<Counted>& tables, std::int64_t total)
{
    // Only the counted tables with rows run; a table whose count failed keeps its rows, as
    // the question said.
    std::vector<Counted> runs;
    for (const Counted& table : tables) {
        if (table.rows && *table.rows > 0 && table.statement)
            runs.push_back(table);
        else if (table.rows)
            SetResult(table.row, QString::fromStdString(CleanupResultText(0)));
        else
            SetResult(table.row, CleanupSkipReason(table.failure));
    }

    m_progress = new QProgressDialog(Text(kCleanupProgressText).arg(0).arg(total),
                                     Text(kManyCancelButton), 0, 1000, this);
    m_progress->setObjectName(QStringLiteral("清理进度"));
    m_progress->setWindowTitle(Text(kMessageTitle));
    // Not modal: a modal dialog would make the system drop the main window's close box,
    // and the operator could not end the program during a long cleanup (closing asks first).
    // The controls that would start other database work are off while the cleanup runs.
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &CleanupPage::CancelCleanup);

    const std::atomic<bool>* cancel = &m_worker.CancelFlag();
    const std::filesystem::path logPath = m_audit.LogPath();
    const QPointer<QObject> self(this);
    DatabaseWorker* worker = &m_worker;
    // Shown as each chunk answers.
    const auto progress = [this, total](int row, std::int64_t tableDeleted,
                                        std::int64_t runDeleted) {
        SetResult(row, QString::fromStdString(CleanupResultText(tableDeleted)));
        if (m_progress) {
            m_progress->setLabelText(Text(kCleanupProgressText).arg(runDeleted).arg(total));
            m_progress->setValue(static_cast<int>(
                std::min<std::int64_t>(1000, total > 0 ? runDeleted * 1000 / total : 1000)));
        }
        emit CleanupProgress(runDeleted, total);
    };
    m_worker.Run(
        this,
        [runs, cancel, logPath, self, worker, progress, zone = m_zone.audit](DbConnection& db) {
            std::vector<Deleted> done;
            std::int64_t runDeleted = 0;
            for (const Counted& table : runs) {
                Deleted result;
                result.row = table.row;
                if (cancel->load()) {
                    done.push_back(result);
                    continue;
                }
                result.ran = true;
                const int row = table.row;
                const std::int64_t before = runDeleted;
                result.chunks = DeleteInChunks(
                    db, *table.statement, [&, row, before](std::int64_t deleted, int) {
                        worker->PostToWindow(self, [progress, row, deleted, before] {
                            progress(row, deleted, before + deleted);
                        });
                        return !cancel->load();
                    });
                runDeleted += result.chunks.deleted;
                worker->PostToWindow(self, [progress, row, deleted = result.chunks.deleted,
                                            runDeleted] { progress(row, deleted, runDeleted); });
                // A chunk whose answer was lost may still be running on the server: once the
                // server is done with the connection that lost it, the table is counted again.
                if (result.chunks.end == ChunkedDelete::End::Lost &&
                    WaitUntilConnectionEnded(db, db.ConnectionId(), kLostChunkWaitSeconds,
                                             [cancel] { return !cancel->load(); })) {
                    result.remaining = CountCleanupRows(db, *table.statement).value_or(-1);
                }

                CleanupAuditRecord record;
                record.zone = zone;
                record.table = table.table;
                record.statement = table.statement->ChunkForm(kCleanupChunkRows);
                record.ok = result.chunks.end == ChunkedDelete::End::Done;
                record.affected = result.chunks.deleted;
                record.chunks = result.chunks.chunks;
                record.errorNumber = result.chunks.errorNumber;
                record.error = result.chunks.error;
                record.remaining = result.remaining;
                switch (result.chunks.end) {
                case ChunkedDelete::End::Done:
                    record.outcome = "done";
                    break;
                case ChunkedDelete::End::Failed:
                    record.outcome = "failed";
                    break;
                case ChunkedDelete::End::Cancelled:
                    record.outcome = "cancelled";
                    break;
                case ChunkedDelete::End::Lost:
                    record.outcome = "unknown";
                    break;
                }
                // Written here, as soon as the table is done, so the line is there also when
                // the window closes meanwhile.
                const AuditResult audited = AuditCleanupStatement(logPath, record);
                if (!audited) {
                    worker->PostToWindow(self, [self, audited] {
                        auto* page = static_cast<CleanupPage*>(self.data());
                        if (!page->m_auditFailure)
                            page->m_auditFailure = audited;
                    });
                }
                done.push_back(result);
            }
            return done;
        },
        [this](std::vector<Deleted> done) {
            bool cancelled = false;
            for (const Deleted& table : done)
                cancelled =
                    cancelled || !table.ran || table.chunks.end == ChunkedDelete::End::Cancelled;
            ShowDeleted(done, cancelled);
        });
}

void CleanupPage::ShowDeleted(const std::vector<Deleted>& tables, bool cancelled)
{
    if (m_progress) {
        // Closing a progress dialog says "canceled": the run is over, nobody listens.
        disconnect(m_progress, nullptr, this, nullptr);
        m_progress->close();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    std::int64_t deleted = 0;
    bool unknown = false;
    for (const Deleted& table : tables) {
        deleted += table.chunks.deleted;
        QString text = QString::fromStdString(CleanupResultText(table.chunks.deleted));
        if (!table.ran) {
            text = Text(kCleanupNotRunResult);
        } else {
            switch (table.chunks.end) {
            case ChunkedDelete::End::Done:
                break;
            case ChunkedDelete::End::Failed:
                text += Text(kCleanupFailedSuffix);
                break;
            case ChunkedDelete::End::Cancelled:
                text += Text(kCleanupCancelledSuffix);
                break;
            case ChunkedDelete::End::Lost:
                unknown = true;
                text += table.remaining >= 0
                            ? Text(kCleanupUnknownRemainingSuffix).arg(table.remaining)
                            : Text(kCleanupUnknownSuffix);
                break;
            }
        }
        SetResult(table.row, text);
        m_tables->ScrollIntoView(table.row);
    }
    if (cancelled) {
        Tell({Text(kCleanupCancelledText).arg(deleted), Text(kMessageTitle), MessageIcon::Warning,
              MessageButtons::Ok});
    } else if (unknown) {
        Tell({Text(kCleanupUnknownText), Text(kMessageTitle), MessageIcon::Warning,
              MessageButtons::Ok});
    } else {
        Tell({Text(kCleanupDoneText).arg(deleted), Text(kMessageTitle), MessageIcon::Information,
              MessageButtons::Ok});
    }
    EndRun();
}

} // namespace mrvn
