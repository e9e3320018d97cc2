#include "AppTestSupport.h"
#include "ModelTesterFindings.h"

#include "app/CommonPage.h"
#include "app/ReportView.h"
#include "app/StartupDialog.h"
#include "config/ConfigFile.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <fstream>

namespace mrvn::test {
namespace {

using Layout = WindowTest;

// Where a control lands, measured from the top-left corner of the tab control (tab strip
// included), or from its group box for the controls inside one.
QRect DesignedRect(QWidget* control, QWidget* tabs)
{
    QWidget* parent = control->parentWidget();
    if (qobject_cast<QGroupBox*>(parent))
        return control->geometry();
    return QRect(control->mapTo(tabs, QPoint(0, 0)), control->size());
}

TEST_F(Layout, EveryPageControlStandsWhereDesigned)
{
    MainWindow& window = Window();
    window.show();
    for (int page = 0; page < FindIn<QTabWidget>(window, "选择夹1")->count(); ++page) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(page);
        QCoreApplication::processEvents();
    }
    struct Case
    {
        const char* name;
        int page;
        QRect rect;
    };
    const Case cases[] = {
        {"分组框1", 0, {8, 32, 480, 88}},         {"标签7", 0, {8, 124, 480, 16}},
        {"超级列表框2", 0, {8, 144, 480, 45}},    {"分组框4", 0, {8, 200, 480, 232}},
        {"编辑框2", 0, {64, 21, 112, 20}},        {"编辑框3", 0, {217, 21, 48, 20}},
        {"编辑框5", 0, {400, 21, 72, 20}},        {"按钮1", 0, {392, 48, 80, 32}},
        {"超级列表框4", 0, {8, 16, 464, 208}},    {"分组框2", 1, {8, 32, 480, 408}},
        {"编辑框20", 1, {285, 13, 192, 96}},      {"编辑框13", 1, {41, 160, 79, 20}},
        {"组合框3", 1, {144, 208, 45, 20}},       {"按钮5", 1, {184, 376, 88, 24}},
        {"超级列表框6", 1, {280, 256, 192, 144}}, {"超级列表框1", 2, {8, 32, 312, 400}},
        {"编辑框1", 2, {424, 29, 40, 16}},        {"分组框3", 2, {320, 128, 174, 104}},
        {"按钮3", 2, {64, 59, 104, 20}},          {"标签2", 2, {320, 320, 176, 112}},
        {"编辑框21", 4, {8, 32, 480, 392}},       {"区服选择框", 0, {217, 0, 135, 19}},
        {"按钮区服", 0, {392, 0, 80, 19}},
    };
    for (const Case& c : cases) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(c.page);
        QCoreApplication::processEvents();
        auto* control = Find<QWidget>(c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(DesignedRect(control, FindIn<QTabWidget>(window, "选择夹1")), c.rect) << c.name;
    }
    // The first control of a page (y = 32) sits just below the tab strip.
    EXPECT_LE(FindIn<QTabWidget>(window, "选择夹1")->tabBar()->height(), 32);
    EXPECT_EQ(window.size(), QSize(496, 448));
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("MorvaneOL 数据工具 1.5 [20140629]  -  by Tobrel"));
}

TEST_F(Layout, TheZoneStripRunsBesideTheTabsAndCoversNothing)
{
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* tabs = FindIn<QTabWidget>(window, "选择夹1");
    auto* strip = Find<QLabel>("区服色条");
    for (const QSize grown : {QSize(0, 0), QSize(204, 152)}) {
        SCOPED_TRACE(grown.width());
        window.resize(QSize(496, 448) + grown);
        QCoreApplication::processEvents();
        const QRect at(strip->mapTo(tabs, QPoint(0, 0)), strip->size());
        const QRect tabStrip(tabs->tabBar()->mapTo(tabs, QPoint(0, 0)), tabs->tabBar()->size());
        // From just after the last tab to the right edge.
        const int tabsEnd = tabStrip.left() + tabs->tabBar()->sizeHint().width();
        EXPECT_GT(at.left(), tabsEnd);
        EXPECT_LE(at.left(), tabsEnd + 16);
        EXPECT_EQ(at.right(), tabs->width() - 1);
        // Above the first designed control of every page (y = 32), and readable.
        EXPECT_LT(at.bottom(), 32);
        EXPECT_GE(at.height(), 16);
        EXPECT_EQ(strip->text(), QStringLiteral("默认区服"));
    }
}

