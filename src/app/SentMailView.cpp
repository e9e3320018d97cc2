#include "app/SentMailView.h"

#include "app/Background.h"
#include "app/MailQuestion.h"
#include "app/ReportView.h"
#include "app/Texts.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

enum class EntryColumn : int { Time, Zone, Receivers, Title, Copper, Yuanbao, Items, Outcome };
enum class ReceiverColumn : int { RoleId, MailId, Outcome };

const char* FateText(SentFate fate)
{
    switch (fate) {
    case SentFate::Sent:
        return kSentMailSent;
    case SentFate::NotSent:
        return kSentMailNotSent;
    case SentFate::Unknown:
        return kSentMailUnknown;
    }
    return kSentMailNotSent;
}

std::string EntryCell(const SentMailEntry& entry, EntryColumn column)
{
    switch (column) {
    case EntryColumn::Time:
        return QDateTime::fromMSecsSinceEpoch(entry.timeMs)
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            .toStdString();
    case EntryColumn::Zone:
        return std::string(entry.zone);
    case EntryColumn::Receivers: {
        std::string receivers = entry.IsSingle()
                                    ? std::string(entry.single.roleId)
                                    : Text(kSentMailRoles).arg(entry.receivers).toStdString();
        if (!entry.resendOf.empty())
            receivers += kSentMailResendMark;
        return receivers;
    }
    case EntryColumn::Title:
        return std::string(entry.title);
    case EntryColumn::Copper:
        return GroupedNumber(entry.copper).toStdString();
    case EntryColumn::Yuanbao:
        return GroupedNumber(entry.yuanbao).toStdString();
    case EntryColumn::Items: {
        std::string items;
        for (const std::string& id : ItemIdsOf(entry))
            items += (items.empty() ? "" : ",") + id;
        return items;
    }
    case EntryColumn::Outcome:
        if (entry.receivers == 1)
            return FateText(entry.sent == 1      ? SentFate::Sent
                            : entry.unknown == 1 ? SentFate::Unknown
                                                 : SentFate::NotSent);
        if (entry.sent == entry.receivers)
            return kSentMailSent;
        return Text(kSentMailPartly).arg(entry.sent).arg(entry.receivers).toStdString();
    }
    return {};
}

std::string ReceiverCell(const SentReceiver& receiver, ReceiverColumn column)
{
    switch (column) {
    case ReceiverColumn::RoleId:
        return receiver.roleId;
    case ReceiverColumn::MailId:
        return receiver.id ? std::to_string(*receiver.id) : std::string();
    case ReceiverColumn::Outcome:
        return FateText(receiver.fate);
    }
    return {};
}

// What a read or a search in the background hands to the window: which entries to list, not
// their texts (the list makes those for the rows on screen).
struct Listed
{
    std::shared_ptr<const SentMailLog> log;
    std::vector<std::size_t> shown;
    int generation = 0;
};

// The entries of `log` that meet `query`; stops when a newer search began.
Listed ListEntries(std::shared_ptr<const SentMailLog> log, const SentMailQuery& query,
                   const std::atomic<int>& counter, int generation)
{
    Listed listed;
    listed.generation = generation;
    const SentMailSearch search(query);
    for (std::size_t i = 0; i < log->entries.size(); ++i) {
        if (counter.load(std::memory_order_relaxed) != generation)
            break;
        if (search.Matches(log->entries[i]))
            listed.shown.push_back(i);
    }
    listed.log = std::move(log);
    return listed;
}

} // namespace

