#pragma once

#include "app/TextTableModel.h"
#include "audit/SentMailLog.h"

#include <QDialog>

#include <atomic>
#include <filesystem>
#include <memory>
#include <vector>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mrvn {

class ReportView;

// "发件记录": what the tool sent, newest first, read from the audit log and its rotated
// generations in the background. One send to many roles is one line; selecting it lists its
// receivers with their outcomes. The search (role id, title, item id, server, dates) runs over
// what was read, also in the background; "重发未成功的" hands the selected entry to the mail
// page. The window takes a read or a search in one step whatever its size: the lists make the
// texts of the rows on screen only, a send's receivers are made when it is selected. A closed
// view lets go of the log.
class SentMailView : public QDialog
{
    Q_OBJECT
public:
    explicit SentMailView(std::filesystem::path logPath, QWidget* parent = nullptr);
    ~SentMailView() override;

    // Reads the log again (after a send), keeping the search; nothing while hidden.
    void Reload();
    // Shows the entries that meet the search fields.
    void Search();
    bool Reading() const { return m_reading; }
    // The entries shown, in the order shown.
    const std::vector<std::size_t>& Shown() const { return m_shown; }
    const SentMailLog& Log() const { return *m_log; }

signals:
    void ResendRequested(const SentMailEntry& entry, const std::vector<SentReceiver>& current);
    // The list shows what was read and searched for.
    void ListShown();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    SentMailQuery Query() const;
    void ShowEntries(std::vector<std::size_t> shown);
    void ShowReceivers(int row);
    void RequestResend();

    std::filesystem::path m_logPath;
    std::shared_ptr<const SentMailLog> m_log;
    std::vector<std::size_t> m_shown;
    std::vector<SentReceiver> m_current; // of the entry opened, resends counted
    bool m_reading = false;
    // Searches and reads still running are told to stop when a newer one starts.
    std::shared_ptr<std::atomic<int>> m_generation;
    QLineEdit* m_roleId;
    QLineEdit* m_title;
    QLineEdit* m_itemId;
    QLineEdit* m_zone;
    QCheckBox* m_fromOn;
    QDateEdit* m_from;
    QCheckBox* m_toOn;
    QDateEdit* m_to;
    QPushButton* m_searchButton;
    QPushButton* m_resend;
    QLabel* m_status;
    ReportView* m_entries;
    ReportView* m_receivers;
};

} // namespace mrvn
