#include "update/VersionCheck.h"
#include "CaseRows.h"

#include "app/Texts.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using mrvn::VersionVerdict;

struct PageCase
{
    const char* label;
    std::string body;
    VersionVerdict verdict;
    std::string newest;
    std::string address;
};

class ParseVersionPageCases : public ::testing::TestWithParam<PageCase>
{
};

TEST_P(ParseVersionPageCases, GivesVerdictVersionAndAddress)
{
    const PageCase& c = GetParam();
    const mrvn::VersionPageInfo info = mrvn::ParseVersionPage(c.body);
    EXPECT_EQ(info.verdict, c.verdict);
    EXPECT_EQ(info.newest, c.newest);
    EXPECT_EQ(info.address, c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ParseVersionPageCases,
    ::testing::Values(
        PageCase{"Empty", "", VersionVerdict::Unreadable, "", ""},
        PageCase{"NoMarkers", "<html>404 Not Found</html>", VersionVerdict::Unreadable, "", ""},
        PageCase{"ThreeMarkersEmptyTail", "head分割线1.6分割线x分割线", VersionVerdict::Unreadable,
                 "", ""},
        PageCase{"ThreeMarkersWithTail", "head分割线1.6分割线x分割线http://a.example/",
                 VersionVerdict::NewerAvailable, "1.6", "http://a.example/"},
        PageCase{"SameVersion", "h分割线1.5分割线x分割线http://a/分割线", VersionVerdict::UpToDate,
                 "1.5", "http://a/"},
        PageCase{"WithinRoundingNoise", "h分割线1.50000001分割线x分割线u分割线",
                 VersionVerdict::UpToDate, "1.50000001", "u"},
        PageCase{"JustAboveRoundingNoise", "h分割线1.5000002分割线x分割线u分割线",
                 VersionVerdict::NewerAvailable, "1.5000002", "u"},
        PageCase{"OlderVersion", "h分割线1.4分割线x分割线u分割线", VersionVerdict::UpToDate, "1.4",
                 "u"},
        PageCase{"NotANumberCountsAsZero", "h分割线v2.0分割线x分割线u分割线",
                 VersionVerdict::UpToDate, "v2.0", "u"},
        PageCase{"NewerShownAsWritten", "h分割线 1.6 beta分割线x分割线u分割线",
                 VersionVerdict::NewerAvailable, " 1.6 beta", "u"},
        PageCase{"FullWidthVersion", "h分割线１.６分割线x分割线u分割线",
                 VersionVerdict::NewerAvailable, "１.６", "u"},
        PageCase{"ParagraphTags", "h分割线1.6分割线x分割线<p>http://d.example/x</p>分割线",
                 VersionVerdict::NewerAvailable, "1.6", "http://d.example/x\r\n"},
        PageCase{"CapitalParagraphTagsKept", "h分割线1.6分割线x分割线<P>http://d/</P>",
                 VersionVerdict::NewerAvailable, "1.6", "<P>http://d/</P>"},
        PageCase{"SeveralParagraphs", "h分割线1.6分割线x分割线<p>a</p><p>b</p>",
                 VersionVerdict::NewerAvailable, "1.6", "a\r\nb\r\n"},
        // Ten pieces at most: an eleventh marker and what follows are dropped, and the
        // address is still the fourth piece.
        PageCase{"ElevenMarkers",
                 "1分割线1.7分割线3分割线4分割线5分割线6分割线7分割线8分割线9分割线"
                 "10分割线11",
                 VersionVerdict::NewerAvailable, "1.7", "4"},
        PageCase{"InvalidBytesCleaned", "h分割线1.6\xFF分割线x分割线u\xFE分割线",
                 VersionVerdict::NewerAvailable, "1.6?", "u?"},
        PageCase{"ZeroByteEndsThePage", "h分割线1.6分割线x\0分割线u分割线"s,
                 VersionVerdict::Unreadable, "", ""}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return info.param.label; });

TEST(NewVersionQuestion, NamesBothVersions)
{
    EXPECT_EQ(mrvn::NewVersionQuestion("1.6"),
              "发现新版本！\r\n软件当前版本：1.5　最新版本：1.6　是否要更新？");
    EXPECT_EQ(mrvn::NewVersionQuestion("１.６"),
              "发现新版本！\r\n软件当前版本：1.5　最新版本：１.６　是否要更新？");
}

TEST(NewVersionQuestion, ShowsAtMost64CharactersOfTheVersion)
{
    const std::string head = "发现新版本！\r\n软件当前版本：1.5　最新版本：";
    const std::string tail = "　是否要更新？";
    const std::string x64(64, 'x');
    std::string ideographs64;
    for (int i = 0; i < 64; ++i)
        ideographs64 += "版";
    const std::pair<std::string, std::string> cases[] = {
        {x64, x64},
        {x64 + "y", x64 + "…"},
        {ideographs64, ideographs64},
        {ideographs64 + "版", ideographs64 + "…"},
        {std::string(1 << 20, '9'), std::string(64, '9') + "…"},
    };
    mrvn::test::ForEachPair(cases, [&](const std::string& newest, const std::string& shown) {
        EXPECT_EQ(mrvn::NewVersionQuestion(newest), head + shown + tail);
    });
}

TEST(WebAddressToOpen, OpensOnlyWebAddresses)
{
    struct Case
    {
        std::string address;
        std::optional<std::string> expected;
    } const cases[] = {
        {"http://d.example/x", "http://d.example/x"},
        {"https://d.example/get?v=1.6#top", "https://d.example/get?v=1.6#top"},
        {"HTTPS://D.example/", "HTTPS://D.example/"},
        {"http://d.example/x\r\n", "http://d.example/x"},
        {" \t\r\nhttp://127.0.0.1:8080/\r\n \t", "http://127.0.0.1:8080/"},
        {"http://d.example/a b", std::nullopt},
        {"http://d.example/a\r\nhttp://e.example/\r\n", std::nullopt},
        {"http://", std::nullopt},
        {"http:///path", std::nullopt},
        {"https:d.example", std::nullopt},
        {"httpx://d.example/", std::nullopt},
        {"C:\\x.exe", std::nullopt},
        {"file:///etc/passwd", std::nullopt},
        {"javascript:alert(1)", std::nullopt},
        {"ftp://d.example/", std::nullopt},
        {"/usr/bin/xterm", std::nullopt},
        {"", std::nullopt},
        {"\r\n", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mrvn::WebAddressToOpen(c.address), c.expected) << c.address;
}

TEST(VersionPageAddress, IsAWebAddress)
{
    EXPECT_TRUE(mrvn::WebAddressToOpen(mrvn::VersionPageAddress()).has_value());
}

// A hand-written HTTP server on 127.0.0.1: records the request head and answers as told.
class PageServer
{
public:
    // The Endless modes never stop sending: a body announced as 1 GB, chunks without end,
    // header lines without end. They write only as the socket drains, so the server itself
    // stays small.
    // Raw: the body given is the whole answer, head and all, written as it stands.
    enum class Mode {
        Page,
        Chunked,
        NotFound,
        Silent,
        EndlessBody,
        EndlessChunks,
        EndlessHeaders,
        Raw
    };

    explicit PageServer(Mode mode, QByteArray body = {}) : m_mode(mode), m_body(std::move(body))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { Accept(); });
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost));
    }

    QString Address(const QString& path = QStringLiteral("/version.html")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    const QByteArray& RequestHead() const { return m_head; }
    int Requests() const { return m_requests; }

private:
    void Accept()
    {
        QTcpSocket* socket = m_server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            m_pending += socket->readAll();
            const qsizetype end = m_pending.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            m_head = m_pending.left(end);
            m_pending.clear();
            ++m_requests;
            Answer(socket);
        });
    }

    static void Respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& body)
    {
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\n" +
                      "Content-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
    }

    // Calls `more` for the next bytes whenever less than 256 KiB wait to be sent.
    static void Feed(QTcpSocket* socket, std::function<QByteArray()> more)
    {
        auto top = [socket, more] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 256 * 1024)
                socket->write(more());
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, top);
        top();
    }

    void Answer(QTcpSocket* socket)
    {
        const QByteArray filler(16 * 1024, 'x');
        switch (m_mode) {
        case Mode::Silent:
            return;
        case Mode::Raw:
            socket->write(m_body);
            socket->disconnectFromHost();
            return;
        case Mode::EndlessBody:
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n");
            Feed(socket, [filler] { return filler; });
            return;
        case Mode::EndlessChunks:
            socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
            Feed(socket, [filler] {
                return QByteArray::number(filler.size(), 16) + "\r\n" + filler + "\r\n";
            });
            return;
        case Mode::EndlessHeaders:
            socket->write("HTTP/1.1 200 OK\r\n");
            Feed(socket, [] { return QByteArray("X-Filler: " + QByteArray(100, 'y') + "\r\n"); });
            return;
        case Mode::NotFound:
            Respond(socket, "404 Not Found", "h分割线1.6分割线x分割线u");
            socket->disconnectFromHost();
            return;
        case Mode::Page:
            Respond(socket, "200 OK", m_body);
            socket->disconnectFromHost();
            return;
        case Mode::Chunked: {
            socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                          "Connection: close\r\n\r\n");
            socket->flush();
            // The body goes out in pieces some time apart, so the client sees it arrive
            // in several reads.
            auto rest = std::make_shared<QByteArray>(m_body);
            auto timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket, rest, timer] {
                const QByteArray piece = rest->left(3000);
                rest->remove(0, piece.size());
                socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
                if (piece.isEmpty()) {
                    timer->stop();
                    socket->disconnectFromHost();
                }
                socket->flush();
            });
            timer->start(5);
            return;
        }
        }
    }

    QTcpServer m_server;
    Mode m_mode;
    QByteArray m_body;
    QByteArray m_pending;
    QByteArray m_head;
    int m_requests = 0;
};

