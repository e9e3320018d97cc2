#include "update/VersionCheck.h"

#include "Version.h"
#include "text/TextUtil.h"

#include <QNetworkProxy>
#include <QtNetwork/qtnetworkglobal.h>
#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace mrvn {

namespace {

constexpr char kPieceMarker[] = "分割线";
constexpr int kMaxPieces = 10;

} // namespace

std::string VersionPageAddress()
{
    return MRVN_UPDATE_URL;
}

VersionPageInfo ParseVersionPage(std::string_view bodyBytes)
{
    VersionPageInfo info;
    const std::vector<std::string> pieces =
        SplitText(CleanUtf8(bodyBytes), kPieceMarker, kMaxPieces);
    if (pieces.size() < 4)
        return info;
    info.newest = pieces[1];
    info.address = ReplaceAll(ReplaceAll(pieces[3], "</p>", "\r\n"), "<p>", "");
    // The published number must exceed ours by more than rounding noise.
    info.verdict = TextToDouble(MRVN_VERSION_TEXT) - TextToDouble(info.newest) < -0.0000001
                       ? VersionVerdict::NewerAvailable
                       : VersionVerdict::UpToDate;
    return info;
}

std::optional<std::string> WebAddressToOpen(std::string_view address)
{
    constexpr std::string_view kBlank = " \t\r\n";
    const std::size_t first = address.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::string_view trimmed =
        address.substr(first, address.find_last_not_of(kBlank) - first + 1);
    if (!StartsWithAsciiNoCase(trimmed, "http://") && !StartsWithAsciiNoCase(trimmed, "https://"))
        return std::nullopt;
    // Line breaks or spaces left inside mean the page held more than one address.
    for (const char c : trimmed) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return std::nullopt;
    }
    const QUrl url(QString::fromUtf8(trimmed.data(), static_cast<qsizetype>(trimmed.size())),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return std::string(trimmed);
}

namespace {

constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qsizetype kMaxChunkLine = 1024;
constexpr int kMaxRedirects = 3;

bool IsWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QStringLiteral("http") || scheme == QStringLiteral("https"));
}

} // namespace

// One GET on one connection. The answer is read as it arrives, a slice at a time, and
// every part of it has a ceiling: the head, a chunk-size line, the body.
class VersionPageFetcher::Download : public QObject
{
public:
    enum class Outcome { Pending, Page, Redirect, Unreadable };

    Download(QUrl url, QString agent, qint64* peak, QObject* parent)
        : QObject(parent), m_url(std::move(url)), m_agent(std::move(agent)), m_peak(peak)
    {
    }

    QUrl url() const { return m_url; }
    QString agent() const { return m_agent; }
    QUrl redirect() const { return m_redirect; }
    Outcome outcome() const { return m_outcome; }
    QByteArray TakeBody() { return std::exchange(m_body, QByteArray()); }

    // Called once with the outcome, on the window's thread.
    std::function<void()> done;

    void Start()
    {
        const bool tls = m_url.scheme().toLower() == QStringLiteral("https");
#if QT_CONFIG(ssl)
        if (tls && QSslSocket::supportsSsl())
            m_socket = new QSslSocket(this);
#endif
        if (tls && !m_socket) {
            // No TLS on this machine: the page cannot be read.
            QTimer::singleShot(0, this, [this] { Finish(Outcome::Unreadable); });
            return;
        }
        if (!m_socket)
            m_socket = new QTcpSocket(this);
        m_socket->setProxy(QNetworkProxy::NoProxy);
        m_socket->setReadBufferSize(kVersionPageReadChunk);
        connect(m_socket, &QTcpSocket::readyRead, this, &Download::Read);
        connect(m_socket, &QTcpSocket::disconnected, this, &Download::Closed);
        connect(m_socket, &QAbstractSocket::errorOccurred, this, [this] {
            if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
                Closed();
            else
                Finish(Outcome::Unreadable);
        });
        const quint16 port = static_cast<quint16>(m_url.port(tls ? 443 : 80));
#if QT_CONFIG(ssl)
        if (auto* ssl = qobject_cast<QSslSocket*>(m_socket)) {
            connect(ssl, &QSslSocket::encrypted, this, &Download::SendRequest);
            ssl->connectToHostEncrypted(m_url.host(), port);
            return;
        }
#endif
        connect(m_socket, &QTcpSocket::connected, this, &Download::SendRequest);
        m_socket->connectToHost(m_url.host(), port);
    }

