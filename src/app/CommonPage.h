#pragma once

#include "app/DatabaseWorker.h"
#include "app/Page.h"
#include "app/RoleListProxy.h"

#include <string>
#include <vector>

class QMenu;
class QAction;
class QFrame;

namespace mrvn {

class Dialogs;
struct ConnectionSettings;
struct OnlineStatsRow;
class ReportView;
class RoleListProxy;

// Page 0 "常用功能": connection parameters, the statistics line and the role list.
class CommonPage : public Page
{
    Q_OBJECT
public:
    explicit CommonPage(Dialogs& dialogs, QWidget* parent = nullptr);

    void LoadSettings(const ConnectionSettings& settings);
    ConnectionSettings TypedSettings() const;
    // The status label: green " 连接状态：已连接", red " 连接状态：无响应" while a statement
    // waits too long for its answer, red " 连接状态：已断开" once the server could not be
    // reached.
    void ShowLink(LinkState state);
    // "连接mysql": enabled whenever the tool is not connected, so the operator can
    // reconnect at once.
    void SetConnectEnabled(bool enabled);

    // Overwrites the one statistics row in place (inserting it the first time).
    void ShowOnlineStats(const OnlineStatsRow& stats);
    // Replaces the role list. The chosen order and the filter stay; the selected roles stay
    // selected when they are still listed.
    void ShowRoles(RoleRows rows);
    // The same for rows prepared off the window's thread (PrepareRoleRows).
    void ShowRoles(PreparedRoleRows prepared);

    // Shows the filter line over the bottom of the role list and puts the cursor in it.
    void ShowRoleFilter();
    // Empties the filter line and hides it: every role is listed again.
    void HideRoleFilter();
    // Asks for a file and writes the rows shown (all of them, or those the filter lets
    // through) in the order shown as CSV.
    void ExportRoleList();

    // Enables the menu item by the selection and remembers the selected role for it.
    void ShowRoleListMenu(const QPoint& globalPos);
    // Opens the menu at the current row, as the menu key and Shift+F10 do.
    void ShowRoleListMenuFromKeyboard(const QPoint& globalPos);
    // Prepares the menu as a right click does, without showing it (for the window tests).
    void PrepareRoleListMenu();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void ConnectRequested();
    void SendMailToRole(const QString& roleId);

private:
    Dialogs& m_dialogs;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_database;
    QLabel* m_status;
    QPushButton* m_connect;
    ReportView* m_statsView;
    void UpdateFilterCount();

    ReportView* m_roleView;
    RoleListProxy* m_roleProxy;
    QFrame* m_filterBar;
    QLineEdit* m_filterEdit;
    QLabel* m_filterCount;
    QMenu* m_menu;
    QAction* m_sendMail;
    QAction* m_sendSelected;
    QAction* m_sendOnline;
    QAction* m_filterAction;
    QAction* m_copyAction;
    QAction* m_exportAction;
    // What the menu's items act on, taken when it opened: a refresh while it is open changes
    // the rows, not the receivers.
    QString m_menuRoleId;
    QString m_menuSelectedIds;
    QString m_menuOnlineIds;
};

} // namespace mrvn
