// The box's report worker: the USB completion only hands each interrupt
// report over; this thread takes them in order and runs the handler with no
// transport lock held, so that a handler (and the event callback it raises)
// may send reports and call back into the library. It also runs the box's
// own slow work that must wait for the box's answers (a memory read), which
// neither a completion nor the timer thread may do.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class ReportWorker {
public:
    // Ten seconds of the busiest box's reports; a handler stuck longer than
    // that loses the oldest ones, counted and logged.
    static constexpr std::size_t kMaxQueuedReports = 128;
    // The interrupt packet of a full-speed HID box.
    static constexpr std::size_t kMaxReportBytes = 64;
    // Tasks waiting; a box asks for few, so more are refused.
    static constexpr std::size_t kMaxQueuedTasks = 4;

    using Handler = std::function<void(const std::uint8_t* data, unsigned long len)>;
    using Task = std::function<void()>;
    // Logs a queue problem (the owner's log, level 1).
    using Log = std::function<void(const char* what, std::uint64_t count)>;

    ReportWorker() = default;
    ~ReportWorker();
    ReportWorker(const ReportWorker&) = delete;
    ReportWorker& operator=(const ReportWorker&) = delete;

    // Starts the thread; a worker that still runs is stopped first. False
    // when no thread could be started.
    bool start(Handler handler, Log log);
    // From the completion: queues a copy of the report and returns at once.
    // Refused after a stop; a full queue drops its oldest report.
    void post(const std::uint8_t* data, unsigned long len);
    // Runs the task on the worker, ahead of the reports still queued. False
    // when the worker is stopped or kMaxQueuedTasks wait already.
    bool post_task(Task task);
    // Handles the reports queued (tasks not yet begun are dropped), then
    // ends the thread and joins it. Called on
    // the worker itself (a handler closing its box) it only asks it to end;
    // the next start, stop or the destructor joins it.
    void stop();
    bool on_worker_thread() const { return worker_id_.load() == std::this_thread::get_id(); }
    // Reports dropped because the queue was full, since the last start.
    std::uint64_t dropped() const { return dropped_.load(); }
    // Reports and tasks posted to any worker of the process and not yet
    // handled, so that a caller can wait until every report it sent was
    // acted on.
    static std::size_t in_hand() { return in_hand_.load(); }

private:
    struct Report {
        std::array<std::uint8_t, kMaxReportBytes> bytes;
        unsigned long len;
    };

    void run();
    void join();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Report> queue_;     // mutex_
    std::deque<Task> tasks_;       // mutex_
    bool accepting_ = false;       // mutex_: posts are taken
    bool stop_requested_ = false;  // mutex_
    Handler handler_;              // set before the thread starts, then read by it only
    Log log_;                      // as handler_
    std::thread thread_;           // start and stop only; they never overlap a destructor
    std::mutex join_mutex_;        // one start or stop at a time
    std::atomic<std::thread::id> worker_id_{};
    std::atomic<std::uint64_t> dropped_{0};
    static inline std::atomic<std::size_t> in_hand_{0};
};
