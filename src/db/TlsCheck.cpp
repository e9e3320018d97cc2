#include "db/TlsCheck.h"

#include <QCryptographicHash>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QString>

#include <errmsg.h>

#include <algorithm>

namespace mrvn {

namespace {

// Capability bits of the protocol's handshake.
constexpr quint32 kClientLongPassword = 0x00000001;
constexpr quint32 kClientProtocol41 = 0x00000200;
constexpr quint32 kClientSsl = 0x00000800;
constexpr quint32 kClientSecureConnection = 0x00008000;
constexpr int kMaxGreeting = 64 * 1024;
constexpr unsigned char kUtf8GeneralCi = 33;

QString ToQt(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text)
{
    return text.toUtf8().toStdString();
}

std::string Fingerprint(const QSslCertificate& certificate, QCryptographicHash::Algorithm hash,
                        char separator)
{
    const QByteArray digest = certificate.digest(hash);
    return (separator ? digest.toHex(separator) : digest.toHex()).toUpper().toStdString();
}

// Reads one protocol packet (4-byte header, then the payload); false on time-out or a packet
// too large for a greeting.
bool ReadPacket(QSslSocket& socket, int timeoutMs, QByteArray& payload)
{
    QByteArray buffer;
    for (;;) {
        if (buffer.size() >= 4) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.constData());
            const int length = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16);
            if (length > kMaxGreeting)
                return false;
            if (buffer.size() >= 4 + length) {
                payload = buffer.mid(4, length);
                return true;
            }
        }
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            return false;
        buffer += socket.readAll();
    }
}

// The SSL request packet: the capability flags, maximum packet size and character set of a
// handshake response, and nothing more; the server then starts TLS.
QByteArray SslRequest()
{
    const quint32 capabilities =
        kClientLongPassword | kClientProtocol41 | kClientSsl | kClientSecureConnection;
    QByteArray packet(4 + 32, '\0');
    packet[0] = 32;
    packet[3] = 1; // sequence number: the greeting was 0
    for (int i = 0; i < 4; ++i)
        packet[4 + i] = static_cast<char>((capabilities >> (8 * i)) & 0xff);
    packet[8 + 3] = 0x01; // 16 MiB maximum packet
    packet[12] = static_cast<char>(kUtf8GeneralCi);
    return packet;
}

bool IsTrustError(QSslError::SslError error)
{
    switch (error) {
    case QSslError::HostNameMismatch:
    case QSslError::NoError:
        return false;
    default:
        return true;
    }
}

void Fail(TlsCheckResult& result, ReachFailure failure, std::string detail)
{
    result.report.failure = failure;
    result.report.detail = std::move(detail);
}

} // namespace

