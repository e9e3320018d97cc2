// The mail page's roads that ask before they send: the mail question, mails to many roles in
// batched statements, the amount limits and the resend from the sent-mail view.
#include "app/MailPage.h"

#include "app/AppEnvironment.h"
#include "app/AuditUi.h"
#include "app/Background.h"
#include "app/DatabaseWorker.h"
#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "app/SentMailView.h"
#include "app/Texts.h"
#include "db/DbConnection.h"
#include "items/ItemSearch.h"
#include "mail/MailItem.h"
#include "text/DateTime.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// How many receivers the question names.
constexpr std::size_t kNamesShown = 5;

// The ids of a list, the first `shown` of them in the text and "……" for the rest.
QString IdList(const std::vector<std::string>& ids, std::size_t shown = 20)
{
    QStringList texts;
    for (std::size_t i = 0; i < ids.size() && i < shown; ++i)
        texts << QString::fromStdString(ids[i]);
    if (ids.size() > shown)
        texts << Text(kIdListMore);
    return texts.join(QLatin1Char(','));
}

std::vector<std::string> ItemIdsOf(const std::vector<std::string>& codes)
{
    std::vector<std::string> ids;
    for (const std::string& code : codes)
        ids.push_back(ReadAttachmentInfo(code).itemId);
    return ids;
}

} // namespace

MailLimits MailPage::Limits() const
{
    return LoadMailLimits(m_settingsPath);
}

MailQuestion MailPage::QuestionFor(const CheckedMail& mail, std::size_t receivers,
                                   const std::vector<std::string>& shownIds,
                                   const std::vector<std::string>& names) const
{
    MailQuestion question;
    question.receivers = receivers;
    for (std::size_t i = 0; i < shownIds.size(); ++i)
        question.firstReceivers.push_back(
            {QString::fromStdString(names.at(i)), QString::fromStdString(shownIds[i])});
    question.copper = mail.Copper();
    question.yuanbao = mail.Yuanbao();
    // The names the attachment table gives its rows, when the table still holds this mail's
    // codes; else the item ids.
    const TextTableModel& items = m_items->Model();
    for (std::size_t i = 0; i < mail.Codes().size(); ++i) {
        const AttachmentInfo info = ReadAttachmentInfo(mail.Codes()[i]);
        const int row = static_cast<int>(i);
        const bool listed = row < items.RowCount() &&
                            items.Cell(row, ColumnIndex(MailItemColumn::Code)) == mail.Codes()[i];
        const std::string name =
            listed ? items.Cell(row, ColumnIndex(MailItemColumn::Name)) : info.itemId;
        question.items.push_back({QString::fromStdString(name), info.count});
    }
    question.limits = Limits();
    return question;
}

void MailPage::ConfirmItemsThen(const CheckedMail& mail,
                                std::function<void(const CheckedMail&)> next)
{
    const std::vector<std::string> ids = ItemIdsOf(mail.Codes());
    std::error_code error;
    if (ids.empty() || !std::filesystem::is_regular_file(m_cataloguePath, error)) {
        next(mail);
        return;
    }
    // The catalogue is read off the window's thread (the first read of a large one takes a
    // while); meanwhile the send button stays off.
    BeginSending();
    RunInBackground(
        this, [catalogue = m_cataloguePath, ids] { return CatalogueItemNames(catalogue, ids); },
        [this, mail, ids,
         next](const std::optional<std::vector<std::optional<std::string>>>& names) {
            EndSending();
            QStringList unknown;
            for (std::size_t i = 0; names && i < ids.size(); ++i) {
                if (!(*names)[i] && !unknown.contains(QString::fromStdString(ids[i])))
                    unknown << QString::fromStdString(ids[i]);
            }
            if (!unknown.isEmpty() &&
                Tell({Text(kUnknownItemsQuestion).arg(unknown.join(u',')), Text(kManyConfirmTitle),
                      MessageIcon::Question, MessageButtons::YesNoDefaultNo}) != MessageAnswer::Yes)
                return;
            next(mail);
        });
}

