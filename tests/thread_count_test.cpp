// The thread count that the tests compare before and after a close: a
// thread that has been joined must not be counted, however soon after its
// join the count is taken, and a thread still running must be.
#include "support/thread_count.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using olva_test::thread_count;

TEST(ThreadCountTest, AJoinedThreadIsNeverCountedAndARunningOneIs)
{
    std::thread([] {}).join();
    const std::size_t before = thread_count();
    // The kernel's window between the join and the task leaving the list
    // is short: a few thousand joins meet it hundreds of times.
    for (int i = 0; i < 2000; ++i) {
        std::thread([] {}).join();
        ASSERT_EQ(thread_count(), before) << "after join " << i;
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool release = false;
    std::thread running([&] {
        std::unique_lock lock(mutex);
        started = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return started; });
    }
    EXPECT_EQ(thread_count(), before + 1);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    running.join();
    EXPECT_EQ(thread_count(), before);
}

}  // namespace
