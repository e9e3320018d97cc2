#include "AppTestSupport.h"
#include "CaseRows.h"
#include "ModelTesterFindings.h"
#include "Platform.h"
#include "TestDb.h"

#include "DemoData.h"
#include "app/CommonPage.h"
#include "app/ReportView.h"
#include "app/RoleListChange.h"
#include "app/RoleListProxy.h"
#include "db/RoleList.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <algorithm>

namespace mrvn::test {
namespace {

constexpr int kName = ColumnIndex(RoleColumn::Name);
constexpr int kLevel = ColumnIndex(RoleColumn::Level);
constexpr int kPower = ColumnIndex(RoleColumn::BattlePower);
constexpr int kRoleId = ColumnIndex(RoleColumn::RoleId);

struct Role
{
    std::string id;
    std::string name;
    std::string level;
    std::string power;
    bool online = false;
};

RoleRows Rows(const std::vector<Role>& roles)
{
    RoleRows rows;
    for (const Role& role : roles) {
        RoleRow row(kRoleListColumns);
        row.Set(ColumnIndex(RoleColumn::Online), role.online ? "在线" : " - ");
        row.Set(kName, role.name);
        row.Set(kLevel, role.level);
        row.Set(kPower, role.power);
        row.Set(ColumnIndex(RoleColumn::OnlineTime), role.level + "分");
        row.Set(kRoleId, role.id);
        rows.push_back(std::move(row));
    }
    return rows;
}

// Five roles in the query's order: online first in ascending id, then descending id.
std::vector<Role> FiveRoles()
{
    return {{"3", "张三", "9", "500", true},
            {"7", "李四", "100", "70", true},
            {"9", "王五", "10", "9000", false},
            {"5", "Zed", "", "600", false},
            {"1", "zhao", "55", "", false}};
}

class RoleListView : public WindowTest
{
protected:
    // The window on its first page, shown and active, so keys and shortcuts arrive.
    CommonPage& Page()
    {
        MainWindow& window = Started();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        return *FindIn<CommonPage>(window, "常用功能");
    }

    ReportView& View() { return *FindIn<ReportView>(Window(), "超级列表框4"); }

    std::vector<std::string> Column(int column)
    {
        std::vector<std::string> cells;
        for (int row = 0; row < View().RowCount(); ++row)
            cells.push_back(View().Cell(row, column).toStdString());
        return cells;
    }
    std::vector<std::string> Ids() { return Column(kRoleId); }

