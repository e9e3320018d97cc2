#pragma once

#include "app/Page.h"

namespace mrvn {

struct AppContext;
class ReportView;

// Page 2 "清理数据": the table list and the delete statements.
class CleanupPage : public Page
{
    Q_OBJECT
public:
    explicit CleanupPage(AppContext& context, QWidget* parent = nullptr);

    void FillTableList();
    void CleanTables();
    void LookupRoleByAccount();
    bool CleanupRunning() const { return m_running; }

    ReportView* tableList() const { return m_tables; }

signals:
    void CleanupFinished();

private:
    void RunOne(int row, const std::optional<std::string>& statement);
    void Finish();

    AppContext& m_context;
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
};

} // namespace mrvn
