#include "AppTestSupport.h"
#include "CaseRows.h"

#include "app/Dialogs.h"
#include "app/ReportView.h"
#include "config/ConfigFile.h"
#include "mail/MailArchive.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>

#include <chrono>
#include <fstream>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mrvn::test {
namespace {

namespace fs = std::filesystem;

class WindowHardening : public WindowTest
{
protected:
    fs::path StatePath() const { return Folder() / "window.ini"; }

    void StoreState(const QSize& size, const QPoint& position)
    {
        QSettings state(QString::fromStdString(StatePath().string()), QSettings::IniFormat);
        state.setValue(QStringLiteral("window/size"), size);
        state.setValue(QStringLiteral("window/position"), position);
    }

    void WriteConfig(const std::string& bytes)
    {
        std::ofstream(ConfigPath(), std::ios::binary) << bytes;
    }

    ReportView& Archives() { return *Find<ReportView>("超级列表框6"); }
};

TEST_F(WindowHardening, AStoredGeometryIsBroughtInsideTheScreen)
{
    struct Case
    {
        const char* what;
        QSize size;
        QPoint position;
    };
    const Case cases[] = {
        {"a size far beyond the screen", {100000, 100000}, {10, 10}},
        {"a place far beyond the screen", {640, 520}, {99999, 99999}},
        {"a place far before the screen", {640, 520}, {-50000, -50000}},
        {"hanging over the screen's edge", {700, 560}, {700, 500}},
        {"a size below the design", {10, 10}, {0, 0}},
    };
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ForEachRow(cases, &Case::what, [&](const Case& c) {
        StoreState(c.size, c.position);
        {
            const std::unique_ptr<MainWindow> window = CreateMainWindow(Environment());
            ASSERT_TRUE(window->OnMainWindowCreated());
            EXPECT_TRUE(area.contains(QRect(window->pos(), window->size())))
                << window->pos().x() << "," << window->pos().y() << " " << window->width() << "x"
                << window->height();
            EXPECT_GE(window->width(), 496);
            EXPECT_GE(window->height(), 448);
            window->close();
        }
        // What is written back on close fits as well: the next start is no worse.
        QSettings state(QString::fromStdString(StatePath().string()), QSettings::IniFormat);
        const QSize saved = state.value(QStringLiteral("window/size")).toSize();
        EXPECT_LE(saved.width(), std::max(area.width(), 496));
        EXPECT_LE(saved.height(), std::max(area.height(), 448));
    });
}

TEST_F(WindowHardening, AStateFileThatIsNoRegularFileIsLeftAlone)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX FIFOs and symbolic links";
#else
    struct Case
    {
        const char* what;
        std::function<void(const fs::path&)> make;
    };
    const fs::path elsewhere = Folder() / "elsewhere.ini";
    const Case cases[] = {
        {"a FIFO", [](const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"a link to a state file",
         [&](const fs::path& path) {
             {
                 QSettings state(QString::fromStdString(elsewhere.string()), QSettings::IniFormat);
                 state.setValue(QStringLiteral("window/size"), QSize(640, 520));
             }
             fs::create_symlink(elsewhere, path);
         }},
    };
    ForEachRow(cases, &Case::what, [&](const Case& c) {
        fs::remove(StatePath());
        fs::remove(elsewhere);
        c.make(StatePath());
        const auto before = fs::symlink_status(StatePath()).type();
        {
            // A FIFO opened for reading would hold the start-up here until a writer came.
            const std::unique_ptr<MainWindow> window = CreateMainWindow(Environment());
            ASSERT_TRUE(window->OnMainWindowCreated());
            EXPECT_EQ(window->size(), QSize(496, 448));
            window->resize(600, 500);
            window->close();
        }
        EXPECT_EQ(fs::symlink_status(StatePath()).type(), before);
        if (fs::exists(elsewhere)) {
            QSettings state(QString::fromStdString(elsewhere.string()), QSettings::IniFormat);
            EXPECT_EQ(state.value(QStringLiteral("window/size")).toSize(), QSize(640, 520));
        }
    });
#endif
}

TEST_F(WindowHardening, StaleTemporariesGoAtStartUp)
{
    WriteConfig("[system]\r\nport=3306\r\n");
    const fs::path stale = Folder() / ".config.dat.4242.0.tmp";
    const fs::path fresh = Folder() / ".config.dat.4242.1.tmp";
    const fs::path other = Folder() / ".other.dat.4242.0.tmp";
    for (const fs::path& path : {stale, fresh, other})
        std::ofstream(path, std::ios::binary) << "[system]\r\npsw=secret\r\n";
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    fs::last_write_time(stale, old);
    fs::last_write_time(other, old);

    Started();
    EXPECT_FALSE(fs::exists(stale));
    // Perhaps a write of another copy still running.
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(WindowHardening, ArchiveNamesConfigDatCannotKeepAreRefusedWithTheReason)
{
    struct Case
    {
        const char* typed;
        const char* said;
    };
    const Case cases[] = {
        {"system", "该名称为保留名称，不能用作存档名称，请返回修改！"},
        {"ITEMLIST", "该名称为保留名称，不能用作存档名称，请返回修改！"},
        {"礼包😀", "存档名称含有 GBK 编码无法保存的字符，config.dat 无法保存，请返回修改！"},
        {"한국", "存档名称含有 GBK 编码无法保存的字符，config.dat 无法保存，请返回修改！"},
    };
    Started();
    ForEachRow(cases, &Case::typed, [&](const Case& c) {
        dialogs.messages.clear();
        dialogs.typed = {QString::fromUtf8(c.typed)};
        ClickThenWaitUntilEnabled("按钮7");
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(c.said));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_FALSE(fs::exists(ConfigPath()));
        EXPECT_EQ(Archives().RowCount(), 0);
    });
}

TEST_F(WindowHardening, DeletingAnArchiveNamesItAndTakesThatOne)
{
    WriteConfig("[itemlist]\r\nlist=A||B|C\r\n[A]\r\ntitle=a\r\n[B]\r\ntitle=b\r\n"
                "[C]\r\ntitle=c\r\n");
    Started();
    // The empty piece is no row.
    ASSERT_EQ(Archives().RowCount(), 3);
    // Another copy of the tool deletes A after this list was shown.
    ConfigFile other(ConfigPath());
    ASSERT_EQ(DeleteArchive(other, "A"), DeleteArchiveResult::Deleted);

    Archives().SetSelection(2); // C, shown third
    dialogs.answers = {MessageAnswer::Yes};
    ClickThenWaitUntilEnabled("按钮8");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("是否要删除该存档？"));
    EXPECT_EQ(dialogs.messages[0].informative, QStringLiteral("存档名称：C"));
    EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNoDefaultNo);
    ConfigFile file(ConfigPath());
    EXPECT_EQ(file.ReadValue("itemlist", "list"), "B");
    EXPECT_EQ(file.ReadValue("B", "title"), "b");
    EXPECT_EQ(file.ReadValue("C", "title", "absent"), "absent");
    ASSERT_EQ(Archives().RowCount(), 1);
    EXPECT_EQ(Archives().Cell(0, 1), QStringLiteral("B"));

    // No leaves everything as it was.
    Archives().SetSelection(0);
    dialogs.answers = {MessageAnswer::No};
    ClickThenWaitUntilEnabled("按钮8");
    EXPECT_EQ(file.ReadValue("itemlist", "list"), "B");
}

// A message box is at least as wide as its title: "导出消息" was shown as "导…".
TEST(MessageBoxTitle, IsNeverCut)
{
    const QString titles[] = {QStringLiteral("导出消息"),
                              QStringLiteral("一个很长很长很长很长很长很长的消息框标题")};
    for (const QString& title : titles) {
        SCOPED_TRACE(title.toStdString());
        QMessageBox box;
        box.setWindowTitle(title);
        box.setText(QStringLiteral("好"));
        box.setStandardButtons(QMessageBox::Ok);
        KeepTitleWhole(box, title);
        box.show();
        QCoreApplication::processEvents();
        EXPECT_GE(box.width(), box.fontMetrics().horizontalAdvance(title) + 100);
        box.close();
    }
}

} // namespace
} // namespace mrvn::test
