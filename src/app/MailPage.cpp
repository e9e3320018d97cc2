#include "app/MailPage.h"

#include "app/AccountLookupUi.h"
#include "app/AppEnvironment.h"
#include "app/AuditUi.h"
#include "app/Background.h"
#include "app/DatabaseWorker.h"
#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "app/Texts.h"
#include "app/ZoneMarks.h"
#include "config/ConfigFile.h"
#include "db/DbConnection.h"
#include "items/ItemSearch.h"
#include "mail/MailArchive.h"
#include "mail/MailItem.h"
#include "text/TextUtil.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string Std(const QString& text)
{
    return text.toStdString();
}

} // namespace

MailPage::MailPage(DatabaseWorker& worker, ConfigFile& config, Dialogs& dialogs, AuditTrail& audit,
                   std::filesystem::path cataloguePath, Clock clock,
                   std::filesystem::path settingsPath, QWidget* parent)
    : Page(parent), m_worker(worker), m_config(config), m_dialogs(dialogs), m_audit(audit),
      m_cataloguePath(std::move(cataloguePath)), m_clock(std::move(clock)),
      m_settingsPath(std::move(settingsPath))
{
    setObjectName(QStringLiteral("发放邮件"));
    QGroupBox* g = Pin(MakeGroupBox(this, QStringLiteral("分组框2"),
                                    QStringLiteral("发放邮件：（即发即收，无需下线）"),
                                    QRect(8, 32, 480, 408)));
    // Wide enough for its 96 pixels of text, up to the box it names.
    MakeLabel(g, QStringLiteral("标签11"), QStringLiteral("帐号查询角色ID："), {8, 24, 96, 16});
    m_account = MakeEdit(g, QStringLiteral("编辑框9"), {}, {104, 22, 104, 20});
    m_lookup = MakeButton(g, QStringLiteral("按钮4"), QStringLiteral("查询"), {208, 21, 72, 20});
    MakeLabel(g, QStringLiteral("标签12"), QStringLiteral("Role ID："), {8, 47, 56, 20});
    m_roleId = MakeEdit(g, QStringLiteral("编辑框10"), {}, {64, 48, 216, 20});
    m_clearReceivers = m_roleId->addAction(style()->standardIcon(QStyle::SP_LineEditClearButton),
                                           QLineEdit::TrailingPosition);
    m_clearReceivers->setObjectName(QStringLiteral("清除收件角色"));
    m_clearReceivers->setToolTip(Text(kClearReceiversAction));
    m_clearReceivers->setVisible(false);
    connect(m_clearReceivers, &QAction::triggered, this, &MailPage::ClearReceiverChoice);
    MakeLabel(g, QStringLiteral("标签13"), QStringLiteral("邮件标题："), {8, 72, 56, 16});
    m_title =
        MakeEdit(g, QStringLiteral("编辑框11"), QStringLiteral("系统邮件"), {64, 70, 216, 20});
    MakeLabel(g, QStringLiteral("标签14"), QStringLiteral("邮件内容："), {8, 90, 56, 16});
    m_content = MakeMultiLineEdit(g, QStringLiteral("编辑框12"),
                                  QStringLiteral("系统邮件请勿回复！(内容不可用回车,空格)"),
                                  {8, 106, 272, 54}, false);
    // The content is one line: Tab moves on to the next control instead of typing a tab.
    m_content->setTabChangesFocus(true);
    m_searchResult = MakeMultiLineEdit(
        g, QStringLiteral("编辑框20"),
        FromDesignText("物品数据库查询系统v1.0\r\n\r\n支持：中文模糊查询\r\n支持：ID英文模糊查询"),
        {285, 13, 192, 96}, true);
    // The results are for reading and copying; Tab moves on instead of being typed.
    m_searchResult->setReadOnly(true);
    m_searchResult->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    m_searchResult->setTabChangesFocus(true);
    // A double-click on a result line (or its menu item "加入附件") takes that item.
    m_searchResult->viewport()->installEventFilter(this);
    m_searchResult->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* searchLabel = MakeLabel(g, QStringLiteral("标签21"), QStringLiteral("物品名称查ID："),
                                  {288, 114, 80, 16});
    m_searchQuery = MakeEdit(g, QStringLiteral("编辑框19"), {}, {368, 112, 104, 20});
    // Two lines high: the status, and under it the count of records a search found.
    m_searchStatus =
        MakeLabel(g, QStringLiteral("标签22"), Text(kSearchStatusWaiting), {288, 136, 104, 24});
    m_searchButton =
        MakeButton(g, QStringLiteral("按钮11"), QStringLiteral("查询物品库"), {400, 133, 72, 20});
    MakeLabel(g, QStringLiteral("标签15"),
              QStringLiteral("铜钱：             非绑定元宝：                使用期限：        "
                             "天（0无限制）"),
              {8, 160, 468, 16}); // 468: the closing bracket ends 4 pixels past 464
    m_money = MakeEdit(g, QStringLiteral("编辑框13"), QStringLiteral("0"), {41, 160, 79, 20}, true);
    m_yuanbao =
        MakeEdit(g, QStringLiteral("编辑框14"), QStringLiteral("0"), {194, 160, 86, 20}, true);
    m_days = MakeEdit(g, QStringLiteral("编辑框18"), QStringLiteral("0"), {352, 160, 40, 20}, true);
    // A money box too narrow for its number shows the whole number under it, with separators:
    // one digit too many is then plain to see.
    for (QLineEdit* box : {m_money, m_yuanbao}) {
        auto* echo = new QLabel(g);
        echo->setObjectName(box->objectName() + QStringLiteral("全数"));
        echo->setAutoFillBackground(true);
        echo->setFrameShape(QFrame::Box);
        echo->setPalette(QToolTip::palette());
        // Only shown, never in the way of a click on the row beneath.
        echo->setAttribute(Qt::WA_TransparentForMouseEvents);
        echo->hide();
        const auto update = [box, echo] {
            const QString text = box->text().trimmed();
            const int room = box->contentsRect().width() - 6;
            if (text.isEmpty() || box->fontMetrics().horizontalAdvance(text) <= room) {
                echo->hide();
                return;
            }
            bool number = false;
            const qlonglong value = text.toLongLong(&number);
            echo->setText(number ? GroupedNumber(value) : text);
            echo->adjustSize();
            echo->move(box->x(), box->geometry().bottom() + 1);
            echo->raise();
            echo->show();
        };
        connect(box, &QLineEdit::textChanged, echo, update);
        m_moneyEchoes.push_back(update);
    }
    MakeLabel(g, QStringLiteral("标签16"),
              QStringLiteral("物品ID：              数量：      物品等级：       绑定：       "
                             "使用等级："),
              {8, 182, 464, 20});
    m_itemId = MakeEdit(g, QStringLiteral("编辑框15"), {}, {56, 183, 80, 20});
    m_count =
        MakeEdit(g, QStringLiteral("编辑框16"), QStringLiteral("1"), {176, 183, 30, 20}, true);
    m_grade = MakeComboBox(g, QStringLiteral("组合框1"),
                           {QStringLiteral("白"), QStringLiteral("绿"), QStringLiteral("蓝"),
                            QStringLiteral("紫"), QStringLiteral("橙"), QStringLiteral("红")},
                           {267, 183, 45, 20});
    m_bind = MakeComboBox(g, QStringLiteral("组合框2"),
                          {QStringLiteral("不绑"), QStringLiteral("绑定")}, {344, 183, 45, 20});
    m_useLevel =
        MakeEdit(g, QStringLiteral("编辑框17"), QStringLiteral("1"), {447, 183, 25, 20}, true);
    m_equipment = MakeCheckBox(
        g, QStringLiteral("选择框6"),
        QStringLiteral("是否装备 强化等级：                         （先加列表再发，否则没物品）"),
        {10, 210, 462, 16});
    QStringList levels;
    for (int i = 0; i <= 10; ++i)
        levels << QStringLiteral("+%1").arg(i);
    levels << QStringLiteral("+MAX");
    m_enhance = MakeComboBox(g, QStringLiteral("组合框3"), levels, {144, 208, 45, 20});
    auto* add =
        MakeButton(g, QStringLiteral("按钮6"), QStringLiteral("先加入物品表"), {200, 208, 88, 20});
    auto* help =
        MakeButton(g, QStringLiteral("按钮10"), QStringLiteral("使用帮助Help"), {184, 235, 88, 20});
    MakeLabel(g, QStringLiteral("标签18"), QStringLiteral("邮件物品表：（最多6件物品）"),
              {8, 238, 168, 16});
    m_items = new ReportView(QStringLiteral("超级列表框5"),
                             {{QStringLiteral("tid"), 35},
                              {QStringLiteral("物品名称"), 125},
                              {QStringLiteral("code"), 0}},
                             g);
    m_items->setGeometry(8, 256, 168, 144);
    // One entry leaves the table by the Delete key or the list's menu.
    m_removeItem = new QAction(Text(kRemoveMailItemAction), m_items);
    m_removeItem->setObjectName(QStringLiteral("删除选中物品"));
    m_removeItem->setShortcut(QKeySequence::Delete);
    m_removeItem->setShortcutContext(Qt::WidgetShortcut);
    m_items->addAction(m_removeItem);
    m_itemMenu = new QMenu(this);
    m_itemMenu->setObjectName(QStringLiteral("物品表菜单"));
    m_itemMenu->addAction(m_removeItem);
    connect(m_removeItem, &QAction::triggered, this, &MailPage::RemoveMailItem);
    const auto showItemMenu = [this](const QPoint& globalPos) {
        if (m_itemMenu->isVisible())
            return;
        m_removeItem->setEnabled(m_items->Selection() != -1);
        m_itemMenu->popup(globalPos);
    };
    connect(m_items, &ReportView::RightClicked, this, showItemMenu);
    connect(m_items, &ReportView::KeyboardMenuRequested, this, showItemMenu);
    auto* hint =
        MakeLabel(g, QStringLiteral("标签20"),
                  QStringLiteral("存档可快速发放套装等物品！方便快捷！"), {185, 258, 88, 40});
    hint->setWordWrap(true);
    m_saveArchive =
        MakeButton(g, QStringLiteral("按钮7"), QStringLiteral("加入存档 >>"), {184, 298, 88, 24});
    m_deleteArchive =
        MakeButton(g, QStringLiteral("按钮8"), QStringLiteral("删除存档 ×"), {184, 324, 88, 24});
    auto* clear =
        MakeButton(g, QStringLiteral("按钮9"), QStringLiteral("< 清空物品表"), {184, 350, 88, 24});
    m_send =
        MakeButton(g, QStringLiteral("按钮5"), QStringLiteral("发送邮件 √"), {184, 376, 88, 24});
    MakeLabel(g, QStringLiteral("标签19"), QStringLiteral("邮件数据存档表：（双击加载）"),
              {280, 238, 192, 16});
    m_archives =
        new ReportView(QStringLiteral("超级列表框6"),
                       {{QStringLiteral("tid"), 35}, {QStringLiteral("存档名称"), 135}}, g);
    m_archives->setGeometry(280, 256, 192, 144);
    // The sent-mail view and the limits' settings sit on the group box's title line, between
    // its caption and the search results, as flat buttons that read like the caption.
    const auto titleButton = [g](const char* name, const char* text, QRect rect) {
        auto* button = new QToolButton(g);
        button->setObjectName(QString::fromUtf8(name));
        button->setText(Text(text));
        button->setAutoRaise(true);
        button->setGeometry(rect);
        return button;
    };
    auto* sentMail = titleButton("发件记录按钮", kSentMailButton, {200, 0, 54, 15});
    auto* settings = titleButton("邮件设置按钮", kMailSettingsButton, {254, 0, 30, 15});
    auto* zonesMail = titleButton("多区服发送按钮", kZonesMailButton, {284, 0, 100, 15});
    // Extra room goes to the search results (and the content box beside them); the search
    // controls stay under the results, and the rows below move down as one block, the
    // archive list only taking the extra width.
    std::vector<GrowingControl> growth = {{g, Growth::RightAndDown},
                                          {m_searchResult, Growth::RightAndDown},
                                          {m_content, Growth::Down},
                                          {searchLabel, Growth::MoveDown},
                                          {m_searchQuery, Growth::MoveDown | Growth::Right},
                                          {m_searchStatus, Growth::MoveDown},
                                          {m_searchButton, Growth::MoveDown | Growth::MoveRight},
                                          {m_archives, Growth::MoveDown | Growth::Right}};
    constexpr int kLowerRowsTop = 160;
    for (QObject* child : g->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget != m_archives && widget->geometry().top() >= kLowerRowsTop)
            growth.push_back({widget, Growth::MoveDown});
    }
    DeclareGrowth(growth);

    connect(m_lookup, &QPushButton::clicked, this, &MailPage::LookupRoleByAccount);
    connect(add, &QPushButton::clicked, this, &MailPage::AddMailItem);
    connect(clear, &QPushButton::clicked, this, &MailPage::ClearMailItems);
    connect(m_send, &QPushButton::clicked, this, &MailPage::SendMail);
    connect(zonesMail, &QToolButton::clicked, this, &MailPage::SendToZones);
    connect(help, &QPushButton::clicked, this, &MailPage::ShowMailHelp);
    connect(m_saveArchive, &QPushButton::clicked, this, &MailPage::AddArchive);
    connect(m_deleteArchive, &QPushButton::clicked, this, &MailPage::DeleteArchive);
    connect(m_searchButton, &QPushButton::clicked, this, &MailPage::SearchItemLibrary);
    connect(m_searchQuery, &QLineEdit::returnPressed, this, &MailPage::SearchItemLibrary);
    connect(m_archives, &QAbstractItemView::doubleClicked, this, [this] {
        const int row = m_archives->Selection();
        if (row != -1)
            LoadArchive(row);
    });
    connect(sentMail, &QToolButton::clicked, this, &MailPage::ShowSentMail);
    connect(settings, &QToolButton::clicked, this, &MailPage::ShowMailSettings);
    connect(m_searchResult, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) {
                QMenu* menu = m_searchResult->createStandardContextMenu(position);
                menu->setObjectName(QStringLiteral("物品结果菜单"));
                menu->setAttribute(Qt::WA_DeleteOnClose);
                QAction* pick = new QAction(Text(kPickItemAction), menu);
                pick->setObjectName(QStringLiteral("加入附件"));
                const QPoint at = m_searchResult->viewport()->mapFrom(m_searchResult, position);
                connect(pick, &QAction::triggered, this, [this, at] { PickResultLine(at); });
                menu->insertAction(menu->actions().value(0), pick);
                menu->insertSeparator(menu->actions().value(1));
                menu->popup(m_searchResult->mapToGlobal(position));
            });
}

