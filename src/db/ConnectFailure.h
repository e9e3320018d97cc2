#pragma once

#include "db/Reach.h"

// Why a connect failed, by what TLS or the tunnel reported (ReachFailure) and else by the
// client library's error number. The window words each class (app/Texts.h,
// ConnectFailureText); only the classes caused by what was typed point the operator at the
// connection settings. A new class is one enumerator here, one row in a table of
// ConnectFailure.cpp and one case in the window's wording.
namespace mrvn {

enum class ConnectFailure {
    NoAnswer,       // reached, but the server did not answer in time (hung, overloaded)
    Unreachable,    // nothing answers at that address (server down, host unknown, network)
    LoginRefused,   // the server refused the user or the password
    NoDatabase,     // the database named does not exist
    HostNotAllowed, // the user may not connect from this machine
    // TLS
    TlsNotOffered,         // TLS asked for, the server speaks none
    TlsRequiredByServer,   // TLS off, the server takes only encrypted logins
    TlsHandshakeFailed,    // TLS offered, the handshake failed
    TlsCaFileUnreadable,   // the CA file picked holds no certificate
    CertificateUntrusted,  // verify: no trusted CA signed it (or it is out of date)
    CertificateNameMismatch, // verify: issued for another host name
    CertificateChanged,    // required: another certificate than the pinned one
    SecureLoginNeeded,     // 2061: caching_sha2_password over plain TCP
    // SSH tunnel
    SshUnreachable,
    SshHostKeyChanged,
    SshKeyUnreadable,
    SshKeyPassphraseWrong,
    SshLoginRefused,
    SshForwardRefused,
    SshFailed,
    // A first connect that shows a fingerprint, or a key that wants its passphrase: the
    // window asks the operator instead of wording a failure.
    NeedsOperator,
    Other, // anything else: the server's own reason tells
};

ConnectFailure ClassifyConnectFailure(unsigned clientError, ReachFailure reach = ReachFailure::None);

// Refusals that only the operator can lift (a fingerprint to confirm, a changed key, a
// passphrase): a refresh tick never tries them again on its own.
bool NeedsOperator(ReachFailure reach);

} // namespace mrvn