TlsCheckResult CheckServerTls(const std::string& host, unsigned port, const TlsSettings& tls,
                              unsigned timeoutSeconds)
{
    TlsCheckResult result;
    const int timeoutMs = static_cast<int>(std::max(timeoutSeconds, 1u) * 1000);
    QSslSocket socket;
    socket.connectToHost(ToQt(host), static_cast<quint16>(port));
    if (!socket.waitForConnected(timeoutMs)) {
        result.serverError = socket.error() == QAbstractSocket::HostNotFoundError
                                 ? CR_UNKNOWN_HOST
                                 : CR_CONN_HOST_ERROR;
        result.serverErrorText =
            "Can't connect to server on '" + host + "' (" + FromQt(socket.errorString()) + ")";
        return result;
    }

    QByteArray greeting;
    if (!ReadPacket(socket, timeoutMs, greeting) || greeting.isEmpty()) {
        result.serverError = CR_SERVER_LOST;
        result.serverErrorText = "Lost connection to server at 'handshake: reading initial "
                                 "communication packet'";
        return result;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(greeting.constData());
    if (bytes[0] == 0xff && greeting.size() >= 3) {
        // The server refused before the handshake (too many connections, host blocked).
        result.serverError = static_cast<unsigned>(bytes[1] | (bytes[2] << 8));
        result.serverErrorText = greeting.mid(3).toStdString();
        return result;
    }
    // Protocol 10: version, 0; thread id (4); scramble (8); filler (1); capabilities (2).
    const qsizetype versionEnd = greeting.indexOf('\0', 1);
    if (bytes[0] != 10 || versionEnd < 0 || greeting.size() < versionEnd + 1 + 4 + 8 + 1 + 2) {
        result.serverError = CR_SERVER_HANDSHAKE_ERR;
        result.serverErrorText = "Error in server handshake";
        return result;
    }
    const qsizetype at = versionEnd + 1 + 4 + 8 + 1;
    const quint32 capabilities = bytes[at] | (bytes[at + 1] << 8);
    if (!(capabilities & kClientSsl)) {
        Fail(result, ReachFailure::TlsNotOffered,
             "the server (" + greeting.mid(1, versionEnd - 1).toStdString() + ") offers no TLS");
        return result;
    }

    socket.write(SslRequest());
    if (!socket.waitForBytesWritten(timeoutMs)) {
        Fail(result, ReachFailure::TlsHandshakeFailed, FromQt(socket.errorString()));
        return result;
    }

    QSslConfiguration configuration = socket.sslConfiguration();
    // Whatever the client library would accept: old servers speak only TLS 1.0 or 1.1, and the
    // connection reports the version in use.
    configuration.setProtocol(QSsl::AnyProtocol);
    if (tls.mode == TlsMode::Verify) {
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!tls.caFile.empty()) {
            const QList<QSslCertificate> authorities =
                QSslCertificate::fromPath(ToQt(tls.caFile), QSsl::Pem);
            if (authorities.isEmpty()) {
                Fail(result, ReachFailure::TlsCaFileUnreadable, tls.caFile);
                return result;
            }
            configuration.setCaCertificates(authorities);
        }
        socket.setPeerVerifyName(ToQt(tls.verifyName.empty() ? host : tls.verifyName));
    } else {
        // The fingerprint below is the check.
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    socket.setSslConfiguration(configuration);
    socket.startClientEncryption();
    if (!socket.waitForEncrypted(timeoutMs)) {
        const QList<QSslError> errors = socket.sslHandshakeErrors();
        const auto trust = std::find_if(errors.begin(), errors.end(),
                                        [](const QSslError& e) { return IsTrustError(e.error()); });
        const auto name = std::find_if(errors.begin(), errors.end(), [](const QSslError& e) {
            return e.error() == QSslError::HostNameMismatch;
        });
        if (!socket.peerCertificate().isNull())
            result.report.seenFingerprint =
                Fingerprint(socket.peerCertificate(), QCryptographicHash::Sha256, ':');
        if (trust != errors.end())
            Fail(result, ReachFailure::CertificateUntrusted, FromQt(trust->errorString()));
        else if (name != errors.end())
            Fail(result, ReachFailure::CertificateNameMismatch, FromQt(name->errorString()));
        else
            Fail(result, ReachFailure::TlsHandshakeFailed, FromQt(socket.errorString()));
        return result;
    }

    const QSslCertificate certificate = socket.peerCertificate();
    socket.abort();
    if (certificate.isNull()) {
        Fail(result, ReachFailure::TlsHandshakeFailed, "the server showed no certificate");
        return result;
    }
    result.sha256 = Fingerprint(certificate, QCryptographicHash::Sha256, ':');
    result.sha1Hex = Fingerprint(certificate, QCryptographicHash::Sha1, '\0');
    result.report.seenFingerprint = result.sha256;
    if (tls.mode == TlsMode::Required) {
        result.report.pinnedFingerprint = tls.pinnedFingerprint;
        if (tls.pinnedFingerprint.empty()) {
            Fail(result, ReachFailure::CertificateNotPinned, "no fingerprint pinned yet");
        } else {
            const auto pinned = NormalizeCertificateFingerprint(tls.pinnedFingerprint);
            if (!pinned || *pinned != result.sha256)
                Fail(result, ReachFailure::CertificateChanged,
                     "the server's certificate is not the pinned one");
        }
    }
    return result;
}

} // namespace mrvn
