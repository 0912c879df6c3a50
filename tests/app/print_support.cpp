#include "tests/app/print_support.h"

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vorsa::test {

namespace {

std::string run_command(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    std::array<char, 4096> chunk;
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), n);
    ::pclose(pipe);
    return output;
}

std::string quoted(const std::filesystem::path& file)
{
    return "'" + file.string() + "'";
}

// Reads one connection to its end; a sender that stalls for 10 s gets what it sent so far.
std::string read_document(int connection)
{
    std::string document;
    std::array<char, 65536> chunk;
    pollfd wait{connection, POLLIN, 0};
    while (::poll(&wait, 1, 10000) > 0) {
        const ssize_t n = ::recv(connection, chunk.data(), chunk.size(), 0);
        if (n <= 0) break;
        document.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return document;
}

struct Jobs
{
    cups_job_t* list = nullptr;
    int count = 0;
    explicit Jobs(const std::string& queue)
    {
        count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    }
    ~Jobs() { cupsFreeJobs(count, list); }
};

// A socket listening on a free port of 127.0.0.1, and that port; -1 when none could be had.
int listen_on_loopback(int& port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, 16) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket);
        return -1;
    }
    port = ntohs(address.sin_port);
    return socket;
}

} // namespace

DocumentReceiver::DocumentReceiver(int port, bool keep_documents) : m_keep_documents(keep_documents)
{
    m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket < 0) return;
    const int on = 1;
    ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_socket, 4) != 0) {
        ::close(m_socket);
        m_socket = -1;
        return;
    }
    m_thread = std::thread([this] { serve(); });
}

DocumentReceiver::~DocumentReceiver()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_socket >= 0) ::close(m_socket);
}

SilentSpooler::SilentSpooler()
{
    m_socket = listen_on_loopback(m_port);
    if (m_socket < 0) return;
    m_thread = std::thread([this] { serve(); });
}

SilentSpooler::~SilentSpooler()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    for (int connection : m_held)
        ::close(connection);
    if (m_socket >= 0) ::close(m_socket);
}

std::string SilentSpooler::address() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

void SilentSpooler::serve()
{
    while (!m_stop) {
        pollfd wait{m_socket, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        const int connection = ::accept(m_socket, nullptr, nullptr);
        if (connection < 0) continue;
        m_held.push_back(connection);
        ++m_connections;
    }
}

StallingSpooler::StallingSpooler(std::string spooler_socket) : m_spooler_socket(std::move(spooler_socket))
{
    m_socket = listen_on_loopback(m_port);
    if (m_socket < 0) return;
    m_thread = std::thread([this] { serve(); });
}

StallingSpooler::~StallingSpooler()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    for (auto& carrier : m_carriers)
        carrier.join();
    if (m_socket >= 0) ::close(m_socket);
}

std::string StallingSpooler::address() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

void StallingSpooler::stall(std::chrono::milliseconds duration)
{
    m_stalled_until = (std::chrono::steady_clock::now() + duration).time_since_epoch().count();
}

