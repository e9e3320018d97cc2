#pragma once

#include "db/DbConnection.h"

#include <memory>
#include <string>

namespace mrvn::test {

// The throwaway sshd the test run started (scripts/ssh-server.sh, folder $MRVN_TEST_SSH_DIR,
// or `dir` when given). A missing server fails the calling test.
struct SshTestServer
{
    std::string dir;
    unsigned port = 0;
    std::string user;
    std::string hostFingerprint;  // the server's host key, as ssh-keygen -l printed it
    std::string otherFingerprint; // a key the server does not have
    std::string keyPassphrase;    // of id_ed25519_pass

    // A file of the server's folder, as this platform's programs name it.
    std::string File(const std::string& name) const;
    // Settings that log in with the key `keyName`, the host key pinned.
    SshSettings Login(const std::string& keyName = "id_ed25519") const;
};
SshTestServer SshServer(const std::string& dir = {});

// The throwaway MariaDB with TLS (scripts/db-server.sh --tls, $MRVN_TEST_TLS_DB_DIR): root's
// login on 127.0.0.1, TLS not yet set.
ConnectParams TlsTestServer();
// A file of its tls/ folder (ca.pem, other.pem, server.sha256, ...) as a path, or the first
// line of it with `contents`.
std::string TlsFile(const std::string& name, bool contents = false);

// Runs a test script (scripts/NAME) with its arguments; its exit status.
int RunScript(const std::string& command);

// A server that speaks just enough of MySQL 8's protocol to refuse a login the way MySQL 8
// does, on 127.0.0.1 on a thread of its own; for refusals a MariaDB cannot give.
class FakeMysql8
{
public:
    enum class Refusal {
        // require_secure_transport: error 3159 for a login without TLS.
        SecureTransportRequired,
        // caching_sha2_password asks for a full login and then hands out no RSA key.
        NoRsaKeyForPlainLogin,
    };
    explicit FakeMysql8(Refusal refusal);
    ~FakeMysql8();
    FakeMysql8(const FakeMysql8&) = delete;
    FakeMysql8& operator=(const FakeMysql8&) = delete;
    unsigned Port() const { return m_port; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    unsigned m_port = 0;
};

} // namespace mrvn::test
