#include "db/SshTunnel.h"

#include <libssh/libssh.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace mrvn {

namespace {

// ---- The few socket calls that differ between POSIX and Windows --------------------------

#ifdef _WIN32
using Socket = SOCKET;
using PollFd = WSAPOLLFD;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s)
{
    closesocket(s);
}
int PollSockets(PollFd* fds, std::size_t count, int timeoutMs)
{
    return WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
}
bool WouldBlock()
{
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
void SetNonBlocking(Socket s, bool on)
{
    u_long mode = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &mode);
}
constexpr int kShutBoth = SD_BOTH;
constexpr int kNoSignal = 0;
std::string LastSocketError()
{
    return "socket error " + std::to_string(WSAGetLastError());
}
#else
using Socket = int;
using PollFd = pollfd;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s)
{
    close(s);
}
int PollSockets(PollFd* fds, std::size_t count, int timeoutMs)
{
    return poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS || errno == EINTR;
}
void SetNonBlocking(Socket s, bool on)
{
    const int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kNoSignal = MSG_NOSIGNAL;
std::string LastSocketError()
{
    return std::strerror(errno);
}
#endif

void SetNoDelay(Socket s)
{
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

// What a key exchange may pick, in order: fixed, so the host key (and its fingerprint) is the
// same at every connect, whatever ~/.ssh/known_hosts would have preferred.
constexpr const char* kHostKeyOrder = "ssh-ed25519,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,"
                                      "ecdsa-sha2-nistp521,rsa-sha2-512,rsa-sha2-256";
constexpr std::size_t kChunk = 16 * 1024;
// Bytes from the server waiting for the local client before the channel is read no further
// (the SSH window then holds the server back).
constexpr std::size_t kMaxPending = 1024 * 1024;
constexpr auto kKeepaliveInterval = std::chrono::seconds(15);
constexpr int kPollMs = 100;

ReachReport Report(ReachFailure failure, std::string detail)
{
    ReachReport report;
    report.failure = failure;
    report.detail = std::move(detail);
    return report;
}

struct Link
{
    Socket local = kNoSocket;
    ssh_channel channel = nullptr;
    std::string toLocal;
    bool remoteDone = false; // the channel ended: close once toLocal is delivered
    bool closed = false;
};

} // namespace

struct SshTunnel::Impl
{
    SshSettings settings;
    std::string remoteHost;
    unsigned remotePort = 0;
    unsigned timeoutSeconds = 5;

    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<unsigned> localPort{0};
    std::atomic<int> sessionsOpened{0};

    // Guards lastFailure and sessionSocket, which other threads read or shut down.
    mutable std::mutex mutex;
    ReachReport lastFailure;
    Socket sessionSocket = kNoSocket;

    // The tunnel's thread alone uses these.
    Socket listener = kNoSocket;
    ssh_session session = nullptr;
    ssh_event event = nullptr;
    ssh_key key = nullptr;
    std::vector<Link> links;
    std::chrono::steady_clock::time_point lastKeepalive;

    void Run(std::promise<ReachReport>& opened);
    ReachReport ImportKey();
    ReachReport OpenSession();
    ReachReport ConnectSocket(Socket& out);
    ReachReport OpenListener();
    void CloseSession();
    void SessionLost(const std::string& why);
    void Pump();
    void Accept();
    bool OpenChannel(Link& link, unsigned short peerPort);
    void FromLocal(Link& link);
    void ToLocal(Link& link);
    void CloseLink(Link& link);
    void NoteFailure(const ReachReport& report)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        lastFailure = report;
    }
};

SshTunnel::SshTunnel() : m_impl(std::make_unique<Impl>()) {}

