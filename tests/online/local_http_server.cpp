#include "tests/online/local_http_server.h"

#include "tests/online/local_http_server_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vorsa::online::testing {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int bound_socket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("bind");
    return fd;
}

int port_of(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

// Sends everything; false when the peer is gone.
bool send_all(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int wait_for_connection(int connection, int wake)
{
    pollfd fds[2] = {{connection, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) return -1;
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

long receive(int connection, char* buffer, std::size_t size)
{
    return ::recv(connection, buffer, size, 0);
}

LocalHttpServer::LocalHttpServer() : m_fallback(not_found_reply())
{
    m_listener = bound_socket();
    if (::listen(m_listener, 64) != 0) throw std::runtime_error("listen");
    m_port = port_of(m_listener);
    if (::pipe2(m_wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    m_acceptor = std::thread([this] { accept_loop(); });
}

LocalHttpServer::~LocalHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
    m_acceptor.join();
    // No new connection thread starts once the acceptor has ended.
    for (Worker& worker : m_workers)
        worker.thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

int LocalHttpServer::refused_port()
{
    // Bound but not listening: the kernel refuses connections to it, and nobody else can take it
    // while the socket stays open, which it does for the life of the test process.
    static const int fd = bound_socket();
    return port_of(fd);
}

bool LocalHttpServer::wait(std::chrono::milliseconds duration)
{
    pollfd wake{m_wake[0], POLLIN, 0};
    return ::poll(&wake, 1, static_cast<int>(duration.count())) == 0 && !m_stopping;
}

void LocalHttpServer::accept_loop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (m_stopping) break;
        if (!(fds[0].revents & POLLIN)) continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        // Finished workers are joined here, so that a long benchmark does not pile them up.
        std::erase_if(m_workers, [](Worker& worker) {
            if (!*worker.done) return false;
            worker.thread.join();
            return true;
        });
        {
            std::lock_guard lock(m_mutex);
            m_most_open_connections = std::max(m_most_open_connections, ++m_open_connections);
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_workers.push_back({std::thread([this, connection, done] {
                                 bool counted = true;
                                 serve(connection, counted);
                                 ::close(connection);
                                 stop_counting(counted);
                                 *done = true;
                             }),
                             done});
    }
}

} // namespace vorsa::online::testing