// ---- The enlarged window ----------------------------------------------------------------

// The tab control's growth beyond its designed size in these tests.
constexpr QSize kGrown(204, 152);

// Where a control of a page stands, relative to its group box or else to the tab control.
QRect PlacedRect(MainWindow& window, int page, const char* name)
{
    auto* tabs = FindIn<QTabWidget>(window, "选择夹1");
    tabs->setCurrentIndex(page);
    QCoreApplication::processEvents();
    auto* control = FindIn<QWidget>(tabs->widget(page), name);
    return control ? DesignedRect(control, tabs) : QRect();
}

TEST_F(Layout, AnEnlargedWindowGivesItsRoomToTheLongContent)
{
    // How each control follows the growth: moved right/down, wider/taller, by all of it.
    struct Case
    {
        const char* name;
        int page;
        bool right, down, wider, taller;
    };
    const Case cases[] = {
        {"编辑框20", 1, false, false, true, true},  // the search results
        {"编辑框12", 1, false, false, false, true}, // the mail content beside them
        {"编辑框19", 1, false, true, true, false},  // the query, under the results
        {"标签22", 1, false, true, false, false},      {"按钮11", 1, true, true, false, false},
        {"标签15", 1, false, true, false, false}, // the rows below move as a block
        {"超级列表框5", 1, false, true, false, false}, {"按钮5", 1, false, true, false, false},
        {"超级列表框6", 1, false, true, true, false}, // the archives: width only
        {"超级列表框1", 2, false, false, true, true}, // the cleanup table
        {"分组框3", 2, true, false, false, false},    // and the options beside it
        {"按钮2", 2, true, false, false, false},       {"标签2", 2, true, false, false, false},
        {"编辑框21", 4, false, false, true, true}, // the change log
        {"超级列表框4", 0, false, false, true, true},
    };
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    std::vector<QRect> designed;
    for (const Case& c : cases)
        designed.push_back(PlacedRect(window, c.page, c.name));
    window.resize(window.size() + kGrown);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        QRect expected = designed[i];
        expected.translate(c.right ? kGrown.width() : 0, c.down ? kGrown.height() : 0);
        expected.setWidth(expected.width() + (c.wider ? kGrown.width() : 0));
        expected.setHeight(expected.height() + (c.taller ? kGrown.height() : 0));
        EXPECT_EQ(PlacedRect(window, c.page, c.name), expected);
    }
}

// No table name and no result is cut, at the design size too: the names are whole, the
// results take the rest of the width or, when that is too little, as much as they need and
// the list scrolls sideways.
TEST_F(Layout, TheCleanupTableShowsWholeNamesAndResults)
{
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(2);
    auto* tables = Find<ReportView>("超级列表框1");
    std::vector<std::vector<std::string>> rows;
    for (const char* name : {"role_email", "server_real_time_total_data", "user_role"})
        rows.push_back({std::to_string(rows.size() + 1), name, "影响行数：0"});
    tables->Model().ResetRows({rows.begin(), rows.end()});
    struct Case
    {
        const char* what;
        QSize grown;
        const char* result; // written into the middle row
    };
    for (const Case c : {Case{"designed size", {0, 0}, "影响行数：0"},
                         Case{"a long result", {0, 0}, "影响行数：175000（已取消）"},
                         Case{"enlarged", kGrown, "影响行数：175000（已取消）"},
                         Case{"back to the design", {0, 0}, "影响行数：0"}}) {
        SCOPED_TRACE(c.what);
        window.resize(QSize(496, 448) + c.grown);
        tables->Model().SetCell(1, 2, c.result);
        QCoreApplication::processEvents();
        const QFontMetrics metrics = tables->fontMetrics();
        const int room = tables->viewport()->width();
        EXPECT_GT(tables->columnWidth(1),
                  metrics.horizontalAdvance(QStringLiteral("server_real_time_total_data")));
        EXPECT_GT(tables->columnWidth(2), metrics.horizontalAdvance(QString::fromUtf8(c.result)));
        const int total = tables->columnWidth(0) + tables->columnWidth(1) + tables->columnWidth(2);
        // The room is filled; more only when the texts need it, and then the list scrolls.
        EXPECT_GE(total, room);
        if (total > room) {
            EXPECT_TRUE(WaitFor([&] { return tables->horizontalScrollBar()->maximum() > 0; }))
                << total << " > " << room;
        }
    }
}

