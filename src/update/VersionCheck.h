#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QNetworkAccessManager;

// The start-up version check: the version page is cut at "分割线"; the second piece is the
// newest version, the fourth the address to download it from. Rules this module keeps:
// - the page is fetched without blocking the window, within a time-out that covers the
//   whole answer and every redirect (at most three, never from https down to http);
// - the answer is bounded: a head over 64 KiB or a body over kMaxVersionPageBytes makes the
//   page unreadable (the reply is aborted as soon as the limit is passed), and no more than
//   kVersionPageReadChunk is read at once or left waiting in the reply;
// - HTTP itself (status, framing, redirects, TLS) is Qt's: this module parses no HTTP;
// - the page comes from outside: whatever it holds, the only address the tool will open
//   from it is an http or https address with a host (WebAddressToOpen), never a program
//   or a file on the machine.
namespace mrvn {

// The version page's address, fixed when the program is built.
std::string VersionPageAddress();

enum class VersionVerdict { Unreadable, UpToDate, NewerAvailable };

struct VersionPageInfo
{
    VersionVerdict verdict = VersionVerdict::Unreadable;
    std::string newest;  // the version text exactly as the page has it
    std::string address; // the update address with its paragraph tags dealt with
};

// NewerAvailable when the page's version exceeds the program's own (MRVN_VERSION_TEXT).
VersionPageInfo ParseVersionPage(std::string_view bodyBytes);

// The update address as it may be opened: only an http or https address with a host,
// never a local program or file.
std::optional<std::string> WebAddressToOpen(std::string_view address);

// A version page is a few lines; a body beyond this is not one and counts as unreadable.
inline constexpr qint64 kMaxVersionPageBytes = 1024 * 1024;
// The most read from the connection at once, and the most its socket holds ahead of us.
inline constexpr qint64 kVersionPageReadChunk = 64 * 1024;

// Downloads the version page without blocking the window, through Qt's HTTP client (no
// proxy, no cache, the address as the agent), following up to three redirects, never from
// https down to http. Finished is emitted exactly once per Fetch, always from the event
// loop (never inside Fetch), with an empty body when the page could not be read: no
// answer, a status other than 2xx, a head over 64 KiB, a body over kMaxVersionPageBytes,
// or no complete answer within the time-out. Destroying the fetcher drops what is still
// running at once, without a Finished.
class VersionPageFetcher : public QObject
{
    Q_OBJECT

public:
    explicit VersionPageFetcher(QObject* parent = nullptr);
    ~VersionPageFetcher() override;

    void Fetch(const QString& address, int timeoutMs = 10000);

    // The most bytes of a page held at once so far: what was read plus what waited in the
    // reply.
    qint64 PeakBufferedBytes() const { return m_peakBuffered; }

signals:
    void Finished(QByteArray body);

private:
    class Download;
    QNetworkAccessManager* m_manager;
    qint64 m_peakBuffered = 0;
    // A reply was aborted before Qt had finished it (see the destructor).
    bool m_abandonedReply = false;
};

} // namespace mrvn