    // Drops the connection without an outcome.
    void Cancel()
    {
        done = nullptr;
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
    }

private:
    enum class Stage { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose };

    void SendRequest()
    {
        QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (m_url.hasQuery())
            target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray host = m_url.host(QUrl::FullyEncoded).toLatin1();
        if (m_url.port() != -1)
            host += ':' + QByteArray::number(m_url.port());
        // The reload the page has always been fetched with: no cache on the way answers.
        m_socket->write("GET " + target + " HTTP/1.1\r\nHost: " + host +
                        "\r\nUser-Agent: " + m_agent.toUtf8() +
                        "\r\nCache-Control: no-cache\r\nPragma: no-cache"
                        "\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n");
    }

    void Read()
    {
        while (m_outcome == Outcome::Pending && m_socket->bytesAvailable() > 0) {
            m_in += m_socket->read(kVersionPageReadChunk);
            // All that is held of this answer: the body so far, the slice being parsed and
            // what the socket keeps ahead of us.
            *m_peak = std::max(*m_peak, m_body.size() + m_in.size() + m_socket->bytesAvailable());
            if (!Parse())
                return;
        }
    }

    // Takes what it can from m_in; false once the outcome is known.
    bool Parse()
    {
        for (;;) {
            switch (m_stage) {
            case Stage::Head: {
                const qsizetype end = m_in.indexOf("\r\n\r\n");
                if (end < 0) {
                    if (m_in.size() > kMaxHeadBytes)
                        return Finish(Outcome::Unreadable);
                    return true;
                }
                if (end > kMaxHeadBytes || !ReadHead(m_in.left(end)))
                    return Finish(Outcome::Unreadable);
                m_in.remove(0, end + 4);
                if (m_outcome != Outcome::Pending)
                    return false;
                break;
            }
            case Stage::Body:
            case Stage::UntilClose: {
                if (!Append(m_stage == Stage::Body ? std::min(m_left, m_in.size()) : m_in.size()))
                    return false;
                if (m_stage == Stage::Body) {
                    if (m_left == 0)
                        return Finish(Outcome::Page);
                }
                return true;
            }
            case Stage::ChunkSize:
            case Stage::ChunkEnd:
            case Stage::Trailer: {
                const qsizetype end = m_in.indexOf("\r\n");
                if (end < 0) {
                    if (m_in.size() > kMaxChunkLine)
                        return Finish(Outcome::Unreadable);
                    return true;
                }
                const QByteArray line = m_in.left(end);
                m_in.remove(0, end + 2);
                if (m_stage == Stage::ChunkEnd) {
                    if (!line.isEmpty())
                        return Finish(Outcome::Unreadable);
                    m_stage = Stage::ChunkSize;
                } else if (m_stage == Stage::Trailer) {
                    if (line.isEmpty())
                        return Finish(Outcome::Page);
                } else {
                    bool ok = false;
                    const qint64 size = line.split(';').first().trimmed().toLongLong(&ok, 16);
                    if (!ok || size < 0 || size > kMaxVersionPageBytes - m_body.size())
                        return Finish(Outcome::Unreadable);
                    m_left = size;
                    m_stage = size == 0 ? Stage::Trailer : Stage::ChunkData;
                }
                break;
            }
            case Stage::ChunkData:
                if (!Append(std::min(m_left, m_in.size())))
                    return false;
                if (m_left > 0)
                    return true;
                m_stage = Stage::ChunkEnd;
                break;
            }
        }
    }

    // Moves `count` bytes of m_in to the body; false (unreadable) past the limit.
    bool Append(qint64 count)
    {
        if (m_body.size() + count > kMaxVersionPageBytes)
            return Finish(Outcome::Unreadable);
        m_body += m_in.left(count);
        m_in.remove(0, count);
        m_left -= count;
        return true;
    }

