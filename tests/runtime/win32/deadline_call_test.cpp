// Calls that the window waits for only up to a deadline.

#include "runtime/win32/deadline_call.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <windows.h>

namespace vorsa::runtime {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Flags
{
    std::atomic<int> worked{0};
    std::atomic<int> released{0};
};

// Waits until `flag` reaches `value`, for at most a minute.
bool eventually(const std::atomic<int>& flag, int value)
{
    for (int i = 0; i < 60000 && flag.load() < value; ++i)
        std::this_thread::sleep_for(1ms);
    return flag.load() >= value;
}

TEST(DeadlineCallTest, WorkEndingInTimeIsTheCallersAndNeedsNoRelease)
{
    auto flags = std::make_shared<Flags>();
    EXPECT_TRUE(
        call_with_deadline([flags] { ++flags->worked; }, [flags] { ++flags->released; }, Clock::now() + 60s));
    EXPECT_EQ(flags->worked, 1);
    EXPECT_EQ(flags->released, 0);
}

// The caller goes on while the work still hangs: the work is let go only after the call has returned,
// so a call that waited for it would never return.
TEST(DeadlineCallTest, CallerGoesOnWithoutHungWorkWhichThenReleases)
{
    auto flags = std::make_shared<Flags>();
    HANDLE go_on = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(go_on, nullptr);
    auto waited = std::make_shared<std::atomic<DWORD>>(0);
    EXPECT_FALSE(call_with_deadline(
        [flags, go_on, waited] {
            *waited = WaitForSingleObject(go_on, 60000);
            ++flags->worked;
        },
        [flags] { ++flags->released; }, Clock::now() + 50ms));
    EXPECT_EQ(flags->released, 0);
    SetEvent(go_on);
    ASSERT_TRUE(eventually(flags->released, 1));
    EXPECT_EQ(*waited, WAIT_OBJECT_0);
    EXPECT_EQ(flags->worked, 1);
    EXPECT_EQ(flags->released, 1);
    CloseHandle(go_on);
}

TEST(DeadlineCallTest, DeadlineAlreadyPastStillRunsTheWork)
{
    auto flags = std::make_shared<Flags>();
    call_with_deadline([flags] { ++flags->worked; }, [flags] { ++flags->released; }, Clock::now() - 1s);
    EXPECT_TRUE(eventually(flags->worked, 1));
}

// Work that ends just as the caller gives up: either the caller has the result or the thread releases
// it, never both and never neither. Runs until both outcomes have been seen, and for a few thousand
// calls at least: threads that come and go quickly are where one might never start.
TEST(DeadlineCallTest, ExactlyOneSideOwnsTheResultAtTheDeadline)
{
    constexpr int least_rounds = 3000;
    bool seen_in_time = false, seen_given_up = false;
    for (int round = 0; round < 20000 && !(seen_in_time && seen_given_up && round >= least_rounds); ++round) {
        auto flags = std::make_shared<Flags>();
        const auto deadline = Clock::now() + std::chrono::microseconds(round % 400);
        const bool in_time =
            call_with_deadline([flags] { ++flags->worked; }, [flags] { ++flags->released; }, deadline);
        ASSERT_TRUE(eventually(flags->worked, 1));
        if (in_time) {
            seen_in_time = true;
            // A release would come right after the work; give it the chance to show.
            std::this_thread::yield();
            EXPECT_EQ(flags->released, 0) << "round " << round;
        } else {
            seen_given_up = true;
            ASSERT_TRUE(eventually(flags->released, 1)) << "round " << round;
        }
    }
    EXPECT_TRUE(seen_in_time);
    EXPECT_TRUE(seen_given_up);
}

} // namespace
} // namespace vorsa::runtime
