#include "online/qt/http_client.h"

#include "online/url.h"
#include "runtime/qt/qt_text.h"
#include "runtime/text/chars.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <utility>

namespace vorsa::online {

using namespace runtime;

namespace {

constexpr int default_http_port = 80;

// Read at most this much ahead of the program, so that a long handler running during a transfer does
// not let the reply buffer grow without bound.
constexpr qint64 read_buffer_size = 1024 * 1024;

QByteArray qbytes(std::string_view bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The path and query with the bytes a request line cannot carry escaped: GBK bytes, controls, the
// blank and "#" (which would otherwise start a fragment and be dropped). Everything else is kept.
QByteArray escaped_object(std::string_view object)
{
    constexpr char digits[] = "0123456789ABCDEF";
    QByteArray out;
    for (char c : object) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || byte == '#') {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

int effective_port(int port)
{
    return port == 0 ? default_http_port : port;
}

// The URL as Qt takes it, or nothing when it names no host or an impossible port: then no request is
// made at all.
std::optional<QUrl> qt_url_of(const Text& url)
{
    const Text host = url_host(url);
    const int port = effective_port(url_port(url));
    if (host.empty() || port < 1 || port > 65535) return std::nullopt;
    QUrl result = QUrl::fromEncoded("http://host" + escaped_object(url_object(url)), QUrl::TolerantMode);
    result.setHost(to_qstring(host));
    // The default port is left unnamed, so that the Host line and a proxy's request line read as usual.
    result.setPort(port == default_http_port ? -1 : port);
    if (!result.isValid() || result.host().isEmpty()) return std::nullopt;
    return result;
}

// The header text's lines as name and value; lines without a name are skipped. A later line of the
// same name replaces an earlier one, so the appended Content-Type wins over the caller's.
QList<std::pair<QByteArray, QByteArray>> header_lines_of(std::string_view headers)
{
    QList<std::pair<QByteArray, QByteArray>> lines;
    while (!headers.empty()) {
        const auto end = headers.find("\r\n");
        const std::string_view line = headers.substr(0, end);
        headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trim_blanks(line.substr(0, colon));
        // A stray CR or LF would end the line early on the wire and smuggle in a line of its own.
        if (name.empty() || line.find_first_of("\r\n") != std::string_view::npos) continue;
        lines.append({qbytes(name), qbytes(trim_blanks(line.substr(colon + 1)))});
    }
    return lines;
}

// An HTTP proxy: the request goes to it, naming the whole URL.
struct ProxyAddress
{
    QString host;
    quint16 port = 0;
};

std::optional<ProxyAddress> proxy_of(const std::optional<Text>& proxy)
{
    if (!proxy || proxy->empty()) return std::nullopt;
    const Text host = url_host(*proxy);
    const int port = effective_port(url_port(*proxy));
    if (host.empty() || port < 1 || port > 65535) return std::nullopt;
    return ProxyAddress{to_qstring(host), static_cast<quint16>(port)};
}

// Everything one request needs, settled and completed.
struct RequestPlan
{
    QUrl url;
    QByteArray method;
    QList<std::pair<QByteArray, QByteArray>> header_lines;
    QByteArray data;
    std::optional<ProxyAddress> proxy;
};

bool equal_ignoring_case(const QByteArray& a, const char* b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The request as it goes on the wire: the request line (origin form, or absolute form through a
// proxy), Host, the user agent, the caller's lines, and one connection per request.
QByteArray request_bytes(const RequestPlan& plan, const QUrl& url, const QByteArray& method,
                         const QByteArray& data)
{
    const bool has_body = method != "GET";
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty() || target.front() != '/') target.prepend('/');
    if (plan.proxy)
        target = url.toEncoded(QUrl::RemoveFragment | QUrl::RemovePath | QUrl::RemoveQuery) + target;

    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (url.port(default_http_port) != default_http_port) host += ':' + QByteArray::number(url.port());

    QByteArray out = method + ' ' + target + " HTTP/1.1\r\n";
    QList<std::pair<QByteArray, QByteArray>> lines = {{"Host", host}, {"User-Agent", qbytes(user_agent)}};
    // A later line of a name replaces an earlier one, so the appended Content-Type wins over the
    // caller's.
    for (const auto& line : plan.header_lines) {
        const auto same = std::find_if(lines.begin(), lines.end(), [&](const auto& present) {
            return present.first.compare(line.first, Qt::CaseInsensitive) == 0;
        });
        if (same != lines.end())
            same->second = line.second;
        else
            lines.append(line);
    }
    const auto named = [&lines](const char* name) {
        return std::any_of(lines.begin(), lines.end(),
                           [name](const auto& line) { return equal_ignoring_case(line.first, name); });
    };
    if (has_body && !named("Content-Length"))
        lines.append({QByteArray("Content-Length"), QByteArray::number(data.size())});
    lines.removeIf([](const auto& line) { return equal_ignoring_case(line.first, "Connection"); });
    lines.append({QByteArray("Connection"), QByteArray("close")});
    for (const auto& [name, value] : lines)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    if (has_body) out += data;
    return out;
}

// One request in flight, with its redirects, over a connection of its own that is closed as soon as
// the request ends. The answer is read as it arrives: the head line by line within its bounds, then the
// body as its length, its chunks or the end of the connection frame it.
class Transfer
{
public:
    Transfer(const RequestPlan& plan, const HttpSettings& settings, std::function<void()> on_done)
        : m_plan(plan), m_settings(settings), m_on_done(std::move(on_done)), m_method(plan.method),
          m_data(plan.data)
    {
        m_idle.setSingleShot(true);
        m_idle.setInterval(static_cast<int>(
            std::min<long long>(settings.inactivity_timeout.count(), std::numeric_limits<int>::max())));
        QObject::connect(&m_idle, &QTimer::timeout, &m_idle, [this] { finish(false); });
        start(plan.url);
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    ~Transfer() { close_connection(true); }

    bool done() const { return m_done; }

    // The body of a complete 2xx answer; empty for anything else: an error status, a body broken off
    // or cut short, a time-out, an answer beyond a bound, or a transfer still running.
    Bytes body() const
    {
        if (!m_complete) return {};
        return Bytes(m_body.begin(), m_body.end());
    }

    // Status line and header lines as the server sent them (the version always reads HTTP/1.1), or
    // blanks when no status line came or the block does not fit the header buffer with its terminator.
    Text raw_response_headers() const
    {
        if (m_status == 0) return blank_text(response_header_capacity);
        QByteArray block = "HTTP/1.1 " + QByteArray::number(m_status) + ' ' + m_reason + "\r\n";
        for (const auto& [name, value] : m_headers)
            block += name + ": " + value + "\r\n";
        block += "\r\n";
        if (block.size() + 1 > response_header_capacity) return blank_text(response_header_capacity);
        return Text(block.constData(), static_cast<std::size_t>(block.size()));
    }

private:
    enum class Stage
    {
        head,
        sized_body,   // Content-Length bytes
        chunk_size,   // a chunk-size line
        chunk_data,   // the rest of a chunk
        chunk_end,    // the CR LF after a chunk
        trailer,      // trailer lines up to the empty line
        body_to_close // everything until the server closes
    };

    void start(const QUrl& url)
    {
        m_url = url;
        m_status = 0;
        m_reason.clear();
        m_headers.clear();
        m_in.clear();
        m_at = 0;
        m_scanned = 0;
        m_stage = Stage::head;
        m_head_bytes = 0;
        m_head_lines = 0;
        m_body.clear();

        m_socket = std::make_unique<QTcpSocket>();
        m_socket->setProxy(QNetworkProxy::NoProxy);
        m_socket->setReadBufferSize(read_buffer_size);
        QTcpSocket* socket = m_socket.get();
        QObject::connect(socket, &QTcpSocket::connected, socket, [this] {
            m_idle.start();
            m_socket->write(request_bytes(m_plan, m_url, m_method, m_data));
        });
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this] { m_idle.start(); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { read_available(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { connection_ended(); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                         [this](QAbstractSocket::SocketError error) {
                             if (error == QAbstractSocket::RemoteHostClosedError)
                                 connection_ended();
                             else
                                 finish(false);
                         });
        m_idle.start();
        if (m_plan.proxy)
            socket->connectToHost(m_plan.proxy->host, m_plan.proxy->port);
        else
            socket->connectToHost(url.host(), static_cast<quint16>(url.port(default_http_port)));
    }

    // Closes the connection at once. `now` deletes the socket as well, which must not happen while one
    // of its signals is being handled.
    void close_connection(bool now = false)
    {
        if (!m_socket) return;
        QObject::disconnect(m_socket.get(), nullptr, nullptr, nullptr);
        m_socket->abort();
        if (now)
            m_socket.reset();
        else
            m_socket.release()->deleteLater();
    }

    void finish(bool complete)
    {
        if (m_done) return;
        m_done = true;
        m_complete = complete;
        if (!complete) m_body.clear();
        m_idle.stop();
        close_connection();
        m_in.clear();
        m_on_done();
    }

    void read_available()
    {
        if (m_done || !m_socket) return;
        const QByteArray incoming = m_socket->readAll();
        if (incoming.isEmpty()) return;
        m_idle.start();
        if (m_settings.budget && !m_settings.budget->take(static_cast<std::size_t>(incoming.size())))
            return finish(false);
        // What has been used is dropped before the buffer grows, so that every byte is copied a
        // bounded number of times.
        if (m_at > 0) {
            m_in.remove(0, m_at);
            m_scanned -= std::min(m_scanned, m_at);
            m_at = 0;
        }
        m_in += incoming;
        process();
    }

    // The next line of the head or of the chunk framing, without its CR LF (a bare LF ends a line as
    // well); nothing while the line is incomplete. A line counts against the head's bounds.
    std::optional<QByteArray> next_line(bool counts_as_head)
    {
        // The search goes on where the last one ended, so that a line arriving byte by byte is not
        // searched again from its start.
        const qsizetype end = m_in.indexOf('\n', std::max(m_at, m_scanned));
        if (end < 0) {
            m_scanned = m_in.size();
            if (static_cast<std::size_t>(m_in.size() - m_at) + m_head_bytes > max_response_head_bytes)
                m_over_bound = true;
            return std::nullopt;
        }
        QByteArray line = m_in.mid(m_at, end - m_at);
        m_at = end + 1;
        if (line.endsWith('\r')) line.chop(1);
        if (counts_as_head) {
            m_head_bytes += static_cast<std::size_t>(line.size()) + 2;
            if (m_head_bytes > max_response_head_bytes) m_over_bound = true;
        }
        return line;
    }

    void process()
    {
        for (;;) {
            if (m_done) return;
            if (m_over_bound) return finish(false);
            switch (m_stage) {
            case Stage::head: {
                const auto line = next_line(true);
                if (!line) return;
                if (!read_head_line(*line)) return finish(false);
                break;
            }
            case Stage::sized_body:
            case Stage::chunk_data:
            case Stage::body_to_close: {
                const qsizetype available = m_in.size() - m_at;
                if (available == 0) return;
                const qsizetype take = m_stage == Stage::body_to_close
                                           ? available
                                           : static_cast<qsizetype>(std::min<std::uint64_t>(
                                                 m_left, static_cast<std::uint64_t>(available)));
                if (!append_body(take)) return finish(false);
                if (m_stage == Stage::body_to_close) break;
                m_left -= static_cast<std::uint64_t>(take);
                if (m_left > 0) break;
                if (m_stage == Stage::sized_body) return finish(true);
                m_stage = Stage::chunk_end;
                break;
            }
            case Stage::chunk_size: {
                const auto line = next_line(true);
                if (!line) return;
                const auto size = chunk_size_of(*line);
                if (!size) return finish(false);
                m_left = *size;
                m_stage = m_left == 0 ? Stage::trailer : Stage::chunk_data;
                break;
            }
            case Stage::chunk_end: {
                const auto line = next_line(true);
                if (!line) return;
                if (!line->isEmpty()) return finish(false);
                m_stage = Stage::chunk_size;
                break;
            }
            case Stage::trailer: {
                const auto line = next_line(true);
                if (!line) return;
                if (line->isEmpty()) return finish(true);
                if (++m_head_lines > max_response_header_lines) return finish(false);
                break;
            }
            }
        }
    }

    bool append_body(qsizetype count)
    {
        if (static_cast<std::size_t>(m_body.size()) + static_cast<std::size_t>(count) >
            m_settings.max_body_bytes)
            return false;
        m_body.append(m_in.constData() + m_at, count);
        m_at += count;
        return true;
    }

    static std::optional<std::uint64_t> chunk_size_of(QByteArray line)
    {
        if (const qsizetype extension = line.indexOf(';'); extension >= 0) line.truncate(extension);
        line = line.trimmed();
        if (line.isEmpty() || line.size() > 15) return std::nullopt;
        bool ok = false;
        const qulonglong size = line.toULongLong(&ok, 16);
        if (!ok) return std::nullopt;
        return size;
    }

    // One line of the head; false when the answer cannot be taken.
    bool read_head_line(const QByteArray& line)
    {
        if (m_status == 0) {
            // "HTTP/1.x 200 OK"
            if (!line.startsWith("HTTP/1.")) return false;
            const qsizetype blank = line.indexOf(' ');
            if (blank < 0) return false;
            const qsizetype second = line.indexOf(' ', blank + 1);
            const QByteArray code = line.mid(blank + 1, second < 0 ? -1 : second - blank - 1);
            bool ok = false;
            const int status = code.toInt(&ok);
            if (!ok || code.size() != 3 || status < 100) return false;
            m_status = status;
            m_reason = second < 0 ? QByteArray() : line.mid(second + 1);
            return true;
        }
        if (!line.isEmpty()) {
            if (++m_head_lines > max_response_header_lines) return false;
            if (line.front() == ' ' || line.front() == '\t') {
                // A continuation of the previous line.
                if (m_headers.isEmpty()) return false;
                m_headers.back().second += ' ' + line.trimmed();
                return true;
            }
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) return false;
            m_headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            return true;
        }
        return head_complete();
    }

    QByteArray header(const char* name) const
    {
        for (const auto& [present, value] : m_headers)
            if (equal_ignoring_case(present, name)) return value;
        return {};
    }

    // The head has ended: an interim answer is skipped, a redirect followed, and the body framed.
    bool head_complete()
    {
        if (m_status < 200) {
            if (m_status == 101) return false;
            m_status = 0;
            m_reason.clear();
            m_headers.clear();
            return true;
        }
        const QByteArray location = header("Location");
        const bool redirect =
            m_status == 301 || m_status == 302 || m_status == 303 || m_status == 307 || m_status == 308;
        if (redirect && !location.isEmpty()) {
            follow(location);
            return true;
        }
        if (m_status < 200 || m_status >= 300) {
            // An error page is not wanted: the head is all the caller gets.
            finish(false);
            return true;
        }
        const QByteArray coding = header("Transfer-Encoding");
        if (!coding.isEmpty()) {
            if (!coding.trimmed().toLower().endsWith("chunked")) return false;
            m_stage = Stage::chunk_size;
        } else if (const QByteArray length = header("Content-Length"); !length.isEmpty()) {
            bool ok = false;
            m_left = length.toULongLong(&ok);
            if (!ok) return false;
            if (m_left > m_settings.max_body_bytes) return false;
            m_stage = Stage::sized_body;
            if (m_left == 0) finish(true);
        } else if (m_status == 204) {
            finish(true);
        } else {
            m_stage = Stage::body_to_close;
        }
        return true;
    }

    void follow(const QByteArray& location)
    {
        const QUrl next = m_url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
        if (++m_redirects > max_redirects || next.scheme().compare(u"http", Qt::CaseInsensitive) != 0 ||
            next.host().isEmpty() || next.port(default_http_port) < 1)
            return finish(false);
        // As browsers do: a 303, and a 301 or 302 after a POST, ask for the new address with a GET.
        if (m_status == 303 || ((m_status == 301 || m_status == 302) && m_method != "GET")) {
            m_method = "GET";
            m_data.clear();
        }
        close_connection();
        start(next);
    }

    void connection_ended()
    {
        if (m_done) return;
        if (m_socket) {
            // What arrived with the close is still to be read.
            const QByteArray rest = m_socket->readAll();
            if (!rest.isEmpty()) {
                if (m_settings.budget && !m_settings.budget->take(static_cast<std::size_t>(rest.size())))
                    return finish(false);
                m_in += rest;
                process();
                if (m_done) return;
            }
        }
        finish(m_stage == Stage::body_to_close);
    }

    const RequestPlan m_plan;
    HttpSettings m_settings;
    std::function<void()> m_on_done;
    QByteArray m_method;
    QByteArray m_data;
    QUrl m_url;
    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_idle;
    int m_redirects = 0;

    QByteArray m_in; // received and not yet used from m_at on
    qsizetype m_at = 0;
    qsizetype m_scanned = 0; // no line end before this position
    Stage m_stage = Stage::head;
    std::size_t m_head_bytes = 0; // over all heads and trailers of the request, redirects included
    int m_head_lines = 0;
    bool m_over_bound = false;
    std::uint64_t m_left = 0; // of the sized body or of the current chunk

    int m_status = 0;
    QByteArray m_reason;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    bool m_done = false;
    bool m_complete = false;
};

// The bounds a wait for transfers keeps besides the transfers themselves: the settings' deadline and
// stop. `wake` runs, from the event loop, when either is reached; over() tells that one has been.
class WaitBound
{
public:
    WaitBound(const HttpSettings& settings, const std::function<void()>& wake) : m_stop(settings.stop)
    {
        if (m_stop) {
            m_over = m_stop->stopped();
            m_stop_key = m_stop->on_stop([this, wake] {
                m_over = true;
                wake();
            });
        }
        if (settings.deadline && !m_over) {
            using namespace std::chrono;
            const auto left = ceil<milliseconds>(*settings.deadline - steady_clock::now());
            if (left <= milliseconds::zero()) {
                m_over = true;
                return;
            }
            // A coarse timer may fire 5% late, a second on a 20 s bound.
            m_deadline.setTimerType(Qt::PreciseTimer);
            m_deadline.setSingleShot(true);
            QObject::connect(&m_deadline, &QTimer::timeout, &m_deadline, [this, wake] {
                m_over = true;
                wake();
            });
            m_deadline.start(std::min(left, milliseconds(std::numeric_limits<int>::max())));
        }
    }

    WaitBound(const WaitBound&) = delete;
    WaitBound& operator=(const WaitBound&) = delete;

    ~WaitBound()
    {
        if (m_stop) m_stop->withdraw(m_stop_key);
    }

    bool over() const { return m_over; }

private:
    HttpStop* m_stop;
    int m_stop_key = 0;
    QTimer m_deadline;
    bool m_over = false;
};

// Settles and completes the caller's method and headers and plans the request; nothing when the URL
// cannot be requested (the method is settled all the same).
std::optional<RequestPlan> plan_request(const Text& url, Text& method, const std::optional<Text>& proxy,
                                        Text& headers, const Text& body)
{
    settle_method(method);
    auto target = qt_url_of(url);
    if (!target) return std::nullopt;
    complete_request_headers(headers, url);
    add_body_headers(headers, method, body);
    RequestPlan plan{*target, qbytes(method), header_lines_of(headers), {}, proxy_of(proxy)};
    if (sends_body(method)) plan.data = qbytes(body);
    return plan;
}

} // namespace

Bytes http_request_bytes(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                         const Text& body, Text* response_headers, const HttpSettings& settings)
{
    assert(QCoreApplication::instance() && "the HTTP client needs a QCoreApplication");
    const auto plan = plan_request(url, method, proxy, headers, body);
    if (!plan) return {};

    // The local loop handles every event of the thread while the transfer runs: the window repaints
    // and takes input, and any handler may run meanwhile.
    QEventLoop loop;
    const WaitBound bound(settings, [&loop] { loop.quit(); });
    if (bound.over()) {
        if (response_headers) *response_headers = blank_text(response_header_capacity);
        return {};
    }
    Transfer transfer(*plan, settings, [&loop] { loop.quit(); });
    if (!transfer.done()) loop.exec();
    // The loop also ends at the deadline, at a stop and when the application quits: an unfinished
    // transfer gives nothing and is aborted as it goes.
    if (response_headers) *response_headers = transfer.raw_response_headers();
    return transfer.body();
}

Text http_request_text(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                       const Text& body, Text* response_headers, const HttpSettings& settings)
{
    const Bytes bytes = http_request_bytes(url, method, proxy, headers, body, response_headers, settings);
    const Text text = text_of(bytes);
    return text.substr(0, text.find('\0'));
}

std::vector<Bytes> http_fetch_all(const std::vector<Text>& urls, const HttpSettings& settings)
{
    assert(QCoreApplication::instance() && "the HTTP client needs a QCoreApplication");
    assert(settings.max_parallel > 0);
    std::vector<Bytes> results(urls.size());
    // The transfers in flight, by URL index. One that has ended is released at once, its body taken,
    // so that a batch of any length holds at most max_parallel connections.
    std::map<std::size_t, std::unique_ptr<Transfer>> running;
    std::vector<std::size_t> ended;
    std::size_t next = 0;
    QEventLoop loop;
    const WaitBound bound(settings, [&loop] { loop.quit(); });

    while (!bound.over()) {
        while (running.size() < static_cast<std::size_t>(settings.max_parallel) && next < urls.size()) {
            const std::size_t i = next++;
            Text method;
            Text headers;
            const auto plan = plan_request(urls[i], method, std::nullopt, headers, {});
            if (!plan) continue;
            running.emplace(i, std::make_unique<Transfer>(*plan, settings, [&ended, &loop, i] {
                                ended.push_back(i);
                                loop.quit();
                            }));
        }
        if (!ended.empty()) {
            for (const std::size_t i : ended) {
                const auto found = running.find(i);
                results[i] = found->second->body();
                running.erase(found);
            }
            ended.clear();
            continue;
        }
        if (running.empty()) break;
        loop.exec();
        // The deadline or a stop ends the batch; so does the application quitting, which ends the loop
        // without an ended transfer. What has completed so far is kept.
        if (ended.empty()) break;
    }
    return results;
}

} // namespace vorsa::online