MailPage::~MailPage() = default;

bool MailPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_searchResult->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        PickResultLine(static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
    }
    return Page::eventFilter(watched, event);
}

void MailPage::resizeEvent(QResizeEvent* event)
{
    Page::resizeEvent(event);
    // The boxes have moved with the window: so do their echoes.
    for (const std::function<void()>& update : m_moneyEchoes)
        update();
}

bool MailPage::PickResultLine(const QPoint& position)
{
    const QString line = m_searchResult->cursorForPosition(position).block().text();
    const std::optional<ResultLineItem> item = ParseResultLine(Std(line));
    if (!item)
        return false;
    m_pickedId = QString::fromStdString(item->id);
    m_pickedName = QString::fromStdString(item->name);
    m_itemId->setText(m_pickedId);
    m_count->setFocus(Qt::OtherFocusReason);
    m_count->selectAll();
    return true;
}

void MailPage::SetReceiver(const QString& roleId)
{
    ClearReceiverChoice();
    m_roleId->setText(roleId);
}

void MailPage::ChooseReceivers(ReceiverChoice choice)
{
    m_chosen = std::move(choice);
    // The box names the choice; typing is off until it is cleared.
    m_roleId->setText(m_chosen->description);
    m_roleId->setReadOnly(true);
    m_clearReceivers->setVisible(true);
}

