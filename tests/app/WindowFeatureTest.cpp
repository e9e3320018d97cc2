#include "AppTestSupport.h"

#include "Catalogue.h"
#include "app/Background.h"
#include "app/MailPage.h"
#include "app/ReportView.h"
#include "config/ConfigFile.h"
#include "items/ItemSearch.h"
#include "text/TextUtil.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <fstream>

namespace mrvn::test {
namespace {

// Serves one fixed body to every request on a free loopback port.
class PageServer : public QObject
{
public:
    explicit PageServer(QByteArray body) : m_body(std::move(body))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_request.contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Connection: close\r\nContent-Length: " +
                                  QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString Address() const
    {
        return QStringLiteral("http://127.0.0.1:%1/version.html").arg(m_server.serverPort());
    }

private:
    QTcpServer m_server;
    QByteArray m_body;
    QByteArray m_request;
};

class WindowFeatures : public WindowTest
{
protected:
    // Runs the version check against `address` and waits for its verdict.
    std::optional<bool> CheckVersion(const QString& address)
    {
        m_versionAddress = address;
        MainWindow& window = Window();
        window.show();
        QSignalSpy finished(&window, &MainWindow::UpdateCheckFinished);
        window.UpdateCheck();
        if (!finished.wait(8000))
            return std::nullopt;
        return finished.at(0).at(0).toBool();
    }

    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        if (!m_versionAddress.isEmpty())
            env.versionAddress = m_versionAddress;
        return env;
    }

    QString m_versionAddress;
};

TEST_F(WindowFeatures, SearchReportsAMissingCatalogueAndChangesNothing)
{
    Started();
    Find<QLineEdit>("编辑框19")->setText(QStringLiteral("剑"));
    const QString before = Find<QPlainTextEdit>("编辑框20")->toPlainText();
    Find<QPushButton>("按钮11")->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("物品库错误"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(
        dialogs.messages[0].text,
        QStringLiteral(
            "goods.jat.json 物品库不存在，请手动转换goods.jat文件后，放入本程序目录下即可！"));
    EXPECT_EQ(Find<QPlainTextEdit>("编辑框20")->toPlainText(), before);
    EXPECT_EQ(Find<QLabel>("标签22")->text(), QStringLiteral("查询状态：等待"));
}

TEST_F(WindowFeatures, SearchRunsInTheBackgroundAndShowsTheLines)
{
    ASSERT_TRUE(catalogue::WriteCatalogue(Folder() / "goods.jat.json", 2000));
    MainWindow& window = StartedWithoutVersionCheck();
    const QString id = QString::fromStdString(catalogue::RecordId(1234));
    Find<QLineEdit>("编辑框19")->setText(id);
    QSignalSpy finished(FindIn<MailPage>(window, "发放邮件"), &MailPage::SearchFinished);
    EXPECT_TRUE(FindIn<MailPage>(window, "发放邮件")->SearchItemLibrary());
    // A second press while the scan runs starts nothing.
    EXPECT_FALSE(Find<QPushButton>("按钮11")->isEnabled());
    EXPECT_FALSE(FindIn<MailPage>(window, "发放邮件")->SearchItemLibrary());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(Find<QLabel>("标签22")->text(), QStringLiteral("查询状态：完成\n找到 1 条"));
    const QString text = Find<QPlainTextEdit>("编辑框20")->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("id：") + id)) << text.toStdString();
    EXPECT_TRUE(Find<QPushButton>("按钮11")->isEnabled());
}

TEST_F(WindowFeatures, AResultOfEveryRecordArrivesWholeInSlices)
{
    const std::filesystem::path file = Folder() / "goods.jat.json";
    ASSERT_TRUE(catalogue::WriteCatalogue(file, 20000));
    MainWindow& window = StartedWithoutVersionCheck();
    Find<QLineEdit>("编辑框19")->setText(QStringLiteral("\"id\""));
    QSignalSpy finished(FindIn<MailPage>(window, "发放邮件"), &MailPage::SearchFinished);
    ASSERT_TRUE(FindIn<MailPage>(window, "发放邮件")->SearchItemLibrary());
    ASSERT_TRUE(finished.wait(60000));
    const ItemSearchResult expected = SearchItemLibrary(file, "\"id\"");
    // The first kMaxResultLines lines of 20,000 matching records: still many slices.
    ASSERT_EQ(expected.shown, kMaxResultLines);
    ASSERT_GT(expected.text.size(), 500000u);
    // The lines shown, then one saying how many were left out.
    EXPECT_EQ(Find<QPlainTextEdit>("编辑框20")->toPlainText().toStdString(),
              ReplaceAll(expected.text, "\r\n", "\n") + "\n……只显示前 10000 条，其余 " +
                  std::to_string(expected.matches - kMaxResultLines) +
                  " 条未显示，请缩小查询范围。");
}

