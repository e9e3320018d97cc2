#include "db/ZoneConnection.h"

namespace mrvn {

ConnectParams ZoneConnectParams(const Zone& zone, const ZoneSecrets& secrets)
{
    ConnectParams params;
    params.host = zone.host;
    params.port = zone.port;
    params.user = zone.user;
    params.password = secrets.password;
    params.database = zone.db;
    params.tls.mode = zone.tls;
    // A fingerprint pinned while the zone was `required` says nothing under `verify`, where
    // the chain and the name decide.
    if (zone.tls == TlsMode::Required)
        params.tls.pinnedFingerprint = zone.tlsFingerprint;
    if (zone.tls == TlsMode::Verify)
        params.tls.caFile = zone.tlsCaFile;
    if (!zone.sshHost.empty()) {
        params.ssh.host = zone.sshHost;
        params.ssh.port = zone.sshPort;
        params.ssh.user = zone.sshUser;
        params.ssh.keyFile = zone.sshKey;
        (zone.sshKey.empty() ? params.ssh.password : params.ssh.keyPassphrase) = secrets.sshSecret;
        params.ssh.pinnedFingerprint = zone.sshFingerprint;
    }
    return params;
}

bool ConnectToZone(DbConnection& db, const Zone& zone, const ZoneSecrets& secrets)
{
    return db.Connect(ZoneConnectParams(zone, secrets));
}

bool LeavesThisMachine(const std::string& host)
{
    // Empty is the client library's default: the local socket.
    return !(host.empty() || host == "localhost" || host == "::1" || host.starts_with("127."));
}

} // namespace mrvn
