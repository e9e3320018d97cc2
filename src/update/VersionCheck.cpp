#include "update/VersionCheck.h"

#include "Version.h"
#include "text/TextUtil.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
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

constexpr qint64 kMaxHeadBytes = 64 * 1024;
constexpr int kMaxRedirects = 3;

bool IsWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QStringLiteral("http") || scheme == QStringLiteral("https"));
}

// The head as Qt hands it over: the status line and every header line with its line end.
qint64 HeadBytes(const QNetworkReply& reply)
{
    qint64 bytes =
        reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray().size() + 16;
    for (const QNetworkReply::RawHeaderPair& header : reply.rawHeaderPairs())
        bytes += header.first.size() + header.second.size() + 4;
    return bytes;
}

} // namespace

// One GET through Qt's HTTP client, read a slice at a time as it arrives; every part of the
// answer has a ceiling, and the first limit passed aborts the reply.
class VersionPageFetcher::Download : public QObject
{
public:
    Download(QNetworkAccessManager& manager, const QUrl& url, const QString& agent, int timeoutMs,
             VersionPageFetcher* owner)
        : QObject(owner), m_owner(owner)
    {
        QNetworkRequest request(url);
        // The reload the page has always been fetched with: the address as the agent, and
        // no cache on the way (nor Qt's own) answers in the server's place.
        request.setHeader(QNetworkRequest::UserAgentHeader, agent);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setRawHeader("Cache-Control", "no-cache");
        request.setRawHeader("Pragma", "no-cache");
        // Asked for as it is: a compressed page would be inflated by Qt beyond our view.
        request.setRawHeader("Accept-Encoding", "identity");
        request.setMaximumRedirectsAllowed(kMaxRedirects);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        m_reply = manager.get(request);
        m_reply->setParent(this);
        m_reply->setReadBufferSize(kVersionPageReadChunk);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, &Download::CheckHead);
        connect(m_reply, &QNetworkReply::readyRead, this, &Download::Read);
        connect(m_reply, &QNetworkReply::finished, this, &Download::Done);
        // Qt's time-out restarts with every byte; this one covers the whole answer and every
        // redirect, so a server that trickles bytes forever still ends as unreadable.
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { Fail(); });
        m_deadline.start(timeoutMs);
        // Qt may have finished the reply already (a refused address, say): Done then runs
        // from the event loop like every other outcome, never inside Fetch.
        if (m_reply->isFinished())
            QMetaObject::invokeMethod(
                this, [this] { Done(); }, Qt::QueuedConnection);
    }

    // Drops the reply without an outcome and without waiting for anything.
    void Cancel()
    {
        m_over = true;
        m_deadline.stop();
        if (m_reply) {
            m_reply->disconnect(this);
            if (!m_reply->isFinished())
                m_owner->m_abandonedReply = true;
            m_reply->abort();
        }
    }

private:
    // A head is judged as soon as it is known: an error status, an announced body beyond the
    // limit or a head beyond its own limit ends the reply before its body is read.
    bool CheckHead()
    {
        if (m_over)
            return true;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A redirect is Qt's to follow or refuse; Done judges where it ended.
        if (status >= 300 && status <= 399)
            return true;
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        // An answer that gives two lengths is not believed, whichever of them Qt would take
        // (Qt joins repeated headers with ", ").
        const bool twoLengths = m_reply->rawHeader("Content-Length").contains(',');
        if (HeadBytes(*m_reply) > kMaxHeadBytes || twoLengths || status < 200 || status > 299 ||
            (length.isValid() && length.toLongLong() > kMaxVersionPageBytes)) {
            Fail();
            return false;
        }
        return true;
    }

    void Read()
    {
        if (m_over || !CheckHead())
            return;
        while (!m_over && m_reply->bytesAvailable() > 0) {
            // All that is held of this answer: the body so far and what waits in the reply.
            m_owner->m_peakBuffered =
                std::max(m_owner->m_peakBuffered, m_body.size() + m_reply->bytesAvailable());
            const QByteArray slice = m_reply->read(kVersionPageReadChunk);
            if (m_body.size() + slice.size() > kMaxVersionPageBytes)
                return Fail();
            m_body += slice;
        }
    }

    void Done()
    {
        if (m_over)
            return;
        Read();
        if (m_over)
            return;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (m_reply->error() != QNetworkReply::NoError || status < 200 || status > 299)
            return Fail();
        Finish(std::exchange(m_body, QByteArray()));
    }

    void Fail()
    {
        if (m_over)
            return;
        Cancel();
        m_body = QByteArray();
        Finish(QByteArray());
    }

    // The outcome, always from the event loop: the fetcher's owner may start, delete or
    // restart things in its slot.
    void Finish(const QByteArray& body)
    {
        m_over = true;
        m_deadline.stop();
        if (m_reply)
            m_reply->disconnect(this);
        QPointer<VersionPageFetcher> owner = m_owner;
        QMetaObject::invokeMethod(
            m_owner,
            [owner, body] {
                if (owner)
                    emit owner->Finished(body);
            },
            Qt::QueuedConnection);
        deleteLater();
    }

    VersionPageFetcher* m_owner;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline{this};
    QByteArray m_body;
    bool m_over = false;
};

VersionPageFetcher::VersionPageFetcher(QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    // The page has always been read directly, whatever proxy the system names.
    m_manager->setProxy(QNetworkProxy::NoProxy);
    m_manager->setCache(nullptr);
}

VersionPageFetcher::~VersionPageFetcher()
{
    // Download has no meta-object of its own, so it is told from other children by its type.
    const QObjectList all = children();
    for (QObject* child : all) {
        if (auto* download = dynamic_cast<Download*>(child)) {
            download->Cancel();
            delete download;
        }
    }
    // Qt waits up to 5 s for a manager's network thread when the manager goes, and after an
    // abort that thread may still be busy: Qt reads a head to its end before it hands it
    // over, whatever its size. Such a manager stays with the application until the program
    // ends, so dropping a fetch never waits.
    if (m_abandonedReply && QCoreApplication::instance())
        m_manager->setParent(QCoreApplication::instance());
}

void VersionPageFetcher::Fetch(const QString& address, int timeoutMs)
{
    const QUrl url(address);
    if (!IsWebUrl(url)) {
        // Still from the event loop, so the caller sees the same order of events as for a
        // failure on the network.
        QMetaObject::invokeMethod(
            this, [this] { emit Finished(QByteArray()); }, Qt::QueuedConnection);
        return;
    }
    new Download(*m_manager, url, address, timeoutMs, this);
}

} // namespace mrvn
