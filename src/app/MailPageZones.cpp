// The mail page's road to several zones: the zones and conditions chosen, each zone counted
// and sent on its own connection, one question and one result for all of them.
#include "app/MailPage.h"

#include "app/AuditUi.h"
#include "app/Background.h"
#include "app/DatabaseWorker.h"
#include "app/Dialogs.h"
#include "app/Texts.h"
#include "app/ZonesMailDialog.h"
#include "db/ConnectFailure.h"
#include "db/DbConnection.h"
#include "db/ZoneConnection.h"
#include "mail/MailCheck.h"
#include "text/DateTime.h"

#include <QPointer>
#include <QProgressDialog>

#include <algorithm>
#include <memory>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// How many receivers of each zone the question names.
constexpr std::size_t kZoneNamesShown = 3;

// Why a zone could not be reached, in the window's words without their "连接错误！" head; the
// server's or the library's own words where the class says nothing more.
std::string UnreachableReason(ConnectFailure failure, const std::string& detail)
{
    if (failure == ConnectFailure::NeedsOperator)
        return kZonesMailNeedsOperator;
    if (failure == ConnectFailure::Other || failure == ConnectFailure::TlsHandshakeFailed ||
        failure == ConnectFailure::SshFailed)
        return detail;
    const std::string_view text = ConnectFailureText(failure);
    const std::string_view head = "！";
    const std::size_t cut = text.find(head);
    return std::string(cut == std::string_view::npos ? text : text.substr(cut + head.size()));
}

// The connection a zone's work goes over (on the database thread). The zone in use goes over
// the window's own connection when that is open to it (its operator may have typed the
// password); any other zone gets a connection of its own, opened with the password zones.ini
// keeps or the one gathered for the send, and never the window's.
// Nothing when the zone cannot be reached; `error` then says why.
DbConnection* OpenZone(DbConnection& window, const Zone& zone, const ZoneSecrets& secrets,
                       const std::string& inUse, std::unique_ptr<DbConnection>& own,
                       std::string& error)
{
    const ConnectParams wanted = ZoneConnectParams(zone, ZoneSecrets{});
    const ConnectParams open = window.Params();
    const bool isInUse = zone.name == inUse;
    if (isInUse && window.IsOpen() && open.host == wanted.host && open.port == wanted.port &&
        open.database == wanted.database) {
        return &window;
    }
    // The zone in use keeps its password with the window: none was gathered for it.
    if (isInUse && zone.password != PasswordPlace::File) {
        error = kZonesMailInUseClosed;
        return nullptr;
    }
    own = std::make_unique<DbConnection>();
    own->SetConnectOptions(window.Options());
    ZoneSecrets used = secrets;
    if (zone.password == PasswordPlace::File)
        used.password = zone.psw;
    if (!ConnectToZone(*own, zone, used)) {
        const ReachReport report = own->Reach();
        const ConnectFailure failure = ClassifyConnectFailure(own->LastError(), report.failure);
        error = UnreachableReason(failure, report.Failed() && !report.detail.empty()
                                               ? report.detail
                                               : own->LastErrorText());
        own.reset();
        return nullptr;
    }
    return own.get();
}

// What the audit log holds of the newest send of this mail to several zones (its records are
// named "<send>/<zone>"): the send's name and, per zone it reached, whether every receiver has
// the mail now (its resends from the sent-mail view counted).
struct LoggedZonesSend
{
    std::string send;
    std::map<std::string, bool> reached;
};