SentMailView::SentMailView(std::filesystem::path logPath, QWidget* parent)
    : QDialog(parent), m_logPath(std::move(logPath)), m_log(std::make_shared<SentMailLog>()),
      m_generation(std::make_shared<std::atomic<int>>(0))
{
    setObjectName(QStringLiteral("发件记录"));
    setWindowTitle(Text(kSentMailTitle));
    resize(760, 520);
    auto* layout = new QVBoxLayout(this);
    auto* search = new QGridLayout;
    const auto edit = [this](const char* name) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QString::fromUtf8(name));
        box->setClearButtonEnabled(true);
        connect(box, &QLineEdit::returnPressed, this, &SentMailView::Search);
        return box;
    };
    m_roleId = edit("发件记录角色ID");
    m_title = edit("发件记录标题");
    m_itemId = edit("发件记录物品ID");
    m_zone = edit("发件记录服务器");
    search->addWidget(new QLabel(Text(kSentMailRoleId), this), 0, 0);
    search->addWidget(m_roleId, 0, 1);
    search->addWidget(new QLabel(Text(kSentMailTitleField), this), 0, 2);
    search->addWidget(m_title, 0, 3);
    search->addWidget(new QLabel(Text(kSentMailItemId), this), 0, 4);
    search->addWidget(m_itemId, 0, 5);
    search->addWidget(new QLabel(Text(kSentMailZone), this), 1, 0);
    search->addWidget(m_zone, 1, 1);
    const QDate today = QDate::currentDate();
    m_fromOn = new QCheckBox(Text(kSentMailFrom), this);
    m_fromOn->setObjectName(QStringLiteral("发件记录起始日期开关"));
    m_from = new QDateEdit(today.addDays(-30), this);
    m_from->setObjectName(QStringLiteral("发件记录起始日期"));
    m_toOn = new QCheckBox(Text(kSentMailTo), this);
    m_toOn->setObjectName(QStringLiteral("发件记录截止日期开关"));
    m_to = new QDateEdit(today, this);
    m_to->setObjectName(QStringLiteral("发件记录截止日期"));
    for (QDateEdit* date : {m_from, m_to}) {
        date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        date->setCalendarPopup(true);
    }
    auto* dates = new QHBoxLayout;
    dates->addWidget(m_fromOn);
    dates->addWidget(m_from);
    dates->addWidget(m_toOn);
    dates->addWidget(m_to);
    dates->addStretch();
    search->addLayout(dates, 1, 2, 1, 3);
    m_searchButton = new QPushButton(Text(kSentMailSearch), this);
    m_searchButton->setObjectName(QStringLiteral("发件记录查找"));
    search->addWidget(m_searchButton, 1, 5);
    layout->addLayout(search);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_entries = new ReportView(QStringLiteral("发件记录列表"),
                               {{QStringLiteral("时间"), 130},
                                {QStringLiteral("服务器"), 130},
                                {QStringLiteral("收件角色"), 90},
                                {QStringLiteral("标题"), 110},
                                {QStringLiteral("铜钱"), 80},
                                {QStringLiteral("元宝"), 60},
                                {QStringLiteral("物品"), 80},
                                {QStringLiteral("结果"), 70}},
                               splitter);
    m_receivers = new ReportView(QStringLiteral("收件角色列表"),
                                 {{QStringLiteral("角色ID"), 120},
                                  {QStringLiteral("邮件ID"), 100},
                                  {QStringLiteral("结果"), 100}},
                                 splitter);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    auto* bottom = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("发件记录状态"));
    m_resend = new QPushButton(Text(kSentMailResend), this);
    m_resend->setObjectName(QStringLiteral("重发未成功的"));
    m_resend->setEnabled(false);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_resend);
    layout->addLayout(bottom);

    connect(m_searchButton, &QPushButton::clicked, this, &SentMailView::Search);
    // The row that became current, not the selection: that changes after this signal.
    connect(m_entries->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { ShowReceivers(current.row()); });
    connect(m_resend, &QPushButton::clicked, this, &SentMailView::RequestResend);
}

SentMailView::~SentMailView()
{
    // Work still running finds nothing to hand its result to (the context is gone).
    ++*m_generation;
    // The lists outlive this object's members (they go with its children): they must not ask
    // for rows made from them any more.
    m_entries->DeleteAll();
    m_receivers->DeleteAll();
}

void SentMailView::hideEvent(QHideEvent* event)
{
    // A full log is some 200 MiB in memory: a closed view gives it back (and is read again
    // when it is opened). A read still running is told its result is not wanted. A window
    // minimised comes back as it was.
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;
    ++*m_generation;
    m_reading = false;
    m_entries->DeleteAll();
    m_receivers->DeleteAll();
    m_shown.clear();
    m_current.clear();
    RunInBackground([old = std::exchange(m_log, std::make_shared<SentMailLog>())] {});
}

