// The local test server (tests/online/local_http_server.h) over Winsock, for the tests of the Windows
// build. It behaves as the POSIX one does, answer for answer; only the sockets differ. A socket is kept
// in the header's int fields: Winsock's socket values are kernel handles, of which only the low 32
// bits are significant. The wake pipe of the POSIX server is a UDP socket here that the server sends a
// datagram to when it stops, so that every poll waiting on it returns.

#include "tests/online/local_http_server.h"

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

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The value of Content-Length in a request head, 0 without one.
std::size_t content_length(const std::string& head)
{
    const std::string folded = lower(head);
    const auto at = folded.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::stoul(folded.substr(at + 17));
}

std::string status_head(const Reply& reply, const std::string& length_line)
{
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    return head + length_line + "Connection: close\r\n\r\n";
}

} // namespace

Reply not_found_reply()
{
    Reply reply;
    reply.status = 404;
    reply.reason = "Not Found";
    reply.headers = {{"Content-Type", "text/html"}};
    reply.body = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>";
    return reply;
}

Reply redirect_reply(const std::string& location)
{
    Reply reply;
    reply.status = 302;
    reply.reason = "Found";
    reply.headers = {{"Location", location}};
    return reply;
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

std::string LocalHttpServer::address() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void LocalHttpServer::set_reply(const std::string& target, Reply reply)
{
    std::lock_guard lock(m_mutex);
    m_replies[target] = std::move(reply);
}

void LocalHttpServer::set_fallback(Reply reply)
{
    std::lock_guard lock(m_mutex);
    m_fallback = std::move(reply);
}

std::vector<std::string> LocalHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> LocalHttpServer::request_lines() const
{
    std::vector<std::string> lines;
    for (const std::string& request : requests())
        lines.push_back(request.substr(0, request.find("\r\n")));
    return lines;
}

std::size_t LocalHttpServer::request_count() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

std::size_t LocalHttpServer::most_open_connections() const
{
    std::lock_guard lock(m_mutex);
    return m_most_open_connections;
}

void LocalHttpServer::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
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

bool LocalHttpServer::wait_until_due(const Reply& reply)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        return m_stopping ||
               ((!reply.held || m_released) && m_requests.size() >= reply.answer_after_requests);
    });
    return !m_stopping;
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

void LocalHttpServer::stop_counting(bool& counted)
{
    if (!counted) return;
    counted = false;
    std::lock_guard lock(m_mutex);
    --m_open_connections;
}

void LocalHttpServer::serve(int connection, bool& counted)
{
    // Read the head, then as much body as it announces.
    std::string request;
    std::size_t head_end = std::string::npos;
    char buffer[4096];
    for (;;) {
        if (head_end != std::string::npos &&
            request.size() >= head_end + 4 + content_length(request.substr(0, head_end)))
            break;
        // However long the client takes to send it, until the server stops.
        WSAPOLLFD fds[2] = {{socket_of(connection), POLLRDNORM, 0}, {socket_of(m_wake[0]), POLLRDNORM, 0}};
        if (poll_readable(fds, 2, -1) <= 0 || m_stopping) return;
        const int n = ::recv(socket_of(connection), buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<std::size_t>(n));
        if (head_end == std::string::npos) head_end = request.find("\r\n\r\n");
    }

    const std::string line = request.substr(0, request.find("\r\n"));
    const auto first_blank = line.find(' ');
    const std::string target = line.substr(first_blank + 1, line.rfind(' ') - first_blank - 1);
    Reply reply;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        const auto found = m_replies.find(target);
        reply = found != m_replies.end() ? found->second : m_fallback;
    }
    m_changed.notify_all();

    if (reply.delay.count() > 0 && !wait(reply.delay)) return;
    if (!wait_until_due(reply)) return;
    const std::string length_line = "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    switch (reply.behaviour) {
    case Behaviour::answer:
        stop_counting(counted);
        send_all(connection, status_head(reply, length_line) + reply.body);
        break;
    case Behaviour::stall:
        if (!send_all(connection, status_head(reply, length_line) + reply.body.substr(0, reply.stall_after)))
            return;
        [[fallthrough]];
    case Behaviour::silent:
        // Until the client gives up or the server stops.
        for (;;) {
            WSAPOLLFD fds[2] = {{socket_of(connection), POLLRDNORM, 0},
                                {socket_of(m_wake[0]), POLLRDNORM, 0}};
            if (poll_readable(fds, 2, -1) < 0 || m_stopping) return;
            if ((fds[0].revents & (POLLRDNORM | POLLHUP | POLLERR)) &&
                ::recv(socket_of(connection), buffer, sizeof buffer, 0) <= 0)
                return;
        }
    case Behaviour::drip:
        if (!send_all(connection, status_head(reply, length_line))) return;
        for (char c : reply.body)
            if (!wait(reply.drip_interval) || !send_all(connection, std::string(1, c))) return;
        break;
    case Behaviour::truncate:
        send_all(connection,
                 status_head(reply, "Content-Length: " + std::to_string(reply.body.size() + 1000) + "\r\n") +
                     reply.body);
        break;
    case Behaviour::endless: {
        if (!send_all(connection, status_head(reply, "Transfer-Encoding: chunked\r\n"))) return;
        const std::string chunk(64 * 1024, 'x');
        char size_line[32];
        std::snprintf(size_line, sizeof size_line, "%zx\r\n", chunk.size());
        for (std::size_t sent = 0; sent < reply.endless_bytes && !m_stopping; sent += chunk.size())
            if (!send_all(connection, size_line + chunk + "\r\n")) return;
        send_all(connection, "0\r\n\r\n");
        break;
    }
    }
}

} // namespace vorsa::online::testing
