#include "TcpRelay.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace mrvn::test {

// Lives on the relay's thread: every socket is made, used and destroyed there.
class RelayWorker : public QObject
{
public:
    explicit RelayWorker(unsigned target) : m_target(target) {}

    // The port listened on, 0 when listening failed.
    unsigned Listen(unsigned port)
    {
        m_server = new QTcpServer(this);
        QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
        if (!m_server->listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
            delete m_server;
            return 0;
        }
        return m_server->serverPort();
    }

    // Closes the port and drops every relayed connection at once.
    void Close()
    {
        delete m_server;
        m_server = nullptr;
        for (QTcpSocket* socket : findChildren<QTcpSocket*>()) {
            socket->abort();
            socket->deleteLater();
        }
    }

private:
    void Accept()
    {
        while (QTcpSocket* client = m_server->nextPendingConnection()) {
            client->setParent(this);
            auto* server = new QTcpSocket(this);
            Pipe(client, server);
            Pipe(server, client);
            // Bytes the client sends before the server's side is up wait in its buffer.
            QObject::connect(server, &QTcpSocket::connected, client,
                             [client, server] { server->write(client->readAll()); });
            server->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_target));
        }
    }

    // Copies what arrives on `from` to `to`; when `from` closes, `to` closes after the rest.
    void Pipe(QTcpSocket* from, QTcpSocket* to)
    {
        QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] {
            if (to->state() == QAbstractSocket::ConnectedState)
                to->write(from->readAll());
        });
        const auto end = [from, to] {
            if (to->state() == QAbstractSocket::ConnectedState)
                to->write(from->readAll());
            to->disconnectFromHost();
            from->deleteLater();
        };
        QObject::connect(from, &QTcpSocket::disconnected, to, end);
        QObject::connect(from, &QTcpSocket::errorOccurred, to, end);
    }

    unsigned m_target;
    QPointer<QTcpServer> m_server;
};

TcpRelay::TcpRelay(unsigned targetPort)
    : m_target(targetPort), m_worker(std::make_unique<RelayWorker>(targetPort))
{
    m_worker->moveToThread(&m_thread);
}

TcpRelay::~TcpRelay()
{
    // The worker is destroyed once its thread has ended, and nothing runs on it any more.
    Stop();
}

bool TcpRelay::Start()
{
    if (m_thread.isRunning())
        return true;
    m_thread.start();
    unsigned port = 0;
    QMetaObject::invokeMethod(
        m_worker.get(), [&] { port = m_worker->Listen(m_port); }, Qt::BlockingQueuedConnection);
    if (port == 0) {
        Stop();
        return false;
    }
    m_port = port;
    return true;
}

void TcpRelay::Stop()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        m_worker.get(), [this] { m_worker->Close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

} // namespace mrvn::test
