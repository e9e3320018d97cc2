#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A TCP relay on 127.0.0.1 in front of a server on 127.0.0.1 that holds every piece the
// client sends for a fixed delay before passing it on, so each request and answer round trip
// costs that much more: a distant server on a local machine. POSIX only (benchmarks).
namespace mrvn::relay {

class DelayRelay
{
public:
    DelayRelay(unsigned targetPort, int delayMilliseconds);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    // Listens on a free port; false when it cannot.
    bool Start();
    void Stop();
    unsigned Port() const { return m_port; }

private:
    void Accept();
    void Pump(int from, int to, bool delayed);

    unsigned m_target;
    int m_delay;
    unsigned m_port = 0;
    int m_listen = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<int> m_sockets;
    std::vector<std::thread> m_pumps;
};

} // namespace mrvn::relay
