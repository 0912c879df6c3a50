#pragma once
// A call that the caller waits for only up to a point in time: what keeps a spooler that hangs from
// holding the window. The work runs on a thread of its own; when the deadline passes first the caller
// goes on without it, the thread finishes alone and then releases what the work acquired.

#include <chrono>
#include <functional>

namespace vorsa::runtime {

// Runs `work` on a new thread and waits for it until `deadline`. True when it ended in time. Otherwise
// the caller stops waiting, and `abandoned` runs on that thread once `work` has ended: exactly one of
// the two happens, also when the work ends at the very moment the caller gives up. False without
// running either when no thread can be started. Neither function may throw; whatever they touch must
// stay alive until they have run (capture it by value).
bool call_with_deadline(std::function<void()> work, std::function<void()> abandoned,
                        std::chrono::steady_clock::time_point deadline);

} // namespace vorsa::runtime
