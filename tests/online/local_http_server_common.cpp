#include "tests/online/local_http_server.h"
#include "tests/online/local_http_server_socket.h"

#include <cstdio>
#include <string>

// What the local test server says and when, the same on every system; the sockets under it are in
// local_http_server.cpp (POSIX) and win32/local_http_server_win32.cpp (Winsock).

namespace vorsa::online::testing {

namespace {

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

bool LocalHttpServer::wait_until_due(const Reply& reply)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        return m_stopping ||
               ((!reply.held || m_released) && m_requests.size() >= reply.answer_after_requests);
    });
    return !m_stopping;
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
        if (wait_for_connection(connection, m_wake[0]) < 0 || m_stopping) return;
        const long n = receive(connection, buffer, sizeof buffer);
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
            const int ready = wait_for_connection(connection, m_wake[0]);
            if (ready < 0 || m_stopping) return;
            if (ready > 0 && receive(connection, buffer, sizeof buffer) <= 0) return;
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