LoggedZonesSend FindLoggedZonesSend(const std::filesystem::path& logPath, const MailFields& fields,
                                    std::int64_t copper, std::int64_t yuanbao,
                                    const std::vector<std::string>& codes)
{
    LoggedZonesSend found;
    const SentMailLog log = ReadSentMailLog(logPath);
    for (const SentMailEntry& entry : log.entries) {
        const std::size_t slash = entry.send.find('/');
        if (entry.IsSingle() || !entry.resendOf.empty() || slash == std::string_view::npos)
            continue;
        const std::string_view send = entry.send.substr(0, slash);
        if ((!found.send.empty() && send != found.send) || entry.title != fields.title ||
            entry.content != fields.content || entry.copper != copper || entry.yuanbao != yuanbao)
            continue;
        std::vector<std::string> logged;
        for (const std::string& attachment : AttachmentsOf(entry))
            logged.push_back(AttachmentCodeOf(attachment));
        if (logged != codes)
            continue;
        found.send = std::string(send);
        bool any = false;
        bool all = true;
        for (const SentReceiver& receiver : CurrentReceivers(log, entry)) {
            any = any || receiver.fate != SentFate::NotSent;
            all = all && receiver.fate == SentFate::Sent;
        }
        if (any)
            found.reached[std::string(entry.send.substr(slash + 1))] = all;
    }
    return found;
}

} // namespace

void MailPage::SendToZones()
{
    if (m_sending || m_worker.Busy() || !m_zoneSource)
        return;
    std::vector<std::string> codes;
    const MailCheck check = CheckMailFields(PageFields(codes), codes, ReceiverSource::Later);
    if (ReportRefusal(check.result))
        return;
    const ZoneList zones = m_zoneSource();
    const CheckedMail& mail = *check.mail;
    // What an earlier run of this mail reached is read from the audit log (also that of an
    // earlier start of the program) before the zones are offered; meanwhile nothing is sent.
    BeginSending();
    RunInBackground(
        this,
        [logPath = m_audit.LogPath(), mail] {
            return FindLoggedZonesSend(logPath, mail.Fields(), mail.Copper(), mail.Yuanbao(),
                                       mail.Codes());
        },
        [this, mail, zones](const LoggedZonesSend& logged) {
            EndSending();
            ZonesSend* earlier = FindZonesSend(mail);
            if (!earlier && !logged.send.empty()) {
                earlier = &ZonesSendOf(mail);
                earlier->send = logged.send;
            }
            std::map<std::string, bool> reached;
            std::vector<std::string> retry;
            if (earlier) {
                reached = earlier->reached;
                if (logged.send == earlier->send) {
                    for (const auto& [zone, all] : logged.reached)
                        reached[zone] = all;
                }
                retry = earlier->empty;
            }
            OpenZonesMailDialog(mail, zones, reached, retry);
        });
}

void MailPage::OpenZonesMailDialog(const CheckedMail& mail, const ZoneList& zones,
                                   const std::map<std::string, bool>& reached,
                                   const std::vector<std::string>& retry)
{
    auto* dialog = new ZonesMailDialog(zones, reached, retry, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, mail, zones] {
        if (m_sending)
            return;
        std::vector<ZoneRun> chosen;
        for (const std::string& name : dialog->Chosen()) {
            if (const Zone* zone = FindZone(zones, name)) {
                ZoneRun run;
                run.zone = *zone;
                run.mark = MarkOf(*zone);
                chosen.push_back(std::move(run));
            }
        }
        ConfirmItemsThen(
            mail, [this, chosen, filter = dialog->Filter()](const CheckedMail& checked) {
                BeginSending();
                GatherZoneSecrets(chosen, 0, [this, checked, filter](std::vector<ZoneRun> runs) {
                    CountInZones(checked, std::move(runs), filter);
                });
            });
    });
    dialog->open();
}

