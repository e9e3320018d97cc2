#include "AppTestSupport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace mrvn::test {
namespace {

// Answers every request on a free loopback port with one fixed page.
class OnePageServer
{
public:
    explicit OnePageServer(QByteArray body) : m_body(std::move(body))
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost));
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                  QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString Address() const
    {
        return QStringLiteral("http://127.0.0.1:%1/v.html").arg(m_server.serverPort());
    }

private:
    QTcpServer m_server;
    QByteArray m_body;
};

class MailUpdateAddress : public WindowTest
{
protected:
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.versionAddress = m_address;
        return env;
    }
    QString m_address;
};

TEST_F(MailUpdateAddress, AnAddressThatCannotBeOpenedIsSaidAndTheProgramGoesOn)
{
    const QByteArray fourthPieces[] = {
        "<p>C:\\setup.exe</p>",
        "<p>ftp://example.org/new.zip</p>",
        "<p>http://example.org/a</p><p>http://example.org/b</p>",
        "",
    };
    for (const QByteArray& fourth : fourthPieces) {
        SCOPED_TRACE(fourth.toStdString());
        OnePageServer server("a分割线2.0分割线b分割线" + fourth + "分割线");
        m_address = server.Address();
        dialogs = ScriptedDialogs();
        dialogs.answers = {MessageAnswer::Yes};
        MainWindow window(Environment());
        window.show();
        QSignalSpy finished(&window, &MainWindow::UpdateCheckFinished);
        window.UpdateCheck();
        ASSERT_TRUE(finished.wait(8000));
        EXPECT_TRUE(dialogs.opened.empty());
        ASSERT_EQ(dialogs.messages.size(), 2u);
        EXPECT_EQ(dialogs.messages[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("更新地址无法打开，请手动下载新版本！"));
        EXPECT_EQ(dialogs.messages[1].title, QStringLiteral("自动更新"));
        EXPECT_EQ(dialogs.messages[1].icon, MessageIcon::Warning);
        EXPECT_EQ(dialogs.messages[1].buttons, MessageButtons::Ok);
        EXPECT_TRUE(window.isVisible());
    }
}

TEST_F(MailUpdateAddress, AnAddressHandedToTheBrowserStillEndsTheProgram)
{
    OnePageServer server("a分割线2.0分割线b分割线<p>https://example.org/new</p>分割线");
    m_address = server.Address();
    dialogs.answers = {MessageAnswer::Yes};
    MainWindow& window = Window();
    window.show();
    QSignalSpy finished(&window, &MainWindow::UpdateCheckFinished);
    window.UpdateCheck();
    ASSERT_TRUE(finished.wait(8000));
    ASSERT_EQ(dialogs.opened.size(), 1u);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MailUpdateAddress, ABrowserThatDoesNotOpenTheAddressKeepsTheProgram)
{
    // A version text of nearly 1 MiB, too (the most a page holds): the question shows its
    // start only.
    OnePageServer server("a分割线2" + QByteArray((1 << 20) - 100, '0') +
                         "分割线b分割线<p>https://example.org/new</p>分割线");
    m_address = server.Address();
    dialogs.answers = {MessageAnswer::Yes};
    dialogs.browserTakesAddress = false;
    MainWindow& window = Window();
    window.show();
    QSignalSpy finished(&window, &MainWindow::UpdateCheckFinished);
    window.UpdateCheck();
    ASSERT_TRUE(finished.wait(8000));
    EXPECT_EQ(finished.at(0).at(0).toBool(), false);
    ASSERT_EQ(dialogs.opened.size(), 1u);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("最新版本：2") +
                                                  QString(63, u'0') + QStringLiteral("…　")));
    EXPECT_LT(dialogs.messages[0].text.size(), 200);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("更新地址无法打开，请手动下载新版本！"));
    EXPECT_EQ(dialogs.messages[1].icon, MessageIcon::Warning);
    EXPECT_TRUE(window.isVisible());
}

} // namespace
} // namespace mrvn::test
