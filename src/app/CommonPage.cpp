#include "app/CommonPage.h"

#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "app/RoleListProxy.h"
#include "app/Texts.h"
#include "config/ConfigFile.h"
#include "config/Zones.h"
#include "db/OnlineStats.h"
#include "db/RoleList.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>

#include <numeric>
#include <unordered_set>

namespace mrvn {

namespace {
constexpr int kRoleIdColumn = ColumnIndex(RoleColumn::RoleId);
constexpr int kOnlineColumn = ColumnIndex(RoleColumn::Online);
constexpr int kFilterBarHeight = 26;
} // namespace

CommonPage::CommonPage(Dialogs& dialogs, QWidget* parent) : Page(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("常用功能"));
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
    m_status = MakeLabel(group1, QStringLiteral("标签4"), QString::fromUtf8(kStatusNotConnected),
                         QRect(184, 56, 192, 20));
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_connect = MakeButton(group1, QStringLiteral("按钮1"), QStringLiteral("连接mysql"),
                           QRect(392, 48, 80, 32));
    connect(m_connect, &QPushButton::clicked, this, &CommonPage::ConnectRequested);
    // The zone goes on the group's title row, right of its caption, lined up with the port
    // box and the connect button below: the designed layout left that row empty.
    auto* zoneLabel =
        MakeLabel(group1, QStringLiteral("标签区服"), QStringLiteral("区服："), {181, 1, 36, 18});
    zoneLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_zones = MakeComboBox(group1, QStringLiteral("区服选择框"), {}, {217, 0, 135, 19});
    m_zones->setToolTip(QString::fromUtf8(kZoneComboTip));
    m_manageZones = MakeButton(group1, QStringLiteral("按钮区服"), QStringLiteral("管理区服…"),
                               {392, 0, 80, 19});
    connect(m_zones, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            emit ZoneChosen(m_zones->itemData(index).toString());
    });
    connect(m_manageZones, &QPushButton::clicked, this, &CommonPage::ManageZonesRequested);

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
    // On the caption's line, right of its text.
    m_pictureTime = Pin(MakeLabel(this, QStringLiteral("数据时间"), {}, QRect(314, 124, 174, 16)));
    static_cast<DesignLabel*>(m_pictureTime)->SetTextColor(QColor(255, 0, 0));
    m_pictureTime->hide();

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
                                 {QStringLiteral("roleid"), 0},
                                 {QStringLiteral("account"), 0}},
                                group4);
    m_roleView->setGeometry(8, 16, 464, 208);
    DeclareGrowth({{group4, Growth::RightAndDown}, {m_roleView, Growth::RightAndDown}});
    m_roleView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_roleView->SetRowCopy(true);
    m_roleView->SetNumericColumns([](int column) {
        return RoleListProxy::KindOf(column) == RoleListProxy::SortKind::Number;
    });
    m_roleProxy = new RoleListProxy(m_roleView->Model(), m_roleView);
    m_roleProxy->setObjectName(QStringLiteral("角色列表筛选"));
    m_roleView->SetProxy(m_roleProxy);

    // The filter line takes the bottom of the list's rows while it is shown, inside its
    // scroll bars, so no designed control moves.
    m_filterBar = new QFrame(group4);
    m_filterBar->setObjectName(QStringLiteral("角色筛选栏"));
    m_filterBar->setFrameShape(QFrame::StyledPanel);
    m_filterBar->setAutoFillBackground(true);
    auto* filterLayout = new QHBoxLayout(m_filterBar);
    filterLayout->setContentsMargins(3, 2, 6, 2);
    m_filterEdit = new QLineEdit(m_filterBar);
    m_filterEdit->setObjectName(QStringLiteral("角色筛选框"));
    m_filterEdit->setPlaceholderText(QString::fromUtf8(kRoleFilterPlaceholder));
    m_filterEdit->installEventFilter(this);
    m_filterCount = new QLabel(m_filterBar);
    m_filterCount->setObjectName(QStringLiteral("角色筛选计数"));
    filterLayout->addWidget(m_filterEdit, 1);
    filterLayout->addWidget(m_filterCount);
    m_filterBar->hide();
    m_roleView->SetFooter(m_filterBar, kFilterBarHeight);
    connect(m_filterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_roleProxy->SetFilterText(text);
        UpdateFilterCount();
    });
    connect(m_roleProxy, &QAbstractItemModel::modelReset, this, &CommonPage::UpdateFilterCount);
    connect(m_roleProxy, &QAbstractItemModel::layoutChanged, this, &CommonPage::UpdateFilterCount);
    connect(m_roleProxy, &QAbstractItemModel::rowsInserted, this, &CommonPage::UpdateFilterCount);
    connect(m_roleProxy, &QAbstractItemModel::rowsRemoved, this, &CommonPage::UpdateFilterCount);
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, &CommonPage::ShowRoleFilter);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("角色列表菜单"));
    m_sendMail = m_menu->addAction(QStringLiteral("发送在线邮件"));
    m_sendMail->setObjectName(QStringLiteral("发送在线邮件"));
    m_sendSelected = m_menu->addAction(QStringLiteral("发送给选中的角色"));
    m_sendSelected->setObjectName(QStringLiteral("发送给选中的角色"));
    m_sendOnline = m_menu->addAction(QStringLiteral("发送给全部在线角色"));
    m_sendOnline->setObjectName(QStringLiteral("发送给全部在线角色"));
    m_sendFiltered = m_menu->addAction(QStringLiteral("发送给筛选出的角色"));
    m_sendFiltered->setObjectName(QStringLiteral("发送给筛选出的角色"));
    m_chooseByCondition = m_menu->addAction(QStringLiteral("按条件选择角色…"));
    m_chooseByCondition->setObjectName(QStringLiteral("按条件选择角色"));
    m_menu->addSeparator();
    // The text after the tab is shown as the item's shortcut; the keys work on the list.
    m_filterAction = m_menu->addAction(QStringLiteral("筛选角色\tCtrl+F"));
    m_copyAction = m_menu->addAction(QStringLiteral("复制选中的行\tCtrl+C"));
    m_exportAction = m_menu->addAction(QStringLiteral("导出为 CSV 文件…"));
    m_filterAction->setObjectName(QStringLiteral("筛选角色"));
    m_copyAction->setObjectName(QStringLiteral("复制选中的行"));
    m_exportAction->setObjectName(QStringLiteral("导出角色列表"));
    connect(m_roleView, &ReportView::RightClicked, this, &CommonPage::ShowRoleListMenu);
    connect(m_roleView, &ReportView::KeyboardMenuRequested, this,
            &CommonPage::ShowRoleListMenuFromKeyboard);
    connect(m_sendMail, &QAction::triggered, this, [this] { emit SendMailToRole(m_menuRoleId); });
    connect(m_sendSelected, &QAction::triggered, this,
            [this] { emit SendMailToRole(m_menuSelectedIds); });
    connect(m_sendOnline, &QAction::triggered, this,
            [this] { emit SendMailToRole(m_menuOnlineIds); });
    connect(m_sendFiltered, &QAction::triggered, this, [this] {
        emit SendMailToListedRoles(m_menuShownIds,
                                   m_menuShownIds.size() ==
                                       static_cast<std::size_t>(m_roleView->Model().RowCount()));
    });
    connect(m_chooseByCondition, &QAction::triggered, this, &CommonPage::ChooseRolesByCondition);
    connect(m_filterAction, &QAction::triggered, this, &CommonPage::ShowRoleFilter);
    connect(m_copyAction, &QAction::triggered, m_roleView, &ReportView::CopySelectedRows);
    connect(m_exportAction, &QAction::triggered, this, &CommonPage::ExportRoleList);
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

