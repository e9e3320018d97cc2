#include "app/MainWindow.h"

#include "app/Application.h"
#include "app/AuditUi.h"
#include "app/Background.h"
#include "app/CleanupPage.h"
#include "app/CommonPage.h"
#include "app/Dialogs.h"
#include "app/InfoPages.h"
#include "app/MailPage.h"
#include "app/RoleFilterDialog.h"
#include "app/RoleListChange.h"
#include "app/RoleListProxy.h"
#include "app/SettingsStore.h"
#include "app/StartupDialog.h"
#include "app/Texts.h"
#include "app/ZoneMarks.h"
#include "app/ZonesDialog.h"
#include "config/AtomicFile.h"
#include "db/ConnectFailure.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"
#include "db/ZoneConnection.h"
#include "secrets/MemoryKeychain.h"
#include "text/TextUtil.h"
#include "update/VersionCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

namespace mrvn {

namespace {
constexpr int kUpdateCheckDelayMs = 1000;
constexpr int kMailPage = 1;
// A statement without an answer for this long shows the server as not answering.
constexpr std::int64_t kUnansweredMs = 3000;
constexpr int kWatchIntervalMs = 250;

// The local time of day of a moment, as the stale picture's label shows it.
QString PictureTimeText(std::time_t moment)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(moment))
        .toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

// The zone's colour strip beside the tabs: as wide as the room right of them (the tab control
// gives a corner widget the width it asks for, and no more height than its tab strip).
class ZoneStrip : public QLabel
{
public:
    ZoneStrip()
    {
        setObjectName(QStringLiteral("区服色条"));
        setAlignment(Qt::AlignCenter);
        setAutoFillBackground(true);
        setTextFormat(Qt::PlainText);
    }
    void SetRoom(int width)
    {
        if (width == m_width)
            return;
        m_width = width;
        updateGeometry();
        ShowName();
    }
    void SetName(const QString& name)
    {
        m_name = name;
        ShowName();
    }
    QSize sizeHint() const override { return {m_width, 64}; }
    QSize minimumSizeHint() const override { return {0, 0}; }

private:
    void ShowName() { setText(fontMetrics().elidedText(m_name, Qt::ElideMiddle, m_width - 8)); }

