// The line across threads: raw states posted by a reader thread while the
// timer steps on another, and callbacks that call back into the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/base_ini.h"
#include "support/eventually.h"
#include "support/fake_paths.h"
#include "support/recording_line.h"
#include "support/temp_dir.h"

namespace {

using olva_test::LineEvent;
using olva_test::LineAccess;
using olva_test::RecordingLine;
using ::testing::ElementsAre;

class LineThreadsTest : public ::testing::Test {
protected:
    LineThreadsTest() { paths_.setApplicationDirectory(dir_.path()); }

    void open(OLVA_PRODUCT product)
    {
        line_.line_open(1, "", product, true);
        line_.clear();
    }

    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
    RecordingLine line_;
};

// The reader posts a new state while the timer thread steps without pause.
// A posted state may be confirmed no earlier than the third step after
// the post began. Had the reader zeroed a standing time that the step
// adds to, a step between the reader's two writes, or one that adds over
// the zero, would confirm the new state with the old state's time; the
// rounds make that show.
TEST_F(LineThreadsTest, APostedStateNeverSkipsItsDebounce)
{
    open(OLVA_PRODUCT_TZ2401B);
    constexpr int kRounds = 20000;
    constexpr int kSteadySteps = 5;
    std::atomic<bool> stop{false};
    std::atomic<int> steps{0};
    std::atomic<int> confirmed_at{0};
    std::atomic<int> confirmed{line_.confirmed_state()};
    std::thread timer([&] {
        int last = line_.confirmed_state();
        while (!stop.load()) {
            line_.handle_timer(100);
            const int step = steps.fetch_add(1) + 1;
            const int now = line_.confirmed_state();
            if (now != last) {
                last = now;
                confirmed_at.store(step);
                confirmed.store(now);
            }
        }
    });

    int early = 0;
    int missed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const ENUM_OLVA_STATE next =
            round % 2 ? OLVA_STATE_REVERSE_OFF_HOOK : OLVA_STATE_POSITIVE_OFF_HOOK;
        // The old state has stood long: its time is far past the debounce.
        const int settled = confirmed_at.load() + kSteadySteps;
        while (steps.load() < settled)
            std::this_thread::yield();
        const int before = steps.load();
        line_.save_tmp_line_state(next);
        if (!olva_test::eventually([&] { return confirmed.load() == next; })) {
            ++missed;
            break;
        }
        if (confirmed_at.load() < before + 3)
            ++early;
    }
    stop.store(true);
    timer.join();
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(early, 0);
}

// A callback may call into the line it came from: no line mutex is held.
TEST_F(LineThreadsTest, ACallbackCallsBackIntoItsLine)
{
    open(OLVA_PRODUCT_TZ2401B);
    std::vector<std::string> seen;
    int play_mutex_free = 0;
    line_.on_event = [&](const LineEvent& e) {
        seen.push_back(std::to_string(e.event) + " " + line_.tag() + " " +
                       std::to_string(line_.confirmed_state()) + " [" + line_.dial_buffer() + "]");
        // Another thread can take the play mutex while the event runs.
        std::mutex done_mutex;
        std::condition_variable done;
        bool locked = false;
        std::thread other([&] {
            std::lock_guard<std::mutex> play(LineAccess::playMutex(line_));
            std::lock_guard<std::mutex> lock(done_mutex);
            locked = true;
            done.notify_all();
        });
        {
            std::unique_lock<std::mutex> lock(done_mutex);
            if (done.wait_for(lock, olva_test::kWait, [&] { return locked; }))
                ++play_mutex_free;
        }
        other.join();
        if (e.event == OLVA_EVENT_LINE_HOOK_OFF)
            line_.handle_play_end(0);
    };
    line_.save_tmp_line_state(OLVA_STATE_OFF_HOOK);
    LineAccess::setDialBuffer(line_, "9");
    for (int i = 0; i < 3; ++i)
        line_.handle_timer(100);
    LineAccess::addDtmfCidDigit(line_, '7');
    for (int i = 0; i < 8; ++i)
        line_.handle_timer(100);
    EXPECT_THAT(seen, ElementsAre("12 line.1-3 3 [9]", "25 line.1-3 3 [9]", "21 line.1-3 3 []"));
    EXPECT_EQ(play_mutex_free, 3);
}

}  // namespace
