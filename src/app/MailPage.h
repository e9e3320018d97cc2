#pragma once

#include "app/Page.h"
#include "mail/MailDispatch.h"

#include <ctime>
#include <filesystem>
#include <functional>

class QAction;
class QGroupBox;
class QMenu;

namespace mrvn {

class ConfigFile;
class DatabaseWorker;
class AuditTrail;
class Dialogs;
class ReportView;

// Page 1 "发放邮件": account lookup, item search, attachment table, archives and sending.
class MailPage : public Page
{
    Q_OBJECT
public:
    // The time a mail and its items are stamped with.
    using Clock = std::function<std::time_t()>;
    // `cataloguePath`: the item catalogue the search reads.
    MailPage(DatabaseWorker& worker, ConfigFile& config, Dialogs& dialogs, AuditTrail& audit,
             std::filesystem::path cataloguePath, Clock clock, QWidget* parent = nullptr);
    ~MailPage() override;

    void SetReceiver(const QString& roleId);
    void ResetCombos();

    void LookupRoleByAccount();
    void AddMailItem();
    void ClearMailItems();
    // Removes the selected row of the attachment table; nothing when none is selected.
    void RemoveMailItem();
    // Looks the receivers up and sends on the database thread; the outcome is said when it
    // is known.
    void SendMail();
    // Off while other database work runs: the buttons that would start more.
    void SetDatabaseWorkEnabled(bool enabled);
    void ShowMailHelp();
    void RefreshArchiveList();
    void AddArchive();
    void DeleteArchive();
    void LoadArchive(int row);
    // Starts a search in the background; false when one is already running.
    bool SearchItemLibrary();

signals:
    void SearchFinished();
    // While a mail goes to several roles: before each row, with the rows sent so far.
    void SendProgress(int done, int total);

private:
    // Reports a refusal of the mail checks; false when there was none.
    bool ReportRefusal(SendMailResult result);
    // Writes every row handed to the server to the audit log (on the database thread).
    MailRowObserver AuditObserver(const MailFields& fields, const std::vector<std::string>& codes);
    void SendToManyRoles(const MailFields& fields, const std::vector<std::string>& codes,
                         const std::vector<std::string>& ids);
    // A finished search as the page shows it: the text for the box (with a last line saying
    // what was left out) and the number of records found.
    struct SearchShown
    {
        QString text;
        std::size_t matches = 0;
    };
    void ShowSearchResult(const SearchShown& result);
    void SendRows(const MailFields& fields, const std::vector<std::string>& codes, int total);
    void ShowManyOutcome(const SendManyResult& outcome);
    void ReportUnknownRoles(const std::vector<std::string>& ids);
    void BeginSending();
    void EndSending();
    void AppendResultChunk();
    void Warn(const char* text);
    // "The number in this box is too large".
    void WarnTooLarge(const char* boxName);

    DatabaseWorker& m_worker;
    ConfigFile& m_config;
    Dialogs& m_dialogs;
    AuditTrail& m_audit;
    const std::filesystem::path m_cataloguePath;
    const Clock m_clock;
    QLineEdit* m_account;
    QPushButton* m_lookup;
    QPushButton* m_send;
    bool m_sending = false;
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
    QAction* m_removeItem;
    QMenu* m_itemMenu;
    ReportView* m_archives;
    bool m_searchRunning = false;
    QString m_pendingResult;
    std::size_t m_pendingMatches = 0;
    qsizetype m_pendingOffset = 0;
};

} // namespace mrvn
