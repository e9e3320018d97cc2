#pragma once

#include <QByteArray>
#include <QThread>

#include <memory>

namespace mrvn::test {

class RelayWorker;

// A TCP relay on 127.0.0.1 in front of the test server, on a thread of its own (the caller
// may block in statements that go through it). Stop() is the server going away: the port
// closes and every relayed connection drops; Start() again brings it back on the same port.
class TcpRelay
{
public:
    explicit TcpRelay(unsigned targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    bool Start();
    void Stop();
    // The answer to the next statement whose bytes hold `marker` is lost: the statement is
    // forwarded, and when the server's answer arrives both sides of that connection are
    // broken off instead. With `stopAfter` the relay then stops as well (the server stays
    // out of reach until Start()).
    void LoseAnswerTo(const QByteArray& marker, bool stopAfter = false);
    // True once an answer was lost that way.
    bool AnswerLost() const;
    unsigned Port() const { return m_port; }

private:
    unsigned m_target;
    unsigned m_port = 0;
    QThread m_thread;
    std::unique_ptr<RelayWorker> m_worker;
};

} // namespace mrvn::test
