#include "online/qt/http_client.h"
#include "online/refresh.h"
#include "runtime/text/gbk.h"
#include "tests/online/local_http_server.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using namespace std::chrono_literals;
using testing::Behaviour;
using testing::LocalHttpServer;
using testing::Reply;

const std::string agent_line = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const std::string accept_line = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                                "application/x-shockwave-flash, application/vnd.ms-excel, "
                                "application/vnd.ms-powerpoint, application/msword, */*";

// Short time-outs, so that a fault costs the test little.
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

TEST(HttpClientTest, SendsAGetWithTheDefaultLines)
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
          "Host: 127.0.0.1:" + std::to_string(server.port())})
        EXPECT_TRUE(has_line(request, line)) << line << "\n" << request;
    EXPECT_EQ(request.find("Content-Type"), std::string::npos);
    EXPECT_EQ(body_of(request), ""); // a GET sends no body
}

TEST(HttpClientTest, CallerHeadersSuppressTheirDefaults)
{
    LocalHttpServer server;
    const Text url = server.address() + "/a";
    Text method = "GET";
    Text headers = "accept: text/html\r\nX-Shop: 7\r\n";
    http_request_bytes(url, method, std::nullopt, headers, {}, nullptr, quick());
    ASSERT_EQ(server.request_count(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_TRUE(has_line(request, "accept: text/html")) << request;
    EXPECT_TRUE(has_line(request, "X-Shop: 7"));
    EXPECT_EQ(request.find("image/gif"), std::string::npos);
    EXPECT_TRUE(has_line(request, "Referer: " + url));
    EXPECT_TRUE(has_line(request, "Accept-Language: zh-cn"));
    EXPECT_EQ(headers,
              "accept: text/html\r\nX-Shop: 7\r\nReferer: " + url + "\r\nAccept-Language: zh-cn\r\n");
}

TEST(HttpClientTest, SendsTheBodyOnlyWithAPost)
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
        if (form) {
            EXPECT_TRUE(has_line(request, "Content-Length: " + std::to_string(c.sent_body.size())))
                << request;
        }
    }
}

TEST(HttpClientTest, TextFormEndsAtTheFirstZeroByte)
{
    LocalHttpServer server;
    server.set_reply("/z", answer(std::string("ab\0cd", 5)));
    const Text url = server.address() + "/z";
    EXPECT_EQ(get(url), runtime::bytes_of(std::string_view("ab\0cd", 5)));
    Text method;
    Text headers;
    EXPECT_EQ(http_request_text(url, method, std::nullopt, headers, {}, nullptr, quick()), "ab");
}

TEST(HttpClientTest, SurvivesServerFaults)
{
    Reply silent;
    silent.behaviour = Behaviour::silent;
    Reply drip = answer("0123456789");
    drip.behaviour = Behaviour::drip;
    drip.drip_interval = 150ms; // 1.5 s in all, twice the time-out; each gap well inside it
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
    // Each fault ends the request by the rule the row names, with the result that rule gives. A fault
    // handled wrongly would cost at least the inactivity time-out, or never end: rows that are not about
    // the time-out set it to a minute, and a request may take half of that, far beyond what a busy
    // machine needs and far short of what a wrong rule costs.
    constexpr auto minute = 60000ms;
    constexpr auto at_most = minute / 2;
    // More header lines than any server sends, and a few lines too long for any real head.
    Reply header_flood = answer("flooded");
    for (int i = 0; i < 20000; ++i)
        header_flood.headers.emplace_back("X-Flood-" + std::to_string(i), "1");
    Reply cookie_flood = answer("flooded");
    for (int i = 0; i < 40; ++i)
        cookie_flood.headers.emplace_back("Set-Cookie",
                                          "c" + std::to_string(i) + "=" + std::string(4000, 'v'));
    Reply chunked;
    chunked.behaviour = Behaviour::endless;
    chunked.endless_bytes = 3 * 64 * 1024;
    Reply long_line = answer("flooded");
    long_line.headers.emplace_back("X-Long", std::string(1 << 20, 'l'));
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
        // Ten bytes 150 ms apart take 1.5 s in all, longer than the time-out; each gap is well inside it.
        {"slow drip: the time-out counts from the last byte", drip, 1000ms, "0123456789"},
        {"slow drip past the deadline: nothing, at the deadline", drip, minute, "", 300ms},
        {"silent server: the deadline comes before the time-out", silent, minute, "", 300ms},
        {"truncated body: nothing", truncated, minute, ""},
        {"headers and four bytes, then silence: nothing", stalled, 300ms, ""},
        {"late answer", late, minute, "late"},
        {"error page: nothing", testing::not_found_reply(), minute, ""},
        {"server error: nothing", server_error, minute, ""},
        {"a chunked body, whole", chunked, minute, std::string(3 * 64 * 1024, 'x')},
        {"20 000 header lines: cut, nothing", header_flood, minute, ""},
        {"40 Set-Cookie lines of 4 kB: cut, nothing", cookie_flood, minute, ""},
        {"a header line of 1 MB: cut, nothing", long_line, minute, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        if (c.reply) server.set_reply("/x", *c.reply);
        const Text url = c.reply
                             ? server.address() + "/x"
                             : "http://127.0.0.1:" + std::to_string(LocalHttpServer::refused_port()) + "/x";
        HttpSettings settings = quick(c.timeout);
        if (c.deadline) settings.deadline = std::chrono::steady_clock::now() + *c.deadline;
        QElapsedTimer clock;
        clock.start();
        Text headers;
        EXPECT_EQ(as_text(get(url, settings, &headers)), c.expected);
        EXPECT_LT(clock.elapsed(), at_most.count());
        // The status line of a server that answered is delivered all the same.
        if (c.reply && c.reply->status != 200) {
            EXPECT_EQ(headers.rfind("HTTP/1.1 " + std::to_string(c.reply->status), 0), 0u) << headers;
        }
    }
}

