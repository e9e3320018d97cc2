#pragma once

#include "config/Zones.h"
#include "db/DbConnection.h"

#include <string>

namespace mrvn {

// What a zone's connect needs beyond zones.ini, known only while the tool runs: the
// database password (psw for password=file, else the keychain's or what the operator typed)
// and the SSH secret (the key file's passphrase, or the SSH password without a key file).
struct ZoneSecrets
{
    std::string password;
    std::string sshSecret;
};

// The connection's parameters for a zone: TLS as its tls/tls_fp/tls_ca say, and the tunnel
// when it names an SSH host (its fingerprints pinned when zones.ini holds them; an empty one
// makes the connect stop at the first sight of the server and report what it saw).
ConnectParams ZoneConnectParams(const Zone& zone, const ZoneSecrets& secrets);

// Opens `db` (on the database thread that owns it) to the zone's database with the options
// `db` has. The one road from a Zone to a connection: the window's connect and any work that
// runs on a zone's own connection take it.
bool ConnectToZone(DbConnection& db, const Zone& zone, const ZoneSecrets& secrets);
inline bool ConnectToZone(DbConnection& db, const Zone& zone, const std::string& password)
{
    return ConnectToZone(db, zone, ZoneSecrets{password, {}});
}

// Whether a connection to `host` leaves this machine: every name but the loopback ones.
bool LeavesThisMachine(const std::string& host);

} // namespace mrvn
