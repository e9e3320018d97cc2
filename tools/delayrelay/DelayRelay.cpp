#include "DelayRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace mrvn::relay {

namespace {

sockaddr_in Loopback(unsigned port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

void NoDelay(int socket)
{
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

} // namespace

DelayRelay::DelayRelay(unsigned targetPort, int delayMilliseconds)
    : m_target(targetPort), m_delay(delayMilliseconds)
{
}

DelayRelay::~DelayRelay()
{
    Stop();
}

bool DelayRelay::Start()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(m_listen, 16)) {
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { Accept(); });
    return true;
}

void DelayRelay::Stop()
{
    if (!m_acceptor.joinable())
        return;
    m_stopping = true;
    m_acceptor.join();
    {
        const std::lock_guard lock(m_mutex);
        for (const int socket : m_sockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (std::thread& pump : m_pumps)
        pump.join();
    for (const int socket : m_sockets)
        ::close(socket);
    ::close(m_listen);
    m_pumps.clear();
    m_sockets.clear();
}

void DelayRelay::Accept()
{
    while (!m_stopping) {
        pollfd listening{m_listen, POLLIN, 0};
        if (::poll(&listening, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listen, nullptr, nullptr);
        if (client < 0)
            continue;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in target = Loopback(m_target);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            ::close(client);
            ::close(server);
            continue;
        }
        NoDelay(client);
        NoDelay(server);
        const std::lock_guard lock(m_mutex);
        m_sockets.push_back(client);
        m_sockets.push_back(server);
        m_pumps.emplace_back([this, client, server] { Pump(client, server, true); });
        m_pumps.emplace_back([this, client, server] { Pump(server, client, false); });
    }
}

void DelayRelay::Pump(int from, int to, bool delayed)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (delayed)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delay));
        for (ssize_t sent = 0; sent < got;) {
            const ssize_t wrote = ::send(to, buffer + sent, static_cast<std::size_t>(got - sent),
                                         MSG_NOSIGNAL);
            if (wrote <= 0)
                return;
            sent += wrote;
        }
    }
    ::shutdown(to, SHUT_WR);
}

} // namespace mrvn::relay