    int m_width = 0;
    QString m_name;
};

void SetTimerInterval(QTimer& timer, int milliseconds)
{
    if (milliseconds <= 0) {
        timer.stop();
        return;
    }
    timer.start(milliseconds);
}

AppEnvironment AppEnvironment::Default(Dialogs& dialogs)
{
    AppEnvironment env(dialogs);
    env.configPath = ProgramDirectory() / "config.dat";
    env.cataloguePath = ProgramDirectory() / "goods.jat.json";
    env.auditLogPath = ProgramDirectory() / "mrvn-audit.log";
    env.versionAddress = QString::fromStdString(VersionPageAddress());
    env.keychain = MakeSystemKeychain();
    env.startupDialog = [] {
        StartupDialog dialog;
        dialog.exec();
        return dialog.GoOn();
    };
    return env;
}

MainWindow::MainWindow(AppEnvironment environment, QWidget* parent)
    : QWidget(parent), m_env(std::move(environment)), m_config(m_env.configPath),
      m_worker(new DatabaseWorker(m_env.connectOptions, m_env.statementObserver, this)),
      m_audit(new AuditTrail(m_env.auditLogPath, m_env.dialogs, this)),
      m_baseTitle(
          QStringLiteral("MorvaneOL 数据工具 " MRVN_VERSION_TEXT " [20140629]  -  by Tobrel")),
      // Beside config.dat, where the program keeps its files.
      m_zonesFile(m_env.configPath.parent_path() / kZonesFileName, m_env.configPath),
      m_roleKeeper(std::make_shared<RoleListKeeper>())
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(m_baseTitle);
    // No store given: one that never holds anything and says it is unavailable.
    if (!m_env.keychain)
        m_env.keychain = std::make_shared<MemoryKeychain>(false);
    m_zoneWrites.setMaxThreadCount(1);
    // The designed 500 x 470 is the outer size on Windows; its client area is the tab control.
    // The window may grow beyond it (the lists grow with it), never shrink below it.
    setMinimumSize(Page::kDesignTabSize);
    resize(Page::kDesignTabSize);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("选择夹1"));
    m_tabs->setGeometry(QRect(QPoint(0, 0), Page::kDesignTabSize));
    m_common = new CommonPage(m_env.dialogs);
    m_mail = new MailPage(*m_worker, m_config, m_env.dialogs, *m_audit, m_env.cataloguePath,
                          m_env.clock, m_env.windowStatePath);
    m_cleanup = new CleanupPage(*m_worker, m_env.dialogs, *m_audit);
    m_tabs->addTab(m_common, QStringLiteral("常用功能"));
    m_tabs->addTab(m_mail, QStringLiteral("发放邮件"));
    m_tabs->addTab(m_cleanup, QStringLiteral("清理数据"));
    m_tabs->addTab(new AboutPage(m_env.auditLogPath), QStringLiteral("关于授权"));
    m_tabs->addTab(new ChangeLogPage, QStringLiteral("更新说明"));
    for (int index = 0; index < m_tabs->count(); ++index) {
        if (auto* page = qobject_cast<Page*>(m_tabs->widget(index)))
            page->ChainTabOrder();
    }
    // The zone's colour strip, with its name, runs along the top beside the tabs, on every
    // page: the space right of the tab strip, which moves nothing designed.
    m_zoneStrip = new ZoneStrip;
    m_tabs->setCornerWidget(m_zoneStrip, Qt::TopRightCorner);
    FitZoneStrip();

    m_timer1.setObjectName(QStringLiteral("时钟1"));
    m_timer2.setObjectName(QStringLiteral("时钟2"));
    connect(&m_timer1, &QTimer::timeout, this, &MainWindow::Refresh);
    m_watch.setObjectName(QStringLiteral("无响应检测"));
    connect(&m_watch, &QTimer::timeout, this, &MainWindow::WatchUnanswered);
    connect(m_worker, &DatabaseWorker::ServerHeard, this, &MainWindow::OnServerHeard);
    connect(m_worker, &DatabaseWorker::BusyChanged, this, &MainWindow::OnBusyChanged);
    connect(&m_timer2, &QTimer::timeout, this, [this] {
        SetTimerInterval(m_timer2, 0);
        UpdateCheck();
    });
    connect(m_common, &CommonPage::ConnectRequested, this, &MainWindow::ConnectDatabase);
    connect(m_common, &CommonPage::SendMailToRole, this, &MainWindow::SendToSelectedRole);
    connect(m_common, &CommonPage::SendMailToListedRoles, this, &MainWindow::SendToListedRoles);
    connect(m_common, &CommonPage::ChooseRolesByCondition, this,
            &MainWindow::ChooseRolesByCondition);
    connect(m_common, &CommonPage::ZoneChosen, this, &MainWindow::SwitchZone);
    connect(m_common, &CommonPage::ManageZonesRequested, this, &MainWindow::ManageZones);
    connect(m_mail, &MailPage::SendingFinished, this, &MainWindow::UpdateZoneSwitch);
    // The mail to several zones: the zone in use as it was last connected.
    m_mail->SetKeychain(m_env.keychain);
    m_mail->SetZoneSource([this] {
        ZoneList list = m_zoneList;
        if (Zone* inUse = FindZone(list, m_zone.name))
            *inUse = m_zone;
        list.current = m_zone.name;
        return list;
    });
    connect(m_cleanup, &CleanupPage::CleanupFinished, this, &MainWindow::UpdateZoneSwitch);
}

MainWindow::~MainWindow()
{
    SetTimerInterval(m_timer1, 0);
    m_watch.stop();
    // Stops the statement running now, closes the connection and joins the thread while
    // the pages still exist; results that have not been handled are dropped.
    delete m_worker;
    m_worker = nullptr;
}

bool MainWindow::DatabaseBusy() const
{
    return m_worker->Busy();
}

bool MainWindow::OnMainWindowCreated()
{
    if (m_env.startupDialog && !m_env.startupDialog())
        return false;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        ApplyAppearance(*app);
    // Temporaries of writes killed in an earlier run may hold the password in plain text.
    RemoveStaleTemporaries(ResolveWriteTarget(m_env.configPath));
    RemoveStaleTemporaries(ResolveWriteTarget(m_zonesFile.Path()));
    LoadedZones zones = m_zonesFile.Load();
    m_zoneList = std::move(zones.list);
    m_zone = *mrvn::CurrentZone(m_zoneList);
    m_common->LoadSettings(ZoneBoxes(m_zone));
    m_mail->SetZone(MarkOf(m_zone));
    m_cleanup->SetZone(MarkOf(m_zone));
    ShowZoneMarks();
    m_mail->ResetCombos();
    m_mail->RefreshArchiveList();
    SetTimerInterval(m_timer2, kUpdateCheckDelayMs);
    RestoreWindowState();
    ReportZoneNotes(zones.notes);
    return true;
}