void MailPage::GatherZoneSecrets(std::vector<ZoneRun> runs, std::size_t next,
                                 std::function<void(std::vector<ZoneRun>)> done)
{
    // The zone in use goes over the window's connection, a file zone with its psw.
    const std::string inUse = m_zone.audit.name;
    const auto needsNothing = [&inUse](const Zone& zone) {
        const bool sshPassword = !zone.sshHost.empty() && zone.sshKey.empty();
        return zone.name == inUse || (zone.password == PasswordPlace::File && !sshPassword);
    };
    while (next < runs.size() && needsNothing(runs[next].zone))
        ++next;
    if (next == runs.size()) {
        done(std::move(runs));
        return;
    }
    const Zone zone = runs[next].zone;
    // Asks the operator with `why` as the prompt's first line, then the zone's SSH password
    // when its tunnel logs in with one.
    auto ask = [this, runs = std::move(runs), next, done = std::move(done)](
                   const QString& why, std::optional<std::string> password) mutable {
        ZoneRun& run = runs[next];
        const Zone& zone = run.zone;
        if (!password && zone.password == PasswordPlace::File)
            password = zone.psw;
        if (!password) {
            const std::optional<QString> typed = m_dialogs.Secret(
                this,
                Text(kZonesMailPasswordPrompt)
                    .arg(why, run.mark.name, Q(zone.user + "@" + ZoneServer(zone))),
                Text(kPasswordTitle));
            if (typed)
                password = typed->toStdString();
        }
        if (password && !zone.sshHost.empty() && zone.sshKey.empty()) {
            const std::optional<QString> typed = m_dialogs.Secret(
                this, Text(kSshPasswordPrompt).arg(Q(zone.sshUser + "@" + zone.sshHost)),
                Text(kPasswordTitle));
            if (typed)
                run.secrets.sshSecret = typed->toStdString();
            else
                password.reset();
        }
        if (password)
            run.secrets.password = std::move(*password);
        else
            run.stage = ZoneRun::Stage::NoPassword;
        GatherZoneSecrets(std::move(runs), next + 1, std::move(done));
    };
    if (zone.password != PasswordPlace::Keychain || !m_keychain) {
        ask(QString(), std::nullopt);
        return;
    }
    ReadWithin(
        *m_keychain, ZoneSecretName(zone), kKeychainAnswerMs,
        [self = QPointer<MailPage>(this), ask = std::move(ask)](KeychainResult read) mutable {
            if (!self)
                return;
            if (read.status == KeychainStatus::Done)
                ask(QString(), std::move(read.password));
            else if (read.status == KeychainStatus::NotFound)
                ask(Text(kZonesMailKeychainNotFound), std::nullopt);
            else
                ask(Text(kZonesMailKeychainUnavailable).arg(Q(read.reason)), std::nullopt);
        });
}

MailPage::ZonesSend* MailPage::FindZonesSend(const CheckedMail& mail)
{
    const MailFields& fields = mail.Fields();
    for (ZonesSend& earlier : m_zonesSends) {
        if (earlier.fields.title == fields.title && earlier.fields.content == fields.content &&
            earlier.fields.copper == fields.copper && earlier.fields.yuanbao == fields.yuanbao &&
            earlier.codes == mail.Codes())
            return &earlier;
    }
    return nullptr;
}

MailPage::ZonesSend& MailPage::ZonesSendOf(const CheckedMail& mail)
{
    if (ZonesSend* earlier = FindZonesSend(mail))
        return *earlier;
    ZonesSend made{mail.Fields(), mail.Codes(), NewSendId(), {}, {}};
    made.fields.roleId.clear();
    m_zonesSends.push_back(std::move(made));
    return m_zonesSends.back();
}

void MailPage::CountInZones(const CheckedMail& mail, std::vector<ZoneRun> runs,
                            const RoleFilter& filter)
{
    BeginSending();
    m_worker.Run(
        this,
        [runs = std::move(runs), filter, inUse = m_zone.audit.name,
         nowMs = ToTimestampMs(m_clock())](DbConnection& window) mutable {
            for (ZoneRun& run : runs) {
                if (run.stage != ZoneRun::Stage::Ready)
                    continue;
                std::unique_ptr<DbConnection> own;
                DbConnection* db = OpenZone(window, run.zone, run.secrets, inUse, own, run.error);
                if (!db) {
                    run.stage = ZoneRun::Stage::Unreachable;
                } else if (std::optional<std::vector<std::string>> ids =
                               SelectFilteredRoleIds(*db, filter, nowMs)) {
                    // These are the receivers the question names and the ones sent to.
                    run.ids = std::move(*ids);
                    if (run.ids.empty())
                        run.stage = ZoneRun::Stage::NoRoles;
                    const std::vector<std::string> first(
                        run.ids.begin(), run.ids.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                               run.ids.size(), kZoneNamesShown)));
                    run.names =
                        QueryRoleNames(*db, first).value_or(std::vector<std::string>(first.size()));
                } else {
                    run.stage = ZoneRun::Stage::CountFailed;
                    run.error = db->LastErrorText();
                }
            }
            return std::move(runs);
        },
        [this, mail, everyRole = filter.AllRoles()](std::vector<ZoneRun> runs) {
            AskAndSendInZones(mail, std::move(runs), everyRole);
        });
}

