#pragma once

#include "app/AppEnvironment.h"
#include "app/DatabaseWorker.h"
#include "config/ConfigFile.h"
#include "config/Zones.h"
#include "db/DbConnection.h"
#include "secrets/Keychain.h"

#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <ctime>
#include <memory>
#include <optional>

class QTabWidget;

namespace mrvn {

class AuditTrail;
class RoleListKeeper;
class CommonPage;
class MailPage;
class CleanupPage;
class VersionPageFetcher;
class ZoneStrip;

// The tool's one window: the tab control with its five pages and the two timers. It owns
// config.dat, the database thread (which owns the connection) and the audit log, and hands
// each page what it uses. The window never waits for the server: every statement runs on the
// database thread, and what follows a statement happens when its result arrives.
// Handlers on the window: the connect (the common page's button asks, the window connects
// and starts the refresh), 时钟1's refresh of the statistics and the role list, 时钟2's
// version check once after start-up, the move of a role from the role list's menu to
// the mail page, and the zones: the choice of the zone worked on, its marks (title, status
// label, colour strip, the pages' zone line) and the dialog that manages them. Every other
// button and menu item is handled by the page that shows it.
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

    // Works on the zone of this name from now on. While connected (or connecting), the old
    // zone's connection is left, its work abandoned (no answer of it lands any more), and
    // the new zone is connected as "连接mysql" does. Nothing while a mail is sent or a
    // cleanup runs.
    void SwitchZone(const QString& name);
    // Opens "管理区服" and shows the zones as it left them.
    void ManageZones();
    const Zone& CurrentZone() const { return m_zone; }

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
    // The connect of `zone` with its password known; `storeInKeychain`: the password was
    // typed for a keychain zone and goes into the keychain once it has logged in.
    void ConnectZone(const Zone& zone, const ConnectionSettings& typed,
                     const std::string& password, bool storeInKeychain);
    void AskPasswordAndConnect(const Zone& zone, const ConnectionSettings& typed,
                               const QString& prompt, bool storeInKeychain);
    // A refusal only the operator can lift (a fingerprint seen first, a key's passphrase):
    // asks, and connects again on the answer. False for every other failure.
    bool AskOperator(Zone zone, const ConnectionSettings& typed, const std::string& password,
                     bool storeInKeychain, const ReachReport& reach);
    void ShowConnectFailure(const DbError& error, const ReachReport& reach);
    void StorePassword(const Zone& zone, const std::string& password);

    // Around every connect, pressed or made by a refresh tick: the label says so meanwhile.
    void BeginConnect();
    void EndConnect(bool connected);
    // After every job: disconnected when the server could not be reached, connected again
    // once a statement gets through.
    void OnServerHeard(bool answered, bool lost);
    void WatchUnanswered();
    void OnBusyChanged(bool busy);
    void OnVersionPage(const QByteArray& body);
    void SendToSelectedRole(const QString& roleId);
    void SendToListedRoles(const std::vector<std::string>& roleIds, bool everyRole);
    void ChooseRolesByCondition();
    void ShowZoneMarks();
    void FitZoneStrip();
    void UpdateZoneSwitch();
    // Tells what reading zones.ini skipped.
    void ReportZoneNotes(const std::vector<ZoneNote>& notes);
    // Writes `change` into zones.ini off the window's thread, in the order changes are made.
    void SaveZones(std::function<bool(ZoneList&)> change, bool tellFailure);

    AppEnvironment m_env;
    ConfigFile m_config;
    DatabaseWorker* m_worker;
    AuditTrail* m_audit;
    QTabWidget* m_tabs;
    CommonPage* m_common;
    MailPage* m_mail;
    CleanupPage* m_cleanup;
    ZoneStrip* m_zoneStrip;
    QString m_baseTitle;
    ZonesFile m_zonesFile;
    ZoneList m_zoneList;
    // The zone worked on: the one selected, as the boxes held it at its last connect.
    Zone m_zone;
    // One thread: zones.ini's changes land in the order they were made.
    QThreadPool m_zoneWrites;
    QTimer m_timer1{this};
    QTimer m_timer2{this};
    // Looks, while work runs, whether a statement has waited too long for its answer.
    QTimer m_watch{this};
    std::unique_ptr<VersionPageFetcher> m_fetcher;
    LinkState m_link = LinkState::NotConnected;
    bool m_connecting = false;
    bool m_refreshRunning = false;
    // The operator's close has been accepted: a second close event does not ask again.
    bool m_closing = false;
    // The parameters of the last successful connect: what a refresh tick reconnects to.
    std::optional<ConnectParams> m_lastConnected;
    // The zone's SSH password or key passphrase as typed this run (never written anywhere).
    std::string m_sshSecret;
    // When the statistics and the role list were last refreshed.
    std::optional<std::time_t> m_pictureTime;
    // Used by the refresh jobs only, on the database thread.
    std::shared_ptr<RoleListKeeper> m_roleKeeper;
};

// Sets a timer's interval; 0 stops it.
void SetTimerInterval(QTimer& timer, int milliseconds);

} // namespace mrvn