void MailPage::ClearReceiverChoice()
{
    if (!m_chosen)
        return;
    m_chosen.reset();
    m_roleId->clear();
    m_roleId->setReadOnly(false);
    m_clearReceivers->setVisible(false);
}

void MailPage::SetZone(const ZoneMark& zone)
{
    m_zone = zone;
}

void MailPage::ClearZoneData()
{
    // A role id or a choice of receivers of the zone left is no receiver in the next one.
    ClearReceiverChoice();
    m_roleId->clear();
}

MessageAnswer MailPage::Tell(const MessageRequest& request)
{
    return m_dialogs.Show(this, InZone(request, m_zone));
}

void MailPage::ResetCombos()
{
    m_grade->setCurrentIndex(0);
    m_bind->setCurrentIndex(0);
    m_enhance->setCurrentIndex(0);
}

void MailPage::Warn(const char* text)
{
    m_dialogs.Message(this, Text(text), Text(kCheckTitle), MessageIcon::Warning,
                      MessageButtons::Ok);
}

void MailPage::WarnTooLarge(const char* boxName)
{
    m_dialogs.Message(this, Text(kNumberTooLargeText).arg(Text(boxName)), Text(kCheckTitle),
                      MessageIcon::Warning, MessageButtons::Ok);
}

void MailPage::LookupRoleByAccount()
{
    ClearReceiverChoice();
    RunAccountLookup(m_worker, m_dialogs, m_account, m_roleId);
}

