#include "AppTestSupport.h"

#include "app/StartupDialog.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

namespace mrvn::test {
namespace {

// Writes a picture of every page and of the start-up dialog into build/screenshots, built
// and started as the program does (CreateMainWindow, then the start-up steps with the skin),
// so the layout can be looked at without a display.
TEST_F(WindowTest, PicturesOfEveryPage)
{
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    MainWindow& window = Started();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int page = 0; page < FindIn<QTabWidget>(window, "选择夹1")->count(); ++page) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(page);
        QCoreApplication::processEvents();
        const QString file = folder + QStringLiteral("/page%1.png").arg(page);
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }
    // Enlarged: the lists grow, the rest stays where it was designed.
    window.resize(window.size() + QSize(200, 150));
    for (int page : {0, 1, 2}) {
        FindIn<QTabWidget>(window, "选择夹1")->setCurrentIndex(page);
        QCoreApplication::processEvents();
        const QString file = folder + QStringLiteral("/page%1-enlarged.png").arg(page);
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }
    StartupDialog dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.grab().save(folder + QStringLiteral("/startup.png")));
    dialog.findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
}

} // namespace
} // namespace mrvn::test