SshTunnel::~SshTunnel()
{
    m_impl->stop.store(true);
    {
        // A libssh call that waits on the network in the tunnel's thread ends at once.
        const std::lock_guard<std::mutex> lock(m_impl->mutex);
        if (m_impl->sessionSocket != kNoSocket)
            shutdown(m_impl->sessionSocket, kShutBoth);
    }
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

ReachReport SshTunnel::Open(const SshSettings& settings, const std::string& remoteHost,
                            unsigned remotePort, unsigned timeoutSeconds)
{
    static const int initialised = ssh_init();
    (void)initialised;
    m_impl->settings = settings;
    m_impl->remoteHost = remoteHost;
    m_impl->remotePort = remotePort;
    m_impl->timeoutSeconds = timeoutSeconds > 0 ? timeoutSeconds : 1;
    std::promise<ReachReport> opened;
    std::future<ReachReport> result = opened.get_future();
    Impl* impl = m_impl.get();
    m_impl->thread = std::thread([impl, &opened] { impl->Run(opened); });
    ReachReport report = result.get();
    if (report.Failed())
        m_impl->thread.join();
    return report;
}

unsigned SshTunnel::LocalPort() const
{
    return m_impl->localPort.load();
}

ReachReport SshTunnel::LastFailure() const
{
    const std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->lastFailure;
}

int SshTunnel::SessionsOpened() const
{
    return m_impl->sessionsOpened.load();
}

void SshTunnel::Impl::Run(std::promise<ReachReport>& opened)
{
    ReachReport report = ImportKey();
    if (!report.Failed())
        report = OpenSession();
    if (!report.Failed())
        report = OpenListener();
    const bool ok = !report.Failed();
    // `opened` belongs to Open, which returns (or joins) once it has the value.
    opened.set_value(report);
    if (ok)
        Pump();
    for (Link& link : links)
        CloseLink(link);
    links.clear();
    CloseSession();
    if (listener != kNoSocket)
        CloseSocket(listener);
    listener = kNoSocket;
    if (key)
        ssh_key_free(key);
    key = nullptr;
}

namespace {

// Whether the file looks like a private key at all ("-----BEGIN ... PRIVATE KEY-----"): libssh
// built with mbedTLS asks for a passphrase for any PEM text it cannot read, a public key too.
bool LooksLikePrivateKey(const std::string& path)
{
#ifdef _WIN32
    std::ifstream file(std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size())));
#else
    std::ifstream file(path);
#endif
    std::string head(256, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    return head.find("PRIVATE KEY-----") != std::string::npos;
}

} // namespace

ReachReport SshTunnel::Impl::ImportKey()
{
    if (settings.keyFile.empty()) {
        if (settings.password.empty())
            return Report(ReachFailure::SshLoginRefused, "neither a key file nor a password");
        return {};
    }
    const char* path = settings.keyFile.c_str();
    // A key without a passphrase, read without asking for one.
    int rc = ssh_pki_import_privkey_file(path, nullptr, nullptr, nullptr, &key);
    if (rc == SSH_OK)
        return {};
    key = nullptr;
    if (rc == SSH_EOF)
        return Report(ReachFailure::SshKeyUnreadable, "cannot read " + settings.keyFile);
    if (!LooksLikePrivateKey(settings.keyFile))
        return Report(ReachFailure::SshKeyUnreadable, "no private key: " + settings.keyFile);
    if (!settings.keyPassphrase.empty()) {
        rc = ssh_pki_import_privkey_file(path, settings.keyPassphrase.c_str(), nullptr, nullptr,
                                         &key);
        if (rc == SSH_OK)
            return {};
        key = nullptr;
    }
    // libssh asks this callback only for a key that is encrypted; refusing ends the import.
    const ssh_auth_callback noteAsked = [](const char*, char*, std::size_t, int, int,
                                           void* asked) -> int {
        *static_cast<bool*>(asked) = true;
        return -1;
    };
    bool asked = false;
    ssh_key probe = nullptr;
    if (ssh_pki_import_privkey_file(path, nullptr, noteAsked, &asked, &probe) == SSH_OK)
        ssh_key_free(probe);
    if (!asked)
        return Report(ReachFailure::SshKeyUnreadable, "no private key: " + settings.keyFile);
    return settings.keyPassphrase.empty()
               ? Report(ReachFailure::SshKeyNeedsPassphrase, settings.keyFile)
               : Report(ReachFailure::SshKeyPassphraseWrong, settings.keyFile);
}

