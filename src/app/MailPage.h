#pragma once

#include "app/Page.h"
#include "mail/MailDispatch.h"

#include <QFutureWatcher>

class QGroupBox;

namespace mrvn {

struct AppContext;
class ReportView;

// Page 1 "发放邮件": account lookup, item search, attachment table, archives and sending.
class MailPage : public Page
{
    Q_OBJECT
public:
    explicit MailPage(AppContext& context, QWidget* parent = nullptr);
    ~MailPage() override;

    void SetReceiver(const QString& roleId);
    void ResetCombos();

    void LookupRoleByAccount();
    void AddMailItem();
    void ClearMailItems();
    void SendMail();
    void ShowMailHelp();
    void RefreshArchiveList();
    void AddArchive();
    void DeleteArchive();
    void LoadArchive(int row);
    // Starts a search in the background; false when one is already running.
    bool SearchItemLibrary();
    bool SearchRunning() const { return m_searchRunning; }

    ReportView* itemTable() const { return m_items; }
    ReportView* archiveList() const { return m_archives; }

signals:
    void SearchFinished();
    // While a mail goes to several roles: before each row, with the rows sent so far.
    void SendProgress(int done, int total);

private:
    // Reports a refusal of the mail checks; false when there was none.
    bool ReportRefusal(SendMailResult result);
    // Writes every row handed to the server to the audit log.
    MailRowObserver AuditObserver(const MailFields& fields, const std::vector<std::string>& codes);
    void SendToManyRoles(const MailFields& fields, const std::vector<std::string>& codes,
                         const std::vector<std::string>& ids);
    void ShowSearchResult(const QString& text);
    void AppendResultChunk();
    void Warn(const char* text);

    AppContext& m_context;
    QLineEdit* m_account;
    QPushButton* m_lookup;
    QLineEdit* m_roleId;
    QLineEdit* m_title;
    QPlainTextEdit* m_content;
    QPlainTextEdit* m_searchResult;
    QLineEdit* m_searchQuery;
    QLabel* m_searchStatus;
    QPushButton* m_searchButton;
    QLineEdit* m_money;
    QLineEdit* m_yuanbao;
    QLineEdit* m_days;
    QLineEdit* m_itemId;
    QLineEdit* m_count;
    QComboBox* m_grade;
    QComboBox* m_bind;
    QLineEdit* m_useLevel;
    QCheckBox* m_equipment;
    QComboBox* m_enhance;
    ReportView* m_items;
    ReportView* m_archives;
    bool m_searchRunning = false;
    QFutureWatcher<QString> m_searchWatcher;
    QString m_pendingResult;
    qsizetype m_pendingOffset = 0;
};

} // namespace mrvn