void MailPage::AddMailItem()
{
    MailItemFields fields;
    fields.days = Std(m_days->text());
    fields.itemId = Std(m_itemId->text());
    fields.count = Std(m_count->text());
    fields.useLevel = Std(m_useLevel->text());
    fields.grade = m_grade->currentIndex();
    fields.bind = m_bind->currentIndex();
    fields.equipment = m_equipment->isChecked();
    fields.enhance = m_enhance->currentIndex();

    switch (CheckMailItemFields(fields)) {
    case MailItemCheck::Incomplete:
        Warn(kMailItemIncompleteText);
        return;
    case MailItemCheck::Negative:
        Warn(kNegativeNumberText);
        return;
    case MailItemCheck::Forbidden:
        Warn(kForbiddenCharText);
        return;
    case MailItemCheck::CountTooLarge:
        WarnTooLarge(kCountBoxName);
        return;
    case MailItemCheck::UseLevelTooLarge:
        WarnTooLarge(kUseLevelBoxName);
        return;
    case MailItemCheck::DaysTooLarge:
        WarnTooLarge(kDaysBoxName);
        return;
    case MailItemCheck::Ok:
        break;
    }
    if (m_items->RowCount() >= kMaxMailItems) {
        Warn(kMailItemsFullText);
        return;
    }
    const std::string code = AttachmentJson(fields, m_clock());
    const QString itemId = QString::fromStdString(RemoveAllSpaces(fields.itemId));
    const auto askName = [this, code](const QString& initial) {
        const std::optional<QString> name =
            m_dialogs.Input(this, Text(kItemNamePrompt), Text(kItemNameTitle), initial);
        if (!name)
            return;
        switch (CheckItemName(Std(*name))) {
        case ItemNameCheck::Empty:
            Warn(kInputErrorText);
            return;
        case ItemNameCheck::Forbidden:
            Warn(kForbiddenCharText);
            return;
        case ItemNameCheck::Ok:
            break;
        }
        // The table may have filled while the name was looked up.
        if (m_items->RowCount() >= kMaxMailItems) {
            Warn(kMailItemsFullText);
            return;
        }
        TextTableModel& model = m_items->Model();
        const int row = model.AppendRow();
        model.SetCell(row, ColumnIndex(MailItemColumn::Tid), std::to_string(row + 1));
        model.SetCell(row, ColumnIndex(MailItemColumn::Name), RemoveAllSpaces(Std(*name)));
        model.SetCell(row, ColumnIndex(MailItemColumn::Code), code);
    };
    // The name of an item taken from the search, else the catalogue's name for the id (read
    // off the window's thread: the first read of a large catalogue takes a while), else the id.
    if (!m_pickedId.isEmpty() && itemId == m_pickedId) {
        askName(m_pickedName);
        return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(m_cataloguePath, error)) {
        askName(itemId);
        return;
    }
    RunInBackground(
        this,
        [catalogue = m_cataloguePath, id = Std(itemId)] {
            const auto names = CatalogueItemNames(catalogue, {id});
            return names && names->front() ? QString::fromStdString(*names->front()) : QString();
        },
        [askName, itemId](const QString& name) { askName(name.isEmpty() ? itemId : name); });
}