ReachReport SshTunnel::Impl::ConnectSocket(Socket& out)
{
    out = kNoSocket;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const std::string port = std::to_string(settings.port ? settings.port : 22);
    if (getaddrinfo(settings.host.c_str(), port.c_str(), &hints, &addresses) != 0 || !addresses)
        return Report(ReachFailure::SshUnreachable, "unknown host " + settings.host);
    std::string why = "no address";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (addrinfo* a = addresses; a && out == kNoSocket && !stop.load(); a = a->ai_next) {
        Socket s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kNoSocket)
            continue;
        {
            // Published from the start, so the destructor can break a connect in progress.
            const std::lock_guard<std::mutex> lock(mutex);
            sessionSocket = s;
        }
        SetNonBlocking(s, true);
        bool connected = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
        if (!connected && WouldBlock()) {
            while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
                PollFd fd{};
                fd.fd = s;
                fd.events = POLLOUT;
                if (PollSockets(&fd, 1, kPollMs) > 0) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
                    connected = error == 0;
#ifdef _WIN32
                    why = "socket error " + std::to_string(error);
#else
                    why = std::strerror(error);
#endif
                    break;
                }
            }
            if (!connected && std::chrono::steady_clock::now() >= deadline)
                why = "timed out";
        } else if (!connected) {
            why = LastSocketError();
        }
        if (connected) {
            SetNonBlocking(s, false);
            SetNoDelay(s);
            int one = 1;
            setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&one),
                       sizeof one);
            out = s;
        } else {
            const std::lock_guard<std::mutex> lock(mutex);
            sessionSocket = kNoSocket;
            CloseSocket(s);
        }
    }
    freeaddrinfo(addresses);
    if (out == kNoSocket)
        return Report(ReachFailure::SshUnreachable,
                      settings.host + ":" + port + ": " + (stop.load() ? "stopped" : why));
    return {};
}

ReachReport SshTunnel::Impl::OpenSession()
{
    Socket s = kNoSocket;
    ReachReport report = ConnectSocket(s);
    if (report.Failed())
        return report;
    session = ssh_new();
    if (!session) {
        const std::lock_guard<std::mutex> lock(mutex);
        sessionSocket = kNoSocket;
        CloseSocket(s);
        return Report(ReachFailure::SshFailed, "out of memory");
    }
    // From here on the session owns the socket and closes it.
    const bool no = false;
    const long timeout = static_cast<long>(timeoutSeconds);
    const int port = static_cast<int>(settings.port ? settings.port : 22);
    const int one = 1;
    // Known-hosts files are never read: the pinned fingerprint is the only trust.
#ifdef _WIN32
    const char* nowhere = "NUL";
#else
    const char* nowhere = "/dev/null";
#endif
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(session, SSH_OPTIONS_HOST, settings.host.c_str());
    ssh_options_set(session, SSH_OPTIONS_PORT, &port);
    if (!settings.user.empty())
        ssh_options_set(session, SSH_OPTIONS_USER, settings.user.c_str());
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeout);
    ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, nowhere);
    ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, nowhere);
    ssh_options_set(session, SSH_OPTIONS_HOSTKEYS, kHostKeyOrder);
    ssh_options_set(session, SSH_OPTIONS_NODELAY, &one);
    ssh_options_set(session, SSH_OPTIONS_FD, &s);
    if (ssh_connect(session) != SSH_OK) {
        report = Report(stop.load() ? ReachFailure::SshUnreachable : ReachFailure::SshFailed,
                        ssh_get_error(session));
        CloseSession();
        return report;
    }

    ssh_key hostKey = nullptr;
    unsigned char* hash = nullptr;
    std::size_t hashLength = 0;
    std::string seen;
    if (ssh_get_server_publickey(session, &hostKey) == SSH_OK &&
        ssh_get_publickey_hash(hostKey, SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLength) == 0) {
        char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLength);
        if (text)
            seen = text;
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(hostKey);
    report.seenFingerprint = seen;
    report.pinnedFingerprint = settings.pinnedFingerprint;
    if (seen.empty())
        report.failure = ReachFailure::SshFailed;
    else if (settings.pinnedFingerprint.empty())
        report.failure = ReachFailure::SshHostKeyNotPinned;
    else if (!SameHostKeyFingerprint(seen, settings.pinnedFingerprint))
        report.failure = ReachFailure::SshHostKeyChanged;
    if (report.Failed()) {
        // Nothing secret has been sent to a server whose key is not the pinned one.
        report.detail = seen.empty() ? "the server's host key could not be read" : "host key";
        CloseSession();
        return report;
    }

    const int auth = key ? ssh_userauth_publickey(session, nullptr, key)
                         : ssh_userauth_password(session, nullptr, settings.password.c_str());
    if (auth != SSH_AUTH_SUCCESS) {
        report.failure =
            auth == SSH_AUTH_ERROR ? ReachFailure::SshFailed : ReachFailure::SshLoginRefused;
        report.detail = auth == SSH_AUTH_ERROR ? std::string(ssh_get_error(session))
                                               : "the server refused the login of " + settings.user;
        CloseSession();
        return report;
    }
    event = ssh_event_new();
    if (event)
        ssh_event_add_session(event, session);
    lastKeepalive = std::chrono::steady_clock::now();
    sessionsOpened.fetch_add(1);
    NoteFailure({});
    return {};
}

