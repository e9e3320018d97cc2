#include "db/ConnectFailure.h"

#include <errmsg.h>
#include <mysqld_error.h>

namespace mrvn {

namespace {

struct ConnectFailureRow
{
    unsigned clientError;
    ConnectFailure failure;
};

// The client reports a server that accepts the connection but never sends its greeting (a
// hung process, a full backlog, packets dropped on the way) as a lost connection during the
// handshake once the connect time-out has passed, not as a refused one.
constexpr ConnectFailureRow kConnectFailures[] = {
    {CR_SERVER_LOST, ConnectFailure::NoAnswer},
    {CR_SERVER_LOST_EXTENDED, ConnectFailure::NoAnswer},
    {CR_SERVER_GONE_ERROR, ConnectFailure::NoAnswer},
    {CR_CONNECTION_ERROR, ConnectFailure::Unreachable},
    {CR_CONN_HOST_ERROR, ConnectFailure::Unreachable},
    {CR_UNKNOWN_HOST, ConnectFailure::Unreachable},
    {ER_ACCESS_DENIED_ERROR, ConnectFailure::LoginRefused},
    {ER_BAD_DB_ERROR, ConnectFailure::NoDatabase},
    {ER_HOST_NOT_PRIVILEGED, ConnectFailure::HostNotAllowed},
};

struct ReachRow
{
    ReachFailure reach;
    ConnectFailure failure;
};

// What TLS or the tunnel reported comes first: the client error beside it (a handshake or
// host error) says less.
constexpr ReachRow kReachFailures[] = {
    {ReachFailure::TlsNotOffered, ConnectFailure::TlsNotOffered},
    {ReachFailure::TlsRequiredByServer, ConnectFailure::TlsRequiredByServer},
    {ReachFailure::TlsHandshakeFailed, ConnectFailure::TlsHandshakeFailed},
    {ReachFailure::TlsCaFileUnreadable, ConnectFailure::TlsCaFileUnreadable},
    {ReachFailure::CertificateUntrusted, ConnectFailure::CertificateUntrusted},
    {ReachFailure::CertificateNameMismatch, ConnectFailure::CertificateNameMismatch},
    {ReachFailure::CertificateNotPinned, ConnectFailure::NeedsOperator},
    {ReachFailure::CertificateChanged, ConnectFailure::CertificateChanged},
    {ReachFailure::SecureConnectionNeededForLogin, ConnectFailure::SecureLoginNeeded},
    {ReachFailure::SshUnreachable, ConnectFailure::SshUnreachable},
    {ReachFailure::SshHostKeyNotPinned, ConnectFailure::NeedsOperator},
    {ReachFailure::SshHostKeyChanged, ConnectFailure::SshHostKeyChanged},
    {ReachFailure::SshKeyUnreadable, ConnectFailure::SshKeyUnreadable},
    {ReachFailure::SshKeyNeedsPassphrase, ConnectFailure::NeedsOperator},
    {ReachFailure::SshKeyPassphraseWrong, ConnectFailure::SshKeyPassphraseWrong},
    {ReachFailure::SshLoginRefused, ConnectFailure::SshLoginRefused},
    {ReachFailure::SshForwardRefused, ConnectFailure::SshForwardRefused},
    {ReachFailure::SshFailed, ConnectFailure::SshFailed},
};

} // namespace

ConnectFailure ClassifyConnectFailure(unsigned clientError, ReachFailure reach)
{
    for (const ReachRow& row : kReachFailures) {
        if (row.reach == reach)
            return row.failure;
    }
    for (const ConnectFailureRow& row : kConnectFailures) {
        if (row.clientError == clientError)
            return row.failure;
    }
    return ConnectFailure::Other;
}

bool NeedsOperator(ReachFailure reach)
{
    switch (reach) {
    case ReachFailure::CertificateNotPinned:
    case ReachFailure::CertificateChanged:
    case ReachFailure::SshHostKeyNotPinned:
    case ReachFailure::SshHostKeyChanged:
    case ReachFailure::SshKeyNeedsPassphrase:
    case ReachFailure::SshKeyPassphraseWrong:
    case ReachFailure::SshLoginRefused:
        return true;
    default:
        return false;
    }
}

} // namespace mrvn