TEST_F(Layout, TheRoleFilterNeverCoversTheScrollBarsOrTheLastRow)
{
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    CommonPage* page = FindIn<CommonPage>(window, "常用功能");
    std::vector<std::vector<std::string>> rows(60, std::vector<std::string>(16, "1"));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i][14] = std::to_string(i + 1);
    page->ShowRoles({rows.begin(), rows.end()});
    auto* view = Find<ReportView>("超级列表框4");
    for (const QSize grown : {QSize(0, 0), kGrown}) {
        SCOPED_TRACE(grown.width());
        window.resize(QSize(496, 448) + grown);
        page->ShowRoleFilter();
        QCoreApplication::processEvents();
        auto* bar = Find<QFrame>("角色筛选栏");
        ASSERT_TRUE(bar->isVisible());
        const QRect barRect(bar->mapTo(view, QPoint(0, 0)), bar->size());
        EXPECT_TRUE(view->rect().contains(barRect));
        for (QWidget* scrollBar : {static_cast<QWidget*>(view->verticalScrollBar()),
                                   static_cast<QWidget*>(view->horizontalScrollBar())}) {
            ASSERT_TRUE(scrollBar->isVisible());
            const QRect scrollRect(scrollBar->mapTo(view, QPoint(0, 0)), scrollBar->size());
            EXPECT_FALSE(barRect.intersects(scrollRect))
                << "bar " << barRect.x() << "," << barRect.y() << " " << barRect.width() << "x"
                << barRect.height() << " scroll bar " << scrollRect.x() << "," << scrollRect.y();
        }
        // Scrolled to the end, the last row stands above the bar.
        view->ScrollIntoView(view->RowCount() - 1);
        QCoreApplication::processEvents();
        const QRect last = view->visualRect(view->model()->index(view->RowCount() - 1, 1));
        const QRect lastRect(view->viewport()->mapTo(view, last.topLeft()), last.size());
        EXPECT_LE(lastRect.bottom(), barRect.top() - 1);
        page->HideRoleFilter();
        QCoreApplication::processEvents();
        // Without the bar the rows take the room back.
        EXPECT_EQ(view->viewport()->geometry().bottom() + 1,
                  view->horizontalScrollBar()->mapTo(view, QPoint(0, 0)).y());
    }
}