void MailPage::AskAndSend(const CheckedMail& mail, const ReceiverChoice& choice,
                          const ResendTag& resend)
{
    struct Resolved
    {
        MailCheck addressed;               // the mail to the receivers as they are now
        std::vector<std::string> unknown;  // ids that are no role
        std::vector<std::string> shownIds; // the first receivers, for the question
        std::vector<std::string> names;    // their names
        bool failed = false;
        DbError error;
    };
    BeginSending();
    m_worker.Run(
        this,
        [mail, choice, nowMs = ToTimestampMs(m_clock())](DbConnection& db) {
            Resolved resolved;
            std::vector<std::string> ids;
            if (choice.filter) {
                // The conditions are asked of the server now: this is the set the question
                // names and the one that is sent.
                std::optional<std::vector<std::string>> selected =
                    SelectFilteredRoleIds(db, *choice.filter, nowMs);
                if (!selected) {
                    resolved.failed = true;
                    resolved.error = DbError::Of(db);
                    return resolved;
                }
                ids = std::move(*selected);
            } else {
                // Every receiver is looked up first: an id that is no role is refused,
                // nothing is sent.
                std::optional<std::vector<std::string>> unknown = UnknownRoleIds(db, choice.ids);
                if (!unknown) {
                    resolved.failed = true;
                    resolved.error = DbError::Of(db);
                    return resolved;
                }
                resolved.unknown = std::move(*unknown);
                ids = choice.ids;
            }
            resolved.shownIds.assign(
                ids.begin(),
                ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), kNamesShown)));
            resolved.names = QueryRoleNames(db, resolved.shownIds)
                                 .value_or(std::vector<std::string>(resolved.shownIds.size()));
            // Checked here, off the window's thread: 100,000 ids take a while.
            if (!ids.empty())
                resolved.addressed = mail.To(std::move(ids));
            return resolved;
        },
        [this, choice, resend](Resolved resolved) {
            if (resolved.failed) {
                EndSending();
                Tell({Text(choice.filter ? kFilterFailedText : kMailFailedText), Text(kMailTitle),
                      MessageIcon::Error, MessageButtons::Ok, ServerReason(resolved.error)});
                return;
            }
            if (!resolved.unknown.empty()) {
                EndSending();
                ReportUnknownRoles(resolved.unknown);
                return;
            }
            if (resolved.shownIds.empty()) {
                EndSending();
                Warn(kNoFilteredRolesText);
                return;
            }
            if (!resolved.addressed.mail) {
                EndSending();
                ReportRefusal(resolved.addressed.result);
                return;
            }
            const CheckedMail& addressed = *resolved.addressed.mail;
            const std::size_t count = addressed.Receivers().size();
            emit AboutToAsk();
            const QString question =
                MailQuestionText(QuestionFor(addressed, count, resolved.shownIds, resolved.names));
            if (Tell({question, Text(kManyConfirmTitle), MessageIcon::Question,
                      MessageButtons::YesNoDefaultNo}) != MessageAnswer::Yes) {
                EndSending();
                return;
            }
            // Every role of the server is asked about once more, naming the count.
            if ((choice.everyRole || (choice.filter && choice.filter->AllRoles())) &&
                Tell({Text(kEveryRoleConfirmText).arg(count), Text(kManyConfirmTitle),
                      MessageIcon::Question, MessageButtons::YesNoDefaultNo}) !=
                    MessageAnswer::Yes) {
                EndSending();
                return;
            }
            if (count == 1 && resend.of.empty()) {
                EndSending();
                SendCheckedMail(addressed);
                return;
            }
            SendRows(addressed, resend);
        });
}

MailBatchObserver MailPage::BatchAuditObserver(const CheckedMail& checked, const std::string& send,
                                               const std::string& resendOf)
{
    return BatchAuditObserver(checked, send, resendOf, m_zone.audit);
}