struct FetchOutcome
{
    int emitted = 0;
    QByteArray body;
    qint64 elapsedMs = 0;
};

// Runs one fetch and keeps the event loop going a little after the first answer, so a
// second emission would be seen.
FetchOutcome FetchPage(const QString& address, int timeoutMs = 10000)
{
    FetchOutcome outcome;
    mrvn::VersionPageFetcher fetcher;
    QEventLoop loop;
    QObject::connect(&fetcher, &mrvn::VersionPageFetcher::Finished, &loop,
                     [&](const QByteArray& body) {
                         ++outcome.emitted;
                         outcome.body = body;
                         QTimer::singleShot(100, &loop, &QEventLoop::quit);
                     });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(timeoutMs + 5000);
    QElapsedTimer clock;
    clock.start();
    fetcher.Fetch(address, timeoutMs);
    // The fetch must not block: nothing has arrived before the loop runs.
    EXPECT_EQ(outcome.emitted, 0);
    loop.exec();
    outcome.elapsedMs = clock.elapsed();
    return outcome;
}

QByteArray LongPage()
{
    QByteArray page = "<html>分割线1.6分割线说明分割线<p>http://d.example/new</p>分割线";
    while (page.size() < 50000)
        page += "填充文字 filler ";
    return page + "END";
}