QString MailPage::SkipReason(const ZoneRun& run)
{
    switch (run.stage) {
    case ZoneRun::Stage::NoPassword:
        return Text(kZonesMailNoPassword);
    case ZoneRun::Stage::Unreachable:
        return Text(kZonesMailUnreachable).arg(Q(run.error));
    case ZoneRun::Stage::CountFailed:
        return Text(kZonesMailCountFailed).arg(Q(run.error));
    case ZoneRun::Stage::NoRoles:
        return Text(kZonesMailNoRoles);
    default:
        return Text(kZonesMailCancelled);
    }
}

void MailPage::AskAndSendInZones(const CheckedMail& mail, std::vector<ZoneRun> runs, bool everyRole)
{
    std::size_t total = 0;
    int ready = 0;
    QString counts;
    QString skipped;
    for (const ZoneRun& run : runs) {
        if (run.stage == ZoneRun::Stage::Ready) {
            total += run.ids.size();
            ++ready;
            counts +=
                Text(kZonesMailZoneCount)
                    .arg(run.mark.line, GroupedNumber(static_cast<std::int64_t>(run.ids.size())));
            QStringList first;
            for (std::size_t i = 0; i < run.names.size(); ++i)
                first << Text(kZonesMailRole)
                             .arg(run.names[i].empty() ? Text(kManyUnknownRole) : Q(run.names[i]),
                                  Q(run.ids[i]));
            if (run.ids.size() > run.names.size())
                first << Text(kIdListMore);
            counts += Text(kZonesMailFirstRoles).arg(first.join(QStringLiteral("、")));
        } else {
            skipped += Text(kZonesMailSkippedLine).arg(run.mark.name, SkipReason(run));
        }
    }
    if (!skipped.isEmpty())
        skipped = Text(kZonesMailSkippedHead) + skipped;
    if (ready == 0) {
        EndSending();
        ShowZonesOutcome(mail, runs);
        return;
    }
    emit AboutToAsk();
    const QString question =
        Text(kZonesMailQuestion).arg(ready).arg(GroupedNumber(static_cast<std::int64_t>(total))) +
        counts + skipped + MailContentsText(QuestionFor(mail, total, {}, {}));
    if (m_dialogs.Show(this, {question, Text(kManyConfirmTitle), MessageIcon::Question,
                              MessageButtons::YesNoDefaultNo}) != MessageAnswer::Yes) {
        EndSending();
        return;
    }
    if (everyRole &&
        m_dialogs.Show(
            this, {Text(kZonesMailEveryRole).arg(GroupedNumber(static_cast<std::int64_t>(total))),
                   Text(kManyConfirmTitle), MessageIcon::Question,
                   MessageButtons::YesNoDefaultNo}) != MessageAnswer::Yes) {
        EndSending();
        return;
    }
    SendInZones(mail, std::move(runs));
}