MailBatchObserver MailPage::BatchAuditObserver(const CheckedMail& checked, const std::string& send,
                                               const std::string& resendOf, const AuditZone& zone)
{
    MailBatchAuditRecord record;
    record.send = send;
    record.resendOf = resendOf;
    record.zone = zone;
    record.title = checked.Fields().title;
    record.content = checked.Fields().content;
    record.copper = checked.Copper();
    record.yuanbao = checked.Yuanbao();
    for (const std::string& code : checked.Codes())
        record.attachments.push_back(ReadLiteralText(code));
    // Runs on the database thread after each statement, so the log holds what was done
    // also when the window closes meanwhile.
    return [record, logPath = m_audit.LogPath(), worker = &m_worker, self = QPointer<QObject>(this),
            audit = &m_audit](const MailBatchOutcome& batch) mutable {
        record.createMs = batch.createMs;
        record.checked = batch.checked;
        record.errorNumber = batch.errorNumber;
        record.error = batch.error;
        record.receivers.clear();
        for (std::size_t i = 0; i < batch.roleIds.size(); ++i) {
            MailBatchAuditRecord::Receiver receiver;
            receiver.roleId = batch.roleIds[i];
            if (i < batch.ids.size())
                receiver.id = batch.ids[i];
            receiver.outcome = batch.fates[i] == RowFate::Sent      ? "sent"
                               : batch.fates[i] == RowFate::Unknown ? "unknown"
                                                                    : "not sent";
            record.receivers.push_back(std::move(receiver));
        }
        const AuditResult result = AuditMailBatch(logPath, record);
        if (!result) {
            worker->PostToWindow(self, [self, audit, result] {
                audit->ReportFailure(static_cast<QWidget*>(self.data()), result);
            });
        }
    };
}

QPointer<QProgressDialog> MailPage::OpenSendProgress(int total, const QString& title)
{
    auto* progress =
        new QProgressDialog(Text(kManyProgressText), Text(kManyCancelButton), 0, total, this);
    progress->setObjectName(QStringLiteral("发送进度"));
    progress->setWindowTitle(title);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    // The cancel button stops the sending between statements; a statement being inserted is
    // stopped on the server, and its rows are looked up.
    connect(progress, &QProgressDialog::canceled, this, [this] { m_worker.Cancel(); });
    return progress;
}

void MailPage::SendRows(const CheckedMail& mail, const ResendTag& resend)
{
    const int total = static_cast<int>(mail.Receivers().size());
    const QPointer<QProgressDialog> shown = OpenSendProgress(total, Text(kMailTitle));

    const std::atomic<bool>* cancel = &m_worker.CancelFlag();
    m_worker.Run(
        this,
        [mail, now = m_clock(),
         observer =
             BatchAuditObserver(mail, resend.send.empty() ? NewSendId() : resend.send, resend.of),
         cancel, worker = &m_worker, self = QPointer<QObject>(this), shown,
         total](DbConnection& db) {
            // The operator's cancel also ends the wait for a lost answer: its rows stay unknown.
            SendManyOptions options;
            options.keepWaiting = [cancel] { return !cancel->load(); };
            return SendMailToRoles(
                db, mail, now,
                [&](std::size_t done, std::size_t) {
                    if (done > 0) {
                        worker->PostToWindow(self, [self, shown, done, total] {
                            if (shown)
                                shown->setValue(static_cast<int>(done));
                            emit static_cast<MailPage*>(self.data())
                                ->SendProgress(static_cast<int>(done), total);
                        });
                    }
                    return !cancel->load();
                },
                observer, options);
        },
        [this, shown, resending = !resend.of.empty()](SendManyResult outcome) {
            if (shown) {
                // Closing a progress dialog says "canceled": the sending is over.
                disconnect(shown.data(), nullptr, this, nullptr);
                shown->close();
                delete shown.data();
            }
            EndSending();
            ShowManyOutcome(outcome);
            if (resending)
                emit ResendFinished();
        });
}

