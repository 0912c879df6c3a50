// The local test server (tests/online/local_http_server.h) over Winsock, for the tests of the Windows
// build. It behaves as the POSIX one does, answer for answer; only the sockets differ. A socket is kept
// in the header's int fields: Winsock's socket values are kernel handles, of which only the low 32
// bits are significant. The wake pipe of the POSIX server is a UDP socket here that the server sends a
// datagram to when it stops, so that every poll waiting on it returns.

#include "tests/online/local_http_server.h"
#include "tests/online/local_http_server_socket.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace vorsa::online::testing {

namespace {

// Winsock is started once for the process and stays up until it ends.
void start_winsock()
{
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
        return true;
    }();
    (void)started;
}

SOCKET socket_of(int fd)
{
    return static_cast<SOCKET>(static_cast<unsigned int>(fd));
}

int fd_of(SOCKET socket)
{
    return static_cast<int>(static_cast<unsigned int>(socket));
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int bound_socket(int type)
{
    start_winsock();
    const SOCKET fd = ::socket(AF_INET, type, 0);
    if (fd == INVALID_SOCKET) throw std::runtime_error("socket");
    // No other socket may take the port while this one holds it.
    BOOL on = TRUE;
    ::setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address = loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("bind");
    return fd_of(fd);
}

int port_of(int fd)
{
    sockaddr_in address{};
    int length = sizeof address;
    ::getsockname(socket_of(fd), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Waits until one of `fds` is readable (or closed); -1 waits for ever. The result of WSAPoll.
int poll_readable(WSAPOLLFD* fds, ULONG count, int timeout_ms)
{
    for (ULONG i = 0; i < count; ++i)
        fds[i].revents = 0;
    return ::WSAPoll(fds, count, timeout_ms);
}

} // namespace

// Sends everything; false when the peer is gone.
bool send_all(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - sent, 1 << 20));
        const int n = ::send(socket_of(fd), data.data() + sent, chunk, 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int wait_for_connection(int connection, int wake)
{
    WSAPOLLFD fds[2] = {{socket_of(connection), POLLRDNORM, 0}, {socket_of(wake), POLLRDNORM, 0}};
    if (poll_readable(fds, 2, -1) < 0) return -1;
    return (fds[0].revents & (POLLRDNORM | POLLHUP | POLLERR)) ? 1 : 0;
}

long receive(int connection, char* buffer, std::size_t size)
{
    return ::recv(socket_of(connection), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
}

LocalHttpServer::LocalHttpServer() : m_fallback(not_found_reply())
{
    m_listener = bound_socket(SOCK_STREAM);
    if (::listen(socket_of(m_listener), 64) != 0) throw std::runtime_error("listen");
    m_port = port_of(m_listener);
    m_wake[0] = bound_socket(SOCK_DGRAM);
    m_acceptor = std::thread([this] { accept_loop(); });
}

LocalHttpServer::~LocalHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    // The datagram stays queued on the wake socket, so every later poll of it returns at once too.
    const sockaddr_in wake = loopback(port_of(m_wake[0]));
    const char byte = 1;
    ::sendto(socket_of(m_wake[0]), &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wake), sizeof wake);
    m_acceptor.join();
    // No new connection thread starts once the acceptor has ended.
    for (Worker& worker : m_workers)
        worker.thread.join();
    ::closesocket(socket_of(m_listener));
    ::closesocket(socket_of(m_wake[0]));
}

int LocalHttpServer::refused_port()
{
    // Bound but not listening: connections to it are refused, and nobody else can take it while the
    // socket stays open, which it does for the life of the test process.
    static const int fd = bound_socket(SOCK_STREAM);
    return port_of(fd);
}

bool LocalHttpServer::wait(std::chrono::milliseconds duration)
{
    WSAPOLLFD wake{socket_of(m_wake[0]), POLLRDNORM, 0};
    return poll_readable(&wake, 1, static_cast<int>(duration.count())) == 0 && !m_stopping;
}

void LocalHttpServer::accept_loop()
{
    while (!m_stopping) {
        WSAPOLLFD fds[2] = {{socket_of(m_listener), POLLRDNORM, 0}, {socket_of(m_wake[0]), POLLRDNORM, 0}};
        if (poll_readable(fds, 2, -1) < 0) continue;
        if (m_stopping) break;
        if (!(fds[0].revents & POLLRDNORM)) continue;
        const SOCKET accepted = ::accept(socket_of(m_listener), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) continue;
        const int connection = fd_of(accepted);
        // Finished workers are joined here, so that a long run does not pile them up.
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
                                 ::closesocket(socket_of(connection));
                                 stop_counting(counted);
                                 *done = true;
                             }),
                             done});
    }
}

} // namespace vorsa::online::testing
