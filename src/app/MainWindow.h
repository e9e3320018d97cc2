#pragma once

#include "app/AppEnvironment.h"
#include "app/DatabaseWorker.h"
#include "config/ConfigFile.h"
#include "db/DbConnection.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class QTabWidget;

namespace mrvn {

class AuditTrail;
class CommonPage;
class MailPage;
class CleanupPage;
class VersionPageFetcher;

// The tool's one window: the tab control with its five pages and the two timers. It owns
// config.dat, the database thread (which owns the connection) and the audit log, and hands
// each page what it uses. The window never waits for the server: every statement runs on the
// database thread, and what follows a statement happens when its result arrives.
// Handlers on the window: the connect (the common page's button asks, the window connects
// and starts the refresh), 时钟1's refresh of the statistics and the role list, 时钟2's
// version check once after start-up, and the move of a role from the role list's menu to
// the mail page. Every other button and menu item is handled by the page that shows it.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(AppEnvironment environment, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs once the window exists: start-up dialog, skin, settings, combos, archives, the
    // version-check timer, then the size, position and page of the last run. False when the
    // operator ended the program in the dialog.
    bool OnMainWindowCreated();

    void ConnectDatabase();
    // Refreshes the statistics and the role list (one job); skipped while the last refresh
    // still runs.
    void Refresh();
    // True while database work runs or its result has not been handled yet.
    bool DatabaseBusy() const;
    LinkState Link() const { return m_link; }
    // Starts reading the version page; the rest runs when the page has arrived.
    void UpdateCheck();

signals:
    // The version check has ended; false when its verdict was to stop.
    void UpdateCheckFinished(bool goOn);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RestoreWindowState();
    void SaveWindowState();
    void SetLink(LinkState state);
    // After every job: disconnected when the server could not be reached, connected again
    // once a statement gets through.
    void OnServerHeard(bool answered, bool lost);
    void WatchUnanswered();
    void OnBusyChanged(bool busy);
    void OnVersionPage(const QByteArray& body);
    void SendToSelectedRole(const QString& roleId);

    AppEnvironment m_env;
    ConfigFile m_config;
    DatabaseWorker* m_worker;
    AuditTrail* m_audit;
    QTabWidget* m_tabs;
    CommonPage* m_common;
    MailPage* m_mail;
    CleanupPage* m_cleanup;
    QTimer m_timer1{this};
    QTimer m_timer2{this};
    // Looks, while work runs, whether a statement has waited too long for its answer.
    QTimer m_watch{this};
    std::unique_ptr<VersionPageFetcher> m_fetcher;
    LinkState m_link = LinkState::NotConnected;
    bool m_connecting = false;
    bool m_refreshRunning = false;
};

// Sets a timer's interval; 0 stops it.
void SetTimerInterval(QTimer& timer, int milliseconds);

} // namespace mrvn
