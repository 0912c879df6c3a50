#include "runtime/win32/deadline_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace vorsa::runtime {

namespace {

// Shared by the caller and the thread; whichever lets go last frees it.
struct Errand
{
    std::function<void()> work;
    std::function<void()> abandoned;
    std::mutex mutex;
    std::condition_variable ended;
    bool work_done = false;
    bool given_up = false;
};

} // namespace

bool call_with_deadline(std::function<void()> work, std::function<void()> abandoned,
                        std::chrono::steady_clock::time_point deadline)
{
    auto errand = std::make_shared<Errand>();
    errand->work = std::move(work);
    errand->abandoned = std::move(abandoned);
    try {
        std::thread([errand] {
            errand->work();
            bool given_up = false;
            {
                std::lock_guard lock(errand->mutex);
                errand->work_done = true;
                given_up = errand->given_up;
            }
            errand->ended.notify_all();
            if (given_up && errand->abandoned) errand->abandoned();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock lock(errand->mutex);
    if (errand->ended.wait_until(lock, deadline, [&] { return errand->work_done; })) return true;
    // Decided under the lock: the thread either has not finished yet and will release, or it finished
    // just now and the result is the caller's.
    errand->given_up = true;
    return false;
}

} // namespace vorsa::runtime