void MailPage::ClearMailItems()
{
    m_items->DeleteAll();
}

void MailPage::RemoveMailItem()
{
    const int selected = m_items->Selection();
    if (selected == -1)
        return;
    const TextTableModel& items = m_items->Model();
    std::vector<TextTableModel::Row> rows;
    for (int row = 0; row < items.RowCount(); ++row) {
        if (row == selected)
            continue;
        // The tid column counts the rows as they stand, as after loading an archive.
        rows.push_back({std::to_string(rows.size() + 1),
                        items.Cell(row, ColumnIndex(MailItemColumn::Name)),
                        items.Cell(row, ColumnIndex(MailItemColumn::Code))});
    }
    m_items->Model().ResetRows(std::move(rows));
    // The row that moved up takes the selection, so Delete can go on removing.
    m_items->SetSelection(std::min(selected, m_items->RowCount() - 1));
}

void MailPage::SetDatabaseWorkEnabled(bool enabled)
{
    m_lookup->setEnabled(enabled);
    m_send->setEnabled(enabled && !m_sending);
}

MailFields MailPage::PageFields(std::vector<std::string>& codes) const
{
    MailFields fields;
    fields.roleId = Std(m_roleId->text());
    fields.title = Std(m_title->text());
    fields.content = Std(m_content->toPlainText());
    fields.copper = Std(m_money->text());
    fields.yuanbao = Std(m_yuanbao->text());
    const TextTableModel& items = m_items->Model();
    for (int row = 0; row < items.RowCount(); ++row)
        codes.push_back(items.Cell(row, ColumnIndex(MailItemColumn::Code)));
    return fields;
}

void MailPage::SendMail()
{
    if (m_sending || m_worker.Busy())
        return;
    std::vector<std::string> codes;
    const MailFields fields = PageFields(codes);

    // The fields are checked once, here; what goes on is the checked mail.
    if (m_chosen) {
        const MailCheck check = CheckMailFields(fields, codes, ReceiverSource::Later);
        if (ReportRefusal(check.result))
            return;
        ConfirmItemsThen(*check.mail, [this, choice = *m_chosen](const CheckedMail& mail) {
            AskAndSend(mail, choice);
        });
        return;
    }
    const MailCheck check = CheckMailFields(fields, codes);
    if (ReportRefusal(check.result))
        return;
    ConfirmItemsThen(*check.mail, [this](const CheckedMail& mail) {
        // One role keeps its one-click road unless an amount reaches the operator's limit.
        if (mail.Receivers().size() == 1 && !Limits().Reached(mail.Copper(), mail.Yuanbao())) {
            SendCheckedMail(mail);
            return;
        }
        ReceiverChoice typed;
        typed.ids = mail.Receivers();
        AskAndSend(mail, typed);
    });
}