TEST_F(WindowFeatures, ItemTableStopsAtSixAndACancelledNameAddsNothing)
{
    Started();
    auto* items = Find<ReportView>("超级列表框5");
    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10001"));
    dialogs.typed = {std::nullopt};
    Find<QPushButton>("按钮6")->click();
    EXPECT_EQ(items->RowCount(), 0);
    EXPECT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_TRUE(dialogs.messages.empty());

    for (int i = 0; i < 6; ++i) {
        dialogs.typed = {QStringLiteral("item%1").arg(i)};
        Find<QPushButton>("按钮6")->click();
    }
    ASSERT_EQ(items->RowCount(), 6);
    EXPECT_EQ(items->Cell(5, 0), QStringLiteral("6"));
    dialogs.inputs.clear();
    Find<QPushButton>("按钮6")->click();
    EXPECT_TRUE(dialogs.inputs.empty());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("本次邮件的物品栏已满！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);

    // Cleared, the table numbers from 1 again.
    Find<QPushButton>("按钮9")->click();
    dialogs.typed = {QStringLiteral("again")};
    Find<QPushButton>("按钮6")->click();
    ASSERT_EQ(items->RowCount(), 1);
    EXPECT_EQ(items->Cell(0, 0), QStringLiteral("1"));
}

TEST_F(WindowFeatures, SendingWithoutAConnectionFailsAndIncompleteFieldsAreRefused)
{
    Started();
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("请填写完整后再发送！"));
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("100001"));
    Click("按钮5");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("邮件发送失败！"));
    EXPECT_EQ(dialogs.messages[1].title, QStringLiteral("邮件消息"));
    EXPECT_EQ(dialogs.messages[1].icon, MessageIcon::Error);
    Find<QPushButton>("按钮10")->click();
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[2].title, QStringLiteral("使用帮助"));
    EXPECT_EQ(dialogs.messages[2].icon, MessageIcon::None);
    EXPECT_TRUE(
        dialogs.messages[2].text.startsWith(QStringLiteral("帮助说明：\r\n1.发送邮件失败？")));
}

TEST_F(WindowFeatures, ArchivesSaveLoadAndDeleteThroughTheButtons)
{
    MainWindow& window = StartedWithoutVersionCheck();
    MailPage* mail = FindIn<MailPage>(window, "发放邮件");
    TextTableModel& items = FindIn<ReportView>(mail, "超级列表框5")->Model();
    for (int i = 0; i < 2; ++i) {
        const int row = items.AppendRow();
        items.SetCell(row, 0, std::to_string(row + 1));
        items.SetCell(row, 1, "物品 " + std::to_string(i));
        items.SetCell(row, 2, "{\\\"goodsId\\\":\\\"" + std::to_string(i) + "\\\"}");
    }
    Find<QLineEdit>("编辑框11")->setText(QStringLiteral("礼 包"));
    for (const char* name : {"A", "B", "C"}) {
        dialogs.typed = {QString::fromUtf8(name)};
        ClickThenWaitUntilEnabled("按钮7");
    }
    EXPECT_TRUE(dialogs.messages.empty());
    auto* list = Find<ReportView>("超级列表框6");
    ASSERT_EQ(list->RowCount(), 3);

    dialogs.typed = {QStringLiteral("ｂ"), QStringLiteral("b")};
    ClickThenWaitUntilEnabled("按钮7");
    ClickThenWaitUntilEnabled("按钮7");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("已有相同存档名称，请返回修改！"));
    EXPECT_EQ(list->RowCount(), 4);

    // Delete with no selection, then answered No, then Yes on the middle one.
    dialogs.messages.clear();
    ClickThenWaitUntilEnabled("按钮8");
    EXPECT_TRUE(dialogs.messages.empty());
    list->SetSelection(1);
    dialogs.answers = {MessageAnswer::No};
    ClickThenWaitUntilEnabled("按钮8");
    EXPECT_EQ(list->RowCount(), 4);
    dialogs.answers = {MessageAnswer::Yes};
    ClickThenWaitUntilEnabled("按钮8");
    ASSERT_EQ(list->RowCount(), 3);
    EXPECT_EQ(list->Cell(1, 1), QStringLiteral("C"));
    EXPECT_EQ(ConfigFile(ConfigPath()).ReadValue("itemlist", "list"), "A|C|ｂ");

    mail->ClearMailItems();
    Find<QLineEdit>("编辑框11")->setText(QStringLiteral("changed"));
    mail->LoadArchive(1);
    EXPECT_EQ(Find<QLineEdit>("编辑框11")->text(), QStringLiteral("礼包"));
    ASSERT_EQ(items.RowCount(), 2);
    EXPECT_EQ(items.Cell(1, 0), "2");
    EXPECT_EQ(items.Cell(1, 1), "物品 1");
    EXPECT_EQ(items.Cell(1, 2), "{\\\"goodsId\\\":\\\"1\\\"}");
}