TEST_F(Layout, AnAscendingColumnShowsItsArrowPointingUp)
{
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QHeaderView* header = Find<ReportView>("超级列表框4")->header();
    const int section = 1;
    const QRect rect(header->sectionViewportPosition(section), 0, header->sectionSize(section),
                     header->height());
    const auto render = [&](int column, Qt::SortOrder order) {
        header->setSortIndicator(column, order);
        return header->grab(rect).toImage();
    };
    const QImage ascending = render(section, Qt::AscendingOrder);
    const QImage descending = render(section, Qt::DescendingOrder);
    ASSERT_EQ(ascending.size(), descending.size());
    // The arrow is where the two pictures differ (the texts are the same in both).
    QRect arrow;
    for (int y = 0; y < ascending.height(); ++y) {
        for (int x = 0; x < ascending.width(); ++x) {
            if (ascending.pixel(x, y) != descending.pixel(x, y))
                arrow |= QRect(x, y, 1, 1);
        }
    }
    ASSERT_GT(arrow.height(), 1) << "no arrow drawn";
    struct Case
    {
        const char* what;
        const QImage& shown;
        bool pointsUp;
    };
    for (const Case& c :
         {Case{"ascending", ascending, true}, Case{"descending", descending, false}}) {
        SCOPED_TRACE(c.what);
        // A triangle has more of its ink on the side of its base; the middle row counts for
        // neither half.
        int upper = 0, lower = 0;
        for (int y = arrow.top(); y <= arrow.bottom(); ++y) {
            int ink = 0;
            for (int x = arrow.left(); x <= arrow.right(); ++x)
                ink += 255 - qGray(c.shown.pixel(x, y));
            const int twice = 2 * (y - arrow.top());
            if (twice != arrow.height() - 1)
                (twice < arrow.height() - 1 ? upper : lower) += ink;
        }
        EXPECT_EQ(lower > upper, c.pointsUp) << upper << " above, " << lower << " below";
    }
    header->setSortIndicator(-1, Qt::AscendingOrder);
}

// ---- Captions as the operator sees them -------------------------------------------------

// The font every caption was laid out for.
QString DesignFamily()
{
    return QFontDatabase::families().contains(QStringLiteral("SimSun"))
               ? QStringLiteral("SimSun")
               : QStringLiteral("WenQuanYi Zen Hei Mono");
}

bool IsColon(QChar ch)
{
    return ch == QChar(0xFF1A) || ch == QLatin1Char(':');
}

// One line of a caption: its text and the rectangle it is drawn from (left edge = start of
// the text), in the coordinates of the control's parent.
struct CaptionLine
{
    QString text;
    QRect rect;
};

std::vector<CaptionLine> CaptionLines(QWidget* control, QString& problem)
{
    std::vector<CaptionLine> lines;
    const QPoint origin = control->geometry().topLeft();
    const int pitch = control->fontInfo().pixelSize();
    if (auto* label = qobject_cast<QLabel*>(control)) {
        auto* design = qobject_cast<DesignLabel*>(label);
        if (!design) {
            problem = QStringLiteral("not drawn as designed (no DesignLabel)");
            return lines;
        }
        for (const DesignLabel::Line& line : design->LaidOutLines())
            lines.push_back({line.text, line.rect.translated(origin)});
        return lines;
    }
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect contents =
            box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        const int top = contents.top() + (contents.height() - pitch) / 2;
        lines.push_back(
            {box->text(), QRect(contents.left(), top, contents.width(), pitch).translated(origin)});
        return lines;
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int width = button->fontMetrics().horizontalAdvance(button->text());
        const int left = contents.left() + (contents.width() - width) / 2;
        const int top = contents.top() + (contents.height() - pitch) / 2;
        lines.push_back({button->text(), QRect(left, top, width, pitch).translated(origin)});
    }
    return lines;
}

// Siblings stacked above the control (created after it, or raised).
std::vector<QWidget*> SiblingsAbove(QWidget* control)
{
    std::vector<QWidget*> above;
    QWidget* parent = control->parentWidget();
    bool after = false;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == control)
            after = true;
        else if (after && widget && !widget->isHidden() && !widget->isWindow())
            above.push_back(widget);
    }
    return above;
}

