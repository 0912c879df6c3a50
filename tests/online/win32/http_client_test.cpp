#include "online/refresh.h"
#include "online/win32/http_client.h"
#include "runtime/text/gbk.h"
#include "tests/online/local_http_server.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
using testing::Behaviour;
using testing::LocalHttpServer;
using testing::Reply;
using Clock = std::chrono::steady_clock;

const std::string agent_line = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const std::string accept_line = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                                "application/x-shockwave-flash, application/vnd.ms-excel, "
                                "application/vnd.ms-powerpoint, application/msword, */*";

// A fault handled wrongly costs at least the inactivity time-out, or never ends: rows that are not
// about the time-out set it to a minute, and a request may take half of that, far beyond what a busy
// machine needs and far short of what a wrong rule costs.
constexpr auto minute = 60000ms;
constexpr auto at_most = minute / 2;

HttpSettings quick(std::chrono::milliseconds timeout = 3000ms)
{
    HttpSettings settings;
    settings.inactivity_timeout = timeout;
    return settings;
}

Reply answer(std::string body)
{
    Reply reply;
    reply.body = std::move(body);
    return reply;
}

bool has_line(const std::string& request, const std::string& line)
{
    return request.find("\r\n" + line + "\r\n") != std::string::npos;
}

std::string body_of(const std::string& request)
{
    return request.substr(request.find("\r\n\r\n") + 4);
}

Bytes get(const Text& url, const HttpSettings& settings = quick(), Text* response_headers = nullptr)
{
    Text method;
    Text headers;
    return http_request_bytes(url, method, std::nullopt, headers, {}, response_headers, settings);
}

Text as_text(const Bytes& bytes)
{
    return runtime::text_of(bytes);
}

Text refused_url()
{
    return "http://127.0.0.1:" + std::to_string(LocalHttpServer::refused_port()) + "/x";
}

// A window of the test's thread that runs `on_message` for every WM_APP posted to it: what a handler
// of the program's window does while a request waits.
class MessageWindow
{
public:
    explicit MessageWindow(std::function<void()> on_message) : m_on_message(std::move(on_message))
    {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"VorsaHttpTestWindow";
        RegisterClassW(&window_class);
        m_window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   window_class.hInstance, this);
    }
    ~MessageWindow() { DestroyWindow(m_window); }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND handle() const { return m_window; }
    int handled() const { return m_handled; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_APP && self) {
            ++self->m_handled;
            self->m_on_message();
            return 0;
        }
        return DefWindowProcW(window, message, w, l);
    }

    std::function<void()> m_on_message;
    HWND m_window = nullptr;
    int m_handled = 0;
};

// Posts WM_APP to the window once the server has received `count` requests: from another thread,
// while the test's thread waits in a request.
std::thread post_when_requested(const LocalHttpServer& server, HWND window, std::size_t count = 1)
{
    return std::thread([&server, window, count] {
        // However long the request takes to arrive, up to the test's own bound.
        const auto give_up = Clock::now() + minute;
        while (server.request_count() < count && Clock::now() < give_up)
            std::this_thread::sleep_for(5ms);
        PostMessageW(window, WM_APP, 0, 0);
    });
}

