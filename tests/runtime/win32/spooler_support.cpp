#include "spooler_support.h"

#include "../../temp_directory.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace vorsa::test {

namespace {

constexpr std::uintptr_t no_socket = INVALID_SOCKET;

SOCKET socket_of(std::uintptr_t value)
{
    return static_cast<SOCKET>(value);
}

// Reads one connection to its end; a sender that stalls for 10 s gets what it sent so far.
std::string read_document(SOCKET connection)
{
    std::string document;
    char chunk[65536];
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(connection, &readable);
        timeval wait{10, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
        const int n = recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        document.append(chunk, static_cast<std::size_t>(n));
    }
    return document;
}

std::string squeezed(const std::string& text)
{
    std::string result;
    for (char c : text)
        if (c != ' ' && c != '\n' && c != '\r' && c != '\f' && c != '\t') result += c;
    return result;
}

} // namespace

DocumentReceiver::DocumentReceiver(int port) : m_socket(no_socket)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return;
    const BOOL on = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0) {
        closesocket(listener);
        return;
    }
    m_socket = listener;
    m_listening = true;
    m_thread = std::thread([this] { serve(); });
}

DocumentReceiver::~DocumentReceiver()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_socket != no_socket) closesocket(socket_of(m_socket));
    WSACleanup();
}

void DocumentReceiver::serve()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) return;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_of(m_socket), &readable);
        timeval wait{0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        const SOCKET connection = accept(socket_of(m_socket), nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        std::string document = read_document(connection);
        closesocket(connection);
        {
            std::lock_guard lock(m_mutex);
            m_documents.push_back(std::move(document));
        }
        m_arrived.notify_all();
    }
}

std::vector<std::string> DocumentReceiver::wait_for(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, timeout, [&] { return m_documents.size() >= count; });
    return m_documents;
}

std::string host_path(const std::filesystem::path& file)
{
    const std::string text = file.string();
    if (text.size() < 3 || (text[0] != 'Z' && text[0] != 'z') || text[1] != ':') return {};
    std::string path = text.substr(2);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::string host_output(const std::string& command)
{
    const test_files::TempDirectory directory("Z:\\tmp", "vorsa-host");
    const std::filesystem::path output = directory.path() / "output";
    // Wine does not wait for a host program to end: the output is renamed into place when complete.
    const std::string written = host_path(output);
    const std::string line = "/bin/sh -c \"" + command + " > '" + written + ".part' 2>/dev/null; mv '" +
                             written + ".part' '" + written + "'\"";
    std::wstring wide(line.begin(), line.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return {};
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::error_code error;
    for (int i = 0; i < 6000 && !std::filesystem::exists(output, error); ++i)
        Sleep(10);
    std::ifstream in(output, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

PdfFacts inspect_pdf(const std::string& document)
{
    const test_files::TempDirectory directory("Z:\\tmp", "vorsa-pdf");
    const std::filesystem::path file = directory.path() / "document.pdf";
    {
        std::ofstream out(file, std::ios::binary);
        out << document;
    }
    PdfFacts facts;
    const std::string info = host_output("pdfinfo '" + host_path(file) + "'");
    std::smatch match;
    if (std::regex_search(info, match, std::regex(R"(Pages:\s+(\d+))"))) facts.pages = std::stoi(match[1]);
    if (std::regex_search(info, match, std::regex(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)"))) {
        facts.width = std::stod(match[1]);
        facts.height = std::stod(match[2]);
    }
    facts.text = squeezed(host_output("pdftotext -enc UTF-8 '" + host_path(file) + "' -"));
    return facts;
}

} // namespace vorsa::test