void StallingSpooler::serve()
{
    while (!m_stop) {
        pollfd wait{m_socket, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        const int client = ::accept(m_socket, nullptr, nullptr);
        if (client < 0) continue;
        std::lock_guard lock(m_mutex);
        m_carriers.emplace_back([this, client] { carry(client); });
    }
}

// Carries one connection both ways until either side closes it or the proxy stops.
void StallingSpooler::carry(int client)
{
    const int spooler = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_spooler_socket.c_str());
    if (spooler < 0 || ::connect(spooler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (spooler >= 0) ::close(spooler);
        ::close(client);
        return;
    }
    std::string held; // from the client, not yet passed on
    std::array<char, 65536> chunk;
    bool open = true;
    while (open && !m_stop) {
        const bool stalled = std::chrono::steady_clock::now().time_since_epoch().count() < m_stalled_until;
        if (!stalled && !held.empty()) {
            const ssize_t n = ::send(spooler, held.data(), held.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            held.erase(0, static_cast<std::size_t>(n));
        }
        pollfd wait[2] = {{client, POLLIN, 0}, {spooler, POLLIN, 0}};
        if (::poll(wait, 2, 20) <= 0) continue;
        if (wait[0].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::recv(client, chunk.data(), chunk.size(), 0);
            if (n <= 0)
                open = false;
            else
                held.append(chunk.data(), static_cast<std::size_t>(n));
        }
        if (wait[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::recv(spooler, chunk.data(), chunk.size(), 0);
            if (n <= 0 || ::send(client, chunk.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                open = false;
        }
    }
    // What the client sent before it left still reaches the spooler, as it would from a stalled socket.
    while (!held.empty() && !m_stop) {
        if (std::chrono::steady_clock::now().time_since_epoch().count() < m_stalled_until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const ssize_t n = ::send(spooler, held.data(), held.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        held.erase(0, static_cast<std::size_t>(n));
    }
    ::close(spooler);
    ::close(client);
}

void DocumentReceiver::serve()
{
    while (!m_stop) {
        pollfd wait{m_socket, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        const int connection = ::accept(m_socket, nullptr, nullptr);
        if (connection < 0) continue;
        std::string document = read_document(connection);
        ::close(connection);
        {
            std::lock_guard lock(m_mutex);
            m_bytes += document.size();
            if (!m_keep_documents) std::string().swap(document); // its buffer too, not only its text
            m_documents.push_back(std::move(document));
        }
        m_arrived.notify_all();
    }
}

std::size_t DocumentReceiver::count() const
{
    std::lock_guard lock(m_mutex);
    return m_documents.size();
}

std::size_t DocumentReceiver::bytes_received() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

std::vector<std::string> DocumentReceiver::wait_for(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, timeout, [&] { return m_documents.size() >= count; });
    return m_documents;
}

std::set<int> job_ids(const std::string& queue)
{
    const Jobs jobs(queue);
    std::set<int> ids;
    for (int i = 0; i < jobs.count; ++i)
        ids.insert(jobs.list[i].id);
    return ids;
}

std::set<int> jobs_added(const std::string& queue, const std::set<int>& before)
{
    std::set<int> added;
    for (int id : job_ids(queue))
        if (!before.count(id)) added.insert(id);
    return added;
}

std::optional<ipp_jstate_t> job_state(const std::string& queue, int id)
{
    const Jobs jobs(queue);
    for (int i = 0; i < jobs.count; ++i)
        if (jobs.list[i].id == id) return jobs.list[i].state;
    return std::nullopt;
}

std::optional<ipp_jstate_t> wait_for_job_end(const std::string& queue, int id,
                                             std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto state = job_state(queue, id);
        if (state && *state > IPP_JSTATE_STOPPED) return state;
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ipp_status_t release_job(int id)
{
    ipp_t* request = ippNewRequest(IPP_OP_RELEASE_JOB);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/"));
    return cupsLastError();
}

JobAttributes::JobAttributes(int id)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    m_response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/");
}

JobAttributes::~JobAttributes()
{
    ippDelete(m_response);
}

bool JobAttributes::has(const char* name) const
{
    return ippFindAttribute(m_response, name, IPP_TAG_ZERO) != nullptr;
}

std::string JobAttributes::text(const char* name) const
{
    ipp_attribute_t* attribute = ippFindAttribute(m_response, name, IPP_TAG_ZERO);
    if (!attribute) return {};
    const ipp_tag_t tag = ippGetValueTag(attribute);
    if (tag == IPP_TAG_ENUM || tag == IPP_TAG_INTEGER) return std::to_string(ippGetInteger(attribute, 0));
    const char* value = ippGetString(attribute, 0, nullptr);
    return value ? value : "";
}

void write_file(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

std::string squeezed(const std::string& text)
{
    std::string result;
    for (char c : text)
        if (c != ' ' && c != '\n' && c != '\r' && c != '\f' && c != '\t') result += c;
    return result;
}

PdfFacts inspect_pdf(const std::filesystem::path& file)
{
    PdfFacts facts;
    const std::string info = run_command("pdfinfo " + quoted(file) + " 2>/dev/null");
    std::smatch match;
    if (std::regex_search(info, match, std::regex(R"(Pages:\s+(\d+))"))) facts.pages = std::stoi(match[1]);
    if (std::regex_search(info, match, std::regex(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)"))) {
        facts.width = std::stod(match[1]);
        facts.height = std::stod(match[2]);
    }
    facts.text = squeezed(run_command("pdftotext -enc UTF-8 " + quoted(file) + " - 2>/dev/null"));
    return facts;
}

GreyPage render_page(const std::filesystem::path& pdf, int dpi)
{
    GreyPage page;
    const std::string pgm = run_command("pdftoppm -gray -singlefile -r " + std::to_string(dpi) + " " +
                                        quoted(pdf) + " 2>/dev/null");
    std::istringstream in(pgm);
    std::string magic;
    int maximum = 0;
    in >> magic >> page.width >> page.height >> maximum;
    if (magic != "P5" || maximum != 255 || page.width <= 0 || page.height <= 0) return {};
    in.get(); // the single blank after the header
    page.pixels.resize(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height));
    in.read(reinterpret_cast<char*>(page.pixels.data()), static_cast<std::streamsize>(page.pixels.size()));
    if (in.gcount() != static_cast<std::streamsize>(page.pixels.size())) return {};
    return page;
}

Resemblance resemblance(const GreyPage& candidate, const GreyPage& a, const GreyPage& b)
{
    Resemblance result;
    if (a.width != b.width || a.height != b.height || candidate.pixels.empty()) return result;
    const auto at = [](const GreyPage& page, int x, int y) {
        if (x < 0 || y < 0 || x >= page.width || y >= page.height) return 255;
        return static_cast<int>(page.pixels[static_cast<std::size_t>(y) * page.width + x]);
    };
    // The spooler may trim the page by a fraction of a point (it sizes custom paper in whole points):
    // the candidate is matched at the few-pixel offset where it looks most like `a`.
    long best = -1;
    int best_dx = 0, best_dy = 0;
    for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            long sum = 0;
            for (int y = 0; y < a.height; y += 2)
                for (int x = 0; x < a.width; x += 2)
                    sum += std::abs(at(candidate, x + dx, y + dy) - at(a, x, y));
            if (best < 0 || sum < best) best = sum, best_dx = dx, best_dy = dy;
        }
    }
    constexpr int apart = 85;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const int pa = at(a, x, y), pb = at(b, x, y), pc = at(candidate, x + best_dx, y + best_dy);
            if (std::abs(pa - pb) <= apart) continue;
            ++result.differing;
            if (std::abs(pc - pa) > apart) ++result.wrong_against_a;
            if (std::abs(pc - pb) > apart) ++result.wrong_against_b;
        }
    }
    return result;
}

} // namespace vorsa::test