void CommonPage::ShowLink(LinkState state)
{
    auto* label = static_cast<DesignLabel*>(m_status);
    switch (state) {
    case LinkState::NotConnected:
        label->setText(QString::fromUtf8(kStatusNotConnected));
        label->SetTextColor(palette().color(QPalette::WindowText));
        break;
    case LinkState::Connected:
        label->setText(m_linkZoneName.isEmpty() && m_linkSecurity.isEmpty()
                           ? QString::fromUtf8(kStatusConnected)
                           : QString::fromUtf8(kStatusConnectedZone).arg(LinkNote()));
        label->SetTextColor(m_linkPlain ? QColor(230, 120, 0) : QColor(0, 128, 0));
        break;
    case LinkState::Unresponsive:
        label->setText(QString::fromUtf8(kStatusUnresponsive));
        label->SetTextColor(QColor(255, 0, 0));
        break;
    case LinkState::Disconnected:
        label->setText(QString::fromUtf8(kStatusDisconnected));
        label->SetTextColor(QColor(255, 0, 0));
        break;
    case LinkState::Connecting:
        label->setText(QString::fromUtf8(kStatusConnecting));
        label->SetTextColor(palette().color(QPalette::WindowText));
        break;
    }
}

namespace {

// Cells drawn in the greyed text colour (or the normal one again), the view still enabled.
void GreyCells(ReportView* view, bool greyed)
{
    QPalette colors = view->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colors.setColor(group, QPalette::Text,
                        greyed ? colors.color(QPalette::Disabled, QPalette::Text)
                               : QApplication::palette(view).color(group, QPalette::Text));
    }
    view->setPalette(colors);
    // The rows are not repainted by a new palette alone: an unchanged list kept its old
    // colours on screen until something else made it repaint.
    view->viewport()->update();
}

} // namespace