    bool ReadHead(const QByteArray& head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        if (status.size() < 2 || !status[0].startsWith("HTTP/1."))
            return false;
        bool ok = false;
        const int code = status[1].toInt(&ok);
        if (!ok)
            return false;
        qint64 length = -1;
        bool chunked = false;
        QByteArray location;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            if (name == "content-length") {
                length = value.toLongLong(&ok);
                if (!ok || length < 0)
                    return false;
            } else if (name == "transfer-encoding") {
                chunked = value.toLower().contains("chunked");
            } else if (name == "location") {
                location = value;
            }
        }
        if (code >= 300 && code < 400 && code != 304 && !location.isEmpty()) {
            m_redirect = m_url.resolved(QUrl::fromEncoded(location));
            Finish(Outcome::Redirect);
            return true;
        }
        if (code >= 400)
            return false;
        if (chunked) {
            m_stage = Stage::ChunkSize;
        } else if (length >= 0) {
            if (length > kMaxVersionPageBytes)
                return false;
            m_stage = Stage::Body;
            m_left = length;
            if (length == 0)
                Finish(Outcome::Page);
        } else {
            m_stage = Stage::UntilClose;
        }
        return true;
    }

    void Closed()
    {
        if (m_outcome != Outcome::Pending)
            return;
        // Whatever is still buffered belongs to the answer.
        Read();
        if (m_outcome != Outcome::Pending)
            return;
        Finish(m_stage == Stage::UntilClose ? Outcome::Page : Outcome::Unreadable);
    }

    bool Finish(Outcome outcome)
    {
        if (m_outcome != Outcome::Pending)
            return false;
        m_outcome = outcome;
        if (outcome != Outcome::Page)
            m_body = QByteArray();
        m_in = QByteArray();
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
        if (auto callback = std::exchange(done, nullptr))
            callback();
        return false;
    }

    QUrl m_url;
    QString m_agent;
    qint64* m_peak;
    QTcpSocket* m_socket = nullptr;
    Stage m_stage = Stage::Head;
    QByteArray m_in;
    QByteArray m_body;
    qint64 m_left = 0;
    QUrl m_redirect;
    Outcome m_outcome = Outcome::Pending;
};

struct VersionPageFetcher::FetchState
{
    Download* current = nullptr;
    QTimer* deadline = nullptr;
    int redirectsLeft = kMaxRedirects;
};

VersionPageFetcher::VersionPageFetcher(QObject* parent) : QObject(parent) {}

VersionPageFetcher::~VersionPageFetcher()
{
    // Download has no meta-object of its own, so it is told from the timers by its type.
    for (QObject* child : children()) {
        if (auto* download = dynamic_cast<Download*>(child))
            download->Cancel();
    }
}

void VersionPageFetcher::Fetch(const QString& address, int timeoutMs)
{
    const QUrl url(address);
    if (!IsWebUrl(url)) {
        // Still asynchronous, so the caller sees the same order of events as for a failure
        // on the network.
        QTimer::singleShot(0, this, [this] { emit Finished(QByteArray()); });
        return;
    }
    auto fetch = std::make_shared<FetchState>();
    fetch->current = new Download(url, address, &m_peakBuffered, this);
    // The deadline covers the whole answer, head included, and every redirect, so a server
    // that trickles bytes forever still ends as unreadable.
    fetch->deadline = new QTimer(this);
    fetch->deadline->setSingleShot(true);
    connect(fetch->deadline, &QTimer::timeout, this, [this, fetch] {
        fetch->current->Cancel();
        fetch->current->deleteLater();
        fetch->deadline->deleteLater();
        emit Finished(QByteArray());
    });
    fetch->current->done = [this, fetch] { OnDownloadDone(fetch); };
    fetch->deadline->start(timeoutMs);
    fetch->current->Start();
}

void VersionPageFetcher::OnDownloadDone(const std::shared_ptr<FetchState>& fetch)
{
    Download* done = fetch->current;
    done->deleteLater();
    if (done->outcome() == Download::Outcome::Redirect && fetch->redirectsLeft-- > 0) {
        const QUrl next = done->redirect();
        // Never from https down to http, and never to anything but a web address.
        const bool downgrade = done->url().scheme().toLower() == QStringLiteral("https") &&
                               next.scheme().toLower() != QStringLiteral("https");
        if (IsWebUrl(next) && !downgrade) {
            fetch->current = new Download(next, done->agent(), &m_peakBuffered, this);
            fetch->current->done = [this, fetch] { OnDownloadDone(fetch); };
            fetch->current->Start();
            return;
        }
    }
    fetch->deadline->stop();
    fetch->deadline->deleteLater();
    emit Finished(done->outcome() == Download::Outcome::Page ? done->TakeBody() : QByteArray());
}

} // namespace mrvn
