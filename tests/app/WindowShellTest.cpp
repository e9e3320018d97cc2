#include "AppTestSupport.h"

#include "app/Application.h"
#include "app/ReportView.h"

#include <QComboBox>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <map>
#include <set>

namespace mrvn::test {
namespace {

using WindowShell = WindowTest;

// The controls a page's focus chain visits, in order, starting at `first`.
QStringList FocusChain(QWidget* first, const QStringList& names)
{
    QStringList visited;
    QWidget* widget = first;
    do {
        if (names.contains(widget->objectName()) && !visited.contains(widget->objectName()))
            visited << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget && widget != first);
    return visited;
}

TEST_F(WindowShell, TabFollowsTheReadingOrderOfEveryPage)
{
    struct Case
    {
        int page;
        std::vector<const char*> order;
    };
    const Case cases[] = {
        {0,
         {"编辑框2", "编辑框3", "编辑框4", "编辑框5", "编辑框6", "按钮1", "超级列表框2",
          "超级列表框4"}},
        {1,
         {"编辑框20",    "编辑框9",  "按钮4",    "编辑框10", "编辑框11", "编辑框12", "编辑框19",
          "按钮11",      "编辑框13", "编辑框14", "编辑框18", "编辑框15", "编辑框16", "组合框1",
          "组合框2",     "编辑框17", "选择框6",  "组合框3",  "按钮6",    "按钮10",   "超级列表框5",
          "超级列表框6", "按钮7",    "按钮8",    "按钮9",    "按钮5"}},
        {2,
         {"超级列表框1", "编辑框1", "选择框1", "选择框2", "选择框3", "编辑框7", "编辑框8", "按钮3",
          "按钮2"}},
    };
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const Case& c : cases) {
        SCOPED_TRACE(FindIn<QTabWidget>(window, "选择夹1")->tabText(c.page).toStdString());
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(c.page);
        QStringList expected;
        for (const char* name : c.order)
            expected << QString::fromUtf8(name);
        QWidget* first = Find<QWidget>(c.order.front());
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(FocusChain(first, expected).join(QLatin1Char(' ')).toStdString(),
                  expected.join(QLatin1Char(' ')).toStdString());
    }
    // The real key: from the host box, Tab reaches the port box, then the user box.
    FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(0);
    window.activateWindow();
    Find<QWidget>("编辑框2")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("编辑框3"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("编辑框4"));
}

// Where every named control of every page stands, relative to the tab control.
std::map<QString, QRect> Positions(MainWindow& window)
{
    std::map<QString, QRect> positions;
    for (int page = 0; page < FindIn<QTabWidget>(window, "选择夹1")->count(); ++page) {
        for (QWidget* widget :
             FindIn<QTabWidget>(window, "选择夹1")->widget(page)->findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            if (name.isEmpty() || name.startsWith(QStringLiteral("qt_")) ||
                qobject_cast<ReportView*>(widget->parentWidget()))
                continue;
            positions[name] = QRect(
                widget->mapTo(FindIn<QTabWidget>(window, "选择夹1"), QPoint(0, 0)), widget->size());
        }
    }
    return positions;
}

void ShowEveryPage(MainWindow& window)
{
    const int current = FindIn<QTabWidget>(window, "选择夹1")->currentIndex();
    for (int page = 0; page < FindIn<QTabWidget>(window, "选择夹1")->count(); ++page) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(page);
        QCoreApplication::processEvents();
    }
    FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(current);
    QCoreApplication::processEvents();
}