// Every visible character of a caption must be readable: not under a control stacked above
// its own, and inside its own control. The designed layout lets a box or the control's edge
// take up to half of a "：" that ends a caption, and nothing more.
// Returns how many controls it looked at.
int ExpectCaptionsReadable(QWidget* root, const QString& where)
{
    const QString family = DesignFamily();
    QList<QWidget*> controls;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        // Every control draws in the design font, boxes, lists and their headers included.
        EXPECT_EQ(widget->fontInfo().family().toStdString(), family.toStdString())
            << where.toStdString() << " " << widget->metaObject()->className() << " "
            << widget->objectName().toStdString();
        EXPECT_EQ(widget->fontInfo().pixelSize(), 12)
            << where.toStdString() << " " << widget->objectName().toStdString();
        // A hidden overlay (the role filter line) is no caption of the designed layout.
        if (!widget->isVisibleTo(root))
            continue;
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget) ||
            qobject_cast<QPushButton*>(widget))
            controls << widget;
    }
    for (QWidget* control : controls) {
        const std::string name =
            (where + QStringLiteral(" ") + control->objectName()).toStdString();
        SCOPED_TRACE(name);
        EXPECT_EQ(control->fontInfo().family().toStdString(), family.toStdString());
        EXPECT_EQ(control->fontInfo().pixelSize(), 12);
        QString problem;
        const std::vector<CaptionLine> lines = CaptionLines(control, problem);
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        const QFontMetrics metrics = control->fontMetrics();
        const QRect own = control->geometry();
        const std::vector<QWidget*> above = SiblingsAbove(control);
        for (const CaptionLine& line : lines) {
            for (qsizetype i = 0; i < line.text.size(); ++i) {
                const QChar ch = line.text[i];
                if (ch.isSpace())
                    continue;
                const int left = line.rect.left() + metrics.horizontalAdvance(line.text.left(i));
                const int right =
                    line.rect.left() + metrics.horizontalAdvance(line.text.left(i + 1));
                const QRect glyph(QPoint(left, line.rect.top()),
                                  QPoint(right - 1, line.rect.bottom()));
                const bool endsCaption = i + 1 == line.text.size() || line.text[i + 1].isSpace();
                const int allowed = IsColon(ch) && endsCaption ? glyph.width() / 2 : 0;
                const std::string at = QStringLiteral("\"%1\" (char %2 of line \"%3\")")
                                           .arg(ch)
                                           .arg(i)
                                           .arg(line.text.trimmed())
                                           .toStdString();
                EXPECT_LE(std::max(0, right - own.right() - 1), allowed)
                    << at << " runs past the control's right edge " << own.right() + 1;
                EXPECT_LE(std::max(0, own.left() - left), allowed) << at << " starts left of it";
                EXPECT_LE(std::max(0, glyph.bottom() - own.bottom()), 0) << at << " below it";
                for (QWidget* sibling : above) {
                    const QRect covered = glyph.intersected(sibling->geometry());
                    if (covered.isEmpty())
                        continue;
                    EXPECT_LE(covered.width(), allowed)
                        << at << " is covered by " << sibling->objectName().toStdString();
                }
            }
        }
    }
    return static_cast<int>(controls.size());
}

TEST_F(Layout, EveryCaptionIsReadableInTheDesignFont)
{
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int checked = 0;
    for (int page = 0; page < FindIn<QTabWidget>(window, "选择夹1")->count(); ++page) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(page);
        QCoreApplication::processEvents();
        checked += ExpectCaptionsReadable(FindIn<QTabWidget>(window, "选择夹1")->widget(page),
                                          FindIn<QTabWidget>(window, "选择夹1")->tabText(page));
    }
    // Labels, check boxes and buttons of pages 0 to 3.
    EXPECT_GE(checked, 30);
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->tabBar()->fontInfo().family(), DesignFamily());
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->tabBar()->fontInfo().pixelSize(), 12);
    // The start-up dialog comes before the skin step; a window built after it gets the
    // design font as well.
    StartupDialog dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(ExpectCaptionsReadable(&dialog, QStringLiteral("启动初始化")), 4);
    dialog.findChild<QPushButton*>(QStringLiteral("按钮1"))->click();

    const std::unique_ptr<MainWindow> later = CreateMainWindow(Environment());
    ASSERT_TRUE(later->OnMainWindowCreated());
    later->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(later.get()));
    FindIn<QTabWidget>(*later, "选择夹1")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    ExpectCaptionsReadable(FindIn<QTabWidget>(*later, "选择夹1")->widget(1),
                           QStringLiteral("second window"));
}

