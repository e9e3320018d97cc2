#include "TcpRelay.h"

#include <QHash>
#include <QHostAddress>

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <functional>
#include <memory>

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

    bool Listening() const { return m_server != nullptr; }
    void LoseAnswerTo(const QByteArray& marker, bool stopAfter)
    {
        m_marker = marker;
        m_stopAfter = stopAfter;
    }
    std::atomic<bool> lost{false};
    std::function<void()> stop;

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
            auto armed = std::make_shared<bool>(false);
            // What the client sends: a statement holding the marker arms the connection.
            QObject::connect(client, &QTcpSocket::readyRead, server, [this, client, server, armed] {
                const QByteArray bytes = client->readAll();
                m_tail += bytes;
                if (!m_marker.isEmpty() && m_tail.contains(m_marker)) {
                    *armed = true;
                    m_marker.clear();
                }
                m_tail = m_tail.right(256);
                if (server->state() == QAbstractSocket::ConnectedState)
                    server->write(bytes);
                else
                    m_early[client] += bytes;
            });
            // What the server answers: dropped, with the connection, once armed.
            QObject::connect(server, &QTcpSocket::readyRead, client, [this, client, server, armed] {
                if (*armed) {
                    // The port closes before the client can see its connection end: a
                    // reconnect that came in first would find the server still there.
                    if (m_stopAfter && m_server)
                        m_server->close();
                    server->readAll();
                    client->abort();
                    server->abort();
                    lost.store(true);
                    if (m_stopAfter && stop)
                        QMetaObject::invokeMethod(this, stop, Qt::QueuedConnection);
                    return;
                }
                if (client->state() == QAbstractSocket::ConnectedState)
                    client->write(server->readAll());
            });
            EndTogether(client, server);
            EndTogether(server, client);
            // Bytes the client sends before the server's side is up wait in its buffer.
            QObject::connect(server, &QTcpSocket::connected, client,
                             [this, client, server] { server->write(m_early.take(client)); });
            server->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_target));
        }
    }

    // When `from` closes, `to` closes after the rest.
    void EndTogether(QTcpSocket* from, QTcpSocket* to)
    {
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
    QByteArray m_marker;
    QByteArray m_tail;
    bool m_stopAfter = false;
    QHash<QTcpSocket*, QByteArray> m_early;
};

TcpRelay::TcpRelay(unsigned targetPort)
    : m_target(targetPort), m_worker(std::make_unique<RelayWorker>(targetPort))
{
    m_worker->moveToThread(&m_thread);
    // Closes the port from the relay's own thread, without waiting for it.
    m_worker->stop = [this] { m_worker->Close(); };
}

TcpRelay::~TcpRelay()
{
    // The worker is destroyed once its thread has ended, and nothing runs on it any more.
    Stop();
}

bool TcpRelay::Start()
{
    if (!m_thread.isRunning())
        m_thread.start();
    unsigned port = 0;
    QMetaObject::invokeMethod(
        m_worker.get(), [&] { port = m_worker->Listening() ? m_port : m_worker->Listen(m_port); },
        Qt::BlockingQueuedConnection);
    if (port == 0) {
        Stop();
        return false;
    }
    m_port = port;
    return true;
}

void TcpRelay::LoseAnswerTo(const QByteArray& marker, bool stopAfter)
{
    m_worker->lost.store(false);
    QMetaObject::invokeMethod(
        m_worker.get(), [this, marker, stopAfter] { m_worker->LoseAnswerTo(marker, stopAfter); },
        Qt::BlockingQueuedConnection);
}

bool TcpRelay::AnswerLost() const
{
    return m_worker->lost.load();
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