void MainWindow::RestoreWindowState()
{
    const std::unique_ptr<QSettings> state = OpenSettingsStore(m_env.windowStatePath);
    if (!state)
        return;
    const QVariant position = state->value(QStringLiteral("window/position"));
    // A position on a screen that is no longer there is forgotten.
    QScreen* screen = position.isValid() ? QGuiApplication::screenAt(position.toPoint()) : nullptr;
    const bool placed = screen != nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    // A stored size or place that no longer fits (another screen, a hand-edited file) is
    // brought inside the screen's free area, never below the design size.
    const QRect area = screen ? screen->availableGeometry() : QRect();
    QSize size = state->value(QStringLiteral("window/size")).toSize();
    if (size.isValid()) {
        if (area.isValid())
            size = size.boundedTo(area.size());
        resize(size.expandedTo(minimumSize()));
    }
    if (placed) {
        QPoint at = position.toPoint();
        at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - width())));
        at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - height())));
        move(at);
    }
    const int page = state->value(QStringLiteral("window/page"), 0).toInt();
    if (page >= 0 && page < m_tabs->count())
        m_tabs->setCurrentIndex(page);
}

void MainWindow::SaveWindowState()
{
    const std::unique_ptr<QSettings> state = OpenSettingsStore(m_env.windowStatePath);
    if (!state)
        return;
    state->setValue(QStringLiteral("window/size"), size());
    state->setValue(QStringLiteral("window/position"), pos());
    state->setValue(QStringLiteral("window/page"), m_tabs->currentIndex());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FitZoneStrip();
    m_tabs->setGeometry(rect());
}

void MainWindow::ConnectDatabase()
{
    const ConnectionSettings typed = m_common->TypedSettings();
    // An empty box is the client library's default port. A typed 0 or a number beyond the
    // range of a port is a typo: nothing is connected and nothing saved.
    const bool defaultPort = RemoveAllSpaces(typed.port).empty();
    const std::int64_t port = defaultPort ? 0 : TextToInt64(typed.port);
    if (!defaultPort && (port < 1 || port > 65535)) {
        m_env.dialogs.Message(this, QString::fromUtf8(kPortOutOfRangeText),
                              QString::fromUtf8(kCheckTitle), MessageIcon::Warning,
                              MessageButtons::Ok);
        return;
    }
    if (m_connecting)
        return;
    // The boxes show and edit the selected zone.
    Zone zone = m_zone;
    TakeZoneBoxes(zone, typed);
    // A tunnel that logs in with a password asks for it once per run of the zone.
    if (!zone.sshHost.empty() && zone.sshKey.empty() && m_sshSecret.empty()) {
        const std::optional<QString> typedSecret = m_env.dialogs.Secret(
            this,
            QString::fromUtf8(kSshPasswordPrompt)
                .arg(QString::fromStdString(zone.sshUser + "@" + zone.sshHost)),
            QString::fromUtf8(kPasswordTitle));
        if (!typedSecret)
            return;
        m_sshSecret = typedSecret->toStdString();
    }
    // A password typed into the box is used as it is; a zone that keeps it elsewhere takes it
    // from the keychain or asks for it.
    if (zone.password == PasswordPlace::File || !typed.psw.empty()) {
        ConnectZone(zone, typed, typed.psw, zone.password == PasswordPlace::Keychain);
        return;
    }
    if (zone.password == PasswordPlace::Ask) {
        AskPasswordAndConnect(zone, typed, QString::fromUtf8(kPasswordPromptAsk), false);
        return;
    }
    BeginConnect();
    QPointer<MainWindow> self(this);
    ReadWithin(*m_env.keychain, ZoneSecretName(zone), kKeychainAnswerMs,
               [self, zone, typed](KeychainResult read) {
                   // The operator switched zones meanwhile: this answer is no one's any more.
                   if (!self || !self->m_connecting || self->m_zone.name != zone.name)
                       return;
                   self->m_connecting = false;
                   if (read.status == KeychainStatus::Done) {
                       self->ConnectZone(zone, typed, read.password, false);
                       return;
                   }
                   const QString prompt =
                       read.status == KeychainStatus::NotFound
                           ? QString::fromUtf8(kPasswordPromptNotStored)
                           : QString::fromUtf8(kPasswordPromptNoKeychain)
                                 .arg(QStringLiteral("%1"), QString::fromStdString(read.reason));
                   self->AskPasswordAndConnect(zone, typed, prompt,
                                               read.status == KeychainStatus::NotFound);
               });
}

