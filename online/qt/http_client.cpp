#include "online/qt/http_client.h"

#include "online/url.h"
#include "runtime/qt/qt_text.h"
#include "runtime/text/chars.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cassert>
#include <functional>
#include <limits>
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
        if (name.empty()) continue;
        lines.append({qbytes(name), qbytes(trim_blanks(line.substr(colon + 1)))});
    }
    return lines;
}

std::optional<QNetworkProxy> proxy_of(const std::optional<Text>& proxy)
{
    if (!proxy || proxy->empty()) return std::nullopt;
    const Text host = url_host(*proxy);
    const int port = effective_port(url_port(*proxy));
    if (host.empty() || port < 1 || port > 65535) return std::nullopt;
    return QNetworkProxy(QNetworkProxy::HttpProxy, to_qstring(host), static_cast<quint16>(port));
}

// Everything one request needs, settled and completed.
struct RequestPlan
{
    QUrl url;
    QByteArray method;
    QList<std::pair<QByteArray, QByteArray>> header_lines;
    QByteArray data;
    std::optional<QNetworkProxy> proxy;
};

// One request in flight. Each has its own network manager: no connection, cookie or cache survives
// the request, and the manager's per-host connection limit does not serialise a batch.
class Transfer
{
public:
    Transfer(const RequestPlan& plan, const HttpSettings& settings, std::function<void()> on_done)
        : m_settings(settings), m_on_done(std::move(on_done))
    {
        m_manager.setProxy(plan.proxy.value_or(QNetworkProxy(QNetworkProxy::NoProxy)));
        m_manager.setCache(nullptr);
        m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);

        QNetworkRequest request(plan.url);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setTransferTimeout(static_cast<int>(settings.inactivity_timeout.count()));
        request.setRawHeader("User-Agent", qbytes(user_agent));
        for (const auto& [name, value] : plan.header_lines)
            request.setRawHeader(name, value);

        if (plan.method == "GET")
            m_reply = m_manager.get(request);
        else
            m_reply = m_manager.sendCustomRequest(request, plan.method, plan.data);
        m_reply->setReadBufferSize(read_buffer_size);
        QObject::connect(m_reply, &QNetworkReply::readyRead, &m_manager, [this] { read_available(); });
        QObject::connect(m_reply, &QNetworkReply::finished, &m_manager, [this] { finish(); });
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    ~Transfer()
    {
        if (m_reply && !m_done) {
            QObject::disconnect(m_reply, nullptr, &m_manager, nullptr);
            m_reply->abort();
        }
    }

    bool done() const { return m_done; }

    // The body of a complete 2xx answer; empty for anything else: an error status, a body broken off
    // or cut short (Qt reports a Content-Length or chunk not reached as an error), a time-out, a body
    // beyond the limit, or a transfer still running.
    Bytes body() const
    {
        if (!m_complete) return {};
        return Bytes(m_body.begin(), m_body.end());
    }

    // Status line and header lines as the server sent them (the version always reads HTTP/1.1), or
    // blanks when no response came or the block does not fit the header buffer with its terminator.
    Text raw_response_headers() const
    {
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid()) return blank_text(response_header_capacity);
        QByteArray block = "HTTP/1.1 " + QByteArray::number(status.toInt()) + ' ' +
                           m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray() +
                           "\r\n";
        for (const auto& [name, value] : m_reply->rawHeaderPairs())
            block += name + ": " + value + "\r\n";
        block += "\r\n";
        if (block.size() + 1 > response_header_capacity) return blank_text(response_header_capacity);
        return Text(block.constData(), static_cast<std::size_t>(block.size()));
    }

private:
    void read_available()
    {
        if (m_too_large || !m_reply->isOpen()) return;
        const qint64 available = m_reply->bytesAvailable();
        if (static_cast<std::size_t>(m_body.size()) + static_cast<std::size_t>(available) >
            m_settings.max_body_bytes) {
            m_too_large = true;
            m_body.clear();
            m_reply->abort();
            return;
        }
        m_body += m_reply->read(available);
    }

    void finish()
    {
        if (m_done) return;
        read_available();
        m_done = true;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        m_complete =
            !m_too_large && m_reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
        m_on_done();
    }

    HttpSettings m_settings;
    std::function<void()> m_on_done;
    QNetworkAccessManager m_manager;
    QNetworkReply* m_reply = nullptr; // owned by m_manager
    QByteArray m_body;
    bool m_too_large = false;
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
    std::vector<std::unique_ptr<Transfer>> transfers(urls.size());
    std::size_t next = 0;
    std::size_t settled = 0;
    int running = 0;
    bool progressed = false;
    QEventLoop loop;
    const auto on_done = [&] {
        --running;
        ++settled;
        progressed = true;
        loop.quit();
    };
    const WaitBound bound(settings, [&loop] { loop.quit(); });

    while (settled < urls.size() && !bound.over()) {
        while (running < settings.max_parallel && next < urls.size()) {
            const std::size_t i = next++;
            Text method;
            Text headers;
            const auto plan = plan_request(urls[i], method, std::nullopt, headers, {});
            if (!plan) {
                ++settled;
                continue;
            }
            ++running;
            transfers[i] = std::make_unique<Transfer>(*plan, settings, on_done);
        }
        if (running == 0) continue;
        progressed = false;
        loop.exec();
        // The deadline or a stop ends the batch; so does the application quitting, which ends the loop
        // without a finished transfer. What has completed so far is kept.
        if (bound.over() || !progressed) break;
    }

    std::vector<Bytes> results(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i)
        if (transfers[i]) results[i] = transfers[i]->body();
    return results;
}

} // namespace vorsa::online
