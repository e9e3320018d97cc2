#pragma once

#include "config/Zones.h" // TlsMode

#include <optional>
#include <string>
#include <string_view>

// How the connection reaches the game database beyond a plain TCP login: TLS with a pinned or a
// verified certificate, and an SSH tunnel. Settings go in as plain values, and what stopped a
// connect comes back as a ReachReport: the window words it, asks the operator where a first
// connect shows a fingerprint, and connects again with the answer in the settings.

namespace mrvn {

struct TlsSettings
{
    TlsMode mode = TlsMode::Off;
    // Required: the SHA-256 fingerprint of the server's certificate ("AB:CD:..."; colons,
    // case and a "SHA256:" prefix are optional). Empty: the first connect, which stops before
    // the login and reports what the server showed.
    std::string pinnedFingerprint;
    // Verify: a PEM file of the CAs to trust; empty: the system's.
    std::string caFile;
    // Verify: the name the certificate must carry; empty: the host connected to. A route
    // through a tunnel sets it to the database's own host name.
    std::string verifyName;
};

struct SshSettings
{
    std::string host; // empty: no tunnel
    unsigned port = 22;
    std::string user;
    // An OpenSSH private key (ed25519, ECDSA, RSA); empty: log in with the password.
    std::string keyFile;
    std::string keyPassphrase;
    std::string password;
    // The host key's "SHA256:..." fingerprint as ssh-keygen -l shows it. Empty: the first
    // connect, which stops before logging in and reports what the server showed.
    std::string pinnedFingerprint;
};

// Why a connect stopped before or during the login, for the reasons TLS and the tunnel add.
// None: they did not stop it (the server's own error, if any, is the connection's LastError).
enum class ReachFailure {
    None,
    // TLS
    TlsNotOffered,           // TLS asked for, the server speaks none; nothing was sent in plain
    TlsRequiredByServer,     // TLS off, the server takes only encrypted logins
    TlsHandshakeFailed,      // the server offers TLS, the handshake failed
    TlsCaFileUnreadable,     // verify: the CA file holds no certificate that could be read
    CertificateUntrusted,    // verify: the chain leads to no trusted CA (or is out of date)
    CertificateNameMismatch, // verify: the certificate is not for this host name
    CertificateNotPinned,    // required, first connect: seenFingerprint is what was shown
    CertificateChanged,      // required: another certificate than the pinned one
    // MySQL 8's caching_sha2_password refused a first login over plain TCP (error 2061)
    SecureConnectionNeededForLogin,
    // SSH tunnel
    SshUnreachable,        // the SSH server could not be reached (refused, no route, time-out)
    SshHostKeyNotPinned,   // first connect: seenFingerprint is the host key's
    SshHostKeyChanged,     // the host key is not the pinned one
    SshKeyUnreadable,      // the key file is missing or no private key
    SshKeyNeedsPassphrase, // the key file is encrypted and no passphrase was given
    SshKeyPassphraseWrong,
    SshLoginRefused,   // the server refused the key or the password
    SshForwardRefused, // the server would not open the channel to the database
    SshFailed,         // the SSH protocol failed otherwise (detail says how)
};

struct ReachReport
{
    ReachFailure failure = ReachFailure::None;
    // TLS: the certificate's SHA-256 ("AB:CD:..."); SSH: the host key's "SHA256:...".
    std::string seenFingerprint;
    std::string pinnedFingerprint;
    // The library's own words, for the details of a message and the log; never a secret.
    std::string detail;

    bool Failed() const { return failure != ReachFailure::None; }
};

// A certificate fingerprint in the one form the tool stores and shows: 32 bytes as upper-case
// hex pairs joined by colons. Takes what an operator pastes (any case, with or without colons
// or spaces, an optional "SHA256:" or "sha256 Fingerprint=" prefix); nothing for anything
// that is not exactly 32 bytes of hex.
std::optional<std::string> NormalizeCertificateFingerprint(std::string_view text);

// An SSH host key fingerprint compared as OpenSSH writes it ("SHA256:" and unpadded base64);
// a pasted "=" padding or surrounding space does not count.
bool SameHostKeyFingerprint(std::string_view a, std::string_view b);

} // namespace mrvn