void MainWindow::AskPasswordAndConnect(const Zone& zone, const ConnectionSettings& typed,
                                       const QString& prompt, bool storeInKeychain)
{
    const std::optional<QString> password = m_env.dialogs.Secret(
        this, prompt.arg(QString::fromStdString(zone.user + "@" + ZoneServer(zone))),
        QString::fromUtf8(kPasswordTitle));
    if (!password) {
        EndConnect(false);
        return;
    }
    ConnectZone(zone, typed, password->toStdString(), storeInKeychain);
}

void MainWindow::ConnectZone(const Zone& zone, const ConnectionSettings& typed,
                             const std::string& password, bool storeInKeychain)
{
    const ConnectParams params = ZoneConnectParams(zone, ZoneSecrets{password, m_sshSecret});

    // A statement still waiting for a server that does not answer is broken off: the
    // operator reconnects at once instead of waiting out its time-out.
    if (m_worker->WaitingMs() > 0)
        m_worker->AbortWaiting();
    BeginConnect();
    struct Connected
    {
        bool ok = false;
        DbError error;
        ReachReport reach;
        std::string tlsVersion;
        bool tunnelled = false;
    };
    m_worker->Run(
        this,
        [params](DbConnection& db) {
            Connected result;
            result.ok = db.Connect(params);
            result.reach = db.Reach();
            if (!result.ok)
                result.error = DbError::Of(db);
            result.tlsVersion = db.TlsVersion();
            result.tunnelled = db.Tunnelled();
            return result;
        },
        [this, typed, zone, params, password, storeInKeychain](Connected result) {
            if (result.ok) {
                m_lastConnected = params;
                m_zone = zone;
                if (Zone* listed = FindZone(m_zoneList, zone.name))
                    *listed = zone;
                m_mail->SetZone(MarkOf(zone));
                m_cleanup->SetZone(MarkOf(zone));
                const bool plain =
                    result.tlsVersion.empty() && !result.tunnelled && LeavesThisMachine(zone.host);
                m_common->SetLinkSecurity(plain ? QString::fromUtf8(kStatusUnencrypted)
                                                : QString::fromStdString(result.tlsVersion),
                                          plain);
                m_common->SetLinkZone(QString::fromStdString(zone.name));
            }
            EndConnect(result.ok);
            if (!result.ok) {
                if (!AskOperator(zone, typed, password, storeInKeychain, result.reach))
                    ShowConnectFailure(result.error, result.reach);
                return;
            }
            if (storeInKeychain)
                StorePassword(zone, password);
            // config.dat's five keys hold the zone connected, as an earlier version reads
            // them; a password kept elsewhere stays out of it.
            ConnectionSettings systemKeys = typed;
            if (zone.password != PasswordPlace::File)
                systemKeys.psw.clear();
            SaveZones(
                [zone, typed](ZoneList& list) {
                    Zone* saved = FindZone(list, zone.name);
                    if (!saved)
                        return false;
                    TakeZoneBoxes(*saved, typed);
                    list.current = saved->name;
                    return true;
                },
                true);
            // Off the window's thread: another copy of the tool holding config.dat's lock must
            // not stall the window; the operator hears when the write has failed.
            RunInBackground(
                ConfigWrites(), this,
                [config = m_config, systemKeys]() mutable {
                    return SaveConnectionSettings(config, systemKeys);
                },
                [this](bool saved) {
                    if (saved)
                        return;
                    m_env.dialogs.Message(this, QString::fromUtf8(kSettingsNotSavedText),
                                          QString::fromUtf8(kMessageTitle), MessageIcon::Warning,
                                          MessageButtons::Ok,
                                          QString::fromStdString(m_env.configPath.string()));
                });
            SetTimerInterval(m_timer1, m_env.refreshIntervalMs);
            Refresh();
            m_cleanup->FillTableList();
        });
}

