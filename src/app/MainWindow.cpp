#include "app/MainWindow.h"

#include "app/Application.h"
#include "app/CleanupPage.h"
#include "app/CommonPage.h"
#include "app/Dialogs.h"
#include "app/InfoPages.h"
#include "app/MailPage.h"
#include "app/StartupDialog.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"
#include "text/TextUtil.h"
#include "update/VersionCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTabWidget>

namespace mrvn {

namespace {
constexpr int kRefreshIntervalMs = 60000;
constexpr int kUpdateCheckDelayMs = 1000;
constexpr int kMailPage = 1;
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
    AppEnvironment env;
    env.configPath = ProgramDirectory() / "config.dat";
    env.cataloguePath = ProgramDirectory() / "goods.jat.json";
    env.versionAddress = QString::fromStdString(VersionPageAddress());
    env.dialogs = &dialogs;
    env.startupDialog = [] {
        StartupDialog dialog;
        dialog.exec();
        return dialog.GoOn();
    };
    return env;
}

MainWindow::MainWindow(AppEnvironment environment, QWidget* parent)
    : QWidget(parent), m_context(std::move(environment))
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("MorvaneOL 数据工具 1.5 [20140629]  -  by Tobrel"));
    // The designed 500 x 470 is the outer size on Windows; its client area is the tab control.
    setFixedSize(496, 448);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("选择夹1"));
    m_tabs->setGeometry(0, 0, 496, 448);
    m_common = new CommonPage(m_context);
    m_mail = new MailPage(m_context);
    m_cleanup = new CleanupPage(m_context);
    m_tabs->addTab(m_common, QStringLiteral("常用功能"));
    m_tabs->addTab(m_mail, QStringLiteral("发放邮件"));
    m_tabs->addTab(m_cleanup, QStringLiteral("清理数据"));
    m_tabs->addTab(new AboutPage, QStringLiteral("关于授权"));
    m_tabs->addTab(new ChangeLogPage, QStringLiteral("更新说明"));

    m_timer1.setObjectName(QStringLiteral("时钟1"));
    m_timer2.setObjectName(QStringLiteral("时钟2"));
    connect(&m_timer1, &QTimer::timeout, this, [this] {
        RefreshOnlineStats();
        RefreshRoleList();
    });
    connect(&m_timer2, &QTimer::timeout, this, [this] {
        SetTimerInterval(m_timer2, 0);
        UpdateCheck();
    });
    connect(m_common, &CommonPage::ConnectRequested, this, &MainWindow::ConnectDatabase);
    connect(m_common, &CommonPage::SendMailToRole, this, &MainWindow::SendToSelectedRole);
    connect(m_cleanup, &CleanupPage::CleanupFinished, this, [this] {
        if (m_closeRequested)
            close();
    });
}

MainWindow::~MainWindow()
{
    SetTimerInterval(m_timer1, 0);
    CloseDatabase();
}

bool MainWindow::OnMainWindowCreated()
{
    if (m_context.env.startupDialog && !m_context.env.startupDialog())
        return false;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        ApplyAppearance(*app);
    m_common->LoadSettings(LoadConnectionSettings(m_context.config));
    m_mail->ResetCombos();
    m_mail->RefreshArchiveList();
    SetTimerInterval(m_timer2, kUpdateCheckDelayMs);
    return true;
}

void MainWindow::ConnectDatabase()
{
    const ConnectionSettings typed = m_common->TypedSettings();
    ConnectParams params;
    params.host = typed.ip;
    params.user = typed.user;
    params.password = typed.psw;
    params.database = typed.db;
    const std::int32_t port = TextToInt32(typed.port);
    params.port = port > 0 && port <= 65535 ? static_cast<unsigned>(port) : 0;

    if (!m_context.db.Connect(params)) {
        m_context.dialogs().Message(this, QStringLiteral("mysql连接错误！请检查连接参数！"),
                                    QStringLiteral("消息"), MessageIcon::Error, MessageButtons::Ok);
        return;
    }
    m_common->ShowConnected();
    SaveConnectionSettings(m_context.config, typed);
    SetTimerInterval(m_timer1, kRefreshIntervalMs);
    RefreshOnlineStats();
    RefreshRoleList();
    m_cleanup->FillTableList();
}

void MainWindow::CloseDatabase()
{
    m_context.db.Close();
}

void MainWindow::RefreshOnlineStats()
{
    // A failed query shows empty cells, as an empty table does.
    m_common->ShowOnlineStats(QueryOnlineStats(m_context.db).value_or(OnlineStatsRow{}));
}

void MainWindow::RefreshRoleList()
{
    m_common->ShowRoles(QueryRoleList(m_context.db).value_or(RoleRows{}));
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
    m_fetcher->Fetch(m_context.env.versionAddress, m_context.env.versionTimeoutMs);
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
        goOn = m_context.dialogs().Message(this, QString::fromUtf8(kUnreadableQuestion), title,
                                           MessageIcon::Question,
                                           MessageButtons::YesNo) == MessageAnswer::Yes;
        closeWindow = !goOn;
        break;
    case VersionVerdict::UpToDate:
        break;
    case VersionVerdict::NewerAvailable:
        if (m_context.dialogs().Message(
                this, QString::fromStdString(NewVersionQuestion(page.newest)), title,
                MessageIcon::Question, MessageButtons::YesNo) == MessageAnswer::Yes) {
            goOn = false;
            // The window closes only once the browser has the address; an address that
            // cannot be opened is said so, and the operator keeps the program.
            if (const std::optional<std::string> address = WebAddressToOpen(page.address)) {
                m_context.dialogs().OpenAddress(QString::fromStdString(*address));
                closeWindow = true;
            } else {
                m_context.dialogs().Message(this, QString::fromUtf8(kAddressRefusedText), title,
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
    // A cleanup in progress lets events through between tables; the window closes once the
    // current statement has returned instead of vanishing under it.
    if (m_cleanup->CleanupRunning()) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    SetTimerInterval(m_timer1, 0);
    event->accept();
}

} // namespace mrvn
