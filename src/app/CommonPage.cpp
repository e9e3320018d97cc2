#include "app/CommonPage.h"

#include "app/AppContext.h"
#include "app/ReportView.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <unordered_map>

namespace mrvn {

namespace {
constexpr int kRoleIdColumn = ColumnIndex(RoleColumn::RoleId);
}

CommonPage::CommonPage(AppContext& context, QWidget* parent) : Page(parent), m_context(context)
{
    auto* group1 = Pin(MakeGroupBox(this, QStringLiteral("分组框1"),
                                    QStringLiteral("connect mysql:"), QRect(8, 32, 480, 88)));
    MakeLabel(group1, QStringLiteral("标签3"),
              FromDesignText("数据库IP：                   端口：         用户：         密码："
                             "\r\n\r\n\r\n数据库名："),
              QRect(8, 24, 464, 48));
    m_host = MakeEdit(group1, QStringLiteral("编辑框2"), QStringLiteral("127.0.0.1"),
                      QRect(64, 21, 112, 20));
    m_port = MakeEdit(group1, QStringLiteral("编辑框3"), QStringLiteral("3306"),
                      QRect(217, 21, 48, 20), true);
    m_user =
        MakeEdit(group1, QStringLiteral("编辑框4"), QStringLiteral("root"), QRect(304, 21, 48, 20));
    m_password = MakeEdit(group1, QStringLiteral("编辑框5"), QStringLiteral("739215"),
                          QRect(400, 21, 72, 20));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    m_database =
        MakeEdit(group1, QStringLiteral("编辑框6"), QStringLiteral("mrvn"), QRect(64, 56, 112, 20));
    m_status = MakeLabel(group1, QStringLiteral("标签4"), QStringLiteral(" 连接状态：未连接"),
                         QRect(184, 56, 192, 20));
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_connect = MakeButton(group1, QStringLiteral("按钮1"), QStringLiteral("连接mysql"),
                           QRect(392, 48, 80, 32));
    connect(m_connect, &QPushButton::clicked, this, &CommonPage::ConnectRequested);

    auto* caption =
        Pin(MakeLabel(this, QStringLiteral("标签7"),
                      QStringLiteral("在线数据统计系统 v1.0 （界面全部数据刷新间隔1分钟）"),
                      QRect(8, 124, 480, 16)));
    static_cast<DesignLabel*>(caption)->SetTextColor(QColor(0, 0, 255));

    m_statsView = new ReportView(QStringLiteral("超级列表框2"),
                                 {{QStringLiteral("今日创建角色"), 100},
                                  {QStringLiteral("今日登陆人数"), 100},
                                  {QStringLiteral("当前在线"), 100},
                                  {QStringLiteral("记录更新时间"), 160},
                                  {QStringLiteral("id"), 0}},
                                 this);
    m_statsView->setGeometry(8, 144, 480, 45);
    Pin(m_statsView);

    auto* group4 =
        Pin(MakeGroupBox(this, QStringLiteral("分组框4"),
                         QStringLiteral("全部角色列表：（有右键菜单功能。修改数据 - 暂未开放）"),
                         QRect(8, 200, 480, 232)));
    m_roleView = new ReportView(QStringLiteral("超级列表框4"),
                                {{QStringLiteral("在线"), 38},
                                 {QStringLiteral("名称"), 120},
                                 {QStringLiteral("等级"), 38},
                                 {QStringLiteral("铜钱"), 80},
                                 {QStringLiteral("元宝"), 80},
                                 {QStringLiteral("礼金"), 80},
                                 {QStringLiteral("经验"), 80},
                                 {QStringLiteral("职业"), 38},
                                 {QStringLiteral("灵气"), 80},
                                 {QStringLiteral("战力"), 50},
                                 {QStringLiteral("登陆次数"), 60},
                                 {QStringLiteral("登陆时长"), 60},
                                 {QStringLiteral("创建时间"), 130},
                                 {QStringLiteral("离线时间"), 130},
                                 {QStringLiteral("roleid"), 0}},
                                group4);
    m_roleView->setGeometry(8, 16, 464, 208);
    DeclareGrowth({{group4, Growth::RightAndDown}, {m_roleView, Growth::RightAndDown}});

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("角色列表菜单"));
    m_sendMail = m_menu->addAction(QStringLiteral("发送在线邮件"));
    m_sendMail->setObjectName(QStringLiteral("发送在线邮件"));
    connect(m_roleView, &ReportView::RightClicked, this, &CommonPage::ShowRoleListMenu);
    connect(m_sendMail, &QAction::triggered, this, [this] { emit SendMailToRole(m_menuRoleId); });
}

void CommonPage::LoadSettings(const ConnectionSettings& settings)
{
    m_host->setText(QString::fromStdString(settings.ip));
    m_port->setText(QString::fromStdString(settings.port));
    m_user->setText(QString::fromStdString(settings.user));
    m_password->setText(QString::fromStdString(settings.psw));
    m_database->setText(QString::fromStdString(settings.db));
}

ConnectionSettings CommonPage::TypedSettings() const
{
    ConnectionSettings settings;
    settings.ip = m_host->text().toStdString();
    settings.port = m_port->text().toStdString();
    settings.user = m_user->text().toStdString();
    settings.psw = m_password->text().toStdString();
    settings.db = m_database->text().toStdString();
    return settings;
}

void CommonPage::ShowConnected()
{
    m_status->setText(QStringLiteral(" 连接状态：已连接"));
    static_cast<DesignLabel*>(m_status)->SetTextColor(QColor(0, 128, 0));
    m_connect->setEnabled(false);
}

void CommonPage::ShowDisconnected()
{
    m_status->setText(QStringLiteral(" 连接状态：已断开"));
    static_cast<DesignLabel*>(m_status)->SetTextColor(QColor(255, 0, 0));
}

void CommonPage::ShowOnlineStats(const OnlineStatsRow& stats)
{
    if (m_statsView->RowCount() == 0)
        m_statsView->AppendRow();
    TextTableModel& model = m_statsView->Model();
    model.SetCell(0, 0, stats.todayCreate);
    model.SetCell(0, 1, stats.todayLogin);
    model.SetCell(0, 2, stats.onlineCount);
    model.SetCell(0, 3, stats.updateTime);
    model.SetCell(0, 4, stats.id);
}

void CommonPage::ShowRoles(std::vector<std::vector<std::string>> rows)
{
    const int selected = m_roleView->Selection();
    const std::string selectedId =
        selected >= 0 ? m_roleView->Model().Cell(selected, kRoleIdColumn) : std::string();
    m_roleView->Model().ResetRows(std::move(rows));
    if (selectedId.empty())
        return;
    const TextTableModel& model = m_roleView->Model();
    for (int row = 0; row < model.RowCount(); ++row) {
        if (model.Cell(row, kRoleIdColumn) == selectedId) {
            m_roleView->SetSelection(row);
            return;
        }
    }
}

void CommonPage::PrepareRoleListMenu()
{
    const int selected = m_roleView->Selection();
    m_sendMail->setEnabled(selected != -1);
    m_menuRoleId = selected == -1 ? QString() : m_roleView->Cell(selected, kRoleIdColumn);
}

void CommonPage::ShowRoleListMenu(const QPoint& globalPos)
{
    PrepareRoleListMenu();
    m_menu->popup(globalPos);
}

} // namespace mrvn