TEST_F(WindowShell, EnlargingGrowsTheListsAndLeavesEverythingElse)
{
    // Without the version check a second after start: on a slow machine its question (answered
    // No) would close the window in the middle of the test.
    MainWindow& window = StartedWithoutVersionCheck();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ShowEveryPage(window);
    const std::map<QString, QRect> before = Positions(window);
    ASSERT_GT(before.size(), 60u);

    const QSize grown(204, 152);
    window.resize(window.size() + grown);
    // The pages take their new size as they are shown, from the event loop: on a slow machine
    // that takes more than one round.
    const QString box2 = QStringLiteral("分组框2");
    EXPECT_TRUE(WaitFor([&] {
        ShowEveryPage(window);
        return Positions(window).at(box2).size() == before.at(box2).size() + grown;
    }));
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->size(), QSize(496, 448) + grown);
    const std::map<QString, QRect> after = Positions(window);

    struct Growing
    {
        const char* name;
        bool right;
        bool down;
        bool movesRight = false;
        bool movesDown = false;
    };
    const Growing growing[] = {
        {"分组框4", true, true},
        {"超级列表框4", true, true},
        {"分组框2", true, true},
        {"编辑框20", true, true},
        {"编辑框12", false, true},
        {"编辑框19", true, false, false, true},
        {"按钮11", false, false, true, true},
        {"超级列表框6", true, false, false, true},
        {"超级列表框1", true, true},
        {"编辑框21", true, true},
    };
    std::set<QString> growingNames;
    for (const Growing& g : growing) {
        const QString name = QString::fromUtf8(g.name);
        SCOPED_TRACE(g.name);
        growingNames.insert(name);
        ASSERT_TRUE(before.count(name) && after.count(name));
        const QRect was = before.at(name);
        const QRect now = after.at(name);
        EXPECT_EQ(now.topLeft(), was.topLeft() + QPoint(g.movesRight ? grown.width() : 0,
                                                        g.movesDown ? grown.height() : 0));
        EXPECT_EQ(now.width(), was.width() + (g.right ? grown.width() : 0));
        EXPECT_EQ(now.height(), was.height() + (g.down ? grown.height() : 0));
    }
    // Everything else keeps its size; only the blocks beside a growing box move with it: the
    // mail page's rows below the search results (and the search's own captions) move down,
    // the cleanup page's options stay at the right of its table.
    std::set<QString> movedDown = {QStringLiteral("标签21"), QStringLiteral("标签22")};
    const int lowerRows = before.at(QStringLiteral("分组框2")).top() + 160;
    for (QWidget* widget : FindIn<QWidget>(window, "分组框2")->findChildren<QWidget*>()) {
        const auto at = before.find(widget->objectName());
        if (at != before.end() && at->second.top() >= lowerRows)
            movedDown.insert(at->first);
    }
    std::set<QString> movedRight;
    for (QWidget* widget : FindIn<QWidget>(window, "清理数据")->findChildren<QWidget*>())
        movedRight.insert(widget->objectName());
    for (const auto& [name, rect] : before) {
        if (growingNames.count(name) || name.startsWith(QStringLiteral("角色筛选")))
            continue;
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(after.count(name));
        EXPECT_EQ(after.at(name), rect.translated(movedRight.count(name) ? grown.width() : 0,
                                                  movedDown.count(name) ? grown.height() : 0));
    }

    // Back to the designed size, everything is where it was; smaller is refused.
    window.resize(200, 100);
    EXPECT_TRUE(WaitFor([&] {
        ShowEveryPage(window);
        return Positions(window) == before;
    }));
    EXPECT_EQ(window.size(), QSize(496, 448));
}

TEST_F(WindowShell, SizePositionAndPageComeBackAfterARestart)
{
    {
        MainWindow& window = Started();
        EXPECT_EQ(window.size(), QSize(496, 448));
        EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->currentIndex(), 0);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.resize(640, 520);
        window.move(30, 40);
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(2);
        QCoreApplication::processEvents();
        ASSERT_TRUE(window.close());
    }
    EXPECT_TRUE(std::filesystem::exists(Folder() / "window.ini"));
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));

    const std::unique_ptr<MainWindow> again = CreateMainWindow(Environment());
    ASSERT_TRUE(again->OnMainWindowCreated());
    EXPECT_EQ(again->size(), QSize(640, 520));
    EXPECT_EQ(again->pos(), QPoint(30, 40));
    EXPECT_EQ(FindIn<QTabWidget>(*again, "选择夹1")->currentIndex(), 2);
    again->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(again.get()));
    EXPECT_EQ(Find<QWidget>("超级列表框1")->height(), 400 + 520 - 448);
}

TEST_F(WindowShell, AStoredSizeBelowTheDesignAndAMissingPageAreIgnored)
{
    {
        QSettings state(QString::fromStdString((Folder() / "window.ini").string()),
                        QSettings::IniFormat);
        state.setValue(QStringLiteral("window/size"), QSize(100, 50));
        state.setValue(QStringLiteral("window/page"), 9);
    }
    MainWindow& window = Started();
    EXPECT_EQ(window.size(), QSize(496, 448));
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->currentIndex(), 0);
}

// Message boxes say 是 / 否 / 确定 / 取消 with Qt's own Chinese translation.
TEST(StandardButtons, SpeakChinese)
{
    const QString file =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
    ASSERT_TRUE(QFile::exists(file))
        << file.toStdString() << " is missing: install the package qt6-translations-l10n";
    PrepareApplication(*qApp);
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok |
                           QMessageBox::Cancel);
    const std::pair<QMessageBox::StandardButton, const char*> cases[] = {
        {QMessageBox::Yes, "是"},
        {QMessageBox::No, "否"},
        {QMessageBox::Ok, "确定"},
        {QMessageBox::Cancel, "取消"},
    };
    for (const auto& [button, text] : cases) {
        SCOPED_TRACE(text);
        // The mnemonic part, "(&Y)", is not what the operator reads.
        QString shown = box.button(button)->text();
        shown.remove(QRegularExpression(QStringLiteral("\\(&.\\)|&")));
        EXPECT_EQ(shown.toStdString(), text);
    }
}

} // namespace
} // namespace mrvn::test