bool MainWindow::AskOperator(Zone zone, const ConnectionSettings& typed,
                             const std::string& password, bool storeInKeychain,
                             const ReachReport& reach)
{
    const bool tls = reach.failure == ReachFailure::CertificateNotPinned;
    if (tls || reach.failure == ReachFailure::SshHostKeyNotPinned) {
        const MessageRequest question{
            QString::fromUtf8(tls ? kTlsFingerprintQuestion : kSshFingerprintQuestion),
            QString::fromUtf8(kFingerprintTitle),
            MessageIcon::Question,
            MessageButtons::YesNoDefaultNo,
            QString(),
            QString::fromUtf8(kFingerprintShown).arg(QString::fromStdString(reach.seenFingerprint)),
            MarkOf(zone).line};
        if (m_env.dialogs.Show(this, question) != MessageAnswer::Yes)
            return true;
        (tls ? zone.tlsFingerprint : zone.sshFingerprint) = reach.seenFingerprint;
        m_zone.tlsFingerprint = zone.tlsFingerprint;
        m_zone.sshFingerprint = zone.sshFingerprint;
        if (Zone* listed = FindZone(m_zoneList, zone.name))
            *listed = m_zone;
        SaveZones(
            [zone, tls](ZoneList& list) {
                Zone* saved = FindZone(list, zone.name);
                if (!saved)
                    return false;
                (tls ? saved->tlsFingerprint : saved->sshFingerprint) =
                    tls ? zone.tlsFingerprint : zone.sshFingerprint;
                return true;
            },
            true);
        ConnectZone(zone, typed, password, storeInKeychain);
        return true;
    }
    // A refused SSH password is asked again at the next connect.
    if (reach.failure == ReachFailure::SshLoginRefused && zone.sshKey.empty())
        m_sshSecret.clear();
    if (reach.failure == ReachFailure::SshKeyNeedsPassphrase ||
        reach.failure == ReachFailure::SshKeyPassphraseWrong) {
        const char* prompt = reach.failure == ReachFailure::SshKeyNeedsPassphrase
                                 ? kSshPassphrasePrompt
                                 : kSshPassphraseWrongPrompt;
        const std::optional<QString> passphrase = m_env.dialogs.Secret(
            this, QString::fromUtf8(prompt).arg(QString::fromStdString(zone.sshKey)),
            QString::fromUtf8(kPasswordTitle));
        if (!passphrase)
            return true;
        m_sshSecret = passphrase->toStdString();
        ConnectZone(zone, typed, password, storeInKeychain);
        return true;
    }
    return false;
}

void MainWindow::ShowConnectFailure(const DbError& error, const ReachReport& reach)
{
    const ConnectFailure failure = ClassifyConnectFailure(error.number, reach.failure);
    MessageRequest message{QString::fromUtf8(ConnectFailureText(failure)),
                           QString::fromUtf8(kMessageTitle),
                           MessageIcon::Error,
                           MessageButtons::Ok,
                           reach.Failed() && !reach.detail.empty()
                               ? QString::fromStdString(reach.detail)
                               : ServerReason(error),
                           QString()};
    if (failure == ConnectFailure::CertificateChanged ||
        failure == ConnectFailure::SshHostKeyChanged)
        message.informative = QString::fromUtf8(kFingerprintsBoth)
                                  .arg(QString::fromStdString(reach.pinnedFingerprint),
                                       QString::fromStdString(reach.seenFingerprint));
    m_env.dialogs.Show(this, message);
}

void MainWindow::StorePassword(const Zone& zone, const std::string& password)
{
    QPointer<MainWindow> self(this);
    m_env.keychain->Write(ZoneSecretName(zone), password, [self](KeychainResult written) {
        if (!self || written.status == KeychainStatus::Done)
            return;
        self->m_env.dialogs.Message(self, QString::fromUtf8(kKeychainNotSavedText),
                                    QString::fromUtf8(kMessageTitle), MessageIcon::Warning,
                                    MessageButtons::Ok, QString::fromStdString(written.reason));
    });
}

void MainWindow::BeginConnect()
{
    m_connecting = true;
    SetLink(LinkState::Connecting);
}

void MainWindow::EndConnect(bool connected)
{
    m_connecting = false;
    // A failed connect leaves no connection: once the window has been connected it is
    // disconnected, and the refresh timer (running since the first connect) tries again.
    if (connected)
        SetLink(LinkState::Connected);
    else
        SetLink(m_lastConnected ? LinkState::Disconnected : LinkState::NotConnected);
}

