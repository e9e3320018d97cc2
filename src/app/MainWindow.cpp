#include "app/MainWindow.h"

#include "app/Application.h"
#include "app/AuditUi.h"
#include "app/CleanupPage.h"
#include "app/CommonPage.h"
#include "app/Dialogs.h"
#include "app/InfoPages.h"
#include "app/MailPage.h"
#include "app/RoleListProxy.h"
#include "app/StartupDialog.h"
#include "app/Texts.h"
#include "config/AtomicFile.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"
#include "text/TextUtil.h"
#include "update/VersionCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>

#include <algorithm>

namespace mrvn {

namespace {
constexpr int kRefreshIntervalMs = 60000;
constexpr int kUpdateCheckDelayMs = 1000;
constexpr int kMailPage = 1;
// A statement without an answer for this long shows the server as not answering.
constexpr std::int64_t kUnansweredMs = 3000;
constexpr int kWatchIntervalMs = 250;

// The state file of `path`, or of the platform's settings store when it is empty (none on
// Windows, where that store is the registry).
std::filesystem::path WindowStateFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path;
#else
    if (!path.empty())
        return path;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/mrvn/mrvntool.conf";
#endif
}

// Nothing when the state file exists but is no regular file of its own (a FIFO would hold
// the start-up until something wrote to it; a link leads elsewhere): the window then
// starts at its design size and keeps nothing.
std::unique_ptr<QSettings> OpenWindowState(const std::filesystem::path& path)
{
    const std::filesystem::path file = WindowStateFile(path);
    std::error_code error;
    const auto type = std::filesystem::symlink_status(file, error).type();
    if (!file.empty() && type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::regular)
        return nullptr;
    if (path.empty())
        return std::make_unique<QSettings>(QStringLiteral("mrvn"), QStringLiteral("mrvntool"));
    return std::make_unique<QSettings>(QString::fromStdString(path.string()), QSettings::IniFormat);
}

} // namespace

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
      m_audit(new AuditTrail(m_env.auditLogPath, m_env.dialogs, this))
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(
        QStringLiteral("MorvaneOL 数据工具 " MRVN_VERSION_TEXT " [20140629]  -  by Tobrel"));
    // The designed 500 x 470 is the outer size on Windows; its client area is the tab control.
    // The window may grow beyond it (the lists grow with it), never shrink below it.
    setMinimumSize(Page::kDesignTabSize);
    resize(Page::kDesignTabSize);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("选择夹1"));
    m_tabs->setGeometry(QRect(QPoint(0, 0), Page::kDesignTabSize));
    m_common = new CommonPage(m_env.dialogs);
    m_mail = new MailPage(*m_worker, m_config, m_env.dialogs, *m_audit, m_env.cataloguePath,
                          m_env.clock);
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
    m_common->LoadSettings(LoadConnectionSettings(m_config));
    m_mail->ResetCombos();
    m_mail->RefreshArchiveList();
    SetTimerInterval(m_timer2, kUpdateCheckDelayMs);
    RestoreWindowState();
    return true;
}

void MainWindow::RestoreWindowState()
{
    const std::unique_ptr<QSettings> state = OpenWindowState(m_env.windowStatePath);
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
    const std::unique_ptr<QSettings> state = OpenWindowState(m_env.windowStatePath);
    if (!state)
        return;
    state->setValue(QStringLiteral("window/size"), size());
    state->setValue(QStringLiteral("window/position"), pos());
    state->setValue(QStringLiteral("window/page"), m_tabs->currentIndex());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_tabs->setGeometry(rect());
}

void MainWindow::ConnectDatabase()
{
    const ConnectionSettings typed = m_common->TypedSettings();
    ConnectParams params;
    params.host = typed.ip;
    params.user = typed.user;
    params.password = typed.psw;
    params.database = typed.db;
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
    params.port = static_cast<unsigned>(port);
    if (m_connecting)
        return;

    // A statement still waiting for a server that does not answer is broken off: the
    // operator reconnects at once instead of waiting out its time-out.
    if (m_worker->WaitingMs() > 0)
        m_worker->AbortWaiting();
    m_connecting = true;
    m_common->SetConnectEnabled(false);
    struct Connected
    {
        bool ok = false;
        DbError error;
    };
    m_worker->Run(
        this,
        [params](DbConnection& db) {
            Connected result;
            result.ok = db.Connect(params);
            if (!result.ok)
                result.error = DbError::Of(db);
            return result;
        },
        [this, typed](Connected result) {
            m_connecting = false;
            if (!result.ok) {
                m_common->SetConnectEnabled(m_link != LinkState::Connected);
                m_env.dialogs.Message(this, QString::fromUtf8(kConnectFailedText),
                                      QString::fromUtf8(kMessageTitle), MessageIcon::Error,
                                      MessageButtons::Ok, ServerReason(result.error));
                return;
            }
            SetLink(LinkState::Connected);
            if (!SaveConnectionSettings(m_config, typed)) {
                m_env.dialogs.Message(this, QString::fromUtf8(kSettingsNotSavedText),
                                      QString::fromUtf8(kMessageTitle), MessageIcon::Warning,
                                      MessageButtons::Ok,
                                      QString::fromStdString(m_env.configPath.string()));
            }
            SetTimerInterval(m_timer1, kRefreshIntervalMs);
            Refresh();
            m_cleanup->FillTableList();
        });
}

void MainWindow::Refresh()
{
    if (m_refreshRunning)
        return;
    m_refreshRunning = true;
    struct Refreshed
    {
        std::optional<OnlineStatsRow> stats;
        // Prepared for the list where they were read, so the window only applies them.
        std::optional<PreparedRoleRows> roles;
    };
    m_worker->Run(
        this,
        [](DbConnection& db) {
            Refreshed result;
            result.stats = QueryOnlineStats(db);
            // A server the statistics could not reach is not asked again in the same
            // refresh: the list would wait out another connect time-out. It empties as it
            // does when its own query fails.
            if (!result.stats && db.ConnectionLost())
                return result;
            if (std::optional<RoleRows> roles = QueryRoleList(db))
                result.roles = PrepareRoleRows(std::move(*roles));
            return result;
        },
        [this](Refreshed result) {
            m_refreshRunning = false;
            // A failed query shows empty cells, as an empty table does.
            m_common->ShowOnlineStats(result.stats.value_or(OnlineStatsRow{}));
            m_common->ShowRoles(std::move(result.roles).value_or(PreparedRoleRows{}));
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
    // Before the first connect the label keeps saying so; the client reconnects by itself on
    // the next statement once the server is back.
    if (m_link == LinkState::NotConnected)
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
}

void MainWindow::SendToSelectedRole(const QString& roleId)
{
    m_mail->SetReceiver(roleId);
    m_tabs->setCurrentIndex(kMailPage);
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
    // Work in progress is stopped, not waited for: the database thread records what was done
    // and ends when the window goes.
    m_worker->Cancel();
    SetTimerInterval(m_timer1, 0);
    SaveWindowState();
    event->accept();
}

} // namespace mrvn
