#pragma once

#include "db/Reach.h"

#include <string>

namespace mrvn {

// What the certificate check before a TLS login found.
struct TlsCheckResult
{
    ReachReport report; // failure None: the certificate passed
    // Set when the server could not be reached or answered with an error of its own before
    // TLS began: the client library's error number and text for it (the login is not tried).
    unsigned serverError = 0;
    std::string serverErrorText;
    // The certificate the server showed: SHA-256 as stored and shown, and SHA-1 as plain hex
    // for the client library, which pins by SHA-1 only (Connector/C 3.3).
    std::string sha256;
    std::string sha1Hex;
};

// Opens a TCP connection to a MySQL/MariaDB server, reads its greeting, asks for TLS as the
// client library does, and checks the certificate the server shows against `tls` (the pinned
// fingerprint for Required; chain and name for Verify) before any login is sent. The login then
// goes over a second connection that the client library binds to the same certificate by its
// fingerprint, so a server cannot show the check one certificate and the login another.
// Blocks the calling thread for at most about `timeoutSeconds` per step.
TlsCheckResult CheckServerTls(const std::string& host, unsigned port, const TlsSettings& tls,
                              unsigned timeoutSeconds);

} // namespace mrvn