ReachReport SshTunnel::Impl::OpenListener()
{
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoSocket)
        return Report(ReachFailure::SshFailed, "local listener: " + LastSocketError());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return Report(ReachFailure::SshFailed, "local listener: " + LastSocketError());
    SetNonBlocking(listener, true);
    localPort.store(ntohs(address.sin_port));
    return {};
}

void SshTunnel::Impl::CloseSession()
{
    if (event) {
        if (session)
            ssh_event_remove_session(event, session);
        ssh_event_free(event);
        event = nullptr;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        sessionSocket = kNoSocket;
    }
    if (session) {
        if (ssh_is_connected(session))
            ssh_disconnect(session);
        ssh_free(session);
        session = nullptr;
    }
}

void SshTunnel::Impl::SessionLost(const std::string& why)
{
    // Every carried connection ends now, so the database client learns at once that its
    // connection is gone instead of waiting out its read time-out.
    for (Link& link : links)
        CloseLink(link);
    links.clear();
    NoteFailure(Report(ReachFailure::SshFailed, "the SSH session broke: " + why));
    CloseSession();
}

void SshTunnel::Impl::CloseLink(Link& link)
{
    if (link.closed)
        return;
    link.closed = true;
    if (link.channel) {
        if (session && ssh_is_connected(session))
            ssh_channel_close(link.channel);
        ssh_channel_free(link.channel);
        link.channel = nullptr;
    }
    if (link.local != kNoSocket)
        CloseSocket(link.local);
    link.local = kNoSocket;
}

bool SshTunnel::Impl::OpenChannel(Link& link, unsigned short peerPort)
{
    // A session found broken here (idle while the server went away) is opened once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!session) {
            const ReachReport report = OpenSession();
            if (report.Failed()) {
                NoteFailure(report);
                return false;
            }
        }
        link.channel = ssh_channel_new(session);
        if (link.channel &&
            ssh_channel_open_forward(link.channel, remoteHost.c_str(), static_cast<int>(remotePort),
                                     "127.0.0.1", peerPort) == SSH_OK)
            return true;
        const std::string why = ssh_get_error(session);
        if (link.channel)
            ssh_channel_free(link.channel);
        link.channel = nullptr;
        if (ssh_is_connected(session)) {
            NoteFailure(Report(ReachFailure::SshForwardRefused,
                               remoteHost + ":" + std::to_string(remotePort) + ": " + why));
            return false;
        }
        SessionLost(why);
    }
    return false;
}