void MainWindow::Refresh()
{
    if (m_refreshRunning || m_connecting)
        return;
    m_refreshRunning = true;
    // After the server went away, or after a connect that failed (pressed or at a tick), the
    // connection is made again first: a failed connect leaves none, so without this every
    // later statement would be refused at once and the window would never come back.
    std::optional<ConnectParams> reconnect;
    if (m_link == LinkState::Disconnected && m_lastConnected) {
        reconnect = m_lastConnected;
        BeginConnect();
    }
    struct Refreshed
    {
        bool connected = true;
        // The server could not be reached: the last picture stays.
        bool lost = false;
        // What TLS or the tunnel refused on the way back (a changed key, ...).
        ReachReport reach;
        DbError error;
        std::optional<OnlineStatsRow> stats;
        // What changed since the list the window shows, made where the rows were read, so
        // the window only applies it.
        RoleListChange roles;
    };
    const std::uint64_t shown = m_common->ShownRoleListVersion();
    m_worker->Run(
        this,
        [reconnect, keeper = m_roleKeeper, shown](DbConnection& db) {
            Refreshed result;
            if (reconnect && !db.Connect(*reconnect)) {
                result.connected = false;
                result.lost = true;
                result.reach = db.Reach();
                result.error = DbError::Of(db);
                return result;
            }
            result.stats = QueryOnlineStats(db);
            // A server the statistics could not reach is not asked again in the same
            // refresh: the list would wait out another time-out.
            if (!result.stats && db.ConnectionLost()) {
                result.lost = true;
                result.reach = db.Reach();
                result.error = DbError::Of(db);
                return result;
            }
            std::optional<RoleRows> roles = QueryRoleList(db);
            // Rows read for a zone the window has left (the connection was broken off
            // meanwhile) are not worth comparing; a list lost on the way keeps the picture.
            // A list the server refused empties, as an empty table does.
            if (db.Aborted() || (!roles && db.ConnectionLost())) {
                result.lost = true;
                return result;
            }
            result.roles = keeper->Change(std::move(roles).value_or(RoleRows{}), shown);
            return result;
        },
        [this, reconnecting = reconnect.has_value()](Refreshed result) {
            m_refreshRunning = false;
            if (reconnecting)
                EndConnect(result.connected);
            // A key or certificate that changed needs the operator: the ticks stop asking the
            // server, and the operator hears once why.
            if (NeedsOperator(result.reach.failure)) {
                SetTimerInterval(m_timer1, 0);
                ShowConnectFailure(result.error, result.reach);
            }
            if (result.lost) {
                // What was last seen stays, greyed and dated, until a refresh gets through.
                if (m_pictureTime)
                    m_common->MarkPictureStale(PictureTimeText(*m_pictureTime));
                return;
            }
            m_pictureTime = m_env.clock();
            m_common->MarkPictureCurrent();
            // A failed query shows empty cells, as an empty table does.
            m_common->ShowOnlineStats(result.stats.value_or(OnlineStatsRow{}));
            m_common->ShowRoles(std::move(result.roles));
        });
}

void MainWindow::SwitchZone(const QString& name)
{
    const Zone* chosen = FindZone(m_zoneList, name.toStdString());
    if (!chosen || chosen->name == m_zone.name)
        return;
    if (m_mail->Sending() || m_cleanup->CleanupRunning()) {
        m_common->ShowZones(m_zoneList, QString::fromStdString(m_zone.name));
        return;
    }
    const bool reconnect = m_link != LinkState::NotConnected || m_connecting;
    // Nothing the old zone's work answers from here on reaches the window, and its handlers
    // that would have ended the connect or the refresh never run.
    m_worker->AbandonWork();
    m_connecting = false;
    m_refreshRunning = false;
    SetTimerInterval(m_timer1, 0);
    // The ticks never reconnect to the zone left, and its last picture goes with it.
    m_lastConnected.reset();
    m_sshSecret.clear();
    m_pictureTime.reset();
    m_common->MarkPictureCurrent();
    m_common->ClearZoneData();
    m_mail->ClearZoneData();
    m_cleanup->ClearZoneData();
    m_zone = *chosen;
    m_common->LoadSettings(ZoneBoxes(m_zone));
    m_mail->SetZone(MarkOf(m_zone));
    m_cleanup->SetZone(MarkOf(m_zone));
    SetLink(LinkState::NotConnected);
    ShowZoneMarks();
    SaveZones(
        [current = m_zone.name](ZoneList& list) {
            if (!FindZone(list, current))
                return false;
            list.current = current;
            return true;
        },
        false);
    if (reconnect)
        ConnectDatabase();
}

