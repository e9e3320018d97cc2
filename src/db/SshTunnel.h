#pragma once

#include "db/Reach.h"

#include <memory>
#include <string>

namespace mrvn {

// A local port forward over SSH (as "ssh -L"), owned by the database connection: a listener
// on 127.0.0.1 at a port the system picks, each connection to it carried to the database host
// through a direct-tcpip channel.
// - One thread of the tunnel owns the libssh session and does everything with it: it logs
//   in, accepts local connections, moves their bytes and sends keepalives. Other threads
//   only connect to the local port (the database connection, a KILL QUERY connection).
// - The host key must be the pinned one; nothing is read from ~/.ssh (no config, no
//   known_hosts): the settings are the whole truth.
// - When the session breaks (the server restarted, the network went), every carried
//   connection is closed at once, so the database client sees its connection lost; the next
//   local connection opens a new session with the same settings (the same pinned host key,
//   the key or password already given), so a reconnect finds the tunnel again.
// - The destructor closes everything and joins the thread; it does not wait for a server
//   that stopped answering.
class SshTunnel
{
public:
    SshTunnel();
    ~SshTunnel();
    SshTunnel(const SshTunnel&) = delete;
    SshTunnel& operator=(const SshTunnel&) = delete;

    // Logs in to the SSH server and opens the listener; blocks the calling thread until the
    // session is up or has failed (`timeoutSeconds` bounds each network wait). The channels
    // lead to `remoteHost`:`remotePort` as the SSH server resolves them.
    ReachReport Open(const SshSettings& settings, const std::string& remoteHost,
                     unsigned remotePort, unsigned timeoutSeconds);
    // The listener's port on 127.0.0.1 (0 before a successful Open).
    unsigned LocalPort() const;
    // What broke the session last or refused to open it again (None while it works); read
    // from any thread.
    ReachReport LastFailure() const;
    // How many sessions were opened (the first and each reopening); from any thread.
    int SessionsOpened() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace mrvn
