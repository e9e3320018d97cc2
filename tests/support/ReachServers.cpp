#include "ReachServers.h"

#include "TestDb.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

namespace mrvn::test {

namespace {

std::string FirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string EnvDir(const char* name)
{
    const char* dir = std::getenv(name);
    if (!dir || !*dir) {
        ADD_FAILURE() << name << " is not set: run the tests through ctest, which starts the "
                      << "test servers";
        return {};
    }
    return dir;
}

} // namespace

std::string SshTestServer::File(const std::string& name) const
{
#ifdef _WIN32
    // A Windows program under wine reaches the Linux folder through drive Z:.
    return "Z:" + dir + "/" + name;
#else
    return dir + "/" + name;
#endif
}

SshSettings SshTestServer::Login(const std::string& keyName) const
{
    SshSettings ssh;
    ssh.host = "127.0.0.1";
    ssh.port = port;
    ssh.user = user;
    ssh.keyFile = File(keyName);
    ssh.pinnedFingerprint = hostFingerprint;
    return ssh;
}

SshTestServer SshServer(const std::string& dir)
{
    SshTestServer server;
    server.dir = dir.empty() ? EnvDir("MRVN_TEST_SSH_DIR") : dir;
    server.port = static_cast<unsigned>(std::atoi(FirstLine(server.dir + "/port").c_str()));
    server.user = FirstLine(server.dir + "/user");
    server.hostFingerprint = FirstLine(server.dir + "/host_fp");
    server.otherFingerprint = FirstLine(server.dir + "/other_fp");
    server.keyPassphrase = FirstLine(server.dir + "/key_passphrase");
    if (server.port == 0 || server.hostFingerprint.empty())
        ADD_FAILURE() << "no test sshd in " << server.dir << " (scripts/ssh-server.sh start)";
    return server;
}

ConnectParams TlsTestServer()
{
    ConnectParams params = TestServer();
    const std::string dir = EnvDir("MRVN_TEST_TLS_DB_DIR");
    params.port = static_cast<unsigned>(std::atoi(FirstLine(dir + "/port").c_str()));
    if (params.port == 0)
        ADD_FAILURE() << "no TLS test server in " << dir << " (scripts/db-server.sh start --tls)";
    return params;
}

std::string TlsFile(const std::string& name, bool contents)
{
    const std::string path = EnvDir("MRVN_TEST_TLS_DB_DIR") + "/tls/" + name;
    if (contents)
        return FirstLine(path);
#ifdef _WIN32
    return "Z:" + path;
#else
    return path;
#endif
}

int RunScript(const std::string& command)
{
    std::string line = MRVN_SCRIPTS_DIR;
    line.append("/").append(command).append(" >/dev/null");
    return std::system(line.c_str());
}

struct FakeMysql8::Impl
{
    std::atomic<bool> stop{false};
    std::thread thread;
};

namespace {

QByteArray Packet(int sequence, const QByteArray& payload)
{
    QByteArray packet(4, '\0');
    packet[0] = static_cast<char>(payload.size() & 0xff);
    packet[1] = static_cast<char>((payload.size() >> 8) & 0xff);
    packet[2] = static_cast<char>((payload.size() >> 16) & 0xff);
    packet[3] = static_cast<char>(sequence);
    return packet + payload;
}

// Waits for the client's next packet; false when it closed or took too long.
bool AwaitPacket(QTcpSocket& socket)
{
    QByteArray data;
    while (data.size() < 4 || data.size() < 4 + (static_cast<unsigned char>(data[0]) |
                                                 static_cast<unsigned char>(data[1]) << 8)) {
        if (!socket.waitForReadyRead(5000))
            return false;
        data += socket.readAll();
    }
    return true;
}

QByteArray Greeting()
{
    QByteArray g;
    g += '\x0a';
    g += QByteArray("8.0.36-fake", 12); // with its terminating zero
    g += QByteArray("\x01\x00\x00\x00", 4);
    g += "abcdefgh";
    g += '\0';
    g += QByteArray("\x0f\xa2", 2); // long password, protocol 4.1, secure connection, ...
    g += '\xff';                    // utf8mb4_0900_ai_ci
    g += QByteArray("\x02\x00", 2);
    g += QByteArray("\x0a\x00", 2); // multi results, plugin auth
    g += '\x15';
    g += QByteArray(10, '\0');
    g += QByteArray("ijklmnopqrst", 13);
    g += QByteArray("caching_sha2_password", 22);
    return g;
}

} // namespace

FakeMysql8::FakeMysql8(Refusal refusal) : m_impl(std::make_unique<Impl>())
{
    std::promise<unsigned> listening;
    std::future<unsigned> port = listening.get_future();
    Impl* impl = m_impl.get();
    m_impl->thread = std::thread([impl, refusal, &listening] {
        QTcpServer server;
        listening.set_value(server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0);
        while (!impl->stop.load()) {
            if (!server.waitForNewConnection(100))
                continue;
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            socket->write(Packet(0, Greeting()));
            if (!AwaitPacket(*socket))
                continue;
            if (refusal == Refusal::SecureTransportRequired) {
                socket->write(Packet(2, QByteArray("\xff\x57\x0c#HY000", 9) +
                                            "Connections using insecure transport are "
                                            "prohibited while --require_secure_transport=ON."));
            } else {
                // "Perform full authentication"; the key the client then asks for never comes.
                socket->write(Packet(2, QByteArray("\x01\x04", 2)));
                socket->waitForBytesWritten(5000);
                AwaitPacket(*socket);
            }
            socket->waitForBytesWritten(5000);
            socket->close();
        }
    });
    m_port = port.get();
}

FakeMysql8::~FakeMysql8()
{
    m_impl->stop.store(true);
    m_impl->thread.join();
}

} // namespace mrvn::test