// A URL whose port reads as no TCP port (negative, beyond 65535) makes no request and gives the
// empty result, even where the port's low 16 bits name a server that would answer.
TEST(HttpClientTest, ImpossiblePortGivesNothing)
{
    LocalHttpServer server;
    server.set_reply("/x", answer("reached"));
    const int port = static_cast<int>(server.port());
    for (const int impossible : {port + 65536, port - 65536, port + 3 * 65536}) {
        SCOPED_TRACE(impossible);
        EXPECT_TRUE(get("http://127.0.0.1:" + std::to_string(impossible) + "/x").empty());
    }
    EXPECT_TRUE(server.request_lines().empty());
}

TEST(HttpClientTest, FollowsARedirect)
{
    LocalHttpServer server;
    server.set_reply("/old", testing::redirect_reply("/new"));
    server.set_reply("/new", answer("moved here"));
    EXPECT_EQ(as_text(get(server.address() + "/old")), "moved here");
    EXPECT_EQ(server.request_lines(), (std::vector<std::string>{"GET /old HTTP/1.1", "GET /new HTTP/1.1"}));
}

TEST(HttpClientTest, RefusesABodyBeyondTheLimit)
{
    struct Case
    {
        const char* what;
        std::size_t limit;
        std::size_t body;
        bool complete;
    };
    const std::vector<Case> cases = {
        {"at the limit", 1000, 1000, true},
        {"one byte over", 1000, 1001, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHttpServer server;
        server.set_reply("/big", answer(std::string(c.body, 'b')));
        HttpSettings settings = quick();
        settings.max_body_bytes = c.limit;
        EXPECT_EQ(get(server.address() + "/big", settings).size(), c.complete ? c.body : 0u);
    }

    // The default limit against a server that streams without end: cut off, not kept.
    LocalHttpServer server;
    Reply endless;
    endless.behaviour = Behaviour::endless;
    endless.endless_bytes = 64u * 1024 * 1024;
    server.set_reply("/endless", endless);
    EXPECT_TRUE(get(server.address() + "/endless").empty());
}

TEST(HttpClientTest, DeliversTheRawResponseHeaders)
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
    get("http://127.0.0.1:" + std::to_string(LocalHttpServer::refused_port()) + "/", quick(), &headers);
    EXPECT_EQ(headers, blanks);
}

// The answer is held back until a timer of the caller's event loop has fired: a request that kept the
// loop waiting would never see it, and would end empty at its time-out.
TEST(HttpClientTest, KeepsTheEventLoopRunningWhileItWaits)
{
    LocalHttpServer server;
    Reply held = answer("done");
    held.held = true;
    server.set_reply("/slow", held);
    QObject context;
    bool fired = false;
    QTimer::singleShot(50, &context, [&] {
        fired = true;
        server.release();
    });
    EXPECT_EQ(as_text(get(server.address() + "/slow")), "done");
    EXPECT_TRUE(fired) << "the timer did not fire during the request";
}

TEST(HttpClientTest, EncodedNamesReachTheServerAsEscapes)
{
    LocalHttpServer server;
    get(logo_url(server.address(), "飞岩"_gbk));
    // The escapes of unreserved characters ("-", ".", "_", "~") go out as the characters, which
    // name the same resource.
    get(logo_url(server.address(), "a-b c"));
    EXPECT_EQ(server.request_lines(),
              (std::vector<std::string>{"GET /tarnwick/plendor/IMG/%E9%A3%9E%E5%B2%A9.gif HTTP/1.1",
                                        "GET /tarnwick/plendor/IMG/a-b%20c.gif HTTP/1.1"}));
}

