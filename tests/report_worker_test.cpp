// The box's report worker: reports handed over by a completion reach the
// handler in order on a thread of their own, a full queue drops its oldest
// report and says so, a stop handles what was queued, and a handler may
// stop its own worker. Tasks run on the same thread, ahead of the reports
// still queued, and a stop drops those not yet begun.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "usb_hid/report_worker.h"

namespace {

using olva_test::eventually;

// What the handler saw: the second byte of each report, and its thread.
class Seen {
public:
    void add(std::uint8_t value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        values_.push_back(value);
        thread_ = std::this_thread::get_id();
    }
    std::vector<std::uint8_t> values() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }
    std::thread::id thread() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return thread_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> values_;
    std::thread::id thread_;
};

// A gate the handler waits at until the test opens it.
class Gate {
public:
    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool someone_waits() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return waiting_ > 0;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

void post(ReportWorker& worker, std::uint8_t value)
{
    const std::uint8_t report[8] = {3, value, 1, 0, 0, 0, 0, 0};
    worker.post(report, sizeof report);
}

std::vector<std::uint8_t> range(int first, int last)
{
    std::vector<std::uint8_t> out;
    for (int v = first; v <= last; ++v)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

TEST(ReportWorkerTest, ReportsReachTheHandlerInOrderOnTheWorkersThread)
{
    Seen seen;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t* data, unsigned long len) {
            ASSERT_EQ(len, 8u);
            seen.add(data[1]);
        },
        nullptr));
    for (int v = 1; v <= 50; ++v)
        post(worker, static_cast<std::uint8_t>(v));
    ASSERT_TRUE(eventually([&] { return seen.values().size() == 50; }));
    EXPECT_EQ(seen.values(), range(1, 50));
    EXPECT_NE(seen.thread(), std::this_thread::get_id());
    worker.stop();
}

TEST(ReportWorkerTest, AFullQueueDropsItsOldestReportsCountedAndLogged)
{
    Seen seen;
    Gate gate;
    std::vector<std::string> logged;
    std::uint64_t logged_count = 0;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t* data, unsigned long) {
            if (data[1] == 0)
                gate.wait();
            seen.add(data[1]);
        },
        [&](const char* what, std::uint64_t count) {
            logged.emplace_back(what);
            logged_count += count;
        }));
    // The handler holds the first report while the queue fills and spills.
    post(worker, 0);
    ASSERT_TRUE(eventually([&] { return gate.someone_waits(); }));
    constexpr int kSpill = 5;
    const int queued = static_cast<int>(ReportWorker::kMaxQueuedReports) + kSpill;
    for (int v = 1; v <= queued; ++v)
        post(worker, static_cast<std::uint8_t>(v));
    EXPECT_EQ(worker.dropped(), static_cast<std::uint64_t>(kSpill));
    gate.open();
    worker.stop();

    std::vector<std::uint8_t> expected = {0};
    const std::vector<std::uint8_t> kept = range(kSpill + 1, queued);
    expected.insert(expected.end(), kept.begin(), kept.end());
    EXPECT_EQ(seen.values(), expected);
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged_count, static_cast<std::uint64_t>(kSpill));
    EXPECT_EQ(ReportWorker::in_hand(), 0u);
}

TEST(ReportWorkerTest, AStopHandlesWhatIsQueuedAndRefusesLaterReports)
{
    Seen seen;
    Gate gate;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t* data, unsigned long) {
            if (data[1] == 1)
                gate.wait();
            seen.add(data[1]);
        },
        nullptr));
    for (int v = 1; v <= 10; ++v)
        post(worker, static_cast<std::uint8_t>(v));
    ASSERT_TRUE(eventually([&] { return gate.someone_waits(); }));
    std::thread stopper([&] { worker.stop(); });
    gate.open();
    stopper.join();
    post(worker, 99);
    EXPECT_EQ(seen.values(), range(1, 10));
    EXPECT_EQ(ReportWorker::in_hand(), 0u);

    // A new start takes reports again.
    ASSERT_TRUE(worker.start([&](const std::uint8_t* data, unsigned long) { seen.add(data[1]); },
                             nullptr));
    post(worker, 11);
    ASSERT_TRUE(eventually([&] { return seen.values().size() == 11; }));
    worker.stop();
}