void MailPage::ShowManyOutcome(const SendManyResult& outcome)
{
    if (ReportRefusal(outcome.result))
        return;
    const QString sent = QString::number(outcome.sent.size());
    const QString notSent = QString::number(outcome.notSent.size());
    if (outcome.notSent.empty() && outcome.unknown.empty()) {
        Tell({Text(kManySentText).arg(sent), Text(kMailTitle), MessageIcon::Information,
              MessageButtons::Ok});
        return;
    }
    const bool unknown = !outcome.unknown.empty();
    const bool failed = outcome.result == SendMailResult::Failed;
    QString text = unknown
                       ? Text(kManyUnknownText).arg(sent).arg(outcome.unknown.size()).arg(notSent)
                       : Text(failed ? kManyFailedText : kManyCancelledText).arg(sent, notSent);
    text += QStringLiteral("\r\n") + Text(kManySentList) + IdList(outcome.sent);
    if (unknown)
        text += QStringLiteral("\r\n") + Text(kManyUnknownList) + IdList(outcome.unknown);
    text += QStringLiteral("\r\n") + Text(kManyNotSentList) + IdList(outcome.notSent);
    // The whole lists, and the server's reason, behind the details button.
    QString details = Text(kManySentList) + IdList(outcome.sent, outcome.sent.size()) +
                      QLatin1Char('\n') + Text(kManyNotSentList) +
                      IdList(outcome.notSent, outcome.notSent.size());
    if (unknown)
        details += QLatin1Char('\n') + Text(kManyUnknownList) +
                   IdList(outcome.unknown, outcome.unknown.size());
    if ((failed || unknown) && !outcome.serverError.empty())
        details += QLatin1Char('\n') + QString::fromStdString(outcome.serverError);
    Tell({text, Text(kMailTitle), failed ? MessageIcon::Error : MessageIcon::Warning,
          MessageButtons::Ok, details});
}

void MailPage::ShowMailSettings()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("邮件设置"));
    dialog->setWindowTitle(Text(kMailSettingsTitle));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* form = new QFormLayout;
    const MailLimits limits = Limits();
    const auto limitEdit = [dialog](const char* name, std::int64_t value) {
        auto* edit = new QLineEdit(QString::number(value), dialog);
        edit->setObjectName(QString::fromUtf8(name));
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{1,18}")), edit));
        edit->setMinimumWidth(160);
        return edit;
    };
    QLineEdit* copper = limitEdit("铜钱上限", limits.copper);
    QLineEdit* yuanbao = limitEdit("元宝上限", limits.yuanbao);
    form->addRow(Text(kMailLimitCopperLabel), copper);
    form->addRow(Text(kMailLimitYuanbaoLabel), yuanbao);
    layout->addLayout(form);
    auto* note = new QLabel(Text(kMailLimitNote), dialog);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, copper, yuanbao] {
        // An emptied box is no limit of its own: the dialog stays until it holds a number.
        for (QLineEdit* edit : {copper, yuanbao}) {
            if (!edit->hasAcceptableInput()) {
                edit->setFocus();
                return;
            }
        }
        MailLimits changed;
        changed.copper = copper->text().toLongLong();
        changed.yuanbao = yuanbao->text().toLongLong();
        dialog->accept();
        if (!SaveMailLimits(m_settingsPath, changed))
            Tell({Text(kMailLimitsNotSaved), Text(kMailSettingsTitle), MessageIcon::Warning,
                  MessageButtons::Ok, QString::fromStdString(m_settingsPath.string())});
    });
    dialog->open();
}

void MailPage::ShowSentMail()
{
    if (!m_sentMail) {
        m_sentMail = new SentMailView(m_audit.LogPath(), this);
        connect(m_sentMail, &SentMailView::ResendRequested, this, &MailPage::ResendUnsent);
        connect(this, &MailPage::ResendFinished, m_sentMail, &SentMailView::Reload);
    }
    m_sentMail->show();
    m_sentMail->raise();
    m_sentMail->Reload();
}

