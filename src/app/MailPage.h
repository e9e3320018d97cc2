#pragma once

#include "app/Dialogs.h"
#include "app/MailQuestion.h"
#include "app/Page.h"
#include "app/ZoneMarks.h"
#include "audit/SentMailLog.h"
#include "db/RoleFilter.h"
#include "db/ZoneConnection.h"
#include "mail/MailDispatch.h"

#include <QPointer>

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QMenu;
class QProgressDialog;

namespace mrvn {

class ConfigFile;
class DatabaseWorker;
class AuditTrail;
class Dialogs;
class ReportView;
class SentMailView;

// A resend from the sent-mail view: the entry it completes, and the send name all its records
// share.
struct ResendTag
{
    std::string of;
    std::string send;
};

// Receivers of the next mail that come from the role list rather than the Role ID box.
struct ReceiverChoice
{
    std::vector<std::string> ids;     // the roles listed, in the list's order
    std::optional<RoleFilter> filter; // or: the roles that meet these conditions when sent
    bool everyRole = false;           // the ids are every role of the list
    QString description;              // what the Role ID box shows meanwhile
};

// Page 1 "发放邮件": account lookup, item search, attachment table, archives and sending.
class MailPage : public Page
{
    Q_OBJECT
public:
    // The time a mail and its items are stamped with.
    using Clock = std::function<std::time_t()>;
    // `cataloguePath`: the item catalogue the search reads.
    // `settingsPath`: the program's settings store (MainWindow's), where the limits live.
    MailPage(DatabaseWorker& worker, ConfigFile& config, Dialogs& dialogs, AuditTrail& audit,
             std::filesystem::path cataloguePath, Clock clock,
             std::filesystem::path settingsPath = {}, QWidget* parent = nullptr);
    ~MailPage() override;

