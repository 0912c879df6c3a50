#include "online/win32/http_client.h"

#include "online/url.h"
#include "runtime/text/chars.h"
#include "runtime/text/gbk.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <windows.h>
#include <winhttp.h>

namespace vorsa::online {

using namespace runtime;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int default_http_port = 80;

// Bytes asked for per read; WinHTTP hands over what it has, up to this.
constexpr DWORD read_size = 64 * 1024;

int effective_port(int port)
{
    return port == 0 ? default_http_port : port;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (to_lower_ascii(text[i]) != to_lower_ascii(prefix[i])) return false;
    return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

// ASCII text as UTF-16, a byte for a unit.
std::wstring widened(std::string_view ascii)
{
    std::wstring out;
    out.reserve(ascii.size());
    for (char c : ascii)
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

// What WinHTTP hands back as UTF-16 (it widened the server's bytes one for one), as bytes again; a unit
// beyond a byte becomes "?".
Text narrowed(std::wstring_view wide)
{
    Text out;
    out.reserve(wide.size());
    for (wchar_t unit : wide)
        out += unit <= 0xFF ? static_cast<char>(unit) : '?';
    return out;
}

// The bytes a request line or header line cannot carry as "%XX": bytes at or above 0x7F, and those of
// `also`. Everything else is kept.
std::string escaped(std::string_view text, std::string_view also)
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x7F || also.find(c) != std::string_view::npos) {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The path and query with GBK bytes, controls, the blank and "#" (which would otherwise start a
// fragment and be dropped) escaped.
std::string escaped_object(std::string_view object)
{
    static const std::string controls_blank_hash = [] {
        std::string set;
        for (char c = 0; c <= 0x20; ++c)
            set += c;
        return set + '#';
    }();
    std::string out = escaped(object, controls_blank_hash);
    if (out.empty() || out.front() != '/') out.insert(out.begin(), '/');
    return out;
}

// Where a request goes.
struct Target
{
    Text host;
    int port = default_http_port;
    std::string object; // escaped, starting with "/"
};

std::optional<Target> target_of(std::string_view url)
{
    Target target{url_host(url), effective_port(url_port(url)), escaped_object(url_object(url))};
    if (target.host.empty() || target.port < 1 || target.port > 65535) return std::nullopt;
    return target;
}

// The address a redirect's Location names, resolved against the request's own; nothing for another
// scheme (https among them) or an address without a host.
std::optional<Target> redirect_target(const Target& from, std::string_view location)
{
    location = trim_blanks(location.substr(0, location.find('#')));
    if (location.empty()) return std::nullopt;
    if (starts_with_ignoring_case(location, "http://")) return target_of(location);
    if (location.substr(0, 2) == "//") return target_of("http:" + std::string(location));
    const auto scheme_end = location.find_first_of(":/?");
    if (scheme_end != std::string_view::npos && location[scheme_end] == ':') return std::nullopt;

    Target target = from;
    const std::string path = from.object.substr(0, from.object.find('?'));
    if (location.front() == '/')
        target.object = escaped_object(location);
    else if (location.front() == '?')
        target.object = path + escaped_object(location).substr(1);
    else
        target.object = path.substr(0, path.rfind('/') + 1) + escaped_object(location).substr(1);
    return target;
}

// The header text's lines as name and value; lines without a name, or with a stray CR or LF that
// would end the line early on the wire and smuggle in a line of its own, are skipped.
std::vector<std::pair<std::string, std::string>> header_lines_of(std::string_view headers)
{
    std::vector<std::pair<std::string, std::string>> lines;
    while (!headers.empty()) {
        const auto end = headers.find("\r\n");
        const std::string_view line = headers.substr(0, end);
        headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trim_blanks(line.substr(0, colon));
        if (name.empty() || line.find_first_of("\r\n") != std::string_view::npos) continue;
        lines.emplace_back(escaped(name, {}), escaped(trim_blanks(line.substr(colon + 1)), {}));
    }
    return lines;
}

// "host:port" of a proxy, checked as a URL's host and port are.
std::optional<std::string> proxy_of(const std::optional<Text>& proxy)
{
    if (!proxy || proxy->empty()) return std::nullopt;
    const auto target = target_of(*proxy);
    if (!target) return std::nullopt;
    return escaped(target->host, ":/") + ":" + std::to_string(target->port);
}

// Everything one request needs, settled and completed.
struct RequestPlan
{
    Target target;
    std::string method;
    std::vector<std::pair<std::string, std::string>> header_lines;
    std::string data;
    std::optional<std::string> proxy;
};

std::optional<RequestPlan> plan_request(const Text& url, Text& method, const std::optional<Text>& proxy,
                                        Text& headers, const Text& body)
{
    settle_method(method);
    auto target = target_of(url);
    if (!target) return std::nullopt;
    complete_request_headers(headers, url);
    add_body_headers(headers, method, body);
    RequestPlan plan{*target, method, header_lines_of(headers), {}, proxy_of(proxy)};
    if (sends_body(method)) plan.data = body;
    return plan;
}

// ---------------------------------------------------------------------------------------------------
// What WinHTTP's threads report to a waiting thread.

// Set whenever an exchange of a wait has news. Shared by the exchanges of one wait and kept alive by
// each of them, so that a callback that comes after the wait has ended still finds it.
class Signal
{
public:
    Signal() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Signal()
    {
        if (m_event) CloseHandle(m_event);
    }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    HANDLE event() const { return m_event; }
    void raise() const { SetEvent(m_event); }

private:
    HANDLE m_event;
};

enum class Outcome
{
    none,
    sent,      // the request has gone out
    headers,   // the response head has come
    available, // this many bytes of the body can be read at once (`count`; 0 at its end)
    read,      // a read of them has completed (`count`)
    failed,    // the operation under way failed
};

// One request and its answer over handles of its own: a redirect is a new exchange. The waiting
// thread owns the handles and makes every WinHTTP call; WinHTTP's threads only report, under
// exchange_mutex(), into the fields marked so. An exchange stays alive after its owner has let it go
// until WinHTTP has finished with it: its request handle has been reported closing and no operation,
// which may still write into `buffer`, is under way.
struct Exchange
{
    std::uint64_t id = 0;
    std::shared_ptr<const Signal> signal;
    std::vector<char> buffer = std::vector<char>(read_size);
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    // Guarded by exchange_mutex().
    bool under_way = false; // an operation has been started and not completed
    Outcome outcome = Outcome::none;
    DWORD count = 0;
    Clock::time_point last_activity;
    bool reports_closing = false; // the callback is set, so WinHTTP reports the handle's end
    bool closing = false;         // ... and it has
    bool let_go = false;          // its owner has closed its handles and wants nothing more
};

// Lives as long as the process (never destroyed): WinHTTP's threads may report until the very end.
std::mutex& exchange_mutex()
{
    static auto* const mutex = new std::mutex;
    return *mutex;
}

// Exchanges by the context value WinHTTP reports them with; a report of one not listed is dropped.
std::map<std::uint64_t, std::shared_ptr<Exchange>>& live_exchanges()
{
    static auto* const exchanges = new std::map<std::uint64_t, std::shared_ptr<Exchange>>;
    return *exchanges;
}

// Under exchange_mutex().
void forget_when_finished(const Exchange& exchange)
{
    if (exchange.let_go && !exchange.under_way && (!exchange.reports_closing || exchange.closing))
        live_exchanges().erase(exchange.id);
}

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    std::shared_ptr<const Signal> signal;
    {
        const std::lock_guard lock(exchange_mutex());
        const auto found = live_exchanges().find(static_cast<std::uint64_t>(context));
        if (found == live_exchanges().end()) return;
        const std::shared_ptr<Exchange> exchange = found->second;
        const auto complete = [&](Outcome outcome) {
            exchange->under_way = false;
            exchange->outcome = outcome;
        };
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            complete(Outcome::sent);
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            complete(Outcome::headers);
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            exchange->count = length >= sizeof(DWORD) ? *static_cast<const DWORD*>(information) : 0;
            complete(Outcome::available);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            exchange->count = length;
            complete(Outcome::read);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            complete(Outcome::failed);
            break;
        case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
            // Bytes came while the head is read: the exchange is not idle.
            exchange->last_activity = Clock::now();
            return;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            exchange->closing = true;
            break;
        default:
            return;
        }
        exchange->last_activity = Clock::now();
        signal = exchange->signal;
        forget_when_finished(*exchange);
    }
    signal->raise();
}

// ---------------------------------------------------------------------------------------------------
// One request with its redirects, driven from the waiting thread.

class Transfer
{
public:
    Transfer(const RequestPlan& plan, const HttpSettings& settings, std::shared_ptr<const Signal> signal)
        : m_plan(plan), m_settings(settings), m_signal(std::move(signal)), m_method(plan.method),
          m_data(plan.data), m_header_lines(plan.header_lines)
    {
        start(plan.target);
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    ~Transfer() { let_go(); }

    bool done() const { return m_done; }

    // The body of a complete 2xx answer; empty for anything else: an error status, a body broken off
    // or cut short, a time-out, an answer beyond a bound, or a transfer still running.
    Bytes body() const { return m_complete ? m_body : Bytes(); }

    // The last response head as it came, or blanks when none came or it does not fit the header
    // buffer with its terminator.
    Text raw_response_headers() const
    {
        if (m_head.empty() || m_head.size() + 1 > static_cast<std::size_t>(response_header_capacity))
            return blank_text(response_header_capacity);
        return m_head;
    }

    // When the operation under way has been idle for the inactivity time-out; nothing when done.
    std::optional<Clock::time_point> idle_limit() const
    {
        if (m_done || !m_exchange) return std::nullopt;
        const std::lock_guard lock(exchange_mutex());
        return m_exchange->last_activity + m_settings.inactivity_timeout;
    }

    // Takes what WinHTTP has reported and goes on with the next step; gives up when the operation
    // under way has been idle too long.
    void advance()
    {
        while (!m_done && m_exchange) {
            Outcome outcome = Outcome::none;
            DWORD count = 0;
            bool idle = false;
            {
                const std::lock_guard lock(exchange_mutex());
                std::swap(outcome, m_exchange->outcome);
                count = m_exchange->count;
                idle = m_exchange->under_way &&
                       Clock::now() >= m_exchange->last_activity + m_settings.inactivity_timeout;
            }
            switch (outcome) {
            case Outcome::none:
                if (idle) finish(false);
                return;
            case Outcome::sent:
                begin([this] { return WinHttpReceiveResponse(m_exchange->request, nullptr); });
                break;
            case Outcome::headers:
                head_arrived();
                break;
            case Outcome::available:
                if (count == 0) {
                    body_ended();
                } else {
                    // What is there already, so that the read never waits for the server.
                    const DWORD size = std::min(count, read_size);
                    begin([this, size] {
                        return WinHttpReadData(m_exchange->request, m_exchange->buffer.data(), size, nullptr);
                    });
                }
                break;
            case Outcome::read:
                body_arrived(count);
                break;
            case Outcome::failed:
                finish(false);
                break;
            }
        }
    }

    // Ends the transfer now, its result empty.
    void give_up() { finish(false); }

private:
    // A new exchange with `target`: handles, options, header lines, and the request sent.
    void start(const Target& target)
    {
        m_target = target;
        m_head.clear();
        m_body.clear();
        m_expected_length.reset();

        static std::atomic<std::uint64_t> last_id{0};
        auto exchange = std::make_shared<Exchange>();
        exchange->id = ++last_id;
        exchange->signal = m_signal;
        exchange->last_activity = Clock::now();
        {
            const std::lock_guard lock(exchange_mutex());
            live_exchanges().emplace(exchange->id, exchange);
        }
        m_exchange = exchange;

        const std::wstring agent = widened(user_agent);
        const std::wstring proxy = m_plan.proxy ? widened(*m_plan.proxy) : std::wstring();
        exchange->session =
            m_plan.proxy ? WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)
                         : WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (!exchange->session) return finish(false);
        const std::u16string host = utf16_from_gbk(target.host);
        exchange->connection =
            WinHttpConnect(exchange->session, reinterpret_cast<const wchar_t*>(host.c_str()),
                           static_cast<INTERNET_PORT>(target.port), 0);
        if (!exchange->connection) return finish(false);
        const std::wstring method = widened(m_method);
        const std::wstring object = widened(target.object);
        // The object is escaped already; WinHTTP sends it as it is. "Refresh" asks every cache on the
        // way for a fresh copy.
        exchange->request = WinHttpOpenRequest(exchange->connection, method.c_str(), object.c_str(),
                                               L"HTTP/1.1", WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               WINHTTP_FLAG_REFRESH | WINHTTP_FLAG_ESCAPE_DISABLE |
                                                   WINHTTP_FLAG_ESCAPE_DISABLE_QUERY);
        if (!exchange->request) return finish(false);

        HINTERNET request = exchange->request;
        const auto set_number = [request](DWORD option, DWORD value) {
            return WinHttpSetOption(request, option, &value, sizeof value);
        };
        DWORD_PTR context = static_cast<DWORD_PTR>(exchange->id);
        const int timeout = static_cast<int>(
            std::min<long long>(m_settings.inactivity_timeout.count(), std::numeric_limits<int>::max()));
        // Redirects are followed here, where their scheme and count are checked; WinHTTP follows none.
        if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
            !set_number(WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER) ||
            !WinHttpSetTimeouts(request, timeout, timeout, timeout, timeout))
            return finish(false);
        set_number(WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS |
                                                       WINHTTP_DISABLE_AUTHENTICATION |
                                                       WINHTTP_DISABLE_KEEP_ALIVE);
        set_number(WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, static_cast<DWORD>(max_response_head_bytes));

        // A later line of a name replaces an earlier one, so the appended Content-Type wins over the
        // caller's; WinHTTP sets Host and User-Agent itself, and the connection ends with the request.
        for (const auto& [name, value] : m_header_lines) {
            if (equal_ignoring_case(name, "Connection")) continue;
            const std::wstring line = widened(name + ": " + value);
            WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()),
                                     WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
        }
        const std::wstring close = L"Connection: close";
        WinHttpAddRequestHeaders(request, close.c_str(), static_cast<DWORD>(close.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);

        constexpr DWORD reported = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                   WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE;
        if (WinHttpSetStatusCallback(request, on_status, reported, 0) == WINHTTP_INVALID_STATUS_CALLBACK)
            return finish(false);
        {
            const std::lock_guard lock(exchange_mutex());
            exchange->reports_closing = true;
        }

        const bool with_data = m_method != "GET" && !m_data.empty();
        const auto size = static_cast<DWORD>(with_data ? m_data.size() : 0);
        begin([this, request, size, context] {
            return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                      size ? const_cast<char*>(m_data.data()) : WINHTTP_NO_REQUEST_DATA, size,
                                      size, context);
        });
    }