void CommonPage::MarkPictureStale(const QString& pictureTime)
{
    m_pictureTime->setText(QString::fromUtf8(kStaleDataTime).arg(pictureTime));
    m_pictureTime->show();
    GreyCells(m_statsView, true);
    GreyCells(m_roleView, true);
}

void CommonPage::MarkPictureCurrent()
{
    if (m_pictureTime->isHidden())
        return;
    m_pictureTime->hide();
    GreyCells(m_statsView, false);
    GreyCells(m_roleView, false);
}

bool CommonPage::PictureStale() const
{
    return !m_pictureTime->isHidden();
}

void CommonPage::SetConnectEnabled(bool enabled)
{
    m_connect->setEnabled(enabled);
}

void CommonPage::SetLinkZone(const QString& name)
{
    m_linkZoneName = name;
}

void CommonPage::SetLinkSecurity(const QString& security, bool plain)
{
    m_linkSecurity = security;
    m_linkPlain = plain;
}

QString CommonPage::LinkNote() const
{
    // The label is 192 pixels wide. Without a security note a long name is cut in its middle
    // rather than the bracket that closes it; with one, the note stays whole and the name goes
    // when it does not fit whole (the zone combo right above the label names it).
    const QFontMetrics metrics(m_status->font());
    const auto room = [&](const QString& note) {
        return m_status->width() -
               metrics.horizontalAdvance(QString::fromUtf8(kStatusConnectedZone).arg(note));
    };
    if (m_linkSecurity.isEmpty())
        return metrics.elidedText(m_linkZoneName, Qt::ElideMiddle, room(QString()));
    const QString whole =
        m_linkZoneName + QString::fromUtf8(kStatusSecuritySeparator) + m_linkSecurity;
    return room(whole) >= 0 ? whole : m_linkSecurity;
}

void CommonPage::ShowZones(const ZoneList& zones, const QString& selected)
{
    const QSignalBlocker quiet(m_zones);
    m_zones->clear();
    for (const Zone& zone : zones.zones) {
        QPixmap swatch(10, 10);
        swatch.fill(QColor(QString::fromStdString(zone.color)));
        const QString name = QString::fromStdString(zone.name);
        m_zones->addItem(QIcon(swatch), name, name);
        if (SameZoneName(zone.name, selected.toStdString()))
            m_zones->setCurrentIndex(m_zones->count() - 1);
    }
}

void CommonPage::SetZoneSwitchEnabled(bool enabled, const QString& whyNot)
{
    m_zones->setEnabled(enabled);
    m_zones->setToolTip(enabled ? QString::fromUtf8(kZoneComboTip) : whyNot);
}

void CommonPage::ClearZoneData()
{
    m_statsView->Model().Clear();
    m_roleView->SetSelectedRows({}, -1);
    m_roleProxy->Clear();
    m_menuRoleId.clear();
    m_menuSelectedIds.clear();
    m_menuOnlineIds.clear();
    m_menu->hide();
}

void CommonPage::ShowOnlineStats(const OnlineStatsRow& stats)
{
    if (m_statsView->RowCount() == 0)
        m_statsView->AppendRow();
    TextTableModel& model = m_statsView->Model();
    model.SetCell(0, ColumnIndex(StatsColumn::TodayCreate), stats.todayCreate);
    model.SetCell(0, ColumnIndex(StatsColumn::TodayLogin), stats.todayLogin);
    model.SetCell(0, ColumnIndex(StatsColumn::OnlineCount), stats.onlineCount);
    model.SetCell(0, ColumnIndex(StatsColumn::UpdateTime), stats.updateTime);
    model.SetCell(0, ColumnIndex(StatsColumn::Id), stats.id);
}

void CommonPage::ShowRoles(RoleRows rows)
{
    ShowRoles(RoleListKeeper::Replacement(std::move(rows)));
}

void CommonPage::ShowRoles(RoleListChange change)
{
    if (!change.replaces) {
        m_roleProxy->ApplyChange(std::move(change));
        return;
    }
    // Every row is new to the model: the selection is found again by role id.
    const TextTableModel& model = m_roleView->Model();
    std::unordered_set<std::string> selectedIds;
    for (const int row : m_roleView->SelectedRows())
        selectedIds.insert(model.Cell(m_roleView->ModelRow(row), kRoleIdColumn));
    const int current = m_roleView->Selection();
    const std::string currentId =
        current >= 0 ? model.Cell(m_roleView->ModelRow(current), kRoleIdColumn) : std::string();

    m_roleProxy->ApplyChange(std::move(change));
    if (selectedIds.empty())
        return;
    std::vector<int> selected;
    int currentRow = -1;
    for (int row = 0; row < model.RowCount() && selected.size() < selectedIds.size(); ++row) {
        const std::string id = model.Cell(row, kRoleIdColumn);
        if (selectedIds.count(id) == 0)
            continue;
        const int viewRow = m_roleView->ViewRow(row);
        if (viewRow < 0)
            continue;
        selected.push_back(viewRow);
        if (id == currentId)
            currentRow = viewRow;
    }
    m_roleView->SetSelectedRows(selected, currentRow);
}

