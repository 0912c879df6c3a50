#include "runtime/win32/deadline_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <process.h>
#include <utility>
#include <windows.h>

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

// The thread's side: runs the work, then says so, or releases what the work acquired when the caller
// has given up by then. Takes over the reference to the errand handed to it.
unsigned __stdcall run_errand(void* handed)
{
    std::shared_ptr<Errand> errand = std::move(*static_cast<std::shared_ptr<Errand>*>(handed));
    delete static_cast<std::shared_ptr<Errand>*>(handed);
    errand->work();
    bool given_up = false;
    {
        std::lock_guard lock(errand->mutex);
        errand->work_done = true;
        given_up = errand->given_up;
    }
    errand->ended.notify_all();
    if (given_up && errand->abandoned) errand->abandoned();
    return 0;
}

} // namespace

bool call_with_deadline(std::function<void()> work, std::function<void()> abandoned,
                        std::chrono::steady_clock::time_point deadline)
{
    auto errand = std::make_shared<Errand>();
    errand->work = std::move(work);
    errand->abandoned = std::move(abandoned);
    // A thread of the C runtime, not a std::thread: under Wine a detached thread of MinGW's pthread
    // library now and then never starts when threads come and go quickly, and the work would never run.
    auto* handed = new (std::nothrow) std::shared_ptr<Errand>(errand);
    if (!handed) return false;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, run_errand, handed, 0, nullptr);
    if (thread == 0) {
        delete handed;
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    std::unique_lock lock(errand->mutex);
    if (errand->ended.wait_until(lock, deadline, [&] { return errand->work_done; })) return true;
    // Decided under the lock: the thread either has not finished yet and will release, or it finished
    // just now and the result is the caller's.
    errand->given_up = true;
    return false;
}

} // namespace vorsa::runtime