TEST_F(Layout, PagesCaptionsAndDefaults)
{
    MainWindow& window = Window();
    const QStringList pages = {QStringLiteral("常用功能"), QStringLiteral("发放邮件"),
                               QStringLiteral("清理数据"), QStringLiteral("关于授权"),
                               QStringLiteral("更新说明")};
    ASSERT_EQ(FindIn<QTabWidget>(window, "选择夹1")->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i)
        EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->tabText(i), pages[i]);

    EXPECT_EQ(Find<QLineEdit>("编辑框5")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Find<QLabel>("标签4")->text(), QStringLiteral(" 连接状态：未连接"));
    EXPECT_EQ(Find<QLineEdit>("编辑框11")->text(), QStringLiteral("系统邮件"));
    EXPECT_EQ(Find<QPlainTextEdit>("编辑框12")->toPlainText(),
              QStringLiteral("系统邮件请勿回复！(内容不可用回车,空格)"));
    EXPECT_EQ(Find<QLineEdit>("编辑框1")->text(), QStringLiteral("3"));
    EXPECT_EQ(Find<QLabel>("标签22")->text(), QStringLiteral("查询状态：等待"));
    EXPECT_TRUE(Find<QPlainTextEdit>("编辑框21")
                    ->toPlainText()
                    .startsWith(QStringLiteral("v1.5 2014.06.29 更新日志：")));
    EXPECT_TRUE(Find<QPlainTextEdit>("编辑框21")
                    ->toPlainText()
                    .contains(QStringLiteral("v1.0 2014.06.27 更新日志：")));

    // Integer-only boxes refuse letters and minus signs; the others take anything.
    for (const char* name :
         {"编辑框3", "编辑框13", "编辑框14", "编辑框16", "编辑框17", "编辑框18", "编辑框1"}) {
        auto* edit = Find<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("-12a3"));
        EXPECT_EQ(edit->text(), QStringLiteral("123")) << name;
    }
    auto* itemId = Find<QLineEdit>("编辑框15");
    QTest::keyClicks(itemId, QStringLiteral("a1"));
    EXPECT_EQ(itemId->text(), QStringLiteral("a1"));

    const QStringList grades = {QStringLiteral("白"), QStringLiteral("绿"), QStringLiteral("蓝"),
                                QStringLiteral("紫"), QStringLiteral("橙"), QStringLiteral("红")};
    auto* grade = Find<QComboBox>("组合框1");
    ASSERT_EQ(grade->count(), grades.size());
    for (int i = 0; i < grades.size(); ++i)
        EXPECT_EQ(grade->itemText(i), grades[i]);
    auto* enhance = Find<QComboBox>("组合框3");
    ASSERT_EQ(enhance->count(), 12);
    EXPECT_EQ(enhance->itemText(0), QStringLiteral("+0"));
    EXPECT_EQ(enhance->itemText(10), QStringLiteral("+10"));
    EXPECT_EQ(enhance->itemText(11), QStringLiteral("+MAX"));
    EXPECT_EQ(Find<QComboBox>("组合框2")->count(), 2);
}

