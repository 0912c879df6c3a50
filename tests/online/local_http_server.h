#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the online tests and benchmarks. It records the bytes of
// every request it receives and answers each path as told, including the faults a real vendor server
// shows: silence, a slow drip, a body cut short or stalled, an endless body, a late answer. Each connection
// is served by a thread of its own and closed after one answer. An answer can also wait for an event
// instead of a time (held until the test releases it, or until several requests have come), so that
// a test of what happens while a client waits does not depend on how fast the machine is.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorsa::online::testing {

enum class Behaviour
{
    answer,   // status, headers and body at once (after `delay`)
    silent,   // reads the request and never answers
    drip,     // announces the body, then sends it one byte per `drip_interval`
    truncate, // announces more body than it sends, then closes
    stall,    // announces the body, sends its first `stall_after` bytes, then falls silent
    endless,  // chunked body of `endless_bytes` bytes, stopping when the client goes away
};

struct Reply
{
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    Behaviour behaviour = Behaviour::answer;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds drip_interval{20};
    std::size_t endless_bytes = 0;
    std::size_t stall_after = 0;
    // Not answered (after `delay`) before LocalHttpServer::release() has been called.
    bool held = false;
    // Not answered before the server has received this many requests in all: a client that sends its
    // requests one after another, each after the answer to the one before, never gets an answer.
    std::size_t answer_after_requests = 0;
};

Reply not_found_reply();
Reply redirect_reply(const std::string& location);

class LocalHttpServer
{
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>"
    std::string address() const;

    // The answer for a request target (path and query exactly as in the request line); any other
    // target gets `fallback`, a 404 page unless set.
    void set_reply(const std::string& target, Reply reply);
    void set_fallback(Reply reply);

    // Every request received so far, head and body, in the order they arrived.
    std::vector<std::string> requests() const;
    // Their request lines ("GET /a HTTP/1.1").
    std::vector<std::string> request_lines() const;
    std::size_t request_count() const;
    // The most connections that were open at the same time so far. A connection given its whole answer
    // counts as closed from the moment before the answer is sent: the client may finish with it and open
    // the next one before the server's side has closed it, and that must not count as two at once.
    std::size_t most_open_connections() const;

    // Lets every held answer go, those waiting now and those to come.
    void release();

    // A port on 127.0.0.1 nobody listens on (connections are refused).
    static int refused_port();

private:
    void accept_loop();
    // Serves one connection; `counted` says whether it still counts as open (serve may end that early).
    void serve(int connection, bool& counted);
    // Counts the connection as closed, once.
    void stop_counting(bool& counted);
    // Sleeps for `duration` unless the server stops first; false when it stopped.
    bool wait(std::chrono::milliseconds duration);
    // Waits until `reply` may be answered; false when the server stopped first.
    bool wait_until_due(const Reply& reply);

    int m_listener = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1}; // written to on stop, so that every wait returns
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // a request came, the answers were released or the server stops
    bool m_released = false;
    std::size_t m_open_connections = 0;
    std::size_t m_most_open_connections = 0;
    std::map<std::string, Reply> m_replies;
    Reply m_fallback;
    std::vector<std::string> m_requests;
    struct Worker
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> m_workers; // touched by the acceptor only, until it has ended
    std::thread m_acceptor;
};

} // namespace vorsa::online::testing