void MailPage::ResendUnsent(const SentMailEntry& entry, const std::vector<SentReceiver>& current)
{
    if (m_sending || m_worker.Busy())
        return;
    // The rows of an entry are in its own zone's database: looked up and completed there only.
    if (entry.zone != m_zone.audit.name) {
        const QString zone =
            QString::fromUtf8(entry.zone.data(), static_cast<qsizetype>(entry.zone.size()));
        Tell({Text(kSentMailOtherZone).arg(zone, m_zone.name), Text(kMailTitle),
              MessageIcon::Warning, MessageButtons::Ok});
        return;
    }
    // The mail as the log recorded it goes through the same checks as a typed one: a log
    // edited by hand sends nothing it could not have sent.
    MailFields fields{std::string(), std::string(entry.title), std::string(entry.content),
                      std::to_string(entry.copper), std::to_string(entry.yuanbao)};
    std::vector<std::string> codes;
    for (const std::string& attachment : AttachmentsOf(entry))
        codes.push_back(AttachmentCodeOf(attachment));
    const MailCheck check = CheckMailFields(fields, codes, ReceiverSource::Later);
    if (ReportRefusal(check.result))
        return;

    std::vector<SentRowKey> unknownRows;
    std::vector<std::string> notSent;
    for (const SentReceiver& receiver : current) {
        if (receiver.fate == SentFate::Unknown && receiver.id)
            unknownRows.push_back({receiver.roleId, *receiver.id, receiver.createMs});
        else if (receiver.fate != SentFate::Sent)
            notSent.push_back(receiver.roleId);
    }
    struct Looked
    {
        std::optional<std::vector<bool>> found;
        DbError error;
    };
    const ResendTag tag{entry.Key(), NewSendId()};
    BeginSending();
    m_worker.Run(
        this,
        [unknownRows,
         record = BatchAuditObserver(*check.mail, tag.send, tag.of)](DbConnection& db) {
            Looked looked;
            looked.found = FindMailRows(db, unknownRows);
            if (!looked.found) {
                looked.error = DbError::Of(db);
                return looked;
            }
            // What the look-up learnt goes into the log as a part of the resend: the view then
            // counts these receivers as sent.
            MailBatchOutcome learnt;
            learnt.checked = true;
            for (std::size_t i = 0; i < unknownRows.size(); ++i) {
                if (!(*looked.found)[i])
                    continue;
                learnt.roleIds.push_back(unknownRows[i].roleId);
                learnt.ids.push_back(unknownRows[i].id);
                learnt.fates.push_back(RowFate::Sent);
                learnt.createMs = unknownRows[i].createMs;
            }
            if (!learnt.roleIds.empty())
                record(learnt);
            return looked;
        },
        [this, mail = *check.mail, unknownRows, notSent, tag](Looked looked) {
            EndSending();
            if (!looked.found) {
                Tell({Text(kMailFailedText), Text(kMailTitle), MessageIcon::Error,
                      MessageButtons::Ok, ServerReason(looked.error)});
                return;
            }
            std::vector<std::string> toSend = notSent;
            std::size_t found = 0;
            for (std::size_t i = 0; i < unknownRows.size(); ++i) {
                if ((*looked.found)[i])
                    ++found;
                else
                    toSend.push_back(unknownRows[i].roleId);
            }
            if (found > 0 || toSend.empty()) {
                Tell({toSend.empty() && found == 0 ? Text(kSentMailNothingToResend)
                                                   : Text(kSentMailFoundSent).arg(found),
                      Text(kMailTitle), MessageIcon::Information, MessageButtons::Ok});
            }
            if (toSend.empty()) {
                emit ResendFinished();
                return;
            }
            ReceiverChoice choice;
            choice.ids = std::move(toSend);
            AskAndSend(mail, choice, tag);
        });
}

} // namespace mrvn