TEST(WinHttpClientTest, SendsAGetWithTheDefaultLines)
{
    LocalHttpServer server;
    server.set_reply("/page?x=1", answer("hello"));
    const Text url = server.address() + "/page?x=1";
    Text method;
    Text headers;
    EXPECT_EQ(http_request_text(url, method, std::nullopt, headers, "ignored", nullptr, quick()), "hello");

    EXPECT_EQ(method, "GET");
    EXPECT_EQ(headers, accept_line + "\r\nReferer: " + url + "\r\nAccept-Language: zh-cn\r\n");
    ASSERT_EQ(server.request_count(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_EQ(server.request_lines()[0], "GET /page?x=1 HTTP/1.1");
    for (const std::string& line :
         {agent_line, accept_line, "Referer: " + url, std::string("Accept-Language: zh-cn"),
          "Host: 127.0.0.1:" + std::to_string(server.port()), std::string("Connection: close"),
          std::string("Pragma: no-cache")})
        EXPECT_TRUE(has_line(request, line)) << line << "\n" << request;
    for (const char* absent : {"Content-Type", "Cookie", "Accept-Encoding", "Authorization"})
        EXPECT_EQ(request.find(absent), std::string::npos) << absent << "\n" << request;
    EXPECT_EQ(body_of(request), ""); // a GET sends no body
}

TEST(WinHttpClientTest, SendsTheCallersLinesAsTheyMayGoOnTheWire)
{
    LocalHttpServer server;
    const Text url = server.address() + "/a";
    Text method = "GET";
    Text headers =
        "accept: text/html\r\nX-Shop: 7\r\nX-Name: 飞\r\nX-Bad: 1\nInjected: 1\r\n: no name\r\n"_gbk;
    const Text given = headers;
    http_request_bytes(url, method, std::nullopt, headers, {}, nullptr, quick());
    ASSERT_EQ(server.request_count(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_TRUE(has_line(request, "accept: text/html")) << request;
    EXPECT_TRUE(has_line(request, "X-Shop: 7"));
    EXPECT_TRUE(has_line(request, "X-Name: %B7%C9")) << request; // GBK bytes escaped
    EXPECT_EQ(request.find("Injected"), std::string::npos) << request;
    EXPECT_EQ(request.find("X-Bad"), std::string::npos) << request;
    EXPECT_EQ(request.find("image/gif"), std::string::npos);
    EXPECT_TRUE(has_line(request, "Referer: " + url));
    EXPECT_TRUE(has_line(request, "Accept-Language: zh-cn"));
    EXPECT_EQ(headers, given + "Referer: " + url + "\r\nAccept-Language: zh-cn\r\n");
}

TEST(WinHttpClientTest, SendsTheBodyOnlyWithAPost)
{
    struct Case
    {
        Text method;
        Text body;
        std::string request_line;
        Text method_after;
        std::string sent_body;
    };
    const std::vector<Case> cases = {
        {"POST", "a=1&b=2", "POST /form HTTP/1.1", "POST", "a=1&b=2"},
        {"post", "名=飞"_gbk, "post /form HTTP/1.1", "post", "名=飞"_gbk}, // kept as written, length in bytes
        {"", "a=1", "GET /form HTTP/1.1", "GET", ""},
        {"PUT", "a=1", "GET /form HTTP/1.1", "GET", ""},
        {"POST", "", "POST /form HTTP/1.1", "POST", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + runtime::utf8_from_gbk(c.body));
        LocalHttpServer server;
        Text method = c.method;
        Text headers;
        http_request_bytes(server.address() + "/form", method, std::nullopt, headers, c.body, nullptr,
                           quick());
        EXPECT_EQ(method, c.method_after);
        ASSERT_EQ(server.request_count(), 1u);
        const std::string request = server.requests()[0];
        EXPECT_EQ(server.request_lines()[0], c.request_line);
        EXPECT_EQ(body_of(request), c.sent_body);
        const bool form = !c.sent_body.empty();
        EXPECT_EQ(has_line(request, "Content-Type: application/x-www-form-urlencoded"), form) << request;
        // A POST names the length of its body (0 too) in one line; a GET sends none.
        const bool post = c.method_after != "GET";
        const std::string length_line = "Content-Length: " + std::to_string(c.sent_body.size());
        const auto first = request.find(length_line);
        EXPECT_EQ(first != std::string::npos, post) << request;
        if (post) {
            EXPECT_EQ(request.find("Content-Length", first + 1), std::string::npos) << request;
        }
    }
}

TEST(WinHttpClientTest, TextFormEndsAtTheFirstZeroByte)
{
    LocalHttpServer server;
    server.set_reply("/z", answer(std::string("ab\0cd", 5)));
    const Text url = server.address() + "/z";
    EXPECT_EQ(get(url), runtime::bytes_of(std::string_view("ab\0cd", 5)));
    Text method;
    Text headers;
    EXPECT_EQ(http_request_text(url, method, std::nullopt, headers, {}, nullptr, quick()), "ab");
}

Reply with_header_lines(int count, std::size_t value_size = 1)
{
    Reply reply = answer("headed");
    for (int i = 0; i < count; ++i)
        reply.headers.emplace_back("X-Line-" + std::to_string(i), std::string(value_size, 'v'));
    return reply;
}

TEST(WinHttpClientTest, SurvivesServerFaults)
{
    Reply silent;
    silent.behaviour = Behaviour::silent;
    Reply drip = answer("0123456789");
    drip.behaviour = Behaviour::drip;
    drip.drip_interval = 150ms; // 1.5 s in all, longer than the time-out; each gap well inside it
    Reply truncated = answer("partial");
    truncated.behaviour = Behaviour::truncate;
    Reply stalled = answer("<!--李宁,安踏-->"_gbk);
    stalled.behaviour = Behaviour::stall;
    stalled.stall_after = 4;
    Reply server_error = answer("<html><body>500 Internal Server Error</body></html>");
    server_error.status = 500;
    server_error.reason = "Internal Server Error";
    Reply late = answer("late");
    late.delay = 500ms;
    Reply chunked;
    chunked.behaviour = Behaviour::endless;
    chunked.endless_bytes = 3 * 64 * 1024;
    Reply no_content;
    no_content.status = 204;
    no_content.reason = "No Content";
    // The server adds Content-Length and Connection to the lines given.
    struct Case
    {
        const char* what;
        std::optional<Reply> reply; // none: the port refuses connections
        std::chrono::milliseconds timeout;
        std::string expected;
        std::optional<std::chrono::milliseconds> deadline = std::nullopt; // from the request on
    };
    const std::vector<Case> cases = {
        {"refused port", std::nullopt, minute, ""},
        {"silent server", silent, 300ms, ""},
        {"slow drip: the time-out counts from the last byte", drip, 1000ms, "0123456789"},
        {"slow drip past the deadline: nothing, at the deadline", drip, minute, "", 300ms},
        {"silent server: the deadline comes before the time-out", silent, minute, "", 300ms},
        {"truncated body: nothing", truncated, minute, ""},
        {"headers and four bytes, then silence: nothing", stalled, 300ms, ""},
        {"late answer", late, minute, "late"},
        {"error page: nothing", testing::not_found_reply(), minute, ""},
        {"server error: nothing", server_error, minute, ""},
        {"no content", no_content, minute, ""},
        {"a chunked body, whole", chunked, minute, std::string(3 * 64 * 1024, 'x')},
        {"100 header lines in all", with_header_lines(98), minute, "headed"},
        {"101 header lines: nothing", with_header_lines(99), minute, ""},
        {"a head of 75 kB in 50 lines: nothing", with_header_lines(50, 1500), minute, ""},
        {"1 200 header lines in 72 kB: nothing", with_header_lines(1200, 40), minute, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        if (c.reply) server.set_reply("/x", *c.reply);
        const Text url = c.reply ? server.address() + "/x" : refused_url();
        HttpSettings settings = quick(c.timeout);
        if (c.deadline) settings.deadline = Clock::now() + *c.deadline;
        const auto start = Clock::now();
        Text headers;
        EXPECT_EQ(as_text(get(url, settings, &headers)), c.expected);
        EXPECT_LT(Clock::now() - start, at_most);
        // The status line of a server that answered is delivered all the same.
        if (c.reply && c.reply->status != 200) {
            EXPECT_EQ(headers.rfind("HTTP/1.1 " + std::to_string(c.reply->status), 0), 0u) << headers;
        }
    }
}

// A URL whose port reads as no TCP port, or that names no host, makes no request and gives the empty
// result, even where the port's low 16 bits name a server that would answer.
TEST(WinHttpClientTest, MakesNoRequestForAUrlItCannotReach)
{
    LocalHttpServer server;
    server.set_reply("/x", answer("reached"));
    const int port = server.port();
    std::vector<Text> urls = {"", "http://", "http://:80/x", "http://shop:70000/x"};
    for (const int impossible : {port + 65536, port - 65536, port + 3 * 65536})
        urls.push_back("http://127.0.0.1:" + std::to_string(impossible) + "/x");
    for (const Text& url : urls) {
        Text method = "put";
        Text headers = "X: 1\r\n";
        EXPECT_TRUE(http_request_bytes(url, method, std::nullopt, headers, {}, nullptr, quick()).empty())
            << url;
        EXPECT_EQ(method, "GET");
        EXPECT_EQ(headers, "X: 1\r\n");
    }
    EXPECT_TRUE(server.request_lines().empty());
}

TEST(WinHttpClientTest, FollowsRedirectsToPlainHttpOnly)
{
    struct Case
    {
        const char* what;
        std::vector<std::pair<std::string, Reply>> replies;
        Text method;
        std::string expected;
        std::vector<std::string> request_lines;
    };
    Reply see_other = testing::redirect_reply("/new");
    see_other.status = 303;
    see_other.reason = "See Other";
    Reply temporary = testing::redirect_reply("/new");
    temporary.status = 307;
    temporary.reason = "Temporary Redirect";
    std::vector<std::pair<std::string, Reply>> chain_of_20;
    std::vector<std::pair<std::string, Reply>> chain_of_21;
    std::vector<std::string> lines_of_20;
    for (int i = 0; i < 21; ++i) {
        const Reply step = testing::redirect_reply("/r" + std::to_string(i + 1));
        chain_of_21.emplace_back("/r" + std::to_string(i), step);
        if (i == 20) continue;
        chain_of_20.emplace_back("/r" + std::to_string(i), step);
        lines_of_20.push_back("GET /r" + std::to_string(i) + " HTTP/1.1");
    }
    chain_of_20.emplace_back("/r20", answer("at the end"));
    chain_of_21.emplace_back("/r21", answer("too far"));
    lines_of_20.push_back("GET /r20 HTTP/1.1");
    const std::vector<Case> cases = {
        {"absolute path",
         {{"/old", testing::redirect_reply("/new")}, {"/new", answer("moved")}},
         "GET",
         "moved",
         {"GET /old HTTP/1.1", "GET /new HTTP/1.1"}},
        {"relative to the folder",
         {{"/a/old?q=1", testing::redirect_reply("b c")}, {"/a/b%20c", answer("beside")}},
         "GET",
         "beside",
         {"GET /a/old?q=1 HTTP/1.1", "GET /a/b%20c HTTP/1.1"}},
        {"a query only",
         {{"/a/old", testing::redirect_reply("?v=2")}, {"/a/old?v=2", answer("asked")}},
         "GET",
         "asked",
         {"GET /a/old HTTP/1.1", "GET /a/old?v=2 HTTP/1.1"}},
        {"a 303 after a POST asks with a GET",
         {{"/old", see_other}, {"/new", answer("seen")}},
         "POST",
         "seen",
         {"POST /old HTTP/1.1", "GET /new HTTP/1.1"}},
        {"a 307 after a POST posts again",
         {{"/old", temporary}, {"/new", answer("again")}},
         "POST",
         "again",
         {"POST /old HTTP/1.1", "POST /new HTTP/1.1"}},
        {"to https: nothing",
         {{"/old", testing::redirect_reply("https://127.0.0.1/new")}},
         "GET",
         "",
         {"GET /old HTTP/1.1"}},
        {"to another scheme: nothing",
         {{"/old", testing::redirect_reply("ftp://127.0.0.1/new")}},
         "GET",
         "",
         {"GET /old HTTP/1.1"}},
        {"20 redirects", chain_of_20, "GET", "at the end", lines_of_20},
        {"21 redirects: nothing", chain_of_21, "GET", "", lines_of_20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        for (const auto& [target, reply] : c.replies)
            server.set_reply(target, reply);
        Text method = c.method;
        Text headers;
        const Text body = method == "POST" ? "a=1" : "";
        EXPECT_EQ(as_text(http_request_bytes(server.address() + c.replies.front().first, method, std::nullopt,
                                             headers, body, nullptr, quick())),
                  c.expected);
        EXPECT_EQ(server.request_lines(), c.request_lines);
        const auto requests = server.requests();
        // A request that became a GET carries no body and no form lines.
        for (std::size_t i = 0; i < requests.size(); ++i) {
            if (c.request_lines[i].rfind("GET", 0) != 0) continue;
            EXPECT_EQ(body_of(requests[i]), "");
            EXPECT_EQ(requests[i].find("Content-Type"), std::string::npos) << requests[i];
        }
    }
    // A redirect to another server is followed there.
    LocalHttpServer first;
    LocalHttpServer second;
    second.set_reply("/there", answer("on the second"));
    first.set_reply("/old", testing::redirect_reply(second.address() + "/there"));
    EXPECT_EQ(as_text(get(first.address() + "/old")), "on the second");
}

TEST(WinHttpClientTest, RefusesABodyBeyondTheLimit)
{
    struct Case
    {
        const char* what;
        std::size_t limit;
        Reply reply;
        std::size_t expected;
    };
    Reply chunked;
    chunked.behaviour = Behaviour::endless;
    chunked.endless_bytes = 2 * 64 * 1024;
    const std::vector<Case> cases = {
        {"at the limit", 1000, answer(std::string(1000, 'b')), 1000},
        {"one byte over", 1000, answer(std::string(1001, 'b')), 0},
        {"a chunked body at the limit", 2 * 64 * 1024, chunked, 2 * 64 * 1024},
        {"a chunked body over it", 2 * 64 * 1024 - 1, chunked, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        server.set_reply("/big", c.reply);
        HttpSettings settings = quick();
        settings.max_body_bytes = c.limit;
        EXPECT_EQ(get(server.address() + "/big", settings).size(), c.expected);
    }

    // The default limit against a server that streams without end: cut off, not kept.
    LocalHttpServer server;
    Reply endless;
    endless.behaviour = Behaviour::endless;
    endless.endless_bytes = 64u * 1024 * 1024;
    server.set_reply("/endless", endless);
    EXPECT_TRUE(get(server.address() + "/endless").empty());
}

TEST(WinHttpClientTest, DeliversTheRawResponseHeaders)
{
    LocalHttpServer server;
    Reply shop = answer("hello");
    shop.headers = {{"X-Shop", "1"}};
    server.set_reply("/h", shop);
    Reply crowded = answer("x");
    crowded.headers = {{"X-Long", std::string(1100, 'l')}};
    server.set_reply("/long", crowded);
    const Text blanks(1024, ' ');

    Text headers;
    get(server.address() + "/h", quick(), &headers);
    EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nX-Shop: 1\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
    get(server.address() + "/missing", quick(), &headers);
    EXPECT_EQ(headers.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << headers;
    get(server.address() + "/long", quick(), &headers);
    EXPECT_EQ(headers, blanks);
    headers = "untouched";
    get(refused_url(), quick(), &headers);
    EXPECT_EQ(headers, blanks);
}

// The answer is held back until a handler of the thread's window has run: a request that kept the
// messages waiting would never see it, and would end empty at its deadline.
TEST(WinHttpClientTest, KeepsTheWindowsMessagesFlowingWhileItWaits)
{
    LocalHttpServer server;
    Reply held = answer("done");
    held.held = true;
    server.set_reply("/slow", held);
    MessageWindow window([&server] { server.release(); });
    ASSERT_TRUE(window.handle());
    std::thread poster = post_when_requested(server, window.handle());
    HttpSettings settings = quick(minute);
    settings.deadline = Clock::now() + minute;
    EXPECT_EQ(as_text(get(server.address() + "/slow", settings)), "done");
    poster.join();
    EXPECT_EQ(window.handled(), 1);
}

// The window is closed while a request waits: the stop, from the window's handler, ends it at once,
// however long the server would keep it (its time-out is ten minutes here, and there is no deadline).
TEST(WinHttpClientTest, AStopEndsTheTransfersAtOnce)
{
    HttpSettings settings = quick(10 * minute);
    Reply stalled = answer(std::string(10000, 's'));
    stalled.behaviour = Behaviour::stall;
    stalled.stall_after = 100;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    struct Case
    {
        const char* what;
        Reply reply;
        bool batch;
    };
    const std::vector<Case> cases = {
        {"a body under way", stalled, false},
        {"no answer yet", silent, false},
        {"a batch of silent requests", silent, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        server.set_fallback(c.reply);
        HttpStop stop;
        settings.stop = &stop;
        MessageWindow window([&stop] { stop.stop(); });
        std::thread poster = post_when_requested(server, window.handle(), c.batch ? 3 : 1);
        const auto start = Clock::now();
        if (c.batch) {
            const std::vector<Text> urls(5, server.address() + "/x");
            EXPECT_EQ(http_fetch_all(urls, settings), std::vector<Bytes>(5));
        } else {
            EXPECT_TRUE(get(server.address() + "/x", settings).empty());
        }
        EXPECT_LT(Clock::now() - start, at_most);
        poster.join();
        EXPECT_TRUE(stop.stopped());
        // Later requests under the stop make no connection (to a server of their own, which requests
        // of the batch still on their way cannot reach).
        LocalHttpServer later;
        later.set_reply("/x", answer("too late"));
        EXPECT_TRUE(get(later.address() + "/x", settings).empty());
        EXPECT_TRUE(http_fetch_all({later.address() + "/x"}, settings)[0].empty());
        EXPECT_EQ(later.request_count(), 0u);
    }
}

// A quit message ends the wait as well, and stays in the queue for the thread's own loop.
TEST(WinHttpClientTest, AQuitMessageEndsTheWaitAndStaysQueued)
{
    LocalHttpServer server;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    server.set_fallback(silent);
    MessageWindow window([] { PostQuitMessage(7); });
    std::thread poster = post_when_requested(server, window.handle());
    EXPECT_TRUE(get(server.address() + "/x", quick(10 * minute)).empty());
    poster.join();
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

TEST(WinHttpClientTest, DeadlinePassedMakesNoRequest)
{
    LocalHttpServer server;
    server.set_reply("/x", answer("late"));
    HttpSettings settings = quick();
    settings.deadline = Clock::now() - 1ms;
    Text headers;
    EXPECT_TRUE(get(server.address() + "/x", settings, &headers).empty());
    EXPECT_EQ(headers, Text(1024, ' '));
    EXPECT_EQ(http_fetch_all({server.address() + "/x"}, settings), std::vector<Bytes>(1));
    EXPECT_EQ(server.request_count(), 0u);
}

TEST(WinHttpClientTest, EncodedNamesReachTheServerAsEscapes)
{
    LocalHttpServer server;
    get(logo_url(server.address(), "飞岩"_gbk));
    get(logo_url(server.address(), "a-b c"));
    get(server.address() + "/raw 飞#x"_gbk);
    EXPECT_EQ(server.request_lines(),
              (std::vector<std::string>{"GET /tarnwick/plendor/IMG/%E9%A3%9E%E5%B2%A9.gif HTTP/1.1",
                                        "GET /tarnwick/plendor/IMG/a%2Db%20c.gif HTTP/1.1",
                                        "GET /raw%20%B7%C9%23x HTTP/1.1"}));
}

TEST(WinHttpClientTest, GoesThroughAGivenProxy)
{
    LocalHttpServer proxy;
    // The address in the request line may name the default port or leave it out.
    proxy.set_reply("http://vendor.test/x", answer("via proxy"));
    proxy.set_reply("http://vendor.test:80/x", answer("via proxy"));
    Text method;
    Text headers;
    const Bytes body =
        http_request_bytes("http://vendor.test/x", method, "127.0.0.1:" + std::to_string(proxy.port()),
                           headers, {}, nullptr, quick());
    EXPECT_EQ(as_text(body), "via proxy");
    ASSERT_EQ(proxy.request_count(), 1u);
    const std::string line = proxy.request_lines()[0];
    EXPECT_TRUE(line == "GET http://vendor.test/x HTTP/1.1" || line == "GET http://vendor.test:80/x HTTP/1.1")
        << line;
}

// The logos are answered only once all seven requests have come: a batch fetched one request after
// another would wait for the first answer in vain and end empty.
TEST(WinHttpClientTest, FetchesABatchTogetherInUrlOrder)
{
    constexpr int count = 8;
    LocalHttpServer server;
    std::vector<Text> urls;
    for (int i = 0; i < count; ++i) {
        Reply together = answer("logo-" + std::to_string(i));
        together.answer_after_requests = count - 1;
        server.set_reply("/logo" + std::to_string(i), together);
        urls.push_back(server.address() + "/logo" + std::to_string(i));
    }
    urls[3] = "http://:80/nohost";           // never requested
    urls[5] = server.address() + "/missing"; // an error page gives nothing
    const std::vector<Bytes> bodies = http_fetch_all(urls, quick(minute));

    ASSERT_EQ(bodies.size(), urls.size());
    for (int i = 0; i < count; ++i) {
        const std::string expected = i == 3 || i == 5 ? "" : "logo-" + std::to_string(i);
        EXPECT_EQ(as_text(bodies[static_cast<std::size_t>(i)]), expected) << i;
    }
    EXPECT_EQ(server.request_count(), static_cast<std::size_t>(count - 1));
    EXPECT_TRUE(http_fetch_all({}, quick()).empty());
}

// The six requests wait for the silent server side by side, so the batch costs one time-out; one after
// another they would cost six.
TEST(WinHttpClientTest, ASilentServerCostsABatchOneTimeout)
{
    LocalHttpServer server;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    server.set_fallback(silent);
    const std::vector<Text> urls(6, server.address() + "/silent");
    const auto start = Clock::now();
    EXPECT_EQ(http_fetch_all(urls, quick(1500ms)), std::vector<Bytes>(6));
    EXPECT_LT(Clock::now() - start, at_most);
    EXPECT_EQ(server.request_count(), 6u);
    EXPECT_EQ(server.most_open_connections(), 6u);
}

// Every answer waits until as many requests as may run at once have come, so the batch runs them side
// by side up to the limit, and never beyond it.
TEST(WinHttpClientTest, ABatchKeepsToItsParallelLimit)
{
    for (const int parallel : {2, 5}) {
        SCOPED_TRACE(parallel);
        constexpr int count = 23;
        LocalHttpServer server;
        std::vector<Text> urls;
        for (int i = 0; i < count; ++i) {
            Reply together = answer(std::to_string(i));
            together.answer_after_requests = static_cast<std::size_t>(parallel);
            server.set_reply("/n" + std::to_string(i), together);
            urls.push_back(server.address() + "/n" + std::to_string(i));
        }
        HttpSettings settings = quick(minute);
        settings.max_parallel = parallel;
        const std::vector<Bytes> bodies = http_fetch_all(urls, settings);
        ASSERT_EQ(bodies.size(), urls.size());
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(as_text(bodies[static_cast<std::size_t>(i)]), std::to_string(i));
        EXPECT_EQ(server.most_open_connections(), static_cast<std::size_t>(parallel));
    }
}

// Requests sharing a budget take no more than it together: once it is spent, what is still arriving
// gives nothing.
TEST(WinHttpClientTest, RequestsSharingABudgetStayWithinIt)
{
    constexpr int count = 10;
    constexpr std::size_t body_size = 1000;
    LocalHttpServer server;
    std::vector<Text> urls;
    for (int i = 0; i < count; ++i) {
        server.set_reply("/b" + std::to_string(i),
                         answer(std::string(body_size, static_cast<char>('a' + i))));
        urls.push_back(server.address() + "/b" + std::to_string(i));
    }
    struct Case
    {
        const char* what;
        std::size_t budget;
        int at_least; // complete bodies
        int at_most;
    };
    const std::vector<Case> cases = {
        {"room for all", 100 * body_size, count, count},
        {"room for three bodies and their heads", 3 * body_size + 3 * 200, 0, 3},
        {"room for nothing", 10, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpBudget budget(c.budget);
        HttpSettings settings = quick();
        settings.budget = &budget;
        const std::vector<Bytes> bodies = http_fetch_all(urls, settings);
        ASSERT_EQ(bodies.size(), urls.size());
        int complete = 0;
        for (int i = 0; i < count; ++i) {
            const Bytes& body = bodies[static_cast<std::size_t>(i)];
            if (body.empty()) continue;
            EXPECT_EQ(as_text(body), std::string(body_size, static_cast<char>('a' + i)));
            ++complete;
        }
        EXPECT_GE(complete, c.at_least);
        EXPECT_LE(complete, c.at_most);
        EXPECT_LE(static_cast<std::size_t>(complete) * body_size, c.budget);
    }
    // A single request draws on the same budget, its head as well as its body.
    for (const std::size_t bytes : {body_size / 2, body_size + 10}) {
        HttpBudget small(bytes);
        HttpSettings settings = quick();
        settings.budget = &small;
        EXPECT_TRUE(get(urls[0], settings).empty()) << bytes;
    }
}

} // namespace
} // namespace vorsa::online
