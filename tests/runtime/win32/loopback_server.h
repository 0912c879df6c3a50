#pragma once
// A tiny HTTP server on 127.0.0.1 for tests of what a loader may reach: it answers every request with a
// short page that names the server, and counts the connections it accepted.

#include <atomic>
#include <string>
#include <thread>
#include <winsock2.h>

namespace vorsa::runtime::test {

class LoopbackServer
{
public:
    // `name` is the body of every answer.
    explicit LoopbackServer(std::string name) : m_name(std::move(name))
    {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        int size = sizeof address;
        if (m_socket == INVALID_SOCKET ||
            bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_socket, 8) != 0 ||
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        m_stopping = true;
        closesocket(m_socket);
        if (m_thread.joinable()) m_thread.join();
        WSACleanup();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // 0 when the server could not listen.
    int port() const { return m_port; }
    std::wstring origin() const { return L"http://127.0.0.1:" + std::to_wstring(m_port); }
    int connections() const { return m_connections; }

private:
    void serve()
    {
        while (!m_stopping) {
            const SOCKET client = accept(m_socket, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            ++m_connections;
            // The request ends with an empty line; its content does not matter.
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            const std::string answer =
                "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n"
                "Content-Length: " +
                std::to_string(m_name.size()) + "\r\nConnection: close\r\n\r\n" + m_name;
            send(client, answer.data(), static_cast<int>(answer.size()), 0);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    std::string m_name;
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

} // namespace vorsa::runtime::test