SentMailQuery SentMailView::Query() const
{
    SentMailQuery query;
    query.roleId = m_roleId->text().trimmed().toStdString();
    query.title = m_title->text().trimmed().toStdString();
    query.itemId = m_itemId->text().trimmed().toStdString();
    query.zone = m_zone->text().trimmed().toStdString();
    // Whole local days: from the start of the first to the end of the last.
    if (m_fromOn->isChecked())
        query.fromMs = QDateTime(m_from->date(), QTime(0, 0)).toMSecsSinceEpoch();
    if (m_toOn->isChecked())
        query.toMs = QDateTime(m_to->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    return query;
}

void SentMailView::Reload()
{
    // A hidden view holds nothing; it reads the log when it is shown.
    if (!isVisible())
        return;
    m_reading = true;
    m_status->setText(Text(kSentMailReading));
    m_resend->setEnabled(false);
    const int generation = ++*m_generation;
    RunInBackground(
        this,
        [path = m_logPath, query = Query(), counter = m_generation, generation] {
            // Handed over behind a pointer: the future copies its value to the window.
            return std::make_shared<Listed>(
                ListEntries(std::make_shared<const SentMailLog>(ReadSentMailLog(path)), query,
                            *counter, generation));
        },
        [this](const std::shared_ptr<Listed>& shared) {
            Listed& listed = *shared;
            if (listed.generation != m_generation->load())
                return;
            // The log read before goes away off the window's thread: it may be large.
            RunInBackground([old = std::exchange(m_log, std::move(listed.log))] {});
            m_reading = false;
            ShowEntries(std::move(listed.shown));
        });
}

void SentMailView::Search()
{
    if (m_reading)
        return;
    const int generation = ++*m_generation;
    RunInBackground(
        this,
        [log = m_log, query = Query(), counter = m_generation, generation] {
            return std::make_shared<Listed>(ListEntries(log, query, *counter, generation));
        },
        [this](const std::shared_ptr<Listed>& shared) {
            Listed& listed = *shared;
            if (listed.generation != m_generation->load())
                return;
            ShowEntries(std::move(listed.shown));
        });
}

void SentMailView::ShowEntries(std::vector<std::size_t> shown)
{
    m_shown = std::move(shown);
    // One reset whatever the count: the rows on screen are made as they are drawn.
    m_entries->Model().ResetSource(m_shown.size(), [this](std::size_t row, std::size_t column) {
        return row < m_shown.size()
                   ? EntryCell(m_log->entries[m_shown[row]], static_cast<EntryColumn>(column))
                   : std::string();
    });
    m_receivers->DeleteAll();
    m_current.clear();
    m_resend->setEnabled(false);
    m_status->setText(Text(kSentMailCount).arg(m_log->entries.size()).arg(m_shown.size()));
    emit ListShown();
}

void SentMailView::ShowReceivers(int row)
{
    const int model = m_entries->ModelRow(row);
    if (model < 0 || static_cast<std::size_t>(model) >= m_shown.size()) {
        m_receivers->DeleteAll();
        m_resend->setEnabled(false);
        return;
    }
    const SentMailEntry& entry = m_log->entries[m_shown[static_cast<std::size_t>(model)]];
    // Made now, for this send only: the log holds them as the text it was written in.
    m_current = CurrentReceivers(*m_log, entry);
    m_receivers->Model().ResetSource(m_current.size(), [this](std::size_t row, std::size_t column) {
        return row < m_current.size()
                   ? ReceiverCell(m_current[row], static_cast<ReceiverColumn>(column))
                   : std::string();
    });
    m_resend->setEnabled(std::any_of(m_current.begin(), m_current.end(), [](const auto& receiver) {
        return receiver.fate != SentFate::Sent;
    }));
}

void SentMailView::RequestResend()
{
    const int model = m_entries->ModelRow(m_entries->currentIndex().row());
    if (model < 0 || static_cast<std::size_t>(model) >= m_shown.size())
        return;
    const SentMailEntry& entry = m_log->entries[m_shown[static_cast<std::size_t>(model)]];
    emit ResendRequested(entry, CurrentReceivers(*m_log, entry));
}

} // namespace mrvn