TEST(VersionPageFetcher, SendsAGetWithTheAddressAsUserAgent)
{
    PageServer server(PageServer::Mode::Page, "h分割线1.5分割线x分割线u");
    const QString address = server.Address();
    const FetchOutcome outcome = FetchPage(address);
    EXPECT_EQ(outcome.emitted, 1);
    EXPECT_EQ(outcome.body, QByteArray("h分割线1.5分割线x分割线u"));
    const QList<QByteArray> lines = server.RequestHead().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first().trimmed(), QByteArray("GET /version.html HTTP/1.1"));
    int agents = 0;
    bool noCache = false;
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("user-agent:")) {
            ++agents;
            EXPECT_EQ(line.mid(11).trimmed(), address.toUtf8());
        }
        noCache = noCache || line.trimmed().toLower() == "cache-control: no-cache";
    }
    EXPECT_EQ(agents, 1);
    // Caches between us and the server are told not to answer either.
    EXPECT_TRUE(noCache) << server.RequestHead().toStdString();
}

TEST(VersionPageFetcher, ReadsALongBodyToItsEnd)
{
    const QByteArray page = LongPage();
    for (const auto mode : {PageServer::Mode::Page, PageServer::Mode::Chunked}) {
        PageServer server(mode, page);
        const FetchOutcome outcome = FetchPage(server.Address());
        EXPECT_EQ(outcome.emitted, 1);
        EXPECT_EQ(outcome.body, page);
        EXPECT_EQ(mrvn::ParseVersionPage(outcome.body.toStdString()).verdict,
                  VersionVerdict::NewerAvailable);
    }
}