TEST(ReportWorkerTest, AHandlerMayStopItsOwnWorker)
{
    Seen seen;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t* data, unsigned long) {
            seen.add(data[1]);
            if (data[1] == 2) {
                EXPECT_TRUE(worker.on_worker_thread());
                worker.stop();
            }
        },
        nullptr));
    post(worker, 1);
    post(worker, 2);
    ASSERT_TRUE(eventually([&] { return seen.values().size() == 2; }));
    post(worker, 3);
    worker.stop();
    EXPECT_EQ(seen.values(), range(1, 2));
}

TEST(ReportWorkerTest, ATaskRunsOnTheWorkerAheadOfQueuedReports)
{
    Seen seen;
    Gate gate;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t* data, unsigned long) {
            if (data[1] == 1)
                gate.wait();
            seen.add(data[1]);
        },
        nullptr));
    post(worker, 1);
    ASSERT_TRUE(eventually([&] { return gate.someone_waits(); }));
    post(worker, 2);
    post(worker, 3);
    std::thread::id task_thread;
    ASSERT_TRUE(worker.post_task([&] {
        task_thread = std::this_thread::get_id();
        seen.add(100);
    }));
    EXPECT_EQ(ReportWorker::in_hand(), 4u);
    gate.open();
    ASSERT_TRUE(eventually([&] { return ReportWorker::in_hand() == 0; }));
    EXPECT_EQ(seen.values(), (std::vector<std::uint8_t>{1, 100, 2, 3}));
    EXPECT_EQ(task_thread, seen.thread());
    EXPECT_NE(task_thread, std::this_thread::get_id());
    worker.stop();
    EXPECT_FALSE(worker.post_task([] {}));
}

TEST(ReportWorkerTest, TasksBeyondTheLimitAreRefusedAndAStopDropsThoseWaiting)
{
    Gate gate;
    int ran = 0;
    std::vector<std::string> logged;
    ReportWorker worker;
    ASSERT_TRUE(worker.start([&](const std::uint8_t*, unsigned long) { gate.wait(); },
                             [&](const char* what, std::uint64_t) { logged.emplace_back(what); }));
    post(worker, 1);
    ASSERT_TRUE(eventually([&] { return gate.someone_waits(); }));
    // The first task fails: the worker goes on with the next.
    EXPECT_TRUE(worker.post_task([] { throw std::runtime_error("no answer"); }));
    for (std::size_t i = 1; i < ReportWorker::kMaxQueuedTasks; ++i)
        EXPECT_TRUE(worker.post_task([&] { ++ran; })) << i;
    EXPECT_FALSE(worker.post_task([&] { ++ran; }));
    gate.open();
    ASSERT_TRUE(eventually([&] { return ReportWorker::in_hand() == 0; }));
    EXPECT_EQ(ran, static_cast<int>(ReportWorker::kMaxQueuedTasks) - 1);
    EXPECT_EQ(logged.size(), 1u);

    // Tasks still waiting when the worker stops never run.
    Gate second;
    ASSERT_TRUE(worker.start([&](const std::uint8_t*, unsigned long) { second.wait(); }, nullptr));
    post(worker, 1);
    ASSERT_TRUE(eventually([&] { return second.someone_waits(); }));
    ran = 0;
    ASSERT_TRUE(worker.post_task([&] { ++ran; }));
    std::thread stopper([&] { worker.stop(); });
    ASSERT_TRUE(eventually([&] { return ReportWorker::in_hand() == 1; }));
    second.open();
    stopper.join();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(ReportWorker::in_hand(), 0u);
}

TEST(ReportWorkerTest, LongReportsAreCutToThePacketAndEmptyOnesIgnored)
{
    std::vector<unsigned long> lengths;
    std::mutex mutex;
    ReportWorker worker;
    ASSERT_TRUE(worker.start(
        [&](const std::uint8_t*, unsigned long len) {
            std::lock_guard<std::mutex> lock(mutex);
            lengths.push_back(len);
        },
        nullptr));
    const std::vector<std::uint8_t> big(ReportWorker::kMaxReportBytes + 10, 3);
    worker.post(big.data(), big.size());
    worker.post(big.data(), 0);
    worker.post(nullptr, 8);
    worker.stop();
    EXPECT_EQ(lengths, (std::vector<unsigned long>{ReportWorker::kMaxReportBytes}));
}

}  // namespace