TEST(HttpClientTest, GoesThroughAGivenProxy)
{
    LocalHttpServer proxy;
    proxy.set_reply("http://vendor.test/x", answer("via proxy"));
    Text method;
    Text headers;
    const Bytes body =
        http_request_bytes("http://vendor.test/x", method, "127.0.0.1:" + std::to_string(proxy.port()),
                           headers, {}, nullptr, quick());
    EXPECT_EQ(as_text(body), "via proxy");
    EXPECT_EQ(proxy.request_lines(), std::vector<std::string>{"GET http://vendor.test/x HTTP/1.1"});
}

TEST(HttpClientTest, MakesNoRequestForAUrlWithoutHost)
{
    for (const Text url : {"", "http://", "http://:80/x", "http://shop:70000/x"}) {
        Text method = "put";
        Text headers = "X: 1\r\n";
        EXPECT_TRUE(http_request_bytes(url, method, std::nullopt, headers, {}, nullptr, quick()).empty())
            << url;
        EXPECT_EQ(method, "GET");
        EXPECT_EQ(headers, "X: 1\r\n");
    }
}

// The logos are answered only once all seven requests have come: a batch fetched one request after
// another would wait for the first answer in vain and end empty.
TEST(HttpClientTest, FetchesABatchTogetherInUrlOrder)
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
    const std::vector<Bytes> bodies = http_fetch_all(urls, quick());

    ASSERT_EQ(bodies.size(), urls.size());
    for (int i = 0; i < count; ++i) {
        const std::string expected = i == 3 || i == 5 ? "" : "logo-" + std::to_string(i);
        EXPECT_EQ(as_text(bodies[static_cast<std::size_t>(i)]), expected) << i;
    }
    EXPECT_EQ(server.request_count(), static_cast<std::size_t>(count - 1));
}

// The six requests wait for the silent server side by side, so the batch costs one time-out; one after
// another they would cost six.
TEST(HttpClientTest, ASilentServerCostsABatchOneTimeout)
{
    LocalHttpServer server;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    server.set_fallback(silent);
    const std::vector<Text> urls(6, server.address() + "/silent");
    const std::vector<Bytes> bodies = http_fetch_all(urls, quick(1500ms));
    EXPECT_EQ(bodies, std::vector<Bytes>(6));
    EXPECT_EQ(server.request_count(), 6u);
    EXPECT_EQ(server.most_open_connections(), 6u);
}

TEST(HttpClientTest, BatchesBeyondTheParallelLimitStillFinishInOrder)
{
    LocalHttpServer server;
    std::vector<Text> urls;
    for (int i = 0; i < 7; ++i) {
        server.set_reply("/n" + std::to_string(i), answer(std::to_string(i)));
        urls.push_back(server.address() + "/n" + std::to_string(i));
    }
    HttpSettings settings = quick();
    settings.max_parallel = 2;
    const std::vector<Bytes> bodies = http_fetch_all(urls, settings);
    ASSERT_EQ(bodies.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(as_text(bodies[static_cast<std::size_t>(i)]), std::to_string(i));
    EXPECT_TRUE(http_fetch_all({}, settings).empty());
}

int open_descriptors()
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

// A batch of any length holds at most its parallel limit of connections (and nothing else per request),
// so that many remembered brands cannot run the process out of descriptors: with the limit of open
// files lowered to a little above what the batch needs, every one of 600 logos still comes.
TEST(HttpClientTest, ABatchHoldsAtMostItsParallelConnections)
{
    constexpr int count = 600;
    LocalHttpServer server;
    std::vector<Text> urls;
    for (int i = 0; i < count; ++i) {
        server.set_reply("/logo" + std::to_string(i), answer("logo-" + std::to_string(i)));
        urls.push_back(server.address() + "/logo" + std::to_string(i));
    }
    const HttpSettings settings = quick();
    const int before = open_descriptors();
    // The client's connections, the server's side of them, and some room.
    const int allowed = 2 * settings.max_parallel + 32;

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(before + allowed);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    int most = before;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&most] { most = std::max(most, open_descriptors()); });
    sample.start(0);
    const std::vector<Bytes> bodies = http_fetch_all(urls, settings);
    sample.stop();
    setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_EQ(bodies.size(), urls.size());
    int complete = 0;
    for (int i = 0; i < count; ++i)
        complete += as_text(bodies[static_cast<std::size_t>(i)]) == "logo-" + std::to_string(i);
    EXPECT_EQ(complete, count);
    EXPECT_LE(most - before, allowed);
}

// Requests sharing a budget take no more than it together: once it is spent, what is still arriving
// gives nothing.
TEST(HttpClientTest, RequestsSharingABudgetStayWithinIt)
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
    // A single request draws on the same budget.
    HttpBudget small(body_size / 2);
    HttpSettings settings = quick();
    settings.budget = &small;
    EXPECT_TRUE(get(urls[0], settings).empty());
}

} // namespace
} // namespace vorsa::online