TEST(VersionPageFetcher, EveryFetchGoesToTheServerAndFinishesOnce)
{
    PageServer server(PageServer::Mode::Page, "h分割线1.5分割线x分割线u");
    mrvn::VersionPageFetcher fetcher;
    QEventLoop loop;
    int finished = 0;
    QObject::connect(&fetcher, &mrvn::VersionPageFetcher::Finished, &loop, [&] {
        if (++finished == 2)
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    fetcher.Fetch(server.Address());
    fetcher.Fetch(server.Address());
    loop.exec();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(server.Requests(), 2);
}

TEST(VersionPageFetcher, ErrorPageGivesAnEmptyBody)
{
    PageServer server(PageServer::Mode::NotFound);
    const FetchOutcome outcome = FetchPage(server.Address());
    EXPECT_EQ(outcome.emitted, 1);
    EXPECT_TRUE(outcome.body.isEmpty());
    EXPECT_EQ(server.Requests(), 1);
}

TEST(VersionPageFetcher, UnreachableServerGivesAnEmptyBody)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    const FetchOutcome outcome =
        FetchPage(QStringLiteral("http://127.0.0.1:%1/version.html").arg(port));
    EXPECT_EQ(outcome.emitted, 1);
    EXPECT_TRUE(outcome.body.isEmpty());
}

TEST(VersionPageFetcher, SilentServerTimesOut)
{
    PageServer server(PageServer::Mode::Silent);
    const FetchOutcome outcome = FetchPage(server.Address(), 300);
    EXPECT_EQ(outcome.emitted, 1);
    EXPECT_TRUE(outcome.body.isEmpty());
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_GE(outcome.elapsedMs, 250);
    EXPECT_LT(outcome.elapsedMs, 4000);
}

TEST(VersionPageFetcher, AnswersThatNeverEndAreUnreadableAndHeldWithinTheLimit)
{
    // The time-out is far off for a body: only the size limits can end those early. Qt's
    // HTTP client hands a head over only once it is whole, so a head without end is ended by
    // the time-out.
    struct Case
    {
        const char* what;
        PageServer::Mode mode;
        int timeoutMs;
    };
    const Case cases[] = {
        {"a body announced as 1 GB", PageServer::Mode::EndlessBody, 15000},
        {"chunks without end", PageServer::Mode::EndlessChunks, 15000},
        {"header lines without end", PageServer::Mode::EndlessHeaders, 2000},
    };
    mrvn::test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        PageServer server(c.mode);
        auto fetcher = std::make_unique<mrvn::VersionPageFetcher>();
        std::optional<QByteArray> body;
        QEventLoop loop;
        QObject::connect(fetcher.get(), &mrvn::VersionPageFetcher::Finished, &loop,
                         [&](const QByteArray& received) {
                             body = received;
                             loop.quit();
                         });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        fetcher->Fetch(server.Address(), c.timeoutMs);
        QElapsedTimer clock;
        clock.start();
        loop.exec();
        ASSERT_TRUE(body.has_value());
        EXPECT_TRUE(body->isEmpty());
        EXPECT_LT(clock.elapsed(), 10000);
        // 1 MiB of page at most, and one slice read on top of it.
        EXPECT_LE(fetcher->PeakBufferedBytes(), 1024 * 1024 + 64 * 1024);
        // Nothing of the answer keeps the fetcher from going at once.
        clock.restart();
        fetcher.reset();
        EXPECT_LT(clock.elapsed(), 1000);
    });
}

