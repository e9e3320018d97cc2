#include "app/CleanupPage.h"

#include "app/AccountLookupUi.h"
#include "app/AuditUi.h"
#include "app/CleanupQuestion.h"
#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "app/Texts.h"
#include "cleanup/TableCleanup.h"
#include "db/DbConnection.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace mrvn {

CleanupPage::CleanupPage(DbConnection& db, Dialogs& dialogs, AuditTrail& audit, QWidget* parent)
    : Page(parent), m_db(db), m_dialogs(dialogs), m_audit(audit)
{
    setObjectName(QStringLiteral("清理数据"));
    m_tables = new ReportView(QStringLiteral("超级列表框1"),
                              {{QStringLiteral("tid"), 40},
                               {QStringLiteral("TableName"), 150},
                               {QStringLiteral("result"), 118}},
                              this);
    m_tables->setGeometry(8, 32, 312, 400);
    Pin(m_tables);
    // The table list takes the extra room, its table names first, then its result column;
    // the options beside it keep to its right.
    m_tables->SetColumnGrowth(ColumnIndex(TableColumn::Name), ColumnIndex(TableColumn::Result));
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
    auto* lookup =
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

    connect(lookup, &QPushButton::clicked, this, &CleanupPage::LookupRoleByAccount);
    connect(m_start, &QPushButton::clicked, this, &CleanupPage::CleanTables);
}

void CleanupPage::LookupRoleByAccount()
{
    RunAccountLookup(m_db, m_account, m_roleId);
}

void CleanupPage::FillTableList()
{
    const std::optional<std::vector<std::string>> tables = ListTables(m_db);
    if (!tables)
        return;
    std::vector<std::vector<std::string>> rows;
    rows.reserve(tables->size());
    int tid = 0;
    for (const std::string& name : *tables)
        rows.push_back({std::to_string(++tid), name, {}});
    m_tables->Model().ResetRows(std::move(rows));
}

void CleanupPage::RunOne(int row, const std::optional<CleanupStatement>& statement)
{
    const CleanupOutcome outcome = RunCleanupStatement(m_db, statement);
    m_tables->Model().SetCell(row, ColumnIndex(TableColumn::Result),
                              CleanupResultText(outcome.affected));
    if (!outcome.sent)
        return;
    CleanupAuditRecord record;
    record.table = statement->table;
    record.statement = statement->DeleteSql();
    record.ok = outcome.Ok();
    record.affected = outcome.affected;
    record.errorNumber = outcome.errorNumber;
    record.error = outcome.error;
    const AuditResult audited = m_audit.RecordCleanupStatement(record);
    if (!audited && !m_auditFailure)
        m_auditFailure = audited;
}

void CleanupPage::Finish()
{
    m_dialogs.Message(this, QString::fromUtf8(kCleanupDoneText), QString::fromUtf8(kMessageTitle),
                      MessageIcon::Information, MessageButtons::Ok);
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
    m_start->setEnabled(true);
    emit CleanupFinished();
}

void CleanupPage::CleanTables()
{
    if (m_running)
        return;
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
    const bool olderRows = which == CleanupCase::OlderSelected ||
                           (which == CleanupCase::EveryTable && !options.emptyAll);
    const std::string days = m_days->text().toStdString();
    if (olderRows && !IsDayCount(days)) {
        m_dialogs.Message(this, QString::fromUtf8(kCleanupDayCountText),
                          QString::fromUtf8(kCheckTitle), MessageIcon::Warning, MessageButtons::Ok);
        return;
    }

    // The statements are fixed here, before the count: what runs after a Yes is exactly
    // what the question named, whatever is typed or ticked while it is on the screen.
    const std::string roleId = m_roleId->text().toStdString();
    struct Planned
    {
        int row;
        std::string table;
        std::optional<CleanupStatement> statement;
    };
    std::vector<Planned> plan;
    const int first = everyTable ? 0 : selected;
    const int end = everyTable ? rowCount : selected + 1;
    for (int row = first; row < end; ++row) {
        Planned planned{row, m_tables->Model().Cell(row, ColumnIndex(TableColumn::Name)),
                        std::nullopt};
        if (which == CleanupCase::RoleInEvery || which == CleanupCase::RoleInSelected)
            planned.statement = RoleStatement(m_db, planned.table, roleId);
        else if (olderRows)
            planned.statement = OlderRowsStatement(planned.table, days);
        else
            planned.statement = AllRowsStatement(planned.table);
        plan.push_back(std::move(planned));
    }

    m_running = true;
    m_start->setEnabled(false);
    QPointer<CleanupPage> self(this);

    // One COUNT(*) per table with the delete's own condition, letting events through
    // between tables as the deletes do, so a large server does not freeze the window.
    CleanupPreview preview;
    for (const Planned& planned : plan) {
        preview.Add(planned.table,
                    planned.statement ? CountCleanupRows(m_db, *planned.statement) : std::nullopt);
        if (everyTable) {
            QCoreApplication::processEvents();
            if (!self)
                return;
        }
    }
    const bool yes = m_dialogs.Show(this, CleanupQuestion(preview)) == MessageAnswer::Yes;
    if (!self)
        return;
    if (!yes) {
        EndRun();
        return;
    }

    for (const Planned& planned : plan) {
        RunOne(planned.row, planned.statement);
        if (everyTable) {
            m_tables->ScrollIntoView(planned.row);
            QCoreApplication::processEvents();
            if (!self)
                return;
        }
    }
    Finish();
    if (self)
        EndRun();
}

} // namespace mrvn