void MainWindow::ManageZones()
{
    ZonesDialog dialog(m_zonesFile, m_env.dialogs, QString::fromStdString(m_zone.name),
                       m_env.keychain, m_env.configPath, this);
    dialog.exec();
    m_zoneList = m_zonesFile.Load().list;
    // The zone in use keeps its connection; a new name or colour of it shows at once.
    if (Zone* inUse = FindZone(m_zoneList, dialog.InUse().toStdString())) {
        const bool renamed = inUse->name != m_zone.name;
        m_zone.name = inUse->name;
        m_zone.color = inUse->color;
        // Its way in as the dialog left it, for the next connect; a password moved out of
        // the files leaves the box too.
        const bool movedPassword = inUse->password != m_zone.password;
        m_zone.password = inUse->password;
        if (m_zone.password != PasswordPlace::File)
            m_zone.psw.clear();
        m_zone.tls = inUse->tls;
        m_zone.tlsFingerprint = inUse->tlsFingerprint;
        m_zone.tlsCaFile = inUse->tlsCaFile;
        m_zone.sshHost = inUse->sshHost;
        m_zone.sshPort = inUse->sshPort;
        m_zone.sshUser = inUse->sshUser;
        m_zone.sshKey = inUse->sshKey;
        m_zone.sshFingerprint = inUse->sshFingerprint;
        if (movedPassword)
            m_common->LoadSettings(ZoneBoxes(m_zone));
        // Its connection as the window holds it (a save after a connect may still be on
        // its way to the file).
        *inUse = m_zone;
        if (renamed) {
            m_mail->SetZone(MarkOf(m_zone));
            m_cleanup->SetZone(MarkOf(m_zone));
        }
    } else {
        // Another copy of the tool deleted it meanwhile: it stays listed while in use.
        m_zoneList.zones.insert(m_zoneList.zones.begin(), m_zone);
    }
    ShowZoneMarks();
}

void MainWindow::ShowZoneMarks()
{
    const QString name = QString::fromStdString(m_zone.name);
    setWindowTitle(TitleWithZone(m_baseTitle, name));
    m_common->ShowZones(m_zoneList, name);
    m_common->SetLinkZone(name);
    m_common->ShowLink(m_link);
    const QColor color(QString::fromStdString(m_zone.color));
    QPalette colors = m_zoneStrip->palette();
    colors.setColor(QPalette::Window, color);
    colors.setColor(QPalette::WindowText, TextColorOn(color));
    m_zoneStrip->setPalette(colors);
    m_zoneStrip->SetName(name);
    m_zoneStrip->setToolTip(MarkOf(m_zone).line);
}

void MainWindow::FitZoneStrip()
{
    // A little space after the last tab, so the strip is not read as one more tab.
    constexpr int kGap = 8;
    m_zoneStrip->SetRoom(std::max(0, width() - m_tabs->tabBar()->sizeHint().width() - kGap));
}

void MainWindow::UpdateZoneSwitch()
{
    if (m_mail->Sending())
        m_common->SetZoneSwitchEnabled(false, QString::fromUtf8(kZoneSwitchSendingTip));
    else if (m_cleanup->CleanupRunning())
        m_common->SetZoneSwitchEnabled(false, QString::fromUtf8(kZoneSwitchCleanupTip));
    else
        m_common->SetZoneSwitchEnabled(true, QString());
}

void MainWindow::ReportZoneNotes(const std::vector<ZoneNote>& notes)
{
    if (notes.empty())
        return;
    constexpr int kShownLines = 12;
    const QStringList lines = ZoneNoteLines(notes);
    QStringList text{QString::fromUtf8(kZonesSkippedText)};
    text << lines.mid(0, kShownLines);
    if (lines.size() > kShownLines)
        text << QString::fromUtf8(kZonesSkippedMore).arg(lines.size() - kShownLines);
    MessageRequest request{text.join(QLatin1Char('\n')),
                           QString::fromUtf8(kMessageTitle),
                           MessageIcon::Warning,
                           MessageButtons::Ok,
                           lines.join(QLatin1Char('\n')),
                           QString::fromUtf8(kZonesDroppedNote),
                           QString()};
    m_env.dialogs.Show(this, request);
}

void MainWindow::SaveZones(std::function<bool(ZoneList&)> change, bool tellFailure)
{
    RunInBackground(
        m_zoneWrites, this,
        [file = m_zonesFile, change = std::move(change)]() mutable { return file.Update(change); },
        [this, tellFailure](ZonesFile::Written written) {
            if (written != ZonesFile::Written::Failed || !tellFailure)
                return;
            m_env.dialogs.Message(this, QString::fromUtf8(kZonesNotSavedText),
                                  QString::fromUtf8(kMessageTitle), MessageIcon::Warning,
                                  MessageButtons::Ok,
                                  QString::fromStdString(m_zonesFile.Path().string()));
        });
}

void MainWindow::SetLink(LinkState state)
{
    m_link = state;
    m_common->ShowLink(state);
    m_common->SetConnectEnabled(state != LinkState::Connected && !m_connecting);
}

void MainWindow::OnServerHeard(bool answered, bool lost)
{
    // Before the first connect the label keeps saying so; while a connect runs, its own end
    // says what came of it.
    if (m_link == LinkState::NotConnected || m_connecting)
        return;
    if (lost)
        SetLink(LinkState::Disconnected);
    else if (answered)
        SetLink(LinkState::Connected);
    else if (m_link == LinkState::Unresponsive)
        SetLink(LinkState::Disconnected);
}