void CommonPage::ClearRoles()
{
    m_roleProxy->Clear();
}

std::uint64_t CommonPage::ShownRoleListVersion() const
{
    return m_roleProxy->ShownVersion();
}

void CommonPage::PrepareRoleListMenu()
{
    const int selected = m_roleView->Selection();
    m_sendMail->setEnabled(selected != -1);
    m_menuRoleId = selected == -1 ? QString() : m_roleView->Cell(selected, kRoleIdColumn);

    QStringList selectedIds;
    for (const int row : m_roleView->SelectedRows())
        selectedIds << m_roleView->Cell(row, kRoleIdColumn);
    m_menuSelectedIds = selectedIds.join(u',');
    m_sendSelected->setEnabled(!selectedIds.isEmpty());
    m_copyAction->setEnabled(!selectedIds.isEmpty());

    // Every online role, also those the filter hides, in the list's own order.
    const TextTableModel& model = m_roleView->Model();
    const std::string online = "在线";
    QStringList onlineIds;
    for (int row = 0; row < model.RowCount(); ++row) {
        if (model.Cell(row, kOnlineColumn) == online)
            onlineIds << QString::fromStdString(model.Cell(row, kRoleIdColumn));
    }
    m_menuOnlineIds = onlineIds.join(u',');
    m_sendOnline->setEnabled(!onlineIds.isEmpty());

    // The rows the filter lets through, in the order shown.
    m_menuShownIds.clear();
    m_menuShownIds.reserve(static_cast<std::size_t>(m_roleView->RowCount()));
    for (int row = 0; row < m_roleView->RowCount(); ++row)
        m_menuShownIds.push_back(model.Cell(m_roleView->ModelRow(row), kRoleIdColumn));
    m_sendFiltered->setEnabled(!m_menuShownIds.empty());
    m_exportAction->setEnabled(m_roleView->RowCount() > 0);
}

void CommonPage::ShowRoleListMenu(const QPoint& globalPos)
{
    PrepareRoleListMenu();
    m_menu->popup(globalPos);
}

void CommonPage::ShowRoleListMenuFromKeyboard(const QPoint& globalPos)
{
    // Some platforms send a menu event of their own after the key press: one menu is enough.
    if (m_menu->isVisible())
        return;
    ShowRoleListMenu(globalPos);
}

void CommonPage::ShowRoleFilter()
{
    m_filterBar->show();
    m_filterBar->raise();
    UpdateFilterCount();
    m_filterEdit->setFocus(Qt::ShortcutFocusReason);
    m_filterEdit->selectAll();
}

void CommonPage::HideRoleFilter()
{
    m_filterEdit->clear();
    m_filterBar->hide();
    m_roleView->setFocus(Qt::OtherFocusReason);
}

void CommonPage::UpdateFilterCount()
{
    m_filterCount->setText(QString::fromUtf8(kRoleFilterCount)
                               .arg(m_roleView->RowCount())
                               .arg(m_roleView->Model().RowCount()));
}

void CommonPage::ExportRoleList()
{
    const std::optional<QString> file = m_dialogs.SaveFileName(
        this, QString::fromUtf8(kExportTitle), QString::fromUtf8(kExportSuggestedName),
        QString::fromUtf8(kExportFilter));
    if (!file)
        return;
    std::vector<int> rows(static_cast<std::size_t>(m_roleView->RowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    const QByteArray bytes = m_roleView->RowsAsCsv(rows);
    QSaveFile out(*file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        m_dialogs.Message(this, QString::fromUtf8(kExportFailedText),
                          QString::fromUtf8(kExportMessageTitle), MessageIcon::Error,
                          MessageButtons::Ok, out.errorString());
        return;
    }
    m_dialogs.Message(this,
                      QString::fromUtf8(kExportDoneText) + QStringLiteral("\r\n") +
                          QString::fromUtf8(kExportDoneWhere)
                              .arg(static_cast<qulonglong>(rows.size()))
                              .arg(QDir::toNativeSeparators(*file)),
                      QString::fromUtf8(kExportMessageTitle), MessageIcon::Information,
                      MessageButtons::Ok);
}

bool CommonPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_filterEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            HideRoleFilter();
            return true;
        }
        // From the filter line down into the rows it left.
        if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_roleView->setFocus(Qt::OtherFocusReason);
            if (m_roleView->Selection() < 0)
                m_roleView->SetSelection(0);
            return true;
        }
    }
    return Page::eventFilter(watched, event);
}

} // namespace mrvn