    void ClickHeader(int column)
    {
        QHeaderView* header = View().header();
        View().horizontalScrollBar()->setValue(
            std::max(0, header->sectionPosition(column) - header->sectionSize(column)));
        QCoreApplication::processEvents();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        ASSERT_EQ(header->logicalIndexAt(at), column);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    void CloseMenu()
    {
        FindIn<QMenu>(FindIn<CommonPage>(Window(), "常用功能"), "角色列表菜单")->close();
        QCoreApplication::processEvents();
    }
};

TEST_F(RoleListView, HeaderClicksSortAndASecondClickReverses)
{
    MRVN_SKIP_WITHOUT_PINYIN_COLLATION();
    CommonPage& page = Page();
    ModelTesterFindings findings;
    QAbstractItemModelTester tester(FindIn<RoleListProxy>(page, "角色列表筛选"),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    page.ShowRoles(Rows(FiveRoles()));
    EXPECT_EQ(Ids(), (std::vector<std::string>{"3", "7", "9", "5", "1"}));

    struct Step
    {
        const char* what;
        int column;
        std::vector<std::string> ids;
    };
    const Step steps[] = {
        {"level ascending, empty first", kLevel, {"5", "3", "9", "1", "7"}},
        {"level descending", kLevel, {"7", "1", "9", "3", "5"}},
        // A new column starts ascending even after a descending one. Chinese collation puts
        // the Chinese names first, in pinyin (li, wang, zhang), then the Latin ones.
        {"name ascending", kName, {"7", "9", "3", "5", "1"}},
        {"name descending", kName, {"1", "5", "3", "9", "7"}},
        {"battle power ascending", kPower, {"1", "7", "3", "5", "9"}},
        {"online minutes ascending",
         ColumnIndex(RoleColumn::OnlineTime),
         {"5", "3", "9", "1", "7"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ClickHeader(step.column);
        EXPECT_EQ(Ids(), step.ids);
    }
    EXPECT_TRUE(findings.Findings().isEmpty()) << findings.Findings().join(u'\n').toStdString();
}

// Both ways in: rows shown as they are, and the database thread's difference.
TEST_F(RoleListView, ARefreshKeepsTheOrderAndTheSelection)
{
    CommonPage& page = Page();
    for (const bool difference : {false, true}) {
        SCOPED_TRACE(difference ? "difference" : "rows");
        RoleListKeeper keeper;
        const auto show = [&](const std::vector<Role>& roles) {
            if (difference)
                page.ShowRoles(keeper.Change(Rows(roles), page.ShownRoleListVersion()));
            else
                page.ShowRoles(Rows(roles));
        };
        ClickHeader(kLevel);
        show(FiveRoles());
        ClickHeader(kPower);
        ClickHeader(kPower);
        ASSERT_EQ(Ids(), (std::vector<std::string>{"9", "5", "3", "7", "1"}));
        // Roles 5 and 7 selected, 7 last clicked.
        View().SetSelectedRows({1, 3}, 3);

        std::vector<Role> next = FiveRoles();
        next[2].power = "1"; // role 9 falls to the bottom
        next.erase(next.begin() + 4);
        next.push_back({"11", "新人", "1", "800", false});
        std::swap(next[0], next[1]); // role 7 moves
        show(next);

        EXPECT_EQ(Ids(), (std::vector<std::string>{"11", "5", "3", "7", "9"}));
        std::vector<std::string> selected;
        for (const int row : View().SelectedRows())
            selected.push_back(View().Cell(row, kRoleId).toStdString());
        EXPECT_EQ(selected, (std::vector<std::string>{"5", "7"}));
        EXPECT_EQ(View().Cell(View().Selection(), kRoleId), QStringLiteral("7"));
        EXPECT_EQ(View().header()->sortIndicatorSection(), kPower);
        EXPECT_EQ(View().header()->sortIndicatorOrder(), Qt::DescendingOrder);
    }
}

TEST_F(RoleListView, FilterNarrowsByNameOrIdAndSurvivesARefresh)
{
    CommonPage& page = Page();
    page.ShowRoles(Rows(FiveRoles()));
    EXPECT_FALSE(FindIn<QFrame>(page, "角色筛选栏")->isVisible());
    View().setFocus();
    QTest::keyClick(&View(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(FindIn<QFrame>(page, "角色筛选栏")->isVisible());
    EXPECT_TRUE(FindIn<QLineEdit>(page, "角色筛选框")->hasFocus());
    EXPECT_EQ(FindIn<QLabel>(page, "角色筛选计数")->text(), QStringLiteral("显示 5 / 5"));
    // The filter line lies inside the list; nothing designed moves.
    EXPECT_TRUE(View().rect().contains(FindIn<QFrame>(page, "角色筛选栏")->geometry()));
    EXPECT_EQ(View().geometry(), QRect(8, 16, 464, 208));

    QTest::keyClicks(FindIn<QLineEdit>(page, "角色筛选框"), QStringLiteral("Z"));
    EXPECT_EQ(Ids(), (std::vector<std::string>{"5", "1"}));
    EXPECT_EQ(FindIn<QLabel>(page, "角色筛选计数")->text(), QStringLiteral("显示 2 / 5"));

    FindIn<QLineEdit>(page, "角色筛选框")->setText(QStringLiteral("7"));
    EXPECT_EQ(Ids(), (std::vector<std::string>{"7"}));

    // The minute's refresh brings more roles; the filter stays and the count follows.
    std::vector<Role> next = FiveRoles();
    next.push_back({"17", "七", "1", "1", false});
    next.push_back({"27", "八", "1", "1", false});
    page.ShowRoles(Rows(next));
    EXPECT_EQ(Ids(), (std::vector<std::string>{"7", "17", "27"}));
    EXPECT_EQ(FindIn<QLabel>(page, "角色筛选计数")->text(), QStringLiteral("显示 3 / 7"));
    EXPECT_EQ(FindIn<QLineEdit>(page, "角色筛选框")->text(), QStringLiteral("7"));

    QTest::keyClick(FindIn<QLineEdit>(page, "角色筛选框"), Qt::Key_Escape);
    EXPECT_FALSE(FindIn<QFrame>(page, "角色筛选栏")->isVisible());
    EXPECT_TRUE(FindIn<QLineEdit>(page, "角色筛选框")->text().isEmpty());
    EXPECT_EQ(View().RowCount(), 7);

    // The menu item opens the same line.
    page.PrepareRoleListMenu();
    FindIn<QAction>(page, "筛选角色")->trigger();
    EXPECT_TRUE(FindIn<QFrame>(page, "角色筛选栏")->isVisible());
}

TEST_F(RoleListView, CtrlCCopiesTheSelectedRowsWithAHeaderAndTheHiddenId)
{
    CommonPage& page = Page();
    std::vector<Role> roles = FiveRoles();
    roles[2].name = "王\t五";
    page.ShowRoles(Rows(roles));
    ClickHeader(kLevel);
    ASSERT_EQ(Ids(), (std::vector<std::string>{"5", "3", "9", "1", "7"}));
    View().SetSelectedRows({4, 2});
    View().setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&View(), Qt::Key_C, Qt::ControlModifier);

    const QString header =
        QStringLiteral("在线\t名称\t等级\t铜钱\t元宝\t礼金\t经验\t职业\t灵气\t战力\t"
                       "登陆次数\t登陆时长\t创建时间\t离线时间\troleid\taccount\n");
    const QString nine = QStringLiteral(" - \t王 五\t10\t\t\t\t\t\t\t9000\t\t10分\t\t\t9\t\n");
    const QString seven = QStringLiteral("在线\t李四\t100\t\t\t\t\t\t\t70\t\t100分\t\t\t7\t\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), header + nine + seven);

    // With nothing selected the clipboard keeps what it had.
    View().SetSelection(-1);
    QTest::keyClick(&View(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), header + nine + seven);
}

TEST_F(RoleListView, ExportWritesTheRowsShownAsCsv)
{
    CommonPage& page = Page();
    std::vector<Role> roles = FiveRoles();
    roles[0].name = "say \"hi\"";
    roles[1].name = "a,b";
    roles[2].name = "two\nlines";
    page.ShowRoles(Rows(roles));
    ClickHeader(kLevel);
    ClickHeader(kLevel);
    FindIn<QLineEdit>(page, "角色筛选框")->setText(QStringLiteral("a")); // "say", "a,b", "zhao"
    ASSERT_EQ(Ids(), (std::vector<std::string>{"7", "1", "3"}));

    const QString file = QString::fromStdString((Folder() / "roles.csv").string());
    dialogs.savePaths = {file};
    page.PrepareRoleListMenu();
    ASSERT_TRUE(FindIn<QAction>(page, "导出角色列表")->isEnabled());
    FindIn<QAction>(page, "导出角色列表")->trigger();

    ASSERT_EQ(dialogs.saveAsked.size(), 1u);
    EXPECT_EQ(dialogs.saveAsked[0].title, QStringLiteral("导出角色列表"));
    EXPECT_EQ(dialogs.saveAsked[0].filter, QStringLiteral("CSV 文件 (*.csv)"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    // Where and how many, under the first line.
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("导出完成！\r\n共导出 3 行，文件：") + QDir::toNativeSeparators(file));
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    // Closed before the export below replaces it: Windows cannot replace an open file.
    csv.close();
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "在线,名称,等级,铜钱,元宝,礼金,经验,职业,灵气,战力,登陆次数,登陆时长,创建时间,离线时间,"
        "roleid,account\r\n"
        "在线,\"a,b\",100,,,,,,,70,,100分,,,7,\r\n"
        " - ,zhao,55,,,,,,,,,55分,,,1,\r\n"
        "在线,\"say \"\"hi\"\"\",9,,,,,,,500,,9分,,,3,\r\n";
    EXPECT_EQ(bytes, expected);

    // Without a filter every role goes out, the line break kept inside its quotes.
    FindIn<QLineEdit>(page, "角色筛选框")->clear();
    dialogs.savePaths = {file};
    FindIn<QAction>(page, "导出角色列表")->trigger();
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray all = csv.readAll();
    EXPECT_EQ(all.count("\r\n"), 6);
    EXPECT_TRUE(all.contains(",\"two\nlines\",10,"));

    // A cancelled dialog writes nothing and says nothing; a folder that is not there fails.
    dialogs.messages.clear();
    FindIn<QAction>(page, "导出角色列表")->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    dialogs.savePaths = {QString::fromStdString((Folder() / "missing" / "x.csv").string())};
    FindIn<QAction>(page, "导出角色列表")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("导出失败！"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(dialogs.messages[0].details.isEmpty());
}

TEST(SpreadsheetSafeCell, NeutralisesWhatASpreadsheetWouldRun)
{
    struct Case
    {
        const char* cell;
        bool numericColumn;
        const char* expected;
    };
    const Case cases[] = {
        {"=HYPERLINK(\"http://x\",\"y\")", false, "'=HYPERLINK(\"http://x\",\"y\")"},
        {"+1", false, "'+1"},
        {"-2", false, "'-2"},
        {"@x", false, "'@x"},
        {"\tx", false, "'\tx"},
        {"\rx", false, "'\rx"},
        {"a=b", false, "a=b"},
        {"", false, ""},
        {" =1", false, " =1"},
        // In a column of numbers a number stays one; anything else there is a text.
        {"-2", true, "-2"},
        {"-0.5", true, "-0.5"},
        {"12", true, "12"},
        {"-", true, "'-"},
        {"-1+1", true, "'-1+1"},
        {"-1.", true, "'-1."},
        {"+1", true, "'+1"},
        {"=1", true, "'=1"},
    };
    ForEachRow(cases, &Case::cell, [](const Case& c) {
        EXPECT_EQ(SpreadsheetSafeCell(QString::fromUtf8(c.cell), c.numericColumn),
                  QString::fromUtf8(c.expected));
    });
}

TEST_F(RoleListView, FormulaCellsAreNeutralisedInTheCsvAndTheClipboard)
{
    CommonPage& page = Page();
    page.ShowRoles(Rows({{"1", "=1+1", "-3", "-40", false}, {"2", "@SUM(A1)", "5", "+6", false}}));
    ASSERT_EQ(Ids(), (std::vector<std::string>{"1", "2"}));

    const QString file = QString::fromStdString((Folder() / "roles.csv").string());
    dialogs.savePaths = {file};
    page.PrepareRoleListMenu();
    FindIn<QAction>(page, "导出角色列表")->trigger();
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[1], QByteArray(" - ,'=1+1,-3,,,,,,,-40,,'-3分,,,1,\r"));
    EXPECT_EQ(lines[2], QByteArray(" - ,'@SUM(A1),5,,,,,,,'+6,,5分,,,2,\r"));

    View().SetSelectedRows({0, 1});
    View().setFocus();
    QTest::keyClick(&View(), Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = QGuiApplication::clipboard()->text().split(u'\n');
    ASSERT_GE(copied.size(), 3);
    EXPECT_EQ(copied[1], QStringLiteral(" - \t'=1+1\t-3\t\t\t\t\t\t\t-40\t\t'-3分\t\t\t1\t"));
    EXPECT_EQ(copied[2], QStringLiteral(" - \t'@SUM(A1)\t5\t\t\t\t\t\t\t'+6\t\t5分\t\t\t2\t"));
}

TEST_F(RoleListView, MenuKeyAndShiftF10OpenTheMenuOnTheSelectedRow)
{
    CommonPage& page = Page();
    page.ShowRoles(Rows(FiveRoles()));
    QMenu* menu = FindIn<QMenu>(page, "角色列表菜单");
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().first(), FindIn<QAction>(page, "发送在线邮件"));

    struct Case
    {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int row;
    };
    for (const Case c : {Case{"menu key", Qt::Key_Menu, {}, 2},
                         Case{"shift F10", Qt::Key_F10, Qt::ShiftModifier, 4}}) {
        SCOPED_TRACE(c.what);
        View().SetSelection(c.row);
        View().setFocus();
        QTest::keyClick(&View(), c.key, c.modifiers);
        ASSERT_TRUE(menu->isVisible());
        EXPECT_TRUE(FindIn<QAction>(page, "发送在线邮件")->isEnabled());
        // The menu's mail goes to the row it was opened on.
        QSignalSpy sent(&page, &CommonPage::SendMailToRole);
        FindIn<QAction>(page, "发送在线邮件")->trigger();
        ASSERT_EQ(sent.size(), 1);
        EXPECT_EQ(sent[0][0].toString(), View().Cell(c.row, kRoleId));
        FindIn<QTabWidget>(Window(), "选择夹1")->setCurrentIndex(0);
        const QRect row = View().visualRect(View().model()->index(c.row, kName));
        const QPoint rowTop = View().viewport()->mapToGlobal(row.topLeft());
        EXPECT_GE(menu->pos().y(), rowTop.y());
        EXPECT_LE(menu->pos().y(), rowTop.y() + row.height());
        CloseMenu();
    }

    View().SetSelection(-1);
    QTest::keyClick(&View(), Qt::Key_Menu);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_FALSE(FindIn<QAction>(page, "发送在线邮件")->isEnabled());
    EXPECT_FALSE(FindIn<QAction>(page, "发送给选中的角色")->isEnabled());
    CloseMenu();
}

TEST_F(RoleListView, SendToSelectedAndToEveryOnlineRoleFillTheReceiverBox)
{
    CommonPage& page = Page();
    std::vector<Role> roles = FiveRoles();
    roles[4].online = true;
    page.ShowRoles(Rows(roles));
    ClickHeader(kPower);
    ASSERT_EQ(Ids(), (std::vector<std::string>{"1", "7", "3", "5", "9"}));
    // The filter hides role 3; the online items still count it.
    FindIn<QLineEdit>(page, "角色筛选框")->setText(QStringLiteral("z"));
    View().SetSelectedRows({0, 1});
    ASSERT_EQ(Ids(), (std::vector<std::string>{"1", "5"}));

    page.PrepareRoleListMenu();
    ASSERT_TRUE(FindIn<QAction>(page, "发送给选中的角色")->isEnabled());
    FindIn<QAction>(page, "发送给选中的角色")->trigger();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QStringLiteral("1,5"));
    EXPECT_EQ(FindIn<QTabWidget>(Window(), "选择夹1")->currentIndex(), 1);

    FindIn<QTabWidget>(Window(), "选择夹1")->setCurrentIndex(0);
    page.PrepareRoleListMenu();
    ASSERT_TRUE(FindIn<QAction>(page, "发送给全部在线角色")->isEnabled());
    FindIn<QAction>(page, "发送给全部在线角色")->trigger();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QStringLiteral("3,7,1"));
    EXPECT_EQ(FindIn<QTabWidget>(Window(), "选择夹1")->currentIndex(), 1);

    // No one online: the item is greyed out.
    page.ShowRoles(Rows({{"4", "x", "1", "1", false}}));
    page.PrepareRoleListMenu();
    EXPECT_FALSE(FindIn<QAction>(page, "发送给全部在线角色")->isEnabled());
}

// The same road over the demo database and the window's own refresh.
class RoleListDatabase : public RoleListView
{
protected:
    ScratchDatabase m_db;
};

TEST_F(RoleListDatabase, SortedFilteredListSurvivesTheTimersRefresh)
{
    demo::DemoOptions options;
    options.roles = 300;
    options.logRowsPerTable = 10;
    ASSERT_TRUE(demo::FillDemoData(m_db.Db(), options));
    CommonPage& page = Page();
    const ConnectParams params = m_db.Params();
    ConnectThroughTheWindow(params);
    ASSERT_EQ(View().RowCount(), 300);

    ClickHeader(kLevel);
    ClickHeader(kLevel);
    const auto levels = [this] {
        std::vector<long long> values;
        for (const std::string& cell : Column(kLevel))
            values.push_back(std::stoll(cell));
        return values;
    };
    std::vector<long long> shown = levels();
    EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend()));
    View().SetSelection(10);
    const QString selectedId = View().Cell(10, kRoleId);

    m_db.Exec("UPDATE user_role SET level = 500 WHERE id = " + selectedId.toStdString());
    FindIn<QTimer>(Window(), "时钟1")->start(10);
    ASSERT_TRUE(WaitFor([&] { return View().Cell(0, kRoleId) == selectedId; }));
    FindIn<QTimer>(Window(), "时钟1")->stop();
    shown = levels();
    EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend()));
    EXPECT_EQ(View().Selection(), 0);

    FindIn<QLineEdit>(page, "角色筛选框")->setText(selectedId);
    EXPECT_EQ(Ids(), std::vector<std::string>{selectedId.toStdString()});
    FindIn<QTimer>(Window(), "时钟1")->start(10);
    QTest::qWait(200);
    FindIn<QTimer>(Window(), "时钟1")->stop();
    EXPECT_EQ(Ids(), std::vector<std::string>{selectedId.toStdString()});
    EXPECT_EQ(FindIn<QLabel>(page, "角色筛选计数")->text(), QStringLiteral("显示 1 / 300"));

    // The account the role belongs to narrows the list to that account's roles, in any case.
    const std::string account =
        m_db.Scalar("SELECT user_id FROM user_role GROUP BY user_id HAVING COUNT(*) > 1 LIMIT 1");
    ASSERT_FALSE(account.empty());
    FindIn<QLineEdit>(page, "角色筛选框")->setText(QString::fromStdString(account).toUpper());
    std::vector<std::string> ids = Ids();
    std::sort(ids.begin(), ids.end());
    std::vector<std::string> expected;
    const QString listed = QString::fromStdString(m_db.Scalar(
        "SELECT GROUP_CONCAT(id) FROM user_role WHERE user_id LIKE '%" + account + "%'"));
    for (const QString& id : listed.split(QLatin1Char(',')))
        expected.push_back(id.toStdString());
    std::sort(expected.begin(), expected.end());
    EXPECT_GT(expected.size(), 1u);
    EXPECT_EQ(ids, expected);
}

} // namespace
} // namespace mrvn::test