TEST_F(Layout, ListViewsHaveTheirColumnsAndHiddenIds)
{
    struct Case
    {
        const char* name;
        QStringList headers;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"超级列表框2",
         {QStringLiteral("今日创建角色"), QStringLiteral("今日登陆人数"),
          QStringLiteral("当前在线"), QStringLiteral("记录更新时间"), QStringLiteral("id")},
         {100, 100, 100, 160, 0}},
        {"超级列表框4",
         {QStringLiteral("在线"), QStringLiteral("名称"), QStringLiteral("等级"),
          QStringLiteral("铜钱"), QStringLiteral("元宝"), QStringLiteral("礼金"),
          QStringLiteral("经验"), QStringLiteral("职业"), QStringLiteral("灵气"),
          QStringLiteral("战力"), QStringLiteral("登陆次数"), QStringLiteral("登陆时长"),
          QStringLiteral("创建时间"), QStringLiteral("离线时间"), QStringLiteral("roleid"),
          QStringLiteral("account")},
         {38, 120, 38, 80, 80, 80, 80, 38, 80, 50, 60, 60, 130, 130, 0, 0}},
        {"超级列表框5",
         {QStringLiteral("tid"), QStringLiteral("物品名称"), QStringLiteral("code")},
         {35, 125, 0}},
    };
    for (const Case& c : cases) {
        auto* view = Find<ReportView>(c.name);
        ASSERT_NE(view, nullptr);
        ASSERT_EQ(view->model()->columnCount(), c.headers.size()) << c.name;
        for (int i = 0; i < c.headers.size(); ++i) {
            EXPECT_EQ(view->model()->headerData(i, Qt::Horizontal).toString(), c.headers[i]);
            const int width = c.widths[static_cast<std::size_t>(i)];
            EXPECT_EQ(view->isColumnHidden(i), width == 0) << c.name << " column " << i;
            if (width > 0) {
                EXPECT_EQ(view->columnWidth(i), width) << c.name << " column " << i;
            }
        }
    }
}

TEST_F(Layout, ReportModelKeepsItsContract)
{
    auto* view = Find<ReportView>("超级列表框4");
    ModelTesterFindings findings;
    QAbstractItemModelTester tester(&view->Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    TextTableModel& model = view->Model();
    EXPECT_EQ(model.AppendRow(), 0);
    EXPECT_EQ(model.InsertRow(0), 0);
    EXPECT_EQ(model.InsertRow(99), 2);
    model.SetCell(1, 14, "42");
    model.SetCell(7, 0, "ignored");
    EXPECT_EQ(model.Cell(1, 14), "42");
    EXPECT_EQ(model.Cell(1, 15), "");
    model.ResetRows({{"a"}, {"b", "c"}});
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_EQ(model.Cell(1, 1), "c");
    EXPECT_EQ(view->Selection(), -1);
    view->SetSelection(1);
    EXPECT_EQ(view->Selection(), 1);
    model.Clear();
    EXPECT_EQ(view->Selection(), -1);
    EXPECT_TRUE(findings.Findings().isEmpty()) << findings.Findings().join(u'\n').toStdString();
}

TEST_F(Layout, StartWithoutConfigShowsDefaultsAndCreatesNothing)
{
    MainWindow& window = Started();
    EXPECT_EQ(startupShown, 1);
    const std::pair<const char*, const char*> boxes[] = {{"编辑框2", "127.0.0.1"},
                                                         {"编辑框3", "3306"},
                                                         {"编辑框4", "root"},
                                                         {"编辑框5", "739215"},
                                                         {"编辑框6", "mrvn"}};
    for (const auto& [name, text] : boxes)
        EXPECT_EQ(Find<QLineEdit>(name)->text(), QString::fromUtf8(text)) << name;
    for (const char* name : {"组合框1", "组合框2", "组合框3"})
        EXPECT_EQ(Find<QComboBox>(name)->currentIndex(), 0) << name;
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
    EXPECT_TRUE(FindIn<QTimer>(window, "时钟2")->isActive());
    EXPECT_EQ(FindIn<QTimer>(window, "时钟2")->interval(), 1000);
    EXPECT_FALSE(FindIn<QTimer>(window, "时钟1")->isActive());
    EXPECT_EQ(Find<ReportView>("超级列表框4")->RowCount(), 0);
    EXPECT_EQ(Find<ReportView>("超级列表框2")->RowCount(), 0);
}

TEST_F(Layout, StartLoadsSettingsAndArchivesFromTheFile)
{
    {
        std::ofstream out(ConfigPath(), std::ios::binary);
        // "[system]" with a leading-space host, an empty port, and one archive "礼包" (GBK).
        out << "[system]\r\nip=  10.0.0.5\r\nport=\r\nuser=gm\r\npsw=secret\r\ndb=game\r\n"
               "[itemlist]\r\nlist=\xC0\xF1\xB0\xFC|B\r\n";
    }
    Started();
    EXPECT_EQ(Find<QLineEdit>("编辑框2")->text(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(Find<QLineEdit>("编辑框3")->text(), QString());
    EXPECT_EQ(Find<QLineEdit>("编辑框4")->text(), QStringLiteral("gm"));
    EXPECT_EQ(Find<QLineEdit>("编辑框6")->text(), QStringLiteral("game"));
    auto* archives = Find<ReportView>("超级列表框6");
    ASSERT_EQ(archives->RowCount(), 2);
    EXPECT_EQ(archives->Cell(0, 0), QStringLiteral("1"));
    EXPECT_EQ(archives->Cell(0, 1), QStringLiteral("礼包"));
    EXPECT_EQ(archives->Cell(1, 1), QStringLiteral("B"));
}

TEST_F(Layout, EndingInTheStartupDialogReadsAndWritesNothing)
{
    {
        std::ofstream out(ConfigPath(), std::ios::binary);
        out << "[system]\r\nip=10.0.0.5\r\n";
    }
    startupAnswer = false;
    MainWindow& window = Window();
    EXPECT_FALSE(window.OnMainWindowCreated());
    EXPECT_EQ(Find<QLineEdit>("编辑框2")->text(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(FindIn<QTimer>(window, "时钟2")->isActive());
    EXPECT_EQ(Find<ReportView>("超级列表框6")->RowCount(), 0);
}

TEST(StartupDialogTest, OnlyItsButtonsCloseIt)
{
    struct Case
    {
        const char* button;
        bool goOn;
    };
    for (const Case c : {Case{"按钮1", true}, Case{"按钮2", false}}) {
        StartupDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("启动初始化"));
        EXPECT_EQ(dialog.size(), QSize(419, 140));
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_FALSE(dialog.close());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        auto* button = dialog.findChild<QPushButton*>(QString::fromUtf8(c.button));
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.GoOn(), c.goOn);
    }
    StartupDialog dialog;
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("按钮1"))->text(),
              QStringLiteral("非常感谢"));
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("按钮2"))->text(),
              QStringLiteral("呵呵……"));
}