    // Starts an asynchronous operation; a call WinHTTP refuses fails the transfer. WinHTTP may report
    // the operation's completion before the call returns, on this thread or another.
    template <typename Call> void begin(Call call)
    {
        {
            const std::lock_guard lock(exchange_mutex());
            m_exchange->under_way = true;
            m_exchange->last_activity = Clock::now();
        }
        if (call()) return;
        {
            const std::lock_guard lock(exchange_mutex());
            m_exchange->under_way = false;
            m_exchange->outcome = Outcome::failed;
        }
        m_signal->raise();
    }

    std::optional<std::wstring> query_text(DWORD level) const
    {
        DWORD size = 0;
        WinHttpQueryHeaders(m_exchange->request, level, WINHTTP_HEADER_NAME_BY_INDEX,
                            WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
        // The size is in bytes, the terminating zero included; the bound keeps a flood out of memory.
        if (size / sizeof(wchar_t) > max_response_head_bytes + 1) return std::nullopt;
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (!WinHttpQueryHeaders(m_exchange->request, level, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                                 WINHTTP_NO_HEADER_INDEX))
            return std::nullopt;
        text.resize(size / sizeof(wchar_t));
        return text;
    }

    // The head has come: its bounds are checked, a redirect followed, and the body framed.
    void head_arrived()
    {
        DWORD size = 0;
        WinHttpQueryHeaders(m_exchange->request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                            WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
        if (size / sizeof(wchar_t) > max_response_head_bytes + 1) return finish(false);
        const auto raw = query_text(WINHTTP_QUERY_RAW_HEADERS_CRLF);
        if (!raw) return finish(false);
        m_head = narrowed(*raw);
        if (m_settings.budget && !m_settings.budget->take(m_head.size())) return finish(false);
        // The status line, the header lines, and the empty line that ends the head.
        int lines = 0;
        for (std::size_t at = m_head.find("\r\n"); at != std::string::npos; at = m_head.find("\r\n", at + 2))
            ++lines;
        if (lines - 2 > max_response_header_lines) return finish(false);

        DWORD status = 0;
        DWORD status_size = sizeof status;
        if (!WinHttpQueryHeaders(m_exchange->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                                 WINHTTP_NO_HEADER_INDEX))
            return finish(false);

        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            if (const auto location = query_text(WINHTTP_QUERY_LOCATION))
                return follow(status, narrowed(*location));
        }
        // An error page is not wanted: the head is all the caller gets.
        if (status < 200 || status >= 300) return finish(false);

        if (!query_text(WINHTTP_QUERY_TRANSFER_ENCODING)) {
            if (const auto length = query_text(WINHTTP_QUERY_CONTENT_LENGTH)) {
                const std::string digits = narrowed(*length);
                if (digits.empty() || digits.size() > 15 ||
                    !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    return finish(false);
                m_expected_length = std::stoull(digits);
                if (*m_expected_length > m_settings.max_body_bytes) return finish(false);
                if (*m_expected_length == 0) return finish(true);
            }
        }
        if (status == 204) return finish(true);
        read_next();
    }

    // Asks how much of the body has come; the read follows once some has.
    void read_next()
    {
        begin([this] { return WinHttpQueryDataAvailable(m_exchange->request, nullptr); });
    }

    // WinHTTP does not tell a connection closed before the announced length from the end of the body,
    // so the length is checked here.
    void body_ended() { finish(!m_expected_length || m_body.size() == *m_expected_length); }

    void body_arrived(DWORD count)
    {
        if (count == 0) return body_ended();
        if (count > read_size || m_body.size() + count > m_settings.max_body_bytes ||
            (m_settings.budget && !m_settings.budget->take(count)))
            return finish(false);
        const auto* first = reinterpret_cast<const std::uint8_t*>(m_exchange->buffer.data());
        m_body.insert(m_body.end(), first, first + count);
        if (m_expected_length && m_body.size() > *m_expected_length) return finish(false);
        read_next();
    }

    void follow(DWORD status, const std::string& location)
    {
        const auto next = redirect_target(m_target, location);
        if (++m_redirects > max_redirects || !next) return finish(false);
        // As browsers do: a 303, and a 301 or 302 after a POST, ask for the new address with a GET.
        if (status == 303 || ((status == 301 || status == 302) && m_method != "GET")) {
            m_method = "GET";
            m_data.clear();
            std::erase_if(m_header_lines, [](const auto& line) {
                return equal_ignoring_case(line.first, "Content-Type") ||
                       equal_ignoring_case(line.first, "Content-Length");
            });
        }
        let_go();
        start(*next);
    }

    void finish(bool complete)
    {
        if (m_done) return;
        m_done = true;
        m_complete = complete;
        if (!complete) m_body.clear();
        let_go();
    }

    // Closes the exchange's handles, which cancels what is under way, and leaves the exchange to
    // WinHTTP's last reports.
    void let_go()
    {
        if (!m_exchange) return;
        const std::shared_ptr<Exchange> exchange = std::move(m_exchange);
        if (exchange->request) WinHttpCloseHandle(exchange->request);
        if (exchange->connection) WinHttpCloseHandle(exchange->connection);
        if (exchange->session) WinHttpCloseHandle(exchange->session);
        const std::lock_guard lock(exchange_mutex());
        exchange->let_go = true;
        forget_when_finished(*exchange);
    }

    const RequestPlan m_plan;
    const HttpSettings m_settings;
    const std::shared_ptr<const Signal> m_signal;
    std::string m_method;
    std::string m_data;
    std::vector<std::pair<std::string, std::string>> m_header_lines;
    Target m_target;
    std::shared_ptr<Exchange> m_exchange;
    int m_redirects = 0;

    Text m_head;
    Bytes m_body;
    std::optional<std::uint64_t> m_expected_length;
    bool m_done = false;
    bool m_complete = false;
};

// ---------------------------------------------------------------------------------------------------
// The wait of the calling thread.

// Waits for news of the transfers while it dispatches the thread's window messages, and keeps the
// settings' deadline and stop and the thread's quit message: once any of them is reached, over() is
// true and the transfers are to be given up.
class Wait
{
public:
    Wait(const HttpSettings& settings, const Signal& signal)
        : m_signal(signal), m_stop(settings.stop), m_deadline(settings.deadline)
    {
        if (m_stop) {
            m_over = m_stop->stopped();
            // The stop comes from a handler this wait dispatches, on this thread.
            m_stop_key = m_stop->on_stop([this] { m_over = true; });
        }
        check_deadline();
    }

    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;

    ~Wait()
    {
        if (m_stop) m_stop->withdraw(m_stop_key);
    }

    bool over() const { return m_over; }

    // Returns once the signal is raised, a window message has come (and every one waiting has been
    // dispatched), `until` has passed, or the wait is over.
    void wait_once(std::optional<Clock::time_point> until)
    {
        if (m_over) return;
        if (m_deadline && (!until || *m_deadline < *until)) until = m_deadline;
        DWORD timeout = INFINITE;
        if (until) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
            timeout = static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
        }
        const HANDLE event = m_signal.event();
        MsgWaitForMultipleObjectsEx(1, &event, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        dispatch_messages();
        check_deadline();
    }

private:
    void dispatch_messages()
    {
        MSG message;
        while (!m_over && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Left for the thread's own loop, which ends on it; the transfers end here.
                PostQuitMessage(static_cast<int>(message.wParam));
                m_over = true;
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            // A handler that keeps posting to itself does not hold the wait beyond the deadline.
            check_deadline();
        }
    }

    void check_deadline()
    {
        if (m_deadline && Clock::now() >= *m_deadline) m_over = true;
    }

    const Signal& m_signal;
    HttpStop* m_stop;
    int m_stop_key = 0;
    std::optional<Clock::time_point> m_deadline;
    bool m_over = false;
};

} // namespace

Bytes http_request_bytes(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                         const Text& body, Text* response_headers, const HttpSettings& settings)
{
    const auto plan = plan_request(url, method, proxy, headers, body);
    if (!plan) return {};
    const auto signal = std::make_shared<const Signal>();
    Wait wait(settings, *signal);
    if (wait.over() || !signal->event()) {
        if (response_headers) *response_headers = blank_text(response_header_capacity);
        return {};
    }
    Transfer transfer(*plan, settings, signal);
    transfer.advance();
    while (!transfer.done()) {
        wait.wait_once(transfer.idle_limit());
        if (wait.over()) transfer.give_up();
        transfer.advance();
    }
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
    assert(settings.max_parallel > 0);
    std::vector<Bytes> results(urls.size());
    const auto signal = std::make_shared<const Signal>();
    if (!signal->event()) return results;
    Wait wait(settings, *signal);
    // The transfers in flight, by URL index. One that has ended is released at once, its body taken,
    // so that a batch of any length holds at most max_parallel connections.
    std::map<std::size_t, std::unique_ptr<Transfer>> running;
    std::size_t next = 0;

    while (!wait.over()) {
        while (running.size() < static_cast<std::size_t>(settings.max_parallel) && next < urls.size()) {
            const std::size_t i = next++;
            Text method;
            Text headers;
            const auto plan = plan_request(urls[i], method, std::nullopt, headers, {});
            if (plan) running.emplace(i, std::make_unique<Transfer>(*plan, settings, signal));
        }
        std::optional<Clock::time_point> until;
        for (auto it = running.begin(); it != running.end();) {
            it->second->advance();
            if (it->second->done()) {
                results[it->first] = it->second->body();
                it = running.erase(it);
                continue;
            }
            if (const auto limit = it->second->idle_limit(); limit && (!until || *limit < *until))
                until = limit;
            ++it;
        }
        if (running.empty()) {
            if (next < urls.size()) continue;
            break;
        }
        wait.wait_once(until);
    }
    // The deadline, a stop or a quit message ends the batch: what has completed so far is kept, the
    // rest is given up as `running` ends.
    return results;
}

} // namespace vorsa::online