void SshTunnel::Impl::Accept()
{
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const Socket s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (s == kNoSocket)
            return;
        SetNonBlocking(s, true);
        SetNoDelay(s);
        Link link;
        link.local = s;
        if (!OpenChannel(link, ntohs(peer.sin_port))) {
            CloseLink(link);
            continue;
        }
        links.push_back(std::move(link));
    }
}

void SshTunnel::Impl::FromLocal(Link& link)
{
    char buffer[kChunk];
    for (;;) {
        const auto n = recv(link.local, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (ssh_channel_write(link.channel, buffer, static_cast<uint32_t>(n)) == SSH_ERROR) {
                CloseLink(link);
                return;
            }
            continue;
        }
        // The client closed (it sends nothing after its last statement), or failed.
        if (n == 0 || !WouldBlock())
            CloseLink(link);
        return;
    }
}

void SshTunnel::Impl::ToLocal(Link& link)
{
    char buffer[kChunk];
    while (!link.closed && link.toLocal.size() < kMaxPending) {
        const int n = ssh_channel_read_nonblocking(link.channel, buffer, sizeof buffer, 0);
        if (n > 0) {
            link.toLocal.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && n != SSH_AGAIN)
            link.remoteDone = true;
        break;
    }
    while (!link.closed && !link.toLocal.empty()) {
        const auto n =
            send(link.local, link.toLocal.data(), static_cast<int>(link.toLocal.size()), kNoSignal);
        if (n > 0) {
            link.toLocal.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (!WouldBlock())
            CloseLink(link);
        break;
    }
    if (!link.closed && link.toLocal.empty() &&
        (link.remoteDone || ssh_channel_is_eof(link.channel) ||
         ssh_channel_is_closed(link.channel)))
        CloseLink(link);
}

void SshTunnel::Impl::Pump()
{
    std::vector<PollFd> fds;
    while (!stop.load()) {
        fds.clear();
        PollFd fd{};
        fd.fd = listener;
        fd.events = POLLIN;
        fds.push_back(fd);
        const Socket sessionFd = session ? ssh_get_fd(session) : kNoSocket;
        fd.fd = sessionFd;
        fd.events = sessionFd != kNoSocket ? POLLIN : 0;
        if (sessionFd != kNoSocket)
            fds.push_back(fd);
        const std::size_t firstLink = fds.size();
        for (const Link& link : links) {
            fd.fd = link.local;
            fd.events = static_cast<short>(POLLIN | (link.toLocal.empty() ? 0 : POLLOUT));
            fds.push_back(fd);
        }
        if (PollSockets(fds.data(), fds.size(), kPollMs) < 0 && !WouldBlock())
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        if (stop.load())
            break;

        if (session && event && sessionFd != kNoSocket && fds[1].revents != 0)
            ssh_event_dopoll(event, 0);
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (fds[firstLink + i].revents & (POLLIN | POLLHUP | POLLERR))
                FromLocal(links[i]);
        }
        for (Link& link : links)
            ToLocal(link);
        std::erase_if(links, [](const Link& link) { return link.closed; });
        if (fds[0].revents & POLLIN)
            Accept();

        if (session) {
            if (!ssh_is_connected(session) ||
                (ssh_get_status(session) & (SSH_CLOSED | SSH_CLOSED_ERROR))) {
                SessionLost(ssh_get_error(session));
            } else if (std::chrono::steady_clock::now() - lastKeepalive >= kKeepaliveInterval) {
                // An ignored message keeps idle firewalls and NATs from dropping the session,
                // and a write that fails shows a peer that has gone.
                lastKeepalive = std::chrono::steady_clock::now();
                if (ssh_send_ignore(session, "") != SSH_OK)
                    SessionLost(ssh_get_error(session));
            }
        }
    }
}

} // namespace mrvn