    // Types a role id (or ids) into the Role ID box; a choice of receivers is dropped.
    void SetReceiver(const QString& roleId);
    // The next mail goes to these receivers; the Role ID box shows what they are until it is
    // cleared (its clear action, or a receiver typed or set).
    void ChooseReceivers(ReceiverChoice choice);
    void ClearReceiverChoice();
    const std::optional<ReceiverChoice>& Chosen() const { return m_chosen; }
    void ResetCombos();
    // The zone the page's mails go to: named first in every question and result, and in
    // every audit record.
    void SetZone(const ZoneMark& zone);
    // Empties what belongs to the zone left at a switch: the receivers.
    void ClearZoneData();
    // From the press of the send button until its result has been told.
    bool Sending() const { return m_sending; }

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
    // Takes the item of the result line at `position` of the result box (its id into 物品ID,
    // its name for the name prompt); false when that line names no item.
    bool PickResultLine(const QPoint& position);
    // The settings of the amount limits (a dialog of its own).
    void ShowMailSettings();
    MailLimits Limits() const;
    // Opens the sent-mail view ("发件记录").
    void ShowSentMail();
    // Sends `entry` again to those of its receivers that did not get it: receivers whose
    // outcome is unknown are looked up first (found: sent, nothing goes to them), the others
    // after the same question as any mail.
    void ResendUnsent(const SentMailEntry& entry, const std::vector<SentReceiver>& current);
    // Where the page learns the zones (MainWindow's list, the zone in use as connected).
    void SetZoneSource(std::function<ZoneList()> source) { m_zoneSource = std::move(source); }
    // Where the mail to several zones reads the passwords of keychain zones.
    void SetKeychain(std::shared_ptr<Keychain> keychain) { m_keychain = std::move(keychain); }
    // "发送到多个区服…": the page's mail to the receivers the conditions choose in each zone
    // chosen, one zone after the other, each on its own connection.
    void SendToZones();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

signals:
    void SearchFinished();
    void SendingFinished();
    // While a mail goes to several roles: before each statement, with the rows sent so far.
    void SendProgress(int done, int total);
    // The mail question is about to be asked (tests change the server meanwhile).
    void AboutToAsk();
    // A resend has ended (its outcome said).
    void ResendFinished();

private:
    // The mail as the page's fields hold it; `codes` gets the attachment table's codes.
    MailFields PageFields(std::vector<std::string>& codes) const;
    // A question or result of a mail, its first line naming the zone.
    MessageAnswer Tell(const MessageRequest& request);
    // Reports a refusal of the mail checks; false when there was none.
    bool ReportRefusal(SendMailResult result);
    // Writes every row handed to the server to the audit log (on the database thread).
    MailRowObserver AuditObserver(const CheckedMail& mail);
    MailBatchObserver BatchAuditObserver(const CheckedMail& mail, const std::string& send,
                                         const std::string& resendOf);
    MailBatchObserver BatchAuditObserver(const CheckedMail& mail, const std::string& send,
                                         const std::string& resendOf, const AuditZone& zone);
    // One zone of a mail to several zones, from its count to its result.
    struct ZoneRun
    {
        enum class Stage { Ready, NoPassword, Unreachable, CountFailed, NoRoles, Cancelled, Sent };
        Zone zone;
        ZoneMark mark;
        Stage stage = Stage::Ready;
        std::vector<std::string> ids;   // the receivers, frozen at the count
        std::vector<std::string> names; // of the first of them, for the question
        SendManyResult result;
        std::string error;
        // The passwords zones.ini does not keep, as the keychain or the operator gave them;
        // they live only as long as the send.
        ZoneSecrets secrets;
    };
    // A mail sent to several zones in this run: what it was and what each zone got, so a
    // second run of the same mail leaves the zones it reached alone.
    struct ZonesSend
    {
        MailFields fields; // its receivers left out
        std::vector<std::string> codes;
        std::string send;
        std::map<std::string, bool> reached; // zone: every receiver sent (false: a part)
        std::vector<std::string> empty;      // zones chosen that got nothing
    };
    // The mail to several zones this one repeats (title, content, money and attachments), made
    // when there is none.
    ZonesSend& ZonesSendOf(const CheckedMail& mail);
    ZonesSend* FindZonesSend(const CheckedMail& mail);
    void OpenZonesMailDialog(const CheckedMail& mail, const ZoneList& zones,
                             const std::map<std::string, bool>& reached,
                             const std::vector<std::string>& retry);
    // The passwords of the zones chosen that zones.ini does not keep, one zone after the
    // other from `next` (keychain, else the operator; a cancelled box skips the zone).
    void GatherZoneSecrets(std::vector<ZoneRun> runs, std::size_t next,
                           std::function<void(std::vector<ZoneRun>)> done);
    void CountInZones(const CheckedMail& mail, std::vector<ZoneRun> runs, const RoleFilter& filter);
    void AskAndSendInZones(const CheckedMail& mail, std::vector<ZoneRun> runs, bool everyRole);
    void SendInZones(const CheckedMail& mail, std::vector<ZoneRun> runs);
    void ShowZonesOutcome(const CheckedMail& mail, const std::vector<ZoneRun>& runs);
    // Why a zone gets nothing, as the question and the result say it.
    static QString SkipReason(const ZoneRun& run);
    // The single mail as it always went: its receiver looked up, then the one row.
    void SendCheckedMail(const CheckedMail& mail);
    // Asks about attachment ids the catalogue does not know (when there is a catalogue), then
    // goes on with `next`; nothing more when the operator says No.
    void ConfirmItemsThen(const CheckedMail& mail, std::function<void(const CheckedMail&)> next);
    // Resolves the receivers (a filter's roles, or the ids looked up), asks the mail question
    // and sends: one row for one receiver, batched rows for more.
    void AskAndSend(const CheckedMail& mail, const ReceiverChoice& choice,
                    const ResendTag& resend = {});
    MailQuestion QuestionFor(const CheckedMail& mail, std::size_t receivers,
                             const std::vector<std::string>& shownIds,
                             const std::vector<std::string>& names) const;
    // A finished search as the page shows it: the text for the box (with a last line saying
    // what was left out) and the number of records found.
    struct SearchShown
    {
        QString text;
        std::size_t matches = 0;
    };
    void ShowSearchResult(const SearchShown& result);
    void SendRows(const CheckedMail& mail, const ResendTag& resend);
    void ShowManyOutcome(const SendManyResult& outcome);
    void ReportUnknownRoles(const std::vector<std::string>& ids);
    // The progress of a mail to many roles; its cancel stops the database thread's work.
    QPointer<QProgressDialog> OpenSendProgress(int total, const QString& title);
    void BeginSending();
    void EndSending();
    void AppendResultChunk();
    // The look-up after a single mail's lost answer has run `seconds`.
    void ShowCheckProgress(int seconds);
    void BeginArchiveWrite();
    void EndArchiveWrite();
    void Warn(const char* text);
    // "The number in this box is too large".
    void WarnTooLarge(const char* boxName);

    DatabaseWorker& m_worker;
    ConfigFile& m_config;
    Dialogs& m_dialogs;
    AuditTrail& m_audit;
    const std::filesystem::path m_cataloguePath;
    const Clock m_clock;
    const std::filesystem::path m_settingsPath;
    std::optional<ReceiverChoice> m_chosen;
    QAction* m_clearReceivers = nullptr;
    // The item last taken from a search result: its name prefills the name prompt while
    // 物品ID still holds its id.
    QString m_pickedId;
    QString m_pickedName;
    SentMailView* m_sentMail = nullptr;
    // Each money box's echo of its whole number, redone when the box moves or changes.
    std::vector<std::function<void()>> m_moneyEchoes;
    ZoneMark m_zone;
    std::function<ZoneList()> m_zoneSource;
    std::shared_ptr<Keychain> m_keychain;
    std::vector<ZonesSend> m_zonesSends;
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
    QPushButton* m_saveArchive;
    QPushButton* m_deleteArchive;
    int m_archiveWrites = 0;
    QPointer<QProgressDialog> m_checkProgress;
    bool m_searchRunning = false;
    QString m_pendingResult;
    std::size_t m_pendingMatches = 0;
    qsizetype m_pendingOffset = 0;
};

} // namespace mrvn