void MailPage::SendCheckedMail(const CheckedMail& mail)
{
    struct Sent
    {
        SendMailResult result = SendMailResult::Failed;
        std::vector<std::string> unknownIds;
        DbError error;
    };
    BeginSending();
    // The look-up after a lost answer may wait up to two minutes for the server: its progress
    // is shown once it starts, and its cancel leaves the outcome unknown.
    const std::atomic<bool>* cancel = &m_worker.CancelFlag();
    const auto checking = [cancel, worker = &m_worker, self = QPointer<QObject>(this),
                           started = std::optional<std::chrono::steady_clock::time_point>(),
                           shown = -1]() mutable {
        const auto now = std::chrono::steady_clock::now();
        started = started.value_or(now);
        const int seconds = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(now - *started).count());
        if (seconds != shown) {
            shown = seconds;
            worker->PostToWindow(self, [self, seconds] {
                static_cast<MailPage*>(self.data())->ShowCheckProgress(seconds);
            });
        }
        return !cancel->load();
    };
    m_worker.Run(
        this,
        [mail, now = m_clock(), observer = AuditObserver(mail), checking](DbConnection& db) {
            Sent sent;
            // Every receiver is looked up first: an id that is no role is refused, nothing
            // is sent.
            const std::optional<std::vector<std::string>> unknown =
                UnknownRoleIds(db, mail.Receivers());
            if (!unknown) {
                sent.error = DbError::Of(db);
                return sent;
            }
            if (!unknown->empty()) {
                sent.unknownIds = *unknown;
                return sent;
            }
            // The row's own error: a look-up after a lost answer runs statements of its own.
            std::optional<DbError> rowError;
            const auto observe = [&](const MailRowOutcome& row) {
                if (row.errorNumber != 0)
                    rowError = DbError{row.errorNumber, row.error};
                observer(row);
            };
            sent.result = mrvn::SendMail(db, mail, now, observe, checking);
            if (sent.result != SendMailResult::Sent && (rowError || db.LastError() != 0))
                sent.error = rowError.value_or(DbError::Of(db));
            return sent;
        },
        [this](Sent sent) {
            if (m_checkProgress) {
                // Closing a progress dialog says "canceled": the check is over.
                disconnect(m_checkProgress.data(), nullptr, this, nullptr);
                m_checkProgress->close();
                delete m_checkProgress.data();
            }
            EndSending();
            if (!sent.unknownIds.empty()) {
                ReportUnknownRoles(sent.unknownIds);
                return;
            }
            if (ReportRefusal(sent.result))
                return;
            switch (sent.result) {
            case SendMailResult::Sent:
                Tell({Text(kMailSentText), Text(kMailTitle), MessageIcon::Information,
                      MessageButtons::Ok});
                return;
            case SendMailResult::Unknown:
                Tell({Text(kMailUnknownText), Text(kMailTitle), MessageIcon::Warning,
                      MessageButtons::Ok, ServerReason(sent.error)});
                return;
            default:
                break;
            }
            // Without a connection there is no server reason to show.
            const QString reason = sent.error.number != 0 ? ServerReason(sent.error) : QString();
            Tell({Text(kMailFailedText), Text(kMailTitle), MessageIcon::Error, MessageButtons::Ok,
                  reason});
        });
}

void MailPage::ShowCheckProgress(int seconds)
{
    if (!m_checkProgress) {
        m_checkProgress = new QProgressDialog(Text(kMailCheckProgressText), Text(kManyCancelButton),
                                              0, kLostMailCheckSeconds, this);
        m_checkProgress->setObjectName(QStringLiteral("核对进度"));
        m_checkProgress->setWindowTitle(Text(kMailTitle));
        m_checkProgress->setWindowModality(Qt::WindowModal);
        m_checkProgress->setMinimumDuration(0);
        m_checkProgress->setAutoClose(false);
        m_checkProgress->setAutoReset(false);
        connect(m_checkProgress.data(), &QProgressDialog::canceled, this,
                [this] { m_worker.Cancel(); });
    }
    m_checkProgress->setValue(seconds);
}

void MailPage::BeginSending()
{
    m_sending = true;
    m_send->setEnabled(false);
}

void MailPage::EndSending()
{
    m_sending = false;
    m_send->setEnabled(!m_worker.Busy());
    emit SendingFinished();
}

MailRowObserver MailPage::AuditObserver(const CheckedMail& checked)
{
    MailAuditRecord mail;
    mail.zone = m_zone.audit;
    mail.title = checked.Fields().title;
    mail.content = checked.Fields().content;
    mail.copper = checked.Copper();
    mail.yuanbao = checked.Yuanbao();
    // Each entry as the attachments column holds it.
    for (const std::string& code : checked.Codes())
        mail.attachments.push_back(ReadLiteralText(code));
    // Runs on the database thread: the line is written as soon as the row's outcome is
    // known, also when the window closes meanwhile; a failure is told on the window's thread.
    return [mail, logPath = m_audit.LogPath(), worker = &m_worker, self = QPointer<QObject>(this),
            audit = &m_audit](const MailRowOutcome& row) mutable {
        mail.receiver = row.roleId;
        mail.id = row.id;
        mail.createMs = row.createMs;
        mail.sent = row.inserted;
        mail.checked = row.checked;
        mail.unknown = row.unknown;
        mail.errorNumber = row.errorNumber;
        mail.error = row.error;
        const AuditResult result = AuditMailSend(logPath, mail);
        if (!result) {
            worker->PostToWindow(self, [self, audit, result] {
                audit->ReportFailure(static_cast<QWidget*>(self.data()), result);
            });
        }
    };
}