TEST_F(WindowFeatures, UnreadablePageAsksAndGoesOnWithYes)
{
    dialogs.answers = {MessageAnswer::Yes};
    EXPECT_EQ(CheckVersion(QStringLiteral("http://127.0.0.1:9/v.html")), true);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("程序无法获取版本信息，您的程序将无法得到更新。\r\n"
                             "是否跳过更新检测？直接启动程序？"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("自动更新"));
    EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(WindowFeatures, UnreadablePageAnsweredNoEndsTheProgram)
{
    dialogs.answers = {MessageAnswer::No};
    EXPECT_EQ(CheckVersion(QStringLiteral("http://127.0.0.1:9/v.html")), false);
    EXPECT_FALSE(Window().isVisible());
}

TEST_F(WindowFeatures, VersionCheckAnnouncesANewerVersionAndStops)
{
    PageServer server(
        QByteArrayLiteral("head分割线１.６分割线x分割线<p> https://example.org/dl </p>分割线"));
    dialogs.answers = {MessageAnswer::Yes};
    EXPECT_EQ(CheckVersion(server.Address()), false);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("发现新版本！\r\n软件当前版本：1.5　最新版本：１.６　是否要更新？"));
    ASSERT_EQ(dialogs.opened.size(), 1u);
    EXPECT_EQ(dialogs.opened[0], QStringLiteral("https://example.org/dl"));
    // The stop verdict closes the window as its close box does.
    EXPECT_FALSE(Window().isVisible());
}

TEST_F(WindowFeatures, VersionCheckIsSilentWhenCurrent)
{
    PageServer server(QByteArrayLiteral("a分割线1.5分割线b分割线http://example.org/分割线"));
    EXPECT_EQ(CheckVersion(server.Address()), true);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(WindowFeatures, DeclinedNewVersionKeepsTheWindow)
{
    PageServer server(
        QByteArrayLiteral("a分割线2.0分割线b分割线<p>http://127.0.0.1:9/new.zip</p>分割线"));
    dialogs.answers = {MessageAnswer::No};
    EXPECT_EQ(CheckVersion(server.Address()), true);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Question);
    EXPECT_TRUE(dialogs.opened.empty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(WindowFeatures, TimerRunsTheCheckOnceAboutASecondAfterStart)
{
    dialogs.answers = {MessageAnswer::Yes};
    MainWindow& window = Started();
    window.show();
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }, 8000));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("自动更新"));
    EXPECT_FALSE(FindIn<QTimer>(window, "时钟2")->isActive());
    QTest::qWait(1500);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(window.isVisible());
}

// The handler never runs inside the call, also when the work has ended before the handler is
// attached (the search button was found enabled right after the search started).
TEST(RunInBackground, TheHandlerAlwaysComesLaterFromTheEventLoop)
{
    QObject context;
    int handled = 0;
    DeliverLater(QtFuture::makeReadyFuture(1), &context, [&](int one) { handled += one; });
    RunInBackground(
        &context, [] { return 1; }, [&](int one) { handled += one; });
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(WaitFor([&] { return handled == 2; }));
}

} // namespace
} // namespace mrvn::test
