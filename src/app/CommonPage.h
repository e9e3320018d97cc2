#pragma once

#include "app/DatabaseWorker.h"
#include "app/Page.h"
#include "app/RoleListProxy.h"

#include <cstdint>
#include <string>
#include <vector>

class QMenu;
class QAction;
class QFrame;
class QComboBox;

namespace mrvn {

class Dialogs;
struct ConnectionSettings;
struct OnlineStatsRow;
struct ZoneList;
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
    // reached, " 连接状态：正在连接…" while a connect runs.
    void ShowLink(LinkState state);
    // The zone the label names while connected (" 连接状态：已连接（二区）").
    void SetLinkZone(const QString& name);
    // What the label adds while connected: the TLS version ("TLSv1.3"), or "未加密" in orange
    // for a connection that leaves this machine in plain text; empty: nothing.
    void SetLinkSecurity(const QString& security, bool plain);
    // The label's bracket: the zone's name (cut to fit) and the security note.
    QString LinkNote() const;

    // The zone combo: every zone in order, `selected` chosen. Changes no zone.
    void ShowZones(const ZoneList& zones, const QString& selected);
    // Off while a mail is sent or a cleanup runs, the reason in the tooltip.
    void SetZoneSwitchEnabled(bool enabled, const QString& whyNot);
    // What belongs to the zone left at a switch: the statistics line, the role list, its
    // selection and what the menu took from it. The filter and the sort order stay.
    void ClearZoneData();
    // "连接mysql": enabled whenever the tool is not connected, so the operator can
    // reconnect at once.
    void SetConnectEnabled(bool enabled);

    // Overwrites the one statistics row in place (inserting it the first time).
    void ShowOnlineStats(const OnlineStatsRow& stats);
    // The role list's ways in; the chosen order and the filter stay through each.
    // Shows these rows instead of the list shown; the selected roles stay selected when they
    // are still listed.
    void ShowRoles(RoleRows rows);
    // Shows a refresh made on the database thread (RoleListKeeper): a difference moves the
    // selection along with its roles. A difference from a list no longer shown is dropped.
    void ShowRoles(RoleListChange change);
    // Empties the role list ("clear everything"); the next refresh brings every row again.
    void ClearRoles();
    // The version of the list shown, for the database thread's next change.
    std::uint64_t ShownRoleListVersion() const;
    // The server went away: the statistics line and the role list keep what they show,
    // greyed, and "数据时间 <time>（连接中断）" stands beside the statistics, until
    // MarkPictureCurrent. The rows stay usable (a role can still be picked for a mail).
    void MarkPictureStale(const QString& pictureTime);
    void MarkPictureCurrent();
    bool PictureStale() const;

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
    // The operator chose another zone in the combo.
    void ZoneChosen(const QString& name);
    void ManageZonesRequested();
    void SendMailToRole(const QString& roleId);
    // "发送给筛选出的角色": the roles the list shows; `everyRole` when that is all of them.
    void SendMailToListedRoles(const std::vector<std::string>& roleIds, bool everyRole);
    // "按条件选择角色…".
    void ChooseRolesByCondition();

private:
    Dialogs& m_dialogs;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_database;
    QLabel* m_status;
    QString m_linkZoneName;
    QString m_linkSecurity;
    bool m_linkPlain = false;
    QPushButton* m_connect;
    QComboBox* m_zones;
    QPushButton* m_manageZones;
    ReportView* m_statsView;
    QLabel* m_pictureTime;
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
    QAction* m_sendFiltered;
    QAction* m_chooseByCondition;
    QAction* m_filterAction;
    QAction* m_copyAction;
    QAction* m_exportAction;
    // What the menu's items act on, taken when it opened: a refresh while it is open changes
    // the rows, not the receivers.
    QString m_menuRoleId;
    QString m_menuSelectedIds;
    QString m_menuOnlineIds;
    std::vector<std::string> m_menuShownIds;
};

} // namespace mrvn