void MailPage::ReportUnknownRoles(const std::vector<std::string>& ids)
{
    QStringList texts;
    for (const std::string& id : ids)
        texts << QString::fromStdString(id);
    Tell({Text(kMailUnknownRoleText).arg(texts.join(QLatin1Char(','))), Text(kCheckTitle),
          MessageIcon::Warning, MessageButtons::Ok});
}

bool MailPage::ReportRefusal(SendMailResult result)
{
    switch (result) {
    case SendMailResult::Incomplete:
        Warn(kMailIncompleteText);
        return true;
    case SendMailResult::CopperTooLarge:
        WarnTooLarge(kCopperBoxName);
        return true;
    case SendMailResult::YuanbaoTooLarge:
        WarnTooLarge(kYuanbaoBoxName);
        return true;
    case SendMailResult::ControlChar:
        Warn(kMailControlCharText);
        return true;
    case SendMailResult::Negative:
        Warn(kNegativeNumberText);
        return true;
    case SendMailResult::BadAttachments:
        Warn(kMailBadAttachmentsText);
        return true;
    case SendMailResult::DuplicateRole:
        Warn(kMailDuplicateRoleText);
        return true;
    case SendMailResult::Sent:
    case SendMailResult::Failed:
    case SendMailResult::Unknown:
        break;
    }
    return false;
}

void MailPage::ShowMailHelp()
{
    m_dialogs.Message(this, Text(kMailHelpText), Text(kMailHelpTitle), MessageIcon::None,
                      MessageButtons::Ok);
}

void MailPage::RefreshArchiveList()
{
    std::vector<TextTableModel::Row> rows;
    int tid = 0;
    for (std::string& name : ReadArchiveNames(m_config))
        rows.push_back({std::to_string(++tid), name});
    m_archives->Model().ResetRows(std::move(rows));
}

void MailPage::AddArchive()
{
    const std::optional<QString> typed =
        m_dialogs.Input(this, Text(kArchiveNamePrompt), Text(kArchiveNameTitle), QString());
    if (!typed)
        return;
    ArchiveContent page;
    page.title = Std(m_title->text());
    page.content = Std(m_content->toPlainText());
    page.money = Std(m_money->text());
    page.yuanbao = Std(m_yuanbao->text());
    const TextTableModel& items = m_items->Model();
    for (int row = 0; row < items.RowCount(); ++row)
        page.items.push_back({items.Cell(row, ColumnIndex(MailItemColumn::Name)),
                              items.Cell(row, ColumnIndex(MailItemColumn::Code))});

    BeginArchiveWrite();
    RunInBackground(
        ConfigWrites(), this,
        [config = m_config, name = Std(*typed), page]() mutable {
            return mrvn::AddArchive(config, name, page);
        },
        [this](AddArchiveResult result) {
            EndArchiveWrite();
            switch (result) {
            case AddArchiveResult::Forbidden:
                Warn(kForbiddenCharText);
                return;
            case AddArchiveResult::NotGbk:
                Warn(kArchiveNotGbkText);
                return;
            case AddArchiveResult::Empty:
                Warn(kInputErrorText);
                return;
            case AddArchiveResult::Reserved:
                Warn(kArchiveReservedText);
                return;
            case AddArchiveResult::Duplicate:
                Warn(kArchiveDuplicateText);
                return;
            case AddArchiveResult::ListFull:
                Warn(kArchiveListFullText);
                return;
            case AddArchiveResult::WriteFailed:
                Warn(kArchiveWriteFailedText);
                break;
            case AddArchiveResult::Added:
                break;
            }
            RefreshArchiveList();
        });
}

// config.dat is written on ConfigWrites()'s thread: the archive buttons wait for the write,
// so the operator sees that it has not ended yet (another copy of the tool may hold the file).
void MailPage::BeginArchiveWrite()
{
    ++m_archiveWrites;
    m_saveArchive->setEnabled(false);
    m_deleteArchive->setEnabled(false);
}

void MailPage::EndArchiveWrite()
{
    const bool idle = --m_archiveWrites == 0;
    m_saveArchive->setEnabled(idle);
    m_deleteArchive->setEnabled(idle);
}

