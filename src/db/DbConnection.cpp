#include "db/DbConnection.h"

#include "db/SshTunnel.h"
#include "db/TlsCheck.h"
#include "text/TextUtil.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

namespace mrvn {

namespace {

const char* OrNull(const std::string& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// The leading decimal number of a cell: white space, sign, digits; saturates at the limits
// of the target instead of wrapping, so a huge value never turns negative. Unlike the text
// boxes' TextToInt64, a server's value never holds full-width digits, and each target type
// saturates at its own limits.
template <typename T> T LeadingInteger(const char* text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && IsAsciiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate toward the sign so the most negative value is reachable.
    T value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (value < (std::numeric_limits<T>::min() + digit) / 10)
                return std::numeric_limits<T>::min();
            value = static_cast<T>(value * 10 - digit);
        } else {
            if (value > (std::numeric_limits<T>::max() - digit) / 10)
                return std::numeric_limits<T>::max();
            value = static_cast<T>(value * 10 + digit);
        }
    }
    return value;
}

double LeadingDouble(const char* text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && IsAsciiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only a decimal number counts: "inf", "nan" and hexadecimal forms give 0.
    const bool startsWithDigit = i < length && text[i] >= '0' && text[i] <= '9';
    const bool startsWithPoint =
        i + 1 < length && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9';
    if (!startsWithDigit && !startsWithPoint)
        return 0.0;
    double value = 0.0;
    const auto result = std::from_chars(text + i, text + length, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone; keep what strtod would give.
        std::string copy(text + i, result.ptr);
        value = std::strtod(copy.c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

} // namespace

// ---- RowSet ---------------------------------------------------------------------------

struct ResultDeleter
{
    void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};

struct RowSet::Impl
{
    std::unique_ptr<MYSQL_RES, ResultDeleter> result;
    int columns = 0;
    // Row pointers and cell lengths taken once at construction: a cursor move is then an
    // index change instead of a seek through the result's row list.
    std::vector<MYSQL_ROW> rows;
    std::vector<unsigned long> lengths; // rows.size() * columns
    std::vector<std::string> names;
    std::size_t cursor = 0;

    // The row a read uses: the one under the cursor, or the last once the cursor has
    // passed it; -1 when there is no row.
    std::ptrdiff_t ReadRow() const
    {
        if (rows.empty())
            return -1;
        return static_cast<std::ptrdiff_t>(cursor < rows.size() ? cursor : rows.size() - 1);
    }
};

RowSet::RowSet() = default;
RowSet::~RowSet() = default;
RowSet::RowSet(RowSet&&) noexcept = default;
RowSet& RowSet::operator=(RowSet&&) noexcept = default;

RowSet::RowSet(st_mysql_res* result) : m_impl(std::make_unique<Impl>())
{
    m_impl->result.reset(result);
    m_impl->columns = static_cast<int>(mysql_num_fields(result));
    const MYSQL_FIELD* fields = mysql_fetch_fields(result);
    m_impl->names.reserve(static_cast<std::size_t>(m_impl->columns));
    for (int c = 0; c < m_impl->columns; ++c)
        m_impl->names.emplace_back(fields[c].name, fields[c].name_length);

    const auto count = static_cast<std::size_t>(mysql_num_rows(result));
    const auto columns = static_cast<std::size_t>(m_impl->columns);
    m_impl->rows.reserve(count);
    m_impl->lengths.resize(count * columns);
    std::size_t r = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long* lengths = mysql_fetch_lengths(result);
        m_impl->rows.push_back(row);
        if (r >= count)
            m_impl->lengths.resize((r + 1) * columns);
        std::memcpy(m_impl->lengths.data() + r * columns, lengths, columns * sizeof(unsigned long));
        ++r;
    }
    m_impl->lengths.resize(m_impl->rows.size() * columns);
}

bool RowSet::Valid() const
{
    return m_impl != nullptr;
}

std::int64_t RowSet::RowCount() const
{
    return m_impl ? static_cast<std::int64_t>(m_impl->rows.size()) : 0;
}

int RowSet::ColumnCount() const
{
    return m_impl ? m_impl->columns : 0;
}

bool RowSet::FirstRow()
{
    if (!m_impl)
        return false;
    m_impl->cursor = 0;
    return true;
}

bool RowSet::NextRow()
{
    if (!m_impl || m_impl->cursor >= m_impl->rows.size())
        return false;
    ++m_impl->cursor;
    return true;
}

int RowSet::ColumnIndex(std::string_view name) const
{
    if (!m_impl)
        return -1;
    for (std::size_t c = 0; c < m_impl->names.size(); ++c) {
        if (m_impl->names[c] == name)
            return static_cast<int>(c);
    }
    return -1;
}

const char* RowSet::Cell(int column, std::size_t& length) const
{
    length = 0;
    if (!m_impl)
        return nullptr;
    return CellAt(m_impl->ReadRow(), column, length);
}

const char* RowSet::CellAt(std::int64_t row, int column, std::size_t& length) const
{
    length = 0;
    if (!m_impl || column < 0 || column >= m_impl->columns || row < 0 ||
        row >= static_cast<std::int64_t>(m_impl->rows.size()))
        return nullptr;
    const auto r = static_cast<std::size_t>(row);
    const char* cell = m_impl->rows[r][column];
    if (cell)
        length = m_impl->lengths[r * static_cast<std::size_t>(m_impl->columns) +
                                 static_cast<std::size_t>(column)];
    return cell;
}

namespace {

// Shared front of every ReadField: false for a missing column or no row; otherwise
// `cell` is null for SQL NULL.
bool Locate(const RowSet& rows, int column, const char*& cell, std::size_t& length)
{
    if (column < 0 || column >= rows.ColumnCount() || rows.RowCount() == 0)
        return false;
    cell = rows.Cell(column, length);
    return true;
}

// The shared frame of the typed reads: a missing column leaves the target, NULL gives the
// type's empty value, anything else goes through `convert`.
template <typename T, typename Convert>
bool ReadConverted(const RowSet& rows, int column, T& value, Convert convert)
{
    const char* cell = nullptr;
    std::size_t length = 0;
    if (!Locate(rows, column, cell, length))
        return false;
    value = cell ? convert(cell, length) : T{};
    return true;
}

} // namespace

bool RowSet::ReadField(int column, std::string& text) const
{
    const char* cell = nullptr;
    std::size_t length = 0;
    if (!Locate(*this, column, cell, length))
        return false;
    if (!cell) {
        text.clear();
        return true;
    }
    const void* zero = std::memchr(cell, '\0', length);
    text.assign(cell, zero ? static_cast<const char*>(zero) - cell : length);
    return true;
}

bool RowSet::ReadField(int column, std::vector<unsigned char>& bytes) const
{
    const char* cell = nullptr;
    std::size_t length = 0;
    if (!Locate(*this, column, cell, length))
        return false;
    const auto* begin = reinterpret_cast<const unsigned char*>(cell);
    bytes.assign(begin, begin + (cell ? length : 0));
    return true;
}

bool RowSet::ReadField(int column, std::int16_t& value) const
{
    return ReadConverted(*this, column, value, LeadingInteger<std::int16_t>);
}

bool RowSet::ReadField(int column, std::int32_t& value) const
{
    return ReadConverted(*this, column, value, LeadingInteger<std::int32_t>);
}

bool RowSet::ReadField(int column, std::int64_t& value) const
{
    return ReadConverted(*this, column, value, LeadingInteger<std::int64_t>);
}

bool RowSet::ReadField(int column, double& value) const
{
    return ReadConverted(*this, column, value, LeadingDouble);
}

bool RowSet::ReadField(int column, bool& value) const
{
    // An empty text has no first character, so it is not "0".
    return ReadConverted(*this, column, value, [](const char* cell, std::size_t length) {
        return !(length > 0 && cell[0] == '0');
    });
}

void RowSet::Free()
{
    m_impl.reset();
}

// ---- DbConnection ---------------------------------------------------------------------

void DbConnection::Deleter::operator()(st_mysql* handle) const
{
    mysql_close(handle);
}

DbConnection::DbConnection() = default;
DbConnection::~DbConnection() = default;

namespace {

// MySQL 8's error for a plain login where the server takes only encrypted ones
// (require_secure_transport); the client library's headers do not name it.
constexpr unsigned kSecureTransportRequired = 3159;

// Classifies a failed login by what TLS had to do with it.
ReachReport ReachOfLoginError(const ConnectParams& params, const TlsCheckResult& check,
                              unsigned error, const std::string& text)
{
    ReachReport reach;
    reach.detail = text;
    if (params.tls.mode == TlsMode::Off) {
        // Over plain TCP, caching_sha2_password wants the password RSA-encrypted with a key the
        // server does not hand out (or TLS): the plug-in's error.
        if (error == CR_AUTH_PLUGIN_ERR)
            reach.failure = ReachFailure::SecureConnectionNeededForLogin;
        else if (error == kSecureTransportRequired)
            reach.failure = ReachFailure::TlsRequiredByServer;
    } else if (error == CR_SSL_CONNECTION_ERROR) {
        // The check passed, so a fingerprint refused here means the login was shown another
        // certificate than the check a moment before.
        const bool otherCertificate = text.find("ingerprint") != std::string::npos;
        reach.failure =
            otherCertificate ? ReachFailure::CertificateChanged : ReachFailure::TlsHandshakeFailed;
        if (otherCertificate)
            reach.pinnedFingerprint = check.sha256;
    }
    return reach;
}

// Sets a new handle's options; the connect itself is DbConnection::Open's. With TLS the login
// is bound to the certificate of `peerSha1` (the fingerprint the check saw).
void SetHandleOptions(MYSQL* handle, const ConnectParams& params, const ConnectOptions& options,
                      const char* charset, const std::string& peerSha1)
{
    // The character set goes in as an option, not only as a SET NAMES statement: the client
    // then knows it when escaping.
    mysql_options(handle, MYSQL_SET_CHARSET_NAME, charset);
    // The connection reconnects itself (DbConnection::Reconnect), so that it always knows the
    // id of the connection a statement runs on.
    my_bool reconnect = 0;
    mysql_options(handle, MYSQL_OPT_RECONNECT, &reconnect);
    // Zero would mean "wait for ever" to the library.
    const auto bounded = [](unsigned seconds) { return seconds > 0 ? seconds : 1u; };
    const unsigned connectTimeout = bounded(options.connectTimeoutSeconds);
    const unsigned readTimeout = bounded(options.readTimeoutSeconds);
    const unsigned writeTimeout = bounded(options.writeTimeoutSeconds);
    mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &writeTimeout);
    if (params.tls.mode == TlsMode::Off)
        return;
    // TLS over TCP even for "localhost", where the library would take the local socket.
    const unsigned tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(handle, MYSQL_OPT_PROTOCOL, &tcp);
    mysql_ssl_set(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
    // A fingerprint (or a verified certificate) also makes the library refuse a server without
    // TLS, where TLS alone would quietly go on in plain text.
    mysql_options(handle, MARIADB_OPT_TLS_PEER_FP, peerSha1.c_str());
    if (params.tls.mode == TlsMode::Verify) {
        if (!params.tls.caFile.empty())
            mysql_options(handle, MYSQL_OPT_SSL_CA, params.tls.caFile.c_str());
        // Through a tunnel the library sees 127.0.0.1; the check verified the real name.
        if (params.tls.verifyName.empty() || params.tls.verifyName == params.host) {
            const my_bool verify = 1;
            mysql_options(handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
        }
    }
}

bool UnknownCharacterSet(unsigned error)
{
    return error == CR_CANT_READ_CHARSET || error == ER_UNKNOWN_CHARACTER_SET;
}

} // namespace

bool DbConnection::Connect(const ConnectParams& params)
{
    return Connect(params, m_options);
}

namespace {

std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Marks the wait for the server in `since` for as long as it lives.
class Waiting
{
public:
    explicit Waiting(std::atomic<std::int64_t>& since) : m_since(since)
    {
        m_since.store(std::max<std::int64_t>(SteadyMs(), 1));
    }
    ~Waiting() { m_since.store(0); }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    std::atomic<std::int64_t>& m_since;
};

#ifdef _WIN32
constexpr SOCKET kNoSocket = INVALID_SOCKET;
#else
constexpr int kNoSocket = -1;
#endif

// Whether the peer has ended an idle connection: the socket reads as closed or broken, or (in
// plain text, where nothing arrives unasked) holds a farewell.
bool SocketEnded(my_socket socket, bool tls)
{
#ifdef _WIN32
    const auto native = static_cast<SOCKET>(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native, &readable);
    timeval now{0, 0};
    if (select(0, &readable, nullptr, nullptr, &now) <= 0)
        return false;
    char byte = 0;
    const int got = recv(native, &byte, 1, MSG_PEEK);
    if (got < 0)
        return WSAGetLastError() != WSAEWOULDBLOCK;
#else
    const int native = static_cast<int>(socket);
    pollfd poll{native, POLLIN, 0};
    if (::poll(&poll, 1, 0) <= 0)
        return false;
    if ((poll.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        return true;
    char byte = 0;
    const ssize_t got = recv(native, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got < 0)
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
#endif
    return got == 0 || !tls;
}

} // namespace

std::int64_t DbConnection::WaitingMs() const
{
    const std::int64_t since = m_waitingSince.load();
    return since == 0 ? 0 : std::max<std::int64_t>(SteadyMs() - since, 0);
}

void DbConnection::NoteConnectionId()
{
    m_connectionId.store(m_handle ? mysql_thread_id(m_handle.get()) : 0);
}

ConnectParams DbConnection::Params() const
{
    const std::lock_guard<std::mutex> lock(m_handleMutex);
    return m_params;
}

void DbConnection::Abort()
{
    const std::lock_guard<std::mutex> lock(m_handleMutex);
    m_aborted.store(true);
    if (m_handle)
        mariadb_cancel(m_handle.get());
    if (m_opening)
        mariadb_cancel(m_opening);
}

MYSQL* DbConnection::Open(const ConnectParams& params, const ConnectOptions& options,
                          const std::string& charset, unsigned& error, std::string& errorText,
                          bool& plain)
{
    plain = false;
    MYSQL* handle = mysql_init(nullptr);
    if (!handle) {
        error = CR_OUT_OF_MEMORY;
        return nullptr;
    }
    SetHandleOptions(handle, params, options, charset.c_str(), m_tlsPeerSha1);
    {
        // An Abort from now on breaks the connect; one that came before it stops it here.
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        if (m_aborted.load()) {
            mysql_close(handle);
            error = CR_SERVER_GONE_ERROR;
            errorText.clear();
            return nullptr;
        }
        m_opening = handle;
    }
    bool ok = mysql_real_connect(handle, OrNull(params.host), OrNull(params.user),
                                 OrNull(params.password), OrNull(params.database), params.port,
                                 nullptr, 0) != nullptr;
    const char* version = nullptr;
    if (ok && params.tls.mode != TlsMode::Off &&
        (mariadb_get_infov(handle, MARIADB_CONNECTION_TLS_VERSION, &version) != 0 || !version))
        plain = true;
    // A server that does not know the character set number of the handshake silently keeps
    // its own default, so the set is confirmed by name: an old server refuses SET NAMES
    // utf8mb4.
    ok = ok && !plain && mysql_set_character_set(handle, charset.c_str()) == 0;
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_opening = nullptr;
    }
    if (plain) {
        error = CR_SSL_CONNECTION_ERROR;
        errorText = "the connection is not encrypted";
    } else if (!ok || m_aborted.load()) {
        error = ok ? CR_SERVER_GONE_ERROR : mysql_errno(handle);
        errorText = ok ? std::string() : std::string(mysql_error(handle));
    }
    if (!ok || m_aborted.load()) {
        mysql_close(handle);
        return nullptr;
    }
    error = 0;
    errorText.clear();
    return handle;
}

MYSQL* DbConnection::OpenChecked(const ConnectParams& params, const ConnectOptions& options,
                                 const std::string& charset, unsigned& error)
{
    const bool tls = params.tls.mode != TlsMode::Off;
    // The certificate is checked before the login is sent anywhere.
    TlsCheckResult check;
    m_tlsPeerSha1.clear();
    if (tls) {
        check = CheckServerTls(params.host.empty() ? "localhost" : params.host,
                               params.port ? params.port : MYSQL_PORT, params.tls,
                               std::max(options.connectTimeoutSeconds, 1u));
        if (check.serverError != 0 || check.report.Failed()) {
            error = check.serverError != 0 ? check.serverError : CR_SSL_CONNECTION_ERROR;
            m_connectError = check.serverError != 0 ? check.serverErrorText : check.report.detail;
            m_reach = check.report;
            return nullptr;
        }
        m_tlsPeerSha1 = check.sha1Hex;
    }
    bool plain = false;
    MYSQL* handle = Open(params, options, charset, error, m_connectError, plain);
    m_reach = {};
    if (plain) {
        m_reach.failure = ReachFailure::TlsNotOffered;
        m_reach.detail = m_connectError;
    } else if (!handle) {
        m_reach = ReachOfLoginError(params, check, error, m_connectError);
    }
    return handle;
}

bool DbConnection::OpenTunnel(const ConnectParams& params, const ConnectOptions& options,
                              ConnectParams& route)
{
    m_reach = {};
    if (params.ssh.host.empty())
        return true;
    auto tunnel = std::make_unique<SshTunnel>();
    // The database as the SSH server sees it; an empty host means that machine itself.
    const std::string remoteHost = params.host.empty() ? "127.0.0.1" : params.host;
    m_reach = tunnel->Open(params.ssh, remoteHost, params.port ? params.port : MYSQL_PORT,
                           options.connectTimeoutSeconds);
    if (m_reach.Failed())
        return false;
    route.host = "127.0.0.1";
    route.port = tunnel->LocalPort();
    route.ssh = {};
    if (route.tls.verifyName.empty())
        route.tls.verifyName = remoteHost;
    m_tunnel = std::move(tunnel);
    return true;
}

ReachReport DbConnection::Reach() const
{
    if (m_reach.Failed() || !m_tunnel)
        return m_reach;
    return m_tunnel->LastFailure();
}

std::string DbConnection::TlsVersion() const
{
    const char* version = nullptr;
    if (!m_handle ||
        mariadb_get_infov(m_handle.get(), MARIADB_CONNECTION_TLS_VERSION, &version) != 0)
        return {};
    return version ? version : "";
}

bool DbConnection::Connect(const ConnectParams& params, const ConnectOptions& options)
{
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_handle.reset();
        m_aborted.store(false);
    }
    // The old tunnel goes after the handle that used it.
    m_tunnel.reset();
    m_connectionId.store(0);
    m_affected = 0;
    m_reconnectFailed = false;
    // What an earlier server refused says nothing about this one.
    m_refused = 0;
    unsigned error = 0;
    MYSQL* handle = nullptr;
    ConnectOptions connected = options;
    {
        const Waiting waiting(m_waitingSince);
        ConnectParams route = params;
        if (OpenTunnel(params, options, route)) {
            handle = OpenChecked(route, options, options.charset, error);
            // Servers before MySQL 5.5.3 do not know utf8mb4.
            if (!handle && UnknownCharacterSet(error) && options.charset != "utf8") {
                connected.charset = "utf8";
                handle = OpenChecked(route, options, connected.charset, error);
            }
        } else {
            error = CR_CONN_HOST_ERROR;
            m_connectError = m_reach.detail;
        }
        if (handle) {
            const std::lock_guard<std::mutex> lock(m_handleMutex);
            m_params = route;
        }
    }
    if (!handle) {
        // A channel the SSH server would not open shows in the login as a lost connection.
        if (!m_reach.Failed() && m_tunnel)
            m_reach = m_tunnel->LastFailure();
        m_tunnel.reset();
    }
    m_lastError = error;
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_handle.reset(handle);
    }
    if (handle)
        m_connectedOptions = connected;
    NoteConnectionId();
    return handle != nullptr;
}

bool DbConnection::Ended() const
{
    MYSQL* handle = m_handle.get();
    const my_socket socket = mysql_get_socket(handle);
    if (socket == static_cast<my_socket>(kNoSocket))
        return true;
    // With an answer still to be read, the socket holds it; the library tells that state.
    if (handle->status != MYSQL_STATUS_READY)
        return false;
    // A server sends nothing unasked but a farewell before it closes (over TLS, though,
    // records of the protocol itself may wait to be read).
    return SocketEnded(socket, mysql_get_ssl_cipher(handle) != nullptr);
}

bool DbConnection::Reconnect()
{
    // The old connection is gone: its id is nobody's to stop until the new one is there.
    m_connectionId.store(0);
    ConnectParams params = Params();
    const char* schema = nullptr;
    if (mariadb_get_infov(m_handle.get(), MARIADB_CONNECTION_SCHEMA, &schema) == 0 && schema)
        params.database = schema;
    unsigned error = 0;
    bool plain = false;
    // Through a tunnel whose session broke, the wait for the server's greeting also holds the
    // SSH login the tunnel makes again first; when that login fails, the tunnel ends the wait
    // itself.
    ConnectOptions options = m_connectedOptions;
    if (m_tunnel)
        options.connectTimeoutSeconds = 2 * std::max(options.connectTimeoutSeconds, 1u);
    // Bound to the certificate the connect's check saw.
    MYSQL* handle =
        Open(params, options, m_connectedOptions.charset, error, m_connectError, plain);
    if (!handle) {
        if (plain) {
            m_reach.failure = ReachFailure::TlsNotOffered;
            m_reach.detail = m_connectError;
        }
        m_lastError = error;
        m_reconnectFailed = true;
        return false;
    }
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_handle.reset(handle);
    }
    NoteConnectionId();
    return true;
}

bool DbConnection::IsOpen() const
{
    return m_handle != nullptr;
}

void DbConnection::Close()
{
    {
        const std::lock_guard<std::mutex> lock(m_handleMutex);
        m_handle.reset();
    }
    m_tunnel.reset();
    m_connectionId.store(0);
    m_affected = 0;
}

std::string DbConnection::CharacterSet() const
{
    return m_handle ? std::string(mysql_character_set_name(m_handle.get())) : std::string();
}

bool DbConnection::ExecSql(std::string_view sql)
{
    if (!m_handle)
        return false;
    if (m_aborted.load()) {
        m_lastError = CR_SERVER_GONE_ERROR;
        m_affected = -1;
        return false;
    }
    m_reconnectFailed = false;
    int failed = 0;
    {
        const Waiting waiting(m_waitingSince);
        if (Ended() && !Reconnect()) {
            m_affected = -1;
            return false;
        }
        if (m_observer)
            m_observer(sql);
        failed =
            mysql_real_query(m_handle.get(), sql.data(), static_cast<unsigned long>(sql.size()));
    }
    if (failed != 0) {
        m_lastError = mysql_errno(m_handle.get());
        m_affected = -1;
        return false;
    }
    m_lastError = 0;
    const my_ulonglong affected = mysql_affected_rows(m_handle.get());
    m_affected =
        affected == static_cast<my_ulonglong>(-1) ? 0 : static_cast<std::int64_t>(affected);
    return true;
}

st_mysql_res* DbConnection::TakeResult(bool stream)
{
    if (!m_handle)
        return nullptr;
    MYSQL_RES* result = nullptr;
    {
        const Waiting waiting(m_waitingSince);
        result = stream ? mysql_use_result(m_handle.get()) : mysql_store_result(m_handle.get());
    }
    if (!result && mysql_errno(m_handle.get()) != 0) {
        m_lastError = mysql_errno(m_handle.get());
        m_affected = -1;
    }
    return result;
}

RowSet DbConnection::StoreResult()
{
    MYSQL_RES* result = TakeResult(false);
    if (!result)
        return {};
    m_affected = static_cast<std::int64_t>(mysql_num_rows(result));
    return RowSet(result);
}

struct RowStream::Impl
{
    std::unique_ptr<MYSQL_RES, ResultDeleter> result;
    MYSQL* handle = nullptr;
    std::atomic<std::int64_t>* waitingSince = nullptr;
    unsigned* lastError = nullptr;
    int columns = 0;
    MYSQL_ROW row = nullptr;
    unsigned long* lengths = nullptr;
};

RowStream::RowStream() = default;
RowStream::~RowStream() = default;
RowStream::RowStream(RowStream&&) noexcept = default;
RowStream& RowStream::operator=(RowStream&&) noexcept = default;

bool RowStream::Valid() const
{
    return m_impl != nullptr;
}

int RowStream::ColumnCount() const
{
    return m_impl ? m_impl->columns : 0;
}

bool RowStream::NextRow()
{
    if (!m_impl || !m_impl->result)
        return false;
    {
        const Waiting waiting(*m_impl->waitingSince);
        m_impl->row = mysql_fetch_row(m_impl->result.get());
    }
    if (!m_impl->row) {
        m_impl->lengths = nullptr;
        if (const unsigned error = mysql_errno(m_impl->handle))
            *m_impl->lastError = error;
        return false;
    }
    m_impl->lengths = mysql_fetch_lengths(m_impl->result.get());
    return true;
}

const char* RowStream::Cell(int column, std::size_t& length) const
{
    length = 0;
    if (!m_impl || !m_impl->row || column < 0 || column >= m_impl->columns)
        return nullptr;
    const char* cell = m_impl->row[column];
    if (cell)
        length = m_impl->lengths[column];
    return cell;
}

bool RowStream::ReadField(int column, std::int64_t& value) const
{
    if (!m_impl || !m_impl->row || column < 0 || column >= m_impl->columns)
        return false;
    std::size_t length = 0;
    const char* cell = Cell(column, length);
    value = cell ? LeadingInteger<std::int64_t>(cell, length) : 0;
    return true;
}

RowStream DbConnection::UseResult()
{
    MYSQL_RES* result = TakeResult(true);
    if (!result)
        return {};
    RowStream stream;
    stream.m_impl = std::make_unique<RowStream::Impl>();
    stream.m_impl->result.reset(result);
    stream.m_impl->handle = m_handle.get();
    stream.m_impl->waitingSince = &m_waitingSince;
    stream.m_impl->lastError = &m_lastError;
    stream.m_impl->columns = static_cast<int>(mysql_num_fields(result));
    return stream;
}

std::string BuildSelect(std::string_view table, std::string_view fields, std::string_view condition,
                        std::string_view order)
{
    std::string sql;
    sql.reserve(20 + table.size() + fields.size() + condition.size() + order.size());
    sql.append("select ").append(fields).append(" from ").append(table);
    if (!condition.empty())
        sql.append(" where ").append(condition);
    if (!order.empty())
        sql.append(" order by ").append(order);
    return sql;
}

RowSet DbConnection::SelectRows(std::string_view table, std::string_view fields,
                                std::string_view condition, std::string_view order)
{
    if (!ExecSql(BuildSelect(table, fields, condition, order)))
        return {};
    return StoreResult();
}

bool DbConnection::ShowTables()
{
    return ExecSql("show tables");
}

std::int64_t DbConnection::AffectedRows() const
{
    return m_handle ? m_affected : 0;
}

unsigned DbConnection::LastError() const
{
    return m_lastError;
}

bool DbConnection::ConnectionLost() const
{
    switch (m_lastError) {
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
        return true;
    default:
        return false;
    }
}

bool DbConnection::QueryInterrupted() const
{
    return m_lastError == ER_QUERY_INTERRUPTED;
}

std::string DbConnection::LastErrorText() const
{
    // Without a handle, or after a reconnect that failed, the reason the connect failed
    // (empty when none was tried).
    return m_handle && !m_reconnectFailed ? std::string(mysql_error(m_handle.get()))
                                          : m_connectError;
}

std::string DbConnection::EscapeString(std::string_view text) const
{
    if (!m_handle)
        return EscapeSqlLiteral(text);
    std::string out(text.size() * 2 + 1, '\0');
    const unsigned long length = mysql_real_escape_string(m_handle.get(), out.data(), text.data(),
                                                          static_cast<unsigned long>(text.size()));
    if (length == static_cast<unsigned long>(-1))
        return EscapeSqlLiteral(text);
    out.resize(length);
    return out;
}

std::string DbConnection::QuoteIdentifier(std::string_view name)
{
    std::string out;
    out.reserve(name.size() + 2);
    out.push_back('`');
    for (const char c : name) {
        if (c == '`')
            out.push_back('`');
        out.push_back(c);
    }
    out.push_back('`');
    return out;
}

std::string DbConnection::QuoteString(std::string_view text) const
{
    return "'" + EscapeString(text) + "'";
}

bool KillQuery(const ConnectParams& params, unsigned long connectionId)
{
    if (connectionId == 0)
        return false;
    // Short waits: this runs while the operator waits for the stop.
    ConnectOptions options;
    options.connectTimeoutSeconds = 3;
    options.readTimeoutSeconds = 3;
    options.writeTimeoutSeconds = 3;
    DbConnection second;
    if (!second.Connect(params, options))
        return false;
    return second.ExecSql("KILL QUERY " + std::to_string(connectionId));
}

bool WaitUntilConnectionEnded(DbConnection& db, unsigned long oldConnectionId, int maxSeconds,
                              const std::function<bool()>& goOn)
{
    if (oldConnectionId == 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    // The process list shows a user's own connections without any further privilege.
    const std::string sql = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                            std::to_string(oldConnectionId);
    for (;;) {
        if ((goOn && !goOn()) || db.Aborted())
            return false;
        if (db.ExecSql(sql)) {
            RowSet rows = db.StoreResult();
            // Ids are unique among the server's connections: when the server gave our own
            // new connection the old id, the old connection has ended (and the count would
            // count ourselves).
            if (db.ConnectionId() == oldConnectionId)
                return true;
            std::int64_t count = -1;
            if (rows.Valid() && rows.FirstRow() && rows.ReadField(0, count) && count == 0)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

std::string EscapeSqlLiteral(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    for (const char c : text) {
        switch (c) {
        case '\0':
            out.append("\\0");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\'':
            out.append("\\'");
            break;
        case '"':
            out.append("\\\"");
            break;
        case '\x1a':
            out.append("\\Z");
            break;
        default:
            out.push_back(c);
            break;
        }
    }
    return out;
}

} // namespace mrvn
