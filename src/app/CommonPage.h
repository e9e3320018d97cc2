#pragma once

#include "app/Page.h"

#include <string>
#include <vector>

class QMenu;
class QAction;

namespace mrvn {

struct AppContext;
struct ConnectionSettings;
struct OnlineStatsRow;
class ReportView;

// Page 0 "常用功能": connection parameters, the statistics line and the role list.
class CommonPage : public Page
{
    Q_OBJECT
public:
    explicit CommonPage(AppContext& context, QWidget* parent = nullptr);

    void LoadSettings(const ConnectionSettings& settings);
    ConnectionSettings TypedSettings() const;
    void ShowConnected();
    // The server could not be reached by the last refresh: red " 连接状态：已断开".
    void ShowDisconnected();

    // Overwrites the one statistics row in place (inserting it the first time).
    void ShowOnlineStats(const OnlineStatsRow& stats);
    // Replaces the role list; the selected role stays selected when it is still listed.
    void ShowRoles(std::vector<std::vector<std::string>> rows);

    ReportView* statsView() const { return m_statsView; }
    ReportView* roleView() const { return m_roleView; }
    QPushButton* connectButton() const { return m_connect; }
    QLabel* statusLabel() const { return m_status; }
    QMenu* roleMenu() const { return m_menu; }
    QAction* sendMailAction() const { return m_sendMail; }

    // Enables the menu item by the selection and remembers the selected role for it.
    void ShowRoleListMenu(const QPoint& globalPos);
    // The role id remembered when the menu was opened.
    const QString& MenuRoleId() const { return m_menuRoleId; }
    // Prepares the menu as a right click does, without showing it (for the window tests).
    void PrepareRoleListMenu();

signals:
    void ConnectRequested();
    void SendMailToRole(const QString& roleId);

private:
    AppContext& m_context;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_database;
    QLabel* m_status;
    QPushButton* m_connect;
    ReportView* m_statsView;
    ReportView* m_roleView;
    QMenu* m_menu;
    QAction* m_sendMail;
    QString m_menuRoleId;
};

} // namespace mrvn