void MailPage::DeleteArchive()
{
    const int row = m_archives->Selection();
    if (row == -1)
        return;
    const std::string name = m_archives->Model().Cell(row, ColumnIndex(ArchiveColumn::Name));
    const MessageRequest question{Text(kDeleteArchiveQuestion),
                                  Text(kDeleteConfirmTitle),
                                  MessageIcon::Question,
                                  MessageButtons::YesNoDefaultNo,
                                  QString(),
                                  Text(kDeleteArchiveName).arg(QString::fromStdString(name))};
    if (m_dialogs.Show(this, question) != MessageAnswer::Yes)
        return;
    // By name: the row may stand elsewhere in config.dat by now, if another copy of the tool
    // changed the list. A name without an archive of its own (reserved, from a hand-edited
    // list) just leaves the list, as the refresh shows.
    BeginArchiveWrite();
    RunInBackground(
        ConfigWrites(), this,
        [config = m_config, name]() mutable { return mrvn::DeleteArchive(config, name); },
        [this](DeleteArchiveResult result) {
            EndArchiveWrite();
            if (result == DeleteArchiveResult::WriteFailed)
                Warn(kArchiveWriteFailedText);
            RefreshArchiveList();
        });
}

void MailPage::LoadArchive(int row)
{
    const ArchiveContent archive = mrvn::LoadArchive(
        m_config, m_archives->Model().Cell(row, ColumnIndex(ArchiveColumn::Name)));
    m_items->DeleteAll();
    m_title->setText(QString::fromStdString(archive.title));
    m_content->setPlainText(QString::fromStdString(archive.content));
    m_money->setText(QString::fromStdString(archive.money));
    m_yuanbao->setText(QString::fromStdString(archive.yuanbao));
    std::vector<TextTableModel::Row> rows;
    int tid = 0;
    for (const ArchiveItem& item : archive.items)
        rows.push_back({std::to_string(++tid), item.name, item.code});
    m_items->Model().ResetRows(std::move(rows));
}

bool MailPage::SearchItemLibrary()
{
    if (m_searchRunning)
        return false;
    const std::filesystem::path catalogue = m_cataloguePath;
    std::error_code error;
    if (!std::filesystem::is_regular_file(catalogue, error)) {
        m_dialogs.Message(this, Text(kCatalogueMissingText), Text(kCatalogueErrorTitle),
                          MessageIcon::Error, MessageButtons::Ok);
        return false;
    }
    m_searchRunning = true;
    // A disabled button hands its focus on to the next control, the copper box; the
    // operator goes on in the query box instead.
    if (m_searchButton->hasFocus())
        m_searchQuery->setFocus();
    m_searchButton->setEnabled(false);
    m_searchStatus->setText(Text(kSearchStatusRunning));
    m_searchResult->clear();

    // The scan runs on a pool thread so the window stays usable on a large catalogue; it takes
    // its own copies of what it reads, and the result comes back on the window's thread.
    const std::string query = Std(m_searchQuery->text());
    RunInBackground(
        this,
        [catalogue, query] {
            const ItemSearchResult result = mrvn::SearchItemLibrary(catalogue, query);
            SearchShown shown;
            // The lines are joined by CR LF; the text box keeps its lines apart by LF.
            shown.text = QString::fromStdString(ReplaceAll(result.text, "\r\n", "\n"));
            shown.matches = result.matches;
            // The operator learns that lines were left out, and how many, where they end.
            if (result.shown < result.matches)
                shown.text +=
                    QLatin1Char('\n') +
                    Text(kSearchResultCut).arg(result.shown).arg(result.matches - result.shown);
            return shown;
        },
        [this](const SearchShown& shown) { ShowSearchResult(shown); });
    return true;
}

void MailPage::ShowSearchResult(const SearchShown& result)
{
    m_pendingResult = result.text;
    m_pendingMatches = result.matches;
    m_pendingOffset = 0;
    m_searchResult->clear();
    AppendResultChunk();
}

void MailPage::AppendResultChunk()
{
    // A result that lists the whole catalogue is tens of megabytes: it goes into the box a
    // chunk of bounded size at a time, with the window's events handled in between, so it
    // never freezes; a line longer than a chunk is cut inside.
    constexpr std::size_t kChunk = 200000;
    const std::u16string_view pending(
        reinterpret_cast<const char16_t*>(m_pendingResult.constData()),
        static_cast<std::size_t>(m_pendingResult.size()));
    const auto end = static_cast<qsizetype>(
        NextChunkEnd(pending, static_cast<std::size_t>(m_pendingOffset), kChunk));
    QTextCursor cursor(m_searchResult->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_pendingResult.mid(m_pendingOffset, end - m_pendingOffset));
    m_pendingOffset = end;
    if (m_pendingOffset < m_pendingResult.size()) {
        QTimer::singleShot(0, this, &MailPage::AppendResultChunk);
        return;
    }
    m_pendingResult.clear();
    m_searchResult->moveCursor(QTextCursor::Start);
    m_searchStatus->setText(Text(kSearchStatusDone) + QLatin1Char('\n') +
                            Text(kSearchFoundCount).arg(m_pendingMatches));
    m_searchButton->setEnabled(true);
    m_searchRunning = false;
    emit SearchFinished();
}

} // namespace mrvn