TEST(VersionPageFetcher, DestroyingItMidAnswerIsQuickAndSilent)
{
    for (const auto mode : {PageServer::Mode::EndlessHeaders, PageServer::Mode::Silent}) {
        SCOPED_TRACE(static_cast<int>(mode));
        PageServer server(mode);
        auto fetcher = std::make_unique<mrvn::VersionPageFetcher>();
        int finished = 0;
        QObject::connect(fetcher.get(), &mrvn::VersionPageFetcher::Finished,
                         [&finished] { ++finished; });
        fetcher->Fetch(server.Address(), 60000);
        QEventLoop loop;
        // Long enough for the first bytes to arrive, short of any limit.
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        QElapsedTimer clock;
        clock.start();
        fetcher.reset();
        // The bound the window's teardown must meet with a server that never finishes.
        EXPECT_LT(clock.elapsed(), 1000);
        // A fetch still running ends without a verdict.
        EXPECT_EQ(finished, 0);
    }
}

TEST(VersionPageFetcher, HostileAnswersAreUnreadable)
{
    const QByteArray page = "h分割线1.6分割线x分割线http://d.example/";
    const QByteArray length = "Content-Length: " + QByteArray::number(page.size()) + "\r\n";
    struct Case
    {
        const char* what;
        QByteArray answer;
    };
    const Case cases[] = {
        {"a negative status", "HTTP/1.1 -200 OK\r\n" + length + "\r\n" + page},
        {"a 500 page after 100 Continue",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 Internal Server Error\r\n" + length + "\r\n" +
             page},
        {"a 304 with a body", "HTTP/1.1 304 Not Modified\r\n" + length + "\r\n" + page},
        {"a 3xx without a target", "HTTP/1.1 300 Multiple Choices\r\n" + length + "\r\n" + page},
        {"two different lengths",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + length + "\r\n" + page},
        {"a status line without a version", "200 OK\r\n" + length + "\r\n" + page},
    };
    mrvn::test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        PageServer server(PageServer::Mode::Raw, c.answer);
        const FetchOutcome outcome = FetchPage(server.Address());
        EXPECT_EQ(outcome.emitted, 1);
        EXPECT_TRUE(outcome.body.isEmpty()) << outcome.body.toStdString();
    });
}

TEST(VersionPageFetcher, FollowsThreeRedirectsAndNoMore)
{
    // "/n" sends the client on to "/n+1" until n reaches the number of redirects asked for.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QByteArray page = "h分割线1.6分割线x分割线u";
    int redirects = 3;
    bool pageServed = false;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            if (!socket->peek(1 << 16).contains("\r\n\r\n"))
                return;
            const QByteArray path = socket->readAll().split(' ').value(1);
            const int step = path.mid(1).toInt();
            if (step >= redirects) {
                pageServed = true;
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(page.size()) + "\r\n\r\n" + page);
            } else {
                socket->write("HTTP/1.1 302 Found\r\nLocation: /" + QByteArray::number(step + 1) +
                              "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
            }
            socket->disconnectFromHost();
        });
    });
    const QString address = QStringLiteral("http://127.0.0.1:%1/0").arg(server.serverPort());
    // On a busy machine, about one run in several hundred Qt ends this chain of four short
    // connections with an empty answer (cause not found; it never showed in 30 runs beside
    // two busy cores with the error printed). One more try keeps the test to its point: a
    // fetcher that cannot follow three redirects fails both.
    QByteArray body = FetchPage(address).body;
    if (body.isEmpty())
        body = FetchPage(address).body;
    EXPECT_EQ(body, page);

    redirects = 4;
    pageServed = false;
    const FetchOutcome four = FetchPage(address);
    EXPECT_EQ(four.emitted, 1);
    EXPECT_TRUE(four.body.isEmpty());
    EXPECT_FALSE(pageServed);
}

TEST(VersionPageFetcher, NonWebAddressesAreNotFetched)
{
    for (const QString& address : {QStringLiteral("file:///etc/hostname"), QStringLiteral(""),
                                   QStringLiteral("not an address")}) {
        const FetchOutcome outcome = FetchPage(address);
        EXPECT_EQ(outcome.emitted, 1) << address.toStdString();
        EXPECT_TRUE(outcome.body.isEmpty()) << address.toStdString();
    }
}

} // namespace
