#pragma once
// How the program's HTTP requests are bounded and stopped: the settings every request is made with and
// the stop that ends them from outside. Plain types without Qt, so that the window, which sets them up
// for the start, does not depend on the HTTP client (online/qt/http_client.h) an offline build leaves out.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>

namespace vorsa::online {

// Ends requests from outside while they wait, for example when the window they were made for is
// closed. Lives on the thread that makes the requests and outlives them.
class HttpStop
{
public:
    HttpStop() = default;
    HttpStop(const HttpStop&) = delete;
    HttpStop& operator=(const HttpStop&) = delete;

    // Every request running under this stop is given up now (its connection closed, its result
    // empty); later ones make no connection at all.
    void stop();
    bool stopped() const { return m_stopped; }

    // For the client: `wake` runs once when stop() is called, until withdraw(the returned key).
    int on_stop(std::function<void()> wake);
    void withdraw(int key);

private:
    bool m_stopped = false;
    int m_next_key = 0;
    std::map<int, std::function<void()>> m_wakes;
};

// The bytes a group of requests may take in all, heads and bodies, shared by every request made with
// settings that point to it (for example the notice page and every logo of one start). Once it is spent,
// every request still receiving fails and gives the empty result, so that what a server sends costs the
// program a bounded amount of memory whatever it sends.
class HttpBudget
{
public:
    explicit HttpBudget(std::size_t bytes) : m_left(bytes) {}
    HttpBudget(const HttpBudget&) = delete;
    HttpBudget& operator=(const HttpBudget&) = delete;

    // Takes `bytes` from what is left; false, taking nothing, when fewer are left.
    bool take(std::size_t bytes)
    {
        if (bytes > m_left) return false;
        m_left -= bytes;
        return true;
    }
    std::size_t left() const { return m_left; }

private:
    std::size_t m_left;
};

struct HttpSettings
{
    // A request that moves no byte for this long (connecting, sending or receiving) is given up.
    std::chrono::milliseconds inactivity_timeout{18000};
    // When set, every request ends by this moment at the latest, however the server behaves: one that
    // has not completed by then is given up, and one that would start later makes no connection.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // When set, stopping it ends the requests made with these settings (see HttpStop).
    HttpStop* stop = nullptr;
    // A body growing beyond this many bytes is cut off and counts as failed, so that a broken or
    // hostile server cannot exhaust memory.
    std::size_t max_body_bytes = 16 * 1024 * 1024;
    // How many requests of a batch are in flight at once; each holds one connection, and nothing else
    // of a request outlives it.
    int max_parallel = 32;
    // When set, every byte received is taken from it (see HttpBudget).
    HttpBudget* budget = nullptr;
};

} // namespace vorsa::online