void MainWindow::WatchUnanswered()
{
    if (m_link == LinkState::Connected && m_worker->WaitingMs() >= kUnansweredMs)
        SetLink(LinkState::Unresponsive);
}

void MainWindow::OnBusyChanged(bool busy)
{
    if (busy)
        m_watch.start(kWatchIntervalMs);
    else
        m_watch.stop();
    m_mail->SetDatabaseWorkEnabled(!busy);
    m_cleanup->SetDatabaseWorkEnabled(!busy);
    UpdateZoneSwitch();
}

void MainWindow::SendToSelectedRole(const QString& roleId)
{
    m_mail->SetReceiver(roleId);
    m_tabs->setCurrentIndex(kMailPage);
}

void MainWindow::SendToListedRoles(const std::vector<std::string>& roleIds, bool everyRole)
{
    ReceiverChoice choice;
    choice.ids = roleIds;
    choice.everyRole = everyRole;
    choice.description = QString::fromUtf8(kChosenRolesText).arg(roleIds.size());
    m_mail->ChooseReceivers(std::move(choice));
    m_tabs->setCurrentIndex(kMailPage);
}

void MainWindow::ChooseRolesByCondition()
{
    auto* dialog = new RoleFilterDialog(*m_worker, m_env.clock, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &RoleFilterDialog::Chosen, this, [this](const RoleFilter& filter) {
        ReceiverChoice choice;
        choice.filter = filter;
        choice.description =
            QString::fromUtf8(kFilteredRolesText).arg(RoleFilterDialog::Describe(filter));
        m_mail->ChooseReceivers(std::move(choice));
        m_tabs->setCurrentIndex(kMailPage);
    });
    dialog->open();
}

void MainWindow::UpdateCheck()
{
    if (m_fetcher)
        return;
    m_fetcher = std::make_unique<VersionPageFetcher>();
    connect(m_fetcher.get(), &VersionPageFetcher::Finished, this, &MainWindow::OnVersionPage);
    m_fetcher->Fetch(m_env.versionAddress, m_env.versionTimeoutMs);
}

void MainWindow::OnVersionPage(const QByteArray& body)
{
    m_fetcher.release()->deleteLater();
    const VersionPageInfo page =
        ParseVersionPage(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    const QString title = QString::fromUtf8(kUpdateTitle);
    bool goOn = true;
    bool closeWindow = false;
    switch (page.verdict) {
    case VersionVerdict::Unreadable:
        goOn = m_env.dialogs.Message(this, QString::fromUtf8(kUnreadableQuestion), title,
                                     MessageIcon::Question,
                                     MessageButtons::YesNo) == MessageAnswer::Yes;
        closeWindow = !goOn;
        break;
    case VersionVerdict::UpToDate:
        break;
    case VersionVerdict::NewerAvailable:
        if (m_env.dialogs.Message(this, QString::fromStdString(NewVersionQuestion(page.newest)),
                                  title, MessageIcon::Question,
                                  MessageButtons::YesNo) == MessageAnswer::Yes) {
            goOn = false;
            // The window closes only once the browser has the address; an address that
            // cannot be opened, or that no browser took, is said so, and the operator keeps
            // the program.
            const std::optional<std::string> address = WebAddressToOpen(page.address);
            if (address && m_env.dialogs.OpenAddress(QString::fromStdString(*address))) {
                closeWindow = true;
            } else {
                m_env.dialogs.Message(this, QString::fromUtf8(kAddressRefusedText), title,
                                      MessageIcon::Warning, MessageButtons::Ok);
            }
        }
        break;
    }
    emit UpdateCheckFinished(goOn);
    // A stop verdict ends the program, as the close box does.
    if (closeWindow)
        close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A running cleanup is stopped only when the operator says so; it then stops as its
    // "取消" does.
    if (m_cleanup->CleanupRunning() && !m_closing) {
        if (m_env.dialogs.Message(this, QString::fromUtf8(kCleanupCloseQuestion),
                                  QString::fromUtf8(kMessageTitle), MessageIcon::Question,
                                  MessageButtons::YesNoDefaultNo) != MessageAnswer::Yes) {
            event->ignore();
            return;
        }
        m_cleanup->CancelCleanup();
    }
    m_closing = true;
    // Work in progress is stopped, not waited for: the database thread records what was done
    // and ends when the window goes.
    m_worker->Cancel();
    SetTimerInterval(m_timer1, 0);
    SaveWindowState();
    event->accept();
}

} // namespace mrvn