void MailPage::SendInZones(const CheckedMail& mail, std::vector<ZoneRun> runs)
{
    const std::string send = ZonesSendOf(mail).send;
    // One name for the whole send, and each zone's records apart under it: the sent-mail view
    // shows each zone as an entry of its own, and a resend of one stays in its zone.
    std::vector<MailBatchObserver> observers;
    int total = 0;
    for (const ZoneRun& run : runs) {
        observers.push_back(
            BatchAuditObserver(mail, send + "/" + run.zone.name, {}, run.mark.audit));
        if (run.stage == ZoneRun::Stage::Ready)
            total += static_cast<int>(run.ids.size());
    }
    const QPointer<QProgressDialog> shown = OpenSendProgress(total, Text(kZonesMailTitle));
    const std::atomic<bool>* cancel = &m_worker.CancelFlag();
    m_worker.Run(
        this,
        [runs = std::move(runs), observers = std::move(observers), mail, now = m_clock(), cancel,
         worker = &m_worker, self = QPointer<QObject>(this), shown, total,
         inUse = m_zone.audit.name](DbConnection& window) mutable {
            // Rows handed over (or given up) so far, over all zones.
            int before = 0;
            const auto tell = [&](int done) {
                worker->PostToWindow(self, [self, shown, done, total] {
                    if (shown)
                        shown->setValue(done);
                    emit static_cast<MailPage*>(self.data())->SendProgress(done, total);
                });
            };
            for (std::size_t i = 0; i < runs.size(); ++i) {
                ZoneRun& run = runs[i];
                if (run.stage != ZoneRun::Stage::Ready)
                    continue;
                const int rows = static_cast<int>(run.ids.size());
                if (cancel->load()) {
                    run.stage = ZoneRun::Stage::Cancelled;
                    continue;
                }
                // The zone is reached again: no connection stays open through the question.
                std::unique_ptr<DbConnection> own;
                DbConnection* db = OpenZone(window, run.zone, run.secrets, inUse, own, run.error);
                if (!db) {
                    run.stage = ZoneRun::Stage::Unreachable;
                    tell(before += rows);
                    continue;
                }
                run.stage = ZoneRun::Stage::Sent;
                const MailCheck addressed = mail.To(run.ids);
                if (!addressed.mail) {
                    run.result.result = addressed.result;
                    run.result.notSent = run.ids;
                    tell(before += rows);
                    continue;
                }
                SendManyOptions options;
                options.keepWaiting = [cancel] { return !cancel->load(); };
                run.result = SendMailToRoles(
                    *db, *addressed.mail, now,
                    [&](std::size_t done, std::size_t) {
                        if (done > 0)
                            tell(before + static_cast<int>(done));
                        return !cancel->load();
                    },
                    observers[i], options);
                tell(before += rows);
            }
            return runs;
        },
        [this, mail, shown](std::vector<ZoneRun> runs) {
            if (shown) {
                disconnect(shown.data(), nullptr, this, nullptr);
                shown->close();
                delete shown.data();
            }
            EndSending();
            ShowZonesOutcome(mail, runs);
        });
}

void MailPage::ShowZonesOutcome(const CheckedMail& mail, const std::vector<ZoneRun>& runs)
{
    ZonesSend& memory = ZonesSendOf(mail);
    QString lines;
    QString details;
    bool whole = true;
    for (const ZoneRun& run : runs) {
        const SendManyResult& result = run.result;
        const bool tried = run.stage == ZoneRun::Stage::Sent;
        const bool reached = tried && (!result.sent.empty() || !result.unknown.empty());
        std::erase_if(memory.empty,
                      [&](const std::string& name) { return SameZoneName(name, run.zone.name); });
        if (reached)
            memory.reached[run.zone.name] = result.notSent.empty() && result.unknown.empty();
        else
            memory.empty.push_back(run.zone.name);
        if (!tried) {
            whole = false;
            lines += Text(kZonesMailResultSkipped).arg(run.mark.name, SkipReason(run));
            continue;
        }
        if (result.notSent.empty() && result.unknown.empty()) {
            lines += Text(kZonesMailResultSent).arg(run.mark.name).arg(result.sent.size());
            continue;
        }
        whole = false;
        lines += Text(kZonesMailResultPart)
                     .arg(run.mark.name)
                     .arg(result.sent.size())
                     .arg(result.notSent.size())
                     .arg(result.unknown.size());
        if (!result.serverError.empty())
            details +=
                run.mark.line + QLatin1Char('\n') + Q(result.serverError) + QLatin1Char('\n');
    }
    QString text = (runs.empty() || std::none_of(runs.begin(), runs.end(),
                                                 [](const ZoneRun& run) {
                                                     return run.stage == ZoneRun::Stage::Sent;
                                                 }))
                       ? Text(kZonesMailNothingToSend)
                       : Text(kZonesMailResultHead);
    text += lines;
    if (!memory.empty.empty())
        text += Text(kZonesMailRerunNote);
    m_dialogs.Show(this, {text, Text(kZonesMailTitle),
                          whole ? MessageIcon::Information : MessageIcon::Warning,
                          MessageButtons::Ok, details});
}

} // namespace mrvn