TEST_F(Layout, RoleMenuFollowsTheSelection)
{
    MainWindow& window = Started();
    CommonPage* page = FindIn<CommonPage>(window, "常用功能");
    page->PrepareRoleListMenu();
    EXPECT_FALSE(FindIn<QAction>(page, "发送在线邮件")->isEnabled());
    EXPECT_EQ(FindIn<QAction>(page, "发送在线邮件")->text(), QStringLiteral("发送在线邮件"));

    std::vector<std::vector<std::string>> rows(2, std::vector<std::string>(15));
    rows[0][14] = "7";
    rows[1][14] = "3";
    page->ShowRoles({rows.begin(), rows.end()});
    FindIn<ReportView>(page, "超级列表框4")->SetSelection(1);
    page->PrepareRoleListMenu();
    EXPECT_TRUE(FindIn<QAction>(page, "发送在线邮件")->isEnabled());

    // A refresh keeps the selection on the same role, wherever its row went.
    std::swap(rows[0], rows[1]);
    page->ShowRoles({rows.begin(), rows.end()});
    EXPECT_EQ(FindIn<ReportView>(page, "超级列表框4")->Selection(), 0);

    // A refresh that falls while the menu is open changes the rows, not the receiver.
    rows[0][14] = "9";
    rows[1][14] = "7";
    page->ShowRoles({rows.begin(), rows.end()});
    EXPECT_EQ(FindIn<ReportView>(page, "超级列表框4")->Selection(), -1);
    FindIn<QAction>(page, "发送在线邮件")->trigger();
    EXPECT_EQ(Find<QLineEdit>("编辑框10")->text(), QStringLiteral("3"));
    EXPECT_EQ(FindIn<QTabWidget>(window, "选择夹1")->currentIndex(), 1);
}

} // namespace
} // namespace mrvn::test
