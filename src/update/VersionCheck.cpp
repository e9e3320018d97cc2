#include "update/VersionCheck.h"

#include "text/TextUtil.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace mrvn {

namespace {

constexpr char kPieceMarker[] = "分割线";
constexpr int kMaxPieces = 10;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

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
    info.verdict = kProgramVersion - TextToDouble(info.newest) < -0.0000001
                       ? VersionVerdict::NewerAvailable
                       : VersionVerdict::UpToDate;
    return info;
}

std::string NewVersionQuestion(std::string_view newest)
{
    std::string text = "发现新版本！\r\n软件当前版本：";
    text += kProgramVersionText;
    text += "　最新版本：";
    text += newest;
    text += "　是否要更新？";
    return text;
}

std::optional<std::string> WebAddressToOpen(std::string_view address)
{
    constexpr std::string_view kBlank = " \t\r\n";
    const std::size_t first = address.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::string_view trimmed =
        address.substr(first, address.find_last_not_of(kBlank) - first + 1);
    if (!StartsWithNoCase(trimmed, "http://") && !StartsWithNoCase(trimmed, "https://"))
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

VersionPageFetcher::VersionPageFetcher(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    // Straight to the server: no proxy, and no cache is ever attached to this manager.
    m_network->setProxy(QNetworkProxy::NoProxy);
}

VersionPageFetcher::~VersionPageFetcher() = default;

void VersionPageFetcher::Fetch(const QString& address, int timeoutMs)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
        // Still asynchronous, so the caller sees the same order of events as for a failure
        // on the network.
        QTimer::singleShot(0, this, [this] { emit Finished(QByteArray()); });
        return;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, address);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = m_network->get(request);

    // The deadline covers the whole download, so a server that trickles bytes forever
    // still ends as unreadable.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    auto timedOut = std::make_shared<bool>(false);
    connect(deadline, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, timedOut] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (*timedOut || reply->error() != QNetworkReply::NoError || status >= 400) {
            emit Finished(QByteArray());
            return;
        }
        emit Finished(reply->readAll());
    });
    deadline->start(timeoutMs);
}

} // namespace mrvn
